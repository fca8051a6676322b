#!/bin/sh
# The opkg package of the box programs: builds them for mipsel, installs them
# stripped into a staging folder (the plug-in's contrib/ folder) and packs an
# .ipk, an ar archive of debian-binary, control.tar.gz and data.tar.gz.
#
#   scripts/package-ipk.sh [OUTDIR]      (default: out; prints the package's path)
#
# BUILD_MIPSEL names the box build (default build-mipsel). With
# QUILLON_IPK_PREBUILT=1 that build is packed as it stands, not built first.
#
# The package has no maintainer scripts: installing it puts bootinit beside
# the menu and changes nothing else. Making it the box's init is a step of
# its own.
set -eu
cd "$(dirname "$0")/.."
OUT=${1:-out}
BUILD_MIPSEL=${BUILD_MIPSEL:-build-mipsel}
export BUILD_MIPSEL
if [ "${QUILLON_IPK_PREBUILT:-0}" != 1 ]; then
    sh scripts/build-mipsel.sh >/dev/null
fi

NAME=quillon-boot
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_MIPSEL/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "package-ipk: no project version in $BUILD_MIPSEL" >&2; exit 1; }

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/package-ipk.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/data" "$work/control"
DESTDIR="$work/data" cmake --install "$BUILD_MIPSEL" --strip >/dev/null
find "$work/data" -type d -exec chmod 0755 {} +
find "$work/data" -type f -exec chmod 0755 {} +

cat > "$work/control/control" <<CONTROL
Package: $NAME
Version: $VERSION
Architecture: mipsel
Depends: libfreetype6, libpng16-16
Section: extra
Priority: optional
Description: Quillon multiboot: boot selector and boot menu
 bootinit, the boot selector that runs as process 1 and starts the chosen
 image's init, and quisel, the framebuffer boot menu, installed in the
 plug-in's contrib folder. Installing does not make bootinit the box's init.
CONTROL
chmod 0644 "$work/control/control"
printf '2.0\n' > "$work/debian-binary"

pack() {
    tar --format=gnu --owner=0 --group=0 --numeric-owner --sort=name -C "$1" -cf - . | gzip -9n > "$2"
}
pack "$work/control" "$work/control.tar.gz"
pack "$work/data" "$work/data.tar.gz"
ipk="$OUT/${NAME}_${VERSION}_mipsel.ipk"
rm -f "$ipk"
(cd "$work" && ar rc "$ipk" debian-binary control.tar.gz data.tar.gz)
echo "$ipk"
