#include "bench/codecs_page.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace quirelle::bench {

namespace {

const char* const kLines[] = {
    "Quirelle turns images into one multi-page document: a PDF 1.4 file or a PostScript Level 2 file.",
    "Every added image becomes one page, scaled to fit the chosen paper and placed at its top-left corner.",
    "The fax coder writes Group 3 two-dimensional or Group 4 data, one row at a time, without byte alignment.",
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore.",
    "Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi ut aliquip ex ea commodo.",
    "Duis aute irure dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla pariatur.",
    "1234567890 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz ,.;:!?()[]{}<>+-*/=%&$#@",
};

bool RenderWithGhostscript(TextPage& page) {
    if (access("/usr/bin/gs", X_OK) != 0) return false;
    const auto dir = std::filesystem::temp_directory_path() / ("quirelle-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto ps = dir / "page.ps", pbm = dir / "page.pbm";
    {
        std::ofstream out(ps);
        out << "%!PS\n/Times-Bold findfont 18 scalefont setfont 56 790 moveto (Codec benchmark page) show\n"
               "/Times-Roman findfont 9.5 scalefont setfont\n";
        int y = 760, i = 0;
        while (y > 40) {
            std::string line = kLines[i++ % 7];
            std::string escaped;
            for (char c : line) {
                if (c == '(' || c == ')' || c == '\\') escaped += '\\';
                escaped += c;
            }
            out << "56 " << y << " moveto (" << escaped << ") show\n";
            y -= (i % 9 == 0) ? 24 : 12;  // a paragraph gap now and then
        }
        out << "showpage\n";
    }
    const std::string command = "/usr/bin/gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r300 -g2480x3508 -sOutputFile='" +
                                pbm.string() + "' '" + ps.string() + "' >/dev/null 2>&1";
    const bool ok = std::system(command.c_str()) == 0;
    std::vector<uint8_t> bytes;
    if (ok) {
        std::ifstream in(pbm, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove_all(dir);
    // Header: "P4", width and height separated by white space, comments from "#" to the end of a
    // line, then one white-space byte before the pixels.
    size_t at = 0;
    std::vector<std::string> fields;
    while (ok && fields.size() < 3 && at < bytes.size()) {
        const char c = static_cast<char>(bytes[at]);
        if (c == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++at;
        } else {
            std::string field;
            while (at < bytes.size() && !std::isspace(bytes[at])) field += static_cast<char>(bytes[at++]);
            fields.push_back(field);
        }
    }
    ++at;
    const size_t pbmRow = 310;
    if (!ok || fields != std::vector<std::string>{"P4", "2480", "3508"} || bytes.size() < at + pbmRow * 3508) return false;
    for (int32_t y = 0; y < page.Height; ++y) {
        std::vector<uint8_t> row(static_cast<size_t>(page.RowBytes), 0xFF);
        for (size_t i = 0; i < pbmRow; ++i) row[i] = static_cast<uint8_t>(~bytes[at + y * pbmRow + i]);
        page.Rows.push_back(row);
    }
    page.Source = "Ghostscript";
    return true;
}

// Lines of "glyphs": each a few vertical and horizontal strokes in a 20 x 30 pixel cell.
void DrawSynthetic(TextPage& page) {
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(page.Height),
                                           std::vector<uint8_t>(static_cast<size_t>(page.RowBytes), 0xFF));
    auto black = [&](int32_t x, int32_t y) {
        rows[static_cast<size_t>(y)][static_cast<size_t>(x >> 3)] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
    };
    std::mt19937 rng(42);
    for (int32_t base = 200; base + 40 < page.Height - 150; base += 50) {
        for (int32_t x = 230; x + 22 < page.Width - 230; x += 22) {
            if (rng() % 7 == 0) continue;  // a space
            const int strokes = 2 + static_cast<int>(rng() % 3);
            for (int s = 0; s < strokes; ++s) {
                const bool vertical = rng() & 1;
                const int32_t x0 = x + static_cast<int32_t>(rng() % 14), y0 = base + static_cast<int32_t>(rng() % 20);
                const int32_t len = 6 + static_cast<int32_t>(rng() % 18);
                for (int32_t k = 0; k < len; ++k)
                    for (int32_t t = 0; t < 3; ++t) {
                        const int32_t px = vertical ? x0 + t : x0 + k, py = vertical ? y0 + k : y0 + t;
                        if (px < page.Width && py < page.Height) black(px, py);
                    }
            }
        }
    }
    page.Rows = std::move(rows);
    page.Source = "synthetic";
}

}  // namespace

TextPage TextPage::Inverted() const {
    TextPage inverted = *this;
    for (auto& row : inverted.Rows)
        for (auto& b : row) b = static_cast<uint8_t>(~b);
    return inverted;
}

std::vector<uint8_t> TextPage::PackedBytes() const {
    std::vector<uint8_t> all;
    const size_t n = static_cast<size_t>((Width + 7) / 8);
    for (const auto& row : Rows) all.insert(all.end(), row.begin(), row.begin() + static_cast<long>(n));
    return all;
}

TextPage MakeTextPage() {
    TextPage page;
    if (!RenderWithGhostscript(page)) DrawSynthetic(page);
    return page;
}

std::vector<uint8_t> MakeGreyImage(int32_t width, int32_t height) {
    std::vector<uint8_t> image(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::mt19937 rng(7);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const double v = 128 + 60 * std::sin(x / 97.0) * std::cos(y / 131.0) + 40 * std::sin((x + y) / 310.0);
            image[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                static_cast<uint8_t>(std::lround(v) + static_cast<int>(rng() % 5) - 2);
        }
    return image;
}

}  // namespace quirelle::bench
