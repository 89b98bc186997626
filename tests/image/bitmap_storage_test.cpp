#include <gtest/gtest.h>

#include <cstring>

#include "image/ieutils.h"
#include "platform/ieexception.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::FilesMatching;
using test::ScratchDir;

// Points the temporary folder at a scratch folder and restores the process-wide settings.
class StorageTest : public ::testing::Test {
protected:
    void SetUp() override { TempDirectoryOverride = dir_.Path().string(); }
    void TearDown() override {
        TempDirectoryOverride.clear();
        IEAllocationFailureThreshold = -1;
        IETemporaryFilesFailForTesting = false;
        AllowFileFallback = true;
        AllowBands = true;
    }
    std::vector<std::filesystem::path> TempFiles() const { return FilesMatching(dir_.Path(), "IMG-", ".tmp"); }
    ScratchDir dir_;
};

void FillGradient(TIEBitmap& b) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        uint8_t* row = b.RowAddress(y);
        for (int32_t i = 0; i < b.RowLength(); ++i) row[i] = static_cast<uint8_t>(y * 7 + i);
    }
}

void ExpectGradient(TIEBitmap& b, int32_t bytes) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* row = b.RowAddress(y);
        for (int32_t i = 0; i < bytes; ++i) ASSERT_EQ(row[i], static_cast<uint8_t>(y * 7 + i)) << "row " << y;
    }
}

