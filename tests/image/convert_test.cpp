// ConvertFormat and ConvertedCopyFrom: the conversion matrix, the bilevel and palette routes, the
// gray range, and conversions of buffers in temporary files and platform bitmaps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "image/ieconvert.h"
#include "image/ieutils.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes F(float v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}
Bytes W(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Lab(uint8_t r, uint8_t g, uint8_t b) {
    const TCIELab l = RgbToLab(r, g, b);
    return {l.l, static_cast<uint8_t>(l.a), static_cast<uint8_t>(l.b)};
}

int32_t BytesPerPixel(TIEPixelFormat f) { return IEBitsPerPixelOf(f) / 8; }

std::unique_ptr<TIEBitmap> Make(TIEPixelFormat format, int32_t w, int32_t h) {
    auto b = std::make_unique<TIEBitmap>();
    EXPECT_TRUE(b->Allocate(w, h, format));
    return b;
}

void Put(TIEBitmap& b, int32_t x, int32_t y, const Bytes& bytes) {
    std::memcpy(b.RowAddress(y) + static_cast<size_t>(x) * bytes.size(), bytes.data(), bytes.size());
}
Bytes Get(TIEBitmap& b, int32_t x, int32_t y) {
    const auto n = static_cast<size_t>(BytesPerPixel(b.Format()));
    const uint8_t* row = b.RowAddress(y) + static_cast<size_t>(x) * n;
    return Bytes(row, row + n);
}
// The meaningful bytes of every row, top to bottom.
Bytes Pixels(TIEBitmap& b) {
    Bytes out;
    const auto used = static_cast<size_t>((int64_t{b.Width()} * b.BitsPerPixel() + 7) / 8);
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* row = b.RowAddress(y);
        out.insert(out.end(), row, row + used);
    }
    return out;
}
std::vector<BgrColor> Colours(TIEBitmap& b) {
    std::vector<BgrColor> out;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) out.push_back(b.PixelAsBgr(x, y));
    return out;
}

void Gradient24(TIEBitmap& b) {
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x)
            Put(b, x, y, {static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(x * 3 + y * 5), static_cast<uint8_t>(255 - x - y)});
}

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override { TempDirectoryOverride = scratch_.Path().string(); }
    void TearDown() override {
        TempDirectoryOverride.clear();
        IECmykColorManagement = true;
        IEAllocationFailureThreshold = -1;
        IETemporaryFilesFailForTesting = false;
        AllowFileFallback = true;
        AllowBands = true;
    }
    test::ScratchDir scratch_;
};

