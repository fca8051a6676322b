#!/bin/sh
# The emulated-box test by hand: prepares the kit (scripts/vm-prepare.sh),
# builds the test and boots the scenarios (all, or those a GoogleTest filter
# names: keys, timeout, deleted), keeping each machine's folder: its flash
# (flash.cpio), store disk (store.img), serial log, qemu command line
# (qemu.cmd) and the menu's screenshot (menu.png). The screenshots also go
# to $SHOTS (default out/vm/shots); --docs copies the keys scenario's one to
# docs/menu-vm.png. Needs root (loop mounts, device nodes in the flash).
#
#   scripts/vm-test.sh [--docs] [FILTER]      e.g. scripts/vm-test.sh '*keys*'
set -eu
cd "$(dirname "$0")/.."
docs=0
if [ "${1:-}" = --docs ]; then
    docs=1
    shift
fi
filter=${1:-*}
sh scripts/install-deps.sh
sh scripts/vm-prepare.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target vm_test > /dev/null
SHOTS=${SHOTS:-out/vm/shots}
mkdir -p "$SHOTS"
QUILLON_VM_KEEP=1 QUILLON_VM_SHOTS=$(cd "$SHOTS" && pwd) "$BUILD/tests/vm/vm_test" --gtest_filter="Emulated/VmBoot.*/$filter"
if [ "$docs" = 1 ]; then
    cp "$SHOTS/keys.png" docs/menu-vm.png
    echo "docs/menu-vm.png: the menu on the emulated box"
fi
