#include "image/iedib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "image/iebitmap.h"
#include "image/ieconvert.h"

namespace quirelle {

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }

// Bytes [offset, offset + length) of a block, clipped to it (empty when offset lies beyond).
std::span<const uint8_t> Clip(std::span<const uint8_t> block, uint64_t offset, uint64_t length) {
    if (offset >= block.size()) return {};
    return block.subspan(static_cast<size_t>(offset), static_cast<size_t>(std::min<uint64_t>(length, block.size() - offset)));
}

// One colour channel under a bit-field mask: the mask's lowest run of set bits, scaled to 8 bits
// (narrower channels end up in the high bits, wider ones keep their top 8 bits).
struct Channel {
    uint32_t mask = 0;
    int shift = 0, width = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        width = std::countr_one(m >> shift);
    }
    uint8_t Of(uint32_t v) const {
        if (!mask) return 0;
        const uint32_t bits = (v & mask) >> shift;
        return static_cast<uint8_t>(width >= 8 ? bits >> (width - 8) : bits << (8 - width));
    }
};

// Writes DIB rows into the buffer: stored row k is buffer row height - 1 - k (bottom-up) or k
// (top-down). Rows are only written, never read back from a temporary file.
class RowSink {
public:
    RowSink(TIEBitmap& bitmap, bool topDown)
        : bitmap_(bitmap), topDown_(topDown), height_(bitmap.Height()), mode_(bitmap.AccessMode) {
        bitmap.AccessMode = ieaWrite;
    }
    ~RowSink() {
        try {
            TIEBitmapConverter::ReleaseRow(bitmap_);
        } catch (...) {
            // The write-back error of the last row already surfaced through Finish, or the import
            // is being abandoned by another error.
        }
        bitmap_.AccessMode = mode_;
    }
    RowSink(const RowSink&) = delete;
    RowSink& operator=(const RowSink&) = delete;

    // The buffer row for stored row k, its fill bytes cleared; null past the last row.
    uint8_t* Row(int64_t k, size_t used) {
        if (k < 0 || k >= height_) return nullptr;
        const auto y = static_cast<int32_t>(topDown_ ? k : height_ - 1 - k);
        uint8_t* row = bitmap_.RowAddress(y);
        if (!row) return nullptr;
        const auto length = static_cast<size_t>(bitmap_.RowLength());
        if (length > used) std::memset(row + used, 0, length - used);
        return row;
    }
    void Finish() { TIEBitmapConverter::ReleaseRow(bitmap_); }

private:
    TIEBitmap& bitmap_;
    bool topDown_;
    int64_t height_;
    uint8_t mode_;
};

struct Layout {
    int64_t width = 0, height = 0, stride = 0;
    int bitCount = 0;
    bool topDown = false;
    std::array<BgrColor, 256> table{};
    int tableEntries = 0;  // entries actually inside the block
    std::span<const uint8_t> rows;
};

// Uncompressed rows: each stored row is decoded by decode(rowBytes, bufferRow) from a full copy
// of its stride (bytes beyond the block read as 0).
template <class Decode>
void ImportRows(const Layout& dib, RowSink& sink, size_t used, Decode decode) {
    std::vector<uint8_t> staging;  // for rows the block holds only part of (or none)
    const auto stride = static_cast<size_t>(dib.stride);
    for (int64_t k = 0; k < dib.height; ++k) {
        uint8_t* dst = sink.Row(k, used);
        if (!dst) break;
        const uint64_t start = static_cast<uint64_t>(k) * stride;
        const std::span<const uint8_t> present = Clip(dib.rows, start, stride);
        const uint8_t* src = present.data();
        if (present.size() < stride) {
            staging.assign(stride, 0);
            if (!present.empty()) std::memcpy(staging.data(), present.data(), present.size());
            src = staging.data();
        }
        decode(src, dst);
    }
}

