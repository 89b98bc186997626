// The wireless bitmap reader: headers with multi-byte integers, bad and hostile headers, short
// bodies, and the public test files against ImageMagick.
#include "readers/iewbmp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "readers/iepnm.h"
#include "tests/support/readerrun.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (const int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

struct WbmpRead : test::ReaderRun {
    WbmpRead() : ReaderRun(ReadWbmp) {}
};

TEST(WbmpRead, ReadsRowsMostSignificantBitFirstOneIsWhite) {
    WbmpRead r;
    const BgrColor map[1] = {{1, 2, 3}};
    r.params.SetColorMap(map, 1);
    ASSERT_TRUE(r.Read(Bytes({0x00, 0x00, 0x08, 0x02, 0xF0, 0x0F})));
    EXPECT_EQ(r.bitmap.Format(), ie1g);
    EXPECT_EQ(r.Row(0), "....####");
    EXPECT_EQ(r.Row(1), "####....");
    EXPECT_EQ(r.params.ChannelBits, 1);
    EXPECT_EQ(r.params.ChannelCount, 1);
    EXPECT_EQ(r.params.PixelWidth, 8);
    EXPECT_EQ(r.params.StoredWidth, 8);
    EXPECT_EQ(r.params.PixelHeight, 2);
    EXPECT_EQ(r.params.StoredHeight, 2);
    EXPECT_EQ(r.params.ResolutionX, 300);
    EXPECT_EQ(r.params.ResolutionY, 300);
    EXPECT_EQ(r.params.ColorMapCount, 0);
}

TEST(WbmpRead, OddWidthUsesWholeBytesPerRow) {
    WbmpRead r;
    ASSERT_TRUE(r.Read(Bytes({0, 0, 10, 2, 0xFF, 0xC0, 0x00, 0x40})));
    EXPECT_EQ(r.Row(0), "..........");
    EXPECT_EQ(r.Row(1), "#########.");
}

TEST(WbmpRead, SizesAreMultiByteIntegers) {
    const struct {
        std::string header;
        int32_t width, height;
    } cases[] = {
        {Bytes({0, 0, 0x81, 0x00, 0x01}), 128, 1},
        {Bytes({0, 0, 0x82, 0x2C, 0x03}), 300, 3},               // wider than 255: kept whole
        {Bytes({0, 0, 0x01, 0x80, 0x81, 0x80, 0x00}), 1, 16384},  // a leading zero group
        {Bytes({0x80, 0x00, 0x80, 0x80, 0x00, 2, 2}), 2, 2},      // zero written in several bytes
    };
    for (const auto& c : cases) {
        WbmpRead r;
        const size_t body = static_cast<size_t>((c.width + 7) / 8) * static_cast<size_t>(c.height);
        std::string data = c.header;
        data.append(body, '\x55');
        ASSERT_TRUE(r.Read(data)) << c.width << "x" << c.height;
        EXPECT_EQ(r.bitmap.Width(), c.width);
        EXPECT_EQ(r.bitmap.Height(), c.height);
        EXPECT_EQ(r.params.PixelWidth, c.width);
        EXPECT_EQ(r.params.PixelHeight, c.height);
        EXPECT_EQ(r.bitmap.GetPixel1(c.width - 1, c.height - 1), (c.width - 1) % 2 == 1);  // 0x55 bytes
    }
}

TEST(WbmpRead, RejectsBadHeaders) {
    const struct {
        const char* name;
        std::string data;
    } cases[] = {
        {"type 1", Bytes({1, 0, 8, 1, 0})},
        {"type 256 (low byte 0)", Bytes({0x82, 0x00, 0, 8, 1, 0})},
        {"extension headers announced", Bytes({0, 0x80, 8, 1, 0})},
        {"fixed header 1", Bytes({0, 1, 8, 1, 0})},
        {"width 0", Bytes({0, 0, 0, 1, 0})},
        {"height 0", Bytes({0, 0, 8, 0})},
        {"five-byte integer", Bytes({0, 0, 0x80, 0x80, 0x80, 0x81, 0x00, 1, 0})},
        {"header cut inside an integer", Bytes({0, 0, 0x81})},
        {"header cut before the height", Bytes({0, 0, 8})},
        {"empty stream", ""},
    };
    for (const auto& c : cases) {
        WbmpRead r;
        r.params.PixelWidth = -7;
        EXPECT_FALSE(r.Read(c.data)) << c.name;
        EXPECT_EQ(r.params.PixelWidth, -7) << c.name;
        EXPECT_TRUE(r.bitmap.IsEmpty()) << c.name;
    }
}

