#!/bin/sh
# Installs zel_lng.dll and its language files in a Wine prefix as a setup would: the DLL and
# the "zel_" files in the system directory; the bare files in C:\zel_lng_test\files, the
# current directory of the checks; and an empty C:\zel_lng_test\empty beside it.
#   lng_wine_install.sh PREFIX DIR_OF_ZEL_LNG_DLL
set -eu
prefix=$1
from=$2
system32="$prefix/drive_c/windows/system32"
test_dir="$prefix/drive_c/zel_lng_test"
rm -rf "$test_dir"
mkdir -p "$test_dir/files" "$test_dir/empty"
cp "$from/zel_lng.dll" "$system32/"
for language in english german spanish french italian; do
    cp "$from/zel_$language.h" "$system32/"
    cp "$from/$language.h" "$test_dir/files/"
done
