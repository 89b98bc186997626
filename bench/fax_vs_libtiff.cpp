// Pages per second of our G4 and G3 2-D coders on a 300-dpi A4 text page, beside libtiff's coders
// run through `tiffcp -c g4` and `tiffcp -c g3:2d` on the same page (a TIFF of N copies of it, so
// that start-up costs spread over many pages; the time of `tiffcp -c none` on the same file is
// shown as the share of reading and writing).
//   bench_fax_libtiff [pages]     (default 40)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/codecs_page.h"
#include "codecs/tifccitt.h"
#include "platform/iestreams.h"

using namespace quirelle;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double OursPagesPerSecond(const bench::TextPage& page, bool g4, int pages, size_t& codedBytes) {
    const auto encode = g4 ? CcittEncodeRowG4 : CcittEncodeRowG3;
    const auto start = Clock::now();
    for (int p = 0; p < pages; ++p) {
        TMemoryStream out;
        TCcittEncoderState coder;
        uint8_t cancel = 0;
        for (int32_t y = 0; y < page.Height; ++y) encode(page.Row(y), page.Width, out, 1, &cancel, coder);
        encode(nullptr, page.Width, out, 1, &cancel, coder);
        codedBytes = static_cast<size_t>(out.Size());
    }
    return pages / Seconds(start);
}

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An uncompressed little-endian TIFF of `pages` pages that all point at one strip of pixels.
void WriteTiff(const std::filesystem::path& path, const bench::TextPage& page, int pages) {
    const std::vector<uint8_t> pixels = page.PackedBytes();
    std::vector<uint8_t> out = {'I', 'I', 42, 0};
    const uint32_t stripOffset = 8;
    Put(out, static_cast<uint32_t>(stripOffset + pixels.size()), 4);
    out.insert(out.end(), pixels.begin(), pixels.end());
    for (int p = 0; p < pages; ++p) {
        const uint16_t entries[][3] = {{256, 4, 0}, {257, 4, 0}, {258, 3, 1}, {259, 3, 1}, {262, 3, 0},
                                       {273, 4, 0}, {277, 3, 1}, {278, 4, 0}, {279, 4, 0}};
        Put(out, 9, 2);
        for (const auto& e : entries) {
            Put(out, e[0], 2);
            Put(out, e[1], 2);
            Put(out, 1, 4);
            uint32_t value = e[2];
            if (e[0] == 256) value = static_cast<uint32_t>(page.Width);
            if (e[0] == 257 || e[0] == 278) value = static_cast<uint32_t>(page.Height);
            if (e[0] == 273) value = stripOffset;
            if (e[0] == 279) value = static_cast<uint32_t>(pixels.size());
            Put(out, value, 4);
        }
        Put(out, p + 1 < pages ? static_cast<uint32_t>(out.size() + 4) : 0u, 4);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), static_cast<long>(out.size()));
}

double TiffcpSeconds(const std::filesystem::path& in, const std::filesystem::path& out, const std::string& codec) {
    const std::string command = "/usr/bin/tiffcp -c " + codec + " '" + in.string() + "' '" + out.string() + "'";
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) return -1;
        best = std::min(best, Seconds(start));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const bench::TextPage page = bench::MakeTextPage();
    const bench::TextPage inverted = page.Inverted();
    std::printf("page: %d x %d, %s text\n", page.Width, page.Height, page.Source.c_str());

    for (const auto* p : {&page, &inverted}) {
        const char* polarity = p == &page ? "paper = 1 bits (ie1g, as the writers pass it)" : "paper = 0 bits (PBM/fax polarity)";
        size_t g4Bytes = 0, g3Bytes = 0;
        OursPagesPerSecond(*p, true, 2, g4Bytes);  // warm-up
        const double g4 = OursPagesPerSecond(*p, true, pages, g4Bytes);
        const double g3 = OursPagesPerSecond(*p, false, pages, g3Bytes);
        std::printf("ours    %-48s G4 %7.1f pages/s (%zu bytes)   G3 2-D %7.1f pages/s (%zu bytes)\n", polarity, g4,
                    g4Bytes, g3, g3Bytes);
    }

    if (access("/usr/bin/tiffcp", X_OK) != 0) {
        std::printf("libtiff: tiffcp not installed\n");
        return 0;
    }
    const auto dir = std::filesystem::temp_directory_path() / ("quirelle-fax-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    for (const auto* p : {&page, &inverted}) {
        const char* polarity = p == &page ? "paper = 1 bits (ie1g, as the writers pass it)" : "paper = 0 bits (PBM/fax polarity)";
        WriteTiff(dir / "in.tif", *p, pages);
        const double none = TiffcpSeconds(dir / "in.tif", dir / "none.tif", "none");
        const double g4 = TiffcpSeconds(dir / "in.tif", dir / "g4.tif", "g4");
        const double g3 = TiffcpSeconds(dir / "in.tif", dir / "g3.tif", "g3:2d");
        std::printf("libtiff %-48s G4 %7.1f pages/s (%.1f without copying)   G3 2-D %7.1f pages/s (%.1f without copying)\n",
                    polarity, pages / g4, pages / (g4 - none), pages / g3, pages / (g3 - none));
    }
    std::filesystem::remove_all(dir);
    return 0;
}
