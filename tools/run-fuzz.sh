#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz/ and runs one of them.
#   tools/run-fuzz.sh <name> [seconds]     e.g. tools/run-fuzz.sh jpeg 600
set -eu
name=$1
seconds=${2:-600}
if [ ! -f build-fuzz/build.ninja ]; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUIRELLE_FUZZ=ON -DQUIRELLE_BUILD_GUI=OFF -DQUIRELLE_BUILD_BENCH=OFF
fi
cmake --build build-fuzz --target "${name}_fuzz"
work=build-fuzz/corpus-$name
mkdir -p "$work"
seeds="fuzz/corpus/$name"
[ -d "$seeds" ] || seeds=""
exec build-fuzz/fuzz/"${name}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$work" $seeds
