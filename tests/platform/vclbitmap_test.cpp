#include <gtest/gtest.h>

#include "platform/vclbitmap.h"

namespace quirelle {
namespace {

TEST(PlatformBitmap, RowsAreBottomUpAndFourByteAligned) {
    struct Case {
        TPixelFormat format;
        int32_t width;
        int32_t stride;
    };
    for (const Case& c : {Case{pf1bit, 1, 4}, Case{pf1bit, 33, 8}, Case{pf8bit, 5, 8}, Case{pf24bit, 3, 12},
                          Case{pf32bit, 3, 12}, Case{pf16bit, 3, 8}, Case{pf4bit, 9, 8}}) {
        TBitmap b;
        b.SetPixelFormat(c.format);
        b.SetSize(c.width, 3);
        EXPECT_EQ(b.RowStride(), c.stride) << c.format;
        EXPECT_EQ(b.ScanLine(0) - b.ScanLine(1), c.stride);
        EXPECT_EQ(b.ScanLine(2), b.ScanLine(0) - 2 * c.stride);
    }
}

TEST(PlatformBitmap, DepthChangesRenderThePicture) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(9, 1);
    EXPECT_TRUE(b.Monochrome());
    b.ScanLine(0)[0] = 0x80;  // first pixel white
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.PixelColor(0, 0), 0xFFFFFFu);
    EXPECT_EQ(b.PixelColor(1, 0), 0u);
    const uint64_t stamp = b.ChangeStamp();
    b.SetSize(4, 4);  // keeps the top-left part
    EXPECT_EQ(b.PixelColor(0, 0), 0xFFFFFFu);
    EXPECT_GT(b.ChangeStamp(), stamp);
}

}  // namespace
}  // namespace quirelle
