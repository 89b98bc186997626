// Row utilities: bit copies, bit inversion of whole buffers, red/blue swaps.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/ieutils.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

// The definition, one bit at a time.
void CopyBitsReference(std::vector<uint8_t>& dst, const std::vector<uint8_t>& src, int32_t dstOffset, int32_t srcLength,
                       int32_t count, int32_t srcOffset) {
    if (count < 1 || dstOffset < 0 || srcOffset < 0) return;
    const int64_t available = int64_t{srcLength} * 8 - (srcOffset & 7);
    for (int64_t i = 0; i < count && i < available; ++i) {
        const int64_t s = srcOffset + i, d = dstOffset + i;
        const bool bit = (src[static_cast<size_t>(s >> 3)] >> (7 - (s & 7))) & 1;
        uint8_t& byte = dst[static_cast<size_t>(d >> 3)];
        byte = static_cast<uint8_t>(bit ? byte | (0x80 >> (d & 7)) : byte & ~(0x80 >> (d & 7)));
    }
}

TEST(CopyBits, MatchesTheBitByBitDefinition) {
    std::mt19937 random(7);
    for (int iteration = 0; iteration < 4000; ++iteration) {
        std::vector<uint8_t> src(12), dst(12);
        for (auto& b : src) b = static_cast<uint8_t>(random());
        for (auto& b : dst) b = static_cast<uint8_t>(random());
        const int32_t srcOffset = static_cast<int32_t>(random() % 24), dstOffset = static_cast<int32_t>(random() % 24);
        const int32_t count = static_cast<int32_t>(random() % 60);
        // The source length counts from the byte holding the first source bit.
        const int32_t srcLength = static_cast<int32_t>(random() % (12 - srcOffset / 8 + 1));
        std::vector<uint8_t> expected = dst;
        CopyBitsReference(expected, src, dstOffset, srcLength, count, srcOffset);
        CopyBits(dst.data(), src.data(), dstOffset, srcLength, count, srcOffset);
        ASSERT_EQ(dst, expected) << "dst+" << dstOffset << " src+" << srcOffset << " count " << count << " len "
                                 << srcLength;
    }
}

TEST(CopyBits, EdgeCases) {
    struct Case {
        const char* what;
        int32_t dstOffset, srcLength, count, srcOffset;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"byte aligned, whole bytes", 0, 2, 16, 0, {0xF0, 0x0F, 0x55}},
        {"keeps the destination bits around the range", 4, 2, 8, 0, {0x5F, 0x05, 0x55}},
        {"source offset", 0, 2, 4, 4, {0x05, 0x55, 0x55}},
        {"zero bits: nothing", 0, 2, 0, 0, {0x55, 0x55, 0x55}},
        {"negative destination offset: nothing", -1, 2, 8, 0, {0x55, 0x55, 0x55}},
        {"negative source offset: nothing", 0, 2, 8, -3, {0x55, 0x55, 0x55}},
        {"no more than the source length", 0, 1, 16, 0, {0xF0, 0x55, 0x55}},
        {"source length counted from the first bit's byte", 0, 1, 16, 8, {0x0F, 0x55, 0x55}},
    };
    const std::vector<uint8_t> src = {0xF0, 0x0F, 0xFF};
    for (const Case& c : cases) {
        std::vector<uint8_t> dst = {0x55, 0x55, 0x55};
        CopyBits(dst.data(), src.data(), c.dstOffset, c.srcLength, c.count, c.srcOffset);
        EXPECT_EQ(dst, c.expected) << c.what;
    }
}

TEST(InvertRows, InvertsEveryByteOfEveryRowInEveryLocation) {
    test::ScratchDir scratch;
    TempDirectoryOverride = scratch.Path().string();
    for (int location = 0; location < 3; ++location) {
        TIEBitmap b;
        if (location == 1) b.MemoryThreshold = 0;
        if (location == 2) {
            ASSERT_TRUE(b.SetLocation(ieTBitmap));
        }
        ASSERT_TRUE(b.Allocate(13, 3, ie1g));
        for (int32_t y = 0; y < 3; ++y) std::memset(b.RowAddress(y), 0x0F * (y + 1), static_cast<size_t>(b.RowLength()));
        InvertRows(b);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t i = 0; i < b.RowLength(); ++i)
                ASSERT_EQ(b.RowAddress(y)[i], static_cast<uint8_t>(~(0x0F * (y + 1)))) << location << " " << y;
    }
    // Rows of an odd number of bytes (8-bit alignment) are inverted to their last byte.
    TIEBitmap odd;
    ASSERT_TRUE(odd.SetRowAlignment(8));
    ASSERT_TRUE(odd.Allocate(17, 2, ie1g));
    ASSERT_EQ(odd.RowLength(), 3);
    odd.Fill(0);
    InvertRows(odd);
    EXPECT_EQ(odd.RowAddress(1)[2], 0xFF);
    TempDirectoryOverride.clear();
}

TEST(SwapRB, SwapsFirstAndThirdBytes) {
    const std::vector<uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::vector<uint8_t> out(9, 0);
    CopySwapRB(out.data(), rgb.data(), 3);
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7}));
    SwapRB(out.data(), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 9, 8, 7}));
    CopySwapRB(out.data(), out.data(), 3);  // in place
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 7, 8, 9}));
}

}  // namespace
}  // namespace quirelle
