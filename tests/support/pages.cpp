#include "tests/support/pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quirelle::test {

void DrawBlocks(TIEBitmap& b) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        for (int32_t x = 0; x < b.Width(); ++x) {
            const int bx = x / 4, by = y / 3;
            if (b.Format() == ie1g) {
                b.SetPixel1(x, y, ((bx * 7 + by * 3) % 5) < 2);
            } else {
                b.SetPixel24(x, y, BgrColor{uint8_t(bx * 37 + by * 11), uint8_t(bx * 91 ^ by * 29), uint8_t(255 - bx * 13 - by * 17)});
            }
        }
    }
}

void ExpectPagePlacedTopLeft(const RgbImage& page, TIEBitmap& source, int32_t factor, const std::string& what) {
    int32_t mismatches = 0;
    for (int32_t y = 0; y < page.height && mismatches < 5; ++y) {
        for (int32_t x = 0; x < page.width && mismatches < 5; ++x) {
            const uint8_t* got = page.At(x, y);
            uint8_t expected[3] = {255, 255, 255};
            if (x < source.Width() * factor && y < source.Height() * factor) {
                const BgrColor c = source.PixelAsBgr(x / factor, y / factor);
                expected[0] = c.r, expected[1] = c.g, expected[2] = c.b;
            }
            if (got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2]) {
                ++mismatches;
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(got[0]) << "," << int(got[1])
                              << "," << int(got[2]) << " expected " << int(expected[0]) << "," << int(expected[1])
                              << "," << int(expected[2]);
            }
        }
    }
}

void ExpectJpegPagePlacedTopLeft(const RgbImage& page, TIEBitmap& source, TIEBitmap& decoded, int32_t factor, bool gray,
                                 const std::string& what, int32_t edgeSlack) {
    int64_t toDecoded = 0, toSource = 0, samples = 0;
    int32_t largest = 0, notWhite = 0;
    for (int32_t y = 0; y < page.height; ++y) {
        for (int32_t x = 0; x < page.width; ++x) {
            const uint8_t* got = page.At(x, y);
            if (x >= source.Width() * factor || y >= source.Height() * factor) {
                const bool edge = x < source.Width() * factor + edgeSlack && y < source.Height() * factor + edgeSlack;
                if (!edge && (got[0] != 255 || got[1] != 255 || got[2] != 255)) ++notWhite;
                continue;
            }
            const BgrColor d = decoded.PixelAsBgr(x / factor, y / factor);
            const BgrColor s = source.PixelAsBgr(x / factor, y / factor);
            const int dd[3] = {std::abs(got[0] - d.r), std::abs(got[1] - d.g), std::abs(got[2] - d.b)};
            for (int v : dd) largest = std::max(largest, v), toDecoded += v;
            if (gray) {
                const double luma = 0.299 * s.r + 0.587 * s.g + 0.114 * s.b;
                toSource += std::lround(3 * std::abs(got[1] - luma));
            } else {
                toSource += std::abs(got[0] - s.r) + std::abs(got[1] - s.g) + std::abs(got[2] - s.b);
            }
            samples += 3;
        }
    }
    EXPECT_EQ(notWhite, 0) << what;
    EXPECT_LE(largest, 2) << what;
    EXPECT_LT(static_cast<double>(toDecoded) / samples, 0.25) << what;
    EXPECT_LT(static_cast<double>(toSource) / samples, 3.0) << what;
}

}  // namespace quirelle::test
