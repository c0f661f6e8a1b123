#!/usr/bin/env bash
# Installs what is missing, builds, starts a private PostgreSQL server on a
# Unix socket, and runs every test on SQLite and PostgreSQL; then makes the
# Debian package from the same build and checks it (scripts/check-package.sh)
# and, with --install-test (CI, as root), installs, starts and removes it
# (scripts/install-test.sh). A failed test or check ends with a non-zero
# status. The last line of the output is CTest's summary line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}
install_test=false
case "${1:-}" in
--install-test) install_test=true ;;
"") ;;
*) echo "usage: $0 [--install-test]" >&2; exit 2 ;;
esac

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

# The package, from the build the tests ran in.
start=$SECONDS
if cmake --build "$build" --target package; then
  deb=$(ls -t "$build"/tallyhouse_*.deb | head -n1)
  bash "$root/scripts/check-package.sh" "$deb" || status=1
  if $install_test; then
    bash "$root/scripts/install-test.sh" "$deb" || status=1
  fi
else
  echo "The package could not be made." >&2
  status=1
fi
echo "Package step: $((SECONDS - start)) s"

echo "${summary:-No tests were run.}"
exit "$status"