// One pixel through every rule of the matrix.
TEST_F(ConvertTest, EveryRuleOfTheMatrixOnOnePixel) {
    IECmykColorManagement = false;  // the arithmetic CMYK rules, so values are exact
    const float rgb48Gray = static_cast<float>((0.2126 * 0x1234 + 0.7152 * 0x5678 + 0.0722 * 0x9ABC) / 65535.0);
    const Bytes rgb48 = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
    const TCIELab lab = RgbToLab(200, 100, 50);
    const BgrColor labBack = LabToRgb(lab);
    struct Case {
        TIEPixelFormat from;
        Bytes source;
        TIEPixelFormat to;
        Bytes expected;
    } cases[] = {
        // ie1g (a white pixel; black below)
        {ie1g, {0x80}, ie8g, {255}},
        {ie1g, {0x00}, ie8g, {0}},
        {ie1g, {0x80}, ie16gray, {255, 255}},
        {ie1g, {0x80}, ie24RGB, {255, 255, 255}},
        {ie1g, {0x00}, ie24RGB, {0, 0, 0}},
        {ie1g, {0x80}, ie32f, F(1.0f)},
        {ie1g, {0x80}, ieRGB48, {255, 255, 255, 255, 255, 255}},
        {ie1g, {0x00}, ie32RGBX, {0, 0, 0, 255}},
        {ie1g, {0x80}, ieCMYK, {255, 255, 255, 255}},
        {ie1g, {0x00}, ieCIELab, {0, 0, 0}},
        // ie8p (index 7 is red 200, green 100, blue 50)
        {ie8p, {7}, ie8g, {117}},
        {ie8p, {7}, ie16gray, W(30184)},
        {ie8p, {7}, ie24RGB, {50, 100, 200}},
        {ie8p, {7}, ie32f, F(FloatGray(200, 100, 50))},
        {ie8p, {7}, ieRGB48, Cat({W(200 * 257), W(100 * 257), W(50 * 257)})},
        {ie8p, {7}, ie32RGBX, {50, 100, 200, 255}},
        {ie8p, {7}, ieCMYK, {255, 127, 63, 200}},
        {ie8p, {7}, ieCIELab, Lab(200, 100, 50)},
        // ie8g
        {ie8g, {100}, ie16gray, W(25700)},
        {ie8g, {100}, ie24RGB, {100, 100, 100}},
        {ie8g, {100}, ie32f, F(100 / 255.0f)},
        {ie8g, {100}, ieRGB48, Cat({W(25700), W(25700), W(25700)})},
        {ie8g, {100}, ie32RGBX, {100, 100, 100, 255}},
        {ie8g, {100}, ieCMYK, {255, 255, 255, 100}},
        {ie8g, {100}, ieCIELab, Lab(100, 100, 100)},
        // ie16gray
        {ie16gray, W(0x1234), ie8g, {0x12}},
        {ie16gray, W(0x1234), ie24RGB, {0x12, 0x12, 0x12}},
        {ie16gray, W(0x1234), ie32f, F(0x1234 / 65535.0f)},
        {ie16gray, W(0x1234), ieRGB48, Cat({W(0x1234), W(0x1234), W(0x1234)})},
        {ie16gray, W(0x1234), ie32RGBX, {0x12, 0x12, 0x12, 255}},
        {ie16gray, W(0x1234), ieCMYK, {255, 255, 255, 0x12}},
        // ie24RGB
        {ie24RGB, {50, 100, 200}, ie8g, {117}},
        {ie24RGB, {50, 100, 200}, ie16gray, W(30184)},
        {ie24RGB, {50, 100, 200}, ie32f, F(FloatGray(200, 100, 50))},
        {ie24RGB, {50, 100, 200}, ieCMYK, {255, 127, 63, 200}},
        {ie24RGB, {0, 0, 0}, ieCMYK, {255, 255, 255, 0}},
        {ie24RGB, {50, 100, 200}, ieCIELab, Lab(200, 100, 50)},
        {ie24RGB, {50, 100, 200}, ieRGB48, Cat({W(200 * 257), W(100 * 257), W(50 * 257)})},
        {ie24RGB, {50, 100, 200}, ie32RGBX, {50, 100, 200, 255}},
        // ie32f: trunc(v x 255) or trunc(v x 65535); out-of-range values are clamped
        {ie32f, F(0.5f), ie8g, {127}},
        {ie32f, F(0.5f), ie16gray, W(32767)},
        {ie32f, F(0.5f), ie24RGB, {127, 127, 127}},
        {ie32f, F(0.5f), ieRGB48, Cat({W(32767), W(32767), W(32767)})},
        {ie32f, F(0.5f), ie32RGBX, {127, 127, 127, 255}},
        {ie32f, F(1.5f), ie8g, {255}},
        {ie32f, F(-0.25f), ie16gray, W(0)},
        {ie32f, F(std::nanf("")), ie24RGB, {0, 0, 0}},
        {ie32f, F(0.5f), ieCMYK, {255, 255, 255, 127}},
        // ieCMYK
        {ieCMYK, {255, 127, 63, 200}, ie24RGB, {49, 99, 200}},
        {ieCMYK, {255, 127, 63, 200}, ie32RGBX, {49, 99, 200, 255}},
        {ieCMYK, {255, 127, 63, 200}, ie8g, {static_cast<uint8_t>(GrayOf8(200, 99, 49))}},
        {ieCMYK, {255, 127, 63, 200}, ieRGB48, Cat({W(200 * 257), W(99 * 257), W(49 * 257)})},
        // ieRGB48 (words red, green, blue)
        {ieRGB48, rgb48, ie24RGB, {0x9A, 0x56, 0x12}},
        {ieRGB48, rgb48, ie32RGBX, {0x9A, 0x56, 0x12, 255}},
        {ieRGB48, rgb48, ie8g, {static_cast<uint8_t>(GrayOf8(0x12, 0x56, 0x9A))}},
        {ieRGB48, rgb48, ie16gray, W(19741)},
        {ieRGB48, rgb48, ie32f, F(rgb48Gray)},
        {ieRGB48, Bytes(6, 255), ie32f, F(1.0f)},
        {ieRGB48, rgb48, ieCIELab, Lab(0x12, 0x56, 0x9A)},
        // ieCIELab
        {ieCIELab, Lab(200, 100, 50), ie24RGB, {labBack.b, labBack.g, labBack.r}},
        {ieCIELab, Lab(200, 100, 50), ie32RGBX, {labBack.b, labBack.g, labBack.r, 255}},
        {ieCIELab, Lab(200, 100, 50), ie8g, {static_cast<uint8_t>(GrayOf8(labBack.r, labBack.g, labBack.b))}},
        // ie32RGBX
        {ie32RGBX, {50, 100, 200, 9}, ie24RGB, {50, 100, 200}},
        {ie32RGBX, {50, 100, 200, 9}, ie8g, {117}},
        {ie32RGBX, {50, 100, 200, 9}, ieRGB48, Cat({W(200 * 257), W(100 * 257), W(50 * 257)})},
        {ie32RGBX, {50, 100, 200, 9}, ieCMYK, {255, 127, 63, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(IEPixelFormatName(c.from)) + " -> " + IEPixelFormatName(c.to));
        auto b = Make(c.from, 3, 2);
        if (c.from == ie8p) b->SetPaletteEntry(7, BgrColor{50, 100, 200});
        for (int32_t y = 0; y < 2; ++y) {
            if (c.from == ie1g) {
                b->RowAddress(y)[0] = static_cast<uint8_t>(c.source[0] ? 0xE0 : 0x00);
            } else {
                for (int32_t x = 0; x < 3; ++x) Put(*b, x, y, c.source);
            }
        }
        ASSERT_TRUE(b->ConvertFormat(c.to));
        ASSERT_EQ(b->Format(), c.to);
        EXPECT_EQ(b->Width(), 3);
        EXPECT_EQ(b->Height(), 2);
        EXPECT_EQ(b->PaletteLength(), 0);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x) ASSERT_EQ(Get(*b, x, y), c.expected) << "pixel " << x << "," << y;
    }
}

