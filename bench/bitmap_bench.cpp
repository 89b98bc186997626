// Row access speed of the image buffer: rows per second in memory and in the temporary file.
#include <benchmark/benchmark.h>

#include <cstring>

#include "image/ieutils.h"

namespace {

using namespace quirelle;

void BM_RowAddressInMemory(benchmark::State& state) {
    TIEBitmap b(2480, ie24RGB, 3508);
    int32_t y = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.RowAddress(y));
        if (++y == b.Height()) y = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RowAddressInMemory);

// Reading and writing back one A4 300-dpi colour row per call (7440 bytes).
void BM_RowAddressTempFile(benchmark::State& state) {
    TIEBitmap b;
    b.MemoryThreshold = 0;
    b.Allocate(2480, 3508, ie24RGB);
    int32_t y = 0;
    for (auto _ : state) {
        uint8_t* row = b.RowAddress(y);
        row[0] = static_cast<uint8_t>(y);
        benchmark::DoNotOptimize(row);
        if (++y == b.Height()) y = 0;
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(b.Location() == ieTempFile ? "temporary file" : "memory (no file)");
}
BENCHMARK(BM_RowAddressTempFile);

void BM_FillInMemory(benchmark::State& state) {
    TIEBitmap b(2480, ie24RGB, 3508);
    for (auto _ : state) b.Fill(0x336699);
    state.SetBytesProcessed(state.iterations() * int64_t{b.RowLength()} * b.Height());
}
BENCHMARK(BM_FillInMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
