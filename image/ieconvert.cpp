// Pixel-format conversion: the matrix of per-pixel rules between the eleven formats, the
// mean-luminance threshold and ordered dither to ie1g, the quantizer route to ie8p and the
// gray-range rule. Rows are converted one at a time through RowAddress on both buffers, so
// buffers in temporary files are never loaded whole. Sources whose rule goes through ie24RGB are
// converted row by row into a scratch row; the source buffer itself is never changed.
#include "image/ieconvert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/iequantize.h"

namespace quirelle {

const uint8_t IEDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

namespace {

// trunc(v x 255) and trunc(v x 65535), computed in single precision so that g / 255 and w / 65535
// come back as g and w. The format is defined for 0.0..1.0: values outside (and NaN) are clamped.
inline uint8_t FloatToByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<uint8_t>(v * 255.0f);
}
inline uint16_t FloatToWord(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 65535;
    return static_cast<uint16_t>(v * 65535.0f);
}

inline uint32_t GetWord(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline void PutWord(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline float GetFloat(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void PutFloat(uint8_t* p, float v) { std::memcpy(p, &v, 4); }

// The global gray weights, read once per conversion (stores through byte pointers would otherwise
// make the compiler reload them for every pixel).
struct Weights {
    int32_t r = GrayWeightRed, g = GrayWeightGreen, b = GrayWeightBlue;
    uint8_t Gray(int32_t red, int32_t green, int32_t blue) const {
        return static_cast<uint8_t>((r * red + g * green + b * blue) / 100);
    }
};

// GrayOf8 over rows of blue-green-red pixels. With the usual weights (none negative, summing to
// at most 100) the weighted sum v is at most 25,500, where v / 100 equals (v x 5243) >> 19
// exactly; the three products, premultiplied by 5243, then come from tables, which keeps the
// loop free of multiplications.
class GrayRows {
public:
    GrayRows() {
        const Weights w;
        fast_ = w.r >= 0 && w.g >= 0 && w.b >= 0 && w.r + w.g + w.b <= 100;
        if (!fast_) return;
        for (uint32_t c = 0; c < 256; ++c) {
            red_[c] = static_cast<uint32_t>(w.r) * c * 5243u;
            green_[c] = static_cast<uint32_t>(w.g) * c * 5243u;
            blue_[c] = static_cast<uint32_t>(w.b) * c * 5243u;
        }
    }
    void Convert(const uint8_t* __restrict bgr, uint8_t* __restrict gray, int32_t n) const {
        if (!fast_) {
            const Weights w;
            for (int32_t x = 0; x < n; ++x) gray[x] = w.Gray(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]);
            return;
        }
        for (int32_t x = 0; x < n; ++x)
            gray[x] = static_cast<uint8_t>((red_[bgr[3 * x + 2]] + green_[bgr[3 * x + 1]] + blue_[bgr[3 * x]]) >> 19);
    }

private:
    bool fast_ = false;
    uint32_t red_[256], green_[256], blue_[256];
};

// Restores both buffers' access modes and writes back their last mapped rows.
class AccessScope {
public:
    AccessScope(TIEBitmap& source, TIEBitmap& target)
        : source_(source), target_(target), sourceMode_(source.AccessMode), targetMode_(target.AccessMode) {
        source.AccessMode = ieaRead;   // rows only read are never written back
        target.AccessMode = ieaWrite;  // rows about to be overwritten are never read
    }
    ~AccessScope() {
        try {
            TIEBitmapConverter::ReleaseRow(target_);
            TIEBitmapConverter::ReleaseRow(source_);
        } catch (...) {
            // A failed write-back already raised from the conversion itself, or the buffer is
            // being abandoned; nothing more can be done here.
        }
        source_.AccessMode = sourceMode_;
        target_.AccessMode = targetMode_;
    }
    AccessScope(const AccessScope&) = delete;
    AccessScope& operator=(const AccessScope&) = delete;

    // Writes back the target's last row; a failure to do so raises from here.
    void Finish() { TIEBitmapConverter::ReleaseRow(target_); }

private:
    TIEBitmap& source_;
    TIEBitmap& target_;
    uint8_t sourceMode_, targetMode_;
};

class Converter {
public:
    Converter(TIEBitmap& source, TIEBitmap& target)
        : s_(source),
          t_(target),
          from_(source.Format()),
          to_(target.Format()),
          w_(source.Width()),
          h_(source.Height()),
          bgr_(static_cast<size_t>(std::max(w_, 256)) * 3),
          gray_(static_cast<size_t>(std::max(w_, 256))) {
        if (from_ == ie8p)
            for (int32_t i = 0; i < 256; ++i) palette_[static_cast<size_t>(i)] = source.GetPaletteEntry(i);
        const double span = target.GrayRangeHigh - target.GrayRangeLow;
        if (span != 0 && std::isfinite(span) && std::isfinite(target.GrayRangeLow)) {
            rangeActive_ = true;
            rangeLow_ = target.GrayRangeLow;
            rangeHigh_ = target.GrayRangeHigh;
        }
    }

    void Run() {
        if (from_ == to_ || w_ <= 0 || h_ <= 0) return;
        AccessScope scope(s_, t_);
        switch (to_) {
            case ie1g:
                if (t_.BilevelMethod == 0)
                    ToDither();
                else
                    ToThreshold();
                break;
            case ie8p: ToPalette(); break;
            default: ToPerPixel(); break;
        }
        scope.Finish();
        if (rangeUsed_) t_.GrayRangeLow = t_.GrayRangeHigh = 0;
    }

private:
    // Calls f(sourceRow, targetRow, y) for every row, then clears the target row's fill bytes.
    template <class F>
    void EachRow(F f) {
        const size_t used = static_cast<size_t>((static_cast<int64_t>(w_) * IEBitsPerPixelOf(to_) + 7) / 8);
        for (int32_t y = 0; y < h_; ++y) {
            const uint8_t* src = s_.RowAddress(y);
            if (!src) return;
            uint8_t* dst = t_.RowAddress(y);
            if (!dst) return;
            f(src, dst, y);
            const auto length = static_cast<size_t>(t_.RowLength());
            if (length > used) std::memset(dst + used, 0, length - used);
        }
    }
    // Calls f(sourceRow) for every row (first passes that only read).
    template <class F>
    void EachSourceRow(F f) {
        for (int32_t y = 0; y < h_; ++y) {
            const uint8_t* src = s_.RowAddress(y);
            if (!src) return;
            f(src);
        }
    }

    // --- the source's rule to ie24RGB (withRange: apply the target's gray range to gray sources;
    // without it the pixel reads as PixelAsBgr reads it)
    void RowToBgr(const uint8_t* src, uint8_t* bgr, int32_t n, bool withRange) {
        switch (from_) {
            case ie1g:
                for (int32_t x = 0; x < n; ++x) {
                    const uint8_t v = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                    bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = v;
                }
                break;
            case ie8p:
                for (int32_t x = 0; x < n; ++x) {
                    const BgrColor& c = palette_[src[x]];
                    bgr[3 * x] = c.b, bgr[3 * x + 1] = c.g, bgr[3 * x + 2] = c.r;
                }
                break;
            case ie8g:
                if (withRange && rangeActive_) {
                    const uint8_t* lut = RangeLut(256);
                    for (int32_t x = 0; x < n; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = lut[src[x]];
                } else {
                    for (int32_t x = 0; x < n; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = src[x];
                }
                break;
            case ie16gray:
                if (withRange && rangeActive_) {
                    const uint8_t* lut = RangeLut(65536);
                    for (int32_t x = 0; x < n; ++x)
                        bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = lut[GetWord(src + 2 * x)];
                } else {
                    for (int32_t x = 0; x < n; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = src[2 * x + 1];
                }
                break;
            case ie24RGB: std::memcpy(bgr, src, static_cast<size_t>(n) * 3); break;
            case ie32f:
                for (int32_t x = 0; x < n; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = FloatToByte(GetFloat(src + 4 * x));
                break;
            case ieCMYK: CmykRowToBgr(src, bgr, n); break;
            case ieRGB48:
                for (int32_t x = 0; x < n; ++x) {
                    const uint8_t* p = src + 6 * x;
                    bgr[3 * x] = p[5], bgr[3 * x + 1] = p[3], bgr[3 * x + 2] = p[1];
                }
                break;
            case ieCIELab: {
                uint32_t last = 0xFFFFFFFF;
                BgrColor c;
                for (int32_t x = 0; x < n; ++x) {
                    const uint8_t* p = src + 3 * x;
                    const uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
                    if (key != last) {
                        last = key;
                        c = LabToRgb(TCIELab{p[0], static_cast<int8_t>(p[1]), static_cast<int8_t>(p[2])});
                    }
                    bgr[3 * x] = c.b, bgr[3 * x + 1] = c.g, bgr[3 * x + 2] = c.r;
                }
                break;
            }
            case ie32RGBX:
                for (int32_t x = 0; x < n; ++x) {
                    const uint8_t* p = src + 4 * x;
                    bgr[3 * x] = p[0], bgr[3 * x + 1] = p[1], bgr[3 * x + 2] = p[2];
                }
                break;
            default: std::memset(bgr, 0, static_cast<size_t>(n) * 3); break;
        }
    }

    // The gray-range rule for gray values 0..size-1: clamp to trunc(low)..trunc(high), then
    // trunc((v - trunc(low)) / (high - low) x 255), held to 0..255.
    const uint8_t* RangeLut(size_t size) {
        rangeUsed_ = true;
        if (rangeLut_.size() != size) {
            rangeLut_.resize(size);
            const double lo = std::trunc(rangeLow_), hi = std::trunc(rangeHigh_);
            for (size_t v = 0; v < size; ++v) {
                const double clamped = std::max(lo, std::min(static_cast<double>(v), hi));
                const double out = std::trunc((clamped - lo) / (rangeHigh_ - rangeLow_) * 255.0);
                rangeLut_[v] = static_cast<uint8_t>(std::isnan(out) ? 0.0 : std::clamp(out, 0.0, 255.0));
            }
        }
        return rangeLut_.data();
    }

    // --- ie24RGB to the per-pixel targets
    void BgrTo(const uint8_t* bgr, uint8_t* dst, int32_t n) {
        const Weights wt;
        switch (to_) {
            case ie8g: gray8_.Convert(bgr, dst, n); break;
            case ie16gray:
                for (int32_t x = 0; x < n; ++x) PutWord(dst + 2 * x, GrayOf16(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]));
                break;
            case ie24RGB: std::memcpy(dst, bgr, static_cast<size_t>(n) * 3); break;
            case ie32f:
                for (int32_t x = 0; x < n; ++x) PutFloat(dst + 4 * x, FloatGray(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]));
                break;
            case ieCMYK: BgrRowToCmyk(bgr, dst, n); break;
            case ieRGB48:
                for (int32_t x = 0; x < n; ++x) {
                    uint8_t* p = dst + 6 * x;
                    PutWord(p, bgr[3 * x + 2] * 257u);
                    PutWord(p + 2, bgr[3 * x + 1] * 257u);
                    PutWord(p + 4, bgr[3 * x] * 257u);
                }
                break;
            case ieCIELab: {
                uint32_t last = 0xFFFFFFFF;
                TCIELab lab;
                for (int32_t x = 0; x < n; ++x) {
                    const uint8_t* p = bgr + 3 * x;
                    const uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
                    if (key != last) last = key, lab = RgbToLab(p[2], p[1], p[0]);
                    dst[3 * x] = lab.l, dst[3 * x + 1] = static_cast<uint8_t>(lab.a), dst[3 * x + 2] = static_cast<uint8_t>(lab.b);
                }
                break;
            }
            case ie32RGBX:
                for (int32_t x = 0; x < n; ++x) {
                    uint8_t* p = dst + 4 * x;
                    p[0] = bgr[3 * x], p[1] = bgr[3 * x + 1], p[2] = bgr[3 * x + 2], p[3] = 255;
                }
                break;
            default: break;
        }
    }

    // --- the rules that do not go through ie24RGB; false when the pair has none
    bool Direct(const uint8_t* src, uint8_t* dst, int32_t n) {
        switch (from_) {
            case ie1g: {
                auto bit = [src](int32_t x) { return (src[x >> 3] & (0x80 >> (x & 7))) != 0; };
                switch (to_) {
                    case ie8g:
                        for (int32_t x = 0; x < n; ++x) dst[x] = bit(x) ? 255 : 0;
                        return true;
                    case ie16gray:
                        for (int32_t x = 0; x < n; ++x) PutWord(dst + 2 * x, bit(x) ? 65535 : 0);
                        return true;
                    case ie32f:
                        for (int32_t x = 0; x < n; ++x) PutFloat(dst + 4 * x, bit(x) ? 1.0f : 0.0f);
                        return true;
                    case ieRGB48:
                        for (int32_t x = 0; x < n; ++x) std::memset(dst + 6 * x, bit(x) ? 255 : 0, 6);
                        return true;
                    case ie32RGBX:
                        for (int32_t x = 0; x < n; ++x) {
                            const uint8_t v = bit(x) ? 255 : 0;
                            dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = v, dst[4 * x + 3] = 255;
                        }
                        return true;
                    default: return false;
                }
            }
            case ie8g:
                switch (to_) {
                    case ie16gray:
                        for (int32_t x = 0; x < n; ++x) PutWord(dst + 2 * x, src[x] * 257u);
                        return true;
                    case ie32f:
                        for (int32_t x = 0; x < n; ++x) PutFloat(dst + 4 * x, static_cast<float>(src[x]) / 255.0f);
                        return true;
                    case ieRGB48:
                        for (int32_t x = 0; x < n; ++x)
                            for (int c = 0; c < 3; ++c) PutWord(dst + 6 * x + 2 * c, src[x] * 257u);
                        return true;
                    case ie32RGBX:
                        for (int32_t x = 0; x < n; ++x)
                            dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = src[x], dst[4 * x + 3] = 255;
                        return true;
                    default: return false;
                }
            case ie16gray:
                switch (to_) {
                    case ie8g:
                        for (int32_t x = 0; x < n; ++x) dst[x] = src[2 * x + 1];
                        return true;
                    case ie32f:
                        for (int32_t x = 0; x < n; ++x)
                            PutFloat(dst + 4 * x, static_cast<float>(GetWord(src + 2 * x)) / 65535.0f);
                        return true;
                    case ieRGB48:
                        for (int32_t x = 0; x < n; ++x)
                            for (int c = 0; c < 3; ++c) dst[6 * x + 2 * c] = src[2 * x], dst[6 * x + 2 * c + 1] = src[2 * x + 1];
                        return true;
                    case ie32RGBX:
                        for (int32_t x = 0; x < n; ++x)
                            dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = src[2 * x + 1], dst[4 * x + 3] = 255;
                        return true;
                    default: return false;
                }
            case ie32f:
                switch (to_) {
                    case ie8g:
                        for (int32_t x = 0; x < n; ++x) dst[x] = FloatToByte(GetFloat(src + 4 * x));
                        return true;
                    case ie16gray:
                        for (int32_t x = 0; x < n; ++x) PutWord(dst + 2 * x, FloatToWord(GetFloat(src + 4 * x)));
                        return true;
                    case ieRGB48:
                        for (int32_t x = 0; x < n; ++x) {
                            const uint16_t v = FloatToWord(GetFloat(src + 4 * x));
                            for (int c = 0; c < 3; ++c) PutWord(dst + 6 * x + 2 * c, v);
                        }
                        return true;
                    case ie32RGBX:
                        for (int32_t x = 0; x < n; ++x) {
                            const uint8_t v = FloatToByte(GetFloat(src + 4 * x));
                            dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = v, dst[4 * x + 3] = 255;
                        }
                        return true;
                    default: return false;
                }
            case ieRGB48: {
                const Weights wt;
                switch (to_) {
                    case ie8g:
                        for (int32_t x = 0; x < n; ++x) dst[x] = wt.Gray(src[6 * x + 1], src[6 * x + 3], src[6 * x + 5]);
                        return true;
                    case ie16gray:
                        for (int32_t x = 0; x < n; ++x)
                            PutWord(dst + 2 * x, GrayOfWords(GetWord(src + 6 * x), GetWord(src + 6 * x + 2),
                                                             GetWord(src + 6 * x + 4)));
                        return true;
                    case ie32f:
                        // The weighted 16-bit sum over 65535, so that white is exactly 1.0.
                        for (int32_t x = 0; x < n; ++x) {
                            const double v = 0.2126 * GetWord(src + 6 * x) + 0.7152 * GetWord(src + 6 * x + 2) +
                                             0.0722 * GetWord(src + 6 * x + 4);
                            PutFloat(dst + 4 * x, static_cast<float>(v / 65535.0));
                        }
                        return true;
                    case ie32RGBX:
                        for (int32_t x = 0; x < n; ++x) {
                            const uint8_t* p = src + 6 * x;
                            dst[4 * x] = p[5], dst[4 * x + 1] = p[3], dst[4 * x + 2] = p[1], dst[4 * x + 3] = 255;
                        }
                        return true;
                    default: return false;
                }
            }
            default: return false;
        }
    }

    // One row of a per-pixel target.
    void PixelRow(const uint8_t* src, uint8_t* dst, int32_t n) {
        if (to_ == ie24RGB) return RowToBgr(src, dst, n, true);
        if (from_ == ie24RGB) return BgrTo(src, dst, n);
        if (Direct(src, dst, n)) return;
        RowToBgr(src, bgr_.data(), n, true);
        BgrTo(bgr_.data(), dst, n);
    }

    // Targets whose pixel depends only on the source pixel.
    void ToPerPixel() {
        if (from_ == ie8p || from_ == ie8g) {
            // One byte in: convert the 256 possible pixels once, then look them up.
            const auto size = static_cast<size_t>(IEBitsPerPixelOf(to_) / 8);
            // (The identity row is sized for any source format, though only its first 256
            // bytes are read.)
            std::vector<uint8_t> identity(256 * 8, 0), lut(256 * size);
            for (int i = 0; i < 256; ++i) identity[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            PixelRow(identity.data(), lut.data(), 256);
            const uint8_t* table = lut.data();
            EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) {
                switch (size) {
                    case 1:
                        for (int32_t x = 0; x < w_; ++x) dst[x] = table[src[x]];
                        break;
                    case 2:
                        for (int32_t x = 0; x < w_; ++x) std::memcpy(dst + 2 * x, table + 2 * src[x], 2);
                        break;
                    case 3:
                        for (int32_t x = 0; x < w_; ++x) std::memcpy(dst + 3 * x, table + 3 * src[x], 3);
                        break;
                    case 4:
                        for (int32_t x = 0; x < w_; ++x) std::memcpy(dst + 4 * x, table + 4 * src[x], 4);
                        break;
                    default:
                        for (int32_t x = 0; x < w_; ++x) std::memcpy(dst + size * x, table + size * src[x], size);
                        break;
                }
            });
            return;
        }
        EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) { PixelRow(src, dst, w_); });
    }

    // GrayOf8 of each pixel read as colour (as PixelAsBgr reads it).
    void ColorGrayRow(const uint8_t* src, uint8_t* gray) {
        const Weights wt;
        const uint8_t* bgr = src;
        if (from_ != ie24RGB) {
            RowToBgr(src, bgr_.data(), w_, false);
            bgr = bgr_.data();
        }
        gray8_.Convert(bgr, gray, w_);
    }

    // Packs one ie1g row: bit x is white when white(x).
    template <class White>
    void PackBits(uint8_t* dst, White white) {
        for (int32_t x0 = 0; x0 < w_; x0 += 8) {
            const int32_t count = std::min(8, w_ - x0);
            uint8_t byte = 0;
            for (int32_t i = 0; i < count; ++i)
                if (white(x0 + i, i)) byte |= static_cast<uint8_t>(0x80 >> i);
            dst[x0 >> 3] = byte;
        }
    }

    // Ordered dither: white where the matrix entry is below the pixel's level (its gray / 4).
    void ToDither() {
        EachRow([&](const uint8_t* src, uint8_t* dst, int32_t y) {
            uint8_t* gray = gray_.data();
            switch (from_) {
                case ie8g: std::memcpy(gray, src, static_cast<size_t>(w_)); break;
                case ie16gray:
                    for (int32_t x = 0; x < w_; ++x) gray[x] = src[2 * x + 1];
                    break;
                case ie32f:
                    for (int32_t x = 0; x < w_; ++x) gray[x] = FloatToByte(GetFloat(src + 4 * x));
                    break;
                default: ColorGrayRow(src, gray); break;
            }
            uint8_t column[8];
            for (int i = 0; i < 8; ++i) column[i] = IEDitherMatrix[i][y & 7];
            PackBits(dst, [&](int32_t x, int32_t i) { return column[i] < (gray[x] >> 2); });
        });
    }

    // Threshold at the mean luminance: the mean colour is the mean over rows of each row's
    // integer mean channel values; pixels at or above its gray are white. The threshold is at
    // least 1, so black pixels always stay black.
    void ToThreshold() {
        uint64_t sum[3] = {0, 0, 0};
        EachSourceRow([&](const uint8_t* src) {
            const uint8_t* bgr = src;
            if (from_ != ie24RGB) {
                RowToBgr(src, bgr_.data(), w_, false);
                bgr = bgr_.data();
            }
            uint64_t row[3] = {0, 0, 0};
            for (int32_t x = 0; x < w_; ++x) row[0] += bgr[3 * x], row[1] += bgr[3 * x + 1], row[2] += bgr[3 * x + 2];
            for (int c = 0; c < 3; ++c) sum[c] += row[c] / static_cast<uint64_t>(w_);
        });
        const Weights wt;
        const auto rows = static_cast<uint64_t>(h_);
        const int32_t threshold = std::max<int32_t>(
            1, wt.Gray(static_cast<int32_t>(sum[2] / rows), static_cast<int32_t>(sum[1] / rows),
                       static_cast<int32_t>(sum[0] / rows)));
        EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) {
            ColorGrayRow(src, gray_.data());
            const uint8_t* gray = gray_.data();
            PackBits(dst, [&](int32_t x, int32_t) { return gray[x] >= threshold; });
        });
    }

