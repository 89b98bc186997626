// Size checks the image readers share before they allocate a buffer for a header's width and
// height.
#pragma once

#include <cstdint>

#include "image/iebitmap.h"
#include "image/iepixel.h"

namespace quirelle {

// The largest image (in pixels) a reader allocates for a body that the stream cannot fully hold.
// A truncated file of a plausible size still loads its rows up to the cut; a header announcing
// far more than the stream holds is refused before anything is allocated.
inline constexpr int64_t IEMaxTruncatedPixels = int64_t{1} << 24;

// True when a buffer of width x height pixels in the given format has rows the buffer can
// address (the row length fits its 32-bit field).
inline bool IERowLengthFits(int64_t width, TIEPixelFormat format) {
    if (width < 1) return false;
    return RowLengthFor(width, IEBitsPerPixelOf(format), 32) <= INT32_MAX;
}

// True when a reader may allocate width x height pixels for a body that needs at least
// neededBytes when availableBytes are left in the stream: always when the body fits, and up to
// IEMaxTruncatedPixels when it does not.
inline bool IEBodyAllocationAllowed(int64_t width, int64_t height, int64_t neededBytes, int64_t availableBytes) {
    if (width < 1 || height < 1) return false;
    if (neededBytes <= availableBytes) return true;
    return width <= IEMaxTruncatedPixels / height;
}

}  // namespace quirelle
