// The per-pixel colour rules: gray weights, CMYK (arithmetic and through the press profile) and
// CIE L*a*b*.
#include <gtest/gtest.h>

#include <cstdlib>

#include "image/ieutils.h"

namespace quirelle {
namespace {

TEST(PixelRules, GrayRulesUseTheirWeights) {
    struct Case {
        int r, g, b;
        int gray8;
        uint32_t gray16, grayWords;
    } cases[] = {
        {255, 0, 0, 53, 13893420 / 1000, 212 * 255 * 257 / 1000},
        {0, 255, 0, 181, 46726455 / 1000, 713 * 255 * 257 / 1000},
        {0, 0, 255, 20, 4915125 / 1000, 75 * 255 * 257 / 1000},
        {255, 255, 255, 255, 65535, 65535},
        {0, 0, 0, 0, 0, 0},
        {200, 100, 50, 117, 30184, (212 * 51400 + 713 * 25700 + 75 * 12850) / 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GrayOf8(c.r, c.g, c.b), c.gray8) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(GrayOf16(c.r, c.g, c.b), c.gray16) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(GrayOfWords(c.r * 257, c.g * 257, c.b * 257), c.grayWords) << c.r << "," << c.g << "," << c.b;
    }
    EXPECT_FLOAT_EQ(FloatGray(255, 255, 255), 1.0f);
    EXPECT_FLOAT_EQ(FloatGray(255, 0, 0), 0.2126f);
}

class CmykRules : public ::testing::Test {
protected:
    void TearDown() override { IECmykColorManagement = true; }
};

TEST_F(CmykRules, ArithmeticRulesWhenManagementIsOff) {
    IECmykColorManagement = false;
    EXPECT_EQ(RgbToCmyk(0, 0, 0), (TCMYK{255, 255, 255, 0}));
    EXPECT_EQ(RgbToCmyk(255, 255, 255), (TCMYK{255, 255, 255, 255}));
    EXPECT_EQ(RgbToCmyk(100, 50, 0), (TCMYK{255, 127, 0, 100}));
    EXPECT_EQ(CmykToRgb(TCMYK{255, 127, 0, 100}), (BgrColor{0, 49, 100}));
    EXPECT_EQ(CmykToRgb(TCMYK{255, 255, 255, 0}), (BgrColor{0, 0, 0}));
    // The row helpers follow the same rules.
    const uint8_t bgr[6] = {0, 50, 100, 255, 255, 255};
    uint8_t cmyk[8];
    BgrRowToCmyk(bgr, cmyk, 2);
    EXPECT_EQ(std::vector<uint8_t>(cmyk, cmyk + 8), (std::vector<uint8_t>{255, 127, 0, 100, 255, 255, 255, 255}));
    uint8_t back[6];
    CmykRowToBgr(cmyk, back, 2);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 6), (std::vector<uint8_t>{0, 49, 100, 255, 255, 255}));
}

TEST_F(CmykRules, ManagedTransformsGoThroughThePressProfile) {
    ASSERT_TRUE(IECmykColorManagement);
    // No ink is paper white; full ink on every channel is near black.
    const BgrColor paper = CmykToRgb(TCMYK{255, 255, 255, 255});
    EXPECT_GE(std::min({paper.r, paper.g, paper.b}), 235);
    const BgrColor full = CmykToRgb(TCMYK{0, 0, 0, 0});
    EXPECT_LE(std::max({full.r, full.g, full.b}), 60);
    // Cyan ink alone is blue-green.
    const BgrColor cyan = CmykToRgb(TCMYK{0, 255, 255, 255});
    EXPECT_LT(cyan.r, 80);
    EXPECT_GT(cyan.b, 150);
    // White needs no ink; a pure gray is printed mainly with black ink... or a neutral mix, but
    // never with much more of one coloured ink than the others.
    const TCMYK white = RgbToCmyk(255, 255, 255);
    EXPECT_GE(std::min({white.c, white.m, white.y, white.k}), 250);
    // The managed results differ from the arithmetic ones.
    IECmykColorManagement = false;
    EXPECT_NE(CmykToRgb(TCMYK{0, 255, 255, 255}), cyan);
    IECmykColorManagement = true;
    // Round trips through the profile stay close for in-gamut colours.
    for (const BgrColor c : {BgrColor{40, 90, 160}, BgrColor{128, 128, 128}, BgrColor{200, 220, 230}}) {
        const BgrColor back = CmykToRgb(RgbToCmyk(c.r, c.g, c.b));
        EXPECT_LE(std::abs(back.r - c.r) + std::abs(back.g - c.g) + std::abs(back.b - c.b), 30)
            << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
    // Whole rows (more than one transform chunk) match the single-pixel rule.
    std::vector<uint8_t> cmyk(4 * 1500), bgr(3 * 1500);
    for (size_t i = 0; i < cmyk.size(); ++i) cmyk[i] = static_cast<uint8_t>(i * 37 + i / 7);
    CmykRowToBgr(cmyk.data(), bgr.data(), 1500);
    for (int i : {0, 511, 512, 1499}) {
        const size_t p = static_cast<size_t>(i);
        const BgrColor one = CmykToRgb(TCMYK{cmyk[4 * p], cmyk[4 * p + 1], cmyk[4 * p + 2], cmyk[4 * p + 3]});
        EXPECT_EQ((BgrColor{bgr[3 * p], bgr[3 * p + 1], bgr[3 * p + 2]}), one) << i;
    }
}

TEST(LabRules, KnownColoursAndRoundTrips) {
    EXPECT_EQ(RgbToLab(0, 0, 0), (TCIELab{0, 0, 0}));
    const TCIELab white = RgbToLab(255, 255, 255);
    EXPECT_GE(white.l, 254);
    EXPECT_EQ(white.a, 0);
    EXPECT_EQ(white.b, 0);
    // sRGB red is L* 53.24, a* 80.09, b* 67.20.
    EXPECT_EQ(RgbToLab(255, 0, 0), (TCIELab{135, 80, 67}));
    // sRGB blue is L* 32.30, a* 79.19, b* -107.86.
    EXPECT_EQ(RgbToLab(0, 0, 255), (TCIELab{82, 79, -107}));
    EXPECT_EQ(LabToRgb(TCIELab{0, 0, 0}), (BgrColor{0, 0, 0}));
    EXPECT_EQ(LabToRgb(TCIELab{255, 0, 0}), (BgrColor{255, 255, 255}));
    // Out-of-gamut Lab values clamp instead of wrapping.
    EXPECT_EQ(LabToRgb(TCIELab{255, 127, -128}).r, 255);
    // Decoded values, as the L*a*b* formulas give them (8-bit L and whole a, b lose some
    // precision, most visibly near the gamut's edges).
    struct Case {
        TCIELab lab;
        BgrColor rgb;
    } cases[] = {{{82, 79, -107}, {253, 0, 14}}, {{190, -40, -11}, {202, 204, 27}}, {{135, 80, 67}, {0, 0, 254}}};
    for (const Case& c : cases) EXPECT_EQ(LabToRgb(c.lab), c.rgb) << int(c.lab.l);
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int b = 0; b < 256; b += 51) {
                const BgrColor back = LabToRgb(RgbToLab(r, g, b));
                EXPECT_LE(std::abs(back.r - r) + std::abs(back.g - g) + std::abs(back.b - b), 30)
                    << r << "," << g << "," << b;
            }
}

}  // namespace
}  // namespace quirelle