TEST_F(ConvertTest, GrayOfPrimariesAndWhite) {
    struct Case {
        BgrColor colour;
        uint8_t gray;
    } cases[] = {{{0, 0, 255}, 53}, {{0, 255, 0}, 181}, {{255, 0, 0}, 20}, {{255, 255, 255}, 255}};
    for (const Case& c : cases) {
        auto b = Make(ie24RGB, 1, 1);
        b->SetPixel24(0, 0, c.colour);
        ASSERT_TRUE(b->ConvertFormat(ie8g));
        EXPECT_EQ(b->GetPixel8(0, 0), c.gray);
    }
    auto white = Make(ie24RGB, 1, 1);
    white->Fill(0xFFFFFF);
    ASSERT_TRUE(white->ConvertFormat(ie16gray));
    EXPECT_EQ(white->GetPixel16(0, 0), 65535);
}

TEST_F(ConvertTest, PaletteRoutesWithFixedPalettes) {
    // ie1g: entry 0 black, entry 1 white, index = the bit.
    auto bw = Make(ie1g, 10, 1);
    bw->RowAddress(0)[0] = 0xA0, bw->RowAddress(0)[1] = 0x40;
    ASSERT_TRUE(bw->ConvertFormat(ie8p));
    EXPECT_EQ(Pixels(*bw), (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bw->GetPaletteEntry(0), (BgrColor{0, 0, 0}));
    EXPECT_EQ(bw->GetPaletteEntry(1), (BgrColor{255, 255, 255}));
    EXPECT_EQ(bw->PaletteLength(), 256);
    // Gray sources: the gray ramp, index = the gray level.
    struct Case {
        TIEPixelFormat from;
        Bytes pixel;
        uint8_t index;
    } cases[] = {{ie8g, {77}, 77}, {ie16gray, W(0xAB12), 0xAB}, {ie32f, F(0.25f), 63}};
    for (const Case& c : cases) {
        auto b = Make(c.from, 1, 1);
        Put(*b, 0, 0, c.pixel);
        ASSERT_TRUE(b->ConvertFormat(ie8p));
        EXPECT_EQ(b->GetPixel8(0, 0), c.index) << IEPixelFormatName(c.from);
        for (int i = 0; i < 256; i += 51) {
            const auto v = static_cast<uint8_t>(i);
            EXPECT_EQ(b->GetPaletteEntry(i), (BgrColor{v, v, v}));
        }
    }
}

TEST_F(ConvertTest, ConvertingToTheSameFormatChangesNothing) {
    auto b = Make(ie8p, 4, 2);
    b->SetPaletteEntry(3, BgrColor{1, 2, 3});
    b->Fill(3);
    b->RowAddress(1)[2] = 9;
    const Bytes before = Pixels(*b);
    ASSERT_TRUE(b->ConvertFormat(ie8p));
    EXPECT_EQ(Pixels(*b), before);
    EXPECT_EQ(b->GetPaletteEntry(3), (BgrColor{1, 2, 3}));
}

TEST_F(ConvertTest, PaletteImageThroughColourAndBackGetsAQuantizedPalette) {
    auto b = Make(ie8p, 8, 4);
    for (int i = 0; i < 256; ++i) b->SetPaletteEntry(i, BgrColor{static_cast<uint8_t>(255 - i), 0, static_cast<uint8_t>(i)});
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) b->RowAddress(y)[x] = static_cast<uint8_t>(200 + (x + y) % 5);
    const std::vector<BgrColor> colours = Colours(*b);
    ASSERT_TRUE(b->ConvertFormat(ie24RGB));
    ASSERT_TRUE(b->ConvertFormat(ie8p));
    EXPECT_EQ(Colours(*b), colours);                                // every pixel keeps its colour
    EXPECT_NE(b->GetPaletteEntry(200), (BgrColor{55, 0, 200}));  // but not through the old palette
    EXPECT_EQ(b->GetPaletteEntry(5), (BgrColor{0, 0, 0}));        // five colours; the rest is black
}

