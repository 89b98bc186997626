// Encoding: the colour models and coding options read back by djpeg and by our decoder, the
// markers written, and the failure paths (empty buffers, cancel, short and failing streams,
// library errors).
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/jpegfilt.h"
#include "tests/codecs/jpegtest.h"

namespace quirelle {
namespace {

using test::Bytes;
using test::JpegLoadOptions;

bool HasSegment(const Bytes& jpeg, uint8_t code, const char* prefix = "") {
    for (const auto& [c, payload] : test::JpegSegments(jpeg))
        if (c == code && payload.size() >= std::strlen(prefix) && std::memcmp(payload.data(), prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
}

// The frame header's component sampling factors ("h x v" each).
std::string Sampling(const Bytes& jpeg) {
    for (const auto& [c, payload] : test::JpegSegments(jpeg)) {
        if ((c & 0xF0) != 0xC0 || c == 0xC4 || c == 0xC8 || c == 0xCC) continue;
        std::string text;
        for (int i = 0; i < payload[5]; ++i) {
            const uint8_t f = payload[6 + 3 * static_cast<size_t>(i) + 1];
            text += (i ? "," : "") + std::to_string(f >> 4) + "x" + std::to_string(f & 15);
        }
        return text;
    }
    return "";
}

// Every colour model and the coding options: djpeg decodes the file to the same pixels as our
// decoder, the pixels are close to the picture, and the file says what was asked for.
TEST(JpegSave, ColourModelsAndOptionsReadBackByDjpeg) {
    if (!test::HaveDjpeg()) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";
    test::ScratchDir dir;
    TIEBitmap picture(61, ie24RGB, 47);  // odd sizes: partial MCUs on both edges
    test::DrawPhoto(picture);
    struct Case {
        const char* what;
        uint8_t model, sampling, dct;
        bool progressive, optimize;
        int32_t smoothing;
        const char* frameSampling;
        double meanLimit;  // mean absolute difference per channel to the picture, quality 90
    };
    const Case cases[] = {
        {"YCbCr 2x2", 2, 1, 0, false, false, 0, "2x2,1x1,1x1", 4},
        {"YCbCr 2x1", 2, 0, 0, false, false, 0, "2x1,1x1,1x1", 4},
        {"YCbCr 1x1 progressive", 2, 2, 0, true, false, 0, "1x1,1x1,1x1", 3},
        {"YCbCr optimised, fast DCT", 2, 1, 1, false, true, 0, "2x2,1x1,1x1", 4},
        {"YCbCr float DCT, smoothing", 2, 1, 2, false, false, 30, "2x2,1x1,1x1", 6},
        {"RGB", 0, 1, 0, false, false, 0, "1x1,1x1,1x1", 3},
        {"gray", 1, 1, 0, false, false, 0, "1x1", 255},
        {"gray progressive", 1, 1, 0, true, true, 0, "1x1", 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIOParamsVals p;
        p.JpegColorModel = c.model;
        p.JpegChromaSampling = c.sampling;
        p.JpegDctKind = c.dct;
        p.JpegProgressiveScan = c.progressive;
        p.JpegOptimizeTables = c.optimize;
        p.JpegSmoothingFactor = c.smoothing;
        p.JpegQualityLevel = 90;
        const Bytes jpeg = test::SaveJpegBytes(picture, p);
        ASSERT_GT(jpeg.size(), 100u);
        EXPECT_EQ(Sampling(jpeg), c.frameSampling);
        EXPECT_EQ(HasSegment(jpeg, 0xC2), c.progressive);
        // RGB files carry the Adobe marker that says "no transform" instead of a JFIF header.
        EXPECT_EQ(HasSegment(jpeg, 0xE0, "JFIF"), c.model != 0);
        EXPECT_EQ(HasSegment(jpeg, 0xEE, "Adobe"), c.model == 0);

        const auto ours = test::LoadJpegBytes(jpeg);
        EXPECT_EQ(ours->cancel, 0);
        EXPECT_EQ(ours->params.JpegColorModel, c.model);
        EXPECT_EQ(ours->params.JpegProgressiveScan, c.progressive);
        EXPECT_EQ(test::ComparePixels(ours->bitmap, test::Djpeg(dir, jpeg)).differing, 0);
        if (c.model == 1) {
            // Gray: compare with the picture's luminance (the JPEG weights).
            const auto native = test::LoadJpegBytes(jpeg, JpegLoadOptions{.native = true});
            ASSERT_EQ(native->bitmap.Format(), ie8g);
            double total = 0;
            for (int32_t y = 0; y < 47; ++y)
                for (int32_t x = 0; x < 61; ++x) {
                    const BgrColor px = picture.PixelAsBgr(x, y);
                    total += std::abs(native->bitmap.GetPixel8(x, y) - (0.299 * px.r + 0.587 * px.g + 0.114 * px.b));
                }
            EXPECT_LT(total / (61 * 47), 2.0);
        } else {
            test::RgbImage source;
            source.width = 61, source.height = 47;
            for (int32_t y = 0; y < 47; ++y)
                for (int32_t x = 0; x < 61; ++x) {
                    const BgrColor px = picture.PixelAsBgr(x, y);
                    source.rgb.insert(source.rgb.end(), {px.r, px.g, px.b});
                }
            EXPECT_LT(test::ComparePixels(ours->bitmap, source).meanAbsolute, c.meanLimit);
        }
    }
}

// An RGB-model file stores red, green, blue in that order: a pure red picture decodes red in
// any decoder, and our buffer gets blue, green, red again.
TEST(JpegSave, RgbModelKeepsTheChannelOrder) {
    TIEBitmap red(16, ie24RGB, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) red.SetPixel24(x, y, BgrColor{0, 0, 255});
    TIOParamsVals p;
    p.JpegColorModel = 0;
    p.JpegQualityLevel = 100;
    const Bytes jpeg = test::SaveJpegBytes(red, p);
    const auto loaded = test::LoadJpegBytes(jpeg);
    EXPECT_EQ(loaded->params.JpegColorModel, 0);
    const uint8_t* row = loaded->bitmap.RowAddress(5);
    EXPECT_LE(row[0], 2);
    EXPECT_LE(row[1], 2);
    EXPECT_GE(row[2], 253);
    if (test::HaveDjpeg()) {
        test::ScratchDir dir;
        const test::RgbImage decoded = test::Djpeg(dir, jpeg);
        ASSERT_EQ(decoded.width, 16);
        EXPECT_GE(decoded.At(5, 5)[0], 253);
        EXPECT_LE(decoded.At(5, 5)[2], 2);
    }
}

// CMYK and YCCK: four components from the colour rules, a JFIF header beside the Adobe marker
// for CMYK, and the colours come back through the same rules.
TEST(JpegSave, CmykAndYcck) {
    TIEBitmap picture(40, ie24RGB, 24);
    test::DrawPhoto(picture);
    for (uint8_t model : {uint8_t{3}, uint8_t{4}}) {
        SCOPED_TRACE(model == 3 ? "CMYK" : "YCCK");
        TIOParamsVals p;
        p.JpegColorModel = model;
        p.JpegQualityLevel = 95;
        const Bytes jpeg = test::SaveJpegBytes(picture, p);
        EXPECT_TRUE(HasSegment(jpeg, 0xEE, "Adobe"));
        EXPECT_EQ(HasSegment(jpeg, 0xE0, "JFIF"), model == 3);
        // Sampling factors are chosen for YCbCr only; YCCK keeps the library's 2 x 2 for Y and K.
        EXPECT_EQ(Sampling(jpeg), model == 3 ? "1x1,1x1,1x1,1x1" : "2x2,1x1,1x1,2x2");
        const auto native = test::LoadJpegBytes(jpeg, JpegLoadOptions{.native = true});
        EXPECT_EQ(native->cancel, 0);
        EXPECT_EQ(native->params.JpegColorModel, model);
        ASSERT_EQ(native->bitmap.Format(), ieCMYK);
        const auto colour = test::LoadJpegBytes(jpeg);
        ASSERT_EQ(colour->bitmap.Format(), ie24RGB);
        double total = 0;
        for (int32_t y = 0; y < 24; ++y) {
            const uint8_t* cmyk = native->bitmap.RowAddress(y);
            for (int32_t x = 0; x < 40; ++x) {
                const TCMYK expected = RgbToCmyk(picture.PixelAsBgr(x, y).r, picture.PixelAsBgr(x, y).g, picture.PixelAsBgr(x, y).b);
                total += std::abs(cmyk[4 * x] - expected.c) + std::abs(cmyk[4 * x + 3] - expected.k);
                // The colour load is the CMYK rule applied to the native samples.
                const BgrColor c = CmykToRgb(TCMYK{cmyk[4 * x], cmyk[4 * x + 1], cmyk[4 * x + 2], cmyk[4 * x + 3]});
                EXPECT_EQ(colour->bitmap.PixelAsBgr(x, y), c);
            }
        }
        EXPECT_LT(total / (40 * 24 * 2), 4.0);
        // The invert switch complements the samples before the colour rule.
        const auto inverted = test::LoadJpegBytes(jpeg, JpegLoadOptions{.invertCmyk = true});
        const uint8_t* s = native->bitmap.RowAddress(3);
        EXPECT_EQ(inverted->bitmap.PixelAsBgr(2, 3),
                  CmykToRgb(TCMYK{uint8_t(255 - s[8]), uint8_t(255 - s[9]), uint8_t(255 - s[10]), uint8_t(255 - s[11])}));
    }
}

// Other pixel formats are coded from a colour copy; the buffer itself is left as it was.
TEST(JpegSave, OtherPixelFormatsAndSmallSizes) {
    TIEBitmap bilevel(9, ie1g, 5);
    for (int32_t x = 0; x < 9; ++x) bilevel.SetPixel1(x, 2, x % 2 == 0);
    TIOParamsVals p;
    p.JpegQualityLevel = 100;
    p.JpegColorModel = 1;
    const auto loaded = test::LoadJpegBytes(test::SaveJpegBytes(bilevel, p));
    EXPECT_EQ(bilevel.Format(), ie1g);
    EXPECT_EQ(loaded->cancel, 0);
    EXPECT_GT(loaded->bitmap.PixelAsBgr(0, 2).g, 200);
    EXPECT_LT(loaded->bitmap.PixelAsBgr(1, 2).g, 60);

    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 300}, std::pair{300, 1}}) {
        TIEBitmap b(w, ie24RGB, h);
        test::DrawPhoto(b);
        TIOParamsVals q;
        uint8_t cancel = 0;
        const Bytes jpeg = test::SaveJpegBytes(b, q, &cancel);
        EXPECT_EQ(cancel, 0);
        const auto back = test::LoadJpegBytes(jpeg);
        EXPECT_EQ(back->bitmap.Width(), w);
        EXPECT_EQ(back->bitmap.Height(), h);
    }
}

// The marker list is written sorted (by code, ICC chunks by sequence, Exif first among the APP1
// markers), without any APP14 of the list.
TEST(JpegSave, MarkersAreWrittenSortedWithoutApp14) {
    TIEBitmap b(8, ie24RGB, 8);
    test::DrawPhoto(b);
    TIOParamsVals p;
    auto add = [&](uint8_t code, const std::string& payload) {
        p.JpegMarkers.Add(code, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    };
    add(0xFE, "comment");
    add(0xE2, std::string("ICC_PROFILE\0\x02\x02" "second", 20));
    add(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<xmp/>", 35));
    add(0xEE, std::string("Adobe\0\x64\0\0\0\0\x01", 12));
    add(0xE2, std::string("ICC_PROFILE\0\x01\x02" "first", 19));
    add(0xE1, std::string("Exif\0\0MM\0*\0\0\0\x08", 14));
    add(0xDB, "not a quantization table");  // only APPn and COM markers are written
    const TIEMarkerList before = p.JpegMarkers;
    const Bytes jpeg = test::SaveJpegBytes(b, p);
    EXPECT_EQ(p.JpegMarkers, before) << "the parameter set's list is not reordered";
    std::vector<std::string> order;
    for (const auto& [code, payload] : test::JpegSegments(jpeg)) {
        EXPECT_NE(std::string(payload.begin(), payload.end()), "not a quantization table");
        if (code < 0xE0) continue;
        order.push_back(std::to_string(code - 0xE0) + ":" + std::string(payload.begin(), payload.begin() + 4));
    }
    const std::vector<std::string> expected = {"0:JFIF", "1:Exif", "1:http", "2:ICC_", "2:ICC_", "30:comm"};
    EXPECT_EQ(order, expected);
    const auto loaded = test::LoadJpegBytes(jpeg);
    ASSERT_EQ(loaded->params.JpegMarkers.Count(), 5);
    EXPECT_EQ(loaded->params.JpegMarkers[2].Data[12], 1);
    EXPECT_EQ(loaded->params.JpegMarkers[3].Data[12], 2);
    // Both chunks present: the profile is joined in order and kept with its markers.
    ASSERT_TRUE(loaded->params.HasInputICCProfile());
    EXPECT_EQ(std::string(loaded->params.InputICCProfile()->Raw.begin(), loaded->params.InputICCProfile()->Raw.end()),
              "firstsecond");
}

// A stream that stores less than it is offered sets the flag and the coding goes on; a stream
// that raises hands its exception to the caller unchanged.
class ShortWriteStream : public TMemoryStream {
public:
    explicit ShortWriteStream(int64_t room, bool raise) : room_(room), raise_(raise) {}
    int64_t Write(const void* buffer, int64_t count) override {
        if (Size() + count > room_) {
            if (raise_) throw EIEFileError("Disk full");
            return TMemoryStream::Write(buffer, std::max<int64_t>(0, room_ - Size()));
        }
        return TMemoryStream::Write(buffer, count);
    }

private:
    int64_t room_;
    bool raise_;
};

TEST(JpegSave, EmptyBuffersCancelAndStreamFailures) {
    TIOParamsVals p;
    // Empty buffers write nothing and set the flag.
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}}) {
        TIEBitmap empty;
        if (w || h) empty.Allocate(w, h, ie24RGB);
        uint8_t cancel = 0;
        EXPECT_TRUE(test::SaveJpegBytes(empty, p, &cancel).empty());
        EXPECT_EQ(cancel, 1);
    }
    TIEBitmap big(400, ie24RGB, 400);
    test::DrawPhoto(big);
    p.JpegQualityLevel = 100;
    // A flag already set: nothing is written.
    uint8_t cancel = 1;
    EXPECT_TRUE(test::SaveJpegBytes(big, p, &cancel).empty());
    // A cancel from the progress handler stops the rows; what was flushed stays.
    {
        uint8_t flag = 0;
        std::vector<int32_t> seen;
        ProgressRecord progress;
        progress.CancelFlag = &flag;
        progress.ProgressNotify = [&](TImageIO*, int32_t percent) {
            seen.push_back(percent);
            if (percent == 40) flag = 1;
        };
        TMemoryStream out;
        SaveJpegToStream(out, big, p, progress);
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(seen.back(), 40);
        EXPECT_EQ(seen.front(), 0);
    }
    // Short writes.
    {
        ShortWriteStream out(1000, false);
        uint8_t flag = 0;
        ProgressRecord progress;
        progress.CancelFlag = &flag;
        EXPECT_NO_THROW(SaveJpegToStream(out, big, p, progress));
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(out.Size(), 1000);
    }
    // A raising stream.
    {
        ShortWriteStream out(1000, true);
        uint8_t flag = 0;
        ProgressRecord progress;
        progress.CancelFlag = &flag;
        EXPECT_THROW(SaveJpegToStream(out, big, p, progress), EIEFileError);
        EXPECT_EQ(flag, 1);
        // Small enough for one buffer: the failure comes at the end.
        TIEBitmap small(8, ie24RGB, 8);
        ShortWriteStream tight(10, true);
        flag = 0;
        EXPECT_THROW(SaveJpegToStream(tight, small, p, progress), EIEFileError);
    }
}

// Library errors are raised as EIEJpegException with the library's text, numbers as "?".
TEST(JpegSave, LibraryErrorsRaiseWithTheMessage) {
    TIEBitmap wide(70000, ie8g, 1);
    TIOParamsVals p;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TMemoryStream out;
    try {
        SaveJpegToStream(out, wide, p, progress);
        ADD_FAILURE() << "no exception";
    } catch (const EIEJpegException& e) {
        EXPECT_STREQ(e.what(), "Maximum supported image dimension is ? pixels");
    }
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(out.Size(), 0);
}

}  // namespace
}  // namespace quirelle
