#!/bin/sh
# Runs every benchmark of a build folder (default build/) and prints the figures.
set -eu
build=${1:-build}
for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    case "$b" in
        *_large_*) "$b" ;;
        *) "$b" --benchmark_min_time=0.5 ;;
    esac
done