    void ToPalette() {
        switch (from_) {
            case ie1g:
                t_.SetPaletteEntry(0, BgrColor{0, 0, 0});
                t_.SetPaletteEntry(1, BgrColor{255, 255, 255});
                EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) {
                    for (int32_t x = 0; x < w_; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
                });
                return;
            case ie8g:
            case ie16gray:
            case ie32f:
                for (int i = 0; i < 256; ++i) {
                    const auto v = static_cast<uint8_t>(i);
                    t_.SetPaletteEntry(i, BgrColor{v, v, v});
                }
                EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) {
                    if (from_ == ie8g)
                        std::memcpy(dst, src, static_cast<size_t>(w_));
                    else if (from_ == ie16gray)
                        for (int32_t x = 0; x < w_; ++x) dst[x] = src[2 * x + 1];
                    else
                        for (int32_t x = 0; x < w_; ++x) dst[x] = FloatToByte(GetFloat(src + 4 * x));
                });
                return;
            default: break;
        }
        // Colour sources: the quantizer sees the whole image first, then maps every pixel.
        TIEColorQuantizer quantizer(t_.QuantizeColors);
        EachSourceRow([&](const uint8_t* src) {
            if (from_ == ie24RGB) return quantizer.AddPixels(src, w_);
            RowToBgr(src, bgr_.data(), w_, true);
            quantizer.AddPixels(bgr_.data(), w_);
        });
        quantizer.Build();
        for (int i = 0; i < 256; ++i) t_.SetPaletteEntry(i, quantizer.Palette()[static_cast<size_t>(i)]);
        EachRow([&](const uint8_t* src, uint8_t* dst, int32_t) {
            const uint8_t* bgr = src;
            if (from_ != ie24RGB) {
                RowToBgr(src, bgr_.data(), w_, true);
                bgr = bgr_.data();
            }
            quantizer.MapPixels(bgr, dst, w_);
        });
    }

    TIEBitmap& s_;
    TIEBitmap& t_;
    TIEPixelFormat from_, to_;
    int32_t w_, h_;
    std::array<BgrColor, 256> palette_{};
    bool rangeActive_ = false, rangeUsed_ = false;
    double rangeLow_ = 0, rangeHigh_ = 0;
    std::vector<uint8_t> rangeLut_;
    std::vector<uint8_t> bgr_, gray_;
    GrayRows gray8_;
};

