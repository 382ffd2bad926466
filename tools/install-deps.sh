#!/bin/sh
# Installs the Debian packages the build and the tests need, where missing.
set -e
packages="cmake ninja-build g++ make googletest libgtest-dev python3 python3-pefile
g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 clang-format
nlohmann-json3-dev clang libclang-rt-dev llvm"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing (run as root or install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing
