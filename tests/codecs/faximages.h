// Bilevel test images for the fax encoder: rows of exactly ((width + 31) / 32) x 4 bytes each (so
// the sanitizers see any read past a row), in kinds that reach every coding mode.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "codecs/tifccitt.h"

namespace quirelle::test {

enum class FaxKind { G3, G4 };

struct FaxImage {
    int32_t Width = 0;
    std::vector<std::vector<uint8_t>> Rows;

    static FaxImage Uniform(int32_t width, int32_t height, bool black);
    // Rows of every kind: white, black, random bits, text-like strokes (rows correlated with the
    // row above), long runs up to 4000 pixels, a repeat of the row above. Bits past the width are
    // random.
    static FaxImage Mixed(int32_t width, int32_t height, uint32_t seed);
    // The row's pixel bits with everything past the width cleared, ceil(width / 8) bytes.
    std::vector<uint8_t> PackedRow(size_t y) const;
};

// All rows through CcittEncodeRowG3 / G4 and the ending call, with one fresh state.
std::vector<uint8_t> EncodeFax(FaxKind kind, const FaxImage& image, int32_t fillOrder,
                               TCcittEncoderState* finalState = nullptr);

}  // namespace quirelle::test
