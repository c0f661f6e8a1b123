#!/usr/bin/env bash
# Installs what is missing, builds, creates the embedded databases with demo
# data (once), prepares the demo release share and update server, and starts
# the console. The update server started here stops when the console ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target trellane-admin tallyhouse

"$build/admin/trellane-admin" demo
datadir=$("$build/admin/trellane-admin" datadir)
trap 'bash "$root/scripts/demo-release.sh" --stop "$datadir"' EXIT
trap 'exit 130' INT TERM HUP
bash "$root/scripts/demo-release.sh" "$datadir" "$build"

# A desktop session shows the window; without one, a virtual display does.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/shell/tallyhouse"
else
  xvfb-run -a "$build/shell/tallyhouse"
fi