TEST_F(ConvertTest, QuantizerKeepsExactColoursWhenTheyFit) {
    std::mt19937 random(3);
    for (int32_t wanted : {256, 16, 2}) {
        std::vector<BgrColor> set(static_cast<size_t>(wanted));
        for (auto& c : set) c = BgrColor{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), static_cast<uint8_t>(random())};
        auto b = Make(ie24RGB, 61, 37);
        for (int32_t y = 0; y < 37; ++y)
            for (int32_t x = 0; x < 61; ++x) b->SetPixel24(x, y, set[random() % set.size()]);
        const std::vector<BgrColor> colours = Colours(*b);
        b->QuantizeColors = wanted;
        ASSERT_TRUE(b->ConvertFormat(ie8p));
        EXPECT_EQ(Colours(*b), colours) << wanted << " colours";
    }
}

TEST_F(ConvertTest, QuantizerMapsManyColoursToTheirNearestEntry) {
    auto b = Make(ie24RGB, 128, 96);
    Gradient24(*b);
    const std::vector<BgrColor> colours = Colours(*b);
    for (int32_t wanted : {256, 64, 1}) {
        auto q = std::make_unique<TIEBitmap>(*b);
        q->QuantizeColors = wanted;
        ASSERT_TRUE(q->ConvertFormat(ie8p));
        double error = 0;
        for (int32_t y = 0; y < 96; ++y)
            for (int32_t x = 0; x < 128; ++x) {
                const BgrColor c = colours[static_cast<size_t>(y * 128 + x)];
                const uint8_t index = q->GetPixel8(x, y);
                ASSERT_LT(index, wanted);
                auto distance = [&](BgrColor p) {
                    return (p.r - c.r) * (p.r - c.r) + (p.g - c.g) * (p.g - c.g) + (p.b - c.b) * (p.b - c.b);
                };
                const int mine = distance(q->GetPaletteEntry(index));
                for (int e = 0; e < wanted; ++e) ASSERT_LE(mine, distance(q->GetPaletteEntry(e))) << x << "," << y;
                error += std::sqrt(static_cast<double>(mine));
            }
        const double mean = error / (128 * 96);
        // This folded gradient has 12,288 colours; Pillow's median cut and octree leave a mean
        // distance of 19 and 22 (256 entries), 34 and 27 (64 entries).
        if (wanted == 256) {
            EXPECT_LT(mean, 16.0);
        } else if (wanted == 64) {
            EXPECT_LT(mean, 27.0);
        }
    }
}

TEST_F(ConvertTest, QuantizerFindsTwoClusters) {
    std::mt19937 random(11);
    auto b = Make(ie24RGB, 50, 50);
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 50; ++x) {
            const int jitter = static_cast<int>(random() % 9) - 4;
            const uint8_t base = x < 25 ? 40 : 210;
            b->SetPixel24(x, y, BgrColor{static_cast<uint8_t>(base + jitter), static_cast<uint8_t>(base - jitter), base});
        }
    b->QuantizeColors = 2;
    ASSERT_TRUE(b->ConvertFormat(ie8p));
    const BgrColor left = b->GetPaletteEntry(b->GetPixel8(0, 0)), right = b->GetPaletteEntry(b->GetPixel8(49, 49));
    EXPECT_NEAR(left.r, 40, 1);
    EXPECT_NEAR(left.b, 40, 2);
    EXPECT_NEAR(right.r, 210, 1);
    EXPECT_NEAR(right.g, 210, 2);
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 50; ++x) ASSERT_EQ(b->GetPixel8(x, y), b->GetPixel8(x < 25 ? 0 : 49, 0));
}

TEST_F(ConvertTest, UniformMidGrayToBilevel) {
    for (uint8_t method : {uint8_t{1}, uint8_t{0}}) {
        auto b = Make(ie8g, 19, 11);
        b->Fill(128);
        b->BilevelMethod = method;
        ASSERT_TRUE(b->ConvertFormat(ie1g));
        for (int32_t y = 0; y < 11; ++y)
            for (int32_t x = 0; x < 19; ++x) {
                const bool white = method == 1 ? true : IEDitherMatrix[x % 8][y % 8] < 32;
                ASSERT_EQ(b->GetPixel1(x, y), white) << int(method) << " at " << x << "," << y;
            }
        EXPECT_EQ(b->BilevelMethod, method);
    }
}

TEST_F(ConvertTest, ThresholdAtTheMeanOfRowMeans) {
    // Two rows: a dark one (mean 46) and a light one (mean 184.75, taken as 184): threshold 115.
    auto b = Make(ie8g, 4, 2);
    Put(*b, 0, 0, {0}), Put(*b, 1, 0, {60}), Put(*b, 2, 0, {30}), Put(*b, 3, 0, {94});
    Put(*b, 0, 1, {114}), Put(*b, 1, 1, {115}), Put(*b, 2, 1, {255}), Put(*b, 3, 1, {255});
    ASSERT_TRUE(b->ConvertFormat(ie1g));
    EXPECT_EQ(b->RowAddress(0)[0] & 0xF0, 0x00);
    EXPECT_EQ(b->RowAddress(1)[0] & 0xF0, 0x70);
    // Colour sources: the threshold is the gray of the mean colour.
    auto c = Make(ie24RGB, 2, 1);
    c->SetPixel24(0, 0, BgrColor{0, 0, 255});  // gray 53
    c->SetPixel24(1, 0, BgrColor{0, 255, 0});  // gray 181; mean colour (0, 127, 127): gray 116
    ASSERT_TRUE(c->ConvertFormat(ie1g));
    EXPECT_EQ(c->RowAddress(0)[0] & 0xC0, 0x40);
}

