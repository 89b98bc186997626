#include <gtest/gtest.h>

#include <cstring>

#include "image/ieutils.h"

namespace quirelle {
namespace {

TEST(RowLength, ByWidthDepthAndAlignment) {
    struct Case {
        int64_t width;
        int32_t bits;
        int32_t alignment;
        int64_t expected;
    };
    for (const Case& c : {Case{1, 1, 32, 4}, Case{33, 1, 32, 8}, Case{3, 24, 32, 12}, Case{1, 48, 32, 8},
                          Case{3, 24, 8, 9}, Case{5, 1, 8, 1}, Case{9, 1, 16, 2}, Case{3, 24, 64, 16},
                          Case{0, 24, 32, 0}})
        EXPECT_EQ(RowLengthFor(c.width, c.bits, c.alignment), c.expected) << c.width << "x" << c.bits << "/" << c.alignment;
}

TEST(Allocate, DerivedFieldsForEveryFormat) {
    struct Case {
        TIEPixelFormat format;
        int32_t bits, samples, rowLength;  // for width 3
    };
    for (const Case& c : {Case{ie1g, 1, 1, 4}, Case{ie8p, 8, 1, 4}, Case{ie8g, 8, 1, 4}, Case{ie16gray, 16, 1, 8},
                          Case{ie24RGB, 24, 3, 12}, Case{ie32f, 32, 1, 12}, Case{ieCMYK, 32, 4, 12},
                          Case{ieRGB48, 48, 3, 20}, Case{ieCIELab, 24, 3, 12}, Case{ie32RGBX, 32, 4, 12}}) {
        TIEBitmap b;
        ASSERT_TRUE(b.Allocate(3, 2, c.format)) << IEPixelFormatName(c.format);
        EXPECT_EQ(b.BitsPerPixel(), c.bits);
        EXPECT_EQ(b.SamplesPerPixel(), c.samples);
        EXPECT_EQ(b.RowLength(), c.rowLength);
        EXPECT_EQ(b.PaletteLength(), c.format == ie8p ? 256 : 0);
        EXPECT_FALSE(b.IsEmpty());
    }
}

TEST(Allocate, BadSizesAndNoFormatFailAndLeaveAnEmptyBuffer) {
    struct Case {
        int32_t w, h;
        TIEPixelFormat f;
    };
    for (const Case& c : {Case{0, 5, ie24RGB}, Case{5, 0, ie24RGB}, Case{-1, 5, ie8g}, Case{5, -7, ie1g},
                          Case{5, 5, ieNoFormat}, Case{5, 5, ieVirtual}}) {
        TIEBitmap b(4, ie24RGB, 4);
        EXPECT_FALSE(b.Allocate(c.w, c.h, c.f));
        EXPECT_EQ(b.Width(), 0);
        EXPECT_EQ(b.Height(), 0);
        EXPECT_TRUE(b.IsEmpty());
        EXPECT_EQ(b.RowAddress(0), nullptr);
        EXPECT_FALSE(b.ReallocPending());
    }
}

TEST(RowAddress, OneBlockIsBottomUpAndAligned) {
    TIEBitmap b(5, ie24RGB, 4);
    ASSERT_EQ(b.Location(), ieInMemory);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b.PixelBase()) % 64, 0u);
    EXPECT_EQ(b.RowAddress(3), b.PixelBase());
    EXPECT_EQ(b.RowAddress(0), b.PixelBase() + 3 * b.RowLength());
    EXPECT_EQ(b.RowAddress(1) + b.RowLength(), b.RowAddress(0));
    EXPECT_EQ(b.RowAddress(4), nullptr);
    EXPECT_EQ(b.RowAddress(-1), nullptr);
}

TEST(Allocate, SameShapeKeepsPixelsUnlessReallocPending) {
    TIEBitmap b(4, ie8g, 4);
    b.Fill(77);
    EXPECT_TRUE(b.Allocate(4, 4, ie8g));
    EXPECT_EQ(b.GetPixel8(3, 3), 77);
    TIEBitmap other(4, ie8g, 4);
    other.Fill(9);
    b.CopyFrom(other);  // sets ReallocPending
    EXPECT_TRUE(b.ReallocPending());
    EXPECT_EQ(b.GetPixel8(0, 0), 9);
}

