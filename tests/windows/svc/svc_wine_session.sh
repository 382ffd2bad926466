#!/bin/sh
# Runs a case of the service's Wine check in a fresh Wine session whose user language is
# LOCALE. A service takes the locale of the session's first program, so the prefix's session
# is ended first and the check program starts the next one with LC_ALL set; the drivers come
# back with it. A persistent server is left running again for the prefix's other tests.
#   svc_wine_session.sh PREFIX LOCALE CHECK_PROGRAM CASE ARGS...
set -u
here=$(dirname "$0")
run="$here/../../../tools/wine-run.sh"
prefix=$1
locale=$2
shift 2
export WINEPREFIX="$prefix"
wineserver -k >/dev/null 2>&1
LC_ALL=$locale sh "$run" "$prefix" run "$@"
rc=$?
wineserver -k >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
exit $rc
