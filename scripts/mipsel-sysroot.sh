#!/bin/sh
# Assembles the libraries the box build links against (FreeType, libpng, zlib
# and their own dependencies, for mipsel) into a project-local folder.
#
# Multiarch installation of these packages fails on Debian 12 because the
# mipsel archive lags the amd64 one by a security release, so each package is
# downloaded and unpacked instead.
#
#   scripts/mipsel-sysroot.sh [FOLDER]     (default: out/mipsel-sysroot)
set -eu
cd "$(dirname "$0")/.."
ROOT=${1:-out/mipsel-sysroot}
PKGS="libfreetype6 libfreetype-dev libpng16-16 libpng-dev zlib1g zlib1g-dev libbrotli1 libbrotli-dev"

if [ -f "$ROOT/.complete" ]; then
    exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    apt-get update -qq
fi
mkdir -p "$ROOT/.debs"
ROOT=$(cd "$ROOT" && pwd)
(
    cd "$ROOT/.debs"
    for p in $PKGS; do
        ls "${p}"_*_mipsel.deb > /dev/null 2>&1 || apt-get download -qq "$p:mipsel" ||
            { apt-get update -qq && apt-get download -qq "$p:mipsel"; }
    done
    for d in *.deb; do
        dpkg -x "$d" "$ROOT"
    done
)
# Links that point at absolute paths (libz.so -> /lib/...) are made to point
# into the folder instead.
find "$ROOT" -type l | while read -r link; do
    target=$(readlink "$link")
    case "$target" in
    /*) ln -sfn "$ROOT$target" "$link" ;;
    esac
done
touch "$ROOT/.complete"
echo "mipsel-sysroot: $ROOT"