TEST(Palette, OutOfRangeIndexesAreIgnored) {
    TIEBitmap b(2, ie8p, 2);
    b.SetPaletteEntry(5, BgrColor{1, 2, 3});
    EXPECT_EQ(b.GetPaletteEntry(5), (BgrColor{1, 2, 3}));
    EXPECT_EQ(b.PaletteData()[5], (BgrColor{1, 2, 3}));
    b.SetPaletteEntry(-1, BgrColor{9, 9, 9});
    b.SetPaletteEntry(256, BgrColor{9, 9, 9});
    for (int32_t index : {-1, 256}) {
        BgrColor untouched{4, 5, 6};
        b.GetPaletteEntry(index, untouched);
        EXPECT_EQ(untouched, (BgrColor{4, 5, 6}));
    }
    TIEBitmap target(2, ie8p, 2);
    b.QuantizeColors = 16;
    b.CopyPaletteTo(target);
    EXPECT_EQ(target.GetPaletteEntry(5), (BgrColor{1, 2, 3}));
    EXPECT_EQ(target.QuantizeColors, 16);
    TIEBitmap noPalette(2, ie24RGB, 2);
    noPalette.CopyPaletteTo(target);
    EXPECT_EQ(target.PaletteLength(), 0);
}

TEST(Fill, StoresTheValueInEachFormatsLayout) {
    struct Case {
        TIEPixelFormat format;
        double value;
        std::vector<uint8_t> firstPixel;
        bool opaque;
    };
    const double red = 0x0000FF, white = 0xFFFFFF;
    const float one = 1.0f, half = 0.5f;
    std::vector<uint8_t> oneBytes(4), halfBytes(4);
    std::memcpy(oneBytes.data(), &one, 4);
    std::memcpy(halfBytes.data(), &half, 4);
    for (const Case& c : std::vector<Case>{
             {ie1g, 0, {0x00}, false},
             {ie1g, 3, {0xFF}, true},
             {ie8g, 255, {255}, true},
             {ie8p, 7.9, {7}, false},
             {ie16gray, 65535, {0xFF, 0xFF}, true},
             {ie16gray, 258, {0x02, 0x01}, false},
             {ie24RGB, red, {0, 0, 255}, false},
             {ie24RGB, white, {255, 255, 255}, true},
             {ie32RGBX, red, {0, 0, 255, 255}, false},
             {ieRGB48, red, {0xFF, 0xFF, 0, 0, 0, 0}, false},
             {ieCMYK, 0, {255, 255, 255, 0}, false},
             {ie32f, 1.0, oneBytes, true},
             {ie32f, 0.5, halfBytes, false},
         }) {
        TIEBitmap b(3, c.format, 2);
        IECmykColorManagement = false;  // the arithmetic rule; the managed one is tested with the conversions
        b.Fill(c.value);
        IECmykColorManagement = true;
        const uint8_t* row = b.RowAddress(1);
        EXPECT_EQ(std::vector<uint8_t>(row, row + c.firstPixel.size()), c.firstPixel) << IEPixelFormatName(c.format);
        EXPECT_EQ(b.IsFullyOpaque, c.opaque) << IEPixelFormatName(c.format);
    }
}

