#include "tests/support/render.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/support/testsupport.h"

namespace quirelle::test {

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk{};
    std::string text;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
    const int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) { return RunCommand("command -v " + ShellQuote(name) + " >/dev/null") == 0; }

namespace {

// Reads one header token of a PNM file, skipping blanks and comments.
bool Token(const std::vector<uint8_t>& d, size_t& p, std::string& out) {
    out.clear();
    while (p < d.size()) {
        if (d[p] == '#') {
            while (p < d.size() && d[p] != '\n') ++p;
        } else if (isspace(d[p])) {
            ++p;
        } else {
            break;
        }
    }
    while (p < d.size() && !isspace(d[p])) out += static_cast<char>(d[p++]);
    return !out.empty();
}

}  // namespace

RgbImage ReadPnmImage(const std::filesystem::path& path) {
    RgbImage image;
    const std::vector<uint8_t> d = ReadFileBytes(path);
    size_t p = 0;
    std::string magic, w, h, maxval;
    if (!Token(d, p, magic) || !Token(d, p, w) || !Token(d, p, h)) return image;
    if (magic != "P4" && !Token(d, p, maxval)) return image;
    ++p;  // the single separator before the raster
    image.width = std::stoi(w);
    image.height = std::stoi(h);
    image.rgb.assign(static_cast<size_t>(image.width) * image.height * 3, 0);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            uint8_t* out = image.rgb.data() + (static_cast<size_t>(y) * image.width + x) * 3;
            if (magic == "P6") {
                const size_t i = p + (static_cast<size_t>(y) * image.width + x) * 3;
                if (i + 2 < d.size()) out[0] = d[i], out[1] = d[i + 1], out[2] = d[i + 2];
            } else if (magic == "P5") {
                const size_t i = p + static_cast<size_t>(y) * image.width + x;
                if (i < d.size()) out[0] = out[1] = out[2] = d[i];
            } else if (magic == "P4") {
                const size_t i = p + static_cast<size_t>(y) * ((image.width + 7) / 8) + x / 8;
                const bool black = i < d.size() && (d[i] & (0x80 >> (x % 8)));
                out[0] = out[1] = out[2] = black ? 0 : 255;
            }
        }
    }
    return image;
}

std::vector<RgbImage> RenderWithGhostscript(const std::filesystem::path& document, int32_t pageWidthPoints,
                                            int32_t pageHeightPoints, int32_t dpi, std::string* log) {
    ScratchDir dir;
    std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ppmraw -r" + std::to_string(dpi);
    if (pageWidthPoints > 0)
        command += " -dFIXEDMEDIA -dDEVICEWIDTHPOINTS=" + std::to_string(pageWidthPoints) +
                   " -dDEVICEHEIGHTPOINTS=" + std::to_string(pageHeightPoints);
    command += " -sOutputFile=" + ShellQuote((dir.Path() / "page-%04d.ppm").string()) + " " + ShellQuote(document.string());
    std::vector<RgbImage> pages;
    if (RunCommand(command, log) != 0) return pages;
    for (int i = 1;; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page-%04d.ppm", i);
        if (!std::filesystem::exists(dir / name)) break;
        pages.push_back(ReadPnmImage(dir / name));
    }
    return pages;
}

std::vector<RgbImage> RenderWithPoppler(const std::filesystem::path& document, int32_t dpi) {
    ScratchDir dir;
    const std::string command = "pdftoppm -r " + std::to_string(dpi) + " " + ShellQuote(document.string()) + " " +
                                ShellQuote((dir.Path() / "page").string());
    std::vector<RgbImage> pages;
    if (RunCommand(command) != 0) return pages;
    std::vector<std::filesystem::path> files = FilesMatching(dir.Path(), "page", ".ppm");
    std::sort(files.begin(), files.end());
    for (const auto& f : files) pages.push_back(ReadPnmImage(f));
    return pages;
}

}  // namespace quirelle::test
