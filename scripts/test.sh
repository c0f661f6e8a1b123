#!/usr/bin/env bash
# Installs what is missing, builds, starts a private PostgreSQL server on a
# Unix socket, and runs every test on SQLite and PostgreSQL. The last line of
# the output is CTest's summary line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELLANE_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

pgdir=$(mktemp -d /tmp/trellane-pg.XXXXXX)
trap 'bash "$root/scripts/pg-test-server.sh" stop "$pgdir"' EXIT
eval "$(bash "$root/scripts/pg-test-server.sh" start "$pgdir")"

log=$(mktemp)
status=0
(cd "$build" && ctest --output-on-failure -j2) 2>&1 | tee "$log" || status=$?
summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n1 || true)
rm -f "$log"
bash "$root/scripts/pg-test-server.sh" stop "$pgdir"
trap - EXIT
echo "${summary:-No tests were run.}"
exit "$status"
