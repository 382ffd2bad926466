#!/bin/sh
# Installs the start-up service's files in a Wine prefix for its tests: zel_svc.exe with its
# joystick check zel_svc.dll in C:\zel_svc, the stand-in keyboard interface driver in the
# system's driver directory, and zel_lng.dll with its "zel_" language files in the system
# directory, as a setup would.
#   svc_wine_install.sh PREFIX ZEL_SVC_EXE ZEL_SVC_DLL ZEL_TESTKBD_SYS ZEL_LNG_DIR
set -eu
prefix=$1
system32="$prefix/drive_c/windows/system32"
mkdir -p "$prefix/drive_c/zel_svc" "$system32/drivers"
cp "$2" "$3" "$prefix/drive_c/zel_svc/"
cp "$4" "$system32/drivers/"
cp "$5/zel_lng.dll" "$system32/"
for language in english german spanish french italian; do
    cp "$5/zel_$language.h" "$system32/"
done
echo "zel_svc installed in $prefix"
