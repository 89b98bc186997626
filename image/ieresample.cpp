#include "image/ieresample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <numbers>
#include <vector>

#include "image/iebitmap.h"

namespace quirelle {

namespace {

// Source coordinate under the centre of target pixel i.
int32_t NearestSource(int32_t i, int32_t targetSize, int32_t sourceSize) {
    const int64_t s = ((2 * static_cast<int64_t>(i) + 1) * sourceSize) / (2 * static_cast<int64_t>(targetSize));
    return static_cast<int32_t>(std::min<int64_t>(s, sourceSize - 1));
}

// One source row as blue, green, red bytes.
void RowToBgr(TIEBitmap& bitmap, int32_t y, std::vector<uint8_t>& raw, std::vector<uint8_t>& bgr) {
    const int32_t width = bitmap.Width();
    bgr.resize(static_cast<size_t>(width) * 3);
    const uint8_t* row = bitmap.RowAddress(y);
    if (!row) {
        std::fill(bgr.begin(), bgr.end(), 0);
        return;
    }
    raw.assign(row, row + bitmap.RowLength());
    const uint8_t* p = raw.data();
    uint8_t* out = bgr.data();
    switch (bitmap.Format()) {
        case ie24RGB: std::memcpy(out, p, bgr.size()); break;
        case ie32RGBX:
            for (int32_t x = 0; x < width; ++x) std::memcpy(out + 3 * x, p + 4 * x, 3);
            break;
        case ie8g:
            for (int32_t x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = p[x];
            break;
        case ie16gray:
            for (int32_t x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = p[2 * x + 1];
            break;
        case ie1g:
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t v = (p[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
            }
            break;
        case ie8p:
            for (int32_t x = 0; x < width; ++x) {
                const BgrColor c = bitmap.GetPaletteEntry(p[x]);
                out[3 * x] = c.b;
                out[3 * x + 1] = c.g;
                out[3 * x + 2] = c.r;
            }
            break;
        case ieRGB48:
            for (int32_t x = 0; x < width; ++x) {
                out[3 * x] = p[6 * x + 5];
                out[3 * x + 1] = p[6 * x + 3];
                out[3 * x + 2] = p[6 * x + 1];
            }
            break;
        default:
            for (int32_t x = 0; x < width; ++x) {
                const BgrColor c = bitmap.PixelAsBgr(x, y);
                out[3 * x] = c.b;
                out[3 * x + 1] = c.g;
                out[3 * x + 2] = c.r;
            }
            break;
    }
}

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = std::numbers::pi * x;
    return std::sin(px) / px;
}

constexpr double kLobes = 3.0;

double Lanczos(double x) { return std::abs(x) < kLobes ? Sinc(x) * Sinc(x / kLobes) : 0.0; }

// The source pixels and normalised weights that make up each target pixel along one axis.
struct Contributions {
    std::vector<int32_t> first;     // first source index per target index
    std::vector<int32_t> count;     // number of source indexes
    std::vector<size_t> offset;     // start of the weights in `weights`
    std::vector<float> weights;
};

Contributions BuildContributions(int32_t sourceSize, int32_t targetSize) {
    Contributions c;
    const double scale = static_cast<double>(targetSize) / sourceSize;
    // When shrinking the filter is stretched so that it averages over every source pixel.
    const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
    const double support = kLobes * stretch;
    c.first.resize(static_cast<size_t>(targetSize));
    c.count.resize(static_cast<size_t>(targetSize));
    c.offset.resize(static_cast<size_t>(targetSize));
    for (int32_t i = 0; i < targetSize; ++i) {
        const double centre = (i + 0.5) / scale;  // in source pixel units
        int32_t lo = static_cast<int32_t>(std::floor(centre - support));
        int32_t hi = static_cast<int32_t>(std::ceil(centre + support));
        lo = std::max(lo, 0);
        hi = std::min(hi, sourceSize - 1);
        std::vector<double> w;
        double sum = 0;
        for (int32_t s = lo; s <= hi; ++s) {
            const double v = Lanczos((s + 0.5 - centre) / stretch);
            w.push_back(v);
            sum += v;
        }
        if (sum == 0) {  // cannot happen with a positive lobe at the centre; guard anyway
            w.assign(w.size(), 0.0);
            const int32_t nearest = std::clamp(static_cast<int32_t>(centre), lo, hi);
            w[static_cast<size_t>(nearest - lo)] = 1.0;
            sum = 1.0;
        }
        c.first[static_cast<size_t>(i)] = lo;
        c.count[static_cast<size_t>(i)] = hi - lo + 1;
        c.offset[static_cast<size_t>(i)] = c.weights.size();
        for (double v : w) c.weights.push_back(static_cast<float>(v / sum));
    }
    return c;
}

uint8_t ClampByte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

bool IEResampleNearest(TIEBitmap& source, TIEBitmap& target, int32_t width, int32_t height) {
    const int32_t sw = source.Width(), sh = source.Height();
    const TIEPixelFormat format = source.Format();
    if (width <= 0 || height <= 0 || sw <= 0 || sh <= 0 || &source == &target) return false;
    if (!target.Allocate(width, height, format)) return false;
    if (format == ie8p) source.CopyPaletteTo(target);
    const int32_t bits = source.BitsPerPixel();
    const size_t bytes = static_cast<size_t>(bits / 8);
    std::vector<int32_t> mapX(static_cast<size_t>(width));
    for (int32_t x = 0; x < width; ++x) mapX[static_cast<size_t>(x)] = NearestSource(x, width, sw);
    std::vector<uint8_t> sourceRow, targetRow(static_cast<size_t>(target.RowLength()));
    int32_t cachedY = -1;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = NearestSource(y, height, sh);
        if (sy != cachedY) {
            const uint8_t* row = source.RowAddress(sy);
            if (!row) return false;
            sourceRow.assign(row, row + source.RowLength());
            cachedY = sy;
            std::fill(targetRow.begin(), targetRow.end(), 0);
            if (bits == 1) {
                for (int32_t x = 0; x < width; ++x) {
                    const int32_t s = mapX[static_cast<size_t>(x)];
                    if (sourceRow[static_cast<size_t>(s >> 3)] & (0x80 >> (s & 7)))
                        targetRow[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
                }
            } else {
                for (int32_t x = 0; x < width; ++x)
                    std::memcpy(targetRow.data() + static_cast<size_t>(x) * bytes,
                                sourceRow.data() + static_cast<size_t>(mapX[static_cast<size_t>(x)]) * bytes, bytes);
            }
        }
        uint8_t* out = target.RowAddress(y);
        if (!out) return false;
        std::memcpy(out, targetRow.data(), targetRow.size());
    }
    return true;
}

bool IEResampleFiltered(TIEBitmap& source, TIEBitmap& target, int32_t width, int32_t height) {
    const int32_t sw = source.Width(), sh = source.Height();
    if (width <= 0 || height <= 0 || sw <= 0 || sh <= 0 || &source == &target) return false;
    if (!target.Allocate(width, height, ie24RGB)) return false;
    const Contributions horizontal = BuildContributions(sw, width);
    const Contributions vertical = BuildContributions(sh, height);

    // Horizontally resampled source rows, kept while the vertical window needs them.
    std::deque<std::vector<float>> window;
    int32_t windowFirst = 0;  // source row of window.front()
    std::vector<uint8_t> raw, bgr;
    std::vector<float> sum(static_cast<size_t>(width) * 3);
    std::vector<uint8_t> out(static_cast<size_t>(width) * 3);

    auto horizontalRow = [&](int32_t sy) {
        RowToBgr(source, sy, raw, bgr);
        std::vector<float> row(static_cast<size_t>(width) * 3);
        for (int32_t x = 0; x < width; ++x) {
            const size_t xi = static_cast<size_t>(x);
            const float* w = horizontal.weights.data() + horizontal.offset[xi];
            const uint8_t* p = bgr.data() + static_cast<size_t>(horizontal.first[xi]) * 3;
            float b = 0, g = 0, r = 0;
            for (int32_t k = 0; k < horizontal.count[xi]; ++k, p += 3) {
                b += w[k] * p[0];
                g += w[k] * p[1];
                r += w[k] * p[2];
            }
            row[3 * xi] = b;
            row[3 * xi + 1] = g;
            row[3 * xi + 2] = r;
        }
        return row;
    };

    for (int32_t y = 0; y < height; ++y) {
        const size_t yi = static_cast<size_t>(y);
        const int32_t first = vertical.first[yi], count = vertical.count[yi];
        while (!window.empty() && windowFirst < first) {
            window.pop_front();
            ++windowFirst;
        }
        if (window.empty()) windowFirst = first;
        while (windowFirst + static_cast<int32_t>(window.size()) < first + count)
            window.push_back(horizontalRow(windowFirst + static_cast<int32_t>(window.size())));
        std::fill(sum.begin(), sum.end(), 0.0f);
        const float* w = vertical.weights.data() + vertical.offset[yi];
        for (int32_t k = 0; k < count; ++k) {
            const std::vector<float>& row = window[static_cast<size_t>(first - windowFirst + k)];
            for (size_t i = 0; i < sum.size(); ++i) sum[i] += w[k] * row[i];
        }
        for (size_t i = 0; i < sum.size(); ++i) out[i] = ClampByte(sum[i]);
        uint8_t* dst = target.RowAddress(y);
        if (!dst) return false;
        std::memcpy(dst, out.data(), out.size());
    }
    return true;
}

bool IEResizeBitmap(TIEBitmap& bitmap, int32_t width, int32_t height, bool filtered) {
    if (width <= 0 || height <= 0 || bitmap.Width() <= 0 || bitmap.Height() <= 0) return false;
    TIEBitmap resized;
    // The new storage follows the buffer's own settings, which MoveTo hands back to it.
    resized.AssignSettings(bitmap);
    const bool ok = filtered ? IEResampleFiltered(bitmap, resized, width, height)
                             : IEResampleNearest(bitmap, resized, width, height);
    if (!ok) return false;
    std::unique_ptr<TIEBitmap> alpha;
    if (bitmap.HasAlphaPlane()) {
        alpha = std::make_unique<TIEBitmap>();
        if (!IEResampleNearest(*bitmap.AlphaPlane(), *alpha, width, height)) return false;
        alpha->IsFullyOpaque = bitmap.AlphaPlane()->IsFullyOpaque;
    }
    const TIEStorageLocation location = bitmap.Location();
    resized.MoveTo(bitmap);
    bitmap.ReplaceAlphaPlane(std::move(alpha));
    if (bitmap.Location() != location) bitmap.SetLocation(location);
    return true;
}

}  // namespace quirelle