TEST_F(StorageTest, AboveTheThresholdRowsLiveInANamedTemporaryFile) {
    std::filesystem::path name;
    {
        TIEBitmap b;
        b.MemoryThreshold = 1000;
        ASSERT_TRUE(b.Allocate(100, 50, ie24RGB));
        EXPECT_EQ(b.Location(), ieTempFile);
        const auto files = TempFiles();
        ASSERT_EQ(files.size(), 1u);
        name = files[0];
        EXPECT_EQ(b.TempFileName(), name);
        EXPECT_EQ(name.filename().string().size(), std::string("IMG-0A1B2C3D.tmp").size());
        EXPECT_EQ(std::filesystem::file_size(name), 300u * 50u);
        FillGradient(b);
        ExpectGradient(b, b.RowLength());
        // Two rows at once through pins.
        uint8_t* r3 = b.PinRow(3);
        uint8_t* r4 = b.PinRow(4);
        EXPECT_EQ(r3[0], 21);
        EXPECT_EQ(r4[0], 28);
        r3[0] = 99;
        b.UnpinRow(3);
        b.UnpinRow(4);
        EXPECT_EQ(b.RowAddress(3)[0], 99);
        r3 = b.PinRow(3);
        r3[0] = 21;
        b.UnpinRow(3);
        // Copies between locations keep every byte.
        TIEBitmap inMemory;
        ASSERT_TRUE(inMemory.CopyFrom(b));
        EXPECT_EQ(inMemory.Location(), ieInMemory);
        ExpectGradient(inMemory, b.RowLength());
        TIEBitmap fileCopy;
        fileCopy.MemoryThreshold = 1000;
        ASSERT_TRUE(fileCopy.CopyFrom(b));
        EXPECT_EQ(fileCopy.Location(), ieTempFile);
        EXPECT_EQ(TempFiles().size(), 2u);
        ExpectGradient(fileCopy, b.RowLength());
        b.FreeStorage();
        EXPECT_FALSE(std::filesystem::exists(name));
    }
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(StorageTest, SmallImagesComeBackToMemoryAndSetLocationMovesPixels) {
    TIEBitmap b;
    b.MemoryThreshold = 1000;
    ASSERT_TRUE(b.Allocate(100, 50, ie8g));
    ASSERT_EQ(b.Location(), ieTempFile);
    FillGradient(b);
    ASSERT_TRUE(b.SetLocation(ieInMemory));
    EXPECT_EQ(b.Location(), ieTempFile);  // above the threshold the allocation goes back to the file
    ExpectGradient(b, b.RowLength());
    b.MemoryThreshold = 1 << 20;
    ASSERT_TRUE(b.SetLocation(ieInMemory));
    EXPECT_EQ(b.Location(), ieInMemory);
    ExpectGradient(b, b.RowLength());
    EXPECT_TRUE(TempFiles().empty());
    ASSERT_TRUE(b.SetLocation(ieTempFile));
    EXPECT_EQ(b.Location(), ieInMemory);  // at or below the threshold the file is not used
    ExpectGradient(b, b.RowLength());
}

TEST_F(StorageTest, UnwritableTemporaryFolderFallsBackToMemory) {
    TempDirectoryOverride = (dir_.Path() / "missing").string();
    TIEBitmap b;
    b.MemoryThreshold = 10;
    ASSERT_TRUE(b.Allocate(64, 64, ie24RGB));
    EXPECT_EQ(b.Location(), ieInMemory);
    FillGradient(b);
    ExpectGradient(b, b.RowLength());
}

TEST_F(StorageTest, WhenOneBlockFailsBandsAreTriedThenTheFile) {
    // 4000 x 3000 x 3 = 36 MB: one block refused, four bands of 9 MB allowed.
    IEAllocationFailureThreshold = 10 * 1024 * 1024;
    {
        TIEBitmap b;
        ASSERT_TRUE(b.Allocate(4000, 3000, ie24RGB));
        EXPECT_EQ(b.Location(), ieInMemory);
        EXPECT_EQ(b.BandCount(), 4);
        EXPECT_EQ(b.RowsPerBand(), 750);
        EXPECT_EQ(b.RowAddress(751) - b.RowAddress(750), 12000);  // bands are top-down inside
        b.RowAddress(2999)[11999] = 5;
        EXPECT_EQ(b.GetPixel24(3999, 2999).r, 5);
    }
    IEAllocationFailureThreshold = 1000;  // no band fits: the temporary file takes it
    {
        TIEBitmap b;
        ASSERT_TRUE(b.Allocate(4000, 3000, ie24RGB));
        EXPECT_EQ(b.Location(), ieTempFile);
    }
    AllowFileFallback = false;
    TIEBitmap c;
    EXPECT_FALSE(c.Allocate(4000, 3000, ie24RGB));
    EXPECT_TRUE(c.IsEmpty());
}

TEST_F(StorageTest, FailedStorageNeverGetsWrittenAndLeavesTheBufferEmpty) {
    AllowFileFallback = false;
    AllowBands = false;
    TIEBitmap source(300, ie24RGB, 300);
    source.Fill(0x808080);
    TIEBitmap moved(100, ie24RGB, 100);

    IEAllocationFailureThreshold = 1000;
    TIEBitmap target(4, ie8g, 4);
    EXPECT_FALSE(target.CopyFrom(source));
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_EQ(target.RowAddress(0), nullptr);

    TIEBitmap resized(4, ie8g, 4);
    IEAllocationFailureThreshold = 10;
    EXPECT_FALSE(resized.ChangeWidth(1000));
    EXPECT_TRUE(resized.IsEmpty());

    IETemporaryFilesFailForTesting = true;
    moved.MemoryThreshold = 10;
    EXPECT_FALSE(moved.SetRowAlignment(8));
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_TRUE(TempFiles().empty());
}

TEST(VclLocation, FormatMappingAndRowsOfThePlatformBitmap) {
    struct Case {
        TIEPixelFormat format;
        TPixelFormat expected;
        TIEPixelFormat resulting;
    };
    for (const Case& c : {Case{ie1g, pf1bit, ie1g}, Case{ie8g, pf8bit, ie8g}, Case{ie8p, pf8bit, ie8p},
                          Case{ie16gray, pf8bit, ie8g}, Case{ie24RGB, pf24bit, ie24RGB},
                          Case{ie32RGBX, pf32bit, ie32RGBX}}) {
        TIEBitmap b;
        ASSERT_TRUE(b.SetLocation(ieTBitmap));
        ASSERT_TRUE(b.Allocate(5, 3, c.format)) << IEPixelFormatName(c.format);
        ASSERT_NE(b.VclBitmap(), nullptr);
        EXPECT_EQ(b.VclBitmap()->PixelFormat(), c.expected);
        EXPECT_EQ(b.Format(), c.resulting);
        EXPECT_EQ(b.RowAddress(0), b.VclBitmap()->ScanLine(0));
        EXPECT_EQ(b.RowAddress(2), b.VclBitmap()->ScanLine(2));
    }
}

TEST(VclLocation, UnsupportedFormatsRaiseTheExactMessageAndFailAllocation) {
    for (TIEPixelFormat f : {ie32f, ieCMYK, ieRGB48, ieCIELab}) {
        TIEBitmap b(2, f, 2);
        b.Fill(0);
        try {
            b.SetLocation(ieTBitmap);
            ADD_FAILURE() << "no error for " << IEPixelFormatName(f);
        } catch (const EIEException& e) {
            EXPECT_EQ(std::string(e.what()), std::string(IEPixelFormatName(f)) +
                                                 " pixel format not allowed when Location=ieTBitmap Please set "
                                                 "TImageView.LegacyBitmap=false.");
        }
        EXPECT_EQ(b.Location(), ieInMemory);  // nothing was lost
        EXPECT_EQ(b.Width(), 2);
        TIEBitmap v;
        v.SetLocation(ieTBitmap);
        EXPECT_FALSE(v.Allocate(2, 2, f));
        EXPECT_EQ(v.Width(), 0);
    }
    EXPECT_EQ(IENotAllowedInVclMessage(ieVirtual),
              "ieVirtual pixel format not allowed when Location=ieTBitmap Please set TImageView.LegacyBitmap=false.");
}

TEST(VclLocation, ResynchronisesWithChangesBehindTheBuffersBack) {
    TBitmap picture;
    picture.SetPixelFormat(pf8bit);
    picture.SetSize(4, 2);  // the default table is the gray ramp
    TIEBitmap b;
    b.AttachVclBitmap(&picture);
    EXPECT_TRUE(b.VclBitmapNotOwned());
    EXPECT_EQ(b.Location(), ieTBitmap);
    EXPECT_EQ(b.Format(), ie8g);
    picture.ColorTable()[7] = TRGBQuad{1, 2, 3, 0};
    EXPECT_EQ(b.Format(), ie8p);
    EXPECT_EQ(b.GetPaletteEntry(7), (BgrColor{1, 2, 3}));
    picture.SetSize(10, 6);
    EXPECT_EQ(b.Width(), 10);
    EXPECT_EQ(b.Height(), 6);
    EXPECT_EQ(b.RowAddress(5), picture.ScanLine(5));
    picture.SetPixelFormat(pf4bit);  // an unmapped depth is rendered as 24-bit colour
    EXPECT_EQ(b.Format(), ie24RGB);
    EXPECT_EQ(picture.PixelFormat(), pf24bit);
    b.SetPaletteEntry(0, BgrColor{});  // no palette for ie24RGB: ignored
}

TEST(VclLocation, CopiesInAndOutOfThePlatformBitmap) {
    TIEBitmap source(3, ie24RGB, 2);
    source.SetPixel24(2, 1, BgrColor{1, 2, 3});
    TIEBitmap view;
    view.SetLocation(ieTBitmap);
    ASSERT_TRUE(view.CopyFrom(source));
    EXPECT_EQ(view.VclBitmap()->PixelFormat(), pf24bit);
    EXPECT_EQ(view.GetPixel24(2, 1), (BgrColor{1, 2, 3}));
    ASSERT_TRUE(view.SetLocation(ieInMemory));
    EXPECT_EQ(view.VclBitmap(), nullptr);
    EXPECT_EQ(view.GetPixel24(2, 1), (BgrColor{1, 2, 3}));

    TIEBitmap planeParent(3, ie24RGB, 2);
    planeParent.SetLocation(ieTBitmap);
    EXPECT_EQ(planeParent.AlphaPlane()->Location(), ieInMemory);
}

TEST(CopyFromPlatformBitmap, ConvertsByDepth) {
    struct Case {
        TPixelFormat depth;
        bool customTable;
        TIEPixelFormat expected;
    };
    for (const Case& c : {Case{pf1bit, false, ie1g}, Case{pf1bit, true, ie8p}, Case{pf4bit, false, ie8p},
                          Case{pf8bit, false, ie8p}, Case{pf15bit, false, ie24RGB}, Case{pf16bit, false, ie24RGB},
                          Case{pf24bit, false, ie24RGB}, Case{pf32bit, false, ie32RGBX}}) {
        TBitmap picture;
        picture.SetPixelFormat(c.depth);
        picture.SetSize(9, 2);
        if (c.customTable) picture.ColorTable()[1] = TRGBQuad{0, 0, 200, 0};
        TIEBitmap b;
        ASSERT_TRUE(b.CopyFrom(picture));
        EXPECT_EQ(b.Format(), c.expected) << int(c.depth);
        EXPECT_EQ(b.Width(), 9);
        EXPECT_FALSE(b.IsFullyOpaque);
        for (int32_t x = 0; x < 9; ++x) {
            const uint32_t rgb = picture.PixelColor(x, 1);
            EXPECT_EQ(BgrToTColor(b.PixelAsBgr(x, 1)), rgb) << int(c.depth) << " x " << x;
        }
    }
}

}  // namespace
}  // namespace quirelle
