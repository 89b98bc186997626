#include <gtest/gtest.h>

#include "image/iebitmap.h"
#include "io/imageio.h"

namespace quirelle {
namespace {

TEST(ParamsDefaults, FreshParameterSetOfAnIoObject) {
    TImageIO io;
    const TIOParamsVals& p = io.Params();
    EXPECT_EQ(p.OwnerIo, &io);
    EXPECT_EQ(p.ChannelBits, 8);
    EXPECT_EQ(p.ChannelCount, 3);
    EXPECT_EQ(p.ResolutionX, 300);
    EXPECT_EQ(p.ResolutionY, 300);
    EXPECT_EQ(p.PsMediaWidth, 595);
    EXPECT_EQ(p.PsMediaHeight, 842);
    EXPECT_EQ(p.PdfMediaWidth, 595);
    EXPECT_EQ(p.PdfMediaHeight, 842);
    EXPECT_EQ(p.PsImageCoding, 1);
    EXPECT_EQ(p.PdfImageCoding, 2);
    EXPECT_EQ(p.PsDocTitle, "No Title");
    EXPECT_EQ(p.JpegQualityLevel, 80);
    EXPECT_EQ(p.JpegColorModel, 2);
    EXPECT_EQ(p.TiffSubImageIndex, -1);
    EXPECT_EQ(p.TiffPageNumber, -1);
    EXPECT_EQ(p.GifVersion, "GIF89a");
    EXPECT_EQ(p.IcoSizes[0][0], 64);
    EXPECT_EQ(p.IcoDepths[0], 8);
    EXPECT_EQ(p.TgaGamma, 2.2);
    for (const std::string* s : {&p.PdfInfoTitle, &p.PdfInfoAuthor, &p.PdfInfoSubject, &p.PdfInfoKeywords,
                                 &p.PdfInfoCreator, &p.PdfInfoProducer})
        EXPECT_TRUE(s->empty());
}

TEST(ParamsDefaults, WithoutAnOwnerTheResolutionStaysZero) {
    TIOParamsVals p;
    EXPECT_EQ(p.ResolutionX, 0);
    EXPECT_EQ(p.ResolutionY, 0);
    p.ResolutionX = 72;
    p.ResetParams();
    EXPECT_EQ(p.ResolutionX, 72);  // unchanged without an owner
}

TEST(Params, ResetRestoresDefaultsAndClearsTheColorMap) {
    TImageIO io;
    TIOParamsVals& p = io.Params();
    p.PsDocTitle = "x";
    p.PdfImageCoding = 5;
    const BgrColor map[2] = {{1, 2, 3}, {4, 5, 6}};
    p.SetColorMap(map, 2);
    EXPECT_EQ(p.ColorMapCount, 2);
    p.SetResolutionX(72);
    p.ResetParams();
    EXPECT_EQ(p.PsDocTitle, "No Title");
    EXPECT_EQ(p.PdfImageCoding, 2);
    EXPECT_EQ(p.ColorMapCount, 0);
    EXPECT_TRUE(p.ColorMap.empty());
    EXPECT_EQ(p.ResolutionX, 300);
}

TEST(Params, SelectFrameOrientationAndImageCount) {
    TIOParamsVals p;
    p.SelectFrame(3);
    for (int32_t v : {p.MediaFrameIndex, p.TiffFrameIndex, p.DcxPageIndex, p.GifFrameIndex, p.IcoFrameIndex,
                      p.CurFrameIndex})
        EXPECT_EQ(v, 3);
    p.SetOrientation(6);
    EXPECT_EQ(p.TiffOrientation, 6);
    EXPECT_EQ(p.Exif.Orientation, 6);
    p.SetApplyOrientation(true);
    EXPECT_TRUE(p.ApplyOrientation && p.TiffApplyOrientation && p.JpegApplyOrientation);
    p.SetImageCount(4);
    EXPECT_EQ(p.TiffFrameCount, 4);
    EXPECT_EQ(p.GifImageCount, 4);
}

TEST(Params, AssignCopiesValuesListsAndProfiles) {
    TIOParamsVals a, b;
    a.PdfInfoTitle = "T";
    a.JpegMarkers.Add(0xE1, reinterpret_cast<const uint8_t*>("Exif\0\0abc"), 9);
    const BgrColor map[1] = {{9, 8, 7}};
    a.SetColorMap(map, 1);
    a.SetResolutionX(150.7);
    b.InputICCProfile()->Raw.assign(200, 1);
    b.AssignParams(a);
    EXPECT_EQ(b.PdfInfoTitle, "T");
    EXPECT_EQ(b.JpegMarkers, a.JpegMarkers);
    EXPECT_EQ(b.ColorMap, a.ColorMap);
    EXPECT_EQ(b.ResolutionX, 150);
    EXPECT_DOUBLE_EQ(b.Exif.ExifResolutionX, 150.7);
    EXPECT_FALSE(b.HasInputICCProfile());  // absent on the source: freed here
    a.InputICCProfile()->Raw.assign(300, 2);
    b.AssignParams(a);
    ASSERT_TRUE(b.HasInputICCProfile());
    EXPECT_EQ(b.InputICCProfile()->Raw.size(), 300u);
}

TEST(Params, ClearMetadataAndExifBlock) {
    TIOParamsVals p;
    p.JpegMarkers.Add(0xE0, reinterpret_cast<const uint8_t*>("JFIF"), 4);
    p.JpegMarkers.Add(0xE1, reinterpret_cast<const uint8_t*>("http://ns"), 9);
    p.JpegMarkers.Add(0xE1, reinterpret_cast<const uint8_t*>("Exif\0\0MM"), 8);
    p.Exif.HasExif = true;
    p.ClearExifBlock();
    EXPECT_FALSE(p.Exif.HasExif);
    ASSERT_EQ(p.JpegMarkers.Count(), 2);  // only the Exif APP1 went
    EXPECT_EQ(p.JpegMarkers[1].Data.size(), 9u);
    p.TiffPageName = "page";
    p.GifComments = {"c"};
    p.InputICCProfile();
    p.ClearMetadata();
    EXPECT_EQ(p.JpegMarkers.Count(), 0);
    EXPECT_TRUE(p.TiffPageName.empty());
    EXPECT_TRUE(p.GifComments.empty());
    EXPECT_FALSE(p.HasInputICCProfile());
}

class RecordingView : public IImageViewLink {
public:
    void BeginUpdate() override { log += "B"; }
    void EndUpdate() override { log += "E"; }
    void SetDpiX(int32_t dpi) override { log += "X" + std::to_string(dpi); }
    void SetDpiY(int32_t dpi) override { log += "Y" + std::to_string(dpi); }
    std::string log;
};

TEST(Params, ResolutionSettersTellTheAttachedView) {
    RecordingView view;
    TIEBitmap buffer;
    TImageIO io(&buffer, &view);
    EXPECT_FALSE(io.OwnsBuffer());
    view.log.clear();
    io.Params().SetResolutionX(96);
    io.Params().SetResolutionY(120.9);
    EXPECT_EQ(view.log, "BX96EBY120E");
    EXPECT_EQ(io.Params().ResolutionY, 120);
}

TEST(Params, PixelSizeFollowsAnAttachedPicture) {
    TBitmap picture;
    picture.SetSize(40, 30);
    TImageIO io;
    io.AttachPicture(&picture);
    io.Params().ResetParams();
    EXPECT_EQ(io.Params().PixelWidth, 40);
    EXPECT_EQ(io.Params().PixelHeight, 30);
}

}  // namespace
}  // namespace quirelle