TEST_F(ConvertTest, ThresholdKeepsBlackBlack) {
    // A black image, and a dark one whose integer row means round down to 0: black pixels stay
    // black instead of all turning white.
    auto black = Make(ie24RGB, 9, 3);
    black->Fill(0);
    ASSERT_TRUE(black->ConvertFormat(ie1g));
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(black->RowAddress(y)[0], 0) << y;
    auto dark = Make(ie8g, 1000, 2);
    dark->Fill(0);
    dark->SetPixel8(500, 1, 255);
    ASSERT_TRUE(dark->ConvertFormat(ie1g));
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 1000; ++x) ASSERT_EQ(dark->GetPixel1(x, y), x == 500 && y == 1) << x << "," << y;
}

TEST_F(ConvertTest, DitherLevelsBySource) {
    // Each source's level: gray / 4 of its 8-bit gray (16-bit: w >> 10; float: trunc(v x 255) / 4).
    struct Case {
        TIEPixelFormat from;
        Bytes pixel;
        int level;
    } cases[] = {
        {ie8g, {100}, 25},
        {ie16gray, W(40000), 40000 >> 10},
        {ie24RGB, {50, 100, 200}, 117 / 4},
        {ie32f, F(0.5f), 127 / 4},
        {ieRGB48, Cat({W(200 * 257), W(100 * 257), W(50 * 257)}), 117 / 4},
        {ie32RGBX, {50, 100, 200, 0}, 117 / 4},
    };
    for (const Case& c : cases) {
        auto b = Make(c.from, 16, 16);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) Put(*b, x, y, c.pixel);
        b->BilevelMethod = 0;
        ASSERT_TRUE(b->ConvertFormat(ie1g));
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x)
                ASSERT_EQ(b->GetPixel1(x, y), IEDitherMatrix[x % 8][y % 8] < c.level) << IEPixelFormatName(c.from);
    }
}

TEST_F(ConvertTest, GrayRangeStretchesGrayToColourOnce) {
    auto b = Make(ie8g, 3, 1);
    Put(*b, 0, 0, {40}), Put(*b, 1, 0, {75}), Put(*b, 2, 0, {200});
    b->GrayRangeLow = 50;
    b->GrayRangeHigh = 100;
    ASSERT_TRUE(b->ConvertFormat(ie24RGB));
    EXPECT_EQ(Pixels(*b), (Bytes{0, 0, 0, 127, 127, 127, 255, 255, 255}));
    EXPECT_EQ(b->GrayRangeLow, 0);
    EXPECT_EQ(b->GrayRangeHigh, 0);

    // 16-bit values are clamped and scaled in 16-bit units.
    auto w = Make(ie16gray, 3, 1);
    Put(*w, 0, 0, W(1000)), Put(*w, 1, 0, W(3000)), Put(*w, 2, 0, W(60000));
    w->GrayRangeLow = 2000;
    w->GrayRangeHigh = 4000;
    ASSERT_TRUE(w->ConvertFormat(ie24RGB));
    EXPECT_EQ(Pixels(*w), (Bytes{0, 0, 0, 127, 127, 127, 255, 255, 255}));
    EXPECT_EQ(w->GrayRangeHigh, 0);

    // Fractional bounds never push a value past 255 (which would wrap to black).
    auto f = Make(ie8g, 1, 1);
    Put(*f, 0, 0, {100});
    f->GrayRangeLow = 50.7;
    f->GrayRangeHigh = 100.2;
    ASSERT_TRUE(f->ConvertFormat(ie24RGB));
    EXPECT_EQ(Pixels(*f), (Bytes{255, 255, 255}));

    // Without a range: the plain rule; a range also applies on the way to other colour formats.
    auto g = Make(ie8g, 1, 1);
    Put(*g, 0, 0, {75});
    g->GrayRangeLow = 50;
    g->GrayRangeHigh = 100;
    ASSERT_TRUE(g->ConvertFormat(ie32RGBX));  // not a gray-to-ie24RGB rule: range unused
    EXPECT_EQ(Pixels(*g), (Bytes{75, 75, 75, 255}));
    EXPECT_EQ(g->GrayRangeHigh, 100);
    auto l = Make(ie8g, 1, 1);
    Put(*l, 0, 0, {75});
    l->GrayRangeLow = 50;
    l->GrayRangeHigh = 100;
    ASSERT_TRUE(l->ConvertFormat(ieCIELab));  // through ie24RGB
    EXPECT_EQ(Pixels(*l), Lab(127, 127, 127));
    EXPECT_EQ(l->GrayRangeHigh, 0);
}

