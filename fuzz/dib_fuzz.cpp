// ImportDib on arbitrary blocks: the block is the input itself, so any read past its end is
// caught. Every output byte is read so that uninitialised rows would show.
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/ieutils.h"
#include "fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quirelle;
    const std::span<const uint8_t> block(data, size);
    BITMAPINFOHEADER header;
    if (ReadBitmapInfoHeader(block, header)) {
        // Keep each run quick (the import itself accepts images up to IEMaxDibPixels).
        const int64_t width = header.biWidth;
        const int64_t height = header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight;
        if (width > 0 && height > 0 && width * height > (int64_t{1} << 18)) return 0;
    }
    TIEBitmap bitmap;
    ImportDib(block, bitmap);
    if (bitmap.IsEmpty()) return 0;
    fuzz::TouchEveryPixel(bitmap);
    return 0;
}
