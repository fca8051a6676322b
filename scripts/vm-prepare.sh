#!/bin/sh
# Fetches and builds what the emulated-box test needs, into a project-local
# folder (default out/vm): Debian's Malta kernel for mipsel with its modules
# and headers, the amd64 kbuild tools the headers need, a static mipsel
# busybox, the remote-control stand-in module built against that kernel, and
# the box (mipsel) build of bootinit and quisel.
# Nothing here is committed; run it again after a kernel update in Debian.
#
#   scripts/vm-prepare.sh [FOLDER]     (the box build goes to $BUILD_MIPSEL,
#                                       default build-mipsel)
#
# Writes FOLDER/vm.env with the paths the test reads (QUILLON_VM_*).
set -eu
cd "$(dirname "$0")/.."
SRC=$(pwd)
OUT=${1:-out/vm}
mkdir -p "$OUT/debs"
OUT=$(cd "$OUT" && pwd)

if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    apt-get update -qq
fi

# The package a meta package stands for today (Debian replaces the
# versioned kernel packages from time to time).
depends_of() {
    apt-cache depends "$1" 2>/dev/null | sed -n 's/^ *Depends: //p' | sed 's/:mipsel$//' | grep -v '^<' | head -n 1
}

download() {
    (
        cd "$OUT/debs"
        ls "$(echo "$1" | sed 's/:.*//')"_*.deb > /dev/null 2>&1 || apt-get download -qq "$1" ||
            { apt-get update -qq && apt-get download -qq "$1"; }
    )
}

image_pkg=$(depends_of linux-image-4kc-malta:mipsel)
headers_pkg=$(depends_of linux-headers-4kc-malta:mipsel)
[ -n "$image_pkg" ] && [ -n "$headers_pkg" ] || {
    echo "vm-prepare: cannot resolve the Malta kernel packages (apt-get update?)" >&2
    exit 1
}
# Names of the headers' dependencies, with or without their <virtual> form.
common_pkg=$(apt-cache depends "$headers_pkg:mipsel" | grep -o 'linux-headers-[^ :>]*-common' | head -n 1)
kbuild_pkg=$(apt-cache depends "$headers_pkg:mipsel" | grep -o 'linux-kbuild-[^ :>]*' | head -n 1)
[ -n "$common_pkg" ] && [ -n "$kbuild_pkg" ] || {
    echo "vm-prepare: cannot resolve the dependencies of $headers_pkg" >&2
    exit 1
}

if [ ! -f "$OUT/.unpacked-$image_pkg" ]; then
    rm -rf "$OUT/kernel" "$OUT/busybox"
    download "$image_pkg:mipsel"
    download "$headers_pkg:mipsel"
    download "$common_pkg"
    download "$kbuild_pkg:amd64"
    download "busybox-static:mipsel"
    mkdir -p "$OUT/kernel" "$OUT/busybox"
    for p in "$image_pkg" "$headers_pkg" "$common_pkg" "$kbuild_pkg"; do
        dpkg -x "$OUT/debs/$(cd "$OUT/debs" && ls "${p}"_*.deb | head -n 1)" "$OUT/kernel"
    done
    dpkg -x "$OUT/debs/$(cd "$OUT/debs" && ls busybox-static_*_mipsel.deb | head -n 1)" "$OUT/busybox"
    touch "$OUT/.unpacked-$image_pkg"
fi

release=$(ls "$OUT/kernel/lib/modules" | head -n 1)
vmlinux=$(ls "$OUT/kernel/boot/vmlinux-$release" 2>/dev/null || ls "$OUT/kernel/boot/"vmlinu* | head -n 1)
headers="$OUT/kernel/usr/src/linux-headers-$release"
[ -d "$headers" ] || { echo "vm-prepare: no headers for $release" >&2; exit 1; }

# The headers' links point at /usr/src and /usr/lib/linux-kbuild-*: make
# them point into the folder.
find "$OUT/kernel/usr/src" "$OUT/kernel/usr/lib" -maxdepth 3 -type l 2>/dev/null | while read -r link; do
    target=$(readlink "$link")
    case "$target" in
    /*) ln -sfn "$OUT/kernel$target" "$link" ;;
    esac
done

# Module dependencies of the whole kernel, from which the test takes the
# modules the box needs.
depmod -b "$OUT/kernel" "$release"

# The headers' Makefile includes the common one by its installed path.
sed -i "s|^include /usr/src/|include $OUT/kernel/usr/src/|" "$headers/Makefile"

# The remote-control stand-in module.
build="$OUT/module"
rm -rf "$build"
mkdir -p "$build"
cp "$SRC/sim/vm/dreambox_keyboard.c" "$SRC/sim/vm/Kbuild" "$build/"
make -s -C "$headers" M="$build" ARCH=mips CROSS_COMPILE=mipsel-linux-gnu- modules > "$build/make.log" 2>&1 || {
    cat "$build/make.log" >&2
    echo "vm-prepare: the remote-control module did not build" >&2
    exit 1
}

# The box build of the two programs (the same folder as scripts/test.sh's).
BUILD_MIPSEL=${BUILD_MIPSEL:-build-mipsel}
export BUILD_MIPSEL
sh scripts/build-mipsel.sh > "$OUT/build-mipsel.log" 2>&1 || {
    cat "$OUT/build-mipsel.log" >&2
    echo "vm-prepare: the mipsel build failed" >&2
    exit 1
}
mipsel=$(cd "$BUILD_MIPSEL" && pwd)
sysroot=$(cd out/mipsel-sysroot && pwd)

cat > "$OUT/vm.env" <<ENV
QUILLON_VM_RELEASE=$release
QUILLON_VM_KERNEL=$vmlinux
QUILLON_VM_MODULES=$OUT/kernel/lib/modules/$release
QUILLON_VM_REMOTE_MODULE=$build/dreambox_keyboard.ko
QUILLON_VM_BUSYBOX=$OUT/busybox/bin/busybox
QUILLON_VM_BOOTINIT=$mipsel/bootinit/bootinit
QUILLON_VM_QUISEL=$mipsel/menu/quisel
QUILLON_VM_LIBDIRS=/usr/mipsel-linux-gnu/lib:$sysroot/usr/lib/mipsel-linux-gnu:$sysroot/lib/mipsel-linux-gnu
ENV
echo "vm-prepare: kernel $release in $OUT"
