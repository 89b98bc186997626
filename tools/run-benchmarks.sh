#!/bin/sh
# Runs the benchmarks of a build folder (default build/) and prints their figures: every Google
# Benchmark program, then the single-job programs with the scenarios the project tracks.
set -u
build=${1:-build}
b=$build/bench
status=0
run() {
    echo "== $*"
    "$@" || status=1
}
for prog in "$b"/bench_*; do
    [ -x "$prog" ] || continue
    if "$prog" --help 2>&1 | grep -q benchmark_filter; then
        run "$prog" --benchmark_min_time=0.5
    fi
done
# Image buffer: a 1.2 GB image through the temporary file.
[ -x "$b/bench_bitmap_large_fill" ] && run "$b/bench_bitmap_large_fill"
# Fax coding beside libtiff.
[ -x "$b/bench_fax_libtiff" ] && run "$b/bench_fax_libtiff"
# Whole documents: memory must not grow with the number of pages.
if [ -x "$b/bench_documents" ]; then
    run "$b/bench_documents" pdf 50 bilevel 2
    run "$b/bench_documents" pdf 500 bilevel 2
    run "$b/bench_documents" ps 500 bilevel 1
    run "$b/bench_documents" pdf 10 colour 5
    run "$b/bench_documents" pdf 100 colour 5
    run "$b/bench_documents" pdf 100 colour 4
    run "$b/bench_documents" ps 100 colour 3
fi
[ -x "$b/bench_pdf_large_document" ] && run "$b/bench_pdf_large_document"
# The command line beside img2pdf and libtiff's tools.
[ -x bench/cli_bench.sh ] && run bench/cli_bench.sh "$build"
exit $status
