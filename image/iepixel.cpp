#include "image/iepixel.h"

#include <algorithm>
#include <cmath>

namespace quirelle {

int32_t GrayWeightRed = 21, GrayWeightGreen = 71, GrayWeightBlue = 8;

const char* IEPixelFormatName(TIEPixelFormat format) {
    static const char* const names[kPixelFormatCount] = {"ieNoFormat", "ie1g",    "ie8p",     "ie8g",
                                                         "ie16gray",   "ie24RGB", "ie32f",    "ieCMYK",
                                                         "ieRGB48",    "ieCIELab", "ie32RGBX", "ieVirtual"};
    return format < kPixelFormatCount ? names[format] : "unknown";
}

TColor IEResolveColor(TColor color) {
    if ((color & 0xFF000000u) == 0) return color;
    if ((color & 0x80000000u) == 0) return color & 0xFFFFFFu;  // palette-relative values
    // System colours of a light desktop theme.
    switch (color & 0xFF) {
        case 0x05:  // window background
        case 0x0E:  // highlighted text
            return 0xFFFFFF;
        case 0x06:  // window frame
        case 0x07:  // menu text
        case 0x08:  // window text
        case 0x09:  // caption text
        case 0x12:  // button text
            return 0x000000;
        case 0x0D: return 0xD77800;  // highlight (blue)
        case 0x0F:                   // button face
        default: return 0xF0F0F0;
    }
}

TCMYK RgbToCmykArithmetic(uint8_t r, uint8_t g, uint8_t b) {
    const int k = std::max({r, g, b});
    if (k == 0) return TCMYK{255, 255, 255, 0};
    return TCMYK{static_cast<uint8_t>(r * 255 / k), static_cast<uint8_t>(g * 255 / k), static_cast<uint8_t>(b * 255 / k),
                 static_cast<uint8_t>(k)};
}

BgrColor CmykToRgbArithmetic(TCMYK c) {
    return BgrColor{static_cast<uint8_t>(c.y * c.k / 255), static_cast<uint8_t>(c.m * c.k / 255),
                    static_cast<uint8_t>(c.c * c.k / 255)};
}

namespace {

double Linearise(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double LabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }
double LabFInverse(double f) {
    const double cube = f * f * f;
    return cube > 0.008856 ? cube : (f - 0.13793103448) / 7.787;
}
double Compand(double c) { return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055; }

// Truncates to an integer and wraps it into a signed byte, as a byte store of the value does.
int8_t WrapToSignedByte(double v) {
    const long t = static_cast<long>(std::trunc(std::clamp(v, -1e9, 1e9)));
    return static_cast<int8_t>(static_cast<uint8_t>(t & 0xFF));
}

}  // namespace

TCIELab RgbToLab(uint8_t r8, uint8_t g8, uint8_t b8) {
    const double r = Linearise(r8 / 255.0), g = Linearise(g8 / 255.0), b = Linearise(b8 / 255.0);
    const double x = (0.412453 * r + 0.35758 * g + 0.180423 * b) / 0.95047;
    const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
    const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.08883;
    const double fx = LabF(x), fy = LabF(y), fz = LabF(z);
    const double l = y > 0.008856 ? 116.0 * fy - 16.0 : 903.3 * y;
    const double a = 500.0 * (fx - fy), bb = 200.0 * (fy - fz);
    const long lByte = static_cast<long>(std::trunc(l * 2.55));
    return TCIELab{static_cast<uint8_t>(lByte & 0xFF), WrapToSignedByte(a), WrapToSignedByte(bb)};
}

BgrColor LabToRgb(TCIELab lab) {
    const double l = lab.l * 0.39215686275;
    const double fy = (l + 16.0) / 116.0;
    const double fx = fy + lab.a / 500.0;
    const double fz = fy - lab.b / 200.0;
    const double x = LabFInverse(fx) * 0.95047, y = LabFInverse(fy), z = LabFInverse(fz) * 1.08883;
    const double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
    const double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
    const double b = 0.0557 * x - 0.2040 * y + 1.0570 * z;
    auto toByte = [](double c) {
        const double v = std::round(Compand(c) * 255.0);
        return static_cast<uint8_t>(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 255.0));
    };
    return BgrColor{toByte(b), toByte(g), toByte(r)};
}

}  // namespace quirelle
