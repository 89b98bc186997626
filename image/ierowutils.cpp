#include "image/ierowutils.h"

#include <algorithm>
#include <cstring>

#include "image/iebitmap.h"
#include "image/ieconvert.h"

namespace quirelle {

void CopyBits(uint8_t* destination, const uint8_t* source, int32_t destinationBitOffset, int32_t sourceLength,
              int32_t bitCount, int32_t sourceBitOffset) {
    if (bitCount < 1 || destinationBitOffset < 0 || sourceBitOffset < 0 || sourceLength < 1) return;
    const uint8_t* src = source + (sourceBitOffset >> 3);
    const int srcShift = sourceBitOffset & 7;
    const int64_t available = int64_t{sourceLength} * 8 - srcShift;
    int64_t remaining = std::min<int64_t>(bitCount, available);
    if (remaining <= 0) return;
    uint8_t* dst = destination + (destinationBitOffset >> 3);
    int dstBit = destinationBitOffset & 7;

    if (srcShift == 0 && dstBit == 0) {
        const auto whole = static_cast<size_t>(remaining >> 3);
        std::memcpy(dst, src, whole);
        const int tail = static_cast<int>(remaining & 7);
        if (tail) {
            const auto mask = static_cast<uint8_t>(0xFF00 >> tail);
            dst[whole] = static_cast<uint8_t>((dst[whole] & ~mask) | (src[whole] & mask));
        }
        return;
    }
    // Up to 8 bits at a time: as many as are left in the current destination byte.
    const auto length = static_cast<size_t>(sourceLength);
    int64_t consumed = 0;  // source bits already copied, counted from the first one
    while (remaining > 0) {
        const int take = static_cast<int>(std::min<int64_t>(8 - dstBit, remaining));
        const int64_t p = srcShift + consumed;
        const auto at = static_cast<size_t>(p >> 3);
        const int off = static_cast<int>(p & 7);
        const unsigned window = (static_cast<unsigned>(src[at]) << 8) | (at + 1 < length ? src[at + 1] : 0u);
        const unsigned bits = (window >> (16 - off - take)) & ((1u << take) - 1);
        const int shift = 8 - dstBit - take;
        const auto mask = static_cast<uint8_t>(((1u << take) - 1) << shift);
        *dst = static_cast<uint8_t>((*dst & ~mask) | ((bits << shift) & mask));
        consumed += take;
        remaining -= take;
        dstBit += take;
        if (dstBit == 8) dstBit = 0, ++dst;
    }
}

void InvertRows(TIEBitmap& bitmap) {
    const int32_t height = bitmap.Height();
    const auto length = static_cast<size_t>(bitmap.RowLength());
    const uint8_t mode = bitmap.AccessMode;
    bitmap.AccessMode = ieaRead | ieaWrite;
    struct Restore {
        TIEBitmap& b;
        uint8_t mode;
        ~Restore() { b.AccessMode = mode; }
    } restore{bitmap, mode};
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        if (!row) break;
        size_t i = 0;
        for (; i + 8 <= length; i += 8) {
            uint64_t v;
            std::memcpy(&v, row + i, 8);
            v = ~v;
            std::memcpy(row + i, &v, 8);
        }
        for (; i < length; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    }
    TIEBitmapConverter::ReleaseRow(bitmap);
}

void CopySwapRB(uint8_t* destination, const uint8_t* source, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t first = source[3 * i], middle = source[3 * i + 1], third = source[3 * i + 2];
        destination[3 * i] = third;
        destination[3 * i + 1] = middle;
        destination[3 * i + 2] = first;
    }
}

void SwapRB(uint8_t* row, int32_t n) {
    for (int32_t i = 0; i < n; ++i) std::swap(row[3 * i], row[3 * i + 2]);
}

}  // namespace quirelle