// Run-length coded 8-bit (RLE8) or 4-bit (RLE4) indices. Pixels the data leaves unset (after a
// delta, an early end of line or end of bitmap, or truncated data) take colour-table entry 0.
void ImportRle(const Layout& dib, RowSink& sink, bool rle4) {
    const auto width = static_cast<size_t>(dib.width);
    const size_t used = width * 3;
    std::vector<uint8_t> indices(width, 0);
    int64_t k = 0, written = 0;
    size_t x = 0;
    auto put = [&](uint8_t* dst, const uint8_t* idx) {
        for (size_t i = 0; i < width; ++i) {
            const BgrColor& c = dib.table[idx[i]];
            dst[3 * i] = c.b, dst[3 * i + 1] = c.g, dst[3 * i + 2] = c.r;
        }
    };
    const std::vector<uint8_t> background(width, 0);
    // Writes stored row k (and, as background, the rows skipped before it).
    auto flush = [&] {
        for (; written < k && written < dib.height; ++written)
            if (uint8_t* dst = sink.Row(written, used)) put(dst, background.data());
        if (k < dib.height && written == k) {
            if (uint8_t* dst = sink.Row(k, used)) put(dst, indices.data());
            ++written;
        }
        std::fill(indices.begin(), indices.end(), uint8_t{0});
    };
    auto emit = [&](uint8_t index) {
        if (x < width) indices[x] = index;
        ++x;
    };
    const std::span<const uint8_t> data = dib.rows;
    size_t pos = 0;
    while (pos + 2 <= data.size() && k < dib.height) {
        const uint8_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) emit(rle4 ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            flush();
            ++k;
            x = 0;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta: move right dx pixels and up dy rows
            if (pos + 2 > data.size()) break;
            const uint8_t dx = data[pos], dy = data[pos + 1];
            pos += 2;
            if (dy > 0) {
                flush();
                k += dy;
            }
            x += dx;
        } else {  // absolute run of `value` pixels, padded to an even number of bytes
            const size_t bytes = rle4 ? (value + 1u) / 2 : value;
            const size_t present = std::min(bytes, data.size() - pos);
            for (size_t i = 0; i < value; ++i) {
                const size_t at = rle4 ? i / 2 : i;
                if (at >= present) break;
                const uint8_t b = data[pos + at];
                emit(rle4 ? ((i & 1) ? b & 15 : b >> 4) : b);
            }
            pos += bytes + (bytes & 1);
        }
    }
    flush();
    k = dib.height;
    flush();
}

}  // namespace

bool ReadBitmapInfoHeader(std::span<const uint8_t> block, BITMAPINFOHEADER& h) {
    if (!block.data() || block.size() < BITMAPINFOHEADER_SIZE) return false;
    const uint8_t* p = block.data();
    h.biSize = U32(p);
    h.biWidth = static_cast<int32_t>(U32(p + 4));
    h.biHeight = static_cast<int32_t>(U32(p + 8));
    h.biPlanes = U16(p + 12);
    h.biBitCount = U16(p + 14);
    h.biCompression = U32(p + 16);
    h.biSizeImage = U32(p + 20);
    h.biXPelsPerMeter = static_cast<int32_t>(U32(p + 24));
    h.biYPelsPerMeter = static_cast<int32_t>(U32(p + 28));
    h.biClrUsed = U32(p + 32);
    h.biClrImportant = U32(p + 36);
    return true;
}

