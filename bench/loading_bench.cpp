// Content detection on data no probe accepts (every step runs) and the resolution adjustment's
// two resamplers on a page-sized image.
#include <benchmark/benchmark.h>

#include <vector>

#include "image/iebitmap.h"
#include "image/ieresample.h"
#include "io/ieformats.h"
#include "platform/iestreams.h"

namespace quirelle {
namespace {

void BM_DetectUnknownData(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    uint32_t seed = 12345;
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(0x80 | (seed >> 24));  // no letters or digits: the PNM probe scans
    }
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    for (auto _ : state) benchmark::DoNotOptimize(DetectStreamFormat(stream));
}
BENCHMARK(BM_DetectUnknownData)->Arg(4096)->Arg(1 << 20);

void MakeImage(TIEBitmap& b, int32_t w, int32_t h, TIEPixelFormat format) {
    b.Allocate(w, h, format);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = b.RowAddress(y);
        for (int32_t i = 0; i < b.RowLength(); ++i) row[i] = static_cast<uint8_t>(i * 3 + y);
    }
}

// A 200 x 100 dpi scan of A4 width made square: 1700 x 1100 to 1700 x 2200.
void BM_ResampleFiltered(benchmark::State& state) {
    TIEBitmap source;
    MakeImage(source, 1700, 1100, ie24RGB);
    for (auto _ : state) {
        TIEBitmap target;
        IEResampleFiltered(source, target, 1700, 2200);
        benchmark::DoNotOptimize(target.RowAddress(0));
    }
    state.SetItemsProcessed(state.iterations() * 1700 * 2200);
}
BENCHMARK(BM_ResampleFiltered)->Unit(benchmark::kMillisecond);

void BM_ResampleNearest(benchmark::State& state) {
    TIEBitmap source;
    MakeImage(source, 1700, 1100, static_cast<TIEPixelFormat>(state.range(0)));
    for (auto _ : state) {
        TIEBitmap target;
        IEResampleNearest(source, target, 1700, 2200);
        benchmark::DoNotOptimize(target.RowAddress(0));
    }
    state.SetItemsProcessed(state.iterations() * 1700 * 2200);
}
BENCHMARK(BM_ResampleNearest)->Arg(ie1g)->Arg(ie24RGB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quirelle

BENCHMARK_MAIN();
