#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "image/ieutils.h"
#include "codecs/jpegfilt.h"
#include "io/ioparams.h"
#include "output/postscript/iepsdoc.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "tests/support/pages.h"
#include "tests/support/render.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::DrawBlocks;
using test::ExpectJpegPagePlacedTopLeft;
using test::ExpectPagePlacedTopLeft;
using test::RgbImage;
using test::ScratchDir;

std::string Text(TMemoryStream& m) { return std::string(m.Bytes().begin(), m.Bytes().end()); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
        lines.push_back(text.substr(start, crlf - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}


TEST(PsWriter, SixteenByTwoExampleByteForByte) {
    test::FixedDocumentDate date;
    TIOParamsVals params;
    params.PsImageCoding = 0;
    TIEBitmap page(16, ie1g, 2);
    std::memset(page.RowAddress(0), 0xFF, 2);
    std::memset(page.RowAddress(1), 0x00, 2);
    TMemoryStream out;
    ProgressRecord progress;
    auto state = PsOpenDocument(out, params);
    PsAppendPage(*state, out, page, params, progress);
    PsCloseDocument(state, out);
    EXPECT_EQ(state, nullptr);
    const std::string expected =
        "%!PS-Adobe-3.0\r\n%%Creator: Quirelle\r\n%%Title: No Title\r\n%%CreationDate: Wed Dec 09 13:45:02 2026\r\n"
        "%%DocumentData: Clean7Bit\r\n%%LanguageLevel: 2\r\n%%Pages: 1     \r\n%%BoundingBox: 0 0 594 841\r\n"
        "%%EndComments\r\n%%Page: 1 1\r\n0 842 translate\r\n595 -74 scale\r\n16 2 1\r\n[ 16 0 0 2 0 0 ]\r\n"
        "currentfile /ASCII85Decode filter /RunLengthDecode filter\r\n%%BeginData:      7 ASCII Bytes\r\nimage\r\n"
        "s8W*!J,~>\r\n%%EndData\r\nshowpage\r\n%%Trailer\r\n%%EOF\r\n";
    EXPECT_EQ(Text(out), expected);
    EXPECT_EQ(params.ChannelBits, 1);
    EXPECT_EQ(params.ChannelCount, 1);
}

TEST(PsWriter, CreationDateUsesEnglishNamesInLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(PsCreationDate(1796823902), "Wed Dec 09 13:45:02 2026");
    EXPECT_EQ(PsCreationDate(0), "Thu Jan 01 00:00:00 1970");
}

TEST(FitImageToPage, ExamplesOnA4AndLetter) {
    struct Case {
        int32_t w, h, pw, ph, sw, sh;
    };
    for (const Case& c : {Case{100, 50, 595, 842, 595, 297}, Case{640, 480, 595, 842, 595, 446},
                          Case{2480, 3508, 595, 842, 595, 841}, Case{10000, 10, 595, 842, 594, 1},
                          Case{1700, 2200, 612, 792, 611, 791}, Case{1, 1, 595, 842, 595, 595},
                          Case{16, 2, 595, 842, 595, 74}, Case{3, 7, 595, 842, 360, 842}}) {
        int32_t sw = -1, sh = -1;
        FitImageToPage(c.w, c.h, c.pw, c.ph, sw, sh);
        EXPECT_EQ(sw, c.sw) << c.w << "x" << c.h << " on " << c.pw << "x" << c.ph;
        EXPECT_EQ(sh, c.sh) << c.w << "x" << c.h << " on " << c.pw << "x" << c.ph;
    }
    int32_t sw = 7, sh = 9;
    FitImageToPage(0, 10, 595, 842, sw, sh);
    EXPECT_EQ(sw, 7);
    EXPECT_EQ(sh, 9);
}

TEST(PsWriter, PageCountFieldAndPageNumbers) {
    TIOParamsVals params;
    TIEBitmap page(8, ie1g, 8);
    page.Fill(255);
    TMemoryStream out;
    ProgressRecord progress;
    auto state = PsOpenDocument(out, params);
    EXPECT_NE(Text(out).find("%%Pages: 0     \r\n"), std::string::npos);
    PsAppendPage(*state, out, page, params, progress);
    EXPECT_NE(Text(out).find("%%Pages: 1     \r\n"), std::string::npos);
    for (int i = 2; i <= 12; ++i) PsAppendPage(*state, out, page, params, progress);
    PsCloseDocument(state, out);
    const std::string text = Text(out);
    EXPECT_NE(text.find("%%Pages: 12    \r\n%%BoundingBox"), std::string::npos);
    EXPECT_NE(text.find("%%Page: 12 12\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("showpage\r\n%%Trailer\r\n%%EOF\r\n"));
}

TEST(PsWriter, EmptyDocumentIsHeaderAndTrailer) {
    TIOParamsVals params;
    params.PsDocTitle = "Nothing";
    params.PsMediaWidth = 612;
    params.PsMediaHeight = 792;
    TMemoryStream out;
    auto state = PsOpenDocument(out, params);
    PsCloseDocument(state, out);
    const auto lines = Lines(Text(out));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[2], "%%Title: Nothing");
    EXPECT_EQ(lines[6], "%%Pages: 0     ");
    EXPECT_EQ(lines[7], "%%BoundingBox: 0 0 611 791");
    EXPECT_EQ(lines[8], "%%EndComments");
    EXPECT_EQ(lines[9], "%%Trailer");
    EXPECT_EQ(lines[10], "%%EOF");
    std::unique_ptr<PsDocState> none;
    PsCloseDocument(none, out);  // nothing for a null state
}

// The lines of a single-page document's page body.
std::vector<std::string> PageLines(TIEBitmap& page, TIOParamsVals& params) {
    TMemoryStream out;
    ProgressRecord progress;
    PsWriteSinglePage(out, page, params, progress);
    auto lines = Lines(Text(out));
    return std::vector<std::string>(lines.begin() + 9, lines.end());
}

TEST(PsWriter, PageFormByCodingAndDepth) {
    struct Case {
        TIEPixelFormat format;
        uint8_t coding;
        const char* source;  // the data-source line (first after the matrix)
        const char* op;
    };
    const std::string g4 =
        "currentfile /ASCII85Decode filter << /K -1 /BlackIs1 true /Columns 20 /Rows 3 /EndOfLine false "
        "/Uncompressed true /EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter";
    const std::string g3 = "currentfile /ASCII85Decode filter << /K 1" + g4.substr(std::string("currentfile /ASCII85Decode filter << /K -1").size());
    const std::vector<Case> cases = {
        {ie1g, 0, "currentfile /ASCII85Decode filter /RunLengthDecode filter", "image"},
        {ie1g, 1, g4.c_str(), "image"},
        {ie1g, 2, g3.c_str(), "image"},
        {ie1g, 3, g3.c_str(), "image"},  // no JPEG form for 1-bit pages: CCITT G3 2-D
        {ie24RGB, 0, "/rstr 20 string def", "colorimage"},
        {ie24RGB, 1, "/rstr 20 string def", "colorimage"},  // fax codings give colour RunLength
        {ie24RGB, 2, "/rstr 20 string def", "colorimage"},
        {ie24RGB, 3, "currentfile /ASCII85Decode filter << >> /DCTDecode filter", "colorimage"},
    };
    for (const Case& c : cases) {
        TIOParamsVals params;
        params.PsImageCoding = c.coding;
        TIEBitmap page(20, c.format, 3);
        page.Fill(0);
        const auto lines = PageLines(page, params);
        EXPECT_EQ(lines[3], c.format == ie1g ? "20 3 1" : "20 3 8");
        EXPECT_EQ(lines[4], "[ 20 0 0 3 0 0 ]");
        EXPECT_EQ(lines[5], c.source) << "coding " << int(c.coding);
        size_t begin = 0;
        while (begin < lines.size() && lines[begin].rfind("%%BeginData:      ", 0) != 0) ++begin;
        ASSERT_LT(begin + 1, lines.size());
        EXPECT_EQ(lines[begin + 1], c.op);
        if (c.format == ie24RGB && c.coding == 3) {
            EXPECT_EQ(lines[6], "false 3");
            EXPECT_EQ(begin, 7u);
        } else if (c.format == ie24RGB) {
            EXPECT_EQ(lines[8], "{currentfile /ASCII85Decode filter /RunLengthDecode filter rstr readstring pop}");
            EXPECT_EQ(lines[10], "{currentfile /ASCII85Decode filter /RunLengthDecode filter bstr readstring pop}");
            EXPECT_EQ(lines[11], "true 3");
        }
    }
}

// A JPEG page while the cancel flag is set: the encoder produces nothing, and the page is still
// complete, its BeginData count matching.
TEST(PsWriter, CancelledJpegPageIsStillComplete) {
    TIOParamsVals params;
    params.PsImageCoding = 3;
    TIEBitmap page(20, ie24RGB, 3);
    page.Fill(0);
    uint8_t cancel = 1;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TMemoryStream out;
    PsWriteSinglePage(out, page, params, progress);
    const auto lines = Lines(Text(out));
    const std::vector<std::string> tail(lines.end() - 7, lines.end());
    const std::vector<std::string> expected = {"false 3", "%%BeginData:      0 ASCII Bytes", "colorimage", "%%EndData",
                                               "showpage", "%%Trailer", "%%EOF"};
    EXPECT_EQ(tail, expected);
}

TEST(PsWriter, OnePixelWhitePageLines) {
    TIOParamsVals params;
    TIEBitmap page(1, ie1g, 1);
    page.Fill(255);
    const auto lines = PageLines(page, params);
    EXPECT_EQ(lines[0], "%%Page: 1 1");
    EXPECT_EQ(lines[1], "0 842 translate");
    EXPECT_EQ(lines[2], "595 -595 scale");
    EXPECT_EQ(lines[3], "1 1 1");
    EXPECT_EQ(lines[4], "[ 1 0 0 1 0 0 ]");
}

TEST(PsWriter, BeginDataCountsDigitsAndLongDataBreaksLines) {
    TIOParamsVals params;
    params.PsImageCoding = 0;
    TIEBitmap page(300, ie24RGB, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 300; ++x) page.SetPixel24(x, y, BgrColor{uint8_t(x), uint8_t(x * 7), uint8_t(x * 13)});
    TMemoryStream out;
    ProgressRecord progress;
    PsWriteSinglePage(out, page, params, progress);
    const std::string text = Text(out);
    const size_t begin = text.find("%%BeginData:      ");
    const size_t dataStart = text.find("colorimage\r\n", begin) + 12;
    const size_t dataEnd = text.find("%%EndData", dataStart);
    const std::string data = text.substr(dataStart, dataEnd - dataStart);
    int64_t digits = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' || data[i] == '\n') continue;
        if (data[i] == '~' && data[i + 1] == '>') {
            ++i;
            continue;
        }
        ++digits;
    }
    EXPECT_EQ(text.substr(begin, text.find("\r\n", begin) - begin),
              "%%BeginData:      " + std::to_string(digits) + " ASCII Bytes");
    // Six blocks (two rows, three planes), each ended by "~>" CR LF; lines of 75 characters inside.
    size_t blocks = 0;
    for (size_t p = 0; (p = data.find("~>\r\n", p)) != std::string::npos; p += 4) ++blocks;
    EXPECT_EQ(blocks, 6u);
    EXPECT_EQ(data.find("\r\n"), 75u);
}

TEST(PsWriter, EmptyImagesAndFullDocumentsAreRefusedWithoutWriting) {
    TIOParamsVals params;
    TMemoryStream out;
    ProgressRecord progress;
    auto state = PsOpenDocument(out, params);
    const std::string before = Text(out);
    TIEBitmap empty;
    EXPECT_THROW(PsAppendPage(*state, out, empty, params, progress), EIEException);
    EXPECT_EQ(Text(out), before);  // not even the page count moved

    // A document whose header already counts 999999 pages takes no more.
    out.SetPosition(state->PagesLinePos);
    out.WriteString("%%Pages: 999999");
    const std::string full = Text(out);
    TIEBitmap page(4, ie1g, 4);
    try {
        PsAppendPage(*state, out, page, params, progress);
        ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
        EXPECT_NE(std::string(e.what()).find("999999"), std::string::npos);
    }
    EXPECT_EQ(Text(out), full);
    TMemoryStream single;
    EXPECT_THROW(PsWriteSinglePage(single, empty, params, progress), EIEException);
    EXPECT_EQ(single.Size(), 0);
}

TEST(PsWriter, ProgressReachesTheLastRowPercent) {
    TIOParamsVals params;
    params.PsImageCoding = 0;
    TIEBitmap page(10, ie24RGB, 4);
    page.Fill(0);
    std::vector<int32_t> seen;
    ProgressRecord progress;
    progress.ProgressNotify = [&](TImageIO*, int32_t p) { seen.push_back(p); };
    TMemoryStream out;
    PsWriteSinglePage(out, page, params, progress);
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 25, 50, 75}));
}

