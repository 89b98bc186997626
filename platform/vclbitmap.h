// The platform bitmap behind TIEBitmap's Location ieTBitmap: a device-independent bitmap with
// bottom-up rows, each padded to a multiple of 4 bytes, in 1, 4, 8, 15/16, 24 or 32 bits per
// pixel, with a colour table of up to 256 entries for the indexed depths. The image view keeps
// its pictures in one of these; the image buffer can adopt one without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quirelle {

enum TPixelFormat : uint8_t { pfDevice = 0, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TRGBQuad {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }
    int32_t BitCount() const { return BitCountOf(format_); }

    // Resizing keeps the overlapping top-left part of the picture; new pixels are zero.
    void SetWidth(int32_t width) { SetSize(width, height_); }
    void SetHeight(int32_t height) { SetSize(width_, height); }
    void SetSize(int32_t width, int32_t height);
    // Changing the depth renders the picture in the new depth (indexed targets get a gray ramp or
    // black and white, and the nearest entry for each pixel). pfDevice means 24 bits here.
    void SetPixelFormat(TPixelFormat format);

    // True for a 1-bit bitmap whose two colours are black (entry 0) and white (entry 1).
    bool Monochrome() const;

    // Row y, 0 = top. Storage is bottom-up: row y+1 lies below row y in memory.
    uint8_t* ScanLine(int32_t y) { return bits_.data() + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(stride_); }
    const uint8_t* ScanLine(int32_t y) const {
        return bits_.data() + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(stride_);
    }
    int32_t RowStride() const { return stride_; }
    // Bytes of the whole picture (stride x height); 0 when empty.
    int64_t ImageSize() const { return static_cast<int64_t>(bits_.size()); }

    // The colour table; 2, 16 or 256 entries for the indexed depths, empty otherwise.
    std::vector<TRGBQuad>& ColorTable() {
        ++stamp_;  // the caller may change the table
        return colors_;
    }
    const std::vector<TRGBQuad>& ColorTable() const { return colors_; }

    // Colour of one pixel as (red, green, blue) packed red-first into bits 0..23.
    uint32_t PixelColor(int32_t x, int32_t y) const;

    // Grows whenever the size, the depth or (possibly) the colour table changes, so that users can
    // tell cheaply whether the bitmap changed behind their back.
    uint64_t ChangeStamp() const { return stamp_; }

    static int32_t BitCountOf(TPixelFormat format);
    static int32_t StrideFor(int32_t width, int32_t bitCount) {
        return static_cast<int32_t>(((static_cast<int64_t>(width) * bitCount + 31) >> 5) * 4);
    }

private:
    void Reallocate(int32_t width, int32_t height, TPixelFormat format, bool keep);
    int32_t width_ = 0;
    int32_t height_ = 0;
    TPixelFormat format_ = pf24bit;
    int32_t stride_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<TRGBQuad> colors_;
    uint64_t stamp_ = 1;
};

}  // namespace quirelle
