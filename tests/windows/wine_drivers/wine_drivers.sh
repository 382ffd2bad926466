#!/bin/sh
# The Wine prefix of the kernel driver tests.
#   wine_drivers.sh PREFIX setup FILE...   a fresh prefix with a persistent wineserver, and
#                                          FILE... (drivers, INFs) copied to C:\zel_drivers
#   wine_drivers.sh PREFIX log             fails when a driver called a kernel routine that
#                                          Wine lacks (the host process dies at that call)
#   wine_drivers.sh PREFIX restart         Windows restarted: every process of the session
#                                          ends, wineboot does the restart work (files to
#                                          delete at the restart) and a new session begins
#   wine_drivers.sh PREFIX stop            ends the wineserver and removes the prefix
# Wine runs drivers in winedevice.exe processes under services.exe. They must outlive each
# test program, so the wineserver stays up until stop; and they write to the output of the
# session's first program, which is the log beside the prefix.
set -u
here=$(dirname "$0")
run="$here/../../../tools/wine-run.sh"
prefix=$1
command=$2
shift 2
log="$prefix.log"

export WINEPREFIX="$prefix"
export WINEDEBUG="${ZEL_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

case "$command" in
setup)
    sh "$run" "$prefix" init || exit 1
    # ctest waits for every holder of the test's output: the server gets none.
    wineserver -p </dev/null >/dev/null 2>&1 || exit 1
    # The first program starts the session's services; they keep its output.
    wine cmd /c exit 0 </dev/null >"$log" 2>&1
    mkdir -p "$prefix/drive_c/zel_drivers"
    cp "$@" "$prefix/drive_c/zel_drivers/" || exit 1
    echo "driver prefix ready: $prefix (log $log)"
    ;;
restart)
    wineserver -k >/dev/null 2>&1
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1 || exit 1
    wineboot -r </dev/null >>"$log" 2>&1 || exit 1
    echo "session restarted"
    ;;
log)
    if grep -i "unimplemented" "$log"; then
        echo "a driver called a routine that Wine does not implement" >&2
        exit 1
    fi
    echo "no call to an unimplemented routine in $log"
    ;;
stop)
    sh "$run" "$prefix" stop
    if [ "${ZEL_KEEP_WINE_PREFIX:-0}" != 1 ]; then
        rm -f "$log"
    fi
    ;;
*)
    echo "usage: $0 PREFIX setup FILE...|restart|log|stop" >&2
    exit 2
    ;;
esac
