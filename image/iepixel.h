// Pixel formats, colours and the per-pixel colour rules shared by the buffer, the conversions and
// the readers.
#pragma once

#include <cstdint>

namespace quirelle {

// Pixel format codes; the ordinals are stored in one byte and used as numbers across the engine.
enum TIEPixelFormat : uint8_t {
    ieNoFormat = 0,
    ie1g = 1,       // 1 bit, most significant bit first, 1 = white
    ie8p = 2,       // palette index
    ie8g = 3,       // gray, 0 = black
    ie16gray = 4,   // 16-bit gray, little-endian
    ie24RGB = 5,    // blue, green, red
    ie32f = 6,      // float gray, 0.0 = black, 1.0 = white
    ieCMYK = 7,     // C, M, Y, K stored complemented (255 = no ink)
    ieRGB48 = 8,    // three 16-bit words red, green, blue
    ieCIELab = 9,   // L (0..255 for 0..100), a, b signed
    ie32RGBX = 10,  // blue, green, red, fourth byte
    ieVirtual = 11, // no storage of its own
};
using TIEPixelFormatCode = TIEPixelFormat;
inline constexpr int kPixelFormatCount = 12;

inline constexpr int32_t IEBitsPerPixelTable[kPixelFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32, 0};
inline constexpr int32_t IESamplesPerPixelTable[kPixelFormatCount] = {0, 1, 1, 1, 1, 3, 1, 4, 3, 3, 4, 0};

inline int32_t IEBitsPerPixelOf(TIEPixelFormat f) { return f < kPixelFormatCount ? IEBitsPerPixelTable[f] : 0; }
inline int32_t IESamplesPerPixelOf(TIEPixelFormat f) { return f < kPixelFormatCount ? IESamplesPerPixelTable[f] : 0; }

// The format's name as the engine writes it in messages ("ie24RGB").
const char* IEPixelFormatName(TIEPixelFormat format);

// A palette entry and the ie24RGB pixel: bytes blue, green, red in memory order.
struct BgrColor {
    uint8_t b = 0, g = 0, r = 0;
    bool operator==(const BgrColor&) const = default;
};
static_assert(sizeof(BgrColor) == 3, "BgrColor must be three packed bytes");

// A colour packed in 32 bits in memory order: blue in bits 0-7, green 8-15, red 16-23.
inline uint32_t BgrToPacked(BgrColor c) { return c.b | (c.g << 8) | (static_cast<uint32_t>(c.r) << 16); }
inline BgrColor PackedToBgr(uint32_t v) {
    return BgrColor{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16)};
}

// A colour value in the Windows convention: red in bits 0-7, green 8-15, blue 16-23. Values with
// the top bit set name system colours and are resolved with IEResolveColor.
using TColor = uint32_t;
inline BgrColor TColorToBgr(TColor c) {
    return BgrColor{static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}
inline TColor BgrToTColor(BgrColor c) { return c.r | (c.g << 8) | (static_cast<uint32_t>(c.b) << 16); }
TColor IEResolveColor(TColor color);
inline constexpr TColor clBlack = 0x000000, clWhite = 0xFFFFFF, clBtnFace = 0x8000000F, clWindow = 0x80000005;

struct TRGB48 {
    uint16_t r = 0, g = 0, b = 0;
    bool operator==(const TRGB48&) const = default;
};
struct TCMYK {
    uint8_t c = 0, m = 0, y = 0, k = 0;  // complemented ink: 255 = none
    bool operator==(const TCMYK&) const = default;
};
struct TCIELab {
    uint8_t l = 0;
    int8_t a = 0, b = 0;
    bool operator==(const TCIELab&) const = default;
};

// Gray weights in percent, shared by the conversions and the image tools.
extern int32_t GrayWeightRed, GrayWeightGreen, GrayWeightBlue;

inline int32_t GrayOf8(int32_t r, int32_t g, int32_t b) {
    return (GrayWeightRed * r + GrayWeightGreen * g + GrayWeightBlue * b) / 100;
}
inline uint32_t GrayOf16(uint32_t r, uint32_t g, uint32_t b) { return (54484u * r + 183241u * g + 19275u * b) / 1000u; }
inline uint32_t GrayOfWords(uint32_t r, uint32_t g, uint32_t b) { return (212u * r + 713u * g + 75u * b) / 1000u; }
inline float FloatGray(int32_t r, int32_t g, int32_t b) {
    return static_cast<float>((0.2126 * r + 0.7152 * g + 0.0722 * b) / 255.0);
}

// CMYK and Lab colour rules. The CMYK pair goes through the ICC transforms while colour management
// is on and can be built, and through the plain arithmetic otherwise.
extern bool IECmykColorManagement;
TCMYK RgbToCmyk(uint8_t r, uint8_t g, uint8_t b);
BgrColor CmykToRgb(TCMYK c);
TCMYK RgbToCmykArithmetic(uint8_t r, uint8_t g, uint8_t b);
BgrColor CmykToRgbArithmetic(TCMYK c);
TCIELab RgbToLab(uint8_t r, uint8_t g, uint8_t b);
BgrColor LabToRgb(TCIELab lab);

// Row conversions in bulk (n pixels); the colour-managed path transforms a whole row at once.
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t n);
void BgrRowToCmyk(const uint8_t* bgr, uint8_t* cmyk, int32_t n);

}  // namespace quirelle
