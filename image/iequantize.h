// The colour quantizer behind conversions to ie8p: variance-minimising median cut over a
// histogram of the image, then nearest-colour mapping. An image with no more distinct colours
// than requested keeps every colour exactly.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/iepixel.h"

namespace quirelle {

class TIEColorQuantizer {
public:
    // colors: the number of palette entries wanted, clamped to 1..256.
    explicit TIEColorQuantizer(int32_t colors);
    ~TIEColorQuantizer();
    TIEColorQuantizer(const TIEColorQuantizer&) = delete;
    TIEColorQuantizer& operator=(const TIEColorQuantizer&) = delete;

    // First pass: every pixel of the image, as rows of blue-green-red bytes.
    void AddPixels(const uint8_t* bgr, int32_t n);
    // Chooses the palette. Called once, after the last AddPixels.
    void Build();
    // The palette: 256 entries, those past ColorCount() black.
    const std::array<BgrColor, 256>& Palette() const { return palette_; }
    int32_t ColorCount() const { return count_; }
    // Second pass: the index of the nearest palette entry for each pixel.
    void MapPixels(const uint8_t* bgr, uint8_t* indices, int32_t n);

private:
    struct Cell {
        uint64_t n = 0, b = 0, g = 0, r = 0;
    };
    void AddRun(uint32_t color, uint64_t n);
    void TrackExact(uint32_t color);
    void MedianCut();
    uint8_t Nearest(uint32_t color);
    const uint8_t* Candidates(uint32_t cell, int32_t& count);

    int32_t wanted_;
    std::vector<Cell> cells_;  // 64 levels per channel
    // Distinct colours while there are no more than wanted_ of them (open addressing; 0 = free).
    std::vector<uint32_t> exact_;
    int32_t exactCount_ = 0;
    bool exactOverflow_ = false;

    std::array<BgrColor, 256> palette_{};
    int32_t count_ = 0;
    // Nearest-colour search: for each 32-level cell, the palette entries that can be nearest to
    // some colour inside it, built on first use; and a direct-mapped cache of recent answers.
    std::vector<int32_t> candidateStart_;
    std::vector<uint8_t> candidateCount_;
    std::vector<uint8_t> candidatePool_;
    std::vector<uint32_t> cacheKey_;
    std::vector<uint8_t> cacheIndex_;
};

}  // namespace quirelle
