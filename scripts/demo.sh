#!/bin/sh
# The main job: installs what is missing, builds, and boots the real bootinit
# as PID 1 in the box simulator on a built-in example store, printing the
# recorded boot. Arguments go to "boxsim boot --example" (--keys LIST such as
# down,down,ok, --screens DIR, --select NAME, --args ARG). Needs root (mount
# and PID namespaces, loop devices).
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
BUILD=${BUILD:-build}
exec "$BUILD/sim/sandbox/boxsim" boot --example "$@"
