// Rendering documents with reference tools (Ghostscript, poppler) for pixel comparisons.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quirelle::test {

struct RgbImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // red, green, blue per pixel, rows top to bottom
    const uint8_t* At(int32_t x, int32_t y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command, std::string* output = nullptr);
// True when the program is on PATH.
bool HaveProgram(const std::string& name);
// Reads a binary PPM (P6, maxval 255), PGM (P5) or PBM (P4) file as RGB.
RgbImage ReadPnmImage(const std::filesystem::path& path);
// Renders every page of a PostScript or PDF file with Ghostscript at the given resolution onto
// pages of the given size in points (for PostScript the page size must be given; 0 keeps the
// document's own). Returns one image per page; empty when Ghostscript failed.
std::vector<RgbImage> RenderWithGhostscript(const std::filesystem::path& document, int32_t pageWidthPoints,
                                            int32_t pageHeightPoints, int32_t dpi = 72, std::string* log = nullptr);
// Renders every page of a PDF file with poppler's pdftoppm.
std::vector<RgbImage> RenderWithPoppler(const std::filesystem::path& document, int32_t dpi = 72);
// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace quirelle::test
