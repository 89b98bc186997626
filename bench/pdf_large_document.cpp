// Builds a document of many pages whose image streams are spooled to temporary files as they are
// made, writes it to a file in the temporary folder, and reports wall time, throughput, peak
// resident memory (which should stay near one image, not grow with the document) and whether every
// temporary file is gone afterwards. Arguments: pages (default 64), MiB per image (default 8), and
// optionally a path where the document is kept for inspection (otherwise it is deleted).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "output/pdf/iepdfdocument.h"
#include "output/pdf/iepdfobjects.h"
#include "platform/iestreams.h"
#include "platform/iesystem.h"

namespace {

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

size_t SpoolFilesIn(const std::filesystem::path& dir) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().starts_with("ietemp-")) ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quirelle;
    using Clock = std::chrono::steady_clock;
    const int pages = argc > 1 ? std::atoi(argv[1]) : 64;
    const int64_t imageBytes = (argc > 2 ? std::atoll(argv[2]) : 8) << 20;
    const int width = 2048;
    const int height = static_cast<int>(imageBytes / (3 * width));

    const std::filesystem::path dir = std::filesystem::path(IETempDirectory()) / "quirelle-pdf-bench";
    std::filesystem::create_directories(dir);
    TempDirectoryOverride = dir.string();
    const bool keep = argc > 3;
    const std::filesystem::path output = keep ? std::filesystem::path(argv[3]) : dir / "document.pdf";
    const size_t filesBefore = SpoolFilesIn(dir);

    const auto start = Clock::now();
    double buildSeconds = 0;
    double peakWhileBuilding = 0;
    {
        TIEPDFObjectList list;
        TIEPDFPageList pageList;
        std::vector<std::unique_ptr<TIEPDFStreamObject>> images;
        std::vector<std::unique_ptr<TIEPDFStreamObject>> contents;
        auto catalog = CreateCatalog(list);
        auto resources = std::make_unique<TIEPDFDictionaryObject>();
        resources->Shared = true;
        auto xobjects = std::make_unique<TIEPDFDictionaryObject>();
        TIEPDFDictionaryObject& xobjectDict = *xobjects;
        resources->Add("XObject", std::move(xobjects));
        AddIndirect(list, *resources);

        for (int page = 1; page <= pages; ++page) {
            std::vector<uint8_t> pixels(static_cast<size_t>(3) * width * height);
            for (size_t i = 0; i < pixels.size(); i += 4096) pixels[i] = static_cast<uint8_t>(page + i);
            auto image = std::make_unique<TIEPDFStreamObject>(std::move(pixels));
            image->Dictionary().Add("ColorSpace", std::make_unique<TIEPDFNameObject>("DeviceRGB"));
            image->Dictionary().Add("BitsPerComponent", std::make_unique<TIEPDFNumericObject>(8));
            image->Dictionary().Insert(0, "Type", std::make_unique<TIEPDFNameObject>("XObject"));
            image->Dictionary().Insert(1, "Subtype", std::make_unique<TIEPDFNameObject>("Image"));
            image->Dictionary().Add("Width", std::make_unique<TIEPDFNumericObject>(width));
            image->Dictionary().Add("Height", std::make_unique<TIEPDFNumericObject>(height));
            AddIndirect(list, *image);
            image->SpoolToTempFile();

            const std::string text = "q\n595 0 0 842 0 0 cm\n/lm" + std::to_string(page) + " Do\nQ";
            auto content = std::make_unique<TIEPDFStreamObject>(
                std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
            AddIndirect(list, *content);
            xobjectDict.Add("lm" + std::to_string(page), std::make_unique<TIEPDFRefObject>(image->ObjectNumber, 0));
            auto box = std::make_unique<TIEPDFArrayObject>();
            for (double v : {0.0, 0.0, 595.0, 842.0}) box->Add(std::make_unique<TIEPDFNumericObject>(v));
            CreatePage(list, pageList, resources.get(), content->ObjectNumber, std::move(box));
            images.push_back(std::move(image));
            contents.push_back(std::move(content));
        }
        auto tree = CreatePagesTree(list, pageList);
        auto info = std::make_unique<TIEPDFDictionaryObject>();
        info->Add("CreationDate", std::make_unique<TIEPDFStringObject>("D:20261209134502"));
        AddIndirect(list, *info);
        buildSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        peakWhileBuilding = PeakMiB();

        TIEWideFileStream out(output, ieCreateAlways);
        WritePdfHeader(out);
        WriteObjects(out, list);
        WriteXrefAndTrailer(out, list, info.get());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double fileMiB = static_cast<double>(std::filesystem::file_size(output)) / (1 << 20);
    if (!keep) std::filesystem::remove(output);
    const bool gone = SpoolFilesIn(dir) == filesBefore;
    std::filesystem::remove(dir);

    std::printf("document: %d pages, %.1f MiB per image, file %.1f MiB\n", pages,
                static_cast<double>(imageBytes) / (1 << 20), fileMiB);
    std::printf("build and spool: %.2f s; write: %.2f s (%.0f MiB/s); total %.2f s\n", buildSeconds,
                seconds - buildSeconds, fileMiB / (seconds - buildSeconds), seconds);
    std::printf("peak resident memory: %.1f MiB after building, %.1f MiB at the end\n", peakWhileBuilding, PeakMiB());
    std::printf("temporary files removed: %s\n", gone ? "yes" : "NO");
    return gone ? 0 : 1;
}
