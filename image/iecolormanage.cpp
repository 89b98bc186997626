// CMYK colour management: transforms between the embedded press profile and sRGB, built with
// Little CMS on first use. The plain arithmetic rules apply when management is switched off or
// the transforms cannot be built.
#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "image/iepixel.h"

// The zlib-compressed profile, embedded by the assembler.
extern "C" const unsigned char quirelle_fogra27l_z[];
extern "C" const unsigned char quirelle_fogra27l_z_end[];
asm(".section .rodata\n"
    ".global quirelle_fogra27l_z\n"
    "quirelle_fogra27l_z:\n"
    ".incbin \"" QUIRELLE_ICC_DATA "\"\n"
    ".global quirelle_fogra27l_z_end\n"
    "quirelle_fogra27l_z_end:\n"
    ".previous\n");

namespace quirelle {

bool IECmykColorManagement = true;

namespace {

constexpr uLongf kProfileSize = 225824;

struct Transforms {
    cmsHTRANSFORM toRgb = nullptr;    // stored (complemented) 8-bit CMYK -> 16-bit BGR
    cmsHTRANSFORM toCmyk = nullptr;   // 8-bit BGR -> 16-bit ink CMYK
    ~Transforms() {
        if (toRgb) cmsDeleteTransform(toRgb);
        if (toCmyk) cmsDeleteTransform(toCmyk);
    }
};

const Transforms* BuildTransforms() {
    static Transforms transforms;
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<unsigned char> profile(kProfileSize);
        uLongf size = kProfileSize;
        const auto compressedSize = static_cast<uLong>(quirelle_fogra27l_z_end - quirelle_fogra27l_z);
        if (uncompress(profile.data(), &size, quirelle_fogra27l_z, compressedSize) != Z_OK) return;
        cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(size));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (cmyk && srgb) {
            // A stored byte v is the ink amount 65535 - 257 v: exactly the reversed 8-bit CMYK type.
            transforms.toRgb = cmsCreateTransform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_BGR_16, INTENT_PERCEPTUAL,
                                                  cmsFLAGS_NOCACHE);
            transforms.toCmyk = cmsCreateTransform(srgb, TYPE_BGR_8, cmyk, TYPE_CMYK_16, INTENT_PERCEPTUAL,
                                                   cmsFLAGS_NOCACHE);
        }
        if (cmyk) cmsCloseProfile(cmyk);
        if (srgb) cmsCloseProfile(srgb);
    });
    return transforms.toRgb && transforms.toCmyk ? &transforms : nullptr;
}

const Transforms* ActiveTransforms() { return IECmykColorManagement ? BuildTransforms() : nullptr; }

constexpr int32_t kChunk = 512;

}  // namespace

void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t n) {
    if (const Transforms* t = ActiveTransforms()) {
        uint16_t wide[kChunk * 3];
        for (int32_t done = 0; done < n; done += kChunk) {
            const int32_t count = std::min(kChunk, n - done);
            cmsDoTransform(t->toRgb, cmyk + 4 * done, wide, static_cast<cmsUInt32Number>(count));
            for (int32_t i = 0; i < count * 3; ++i) bgr[3 * done + i] = static_cast<uint8_t>(wide[i] >> 8);
        }
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        const BgrColor c = CmykToRgbArithmetic(TCMYK{cmyk[4 * i], cmyk[4 * i + 1], cmyk[4 * i + 2], cmyk[4 * i + 3]});
        bgr[3 * i] = c.b, bgr[3 * i + 1] = c.g, bgr[3 * i + 2] = c.r;
    }
}

void BgrRowToCmyk(const uint8_t* bgr, uint8_t* cmyk, int32_t n) {
    if (const Transforms* t = ActiveTransforms()) {
        uint16_t wide[kChunk * 4];
        for (int32_t done = 0; done < n; done += kChunk) {
            const int32_t count = std::min(kChunk, n - done);
            cmsDoTransform(t->toCmyk, bgr + 3 * done, wide, static_cast<cmsUInt32Number>(count));
            for (int32_t i = 0; i < count * 4; ++i) cmyk[4 * done + i] = static_cast<uint8_t>(255 - (wide[i] >> 8));
        }
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        const TCMYK c = RgbToCmykArithmetic(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]);
        cmyk[4 * i] = c.c, cmyk[4 * i + 1] = c.m, cmyk[4 * i + 2] = c.y, cmyk[4 * i + 3] = c.k;
    }
}

TCMYK RgbToCmyk(uint8_t r, uint8_t g, uint8_t b) {
    const uint8_t bgr[3] = {b, g, r};
    uint8_t out[4];
    BgrRowToCmyk(bgr, out, 1);
    return TCMYK{out[0], out[1], out[2], out[3]};
}

BgrColor CmykToRgb(TCMYK c) {
    const uint8_t in[4] = {c.c, c.m, c.y, c.k};
    uint8_t out[3];
    CmykRowToBgr(in, out, 1);
    return BgrColor{out[0], out[1], out[2]};
}

}  // namespace quirelle
