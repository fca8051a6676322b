#!/bin/sh
# Installs every Debian package the build, the simulator and the tests need.
# Safe to run again: it only installs what is missing.
set -eu

# One package a line; areas add theirs here.
PACKAGES="
cmake
make
g++
pkg-config
libfreetype-dev
libpng-dev
zlib1g-dev
googletest
libgtest-dev
libbenchmark-dev
busybox-static
dash
e2fsprogs
util-linux
mount
fonts-dejavu-core
crossbuild-essential-mipsel
qemu-user
qemu-user-static
qemu-system-mips
seabios
cpio
kmod
strace
valgrind
clang
libclang-rt-14-dev
"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    echo "install-deps: installing$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
