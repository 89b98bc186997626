// Codec speed: fax coding of a 300-dpi A4 text page in pages/s; PackBits, ASCII85 and LZW in MB/s
// of input.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench/codecs_page.h"
#include "codecs/ieascii85.h"
#include "codecs/iepackbits.h"
#include "codecs/tifccitt.h"
#include "codecs/tiflzw.h"
#include "platform/iestreams.h"

namespace {

using namespace quirelle;

const bench::TextPage& Page(bool inverted) {
    static const bench::TextPage page = bench::MakeTextPage();
    static const bench::TextPage pbmPolarity = page.Inverted();
    return inverted ? pbmPolarity : page;
}

// Argument 0: the page as the writers pass it (ie1g, paper = 1 bits); 1: paper = 0 bits.
template <bool G4>
void BM_FaxPage(benchmark::State& state) {
    const bench::TextPage& page = Page(state.range(0) == 1);
    const auto encode = G4 ? CcittEncodeRowG4 : CcittEncodeRowG3;
    int64_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream out;
        TCcittEncoderState coder;
        uint8_t cancel = 0;
        for (int32_t y = 0; y < page.Height; ++y) encode(page.Row(y), page.Width, out, 1, &cancel, coder);
        encode(nullptr, page.Width, out, 1, &cancel, coder);
        bytes = out.Size();
        benchmark::DoNotOptimize(out.Memory());
    }
    state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["coded_bytes"] = static_cast<double>(bytes);
    state.SetLabel(page.Source + (state.range(0) == 1 ? " page, paper = 0 bits" : " page, paper = 1 bits (ie1g)"));
}
BENCHMARK_TEMPLATE(BM_FaxPage, true)->Name("BM_G4Page")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FaxPage, false)->Name("BM_G3Page")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> RandomBytes(size_t n) {
    std::mt19937 rng(3);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Argument 0: the packed text page (PostScript/PDF coding of a 1-bit page); 1: grey photo rows;
// 2: random bytes (literal blocks throughout).
const std::vector<uint8_t>& Input(int64_t kind) {
    static const std::vector<uint8_t> page = Page(false).PackedBytes();
    static const std::vector<uint8_t> grey = bench::MakeGreyImage(2480, 1000);
    static const std::vector<uint8_t> random = RandomBytes(2 << 20);
    return kind == 0 ? page : kind == 1 ? grey : random;
}
const char* InputName(int64_t kind) { return kind == 0 ? "text page bits" : kind == 1 ? "grey photo" : "random"; }

void BM_PackBits(benchmark::State& state) {
    const std::vector<uint8_t>& in = Input(state.range(0));
    std::vector<uint8_t> out(static_cast<size_t>(PackBitsMaxEncodedSize(static_cast<int64_t>(in.size()))));
    int32_t n = 0;
    for (auto _ : state) {
        n = EncodePackBits(in.data(), static_cast<int32_t>(in.size()), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
    state.counters["ratio"] = static_cast<double>(n) / static_cast<double>(in.size());
    state.SetLabel(InputName(state.range(0)));
}
BENCHMARK(BM_PackBits)->Arg(0)->Arg(1)->Arg(2);

void BM_Ascii85(benchmark::State& state) {
    const std::vector<uint8_t>& in = Input(state.range(0));
    std::vector<uint8_t> out(static_cast<size_t>(Ascii85MaxEncodedSize(static_cast<int64_t>(in.size()))));
    int64_t counter = 0;
    for (auto _ : state) {
        const uint8_t* s = in.data();
        uint8_t* d = out.data();
        EncodeAscii85Block(s, static_cast<int32_t>(in.size()), d, counter);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
    state.SetLabel(InputName(state.range(0)));
}
BENCHMARK(BM_Ascii85)->Arg(0)->Arg(2);

// LZW, one encoder call per 2480-byte row as the PDF writer makes them.
void BM_LzwEncode(benchmark::State& state) {
    const std::vector<uint8_t>& in = Input(state.range(0));
    const size_t row = 2480;
    int64_t coded = 0;
    for (auto _ : state) {
        TMemoryStream out;
        void* coder = nullptr;
        for (size_t at = 0; at < in.size(); at += row)
            TiffLzwEncode(in.data() + at, static_cast<int32_t>(std::min(row, in.size() - at)), out, &coder);
        TiffLzwEncode(nullptr, 0, out, &coder);
        coded = out.Size();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
    state.counters["ratio"] = static_cast<double>(coded) / static_cast<double>(in.size());
    state.SetLabel(InputName(state.range(0)));
}
BENCHMARK(BM_LzwEncode)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_LzwDecode(benchmark::State& state) {
    const std::vector<uint8_t>& in = Input(state.range(0));
    const int32_t row = 2480;
    TMemoryStream coded;
    void* coder = nullptr;
    TiffLzwEncode(in.data(), static_cast<int32_t>(in.size()), coded, &coder);
    TiffLzwEncode(nullptr, 0, coded, &coder);
    const int32_t rows = static_cast<int32_t>(in.size() / row);
    for (auto _ : state) {
        void* decoder = nullptr;
        for (int32_t y = 0; y < rows; ++y)
            benchmark::DoNotOptimize(TiffLzwDecodeRow(coded.Memory(), coded.Size(), row, &decoder, 1));
        TiffLzwDecodeRow(nullptr, 0, row, &decoder, 1);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{rows} * row);
    state.SetLabel(InputName(state.range(0)));
}
BENCHMARK(BM_LzwDecode)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