TEST(WbmpRead, ShortBodyKeepsTheRowsReadAndCancels) {
    WbmpRead r;
    EXPECT_FALSE(r.Read(Bytes({0, 0, 12, 3, 0x0F, 0x00, 0x00})));
    ASSERT_EQ(r.bitmap.Height(), 3);
    EXPECT_EQ(r.Row(0), "####....####");
    EXPECT_EQ(r.Row(1), "########....");  // one byte of two arrived; the rest is white
    EXPECT_EQ(r.Row(2), "............");
}

TEST(WbmpRead, RefusesHugeSizesOverShortStreamsWithoutAllocating) {
    for (const std::string& data : {Bytes({0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}),
                                    Bytes({0, 0, 0x81, 0x80, 0x80, 0x00, 0x81, 0x80, 0x80, 0x00})}) {
        WbmpRead r;
        EXPECT_FALSE(r.Read(data));
        EXPECT_TRUE(r.bitmap.IsEmpty());
        EXPECT_GT(r.params.PixelWidth, 0);
    }
}

TEST(WbmpRead, ParamsOnlyLeavesTheBufferAlone) {
    WbmpRead r;
    ASSERT_TRUE(r.bitmap.Allocate(1, 1, ie8g));
    ASSERT_TRUE(r.Read(Bytes({0, 0, 0x81, 0x00, 100}), /*paramsOnly*/ true));
    EXPECT_EQ(r.params.PixelWidth, 128);
    EXPECT_EQ(r.params.PixelHeight, 100);
    EXPECT_EQ(r.bitmap.Format(), ie8g);
}

TEST(WbmpRead, ReportsProgressPerRowAndStopsWhenCancelled) {
    WbmpRead r;
    std::vector<int32_t> seen;
    r.progress.ProgressNotify = [&](TImageIO*, int32_t percent) { seen.push_back(percent); };
    ASSERT_TRUE(r.Read(Bytes({0, 0, 8, 4, 1, 2, 3, 4})));
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 25, 50, 75}));

    WbmpRead cancelled;
    cancelled.progress.ProgressNotify = [&](TImageIO*, int32_t percent) {
        if (percent >= 25) cancelled.cancel = 1;
    };
    EXPECT_FALSE(cancelled.Read(Bytes({0, 0, 8, 4, 0, 0, 0, 0})));
    EXPECT_EQ(cancelled.Row(1), "########");
    EXPECT_EQ(cancelled.Row(2), "........");
}

TEST(WbmpPublicFiles, MatchImageMagick) {
    const auto root = test::SharedTestData();
    if (root.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is absent";
    test::ScratchDir scratch;
    const auto files = test::FilesMatching(root / "wuffs", "", ".wbmp");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const auto pbm = scratch / "reference.pbm";
        const std::string command = "/usr/bin/convert '" + file.string() + "' 'pbm:" + pbm.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);

        const std::vector<uint8_t> reference = test::ReadFileBytes(pbm);
        test::ReaderRun referenceRead(ReadPnm);
        ASSERT_TRUE(referenceRead.Read(std::string(reference.begin(), reference.end())));
        TIEBitmap& expected = referenceRead.bitmap;

        const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
        WbmpRead r;
        ASSERT_TRUE(r.Read(std::string(bytes.begin(), bytes.end())));
        ASSERT_EQ(r.bitmap.Width(), expected.Width());
        ASSERT_EQ(r.bitmap.Height(), expected.Height());
        for (int32_t y = 0; y < expected.Height(); ++y)
            for (int32_t x = 0; x < expected.Width(); ++x)
                ASSERT_EQ(r.bitmap.GetPixel1(x, y), expected.GetPixel1(x, y)) << x << "," << y;
    }
}

}  // namespace
}  // namespace quirelle