void WriteBitmapInfoHeader(const BITMAPINFOHEADER& h, uint8_t* out) {
    PutU32(out, h.biSize);
    PutU32(out + 4, static_cast<uint32_t>(h.biWidth));
    PutU32(out + 8, static_cast<uint32_t>(h.biHeight));
    PutU16(out + 12, h.biPlanes);
    PutU16(out + 14, h.biBitCount);
    PutU32(out + 16, h.biCompression);
    PutU32(out + 20, h.biSizeImage);
    PutU32(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
    PutU32(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
    PutU32(out + 32, h.biClrUsed);
    PutU32(out + 36, h.biClrImportant);
}

int32_t ImportDib(std::span<const uint8_t> block, TIEBitmap& bitmap, std::span<const uint8_t> bits) {
    BITMAPINFOHEADER h;
    if (!ReadBitmapInfoHeader(block, h) || h.biSize < BITMAPINFOHEADER_SIZE) return 0;
    const int32_t bitCount = h.biBitCount;
    const TIEPixelFormat format = bitCount == 1 ? ie1g : ie24RGB;

    Layout dib;
    dib.bitCount = bitCount;
    dib.width = h.biWidth;
    dib.topDown = h.biHeight < 0;
    dib.height = dib.topDown ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    if (dib.width >= 1 && dib.height >= 1 && dib.width * dib.height > IEMaxDibPixels) {
        bitmap.Allocate(0, 0, format);  // refused like an allocation that fails: the buffer is empty
        return bitCount;
    }
    if (!bitmap.Allocate(h.biWidth, static_cast<int32_t>(dib.height), format)) return bitCount;
    dib.stride = (dib.width * bitCount + 31) / 32 * 4;

    // Bit-field masks: after a 40-byte header, or the header's own mask fields in the longer
    // header versions (which put them at the same offset).
    uint64_t offset = h.biSize;
    const bool bitFields = h.biCompression == BI_BITFIELDS && (bitCount == 16 || bitCount == 32);
    uint32_t masks[3] = {0, 0, 0};
    if (bitFields) {
        const uint64_t at = h.biSize >= 52 ? 40 : h.biSize;
        for (int i = 0; i < 3; ++i) {
            const std::span<const uint8_t> m = Clip(block, at + 4u * i, 4);
            if (m.size() == 4) masks[i] = U32(m.data());
        }
        if (h.biSize < 52) offset += 12;
    }
    if (!masks[0] && !masks[1] && !masks[2]) {
        if (bitCount == 16)
            masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        else
            masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }

    // Colour table: biClrUsed entries, or 2, 16, 256 for 1, 4, 8 bits when that is 0. Deeper
    // images may carry one too (for display); their rows follow it.
    const uint64_t entries =
        bitCount <= 8 && h.biClrUsed == 0 ? (uint64_t{1} << std::clamp(bitCount, 0, 8)) : h.biClrUsed;
    const std::span<const uint8_t> table = Clip(block, offset, 4 * entries);
    dib.tableEntries = static_cast<int>(std::min<size_t>(table.size() / 4, 256));
    for (int i = 0; i < dib.tableEntries; ++i) {
        const uint8_t* q = table.data() + 4 * i;
        dib.table[static_cast<size_t>(i)] = BgrColor{q[0], q[1], q[2]};
    }
    offset += 4 * entries;
    dib.rows = bits.data() ? bits : Clip(block, offset, UINT64_MAX);

    RowSink sink(bitmap, dib.topDown);
    const auto width = static_cast<size_t>(dib.width);
    const uint32_t compression = h.biCompression;
    if (bitCount == 1 && compression == BI_RGB) {
        // The rows are ie1g rows already; a table of white then black means 1 = black.
        const bool invert = dib.tableEntries >= 2 && dib.table[0] == BgrColor{255, 255, 255} &&
                            dib.table[1] == BgrColor{0, 0, 0};
        const auto length = std::min<size_t>(static_cast<size_t>(dib.stride), static_cast<size_t>(bitmap.RowLength()));
        ImportRows(dib, sink, length, [&](const uint8_t* src, uint8_t* dst) {
            std::memcpy(dst, src, length);
            if (invert)
                for (size_t i = 0; i < length; ++i) dst[i] = static_cast<uint8_t>(~dst[i]);
        });
    } else if (bitCount == 4 && compression == BI_RGB) {
        ImportRows(dib, sink, width * 3, [&](const uint8_t* src, uint8_t* dst) {
            for (size_t x = 0; x < width; ++x) {
                const uint8_t index = (x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4;
                const BgrColor& c = dib.table[index];
                dst[3 * x] = c.b, dst[3 * x + 1] = c.g, dst[3 * x + 2] = c.r;
            }
        });
    } else if (bitCount == 8 && compression == BI_RGB) {
        ImportRows(dib, sink, width * 3, [&](const uint8_t* src, uint8_t* dst) {
            for (size_t x = 0; x < width; ++x) {
                const BgrColor& c = dib.table[src[x]];
                dst[3 * x] = c.b, dst[3 * x + 1] = c.g, dst[3 * x + 2] = c.r;
            }
        });
    } else if ((bitCount == 8 && compression == BI_RLE8) || (bitCount == 4 && compression == BI_RLE4)) {
        ImportRle(dib, sink, bitCount == 4);
    } else if ((bitCount == 16 || bitCount == 32) && (compression == BI_RGB || compression == BI_BITFIELDS)) {
        const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
        const bool plain32 = bitCount == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
        ImportRows(dib, sink, width * 3, [&](const uint8_t* src, uint8_t* dst) {
            if (plain32) {
                for (size_t x = 0; x < width; ++x)
                    dst[3 * x] = src[4 * x], dst[3 * x + 1] = src[4 * x + 1], dst[3 * x + 2] = src[4 * x + 2];
                return;
            }
            for (size_t x = 0; x < width; ++x) {
                const uint32_t v = bitCount == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
                dst[3 * x] = blue.Of(v), dst[3 * x + 1] = green.Of(v), dst[3 * x + 2] = red.Of(v);
            }
        });
    } else if (bitCount == 24 && compression == BI_RGB) {
        ImportRows(dib, sink, width * 3, [&](const uint8_t* src, uint8_t* dst) { std::memcpy(dst, src, width * 3); });
    } else {
        // Depths and compressions this import does not decode (packed video formats among them)
        // leave the image black.
        for (int64_t k = 0; k < dib.height; ++k) sink.Row(k, 0);
    }
    sink.Finish();
    return bitCount;
}

int32_t ImportDib(HGLOBAL block, TIEBitmap& bitmap, std::span<const uint8_t> bits) {
    void* address = GlobalLock(block);
    if (!address) return 0;
    struct Unlock {
        HGLOBAL block;
        ~Unlock() { GlobalUnlock(block); }
    } unlock{block};
    return ImportDib(std::span<const uint8_t>(static_cast<const uint8_t*>(address), GlobalSize(block)), bitmap, bits);
}

}  // namespace quirelle