TEST(PixelAsBgr, ReadsEveryFormatAsColour) {
    TIEBitmap g1(8, ie1g, 1);
    g1.Fill(0);
    g1.SetPixel1(1, 0, true);
    EXPECT_EQ(g1.PixelAsBgr(1, 0), (BgrColor{255, 255, 255}));
    EXPECT_EQ(g1.PixelAsBgr(0, 0), (BgrColor{0, 0, 0}));

    TIEBitmap p(1, ie8p, 1);
    p.SetPaletteEntry(3, BgrColor{10, 20, 30});
    p.SetPixel8(0, 0, 3);
    EXPECT_EQ(p.PixelAsBgr(0, 0), (BgrColor{10, 20, 30}));

    TIEBitmap w(1, ie16gray, 1);
    w.SetPixel16(0, 0, 0xAB12);
    EXPECT_EQ(w.PixelAsBgr(0, 0), (BgrColor{0xAB, 0xAB, 0xAB}));

    TIEBitmap f(1, ie32f, 1);
    f.SetPixelFloat(0, 0, 0.5f);
    EXPECT_EQ(f.PixelAsBgr(0, 0), (BgrColor{127, 127, 127}));

    TIEBitmap rgb48(1, ieRGB48, 1);
    rgb48.SetPixel48(0, 0, TRGB48{0x1100, 0x2200, 0x3300});
    EXPECT_EQ(rgb48.PixelAsBgr(0, 0), (BgrColor{0x33, 0x22, 0x11}));

    TIEBitmap x(1, ie32RGBX, 1);
    x.SetPixel32(0, 0, 0x00030201);
    EXPECT_EQ(x.PixelAsBgr(0, 0), (BgrColor{1, 2, 3}));

    TIEBitmap cmyk(1, ieCMYK, 1);
    cmyk.Fill(0xFFFFFF);
    EXPECT_EQ(cmyk.PixelAsBgr(0, 0), (BgrColor{255, 255, 255}));

    TIEBitmap lab(1, ieCIELab, 1);
    lab.Fill(0);
    EXPECT_EQ(lab.PixelAsBgr(0, 0), (BgrColor{0, 0, 0}));
    EXPECT_EQ(lab.PixelAsBgr(5, 0), (BgrColor{0, 0, 0}));  // outside: black

    TIEBitmap none;
    EXPECT_EQ(none.PixelAsBgr(0, 0), (BgrColor{0, 0, 0}));
}

TEST(AlphaPlane, CreatedOpaqueAndClearedBySetters) {
    TIEBitmap b(4, ie24RGB, 3);
    EXPECT_FALSE(b.HasAlphaPlane());
    TIEBitmap* a = b.AlphaPlane();
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->IsAlphaPlane());
    EXPECT_EQ(a->Format(), ie8g);
    EXPECT_EQ(a->Width(), 4);
    EXPECT_EQ(a->GetPixel8(3, 2), 255);
    EXPECT_TRUE(a->IsFullyOpaque);
    EXPECT_EQ(a->AlphaPlane(), nullptr);  // a plane has no plane of its own
    b.SetAlpha(1, 1, 254);
    EXPECT_FALSE(a->IsFullyOpaque);
    EXPECT_EQ(b.GetAlpha(1, 1), 254);
    a->Fill(255);
    EXPECT_TRUE(a->IsFullyOpaque);
}

TEST(AlphaPlane, DropWithBlendMixesTowardsTheBackground) {
    TIEBitmap b(2, ie24RGB, 1);
    b.SetPixel24(0, 0, BgrColor{200, 100, 0});
    b.SetPixel24(1, 0, BgrColor{200, 100, 0});
    b.SetAlpha(0, 0, 128);
    b.SetAlpha(1, 0, 0);
    b.DropAlphaPlane(true, 0x0000FF);  // red background (red in bits 0-7)
    EXPECT_FALSE(b.HasAlphaPlane());
    // bg + floor((c - bg) * alpha / 256) per channel: blue 0+100, green 0+50, red 255+floor(-255*128/256)
    EXPECT_EQ(b.GetPixel24(0, 0), (BgrColor{100, 50, 127}));
    EXPECT_EQ(b.GetPixel24(1, 0), (BgrColor{0, 0, 255}));

    TIEBitmap plain(2, ie24RGB, 1);
    plain.Fill(0x123456);
    plain.SetAlpha(0, 0, 0);
    plain.DropAlphaPlane(false);
    EXPECT_EQ(plain.GetPixel24(0, 0), TColorToBgr(0x123456));
}

