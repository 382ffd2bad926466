#!/bin/sh
# Runs the kernel contract cases in Wine's kernel, in the driver tests' prefix:
#   contract_wine.sh PREFIX DRIVER.sys CHECK.exe
# installs the driver as a legacy kernel service with the registry value its
# registry case reads, starts it, runs the check program and stops the service.
set -u
here=$(dirname "$0")
run="$here/../../tools/wine-run.sh"
prefix=$1
driver=$2
check=$3
key='HKLM\System\CurrentControlSet\Services\zel_contract'

cp "$driver" "$prefix/drive_c/windows/system32/drivers/zel_contract.sys" || exit 1
sh "$run" "$prefix" run sc create zel_contract type= kernel start= demand \
    binPath= 'C:\windows\system32\drivers\zel_contract.sys' || exit 1
sh "$run" "$prefix" run reg add "$key\\Parameters" /v Calibration /t REG_BINARY \
    /d 0102030405060708090A0B0C0D0E0F10 /f || exit 1
sh "$run" "$prefix" run sc start zel_contract || exit 1
sh "$run" "$prefix" run "$check"
rc=$?
sh "$run" "$prefix" run sc stop zel_contract >/dev/null
sh "$run" "$prefix" run sc delete zel_contract >/dev/null
exit $rc