TEST_F(ConvertTest, BilevelToLabGoesThroughColour) {
    auto b = Make(ie1g, 2, 1);
    b->RowAddress(0)[0] = 0x40;  // black, white
    ASSERT_TRUE(b->ConvertFormat(ieCIELab));
    EXPECT_EQ(Get(*b, 0, 0), (Bytes{0, 0, 0}));
    const Bytes white = Get(*b, 1, 0);
    EXPECT_GE(white[0], 254);
    EXPECT_EQ(white[1], 0);
    EXPECT_EQ(white[2], 0);
}

// Pairs the matrix defines exactly: A -> B -> A gives A's pixels back.
TEST_F(ConvertTest, ExactRoundTrips) {
    IECmykColorManagement = false;
    auto fill8g = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) b.SetPixel8(x, y, static_cast<uint8_t>(y * b.Width() + x));
    };
    auto fill16 = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) b.SetPixel16(x, y, static_cast<uint16_t>((y * b.Width() + x) * 257 + x * 3));
    };
    auto fill24 = [](TIEBitmap& b) { Gradient24(b); };
    auto fill1 = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) b.SetPixel1(x, y, (x * 7 + y * 3) % 5 < 2);
    };
    auto fill32f = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) b.SetPixelFloat(x, y, static_cast<float>((y * b.Width() + x) % 256) / 255.0f);
    };
    auto fill32f16 = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x)
                b.SetPixelFloat(x, y, static_cast<float>((y * b.Width() + x) * 255 + x) / 65535.0f);
    };
    auto fillX = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) Put(b, x, y, {static_cast<uint8_t>(x), static_cast<uint8_t>(y * 9), static_cast<uint8_t>(x ^ y), 255});
    };
    auto fillGray48 = [](TIEBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x) {
                const auto v = static_cast<uint16_t>(x * 1000 + y * 7);
                b.SetPixel48(x, y, TRGB48{v, v, v});
            }
    };
    struct Case {
        TIEPixelFormat a, b;
        std::function<void(TIEBitmap&)> fill;
    } cases[] = {
        {ie24RGB, ieRGB48, fill24},   {ie24RGB, ie32RGBX, fill24}, {ie24RGB, ie8p, fill24},
        {ie8g, ie16gray, fill8g},     {ie8g, ie24RGB, fill8g},     {ie8g, ie8p, fill8g},
        {ie8g, ie32f, fill8g},        {ie8g, ieRGB48, fill8g},     {ie8g, ie32RGBX, fill8g},
        {ie16gray, ieRGB48, fill16},  {ie16gray, ie32f, fill16},   {ie32f, ie8g, fill32f},
        {ie32f, ie16gray, fill32f16}, {ie32RGBX, ieRGB48, fillX},  {ie32RGBX, ie24RGB, fillX},
        {ieRGB48, ie16gray, fillGray48},
        {ie1g, ie8p, fill1},          {ie1g, ie8g, fill1},         {ie1g, ie16gray, fill1},
        {ie1g, ie24RGB, fill1},       {ie1g, ie32f, fill1},        {ie1g, ieRGB48, fill1},
        {ie1g, ie32RGBX, fill1},      {ie1g, ieCMYK, fill1},       {ie1g, ieCIELab, fill1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(IEPixelFormatName(c.a)) + " -> " + IEPixelFormatName(c.b));
        auto b = Make(c.a, 16, 16);  // the 16 x 16 ie24RGB gradient has under 256 colours
        c.fill(*b);
        const Bytes original = Pixels(*b);
        ASSERT_TRUE(b->ConvertFormat(c.b));
        ASSERT_TRUE(b->ConvertFormat(c.a));
        EXPECT_EQ(Pixels(*b), original);
    }
}

TEST_F(ConvertTest, AlphaPlaneAndSettingsAreKept) {
    auto b = Make(ie24RGB, 5, 3);
    ASSERT_TRUE(b->SetRowAlignment(8));
    Gradient24(*b);
    b->SetAlpha(2, 1, 77);
    b->SetAlpha(4, 2, 0);
    for (TIEPixelFormat f : {ie8g, ieRGB48, ie1g, ie8p, ie24RGB}) {
        ASSERT_TRUE(b->ConvertFormat(f)) << IEPixelFormatName(f);
        ASSERT_TRUE(b->HasAlphaPlane());
        EXPECT_EQ(b->GetAlpha(2, 1), 77);
        EXPECT_EQ(b->GetAlpha(4, 2), 0);
        EXPECT_EQ(b->GetAlpha(0, 0), 255);
        EXPECT_EQ(b->RowAlignment(), 8);
        EXPECT_EQ(b->Location(), ieInMemory);
        EXPECT_EQ(b->RowLength(), RowLengthFor(5, IEBitsPerPixelOf(f), 8));
    }
}

