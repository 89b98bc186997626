#include "tests/codecs/jpegtest.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quirelle::test {

std::unique_ptr<JpegLoaded> LoadJpegBytes(const Bytes& data, const JpegLoadOptions& o) {
    auto loaded = std::make_unique<JpegLoaded>();
    loaded->params.JpegScaleChoice = o.scaleChoice;
    loaded->params.JpegDctKind = o.dctKind;
    ProgressRecord progress;
    progress.CancelFlag = &loaded->cancel;
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    loaded->rows = LoadJpegFromStream(stream, nullptr, loaded->bitmap, o.native, o.rowLimit, true, true, o.invertCmyk,
                                      o.metadata, o.keepYCbCr, o.headerOnly, progress, loaded->params,
                                      o.requestedWidth, o.requestedHeight);
    return loaded;
}

Bytes SaveJpegBytes(TIEBitmap& bitmap, TIOParamsVals& params, uint8_t* cancel) {
    uint8_t local = 0;
    ProgressRecord progress;
    progress.CancelFlag = cancel ? cancel : &local;
    TMemoryStream out;
    SaveJpegToStream(out, bitmap, params, progress);
    return out.Bytes();
}

bool HaveDjpeg() { return HaveProgram("djpeg"); }

RgbImage Djpeg(const ScratchDir& dir, const std::filesystem::path& jpeg, const std::string& switches) {
    const auto out = dir / "djpeg-out.pnm";
    std::filesystem::remove(out);
    // Exit status 2: decoded, with warnings (damaged or cut data).
    const int status = RunCommand("djpeg " + switches + " -outfile " + ShellQuote(out.string()) + " " + ShellQuote(jpeg.string()));
    if (status != 0 && status != 2) return {};
    return ReadPnmImage(out);
}

RgbImage Djpeg(const ScratchDir& dir, const Bytes& jpeg, const std::string& switches) {
    const auto in = dir / "djpeg-in.jpg";
    WriteFileBytes(in, jpeg);
    return Djpeg(dir, in, switches);
}

PixelDiff ComparePixels(TIEBitmap& bitmap, const RgbImage& reference) {
    PixelDiff diff;
    if (bitmap.Width() != reference.width || bitmap.Height() != reference.height) {
        diff.differing = -1;
        return diff;
    }
    int64_t total = 0;
    for (int32_t y = 0; y < reference.height; ++y) {
        for (int32_t x = 0; x < reference.width; ++x) {
            const BgrColor c = bitmap.PixelAsBgr(x, y);
            const uint8_t* r = reference.At(x, y);
            const int d[3] = {std::abs(c.r - r[0]), std::abs(c.g - r[1]), std::abs(c.b - r[2])};
            if (d[0] || d[1] || d[2]) ++diff.differing;
            for (int v : d) {
                diff.largest = std::max(diff.largest, v);
                total += v;
            }
        }
    }
    const int64_t samples = int64_t{reference.width} * reference.height * 3;
    diff.meanAbsolute = samples ? static_cast<double>(total) / static_cast<double>(samples) : 0;
    return diff;
}

void DrawPhoto(TIEBitmap& bitmap) {
    const int32_t w = bitmap.Width(), h = bitmap.Height();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        const double fy = static_cast<double>(y) / h;
        for (int32_t x = 0; x < w; ++x) {
            const double fx = static_cast<double>(x) / w;
            const double ring = 0.5 + 0.5 * std::sin(40.0 * std::hypot(fx - 0.6, fy - 0.4));
            double r = 40 + 180 * fx * (0.7 + 0.3 * ring);
            double g = 60 + 150 * fy * (0.8 + 0.2 * std::cos(9.0 * fx));
            double b = 200 - 120 * fx * fy + 30 * ring;
            if (fx > 0.2 && fx < 0.3 && fy > 0.5 && fy < 0.7) r = 250, g = 240, b = 20;  // a sharp patch
            // Fine texture, deterministic.
            const uint32_t noise = (static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u) >> 28;
            auto clampByte = [](double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); };
            row[3 * x] = clampByte(b + noise);
            row[3 * x + 1] = clampByte(g + noise);
            row[3 * x + 2] = clampByte(r + noise);
        }
    }
}

std::vector<std::pair<uint8_t, Bytes>> JpegSegments(const Bytes& jpeg) {
    std::vector<std::pair<uint8_t, Bytes>> segments;
    size_t p = 2;  // after SOI
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
        const uint8_t code = jpeg[p + 1];
        const size_t length = size_t{jpeg[p + 2]} << 8 | jpeg[p + 3];
        if (length < 2 || p + 2 + length > jpeg.size()) break;
        segments.emplace_back(code, Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(p + 4),
                                          jpeg.begin() + static_cast<std::ptrdiff_t>(p + 2 + length)));
        if (code == 0xDA) break;
        p += 2 + length;
    }
    return segments;
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace quirelle::test
