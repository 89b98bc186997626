// Helpers that run whole buffers through the TIFF LZW encoder and decoder.
#pragma once

#include <cstdint>
#include <vector>

namespace quirelle::test {

// One code stream from calls with each chunk, then the ending call.
std::vector<uint8_t> EncodeLzw(const std::vector<std::vector<uint8_t>>& chunks);

// Decodes `total` bytes from a strip in rows of rowLength bytes (0: one row of total bytes) and
// returns them; rows that fail end the result early.
std::vector<uint8_t> DecodeLzw(const std::vector<uint8_t>& strip, int32_t total, int32_t fillOrder,
                               int32_t rowLength = 0);

}  // namespace quirelle::test
