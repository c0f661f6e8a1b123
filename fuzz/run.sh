#!/bin/sh
# Builds and runs a libFuzzer target outside the CMake build.
#   fuzz/run.sh updatefile|versioninfo|sqltranslate SECONDS [SEED_FILE...]
# Needs clang-14 with libclang-rt-14-dev and Qt6Core (pkg-config).
# The binary and corpus live under /tmp/trellane-fuzz; crash inputs are
# written there as crash-* / timeout-* / leak-*.
set -eu

target=${1:?usage: fuzz/run.sh updatefile|versioninfo|sqltranslate SECONDS [SEED_FILE...]}
seconds=${2:?seconds to run}
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
work=/tmp/trellane-fuzz
corpus=$work/corpus-$target
mkdir -p "$work" "$corpus"

case $target in
updatefile) sources="$root/00HelperFiles/UpdateFile.cpp $root/fuzz/fuzz_updatefile.cpp" ;;
versioninfo) sources="$root/helpers/VersionInfo.cpp $root/fuzz/fuzz_versioninfo.cpp" ;;
sqltranslate) sources="$root/customerdb/SqlDialect.cpp $root/customerdb/FieldValues.cpp $root/customerdb/EngineError.cpp $root/fuzz/fuzz_sqltranslate.cpp"
    qtmodules="Qt6Core Qt6Sql" ;;
*) echo "unknown target: $target" >&2; exit 2 ;;
esac

clang++-14 -std=c++20 -g -O1 -fPIC -Wall -Wextra -Werror \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" $(pkg-config --cflags ${qtmodules:-Qt6Core}) \
    $sources $(pkg-config --libs ${qtmodules:-Qt6Core}) -o "$work/fuzz_$target"

# Seeds: a valid update list in each line-end style, plus any given files.
if [ "$target" = updatefile ] && [ -z "$(ls -A "$corpus")" ]; then
    printf 'FILE;TRELEDI.EXE;x;2;3;0;47;0;z\r\nFILE;B.EXE;;1;1;1;1;1;;t\r\n' > "$corpus/seed-crlf"
    printf 'FILE;A;c;-1;+2; 3;4a;2147483648;z\nfile;B;c;1;2;3;4;5;z' > "$corpus/seed-lf"
    printf 'FILE;A;c;1;2;3;4;5;z\rFILE;A;c;1;2;3;4;5\r' > "$corpus/seed-cr"
fi
# Seeds: stored query text with dates, literals, quoted names and orders.
if [ "$target" = sqltranslate ] && [ -z "$(ls -A "$corpus")" ]; then
    printf "Select \"Chart Number\", 'It''s' From T Where D > CurDate() - 30\nOrder By Name\tDesc, Id;" > "$corpus/seed-order"
    printf "Select * From (Select A From T Order By A) q Where B = 'CurDate()' Order By B Limit 5" > "$corpus/seed-sub"
fi
for seed in "$@"; do
    cp "$seed" "$corpus/seed-$(basename "$seed")"
done

cd "$work"
exec "$work/fuzz_$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 "$corpus"
