// Helpers of the JPEG codec tests: loading bytes with chosen switches, djpeg as the reference
// decoder, pixel comparison, and hand-built marker segments.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codecs/jpegfilt.h"
#include "tests/support/render.h"
#include "tests/support/testsupport.h"

namespace quirelle::test {

using Bytes = std::vector<uint8_t>;

struct JpegLoadOptions {
    bool native = false;
    int32_t rowLimit = -1;
    bool headerOnly = false;
    bool keepYCbCr = false;
    bool invertCmyk = false;
    bool metadata = true;
    uint8_t scaleChoice = 1;
    uint8_t dctKind = 0;
    int32_t requestedWidth = 0, requestedHeight = 0;
};

struct JpegLoaded {
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    int32_t rows = 0;
};

std::unique_ptr<JpegLoaded> LoadJpegBytes(const Bytes& data, const JpegLoadOptions& options = {});

// Saves a buffer with the parameter set's JPEG fields; the bytes written.
Bytes SaveJpegBytes(TIEBitmap& bitmap, TIOParamsVals& params, uint8_t* cancel = nullptr);

// djpeg's decoding of a JPEG file (PPM, or PGM for gray output, as RGB); empty when djpeg failed.
RgbImage Djpeg(const ScratchDir& dir, const std::filesystem::path& jpeg, const std::string& switches = "");
RgbImage Djpeg(const ScratchDir& dir, const Bytes& jpeg, const std::string& switches = "");
bool HaveDjpeg();

// Number of pixels whose colour differs from the reference (the buffer read through PixelAsBgr),
// and the largest channel difference; sizes must agree (else returns -1).
struct PixelDiff {
    int64_t differing = 0;
    int32_t largest = 0;
    double meanAbsolute = 0;  // per channel
};
PixelDiff ComparePixels(TIEBitmap& bitmap, const RgbImage& reference);

// A smooth, photo-like test picture with some detail (gradients, rings, a few sharp edges).
void DrawPhoto(TIEBitmap& bitmap);

// The marker segments of a JPEG stream up to SOS: (code, payload).
std::vector<std::pair<uint8_t, Bytes>> JpegSegments(const Bytes& jpeg);

Bytes BytesOf(const std::string& text);

}  // namespace quirelle::test
