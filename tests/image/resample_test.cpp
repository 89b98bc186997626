#include "image/ieresample.h"

#include <gtest/gtest.h>

#include <cmath>

#include "image/iebitmap.h"

namespace quirelle {
namespace {

void FillGradient(TIEBitmap& b) {
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) b.SetPixel24(x, y, BgrColor{uint8_t(x * 10), uint8_t(y * 10), 200});
}

TEST(Resample, NearestKeepsFormatAndPalette) {
    struct Case {
        TIEPixelFormat format;
        int32_t w, h;
    };
    for (const Case c : {Case{ie1g, 9, 3}, Case{ie8p, 6, 4}, Case{ie8g, 5, 5}, Case{ie16gray, 3, 7}, Case{ie24RGB, 4, 2},
                         Case{ieRGB48, 2, 2}}) {
        SCOPED_TRACE(IEPixelFormatName(c.format));
        TIEBitmap source;
        ASSERT_TRUE(source.Allocate(c.w, c.h, c.format));
        if (c.format == ie8p) source.SetPaletteEntry(3, BgrColor{1, 2, 3});
        for (int32_t y = 0; y < c.h; ++y) {
            uint8_t* row = source.RowAddress(y);
            for (int32_t i = 0; i < source.RowLength(); ++i) row[i] = static_cast<uint8_t>(c.format == ie8p ? 3 : (y * 31 + i * 7));
        }
        TIEBitmap target;
        ASSERT_TRUE(IEResampleNearest(source, target, c.w * 2, c.h * 3));
        EXPECT_EQ(target.Format(), c.format);
        EXPECT_EQ(target.Width(), c.w * 2);
        EXPECT_EQ(target.Height(), c.h * 3);
        for (int32_t y = 0; y < target.Height(); ++y)
            for (int32_t x = 0; x < target.Width(); ++x)
                ASSERT_EQ(target.PixelAsBgr(x, y), source.PixelAsBgr(x / 2, y / 3)) << x << "," << y;
        if (c.format == ie8p) {
            EXPECT_EQ(target.GetPaletteEntry(3), (BgrColor{1, 2, 3}));
        }
    }
}

TEST(Resample, FilteredKeepsFlatAreasAndAveragesWhenShrinking) {
    TIEBitmap flat;
    ASSERT_TRUE(flat.Allocate(17, 9, ie8g));
    flat.Fill(77);
    TIEBitmap up;
    ASSERT_TRUE(IEResampleFiltered(flat, up, 40, 31));
    EXPECT_EQ(up.Format(), ie24RGB);
    for (int32_t y = 0; y < up.Height(); ++y)
        for (int32_t x = 0; x < up.Width(); ++x) ASSERT_EQ(up.PixelAsBgr(x, y), (BgrColor{77, 77, 77}));

    // A fine black-and-white checkerboard shrunk 8 times becomes an even grey, not a moire.
    TIEBitmap checker;
    ASSERT_TRUE(checker.Allocate(64, 64, ie1g));
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) checker.SetPixel1(x, y, (x + y) % 2 == 0);
    TIEBitmap small;
    ASSERT_TRUE(IEResampleFiltered(checker, small, 8, 8));
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) EXPECT_NEAR(small.PixelAsBgr(x, y).g, 128, 3) << x << "," << y;

    // A gradient stays a gradient: monotonic along x after enlarging.
    TIEBitmap gradient;
    ASSERT_TRUE(gradient.Allocate(10, 4, ie24RGB));
    FillGradient(gradient);
    TIEBitmap wide;
    ASSERT_TRUE(IEResampleFiltered(gradient, wide, 20, 4));
    for (int32_t x = 4; x < 16; ++x) EXPECT_LE(wide.PixelAsBgr(x - 1, 1).b, wide.PixelAsBgr(x, 1).b + 1);
    EXPECT_NEAR(wide.PixelAsBgr(10, 1).b, 50, 3);
}

TEST(Resample, ResizeInPlaceCarriesTheAlphaPlane) {
    TIEBitmap b;
    ASSERT_TRUE(b.Allocate(4, 2, ie24RGB));
    FillGradient(b);
    b.SetAlpha(0, 0, 0);
    ASSERT_TRUE(IEResizeBitmap(b, 8, 4, true));
    EXPECT_EQ(b.Width(), 8);
    EXPECT_EQ(b.Height(), 4);
    ASSERT_TRUE(b.HasAlphaPlane());
    EXPECT_EQ(b.AlphaPlane()->Width(), 8);
    EXPECT_EQ(b.GetAlpha(1, 1), 0);
    EXPECT_EQ(b.GetAlpha(2, 1), 255);
    EXPECT_FALSE(IEResizeBitmap(b, 0, 4, false));
    EXPECT_EQ(b.Width(), 8) << "left as it was";
    TIEBitmap empty;
    EXPECT_FALSE(IEResizeBitmap(empty, 3, 3, false));
}

}  // namespace
}  // namespace quirelle