// ---------------------------------------------------------------------------------------------
// Rendering with Ghostscript




class PsRender : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveProgram("gs")) GTEST_SKIP() << "Ghostscript is not installed";
    }
    ScratchDir dir_;
};

// Every coding renders the page. JPEG pages (colour, coding 3) in every colour model show the
// JPEG data as a JPEG decoder sees it (Ghostscript's decoder may round differently by a level or
// two), close to the picture at quality 95; the rest of the page is white.
TEST_F(PsRender, EveryCodingRendersThePagePixelForPixel) {
    struct Case {
        TIEPixelFormat format;
        uint8_t coding;
        uint8_t jpegModel = 2;
    };
    for (const Case& c : {Case{ie1g, 0}, Case{ie1g, 1}, Case{ie1g, 2}, Case{ie1g, 3}, Case{ie24RGB, 0},
                          Case{ie24RGB, 1}, Case{ie24RGB, 2}, Case{ie24RGB, 3, 2}, Case{ie24RGB, 3, 1},
                          Case{ie24RGB, 3, 0}, Case{ie24RGB, 3, 3}, Case{ie24RGB, 3, 4}}) {
        const bool jpeg = c.format != ie1g && c.coding == 3;
        const std::string what = std::string(IEPixelFormatName(c.format)) + " coding " + std::to_string(c.coding) +
                                 (jpeg ? " colour model " + std::to_string(c.jpegModel) : "");
        // 119 x 77 on A4: the scale is exactly 5 (595 / 119), so every pixel is a 5 x 5 block.
        TIEBitmap source(119, c.format, 77);
        DrawBlocks(source);
        TIOParamsVals params;
        params.PsImageCoding = c.coding;
        params.JpegColorModel = c.jpegModel;
        params.JpegQualityLevel = 95;
        params.JpegChromaSampling = 2;  // 1 x 1: the block picture's colours change every few pixels
        const auto path = dir_ / "page.ps";
        {
            TIEWideFileStream file(path, ieCreateAlways);
            ProgressRecord progress;
            PsWriteSinglePage(file, source, params, progress);
        }
        std::string log;
        const auto pages = test::RenderWithGhostscript(path, 595, 842, 72, &log);
        ASSERT_EQ(pages.size(), 1u) << what << ": " << log;
        EXPECT_TRUE(log.empty()) << what << ": " << log;
        ASSERT_EQ(pages[0].width, 595);
        ASSERT_EQ(pages[0].height, 842);
        if (!jpeg) {
            ExpectPagePlacedTopLeft(pages[0], source, 5, what);
            continue;
        }
        EXPECT_EQ(params.JpegColorModel, c.jpegModel);
        const auto bytes = test::ReadFileBytes(path);
        EXPECT_NE(std::string(bytes.begin(), bytes.end())
                      .find("currentfile /ASCII85Decode filter << >> /DCTDecode filter\r\n" +
                            std::string(c.jpegModel == 1 ? "false 1" : "false 3") + "\r\n%%BeginData:"),
                  std::string::npos)
            << what;
        // The same JPEG bytes, decoded by our decoder (which matches djpeg exactly).
        TMemoryStream data;
        ProgressRecord progress;
        SaveJpegPage(data, source, params, progress);
        TIEBitmap decoded;
        TIOParamsVals decodedParams;
        data.SetPosition(0);
        ASSERT_EQ(LoadJpegFromStream(data, nullptr, decoded, false, -1, false, false, false, false, false, false,
                                     progress, decodedParams),
                  77);
        ExpectJpegPagePlacedTopLeft(pages[0], source, decoded, 5, c.jpegModel == 1, what);
    }
}

