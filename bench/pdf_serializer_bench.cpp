// Speed of the object model's text output: numbers, escaped strings, and the whole object graph
// of a many-page document (without image data) written to memory.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "output/pdf/iepdfdocument.h"
#include "output/pdf/iepdfobjects.h"
#include "platform/iestreams.h"

namespace quirelle {
namespace {

void BM_FormatPdfNumber(benchmark::State& state) {
    const double values[] = {0, 595, 842, -1, 0.5, 1.0 / 3, 123456.789, 1e-7};
    for (auto _ : state)
        for (double v : values) benchmark::DoNotOptimize(FormatPdfNumber(v));
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_FormatPdfNumber);

void BM_EscapePdfString(benchmark::State& state) {
    const std::string text = "Scan (page 1) of C:\\documents\\report, made on a Tuesday\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(EscapePdfString(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_EscapePdfString);

// Catalog, resources, and per page an (empty) image stream, a content stream and a page.
void BM_WriteDocumentGraph(benchmark::State& state) {
    const int pages = static_cast<int>(state.range(0));
    TIEPDFObjectList list;
    TIEPDFPageList pageList;
    std::vector<std::unique_ptr<TIEPDFStreamObject>> streams;
    auto catalog = CreateCatalog(list);
    auto resources = std::make_unique<TIEPDFDictionaryObject>();
    AddIndirect(list, *resources);
    for (int page = 1; page <= pages; ++page) {
        auto image = std::make_unique<TIEPDFStreamObject>();
        image->Dictionary().Add("Width", std::make_unique<TIEPDFNumericObject>(2480));
        image->Dictionary().Add("Height", std::make_unique<TIEPDFNumericObject>(3508));
        AddIndirect(list, *image);
        const std::string text = "q\n595 0 0 842 0 0 cm\n/lm1 Do\nQ";
        auto content = std::make_unique<TIEPDFStreamObject>(
            std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        AddIndirect(list, *content);
        auto box = std::make_unique<TIEPDFArrayObject>();
        for (double v : {0.0, 0.0, 595.0, 842.0}) box->Add(std::make_unique<TIEPDFNumericObject>(v));
        CreatePage(list, pageList, resources.get(), content->ObjectNumber, std::move(box));
        streams.push_back(std::move(image));
        streams.push_back(std::move(content));
    }
    auto tree = CreatePagesTree(list, pageList);
    int64_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream out;
        WritePdfHeader(out);
        WriteObjects(out, list);
        WriteXrefAndTrailer(out, list, nullptr);
        bytes = out.Size();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations() * pages),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteDocumentGraph)->Arg(100)->Arg(1000);

}  // namespace
}  // namespace quirelle

BENCHMARK_MAIN();
