// Whole documents through the I/O object, as the wizard and the command line make them: N pages
// of the same A4 image appended to a PDF or PostScript document. Reports wall time, pages per
// second, peak resident memory (which must not grow with the number of pages: one page's buffers
// plus a constant) and the document's size.
//   bench_documents pdf|ps PAGES bilevel|colour CODING [DPI]
// bilevel: a 300-dpi page of text (2480 x 3508, 1 bit); colour: a photo-like colour page at DPI
// (default 150).
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/codecs_page.h"
#include "image/ieutils.h"
#include "io/imageio.h"
#include "platform/iesystem.h"

namespace {

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void FillColourPage(quirelle::TIEBitmap& b, int dpi) {
    const int w = 2480 * dpi / 300, h = 3508 * dpi / 300;
    b.Allocate(w, h, quirelle::ie24RGB);
    const std::vector<uint8_t> grey = quirelle::bench::MakeGreyImage(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.RowAddress(y);
        for (int x = 0; x < w; ++x) {
            const uint8_t g = grey[static_cast<size_t>(y) * w + x];
            row[3 * x] = g;
            row[3 * x + 1] = static_cast<uint8_t>(g * 3 / 4 + x * 64 / w);
            row[3 * x + 2] = static_cast<uint8_t>(255 - g / 2 - y * 32 / h);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quirelle;
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s pdf|ps PAGES bilevel|colour CODING [DPI]\n", argv[0]);
        return 2;
    }
    const bool pdf = std::strcmp(argv[1], "pdf") == 0;
    const int pages = std::atoi(argv[2]);
    const bool bilevel = std::strcmp(argv[3], "bilevel") == 0;
    const int coding = std::atoi(argv[4]);
    const int dpi = argc > 5 ? std::atoi(argv[5]) : 150;

    TImageIO io;
    TIEBitmap& b = *io.IEBitmap();
    if (bilevel) {
        const bench::TextPage page = bench::MakeTextPage();
        b.Allocate(page.Width, page.Height, ie1g);
        for (int y = 0; y < page.Height; ++y) std::memcpy(b.RowAddress(y), page.Row(y), static_cast<size_t>(b.RowLength()));
    } else {
        FillColourPage(b, dpi);
    }
    const double afterImage = PeakMiB();
    const std::filesystem::path out = IETempDirectory() / (std::string("quirelle-bench-document.") + (pdf ? "pdf" : "ps"));

    const auto start = std::chrono::steady_clock::now();
    if (pdf) {
        io.Params().PdfImageCoding = static_cast<uint8_t>(coding);
        io.BeginPdfDocument(out);
        for (int i = 0; i < pages; ++i) io.AddPdfPage();
        io.EndPdfDocument();
    } else {
        io.Params().PsImageCoding = static_cast<uint8_t>(coding);
        io.BeginPsDocument(out);
        for (int i = 0; i < pages; ++i) io.AddPsPage();
        io.EndPsDocument();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::error_code ec;
    const auto size = std::filesystem::file_size(out, ec);
    std::filesystem::remove(out, ec);
    std::printf("%s, %d %s pages (%d x %d), coding %d: %.2f s, %.1f pages/s, peak RSS %.1f MiB (%.1f MiB with the "
                "source image alone), document %.1f MB\n",
                pdf ? "PDF" : "PostScript", pages, bilevel ? "1-bit" : "colour", b.Width(), b.Height(), coding, seconds,
                pages / seconds, PeakMiB(), afterImage, size / 1e6);
    return 0;
}
