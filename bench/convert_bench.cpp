// Pixel-format conversion speed on an A4 page at 300 dpi (2480 x 3508, 8.7 million pixels), in
// megapixels per second, beside plain row copies of the same images for comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "image/ieutils.h"

namespace {

using namespace quirelle;

constexpr int32_t kWidth = 2480, kHeight = 3508;

// A scan-like colour page: smooth gradients with a little noise (millions of distinct colours).
TIEBitmap& Page24() {
    static const std::unique_ptr<TIEBitmap> page = [] {
        auto page = std::make_unique<TIEBitmap>(kWidth, ie24RGB, kHeight);
        TIEBitmap& b = *page;
        std::mt19937 random(1);
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = b.RowAddress(y);
            for (int32_t x = 0; x < kWidth; ++x) {
                const int noise = static_cast<int>(random() % 9) - 4;
                row[3 * x] = static_cast<uint8_t>(std::clamp(x * 255 / kWidth + noise, 0, 255));
                row[3 * x + 1] = static_cast<uint8_t>(std::clamp(y * 255 / kHeight - noise, 0, 255));
                row[3 * x + 2] = static_cast<uint8_t>(std::clamp(((x / 40 + y / 40) % 2) * 120 + 60 + noise, 0, 255));
            }
        }
        return page;
    }();
    return *page;
}

std::unique_ptr<TIEBitmap> PageIn(TIEPixelFormat format) {
    auto b = std::make_unique<TIEBitmap>(Page24());
    b->ConvertFormat(format);
    return b;
}

void Report(benchmark::State& state) {
    const double pixels = static_cast<double>(state.iterations()) * kWidth * kHeight;
    state.counters["Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

// Row-by-row memcpy between two buffers of one format: the yardstick for byte conversions.
void PlainCopy(benchmark::State& state, TIEPixelFormat format) {
    auto source = PageIn(format);
    TIEBitmap target(kWidth, format, kHeight);
    const auto length = static_cast<size_t>(source->RowLength());
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; ++y) std::memcpy(target.RowAddress(y), source->RowAddress(y), length);
        benchmark::ClobberMemory();
    }
    Report(state);
}

void Convert(benchmark::State& state, TIEPixelFormat from, TIEPixelFormat to, uint8_t method = 1) {
    auto source = PageIn(from);
    TIEBitmap target(kWidth, to, kHeight);
    target.BilevelMethod = method;
    for (auto _ : state) {
        target.ConvertedCopyFrom(*source);
        benchmark::ClobberMemory();
    }
    Report(state);
}

BENCHMARK_CAPTURE(PlainCopy, copy_ie8g, ie8g)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainCopy, copy_ie24RGB, ie24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainCopy, copy_ie32RGBX, ie32RGBX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ie1g_threshold, ie24RGB, ie1g, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ie1g_dither, ie24RGB, ie1g, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie8p_to_ie24RGB, ie8p, ie24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ie8g, ie24RGB, ie8g)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie8g_to_ie24RGB, ie8g, ie24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ie32RGBX, ie24RGB, ie32RGBX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie1g_to_ie24RGB, ie1g, ie24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ie8p, ie24RGB, ie8p)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ieCMYK_to_ie24RGB_managed, ieCMYK, ie24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, ie24RGB_to_ieCMYK_managed, ie24RGB, ieCMYK)->Unit(benchmark::kMillisecond);

// The same page converted in place while its rows live in a temporary file.
void ConvertInTemporaryFile(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto b = std::make_unique<TIEBitmap>();
        b->MemoryThreshold = 0;
        b->CopyFrom(Page24());
        state.ResumeTiming();
        b->ConvertFormat(ie8g);
        state.PauseTiming();
        b.reset();
        state.ResumeTiming();
    }
    Report(state);
}
BENCHMARK(ConvertInTemporaryFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
