#!/bin/sh
# The package installed under Wine as a user would, from a copy of the package alone in
# C:\zel_package, with package_state.exe checking the system's side of every step rather
# than zelinst's word.
#   package_wine.sh PREFIX STATE_EXE setup DIST FILE...
#                                                 a fresh prefix (wine_drivers.sh setup, FILE...
#                                                 in C:\zel_drivers) and DIST in C:\zel_package
#   package_wine.sh PREFIX STATE_EXE refused     a copy without zel_hidg.inf: install stops
#                                                 before changing anything, naming the file
#   package_wine.sh PREFIX STATE_EXE rollback    the drivers folder refuses zel_vmd.sys: install
#                                                 fails at that step and takes back the rest
#   package_wine.sh PREFIX STATE_EXE keyboard    the test's stand-in for the keyboard interface
#                                                 device that the service signals (zel_testkbd.sys
#                                                 from C:\zel_drivers, a legacy driver) is loaded
#   package_wine.sh PREFIX STATE_EXE install     zelinst install; without a joystick the
#                                                 service's check fails and it stops itself
#   package_wine.sh PREFIX STATE_EXE complete    zelinst install once the joystick is there:
#                                                 the service starts and runs
#   package_wine.sh PREFIX STATE_EXE installed   every part there; zelinst status agrees
#   package_wine.sh PREFIX STATE_EXE reinstall   zelinst install again changes nothing
#   package_wine.sh PREFIX STATE_EXE uninstall   zelinst uninstall leaves nothing behind
set -u
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
state_exe=$2
command=$3
wine_run="$here/../../../tools/wine-run.sh"
package="$prefix/drive_c/zel_package"
system32="$prefix/drive_c/windows/system32"
out=$(mktemp)
trap 'rm -f "$out" "$out.before" "$out.after"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# zelinst from the package folder DIR with COMMAND; its output in $out, its exit code in $rc.
zelinst() {
    sh "$wine_run" "$prefix" run "$1/zelinst.exe" "$2" >"$out" 2>&1
    rc=$?
    cat "$out"
}

state() {
    sh "$wine_run" "$prefix" run "$state_exe" "$@"
}

# The output names the step that failed, and install says what became of the run.
expect_failed_install() {
    [ "$rc" -eq 1 ] || fail "zelinst install exited with $rc, not 1"
    grep -q "^zelinst: .*$1.* failed: .*(error [0-9]*)" "$out" ||
        fail "no message naming $1 and the system error"
    grep -q "$2" "$out" || fail "install did not say: $2"
    state absent || fail "the failed install left parts behind"
}

case "$command" in
setup)
    shift 3
    dist=$1
    shift
    sh "$here/../wine_drivers/wine_drivers.sh" "$prefix" setup "$@" || exit 1
    cp -r "$dist" "$package" || fail "cannot copy $dist"
    ;;
refused)
    broken="$prefix/drive_c/zel_broken"
    rm -rf "$broken"
    cp -r "$package" "$broken"
    rm "$broken/zel_hidg.inf"
    zelinst "$broken" install
    expect_failed_install 'zel_hidg\.inf' "nothing was changed"
    rm -rf "$broken"
    ;;
rollback)
    # A folder where the driver file goes: the copy fails after the files, the driver store
    # entry and the virtual device are in place.
    mkdir "$system32/drivers/zel_vmd.sys"
    zelinst "$package" install
    rmdir "$system32/drivers/zel_vmd.sys"
    grep -q "^  undone " "$out" || fail "nothing was taken back"
    expect_failed_install 'zel_vmd\.sys' "the system is as it was before this run"
    ;;
keyboard)
    cp "$prefix/drive_c/zel_drivers/zel_testkbd.sys" "$system32/drivers/" || exit 1
    sh "$wine_run" "$prefix" run sc create zel_testkbd type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\zel_testkbd.sys' || fail "sc create"
    sh "$wine_run" "$prefix" run sc start zel_testkbd || fail "sc start"
    ;;
install)
    zelinst "$package" install
    [ "$rc" -eq 0 ] || fail "zelinst install exited with $rc"
    if [ -f "$package/zel_svc.exe" ]; then
        grep -q "^  stopped    service zelHidUserService stopped itself" "$out" ||
            fail "the service did not stop itself without a joystick"
    fi
    ;;
complete)
    zelinst "$package" install
    [ "$rc" -eq 0 ] || fail "zelinst install exited with $rc"
    grep -q "^  started    service zelHidUserService$" "$out" || fail "the service did not start"
    if grep -Ev "^  (checked|unchanged|started) |^zelinst" "$out"; then
        fail "more than the service's start changed (lines above)"
    fi
    ;;
installed)
    state installed 'C:\zel_package' || fail "the system does not hold every part"
    zelinst "$package" status
    [ "$rc" -eq 0 ] || fail "zelinst status exited with $rc"
    rows="zel_lng.dll +present +1\.0\.0\.1
zel_english.h +present
zel_german.h +present
zel_spanish.h +present
zel_french.h +present
zel_italian.h +present
driver zel_vmd +running +1\.0\.1\.0
device root\\\\zel_vmd +present
driver zel_hidg +running +2\.1\.1\.0
device GamePort\\\\VID_06A3&PID_3635 +present"
    if [ -f "$package/zel_svc.exe" ]; then
        rows="$rows
zel_svc.exe +present
zel_svc.dll +present
service zelHidUserService +running"
    fi
    printf "%s\n" "$rows" | while read -r row; do
        grep -Eq "^$row" "$out" || { echo "FAIL: no status row matching: $row"; exit 1; }
    done || exit 1
    ;;
reinstall)
    state list >"$out.before"
    zelinst "$package" install
    [ "$rc" -eq 0 ] || fail "the second zelinst install exited with $rc"
    if grep -Ev "^  (checked|unchanged) |^zelinst" "$out"; then
        fail "the second install did more than find every part in place (lines above)"
    fi
    state list >"$out.after"
    diff "$out.before" "$out.after" || fail "the second install changed the system"
    [ -s "$out.before" ] || fail "no part of the package found to compare"
    ;;
uninstall)
    # The joystick stays attached: when its driver cannot be unloaded at once, uninstall asks
    # for a restart (exit code 3010, which Wine cuts to 194); after it nothing may be left.
    zelinst "$package" uninstall
    if [ "$rc" -eq 194 ]; then
        grep -q "Windows deletes it at the next restart" "$out" ||
            fail "exit code 3010 without naming what waits for the restart"
        sh "$here/../wine_drivers/wine_drivers.sh" "$prefix" restart || fail "restart failed"
        zelinst "$package" uninstall
    fi
    [ "$rc" -eq 0 ] || fail "zelinst uninstall exited with $rc"
    state absent || fail "zelinst uninstall left parts behind"
    ;;
*)
    echo "usage: $0 PREFIX STATE_EXE setup DIST FILE...|refused|rollback|keyboard|install|complete|installed|reinstall|uninstall" >&2
    exit 2
    ;;
esac