TEST_F(ConvertTest, ConvertedCopyFromRules) {
    IECmykColorManagement = false;
    auto source = Make(ieCMYK, 4, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x) Put(*source, x, y, {255, 127, 63, 200});
    source->SetAlpha(1, 1, 9);
    const Bytes cmyk = Pixels(*source);

    // Through ie24RGB, without touching the source.
    auto target = Make(ie8g, 4, 2);
    target->ConvertedCopyFrom(*source);
    EXPECT_EQ(Pixels(*target), Bytes(8, static_cast<uint8_t>(GrayOf8(200, 99, 49))));
    EXPECT_EQ(source->Format(), ieCMYK);
    EXPECT_EQ(Pixels(*source), cmyk);
    EXPECT_EQ(target->GetAlpha(1, 1), 9);

    // A size mismatch, or a target in a platform bitmap: nothing happens.
    auto other = Make(ie8g, 4, 3);
    other->Fill(5);
    other->ConvertedCopyFrom(*source);
    EXPECT_EQ(Pixels(*other), Bytes(12, 5));
    EXPECT_FALSE(other->HasAlphaPlane());
    TIEBitmap platform;
    ASSERT_TRUE(platform.SetLocation(ieTBitmap));
    ASSERT_TRUE(platform.Allocate(4, 2, ie24RGB));
    platform.Fill(0x010203);
    platform.ConvertedCopyFrom(*source);
    EXPECT_EQ(platform.GetPixel24(0, 0), (BgrColor{1, 2, 3}));

    // The same format: only the alpha plane is copied.
    auto same = Make(ieCMYK, 4, 2);
    same->Fill(0);
    const Bytes blank = Pixels(*same);
    same->ConvertedCopyFrom(*source);
    EXPECT_EQ(Pixels(*same), blank);
    EXPECT_EQ(same->GetAlpha(1, 1), 9);
}

TEST_F(ConvertTest, FormatsWithoutPixelsAndInvalidTargets) {
    TIEBitmap empty;
    EXPECT_FALSE(empty.ConvertFormat(ie24RGB));
    EXPECT_TRUE(empty.IsEmpty());
    auto b = Make(ie24RGB, 2, 2);
    b->Fill(0x123456);
    const Bytes before = Pixels(*b);
    EXPECT_FALSE(b->ConvertFormat(ieNoFormat));
    EXPECT_FALSE(b->ConvertFormat(ieVirtual));
    EXPECT_FALSE(b->ConvertFormat(static_cast<TIEPixelFormat>(40)));
    EXPECT_EQ(b->Format(), ie24RGB);
    EXPECT_EQ(Pixels(*b), before);
}

TEST_F(ConvertTest, FailedAllocationKeepsTheOldPixels) {
    auto b = Make(ie24RGB, 100, 100);  // 30,000 bytes
    Gradient24(*b);
    b->SetAlpha(3, 3, 1);
    const Bytes before = Pixels(*b);
    IEAllocationFailureThreshold = 40000;
    AllowBands = false;
    AllowFileFallback = false;
    EXPECT_FALSE(b->ConvertFormat(ieRGB48));  // 60,000 bytes
    AllowFileFallback = true;
    IETemporaryFilesFailForTesting = true;
    EXPECT_FALSE(b->ConvertFormat(ieCMYK));  // 40,000 bytes + slack, and no temporary file either
    EXPECT_EQ(b->Format(), ie24RGB);
    EXPECT_EQ(b->Width(), 100);
    EXPECT_EQ(Pixels(*b), before);
    EXPECT_EQ(b->GetAlpha(3, 3), 1);
    EXPECT_TRUE(b->ConvertFormat(ie8g));  // 10,000 bytes still fit
    EXPECT_TRUE(test::FilesMatching(scratch_.Path(), "IMG-", ".tmp").empty());
}

TEST_F(ConvertTest, TemporaryFileBuffersConvertLikeInMemoryOnes) {
    IECmykColorManagement = false;
    struct Case {
        TIEPixelFormat from, to;
        uint8_t method;
    } cases[] = {
        {ie24RGB, ie8g, 1},   {ie24RGB, ie1g, 1},  {ie24RGB, ie1g, 0},     {ie24RGB, ie8p, 1},
        {ie24RGB, ieCMYK, 1}, {ieCMYK, ie1g, 1},   {ieRGB48, ie8p, 1},     {ie8g, ie24RGB, 1},
        {ie1g, ie32f, 1},     {ie8p, ie24RGB, 1},  {ie24RGB, ieCIELab, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(IEPixelFormatName(c.from)) + " -> " + IEPixelFormatName(c.to));
        auto seed = Make(ie24RGB, 300, 40);
        Gradient24(*seed);
        ASSERT_TRUE(seed->ConvertFormat(c.from));
        TIEBitmap memory(*seed), file;
        file.MemoryThreshold = 0;
        ASSERT_TRUE(file.CopyFrom(*seed));
        ASSERT_EQ(file.Location(), ieTempFile);
        memory.BilevelMethod = file.BilevelMethod = c.method;
        file.SetAlpha(7, 7, 70);
        ASSERT_TRUE(memory.ConvertFormat(c.to));
        ASSERT_TRUE(file.ConvertFormat(c.to));
        EXPECT_EQ(file.Location(), ieTempFile);
        EXPECT_EQ(file.Format(), c.to);
        EXPECT_EQ(Pixels(file), Pixels(memory));
        EXPECT_EQ(Colours(file), Colours(memory));
        EXPECT_EQ(file.GetAlpha(7, 7), 70);
        // The old file is gone; only the new one (and the alpha plane's) remain.
        EXPECT_LE(test::FilesMatching(scratch_.Path(), "IMG-", ".tmp").size(), 2u);
    }
    EXPECT_TRUE(test::FilesMatching(scratch_.Path(), "IMG-", ".tmp").empty());
}

