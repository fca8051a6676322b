#!/bin/sh
# Makes the pictures of the documentation: docs/menu.png is the boot menu's
# first screen in the example boot (the real bootinit running the real menu
# in the box simulator). Needs root, like the simulator.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
BUILD=${BUILD:-build}
screens=$(mktemp -d /tmp/make-docs.XXXXXX)
trap 'rm -rf "$screens"' EXIT
"$BUILD/sim/sandbox/boxsim" boot --example --keys ok --screens "$screens/frames" >/dev/null
mkdir -p docs
cp "$screens/frames/0001.png" docs/menu.png
echo "docs/menu.png: the menu's first screen in the example boot"
