#!/usr/bin/env bash
# Generates ROWS accounts (default 1,000,000) on SQLite and on a private
# PostgreSQL server, then runs the benchmarks on both. Prints one line per
# figure: name value unit backend.
#   bash bench/run.sh [ROWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TRELLANE_BUILD_DIR:-$root/build}
rows=${1:-1000000}
work=${TRELLANE_BENCH_DIR:-/tmp/trellane-bench}
mkdir -p "$work"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
benches=("$build/bench/bench_engine")
benches+=("$build/bench/keystroke/bench_keystroke")
benches+=("$build/bench/requests/bench_requests")
benches+=("$build/bench/billing/bench_billing")
benches+=("$build/bench/record/bench_record")

db="$work/customer-$rows.sqlite"
if [ ! -f "$db" ]; then
  "$build/admin/trellane-admin" generate "$rows" --customer-sqlite "$db" --practice-sqlite "$work/practice-$rows.sqlite" >&2
fi
for b in "${benches[@]}"; do
  TRELLANE_BENCH_BACKEND=sqlite TRELLANE_BENCH_CUSTOMER_DB="$db" TRELLANE_BENCH_DIR="$work" TRELLANE_BENCH_REQUESTS_DIR="$work" "$b"
done

pgdir=$(mktemp -d /tmp/trellane-pg-bench.XXXXXX)
trap 'bash "$root/scripts/pg-test-server.sh" stop "$pgdir"' EXIT
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
for b in "${benches[@]}"; do
  TRELLANE_BENCH_BACKEND=postgres PGDATABASE=bench_customer \
    TRELLANE_BENCH_REQUESTS_PGDB=bench_requests TRELLANE_BENCH_REPORT_PGDB=bench_report \
    TRELLANE_BENCH_BILLING_DBS="bench_billing_customer bench_billing_practice" \
    TRELLANE_BENCH_RECORD_DBS="bench_record_customer bench_record_practice" "$b"
done