TEST_F(PsRender, SeveralPagesOfDifferentSizesAndAnEmptyDocument) {
    const auto path = dir_ / "doc.ps";
    TIOParamsVals params;
    params.PsImageCoding = 1;
    TIEBitmap a(119, ie1g, 100), b(85, ie24RGB, 60), c(7, ie1g, 9);
    DrawBlocks(a), DrawBlocks(b), DrawBlocks(c);
    {
        TIEWideFileStream file(path, ieCreateAlways);
        ProgressRecord progress;
        auto state = PsOpenDocument(file, params);
        PsAppendPage(*state, file, a, params, progress);  // scale 5
        params.PsImageCoding = 0;
        PsAppendPage(*state, file, b, params, progress);  // scale 7
        params.PsImageCoding = 2;
        PsAppendPage(*state, file, c, params, progress);  // scale 85
        PsCloseDocument(state, file);
    }
    std::string log;
    const auto pages = test::RenderWithGhostscript(path, 595, 842, 72, &log);
    ASSERT_EQ(pages.size(), 3u) << log;
    ExpectPagePlacedTopLeft(pages[0], a, 5, "page 1");
    ExpectPagePlacedTopLeft(pages[1], b, 7, "page 2");
    ExpectPagePlacedTopLeft(pages[2], c, 85, "page 3");

    const auto empty = dir_ / "empty.ps";
    {
        TIEWideFileStream file(empty, ieCreateAlways);
        auto state = PsOpenDocument(file, params);
        PsCloseDocument(state, file);
    }
    std::string emptyLog;
    EXPECT_TRUE(test::RenderWithGhostscript(empty, 595, 842, 72, &emptyLog).empty());
    EXPECT_TRUE(emptyLog.empty()) << emptyLog;
}

}  // namespace
}  // namespace quirelle
