#!/bin/sh
# Builds and runs a libFuzzer target outside the CMake build.
#   fuzz/run.sh updatefile|versioninfo|sqltranslate SECONDS [SEED_FILE...]
# Needs clang-14 with libclang-rt-14-dev and Qt6Core (pkg-config).
# The binary and corpus live under /tmp/trellane-fuzz; crash inputs are
# written there as crash-* / timeout-* / leak-*. An input that made a target
# fail goes into fuzz/corpus/TARGET with the fix, so every run tries it again.
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

# Seeds: the target's inputs kept in fuzz/corpus/TARGET (valid inputs, and
# every input that once made the target fail), plus any given files.
if [ -d "$root/fuzz/corpus/$target" ]; then
    cp "$root/fuzz/corpus/$target"/* "$corpus/"
fi
for seed in "$@"; do
    cp "$seed" "$corpus/seed-$(basename "$seed")"
done

# A target's dictionary (fuzz/TARGET.dict) gives the fuzzer the words its
# input is made of.
dict=
[ -f "$root/fuzz/$target.dict" ] && dict=-dict=$root/fuzz/$target.dict

cd "$work"
exec "$work/fuzz_$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 $dict "$corpus"
