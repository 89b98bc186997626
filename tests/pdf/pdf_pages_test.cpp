#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codecs/jpegfilt.h"
#include "image/ieutils.h"
#include "io/imageio.h"
#include "output/pdf/iepdfpages.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "platform/iesystem.h"
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

std::string Text(const TMemoryStream& m) { return std::string(m.Bytes().begin(), m.Bytes().end()); }

std::string SinglePage(TIEBitmap& page, TIOParamsVals& params) {
    TMemoryStream out;
    ProgressRecord progress;
    PdfWriteSinglePage(out, page, params, progress);
    return Text(out);
}

TEST(PdfPages, SixteenByTwoExampleByteForByte) {
    test::FixedDocumentDate date;
    TIOParamsVals params;
    params.PdfImageCoding = 0;
    TIEBitmap page(16, ie1g, 2);
    std::memset(page.RowAddress(0), 0xFF, 2);
    std::memset(page.RowAddress(1), 0x00, 2);
    const std::string expected = std::string("%PDF-1.4\n%\xC8\xD2\xF0\xFE\n") +
        "1 0 obj\n<< /Type /Catalog\n/Pages 6 0 R\n>>\nendobj\n"
        "2 0 obj\n<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>\nendobj\n"
        "3 0 obj\n<< /Type /XObject\n/Subtype /Image\n/Length 4\n/ColorSpace /DeviceGray\n/BitsPerComponent 1\n"
        "/Width 16\n/Height 2\n>>\nstream\n\xFF\xFF" + std::string(2, '\0') + "\nendstream\nendobj\n"
        "4 0 obj\n<< /Length 31\n>>\nstream\nq\n595 0 0 74 0 768 cm\n/lm1 Do\nQ\nendstream\nendobj\n"
        "5 0 obj\n<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n/Parent 6 0 R\n>>\nendobj\n"
        "6 0 obj\n<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>\nendobj\n"
        "7 0 obj\n<< /CreationDate (D:20261209134502)\n>>\nendobj\n"
        "xref\n0 8\n0000000000 65535 f \n0000000015 00000 n \n0000000064 00000 n \n0000000136 00000 n \n"
        "0000000284 00000 n \n0000000365 00000 n \n0000000470 00000 n \n0000000528 00000 n \n"
        "trailer\n<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n>>\nstartxref\n582\n%%EOF\n";
    const std::string got = SinglePage(page, params);
    EXPECT_EQ(got.size(), 817u);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(params.ChannelBits, 1);
    EXPECT_EQ(params.ChannelCount, 1);
}

TEST(PdfPages, ImageDictionaryByCodingAndDepth) {
    struct Case {
        TIEPixelFormat format;
        uint8_t coding;
        const char* filterEntries;  // the text between /Length ... and /ColorSpace
        const char* colorSpace;
    };
    const std::string ccitt =
        "/Filter /CCITTFaxDecode\n/DecodeParms << /K %K\n/BlackIs1 true\n/Columns 20\n/Rows 3\n/EndOfLine false\n"
        "/Uncompressed true\n/EncodedByteAlign false\n/EndOfBlock false\n>>\n";
    auto withK = [&](const char* k) {
        std::string s = ccitt;
        s.replace(s.find("%K"), 2, k);
        return s;
    };
    const std::string g4 = withK("-1"), g3 = withK("1");
    const std::vector<Case> cases = {
        {ie1g, 0, "", "DeviceGray"},
        {ie1g, 1, "/Filter [/RunLengthDecode ]\n", "DeviceGray"},
        {ie1g, 2, g4.c_str(), "DeviceGray"},
        {ie1g, 3, g3.c_str(), "DeviceGray"},
        {ie1g, 4, g3.c_str(), "DeviceGray"},
        {ie1g, 5, "/Filter /LZWDecode\n", "DeviceGray"},
        {ie1g, 9, "", "DeviceGray"},  // no such coding: written without compression
        {ie24RGB, 0, "", "DeviceRGB"},
        {ie24RGB, 1, "", "DeviceRGB"},
        {ie24RGB, 2, "", "DeviceRGB"},
        {ie24RGB, 3, "", "DeviceRGB"},
        {ie24RGB, 5, "/Filter /LZWDecode\n", "DeviceRGB"},
        {ie24RGB, 200, "", "DeviceRGB"},
    };
    for (const Case& c : cases) {
        TIOParamsVals params;
        params.PdfImageCoding = c.coding;
        TIEBitmap page(20, c.format, 3);
        page.Fill(0);
        const std::string pdf = SinglePage(page, params);
        const std::string head = "3 0 obj\n<< /Type /XObject\n/Subtype /Image\n/Length ";
        const size_t start = pdf.find(head);
        ASSERT_NE(start, std::string::npos) << int(c.coding);
        const size_t afterLength = pdf.find('\n', start + head.size()) + 1;
        const std::string expected = std::string(c.filterEntries) + "/ColorSpace /" + c.colorSpace + "\n/BitsPerComponent " +
                                     (c.format == ie1g ? "1" : "8") + "\n/Width 20\n/Height 3\n>>\nstream\n";
        EXPECT_EQ(pdf.substr(afterLength, expected.size()), expected)
            << IEPixelFormatName(c.format) << " coding " << int(c.coding);
        if (c.format == ie1g && c.coding == 4) {
            EXPECT_EQ(params.PdfImageCoding, 3);  // the change stays
        }
    }
}

