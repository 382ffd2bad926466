#!/bin/sh
# Runs Windows programs of the build under Wine, in one private prefix per test run.
#
#   wine-run.sh PREFIX init                  a fresh prefix (an old one is removed first)
#   wine-run.sh PREFIX run [-C DIR] PROGRAM [ARGS...]
#                                            runs PROGRAM (a Linux path to an .exe, or a name
#                                            Wine finds) with DIR as its current directory;
#                                            prints its output with the CR of every CR LF
#                                            removed and exits with its exit code
#   wine-run.sh PREFIX system32              prints the Linux path of C:\windows\system32
#   wine-run.sh PREFIX stop                  ends the prefix's wineserver and removes the
#                                            prefix (kept when ZEL_KEEP_WINE_PREFIX=1)
#
# The Windows tests reach it through the CTest fixture "wine" (tests/windows/CMakeLists.txt):
# init runs once before the first test that needs Wine and stop after the last, so a cold
# prefix (about 10 s, 700 MB) is built once per ctest run and shared by its tests.
# It works as root and with no display: DISPLAY is unset, Mono and Gecko are never asked
# for, and the debug channels are off (set ZEL_WINEDEBUG, e.g. to +loaddll, to see some).
# A program's user language follows LC_ALL (de_DE.UTF-8 gives 0x0407, en_US.UTF-8 0x0409).
# Output goes through a file, never a pipe: a program that leaves a process behind in the
# wineserver would otherwise hold the pipe open.
set -u

if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX init|run|system32|stop ..." >&2
    exit 2
fi
prefix=$1
case "$prefix" in
/*) ;;
*) prefix="$(pwd)/$prefix" ;; # Wine wants an absolute path
esac
command=$2
shift 2

export WINEPREFIX="$prefix"
export WINEDEBUG="${ZEL_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY

case "$command" in
init)
    if [ -d "$prefix" ]; then
        wineserver -k >/dev/null 2>&1
        rm -rf "$prefix"
    fi
    mkdir -p "$(dirname "$prefix")"
    log="$(dirname "$prefix")/wineboot.log"
    if ! wineboot -i </dev/null >"$log" 2>&1; then
        cat "$log"
        echo "wineboot failed for $prefix" >&2
        exit 1
    fi
    wineserver -w
    if [ ! -d "$prefix/drive_c/windows/system32" ]; then
        cat "$log"
        echo "no system directory in $prefix" >&2
        exit 1
    fi
    echo "Wine prefix ready: $prefix"
    ;;
run)
    dir=.
    if [ "${1:-}" = "-C" ]; then
        dir=$2
        shift 2
    fi
    out=$(mktemp)
    (cd "$dir" && exec wine "$@" </dev/null >"$out" 2>&1)
    rc=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    exit $rc
    ;;
system32)
    echo "$prefix/drive_c/windows/system32"
    ;;
stop)
    wineserver -k >/dev/null 2>&1
    if [ "${ZEL_KEEP_WINE_PREFIX:-0}" != 1 ]; then
        rm -rf "$prefix"
    fi
    ;;
*)
    echo "unknown command: $command" >&2
    exit 2
    ;;
esac