// Platform bitmap depth that holds a buffer format, or pfCustom when none does.
TPixelFormat PlatformFormatFor(TIEPixelFormat format) {
    switch (format) {
        case ie1g: return pf1bit;
        case ie8p:
        case ie8g: return pf8bit;
        case ie24RGB: return pf24bit;
        case ie32RGBX: return pf32bit;
        default: return pfCustom;
    }
}

}  // namespace

void TIEBitmapConverter::CopyPixels(TIEBitmap& source, TIEBitmap& target) {
    if (&source == &target || source.IsEmpty() || target.IsEmpty()) return;
    if (source.Width() != target.Width() || source.Height() != target.Height()) return;
    Converter(source, target).Run();
}

bool TIEBitmapConverter::ConvertStored(TIEBitmap& bitmap, TIEPixelFormat format) {
    if (format == bitmap.format_) return true;
    if (format == ieNoFormat || format == ieVirtual || format >= kPixelFormatCount) return false;
    if (bitmap.format_ == ieNoFormat || bitmap.IsEmpty()) {
        // No pixels to carry over: storage in the new format for the size the buffer has.
        return bitmap.Allocate(bitmap.width_, bitmap.height_, format);
    }
    // The new storage is built beside the old pixels, which stay untouched until it is filled.
    TIEBitmap fresh;
    fresh.location_ = bitmap.location_;
    fresh.rowAlignment_ = bitmap.rowAlignment_;
    fresh.AssignSettings(bitmap);
    if (!fresh.Allocate(bitmap.width_, bitmap.height_, format)) return false;
    CopyPixels(bitmap, fresh);
    bitmap.GrayRangeLow = fresh.GrayRangeLow;
    bitmap.GrayRangeHigh = fresh.GrayRangeHigh;
    std::unique_ptr<TIEBitmap> plane = std::move(bitmap.alpha_);
    bitmap.TakeStorageFrom(fresh);
    bitmap.alpha_ = std::move(plane);
    bitmap.reallocPending_ = false;
    return true;
}