TEST(CopyFrom, CopiesPixelsPaletteAlphaAndSettings) {
    TIEBitmap source(3, ie8p, 2);
    source.SetPaletteEntry(1, BgrColor{1, 2, 3});
    source.Fill(1);
    source.SetAlpha(2, 1, 10);
    source.BilevelMethod = 0;
    TIEBitmap copy(source);
    EXPECT_EQ(copy.Width(), 3);
    EXPECT_EQ(copy.Format(), ie8p);
    EXPECT_EQ(copy.PixelAsBgr(2, 1), (BgrColor{1, 2, 3}));
    EXPECT_EQ(copy.GetAlpha(2, 1), 10);
    EXPECT_EQ(copy.BilevelMethod, 0);

    TIEBitmap noAlpha(3, ie8g, 2);
    copy.CopyFrom(noAlpha);
    EXPECT_FALSE(copy.HasAlphaPlane());
    EXPECT_EQ(copy.PaletteLength(), 0);

    TIEBitmap empty;
    EXPECT_TRUE(copy.CopyFrom(empty));
    EXPECT_TRUE(copy.IsEmpty());
}

TEST(Resize, ChangeHeightAndWidthKeepTheTopLeft) {
    TIEBitmap b(2, ie8g, 2);
    b.SetPixel8(0, 0, 1), b.SetPixel8(1, 0, 2), b.SetPixel8(0, 1, 3), b.SetPixel8(1, 1, 4);
    b.AlphaPlane()->SetPixel8(1, 1, 7);
    ASSERT_TRUE(b.ChangeHeight(5));
    EXPECT_EQ(b.Height(), 5);
    EXPECT_EQ(b.GetPixel8(0, 0), 1);
    EXPECT_EQ(b.GetPixel8(1, 1), 4);
    EXPECT_EQ(b.AlphaPlane()->Height(), 5);
    EXPECT_EQ(b.GetAlpha(1, 1), 7);
    ASSERT_TRUE(b.ChangeWidth(1));
    EXPECT_EQ(b.Width(), 1);
    EXPECT_EQ(b.GetPixel8(0, 1), 3);
    EXPECT_EQ(b.AlphaPlane()->Width(), 1);

    TIEBitmap unallocated;
    EXPECT_TRUE(unallocated.ChangeWidth(40));
    EXPECT_EQ(unallocated.Width(), 40);
    EXPECT_EQ(unallocated.RowAddress(0), nullptr);
}

TEST(RowAlignment, ReallocatesInMemoryAndCopiesRows) {
    TIEBitmap b(3, ie24RGB, 2);
    b.SetPixel24(2, 1, BgrColor{7, 8, 9});
    ASSERT_TRUE(b.SetRowAlignment(8));
    EXPECT_EQ(b.RowLength(), 9);
    EXPECT_EQ(b.GetPixel24(2, 1), (BgrColor{7, 8, 9}));
    EXPECT_TRUE(b.ReallocPending());
}

TEST(MoveTo, HandsOverEverythingAndLeavesTheSourceEmpty) {
    TIEBitmap a(4, ie8p, 3);
    a.SetPaletteEntry(2, BgrColor{3, 3, 3});
    a.Fill(2);
    a.AlphaPlane();
    a.QuantizeColors = 12;
    TIEBitmap b(9, ie24RGB, 9);
    a.MoveTo(b);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_FALSE(a.HasAlphaPlane());
    EXPECT_EQ(a.PaletteLength(), 0);
    EXPECT_EQ(b.Width(), 4);
    EXPECT_EQ(b.Format(), ie8p);
    EXPECT_EQ(b.PixelAsBgr(0, 0), (BgrColor{3, 3, 3}));
    EXPECT_TRUE(b.HasAlphaPlane());
    EXPECT_EQ(b.QuantizeColors, 12);
}

TEST(WrapRows, AdoptsExternalRowsInEitherOrder) {
    uint8_t rows[2][4] = {{1, 1, 1, 0}, {2, 2, 2, 0}};  // row 0 first in memory
    TIEBitmap topDown;
    topDown.WrapRows(&rows[0][0], 3, 1, true, ie8g, 2);
    EXPECT_TRUE(topDown.PixelsNotOwned());
    EXPECT_EQ(topDown.GetPixel8(0, 0), 1);
    EXPECT_EQ(topDown.GetPixel8(0, 1), 2);
    TIEBitmap bottomUp;
    bottomUp.WrapRows(&rows[0][0], 3, 0, true, ie8p, 2);
    EXPECT_EQ(bottomUp.GetPixel8(0, 0), 2);
    EXPECT_EQ(bottomUp.PaletteLength(), 256);
}

}  // namespace
}  // namespace quirelle
