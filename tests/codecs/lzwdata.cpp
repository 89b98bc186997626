#include "tests/codecs/lzwdata.h"

#include <algorithm>

#include "codecs/tiflzw.h"
#include "platform/iestreams.h"

namespace quirelle::test {

std::vector<uint8_t> EncodeLzw(const std::vector<std::vector<uint8_t>>& chunks) {
    TMemoryStream out;
    void* state = nullptr;
    static const uint8_t nothing = 0;
    for (const auto& chunk : chunks)
        TiffLzwEncode(chunk.empty() ? &nothing : chunk.data(), static_cast<int32_t>(chunk.size()), out, &state);
    TiffLzwEncode(nullptr, 0, out, &state);
    return out.Bytes();
}

std::vector<uint8_t> DecodeLzw(const std::vector<uint8_t>& strip, int32_t total, int32_t fillOrder,
                               int32_t rowLength) {
    if (rowLength <= 0) rowLength = std::max(total, 1);
    std::vector<uint8_t> result;
    void* state = nullptr;
    static const uint8_t nothing = 0;
    const uint8_t* data = strip.empty() ? &nothing : strip.data();
    while (static_cast<int32_t>(result.size()) < total) {
        const uint8_t* row = TiffLzwDecodeRow(data, static_cast<int64_t>(strip.size()), rowLength, &state, fillOrder);
        if (!row) break;
        const int32_t n = std::min(rowLength, total - static_cast<int32_t>(result.size()));
        result.insert(result.end(), row, row + n);
    }
    TiffLzwDecodeRow(nullptr, 0, rowLength, &state, fillOrder);
    return result;
}

}  // namespace quirelle::test
