#!/usr/bin/env bash
# Saves a PNG picture of every tab of the demo console into OUT_DIR: builds
# the console and the picture taker, creates the demo databases and the demo
# release share and update server, then starts the console without a display.
# Usage: screenshots.sh OUT_DIR [WIDTHxHEIGHT]
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUT_DIR [WIDTHxHEIGHT]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}
out=$(realpath -m "$1")

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target trellane-admin tallyhouse trellane-screenshots

"$build/admin/trellane-admin" demo
datadir=$("$build/admin/trellane-admin" datadir)
trap 'bash "$root/scripts/demo-release.sh" --stop "$datadir"' EXIT
bash "$root/scripts/demo-release.sh" "$datadir" "$build"

QT_QPA_PLATFORM=offscreen "$build/shell/trellane-screenshots" "$out" ${2:+"$2"}
