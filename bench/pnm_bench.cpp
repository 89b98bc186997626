// Reading and writing PNM files and reading WBMP files: bytes of file per second for each form,
// from memory and (for the ASCII form, where the token reader works byte by byte) from a file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "readers/iepnm.h"
#include "readers/iewbmp.h"

namespace {

using namespace quirelle;

// An A4 page at 150 dpi.
constexpr int32_t kWidth = 1240, kHeight = 1754;

std::string MakeFile(const std::string& magic, int32_t maxValue) {
    std::mt19937 random(1);
    std::string file = magic + " " + std::to_string(kWidth) + " " + std::to_string(kHeight);
    if (magic != "P1" && magic != "P4") file += " " + std::to_string(maxValue);
    file += "\n";
    const int64_t pixels = int64_t{kWidth} * kHeight;
    const int bytesPerSample = maxValue > 255 ? 2 : 1;
    if (magic == "P1") {
        for (int64_t i = 0; i < pixels; ++i) file += (random() & 1) ? "1 " : "0 ";
    } else if (magic == "P2" || magic == "P3") {
        const int samples = magic == "P3" ? 3 : 1;
        for (int64_t i = 0; i < pixels * samples; ++i)
            file += std::to_string(random() % (maxValue + 1)) + (i % 16 == 15 ? "\n" : " ");
    } else {
        const int64_t bytes = magic == "P4"   ? (kWidth + 7) / 8 * int64_t{kHeight}
                              : magic == "P5" ? pixels * bytesPerSample
                                              : pixels * 3 * bytesPerSample;
        for (int64_t i = 0; i < bytes; ++i) file.push_back(static_cast<char>(random() % (maxValue > 255 ? 256 : maxValue + 1)));
    }
    return file;
}

void ReadFromMemory(benchmark::State& state, const std::string& magic, int32_t maxValue, bool native) {
    const std::string file = MakeFile(magic, maxValue);
    for (auto _ : state) {
        TIEMemoryReadStream stream(file.data(), static_cast<int64_t>(file.size()));
        TIEBitmap bitmap;
        TIOParamsVals params;
        params.NativePixelFormat = native;
        uint8_t cancel = 0;
        ProgressRecord progress;
        progress.CancelFlag = &cancel;
        ReadPnm(stream, bitmap, params, false, progress);
        if (cancel) state.SkipWithError("the reader cancelled");
        benchmark::DoNotOptimize(bitmap.RowAddress(0));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}

BENCHMARK_CAPTURE(ReadFromMemory, P1, std::string("P1"), 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P2, std::string("P2"), 255, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P3, std::string("P3"), 255, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P4, std::string("P4"), 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P5, std::string("P5"), 255, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P6, std::string("P6"), 255, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P6_max100, std::string("P6"), 100, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P6_16bit, std::string("P6"), 65535, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFromMemory, P6_16bit_native, std::string("P6"), 65535, true)->Unit(benchmark::kMillisecond);

// The ASCII form from a file on disk: the buffered reader keeps this close to the memory case.
void ReadP3FromFile(benchmark::State& state) {
    const std::string file = MakeFile("P3", 255);
    const auto path = std::filesystem::temp_directory_path() / ("quirelle-bench-" + std::to_string(getpid()) + ".ppm");
    {
        TIEWideFileStream out(path, ieCreateAlways);
        out.WriteString(file);
    }
    for (auto _ : state) {
        TIEWideFileStream stream(path, ieOpenRead);
        TIEBitmap bitmap;
        TIOParamsVals params;
        uint8_t cancel = 0;
        ProgressRecord progress;
        progress.CancelFlag = &cancel;
        ReadPnm(stream, bitmap, params, false, progress);
        if (cancel) state.SkipWithError("the reader cancelled");
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(ReadP3FromFile)->Unit(benchmark::kMillisecond);

void WriteToMemory(benchmark::State& state, TIEPixelFormat format, int32_t bits, int32_t channels) {
    TIEBitmap bitmap(kWidth, format, kHeight);
    std::mt19937 random(1);
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int32_t i = 0; i < bitmap.RowLength(); ++i) row[i] = static_cast<uint8_t>(random());
    }
    TIOParamsVals params;
    params.ChannelBits = bits;
    params.ChannelCount = channels;
    int64_t written = 0;
    for (auto _ : state) {
        TMemoryStream stream;
        ProgressRecord progress;
        WritePnm(stream, bitmap, params, progress);
        written = stream.Size();
    }
    state.SetBytesProcessed(state.iterations() * written);
}
BENCHMARK_CAPTURE(WriteToMemory, P4, ie1g, 1, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteToMemory, P5_from_colour, ie24RGB, 8, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteToMemory, P6, ie24RGB, 8, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteToMemory, P6_16bit, ieRGB48, 16, 3)->Unit(benchmark::kMillisecond);

void ReadWbmpFromMemory(benchmark::State& state) {
    // 1240 = 0x09 0x58 as a multi-byte integer, 1754 = 0x0D 0x5A.
    std::string file = {0, 0, static_cast<char>(0x89), 0x58, static_cast<char>(0x8D), 0x5A};
    file.append(static_cast<size_t>((kWidth + 7) / 8) * kHeight, '\x5A');
    for (auto _ : state) {
        TIEMemoryReadStream stream(file.data(), static_cast<int64_t>(file.size()));
        TIEBitmap bitmap;
        TIOParamsVals params;
        uint8_t cancel = 0;
        ProgressRecord progress;
        progress.CancelFlag = &cancel;
        ReadWbmp(stream, bitmap, params, false, progress);
        if (cancel) state.SkipWithError("the reader cancelled");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(ReadWbmpFromMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