TEST(PdfPages, ContentPlacesTheImageTopLeftAndObjectsAreNumberedPerPage) {
    TIOParamsVals params;
    params.PdfImageCoding = 2;
    TIEBitmap a(100, ie1g, 50), b(8, ie24RGB, 8);
    a.Fill(255), b.Fill(0);
    TMemoryStream out;
    ProgressRecord progress;
    auto state = PdfOpenDocument();
    PdfAppendImagePage(*state, a, params, progress);
    params.PdfMediaWidth = 612;
    params.PdfMediaHeight = 792;
    PdfAppendImagePage(*state, b, params, progress);
    PdfCloseDocument(state, out, params);
    EXPECT_EQ(state, nullptr);
    const std::string pdf = Text(out);
    EXPECT_NE(pdf.find("4 0 obj\n<< /Length 32\n>>\nstream\nq\n595 0 0 297 0 545 cm\n/lm1 Do\nQ\nendstream"), std::string::npos);
    EXPECT_NE(pdf.find("7 0 obj\n<< /Length"), std::string::npos);
    EXPECT_NE(pdf.find("q\n612 0 0 612 0 180 cm\n/lm2 Do\nQ"), std::string::npos);
    EXPECT_NE(pdf.find("/XObject << /lm1 3 0 R\n/lm2 6 0 R\n>>"), std::string::npos);
    EXPECT_NE(pdf.find("5 0 obj\n<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n/Parent 9 0 R"),
              std::string::npos);
    EXPECT_NE(pdf.find("8 0 obj\n<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 612 792 ]\n/Contents 7 0 R\n/Parent 9 0 R"),
              std::string::npos);
    EXPECT_NE(pdf.find("9 0 obj\n<< /Type /Pages\n/Kids [5 0 R 8 0 R ]\n/Count 2\n>>"), std::string::npos);
    EXPECT_NE(pdf.find("trailer\n<< /Size 11\n/Root 1 0 R\n/Info 10 0 R\n>>"), std::string::npos);
}

TEST(PdfPages, InfoDictionaryHoldsTheFieldsThatAreSet) {
    test::FixedDocumentDate date;
    TIOParamsVals params;
    params.PdfInfoTitle = "A (title)";
    params.PdfInfoProducer = "Quirelle";
    TMemoryStream out;
    auto state = PdfOpenDocument();
    PdfCloseDocument(state, out, params);
    const std::string pdf = Text(out);
    EXPECT_NE(pdf.find("<< /Title (A \\(title\\))\n/Producer (Quirelle)\n/CreationDate (D:20261209134502)\n>>"),
              std::string::npos);
    // An empty document: catalog, resources, pages tree, Info.
    EXPECT_NE(pdf.find("/XObject << >>"), std::string::npos);
    EXPECT_NE(pdf.find("3 0 obj\n<< /Type /Pages\n/Kids []\n/Count 0\n>>"), std::string::npos);
    EXPECT_NE(pdf.find("<< /Size 5\n/Root 1 0 R\n/Info 4 0 R"), std::string::npos);
}

TEST(PdfPages, AnEmptyImageIsRefusedAndAddsNothing) {
    TIOParamsVals params;
    ProgressRecord progress;
    auto state = PdfOpenDocument();
    TIEBitmap empty;
    EXPECT_THROW(PdfAppendImagePage(*state, empty, params, progress), EIEException);
    EXPECT_EQ(state->Objects.size(), 2u);
    EXPECT_TRUE(state->Images.empty());
}

// ---------------------------------------------------------------------------------------------
// Documents through the I/O object, checked with qpdf and rendered

class PdfFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "tmp");
        TempDirectoryOverride = (dir_ / "tmp").string();
    }
    void TearDown() override { TempDirectoryOverride.clear(); }
    size_t SpoolFiles() const { return test::FilesMatching(dir_ / "tmp", "ietemp-", ".tmp").size(); }
    ScratchDir dir_;
};

void QpdfCheck(const std::filesystem::path& file) {
    if (!test::HaveProgram("qpdf")) return;
    std::string output;
    const int status = test::RunCommand("qpdf --check " + test::ShellQuote(file.string()), &output);
    EXPECT_EQ(status, 0) << file << ": " << output;
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
}




// Every coding passes qpdf and renders the page. JPEG pages (colour, coding 4) in every colour
// model show the JPEG data as a JPEG decoder sees it, close to the picture at quality 95, with
// the rest of the page white; gray JPEG pages declare /DeviceGray.
TEST_F(PdfFiles, EveryCodingPassesQpdfAndRendersThePage) {
    if (!test::HaveProgram("gs")) GTEST_SKIP() << "Ghostscript is not installed";
    struct Case {
        TIEPixelFormat format;
        uint8_t coding;
        uint8_t jpegModel = 2;
    };
    std::vector<Case> cases;
    for (TIEPixelFormat format : {ie1g, ie24RGB})
        for (uint8_t coding = 0; coding <= 5; ++coding) cases.push_back(Case{format, coding});
    for (uint8_t model : {uint8_t{1}, uint8_t{0}, uint8_t{3}, uint8_t{4}}) cases.push_back(Case{ie24RGB, 4, model});
    for (const Case& c : cases) {
        const bool jpeg = c.format != ie1g && c.coding == 4;
        const std::string what = std::string(IEPixelFormatName(c.format)) + " coding " + std::to_string(c.coding) +
                                 (jpeg ? " colour model " + std::to_string(c.jpegModel) : "");
        const auto path = dir_ / ("page" + std::to_string(c.coding) + ".pdf");
        TImageIO io;
        io.IEBitmap()->Allocate(119, 77, c.format);
        DrawBlocks(*io.IEBitmap());
        io.Params().PdfImageCoding = c.coding;
        io.Params().JpegColorModel = c.jpegModel;
        io.Params().JpegQualityLevel = 95;
        io.Params().JpegChromaSampling = 2;  // 1 x 1: the block picture's colours change every few pixels
        io.SavePdfToFile(path);
        EXPECT_EQ(io.Params().FormatId, 18);
        EXPECT_EQ(io.Params().SourcePath, path);
        QpdfCheck(path);
        std::string log;
        const auto pages = test::RenderWithGhostscript(path, 0, 0, 72, &log);
        ASSERT_EQ(pages.size(), 1u) << what << ": " << log;
        ASSERT_EQ(pages[0].width, 595) << what;
        ASSERT_EQ(pages[0].height, 842) << what;
        if (!jpeg) {
            ExpectPagePlacedTopLeft(pages[0], *io.IEBitmap(), 5, what);
            continue;
        }
        const auto bytes = test::ReadFileBytes(path);
        const std::string pdf(bytes.begin(), bytes.end());
        EXPECT_NE(pdf.find("/Filter /DCTDecode\n/ColorSpace /" + std::string(c.jpegModel == 1 ? "DeviceGray" : "DeviceRGB")),
                  std::string::npos)
            << what;
        // The same JPEG bytes, decoded by our decoder (which matches djpeg exactly).
        TMemoryStream data;
        ProgressRecord progress;
        SaveJpegPage(data, *io.IEBitmap(), io.Params(), progress);
        EXPECT_NE(pdf.find(std::string(data.Bytes().begin(), data.Bytes().end())), std::string::npos) << what;
        TIEBitmap decoded;
        TIOParamsVals decodedParams;
        data.SetPosition(0);
        ASSERT_EQ(LoadJpegFromStream(data, nullptr, decoded, false, -1, false, false, false, false, false, false,
                                     progress, decodedParams),
                  77);
        ExpectJpegPagePlacedTopLeft(pages[0], *io.IEBitmap(), decoded, 5, c.jpegModel == 1, what);
        if (test::HaveProgram("pdftoppm")) {
            const auto poppler = test::RenderWithPoppler(path, 72);
            ASSERT_EQ(poppler.size(), 1u) << what;
            ExpectJpegPagePlacedTopLeft(poppler[0], *io.IEBitmap(), decoded, 5, c.jpegModel == 1, what + " (poppler)", 1);
        }
    }
    EXPECT_EQ(SpoolFiles(), 0u);
}

