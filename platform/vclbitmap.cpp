#include "platform/vclbitmap.h"

#include <algorithm>
#include <cstring>

namespace quirelle {

int32_t TBitmap::BitCountOf(TPixelFormat format) {
    switch (format) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit:
        case pf16bit: return 16;
        case pf32bit: return 32;
        case pfDevice:
        case pf24bit:
        case pfCustom: return 24;
    }
    return 24;
}

namespace {

std::vector<TRGBQuad> DefaultTable(TPixelFormat format) {
    std::vector<TRGBQuad> table;
    if (format == pf1bit) {
        table = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
    } else if (format == pf4bit) {
        for (int i = 0; i < 16; ++i) {
            const auto v = static_cast<uint8_t>(i * 17);
            table.push_back({v, v, v, 0});
        }
    } else if (format == pf8bit) {
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<uint8_t>(i);
            table.push_back({v, v, v, 0});
        }
    }
    return table;
}

int NearestEntry(const std::vector<TRGBQuad>& table, uint32_t rgb) {
    const int r = rgb & 255, g = (rgb >> 8) & 255, b = (rgb >> 16) & 255;
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < table.size(); ++i) {
        const long dr = r - table[i].rgbRed, dg = g - table[i].rgbGreen, db = b - table[i].rgbBlue;
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

}  // namespace

void TBitmap::Reallocate(int32_t width, int32_t height, TPixelFormat format, bool keep) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (format == pfDevice || format == pfCustom) format = pf24bit;
    const int32_t bitCount = BitCountOf(format);
    const int32_t stride = StrideFor(width, bitCount);
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * static_cast<size_t>(height));
    std::vector<TRGBQuad> colors = format == format_ && !colors_.empty() ? colors_ : DefaultTable(format);

    if (keep && !bits_.empty() && width > 0 && height > 0) {
        const int32_t rows = std::min(height, height_);
        const int32_t cols = std::min(width, width_);
        if (format == format_) {
            const size_t bytes = std::min<size_t>(static_cast<size_t>(stride), static_cast<size_t>(stride_));
            for (int32_t y = 0; y < rows; ++y)
                std::memcpy(bits.data() + static_cast<size_t>(height - 1 - y) * stride, ScanLine(y), bytes);
        } else {
            // Render every kept pixel in the new depth.
            for (int32_t y = 0; y < rows; ++y) {
                uint8_t* row = bits.data() + static_cast<size_t>(height - 1 - y) * stride;
                for (int32_t x = 0; x < cols; ++x) {
                    const uint32_t c = PixelColor(x, y);
                    const uint8_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
                    switch (format) {
                        case pf1bit:
                            if (NearestEntry(colors, c)) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                            break;
                        case pf4bit:
                            row[x >> 1] |= static_cast<uint8_t>(NearestEntry(colors, c) << ((x & 1) ? 0 : 4));
                            break;
                        case pf8bit: row[x] = static_cast<uint8_t>(NearestEntry(colors, c)); break;
                        case pf15bit: {
                            const uint16_t v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                            std::memcpy(row + 2 * x, &v, 2);
                            break;
                        }
                        case pf16bit: {
                            const uint16_t v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
                            std::memcpy(row + 2 * x, &v, 2);
                            break;
                        }
                        case pf32bit:
                            row[4 * x] = b, row[4 * x + 1] = g, row[4 * x + 2] = r, row[4 * x + 3] = 0;
                            break;
                        default: row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r; break;
                    }
                }
            }
        }
    }
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = stride;
    bits_.swap(bits);
    colors_.swap(colors);
    ++stamp_;
}

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width == width_ && height == height_) return;
    Reallocate(width, height, format_, true);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == pfDevice || format == pfCustom) format = pf24bit;
    if (format == format_) return;
    Reallocate(width_, height_, format, true);
}

bool TBitmap::Monochrome() const {
    return format_ == pf1bit && colors_.size() == 2 && colors_[0] == TRGBQuad{0, 0, 0, 0} &&
           colors_[1].rgbRed == 255 && colors_[1].rgbGreen == 255 && colors_[1].rgbBlue == 255;
}

uint32_t TBitmap::PixelColor(int32_t x, int32_t y) const {
    const uint8_t* row = ScanLine(y);
    auto fromTable = [&](int index) -> uint32_t {
        if (index < 0 || static_cast<size_t>(index) >= colors_.size()) return 0;
        const TRGBQuad& q = colors_[static_cast<size_t>(index)];
        return q.rgbRed | (q.rgbGreen << 8) | (q.rgbBlue << 16);
    };
    switch (format_) {
        case pf1bit: return fromTable((row[x >> 3] >> (7 - (x & 7))) & 1);
        case pf4bit: return fromTable((x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4);
        case pf8bit: return fromTable(row[x]);
        case pf15bit: {
            uint16_t v;
            std::memcpy(&v, row + 2 * x, 2);
            const uint32_t r = ((v >> 10) & 31) * 255 / 31, g = ((v >> 5) & 31) * 255 / 31, b = (v & 31) * 255 / 31;
            return r | (g << 8) | (b << 16);
        }
        case pf16bit: {
            uint16_t v;
            std::memcpy(&v, row + 2 * x, 2);
            const uint32_t r = ((v >> 11) & 31) * 255 / 31, g = ((v >> 5) & 63) * 255 / 63, b = (v & 31) * 255 / 31;
            return r | (g << 8) | (b << 16);
        }
        case pf32bit: return row[4 * x + 2] | (row[4 * x + 1] << 8) | (row[4 * x] << 16);
        default: return row[3 * x + 2] | (row[3 * x + 1] << 8) | (row[3 * x] << 16);
    }
}

}  // namespace quirelle
