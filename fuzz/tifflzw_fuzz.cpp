// Fuzz target for the TIFF LZW decoder. Byte 0 picks the fill order (bit 0), bytes 1 and 2 the row
// length (0..4096); the rest is the strip. Every byte of every returned row is read. The same
// bytes then go through the encoder and back through the decoder, which must return them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/tiflzw.h"
#include "platform/iestreams.h"

using namespace quirelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int32_t fillOrder = (data[0] & 1) ? 2 : 1;
    const int32_t rowLength = (data[1] | (data[2] << 8)) % 4097;
    const std::vector<uint8_t> strip(data + 3, data + size);  // exactly the strip: no slack to read
    static const uint8_t nothing = 0;
    const uint8_t* stripData = strip.empty() ? &nothing : strip.data();

    void* state = nullptr;
    volatile uint32_t sum = 0;
    int64_t produced = 0;
    // Rows after the end of the data are zeros; a bound on rows and bytes keeps runs short.
    for (int row = 0; row < 1024 && produced < (int64_t{1} << 18); ++row) {
        const uint8_t* out = TiffLzwDecodeRow(stripData, static_cast<int64_t>(strip.size()), rowLength, &state, fillOrder);
        if (!out) break;
        for (int32_t i = 0; i < rowLength; ++i) sum = sum + out[i];
        produced += rowLength > 0 ? rowLength : 1;
    }
    TiffLzwDecodeRow(nullptr, 0, rowLength, &state, fillOrder);

    // Round trip, the bytes split into calls of rowLength bytes (or one call).
    TMemoryStream encoded;
    void* encoderState = nullptr;
    const size_t chunk = rowLength > 0 ? static_cast<size_t>(rowLength) : strip.size() + 1;
    for (size_t at = 0; at < strip.size(); at += chunk) {
        const size_t n = std::min(chunk, strip.size() - at);
        TiffLzwEncode(strip.data() + at, static_cast<int32_t>(n), encoded, &encoderState);
    }
    TiffLzwEncode(nullptr, 0, encoded, &encoderState);
    if (!strip.empty()) {
        const int32_t length = static_cast<int32_t>(strip.size());
        const uint8_t* back = TiffLzwDecodeRow(encoded.Memory(), encoded.Size(), length, &state, 1);
        if (!back || std::memcmp(back, strip.data(), strip.size()) != 0) std::abort();
        TiffLzwDecodeRow(nullptr, 0, length, &state, 1);
    }
    return 0;
}
