// Pixel-format conversion of TIEBitmap (ConvertFormat, ConvertedCopyFrom): the engine's internal
// view. Users call the TIEBitmap members; the image model's own utilities use the helpers below.
#pragma once

#include <cstdint>

#include "image/iebitmap.h"

namespace quirelle {

// The ordered-dither matrix, indexed [x mod 8][y mod 8] (column selects the table row).
extern const uint8_t IEDitherMatrix[8][8];

// 1 (white) when IEDitherMatrix[x mod 8][y mod 8] < level, level being 0..63.
inline int DitherBit(int32_t level, int32_t x, int32_t y) { return IEDitherMatrix[x & 7][y & 7] < level ? 1 : 0; }

class TIEBitmapConverter {
public:
    // Converts every pixel of source into target, which is allocated in another format with the
    // same width and height. Reads target's BilevelMethod, QuantizeColors and gray range (the
    // range is reset to 0 once a gray-to-colour rule has used it). The alpha plane is not touched.
    static void CopyPixels(TIEBitmap& source, TIEBitmap& target);

    // ConvertFormat for buffers in memory or in the temporary file.
    static bool ConvertStored(TIEBitmap& bitmap, TIEPixelFormat format);
    // ConvertFormat for buffers whose rows live in the platform bitmap.
    static bool ConvertPlatformBitmap(TIEBitmap& bitmap, TIEPixelFormat format);

    // Ends the buffer's current temporary-file row mapping, writing it back when it was written.
    static void ReleaseRow(TIEBitmap& bitmap) { bitmap.UnmapRow(); }
};

}  // namespace quirelle
