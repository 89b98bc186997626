// A 2480 x 3508 page of text at 300 dpi (A4) as 1-bit rows, for the codec benchmarks: rendered by
// Ghostscript when it is installed, otherwise drawn as text-like strokes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quirelle::bench {

struct TextPage {
    int32_t Width = 2480;
    int32_t Height = 3508;
    int32_t RowBytes = 312;  // ((width + 31) / 32) x 4, as the fax coder reads rows
    // Rows as the ie1g format stores them: 1 = white, so the paper is 1 bits.
    std::vector<std::vector<uint8_t>> Rows;
    std::string Source;  // "Ghostscript" or "synthetic"

    const uint8_t* Row(int32_t y) const { return Rows[static_cast<size_t>(y)].data(); }
    // The same page with every bit inverted (paper = 0 bits, as PBM and fax files hold it).
    TextPage Inverted() const;
    // All rows, ceil(width / 8) bytes each, one after the other.
    std::vector<uint8_t> PackedBytes() const;
};

TextPage MakeTextPage();

// A photo-like 8-bit grey image (smooth gradients with a little noise), width x height bytes.
std::vector<uint8_t> MakeGreyImage(int32_t width, int32_t height);

}  // namespace quirelle::bench
