// ConvertFormat between any two formats on arbitrary pixels (NaN floats, any palette, any Lab
// or CMYK bytes). Input: from, to, bilevel method, quantizer colours, width, height (one byte
// each), then the palette (768 bytes when the source is ie8p) and the rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/ieutils.h"
#include "fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quirelle;
    if (size < 6) return 0;
    const auto from = static_cast<TIEPixelFormat>(1 + data[0] % 10);  // ie1g .. ie32RGBX
    const auto to = static_cast<TIEPixelFormat>(data[1] % kPixelFormatCount);
    const int32_t width = 1 + data[4] % 64, height = 1 + data[5] % 64;
    data += 6, size -= 6;
    TIEBitmap bitmap(width, from, height);
    bitmap.BilevelMethod = data[-4] & 1;
    bitmap.QuantizeColors = data[-3];
    bitmap.GrayRangeLow = data[-3] & 0x0F;
    bitmap.GrayRangeHigh = data[-3] >> 4;
    if (from == ie8p) {
        for (int i = 0; i < 256 && size >= 3; ++i, data += 3, size -= 3)
            bitmap.SetPaletteEntry(i, BgrColor{data[0], data[1], data[2]});
    }
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        const auto length = static_cast<size_t>(bitmap.RowLength());
        const size_t n = std::min(length, size);
        std::memset(row, 0, length);
        std::memcpy(row, data, n);
        data += n, size -= n;
    }
    bitmap.ConvertFormat(to);
    if (bitmap.IsEmpty()) return 0;
    fuzz::TouchEveryPixel(bitmap);
    return 0;
}
