#include "readers/ietiffdir.h"

#include <gtest/gtest.h>

#include "platform/iestreams.h"
#include "tests/readers/tiffbuilder.h"

namespace quirelle {
namespace {

using test::TiffBuilder;
using test::TiffField;

std::vector<TiffField> SampleFields() {
    return TiffBuilder::Image(640, 480, {{258, 3, {8, 8, 8}},           // SHORT array out of line
                                         {262, 3, {2}},                 // SHORT inline
                                         {273, 4, {1000, 2000}},        // LONG array out of line
                                         {277, 3, {3}},
                                         {282, 5, {300, 1}},            // RATIONAL
                                         {283, 5, {11811, 100}},
                                         {305, 2, {'q', 'u', 'i', 'r', 0}},
                                         {50706, 1, {1, 4, 0, 0}}});    // BYTE x4 inline
}

class TiffDirByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(TiffDirByteOrder, ReadsTheSameValuesInBothByteOrders) {
    TiffBuilder builder(GetParam());
    builder.AddIfd(SampleFields());
    const auto bytes = builder.Build();
    TIEMemoryReadStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TIETiffHeader header;
    ASSERT_TRUE(ReadTiffHeader(stream, 0, header));
    EXPECT_EQ(header.LittleEndian, GetParam());
    EXPECT_EQ(header.FirstIfdOffset, 8u);
    TIETiffIfd ifd;
    ASSERT_TRUE(ifd.Read(stream, 0, header.FirstIfdOffset, header.LittleEndian));
    EXPECT_EQ(ifd.Value(stream, 256, -1), 640);
    EXPECT_EQ(ifd.Value(stream, 257, -1), 480);
    EXPECT_EQ(ifd.Value(stream, 262, -1), 2);
    EXPECT_EQ(ifd.Value(stream, 258, -1, 2), 8);
    EXPECT_EQ(ifd.Value(stream, 258, -1, 3), -1) << "index beyond the count";
    EXPECT_EQ(ifd.Values(stream, 273), (std::vector<uint32_t>{1000, 2000}));
    EXPECT_EQ(ifd.Values(stream, 50706), (std::vector<uint32_t>{1, 4, 0, 0}));
    EXPECT_DOUBLE_EQ(ifd.Rational(stream, 282, 0), 300.0);
    EXPECT_DOUBLE_EQ(ifd.Rational(stream, 283, 0), 118.11);
    EXPECT_EQ(ifd.Text(stream, 305), "quir");
    EXPECT_EQ(ifd.Value(stream, 999, 7), 7) << "absent tag gives the default";
    EXPECT_EQ(ifd.Value(stream, 282, 7), 7) << "a RATIONAL is no integer";
    EXPECT_EQ(ifd.NextIfdOffset(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Orders, TiffDirByteOrder, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? std::string("Intel") : std::string("Motorola"); });

TEST(TiffDir, RefusesBadHeadersAndIfdsThatDoNotFit) {
    const std::vector<uint8_t> notTiff = {'X', 'X', 42, 0, 8, 0, 0, 0};
    TIEMemoryReadStream s1(notTiff.data(), 8);
    TIETiffHeader header;
    EXPECT_FALSE(ReadTiffHeader(s1, 0, header));
    EXPECT_FALSE(ReadTiffHeader(s1, 4, header)) << "short";

    TiffBuilder builder(true);
    builder.AddIfd(SampleFields());
    auto bytes = builder.Build();
    TIETiffIfd ifd;
    {
        // Entries cut off by the end of the stream.
        TIEMemoryReadStream cut(bytes.data(), 40);
        EXPECT_FALSE(ifd.Read(cut, 0, 8, true));
        EXPECT_TRUE(ifd.Entries().empty());
    }
    {
        TIEMemoryReadStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
        EXPECT_FALSE(ifd.Read(s, 0, 0xFFFFFFF0u, true)) << "offset outside the stream";
    }
    {
        // An entry count above the cap is refused even when the stream is large enough.
        std::vector<uint8_t> big(8 + 2 + 5000 * 12 + 4, 0);
        big[0] = big[1] = 'I';
        big[4] = 8;
        big[8] = 5000 & 0xFF;
        big[9] = 5000 >> 8;
        TIEMemoryReadStream s(big.data(), static_cast<int64_t>(big.size()));
        EXPECT_FALSE(ifd.Read(s, 0, 8, true));
        big[8] = 0;
        big[9] = 0;
        EXPECT_FALSE(ifd.Read(s, 0, 8, true)) << "an empty IFD";
    }
}

TEST(TiffDir, ValuesOutsideTheStreamReadAsAbsent) {
    TiffBuilder builder(true);
    builder.AddIfd(TiffBuilder::Image(10, 10, {{273, 4, {1, 2, 3}}, {282, 5, {300, 1}}}));
    auto bytes = builder.Build();
    // Point both out-of-line values far beyond the end.
    TIEMemoryReadStream probe(bytes.data(), static_cast<int64_t>(bytes.size()));
    TIETiffIfd ifd;
    ASSERT_TRUE(ifd.Read(probe, 0, 8, true));
    for (size_t i = 0; i < 4; ++i) {
        const size_t entry = 8 + 2 + 12 * i;
        const uint16_t tag = static_cast<uint16_t>(bytes[entry] | bytes[entry + 1] << 8);
        if (tag == 273 || tag == 282) bytes[entry + 11] = 0x7F;
    }
    TIEMemoryReadStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    ASSERT_TRUE(ifd.Read(stream, 0, 8, true));
    EXPECT_TRUE(ifd.Values(stream, 273).empty());
    EXPECT_EQ(ifd.Value(stream, 273, -5, 1), -5);
    EXPECT_DOUBLE_EQ(ifd.Rational(stream, 282, -1.0), -1.0);
    // A count so large that the values could not fit in any stream of this size.
    std::vector<uint8_t> huge = bytes;
    for (size_t i = 0; i < 4; ++i) {
        const size_t entry = 8 + 2 + 12 * i;
        if ((huge[entry] | huge[entry + 1] << 8) == 273) huge[entry + 7] = 0x40;
    }
    TIEMemoryReadStream hugeStream(huge.data(), static_cast<int64_t>(huge.size()));
    ASSERT_TRUE(ifd.Read(hugeStream, 0, 8, true));
    EXPECT_TRUE(ifd.Values(hugeStream, 273).empty());
    EXPECT_EQ(ifd.Value(hugeStream, 256, 0), 10);
}

TEST(TiffDir, ChainWalkCountsPagesAndStopsAtLoops) {
    struct Case {
        const char* name;
        int ifds;
        int64_t lastNext;  // -1: end of chain
        int32_t expectedCount;
    };
    const Case cases[] = {
        {"three pages", 3, -1, 3},
        {"last IFD points to itself", 2, -2, 2},
        {"last IFD points back to the first", 3, 8, 3},
        {"next offset below the header", 2, 4, 2},
        {"next offset past the end", 2, 0x7FFFFFFF, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffBuilder builder(false);
        for (int i = 0; i < c.ifds; ++i) builder.AddIfd(TiffBuilder::Image(10 + i, 20));
        auto bytes = builder.Build(c.lastNext == -2 ? -1 : c.lastNext);
        if (c.lastNext == -2) {
            // Find the last IFD's own offset by walking, then make it point to itself.
            TIEMemoryReadStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
            TIETiffHeader h;
            ASSERT_TRUE(ReadTiffHeader(s, 0, h));
            uint32_t offset = h.FirstIfdOffset, last = offset;
            TIETiffIfd ifd;
            while (offset && ifd.Read(s, 0, offset, false)) {
                last = offset;
                offset = ifd.NextIfdOffset();
            }
            const size_t nextAt = last + 2 + ifd.Entries().size() * 12;
            bytes[nextAt] = static_cast<uint8_t>(last >> 24);
            bytes[nextAt + 1] = static_cast<uint8_t>(last >> 16);
            bytes[nextAt + 2] = static_cast<uint8_t>(last >> 8);
            bytes[nextAt + 3] = static_cast<uint8_t>(last);
        }
        TIEMemoryReadStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
        TIETiffHeader header;
        ASSERT_TRUE(ReadTiffHeader(stream, 0, header));
        TIETiffIfd page;
        int32_t count = -1;
        EXPECT_TRUE(ReadTiffIfdChain(stream, 0, header, 1, page, &count));
        EXPECT_EQ(count, c.expectedCount);
        EXPECT_EQ(page.Value(stream, 256, 0), 11);
        EXPECT_FALSE(ReadTiffIfdChain(stream, 0, header, 7, page, &count));
    }
}

TEST(TiffDir, OffsetsAreRelativeToTheBase) {
    TiffBuilder builder(true);
    builder.AddIfd(SampleFields());
    std::vector<uint8_t> bytes = {'E', 'x', 'i', 'f', 0, 0};
    const auto tiff = builder.Build();
    bytes.insert(bytes.end(), tiff.begin(), tiff.end());
    TIEMemoryReadStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TIETiffHeader header;
    ASSERT_TRUE(ReadTiffHeader(stream, 6, header));
    TIETiffIfd ifd;
    ASSERT_TRUE(ReadTiffIfdChain(stream, 6, header, 0, ifd));
    EXPECT_EQ(ifd.Values(stream, 273), (std::vector<uint32_t>{1000, 2000}));
    EXPECT_EQ(ifd.Text(stream, 305), "quir");
}

}  // namespace
}  // namespace quirelle