TEST_F(PdfFiles, MixedPageSizesAndAnEmptyDocument) {
    const auto path = dir_ / "mixed.pdf";
    TImageIO io;
    io.BeginPdfDocument(path);
    EXPECT_TRUE(io.PdfDocumentOpen());
    TIEBitmap& b = *io.IEBitmap();
    b.Allocate(119, 100, ie1g);
    DrawBlocks(b);
    io.Params().PdfImageCoding = 2;
    io.AddPdfPage();
    b.Allocate(85, 60, ie8g);  // gray: the page turns the buffer into 24-bit colour
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 85; ++x) b.SetPixel8(x, y, uint8_t((x / 4) * 12 + (y / 3) * 5));
    io.Params().PdfImageCoding = 5;
    io.AddPdfPage();
    EXPECT_EQ(b.Format(), ie24RGB);
    EXPECT_EQ(SpoolFiles(), 2u);  // the image data waits in temporary files
    io.EndPdfDocument();
    EXPECT_FALSE(io.PdfDocumentOpen());
    EXPECT_EQ(SpoolFiles(), 0u);
    QpdfCheck(path);
    if (test::HaveProgram("gs")) {
        const auto pages = test::RenderWithGhostscript(path, 0, 0, 72);
        ASSERT_EQ(pages.size(), 2u);
        TIEBitmap first(119, ie1g, 100);
        DrawBlocks(first);
        ExpectPagePlacedTopLeft(pages[0], first, 5, "page 1");
        ExpectPagePlacedTopLeft(pages[1], b, 7, "page 2");
    }
    const auto empty = dir_ / "empty.pdf";
    io.BeginPdfDocument(empty);
    io.EndPdfDocument();
    QpdfCheck(empty);
    if (test::HaveProgram("qpdf")) {
        std::string pages;
        EXPECT_EQ(test::RunCommand("qpdf --show-npages " + test::ShellQuote(empty.string()), &pages), 0);
        EXPECT_EQ(pages, "0\n");
    }
}

TEST_F(PdfFiles, NoTemporaryFileOutlivesTheDocument) {
    {
        TImageIO io;
        io.IEBitmap()->Allocate(64, 64, ie24RGB);
        io.BeginPdfDocument(dir_ / "open.pdf");
        io.AddPdfPage();
        io.AddPdfPage();
        EXPECT_EQ(SpoolFiles(), 2u);
    }  // destruction completes the document
    EXPECT_EQ(SpoolFiles(), 0u);
    QpdfCheck(dir_ / "open.pdf");

    // A failed end releases everything too: here the stream refuses every byte, as a full disk does.
    class FullStream : public TMemoryStream {
    public:
        int64_t Write(const void*, int64_t) override { return 0; }
    };
    TIOParamsVals params;
    ProgressRecord progress;
    auto state = PdfOpenDocument();
    TIEBitmap page(32, ie1g, 32);
    PdfAppendImagePage(*state, page, params, progress);
    EXPECT_EQ(SpoolFiles(), 1u);
    FullStream full;
    EXPECT_THROW(PdfCloseDocument(state, full, params), EIEStreamError);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(SpoolFiles(), 0u);
}

TEST_F(PdfFiles, ManyPagesHoldNoFileHandles) {
    // Every page's image waits in a temporary file of its own; those files are kept closed, so a
    // document may have more pages than the process may open files.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const auto path = dir_ / "many.pdf";
    {
        TImageIO io;
        io.IEBitmap()->Allocate(16, 16, ie1g);
        io.BeginPdfDocument(path);
        for (int i = 0; i < 300; ++i) io.AddPdfPage();
        EXPECT_EQ(SpoolFiles(), 300u);
        io.EndPdfDocument();
    }
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(SpoolFiles(), 0u);
    if (test::HaveProgram("qpdf")) {
        std::string pages;
        test::RunCommand("qpdf --show-npages " + test::ShellQuote(path.string()), &pages);
        EXPECT_EQ(pages, "300\n");
    }
}

TEST_F(PdfFiles, BeginningASecondDocumentCompletesTheFirst) {
    TImageIO io;
    io.IEBitmap()->Allocate(8, 8, ie1g);
    io.BeginPdfDocument(dir_ / "first.pdf");
    io.AddPdfPage();
    io.BeginPdfDocument(dir_ / "second.pdf");
    io.EndPdfDocument();
    QpdfCheck(dir_ / "first.pdf");
    QpdfCheck(dir_ / "second.pdf");
    const auto bytes = test::ReadFileBytes(dir_ / "first.pdf");
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("/Count 1"), std::string::npos);
}

}  // namespace
}  // namespace quirelle