bool TIEBitmapConverter::ConvertPlatformBitmap(TIEBitmap& bitmap, TIEPixelFormat format) {
    if (!bitmap.vclBitmap_) {
        bitmap.vclBitmap_ = new TBitmap;
        bitmap.vclBitmapNotOwned_ = false;
    }
    bitmap.Resync();
    if (format == bitmap.format_) return true;
    const TPixelFormat depth = PlatformFormatFor(format);
    if (depth == pfCustom) return false;  // the platform bitmap cannot hold the format
    TBitmap& platform = *bitmap.vclBitmap_;
    bitmap.UnmapRow();
    if (bitmap.width_ == 0 || bitmap.height_ == 0) {
        platform.SetPixelFormat(depth);
        if (format == ie8p) platform.ColorTable().assign(256, TRGBQuad{});  // not the gray ramp
        bitmap.Resync();
        return bitmap.format_ == format;
    }
    if (bitmap.format_ == ie1g && format == ie24RGB) {
        // The bitmap is replaced by a 24-bit rendering of itself.
        platform.SetPixelFormat(pf24bit);
        bitmap.Resync();
        return true;
    }
    // Other pairs go through an in-memory buffer in the new format, copied back into the platform
    // bitmap once it has been rebuilt in the new depth.
    TIEBitmap fresh;
    fresh.location_ = ieInMemory;
    fresh.AssignSettings(bitmap);
    if (!fresh.Allocate(bitmap.width_, bitmap.height_, format)) return false;
    CopyPixels(bitmap, fresh);
    bitmap.GrayRangeLow = fresh.GrayRangeLow;
    bitmap.GrayRangeHigh = fresh.GrayRangeHigh;
    bitmap.format_ = format;
    bitmap.palette_ = fresh.palette_;
    bitmap.BuildVclBitmap();
    bitmap.CopyRowsFrom(fresh);
    bitmap.Resync();
    return true;
}

bool TIEBitmap::ConvertFormat(TIEPixelFormat format) {
    if (location_ == ieTBitmap) return TIEBitmapConverter::ConvertPlatformBitmap(*this, format);
    return TIEBitmapConverter::ConvertStored(*this, format);
}

void TIEBitmap::ConvertedCopyFrom(TIEBitmap& source) {
    if (&source == this || location_ == ieTBitmap) return;
    if (source.Width() != Width() || source.Height() != Height() || IsEmpty() || source.IsEmpty()) return;
    if (source.Format() != Format()) TIEBitmapConverter::CopyPixels(source, *this);
    if (!isAlphaPlane_ && source.alpha_) {
        if (TIEBitmap* plane = AlphaPlane(); plane && plane->CopyFrom(*source.alpha_))
            plane->IsFullyOpaque = source.alpha_->IsFullyOpaque;
    }
}

}  // namespace quirelle
