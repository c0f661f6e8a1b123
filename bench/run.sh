#!/usr/bin/env bash
# Generates ROWS accounts (default 1,000,000) on SQLite and on a private
# PostgreSQL server, then runs the benchmarks on both. Then runs the ones
# of the daily work again on PostgreSQL over a slow link: through the
# latency proxy (bench/proxy), which delays each direction by half of
# TRELLANE_BENCH_LATENCY_MS (default 20 ms of round trip) and counts the
# round trips, printed beside the times. Prints one line per figure:
# name value unit backend ("postgres+20ms" over the slow link).
#   bash bench/run.sh [ROWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}
rows=${1:-1000000}
work=${TRELLANE_BENCH_DIR:-/tmp/trellane-bench}
latency=${TRELLANE_BENCH_LATENCY_MS:-20}
mkdir -p "$work"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
benches=("$build/bench/bench_engine")
benches+=("$build/bench/keystroke/bench_keystroke")
benches+=("$build/bench/requests/bench_requests")
benches+=("$build/bench/billing/bench_billing")
benches+=("$build/bench/record/bench_record")
benches+=("$build/bench/startup/bench_startup")

db="$work/customer-$rows.sqlite"
practice="$work/practice-$rows.sqlite"
if [ ! -f "$db" ]; then
  "$build/admin/trellane-admin" generate "$rows" --customer-sqlite "$db" --practice-sqlite "$practice" >&2
fi
# The practice tables the console's start-up requires.
[ -f "$practice" ] || "$build/admin/trellane-admin" create --customer-sqlite "$db" --practice-sqlite "$practice" >&2
for b in "${benches[@]}"; do
  TRELLANE_BENCH_BACKEND=sqlite TRELLANE_BENCH_CUSTOMER_DB="$db" TRELLANE_BENCH_PRACTICE_DB="$practice" \
    TRELLANE_BENCH_DIR="$work" TRELLANE_BENCH_REQUESTS_DIR="$work" "$b"
done

pgdir=$(mktemp -d /tmp/trellane-pg-bench.XXXXXX)
proxy=
cleanup() {
  [ -n "$proxy" ] && kill "$proxy" 2>/dev/null
  bash "$root/scripts/pg-test-server.sh" stop "$pgdir"
}
trap cleanup EXIT
eval "$(bash "$root/scripts/pg-test-server.sh" start "$pgdir")"
createdb bench_customer
createdb bench_practice
createdb bench_requests
createdb bench_report
createdb bench_billing_customer
createdb bench_billing_practice
createdb bench_record_customer
createdb bench_record_practice
"$build/admin/trellane-admin" generate "$rows" --pg-database bench_customer >&2
pgenv=(TRELLANE_BENCH_BACKEND=postgres PGDATABASE=bench_customer TRELLANE_BENCH_PRACTICE_PGDB=bench_practice
  TRELLANE_BENCH_REQUESTS_PGDB=bench_requests TRELLANE_BENCH_REPORT_PGDB=bench_report
  TRELLANE_BENCH_BILLING_DBS="bench_billing_customer bench_billing_practice"
  TRELLANE_BENCH_RECORD_DBS="bench_record_customer bench_record_practice")
for b in "${benches[@]}"; do
  env "${pgenv[@]}" "$b"
done

# The slow link: the same server behind the proxy, on a TCP port of the
# loopback that the system picks. Fewer keystrokes and accounts, for time.
"$build/bench/proxy/latency_proxy" --to "$PGHOST/.s.PGSQL.$PGPORT" --delay-ms $((latency / 2)) \
  --count-file "$pgdir/roundtrips" >"$pgdir/proxy.out" &
proxy=$!
for _ in $(seq 50); do grep -q '^port ' "$pgdir/proxy.out" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/^port /{print $2}' "$pgdir/proxy.out")
slow=("${build}/bench/keystroke/bench_keystroke" "${build}/bench/requests/bench_requests"
  "${build}/bench/billing/bench_billing" "${build}/bench/startup/bench_startup")
for b in "${slow[@]}"; do
  env "${pgenv[@]}" PGHOST=127.0.0.1 PGPORT="$port" TRELLANE_BENCH_ROUNDTRIP_FILE="$pgdir/roundtrips" \
    TRELLANE_BENCH_KEYSTROKES=200 TRELLANE_BENCH_ACCOUNTS=2000 TRELLANE_BENCH_BILLING_RUN_ONLY=1 "$b" |
    sed -E "s/ postgres\$/ postgres+${latency}ms/"
done