TEST_F(ConvertTest, PlatformBitmapBuffers) {
    auto reference = Make(ie24RGB, 37, 21);
    Gradient24(*reference);
    struct Case {
        TIEPixelFormat to;
        TPixelFormat depth;
        uint8_t method;
    } cases[] = {{ie1g, pf1bit, 1}, {ie1g, pf1bit, 0}, {ie8g, pf8bit, 1}, {ie8p, pf8bit, 1}, {ie32RGBX, pf32bit, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(IEPixelFormatName(c.to));
        TIEBitmap view;
        ASSERT_TRUE(view.SetLocation(ieTBitmap));
        ASSERT_TRUE(view.CopyFrom(*reference));
        ASSERT_EQ(view.Location(), ieTBitmap);
        view.BilevelMethod = c.method;
        view.SetAlpha(1, 1, 11);
        TIEBitmap memory(*reference);
        memory.BilevelMethod = c.method;
        ASSERT_TRUE(memory.ConvertFormat(c.to));
        ASSERT_TRUE(view.ConvertFormat(c.to));
        EXPECT_EQ(view.Format(), c.to);
        EXPECT_EQ(view.VclBitmap()->PixelFormat(), c.depth);
        EXPECT_EQ(view.Location(), ieTBitmap);
        EXPECT_EQ(Pixels(view), Pixels(memory));
        EXPECT_EQ(Colours(view), Colours(memory));
        EXPECT_EQ(view.GetAlpha(1, 1), 11);
    }

    // The view's own bitmap is converted in place: ie1g back to ie24RGB renders it in 24 bits.
    TBitmap shown;
    shown.SetPixelFormat(pf1bit);
    shown.SetSize(10, 2);
    shown.ScanLine(0)[0] = 0xC0;
    TIEBitmap view;
    view.AttachVclBitmap(&shown);
    ASSERT_EQ(view.Format(), ie1g);
    ASSERT_TRUE(view.ConvertFormat(ie24RGB));
    EXPECT_EQ(shown.PixelFormat(), pf24bit);
    EXPECT_EQ(view.Format(), ie24RGB);
    EXPECT_EQ(view.GetPixel24(1, 0), (BgrColor{255, 255, 255}));
    EXPECT_EQ(view.GetPixel24(2, 0), (BgrColor{0, 0, 0}));
    ASSERT_TRUE(view.ConvertFormat(ie8g));
    EXPECT_EQ(shown.PixelFormat(), pf8bit);
    EXPECT_EQ(view.GetPixel8(0, 0), 255);

    // Formats the platform bitmap cannot hold are refused and nothing changes.
    ASSERT_TRUE(view.ConvertFormat(ie24RGB));
    for (TIEPixelFormat f : {ieCMYK, ieRGB48, ie32f, ieCIELab, ie16gray, ieVirtual}) {
        EXPECT_FALSE(view.ConvertFormat(f)) << IEPixelFormatName(f);
        EXPECT_EQ(view.Format(), ie24RGB);
        EXPECT_EQ(shown.PixelFormat(), pf24bit);
    }

    // Without pixels only the depth is set.
    TIEBitmap blank;
    ASSERT_TRUE(blank.SetLocation(ieTBitmap));
    ASSERT_TRUE(blank.ConvertFormat(ie1g));
    EXPECT_EQ(blank.VclBitmap()->PixelFormat(), pf1bit);
    EXPECT_EQ(blank.Format(), ie1g);
    ASSERT_TRUE(blank.ConvertFormat(ie24RGB));
    EXPECT_EQ(blank.VclBitmap()->PixelFormat(), pf24bit);

    // A failed allocation keeps the platform bitmap as it was.
    TIEBitmap big;
    ASSERT_TRUE(big.SetLocation(ieTBitmap));
    ASSERT_TRUE(big.CopyFrom(*reference));
    const Bytes before = Pixels(big);
    IEAllocationFailureThreshold = 100;
    AllowBands = false;
    AllowFileFallback = false;
    EXPECT_FALSE(big.ConvertFormat(ie8g));
    EXPECT_EQ(big.Format(), ie24RGB);
    EXPECT_EQ(Pixels(big), before);
}

}  // namespace
}  // namespace quirelle
