// The PBM/PGM/PPM token reader, reader and writer: every form on hand-made files, bad and
// hostile headers, truncated bodies, the writer's header text and form choice, round trips, and
// the public test files against Pillow.
#include "readers/iepnm.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/readerrun.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

// Text followed by raw bytes.
std::string Bin(const std::string& text, std::initializer_list<int> bytes = {}) {
    std::string s = text;
    for (const int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

struct PnmRead : test::ReaderRun {
    PnmRead() : ReaderRun(ReadPnm) {}
};

BgrColor Gray(uint8_t v) { return BgrColor{v, v, v}; }
BgrColor Rgb(uint8_t r, uint8_t g, uint8_t b) { return BgrColor{b, g, r}; }

// ---------------------------------------------------------------------------------------------
// Token reader

std::vector<std::string> AllTokens(TStream& stream) {
    std::vector<std::string> tokens;
    for (;;) {
        std::string token = ReadPnmToken(stream);
        if (token.empty()) return tokens;
        tokens.push_back(token);
    }
}

TEST(PnmToken, SplitsAtEveryByteThatIsNoLetterOrDigit) {
    const struct {
        std::string input;
        std::vector<std::string> tokens;
    } cases[] = {
        {"P6 640\t480\r\n255 ", {"P6", "640", "480", "255"}},
        {"P3,12;x-7\xff" "9", {"P3", "12", "x", "7", "9"}},
        {"   # a comment  \r\nP1", {"#a comment", "P1"}},
        {"#\n#  \n", {"#", "#"}},
        {"#unterminated", {"#unterminated"}},
        // A "#" right after a token is that token's separator: the comment's words become tokens.
        {"12#34 text\n5", {"12", "34", "text", "5"}},
        {"abc", {"abc"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        TIEMemoryReadStream plain(c.input.data(), static_cast<int64_t>(c.input.size()));
        EXPECT_EQ(AllTokens(plain), c.tokens) << c.input;
        TIEMemoryReadStream source(c.input.data(), static_cast<int64_t>(c.input.size()));
        TIEBufferedReadStream buffered(source);
        EXPECT_EQ(AllTokens(buffered), c.tokens) << c.input;
    }
}

TEST(PnmToken, ConsumesExactlyOneSeparator) {
    const std::string data = "P5\n\n7";
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(ReadPnmToken(stream), "P5");
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(ReadPnmToken(stream), "7");
    EXPECT_EQ(stream.Position(), 5);
    EXPECT_EQ(ReadPnmToken(stream), "");
}

// A stream that counts the reads reaching it.
class CountingStream : public TIEMemoryReadStream {
public:
    using TIEMemoryReadStream::TIEMemoryReadStream;
    int64_t Read(void* buffer, int64_t count) override {
        ++reads;
        return TIEMemoryReadStream::Read(buffer, count);
    }
    int reads = 0;
};

TEST(PnmRead, AsciiFormsDoNotReadTheStreamBytewise) {
    std::string data = "P3 100 100 255\n";
    for (int i = 0; i < 100 * 100 * 3; ++i) data += std::to_string(i % 256) + (i % 20 == 19 ? "\n" : " ");
    CountingStream stream(data.data(), static_cast<int64_t>(data.size()));
    PnmRead r;
    EXPECT_TRUE(r.Read(stream));
    EXPECT_EQ(r.Px(99, 99), Rgb(29997 % 256, 29998 % 256, 29999 % 256));
    EXPECT_LT(stream.reads, 10) << data.size() << " bytes";
}

// ---------------------------------------------------------------------------------------------
// Header

TEST(PnmRead, CollectsCommentsBeforeAndBetweenHeaderTokensInOrder) {
    PnmRead r;
    r.params.PnmComments = {"stale"};
    ASSERT_TRUE(r.Read("#lead\nP2\n# first\n# second  \n3 # third\n 1\n#fourth\n255\n1 2 3\n# not a header comment\n"));
    EXPECT_EQ(r.params.PnmComments, (std::vector<std::string>{"lead", "first", "second", "third", "fourth"}));
    EXPECT_EQ(r.params.PixelWidth, 3);
    EXPECT_EQ(r.Px(2, 0), Gray(3));
}

TEST(PnmRead, HashRightAfterATokenLetsTheCommentTextFillTheHeader) {
    // "2#3 1": the "#" ends the width, and the words after it are the height and maximum value.
    PnmRead r;
    ASSERT_TRUE(r.Read(Bin("P5 2#3 1\n", {0, 1, 1, 0, 0, 1})));
    EXPECT_TRUE(r.params.PnmComments.empty());
    EXPECT_EQ(r.params.PixelWidth, 2);
    EXPECT_EQ(r.params.PixelHeight, 3);
    EXPECT_EQ(r.Px(0, 0), Gray(0));
    EXPECT_EQ(r.Px(1, 0), Gray(255));
    EXPECT_EQ(r.Px(1, 2), Gray(255));
}

TEST(PnmRead, FillsTheParameterSet) {
    PnmRead r;
    const BgrColor map[2] = {{1, 2, 3}, {4, 5, 6}};
    r.params.SetColorMap(map, 2);
    r.params.ResolutionX = r.params.ResolutionY = 72;
    ASSERT_TRUE(r.Read(Bin("P6 3 2 255\n", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18})));
    EXPECT_EQ(r.params.PixelWidth, 3);
    EXPECT_EQ(r.params.StoredWidth, 3);
    EXPECT_EQ(r.params.PixelHeight, 2);
    EXPECT_EQ(r.params.StoredHeight, 2);
    EXPECT_EQ(r.params.ResolutionX, 300);
    EXPECT_EQ(r.params.ResolutionY, 300);
    EXPECT_EQ(r.params.ChannelBits, 8);
    EXPECT_EQ(r.params.ChannelCount, 3);
    EXPECT_EQ(r.params.ColorMapCount, 0);
    EXPECT_TRUE(r.params.ColorMap.empty());
}

TEST(PnmRead, ParamsOnlyLeavesTheBufferAlone) {
    PnmRead r;
    ASSERT_TRUE(r.bitmap.Allocate(1, 1, ie8g));
    ASSERT_TRUE(r.Read("P5 # gray\n640 480 1023\n", /*paramsOnly*/ true));
    EXPECT_EQ(r.params.PixelWidth, 640);
    EXPECT_EQ(r.params.PixelHeight, 480);
    EXPECT_EQ(r.params.ChannelBits, 16);
    EXPECT_EQ(r.params.ChannelCount, 1);
    EXPECT_EQ(r.params.PnmComments, std::vector<std::string>{"gray"});
    EXPECT_EQ(r.bitmap.Width(), 1);
    EXPECT_EQ(r.bitmap.Format(), ie8g);
}

TEST(PnmRead, RejectsBadHeaders) {
    const struct {
        const char* name;
        std::string data;
        bool sizeStored;  // the header fields reached the parameter set before the rejection
    } cases[] = {
        {"empty stream", "", false},
        {"zero width", "P6 0 10 255\n", false},
        {"zero height", "P4 8 0\n", false},
        {"width not a number", "P6 abc 10 255\n", false},
        {"width beyond 32 bits", "P6 99999999999 1 255\n", false},
        {"height missing", "P6 10", false},
        {"unknown magic", "P7 2 2 255\n0123456789ab", true},
        {"lower-case magic", "p6 2 2 255\n0123456789ab", true},
        {"maximum above 65535", "P5 2 2 65536\n01234567", true},
        {"maximum 0", "P5 2 2 0\n0123", true},
        {"maximum not a number", "P2 2 2 x\n1 2 3 4", true},
        {"maximum missing", "P5 2 2", true},
    };
    for (const auto& c : cases) {
        PnmRead r;
        r.params.PixelWidth = -7;
        EXPECT_FALSE(r.Read(c.data)) << c.name;
        EXPECT_EQ(r.params.PixelWidth != -7, c.sizeStored) << c.name;
        EXPECT_TRUE(r.bitmap.IsEmpty()) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Forms

TEST(PnmRead, PlainBitmap) {
    PnmRead r;
    ASSERT_TRUE(r.Read("P1\n2 1\n0 1\n"));
    EXPECT_EQ(r.bitmap.Format(), ie1g);
    EXPECT_EQ(r.params.ChannelBits, 1);
    EXPECT_EQ(r.params.ChannelCount, 1);
    EXPECT_TRUE(r.bitmap.GetPixel1(0, 0));   // "0" is white
    EXPECT_FALSE(r.bitmap.GetPixel1(1, 0));  // "1" is black

    // An odd width, digits packed without separators, rows split anywhere, other bytes skipped.
    PnmRead odd;
    ASSERT_TRUE(odd.Read("P1 10 2\n01010 1010.1\n11111abc00000x"));
    const char* expected[2] = {"0101010101", "1111100000"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_EQ(odd.bitmap.GetPixel1(x, y), expected[y][x] == '0') << x << "," << y;
}

TEST(PnmRead, RawBitmap) {
    PnmRead r;
    ASSERT_TRUE(r.Read(Bin("P4 8 1\n", {0x80})));
    EXPECT_EQ(r.bitmap.Format(), ie1g);
    EXPECT_FALSE(r.bitmap.GetPixel1(0, 0));
    for (int x = 1; x < 8; ++x) EXPECT_TRUE(r.bitmap.GetPixel1(x, 0));

    PnmRead odd;  // 10 wide: two bytes per row, the last six bits padding
    ASSERT_TRUE(odd.Read(Bin("P4 10 2\n", {0xAA, 0x40, 0x00, 0x80})));
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(odd.bitmap.GetPixel1(x, 0), x < 8 ? x % 2 == 1 : x == 8) << x;
        EXPECT_EQ(odd.bitmap.GetPixel1(x, 1), x != 8) << x;
    }
}

TEST(PnmRead, PlainGraymap) {
    PnmRead r;
    ASSERT_TRUE(r.Read("P2 3 1 15\n15 8\n0\n"));
    EXPECT_EQ(r.bitmap.Format(), ie24RGB);
    EXPECT_EQ(r.params.ChannelBits, 8);
    EXPECT_EQ(r.params.ChannelCount, 1);
    EXPECT_EQ(r.Px(0, 0), Gray(255));
    EXPECT_EQ(r.Px(1, 0), Gray(136));
    EXPECT_EQ(r.Px(2, 0), Gray(0));

    PnmRead deep;  // 16-bit plain samples, still an 8-bit buffer
    ASSERT_TRUE(deep.Read("P2 2 1 65535\n65535 32896\n"));
    EXPECT_EQ(deep.params.ChannelBits, 8);
    EXPECT_EQ(deep.Px(0, 0), Gray(255));
    EXPECT_EQ(deep.Px(1, 0), Gray(128));

    PnmRead quirks;  // a comment between samples is one sample of 0; an oversized sample keeps its low 8 bits
    ASSERT_TRUE(quirks.Read("P2 3 1 255\n7 # note\n 300\n"));
    EXPECT_EQ(quirks.Px(0, 0), Gray(7));
    EXPECT_EQ(quirks.Px(1, 0), Gray(0));
    EXPECT_EQ(quirks.Px(2, 0), Gray(300 - 256));
}

TEST(PnmRead, PlainPixmap) {
    PnmRead r;
    ASSERT_TRUE(r.Read("P3\n# c\n2 1\n255\n255 0 10\n1 2 3\n"));
    EXPECT_EQ(r.params.ChannelBits, 8);
    EXPECT_EQ(r.params.ChannelCount, 3);
    EXPECT_EQ(r.Px(0, 0), Rgb(255, 0, 10));
    EXPECT_EQ(r.Px(1, 0), Rgb(1, 2, 3));

    PnmRead scaled;
    ASSERT_TRUE(scaled.Read("P3 1 1 7 7 1 0"));
    EXPECT_EQ(scaled.Px(0, 0), Rgb(255, 36, 0));  // 1 / 7 x 255 = 36.4
}

TEST(PnmRead, RawGraymap8) {
    PnmRead r;
    ASSERT_TRUE(r.Read(Bin("P5 3 1 15\n", {15, 8, 0})));
    EXPECT_EQ(r.bitmap.Format(), ie24RGB);
    EXPECT_EQ(r.params.ChannelBits, 8);
    EXPECT_EQ(r.params.ChannelCount, 1);
    EXPECT_EQ(r.Px(0, 0), Gray(255));
    EXPECT_EQ(r.Px(1, 0), Gray(136));
    EXPECT_EQ(r.Px(2, 0), Gray(0));

    PnmRead full;  // 255: bytes taken as they are; an odd width
    ASSERT_TRUE(full.Read(Bin("P5 3 2 255\n", {0, 1, 2, 253, 254, 255})));
    EXPECT_EQ(full.Px(2, 0), Gray(2));
    EXPECT_EQ(full.Px(0, 1), Gray(253));
    EXPECT_EQ(full.Px(2, 1), Gray(255));
}

TEST(PnmRead, RawGraymap16) {
    const std::string data = Bin("P5 3 1 1023\n", {0x03, 0xFF, 0x02, 0x00, 0x00, 0x01});
    PnmRead native;
    native.params.NativePixelFormat = true;
    ASSERT_TRUE(native.Read(data));
    EXPECT_EQ(native.bitmap.Format(), ie16gray);
    EXPECT_EQ(native.params.ChannelBits, 16);
    EXPECT_EQ(native.params.ChannelCount, 1);
    EXPECT_EQ(native.bitmap.GetPixel16(0, 0), 65535);
    EXPECT_EQ(native.bitmap.GetPixel16(1, 0), 32800);  // 512 / 1023 x 65535 = 32800.03
    EXPECT_EQ(native.bitmap.GetPixel16(2, 0), 64);     // 64.06

    PnmRead eight;
    ASSERT_TRUE(eight.Read(data));
    EXPECT_EQ(eight.bitmap.Format(), ie24RGB);
    EXPECT_EQ(eight.params.ChannelBits, 16);
    EXPECT_EQ(eight.Px(0, 0), Gray(255));
    EXPECT_EQ(eight.Px(1, 0), Gray(128));
    EXPECT_EQ(eight.Px(2, 0), Gray(0));
}

TEST(PnmRead, RawPixmap8) {
    PnmRead r;  // odd width, red-green-blue in the file
    ASSERT_TRUE(r.Read(Bin("P6 3 1 255\n", {255, 0, 10, 1, 2, 3, 0, 0, 255})));
    EXPECT_EQ(r.params.ChannelBits, 8);
    EXPECT_EQ(r.params.ChannelCount, 3);
    EXPECT_EQ(r.Px(0, 0), Rgb(255, 0, 10));
    EXPECT_EQ(r.Px(1, 0), Rgb(1, 2, 3));
    EXPECT_EQ(r.Px(2, 0), Rgb(0, 0, 255));
}

TEST(PnmRead, RawPixmapIsScaledByItsMaximumValue) {
    PnmRead r;  // 100 stands for full intensity; 50 / 100 x 255 = 127.5 rounds to the even 128
    ASSERT_TRUE(r.Read(Bin("P6 2 1 100\n", {100, 50, 0, 1, 99, 20})));
    EXPECT_EQ(r.Px(0, 0), Rgb(255, 128, 0));
    EXPECT_EQ(r.Px(1, 0), Rgb(3, 252, 51));

    // 16-bit samples are scaled too, not cut to their high byte.
    const std::string deep = Bin("P6 2 1 65535\n", {0x80, 0xFF, 0x00, 0x81, 0x00, 0x80, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x00});
    PnmRead eight;
    ASSERT_TRUE(eight.Read(deep));
    EXPECT_EQ(eight.bitmap.Format(), ie24RGB);
    EXPECT_EQ(eight.params.ChannelBits, 16);
    EXPECT_EQ(eight.params.ChannelCount, 3);
    EXPECT_EQ(eight.Px(0, 0), Rgb(128, 1, 0));
    EXPECT_EQ(eight.Px(1, 0), Rgb(127, 255, 1));

    PnmRead tenBits;
    ASSERT_TRUE(tenBits.Read(Bin("P6 1 1 1023\n", {0x03, 0xFF, 0x01, 0x00, 0x00, 0x80})));
    EXPECT_EQ(tenBits.Px(0, 0), Rgb(255, 64, 32));
}

TEST(PnmRead, RawPixmap16Native) {
    PnmRead full;
    full.params.NativePixelFormat = true;
    ASSERT_TRUE(full.Read(Bin("P6 2 1 65535\n", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF, 0, 0, 0, 1})));
    EXPECT_EQ(full.bitmap.Format(), ieRGB48);
    EXPECT_EQ(full.params.ChannelBits, 16);
    EXPECT_EQ(full.params.ChannelCount, 3);
    EXPECT_EQ(full.bitmap.GetPixel48(0, 0), (TRGB48{0x1234, 0x5678, 0x9ABC}));
    EXPECT_EQ(full.bitmap.GetPixel48(1, 0), (TRGB48{0xFFFF, 0, 1}));

    PnmRead tenBits;
    tenBits.params.NativePixelFormat = true;
    ASSERT_TRUE(tenBits.Read(Bin("P6 1 1 1023\n", {0x03, 0xFF, 0x02, 0x00, 0x00, 0x00})));
    EXPECT_EQ(tenBits.bitmap.GetPixel48(0, 0), (TRGB48{65535, 32800, 0}));
}

TEST(PnmRead, NativeFormatLeavesShallowSamplesEightBit) {
    PnmRead r;
    r.params.NativePixelFormat = true;
    ASSERT_TRUE(r.Read(Bin("P5 1 1 255\n", {9})));
    EXPECT_EQ(r.bitmap.Format(), ie24RGB);
    EXPECT_EQ(r.Px(0, 0), Gray(9));
}

TEST(PnmRead, LeavesTheStreamAfterTheImage) {
    const std::string data = Bin("P5 1 1 255\n", {7}) + Bin("P5 1 1 255\n", {9});
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    PnmRead r;
    r.Read(stream);
    EXPECT_EQ(stream.Position(), 12);
    EXPECT_TRUE(r.Read(stream));
    EXPECT_EQ(r.Px(0, 0), Gray(9));
}

// ---------------------------------------------------------------------------------------------
// Short and hostile bodies

TEST(PnmRead, TruncatedBodiesKeepTheRowsReadAndCancel) {
    const struct {
        const char* name;
        std::string data;
        bool native;
        std::vector<BgrColor> row0, row1, row2;  // 3 x 3 image
    } cases[] = {
        {"P1", "P1 3 3\n1 1 1\n1", false, {Gray(0), Gray(0), Gray(0)}, {Gray(0), Gray(255), Gray(255)},
         {Gray(255), Gray(255), Gray(255)}},
        {"P4", Bin("P4 3 3\n", {0xE0}), false, {Gray(0), Gray(0), Gray(0)}, {Gray(255), Gray(255), Gray(255)},
         {Gray(255), Gray(255), Gray(255)}},
        {"P2", "P2 3 3 255\n1 2 3 4", false, {Gray(1), Gray(2), Gray(3)}, {Gray(4), Gray(0), Gray(0)},
         {Gray(0), Gray(0), Gray(0)}},
        {"P3", "P3 3 3 255\n1 2 3 4 5 6 7 8 9 10 11", false, {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9)},
         {Gray(0), Gray(0), Gray(0)}, {Gray(0), Gray(0), Gray(0)}},
        {"P5", Bin("P5 3 3 255\n", {1, 2, 3, 4}), false, {Gray(1), Gray(2), Gray(3)}, {Gray(4), Gray(0), Gray(0)},
         {Gray(0), Gray(0), Gray(0)}},
        // A sample or pixel cut in the middle keeps the bytes that arrived.
        {"P5 16-bit", Bin("P5 3 3 65535\n", {1, 0, 2, 0, 3, 0, 4, 0, 5}), false, {Gray(1), Gray(2), Gray(3)},
         {Gray(4), Gray(5), Gray(0)}, {Gray(0), Gray(0), Gray(0)}},
        {"P6", Bin("P6 3 3 255\n", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), false,
         {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9)}, {Rgb(10, 11, 0), Gray(0), Gray(0)}, {Gray(0), Gray(0), Gray(0)}},
        {"P6 16-bit native", Bin("P6 3 3 65535\n", {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10}), true,
         {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9)}, {Rgb(10, 0, 0), Gray(0), Gray(0)}, {Gray(0), Gray(0), Gray(0)}},
    };
    for (const auto& c : cases) {
        PnmRead r;
        r.params.NativePixelFormat = c.native;
        EXPECT_FALSE(r.Read(c.data)) << c.name;
        ASSERT_EQ(r.bitmap.Width(), 3) << c.name;
        ASSERT_EQ(r.bitmap.Height(), 3) << c.name;
        const std::vector<BgrColor>* rows[3] = {&c.row0, &c.row1, &c.row2};
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(r.Px(x, y), (*rows[y])[x]) << c.name << " at " << x << "," << y;
    }
}

TEST(PnmRead, RefusesHugeHeadersOverShortStreamsWithoutAllocating) {
    const char* cases[] = {
        "P6 100000 100000 255\n\x01\x02",
        "P4 2147483647 2147483647\n",
        "P5 2147483647 1 65535\n",
        "P1 4097 4096\n0101",
        "P3 65536 65536 255\n1 2 3",
    };
    for (const char* data : cases) {
        PnmRead r;
        EXPECT_FALSE(r.Read(data)) << data;
        EXPECT_TRUE(r.bitmap.IsEmpty()) << data;
        EXPECT_GT(r.params.PixelWidth, 0) << data;  // the header itself was read
    }
}

TEST(PnmRead, LoadsTruncatedImagesOfPlausibleSizeAndCompleteImagesOfAnySize) {
    PnmRead truncated;  // exactly the largest truncated image that is still allocated
    EXPECT_FALSE(truncated.Read("P1 4096 4096\n0101"));
    ASSERT_EQ(truncated.bitmap.Width(), 4096);
    EXPECT_TRUE(truncated.bitmap.GetPixel1(0, 0));
    EXPECT_FALSE(truncated.bitmap.GetPixel1(1, 0));
    EXPECT_TRUE(truncated.bitmap.GetPixel1(4, 0));

    // A body that is all there is read whatever its size.
    const int32_t height = (1 << 24) / 64 * 2;  // 2^25 pixels, twice the truncation limit
    std::string data = "P4 64 " + std::to_string(height) + "\n";
    data.append(static_cast<size_t>(height) * 8, '\x0F');
    PnmRead complete;
    ASSERT_TRUE(complete.Read(data));
    EXPECT_EQ(complete.bitmap.Height(), height);
    EXPECT_TRUE(complete.bitmap.GetPixel1(0, height - 1));
    EXPECT_FALSE(complete.bitmap.GetPixel1(63, height - 1));
}

// ---------------------------------------------------------------------------------------------
// Progress

TEST(PnmRead, ReportsProgressPerRow) {
    PnmRead r;
    std::vector<int32_t> seen;
    r.progress.ProgressNotify = [&](TImageIO*, int32_t percent) { seen.push_back(percent); };
    ASSERT_TRUE(r.Read(Bin("P5 1 3 255\n", {1, 2, 3})));
    EXPECT_EQ(seen, (std::vector<int32_t>{33, 67, 100}));
    EXPECT_EQ(r.progress.UnitsDone, 3);

    PnmRead plain;  // P1 reports between rows only
    seen.clear();
    plain.progress.ProgressNotify = [&](TImageIO*, int32_t percent) { seen.push_back(percent); };
    ASSERT_TRUE(plain.Read("P1 1 3 0 1 0"));
    EXPECT_EQ(seen, (std::vector<int32_t>{33, 67}));
}

TEST(PnmRead, StopsWhenCancelledFromTheProgressHandler) {
    PnmRead r;
    r.progress.ProgressNotify = [&](TImageIO*, int32_t percent) {
        if (percent >= 50) r.cancel = 1;
    };
    EXPECT_FALSE(r.Read(Bin("P5 1 4 255\n", {1, 2, 3, 4})));
    EXPECT_EQ(r.progress.UnitsDone, 2);
    EXPECT_EQ(r.Px(0, 1), Gray(2));
    EXPECT_EQ(r.Px(0, 2), Gray(0));
}

// ---------------------------------------------------------------------------------------------
// Writer

struct PnmWrite {
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    PnmWrite() { progress.CancelFlag = &cancel; }
    std::string Write() {
        TMemoryStream stream;
        WritePnm(stream, bitmap, params, progress);
        return std::string(stream.Bytes().begin(), stream.Bytes().end());
    }
};

TEST(PnmWrite, HeaderText) {
    const struct {
        std::vector<std::string> comments;
        std::string header;
    } cases[] = {
        {{}, "P6 640 480 255\n"},
        {{"made by hand", ""}, "P6 \n# made by hand\n\n# \n640 480 255\n"},
        // A comment holding line ends stays comment text.
        {{"one\ntwo\r\n3 3 255"}, "P6 \n# one\n\n# two\n\n# 3 3 255\n640 480 255\n"},
    };
    for (const auto& c : cases) {
        PnmWrite w;
        ASSERT_TRUE(w.bitmap.Allocate(640, 480, ie24RGB));
        w.params.ChannelBits = 8;
        w.params.ChannelCount = 3;
        w.params.PnmComments = c.comments;
        const std::string file = w.Write();
        EXPECT_EQ(file.substr(0, c.header.size()), c.header);
        EXPECT_EQ(file.size(), c.header.size() + 640 * 480 * 3);
    }
}

TEST(PnmWrite, ChoosesTheFormFromChannelsAndBuffer) {
    const struct {
        const char* name;
        TIEPixelFormat format;
        int32_t bits, channels;
        std::string expected;
    } cases[] = {
        // 2 x 1 images: pixel 0 red (or white for bitmaps), pixel 1 black, see Fill below.
        {"bitmap", ie1g, 8, 3, Bin("P4 2 1\n", {0x40})},
        {"bitmap by parameters", ie1g, 1, 1, Bin("P4 2 1\n", {0x40})},
        {"gray", ie24RGB, 8, 1, Bin("P5 2 1 255\n", {53, 0})},
        {"one-bit request over colour", ie24RGB, 1, 1, Bin("P5 2 1 255\n", {53, 0})},
        {"colour", ie24RGB, 8, 3, Bin("P6 2 1 255\n", {255, 0, 0, 0, 0, 0})},
        {"colour widened to 16 bits", ie24RGB, 16, 3, Bin("P6 2 1 65535\n", {255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"48-bit", ieRGB48, 16, 3, Bin("P6 2 1 65535\n", {0xFF, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"48-bit written as 8", ieRGB48, 8, 3, Bin("P6 2 1 255\n", {255, 0, 0, 0, 0, 0})},
        {"16-bit gray written as colour", ie16gray, 16, 1, Bin("P6 2 1 255\n", {0x80, 0x80, 0x80, 0, 0, 0})},
        {"gray buffer written as colour", ie8g, 8, 3, Bin("P6 2 1 255\n", {200, 200, 200, 0, 0, 0})},
        {"palette", ie8p, 8, 3, Bin("P6 2 1 255\n", {10, 20, 30, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        PnmWrite w;
        ASSERT_TRUE(w.bitmap.Allocate(2, 1, c.format));
        w.bitmap.Fill(0);
        switch (c.format) {
            case ie1g: w.bitmap.SetPixel1(0, 0, true); break;
            case ie24RGB: w.bitmap.SetPixel24(0, 0, Rgb(255, 0, 0)); break;
            case ieRGB48: w.bitmap.SetPixel48(0, 0, TRGB48{0xFF12, 0, 0}); break;
            case ie16gray: w.bitmap.SetPixel16(0, 0, 0x80FF); break;
            case ie8g: w.bitmap.SetPixel8(0, 0, 200); break;
            case ie8p:
                w.bitmap.SetPaletteEntry(1, Rgb(10, 20, 30));
                w.bitmap.SetPaletteEntry(0, Gray(0));
                w.bitmap.SetPixel8(0, 0, 1);
                break;
            default: break;
        }
        w.params.ChannelBits = c.bits;
        w.params.ChannelCount = c.channels;
        EXPECT_EQ(w.Write(), c.expected) << c.name;
        EXPECT_EQ(w.cancel, 0) << c.name;
    }
}

TEST(PnmWrite, GrayUsesTheConversionWeights) {
    PnmWrite w;
    ASSERT_TRUE(w.bitmap.Allocate(4, 1, ie24RGB));
    w.bitmap.SetPixel24(0, 0, Rgb(255, 0, 0));
    w.bitmap.SetPixel24(1, 0, Rgb(0, 255, 0));
    w.bitmap.SetPixel24(2, 0, Rgb(0, 0, 255));
    w.bitmap.SetPixel24(3, 0, Rgb(255, 255, 255));
    w.params.ChannelBits = 8;
    w.params.ChannelCount = 1;
    EXPECT_EQ(w.Write(), Bin("P5 4 1 255\n", {53, 181, 20, 255}));
}

TEST(PnmWrite, BitmapRowsAreInvertedWithZeroPadding) {
    PnmWrite w;
    ASSERT_TRUE(w.bitmap.Allocate(10, 2, ie1g));
    w.bitmap.Fill(1);  // all white
    w.bitmap.SetPixel1(0, 0, false);
    w.bitmap.SetPixel1(9, 1, false);
    EXPECT_EQ(w.Write(), Bin("P4 10 2\n", {0x80, 0x00, 0x00, 0x40}));
}

TEST(PnmWrite, ReportsProgressAndStopsWhenCancelled) {
    PnmWrite w;
    ASSERT_TRUE(w.bitmap.Allocate(1, 4, ie24RGB));
    w.bitmap.Fill(0);
    std::vector<int32_t> seen;
    w.progress.ProgressNotify = [&](TImageIO*, int32_t percent) {
        seen.push_back(percent);
        if (percent >= 50) w.cancel = 1;
    };
    EXPECT_EQ(w.Write(), Bin("P6 1 4 255\n", {0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(seen, (std::vector<int32_t>{25, 50}));
}

TEST(PnmWrite, AnEmptyBufferWritesNothing) {
    PnmWrite w;
    EXPECT_EQ(w.Write(), "");
    EXPECT_EQ(w.cancel, 1);
}

// ---------------------------------------------------------------------------------------------
// Round trips

void FillRandom(TIEBitmap& bitmap, uint32_t seed) {
    std::mt19937 random(seed);
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int32_t i = 0; i < bitmap.RowLength(); ++i) row[i] = static_cast<uint8_t>(random());
    }
}

TEST(PnmRoundTrip, EveryWrittenFormReadsBackTheSamePixels) {
    const struct {
        const char* name;
        TIEPixelFormat format;
        int32_t bits, channels;
        bool native;
    } cases[] = {
        {"bitmap", ie1g, 1, 1, false},
        {"gray", ie8g, 8, 1, false},
        {"colour", ie24RGB, 8, 3, false},
        {"colour as 16 bits", ie24RGB, 16, 3, false},
        {"48-bit", ieRGB48, 16, 3, true},
    };
    for (const auto& c : cases) {
        PnmWrite w;
        ASSERT_TRUE(w.bitmap.Allocate(13, 5, c.format));
        FillRandom(w.bitmap, 7);
        w.params.ChannelBits = c.bits;
        w.params.ChannelCount = c.channels;
        w.params.PnmComments = {"first", "second line"};
        const std::string file = w.Write();

        PnmRead r;
        r.params.NativePixelFormat = c.native;
        ASSERT_TRUE(r.Read(file)) << c.name;
        EXPECT_EQ(r.params.PnmComments, w.params.PnmComments) << c.name;
        EXPECT_EQ(r.params.ChannelBits, c.bits) << c.name;
        EXPECT_EQ(r.params.ChannelCount, c.channels) << c.name;
        ASSERT_EQ(r.bitmap.Width(), 13) << c.name;
        ASSERT_EQ(r.bitmap.Height(), 5) << c.name;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 13; ++x) {
                if (c.format == ieRGB48) {
                    ASSERT_EQ(r.bitmap.GetPixel48(x, y), w.bitmap.GetPixel48(x, y)) << c.name << " " << x << "," << y;
                } else {
                    ASSERT_EQ(r.Px(x, y), w.bitmap.PixelAsBgr(x, y)) << c.name << " " << x << "," << y;
                }
            }
    }
}

// ---------------------------------------------------------------------------------------------
// Public test files against Pillow

struct IndexEntry {
    std::string path, format, expected;
};

std::vector<IndexEntry> IndexEntries(const std::filesystem::path& root, std::initializer_list<const char*> formats) {
    std::vector<IndexEntry> entries;
    std::ifstream in(root / "index.tsv");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        IndexEntry e;
        std::getline(fields, e.path, '\t');
        std::getline(fields, e.format, '\t');
        std::getline(fields, e.expected, '\t');
        for (const char* f : formats)
            if (e.format == f) entries.push_back(e);
    }
    return entries;
}

TEST(PnmPublicFiles, MatchPillowOnEveryValidFile) {
    const auto root = test::SharedTestData();
    if (root.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 is absent";
    std::vector<IndexEntry> files;
    for (const auto& e : IndexEntries(root, {"pbm", "pgm", "ppm"}))
        if (e.expected == "valid") files.push_back(e);
    ASSERT_FALSE(files.empty());

    test::ScratchDir scratch;
    std::string command = "/usr/bin/python3 '" + (test::SourceDir() / "tests/readers/pnm_reference.py").string() +
                          "' '" + scratch.Path().string() + "'";
    for (const auto& e : files) command += " '" + (root / e.path).string() + "'";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "Pillow is not installed";
    ASSERT_EQ(status, 0);

    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].path);
        const std::vector<uint8_t> ref = test::ReadFileBytes(scratch / (std::to_string(i) + ".ref"));
        ASSERT_FALSE(ref.empty()) << "Pillow could not read it";
        const auto newline = std::find(ref.begin(), ref.end(), '\n');
        int32_t width = 0, height = 0;
        std::istringstream(std::string(ref.begin(), newline)) >> width >> height;
        const uint8_t* rgb = &*newline + 1;
        const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
        const bool deep = static_cast<size_t>(ref.end() - newline - 1) == pixels * 5;

        const std::vector<uint8_t> file = test::ReadFileBytes(root / files[i].path);
        PnmRead r;
        ASSERT_TRUE(r.Read(std::string(file.begin(), file.end())));
        ASSERT_EQ(r.bitmap.Width(), width);
        ASSERT_EQ(r.bitmap.Height(), height);
        int mismatches = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = rgb + 3 * (static_cast<size_t>(y) * width + x);
                if (r.Px(x, y) != Rgb(p[0], p[1], p[2]) && ++mismatches <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y;
            }
        EXPECT_EQ(mismatches, 0);

        if (deep && file[1] == '5') {  // binary 16-bit gray: the native buffer holds full-range samples
            PnmRead native;
            native.params.NativePixelFormat = true;
            ASSERT_TRUE(native.Read(std::string(file.begin(), file.end())));
            ASSERT_EQ(native.bitmap.Format(), ie16gray);
            const uint8_t* words = rgb + 3 * pixels;
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x) {
                    const size_t k = static_cast<size_t>(y) * width + x;
                    ASSERT_EQ(native.bitmap.GetPixel16(x, y), words[2 * k] | (words[2 * k + 1] << 8)) << x << "," << y;
                }
        }
    }
}

TEST(PnmPublicFiles, OtherFilesNeitherCrashNorLoadSilently) {
    const auto root = test::SharedTestData();
    if (root.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    for (const auto& e : IndexEntries(root, {"pbm", "pgm", "ppm", "pam"})) {
        if (e.expected == "valid") continue;
        SCOPED_TRACE(e.path);
        const std::vector<uint8_t> file = test::ReadFileBytes(root / e.path);
        PnmRead r;
        const bool loaded = r.Read(std::string(file.begin(), file.end()));
        if (e.expected == "invalid") {
            EXPECT_FALSE(loaded);
        }
    }
}

}  // namespace
}  // namespace quirelle
