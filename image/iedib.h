// Import of packed device-independent bitmaps (DIBs): a BITMAPINFOHEADER, an optional colour
// table or colour masks, then the pixel rows, as Windows programs hand images to one another (the
// TWAIN native transfer delivers one). 1-bit DIBs become ie1g, every other depth ie24RGB.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ieglobalmem.h"

namespace quirelle {

class TIEBitmap;

// The Windows bitmap information header, 40 bytes little-endian, from its documented layout.
// biHeight > 0: rows stored bottom-up; < 0: top-down.
struct BITMAPINFOHEADER {
    uint32_t biSize = 0;  // the header's own size: the colour table or masks start this far in
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
inline constexpr uint32_t BITMAPINFOHEADER_SIZE = 40;
inline constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;

// Reads the header from the block's first 40 bytes; false when the block is shorter.
bool ReadBitmapInfoHeader(std::span<const uint8_t> block, BITMAPINFOHEADER& header);
// Writes the header's 40 bytes (for building DIBs).
void WriteBitmapInfoHeader(const BITMAPINFOHEADER& header, uint8_t* out);

// The largest image ImportDib allocates, in pixels (about 268 million).
inline constexpr int64_t IEMaxDibPixels = int64_t{1} << 28;

// Decodes the DIB that starts at the block's first byte into bitmap and returns its biBitCount.
// bits, when not null, holds the rows instead of the bytes after the header and colour table.
// Returns 0, leaving bitmap untouched, for a missing block or one too short for the header (or
// whose biSize is below 40). A zero or negative width, a zero height or an image above
// IEMaxDibPixels leaves bitmap empty. Top-down DIBs (negative biHeight) and RLE8/RLE4 data are
// decoded (pixels the run-length data leaves unset take colour-table entry 0). Nothing outside the
// block (or bits) is ever read: row bytes beyond it read as 0, table entries beyond it as black,
// masks beyond it as absent (the default layout). Depths and compressions that are not decoded
// (packed video formats among them) leave the allocated image black.
int32_t ImportDib(std::span<const uint8_t> block, TIEBitmap& bitmap, std::span<const uint8_t> bits = {});
// The same for a global-memory block, locked for the duration (its size bounds the reads).
int32_t ImportDib(HGLOBAL block, TIEBitmap& bitmap, std::span<const uint8_t> bits = {});

}  // namespace quirelle
