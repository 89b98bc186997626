// Resizing an image buffer to a new pixel size: without filtering (nearest pixel, any pixel
// format, palette kept) or with a Lanczos filter into ie24RGB (the filter widens with the
// reduction when shrinking, so every source pixel contributes and nothing aliases).
#pragma once

#include <cstdint>

namespace quirelle {

class TIEBitmap;

// target becomes width x height in source's pixel format (palette copied); each target pixel
// takes the source pixel under its centre. False when target cannot be allocated. source and
// target must be different buffers; alpha planes are not touched.
bool IEResampleNearest(TIEBitmap& source, TIEBitmap& target, int32_t width, int32_t height);

// target becomes width x height in ie24RGB, resampled from any source format with a Lanczos
// (a = 3) filter. False when target cannot be allocated. Alpha planes are not touched.
bool IEResampleFiltered(TIEBitmap& source, TIEBitmap& target, int32_t width, int32_t height);

// Resizes bitmap in place: filtered (result ie24RGB) or not (format kept). An alpha plane is
// resized without filtering to the same size. The storage location is kept. False (bitmap left
// as it was) when the new storage cannot be allocated or a size is not positive.
bool IEResizeBitmap(TIEBitmap& bitmap, int32_t width, int32_t height, bool filtered);

}  // namespace quirelle
