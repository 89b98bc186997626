#include "output/pdf/iepdfdocument.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "output/pdf/iepdfobjects.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "platform/iesystem.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::ScratchDir;

std::string Text(const TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::unique_ptr<TIEPDFArrayObject> MediaBox(double width, double height) {
    auto box = std::make_unique<TIEPDFArrayObject>();
    for (double v : {0.0, 0.0, width, height}) box->Add(std::make_unique<TIEPDFNumericObject>(v));
    return box;
}

// A document built by hand from the model, laid out as the image-page writer lays it out:
// catalog, shared resources, then image, content and page per page, then pages tree and Info.
struct HandMadeDocument {
    TIEPDFObjectList list;
    TIEPDFPageList pages;
    std::vector<std::unique_ptr<TIEPDFStreamObject>> images;
    std::vector<std::unique_ptr<TIEPDFStreamObject>> contents;
    std::unique_ptr<TIEPDFDictionaryObject> catalog;
    std::unique_ptr<TIEPDFDictionaryObject> resources;
    std::unique_ptr<TIEPDFDictionaryObject> tree;
    std::unique_ptr<TIEPDFDictionaryObject> info;
    TIEPDFDictionaryObject* xobjects = nullptr;

    HandMadeDocument() {
        catalog = CreateCatalog(list);
        resources = std::make_unique<TIEPDFDictionaryObject>();
        resources->Shared = true;
        auto procSet = std::make_unique<TIEPDFArrayObject>();
        procSet->Add(std::make_unique<TIEPDFNameObject>("PDF"));
        procSet->Add(std::make_unique<TIEPDFNameObject>("ImageB"));
        resources->Add("ProcSet", std::move(procSet));
        auto xobjectDict = std::make_unique<TIEPDFDictionaryObject>();
        xobjects = xobjectDict.get();
        resources->Add("XObject", std::move(xobjectDict));
        AddIndirect(list, *resources);
    }

    // One page showing one image; the image data is spooled like the writer spools it.
    void AddPage(std::vector<uint8_t> pixels, int width, int height, const std::string& colorSpace, int bits,
                 const std::string& imageName, const std::string& content, double mediaWidth, double mediaHeight) {
        auto image = std::make_unique<TIEPDFStreamObject>(std::move(pixels));
        image->Dictionary().Add("ColorSpace", std::make_unique<TIEPDFNameObject>(colorSpace));
        image->Dictionary().Add("BitsPerComponent", std::make_unique<TIEPDFNumericObject>(bits));
        image->Dictionary().Insert(0, "Type", std::make_unique<TIEPDFNameObject>("XObject"));
        image->Dictionary().Insert(1, "Subtype", std::make_unique<TIEPDFNameObject>("Image"));
        image->Dictionary().Add("Width", std::make_unique<TIEPDFNumericObject>(width));
        image->Dictionary().Add("Height", std::make_unique<TIEPDFNumericObject>(height));
        AddIndirect(list, *image);
        image->SpoolToTempFile();

        auto text = std::make_unique<TIEPDFStreamObject>(Bytes(content));
        AddIndirect(list, *text);
        xobjects->Add(imageName, std::make_unique<TIEPDFRefObject>(image->ObjectNumber, 0));
        CreatePage(list, pages, resources.get(), text->ObjectNumber, MediaBox(mediaWidth, mediaHeight));
        images.push_back(std::move(image));
        contents.push_back(std::move(text));
    }

    void Close(TStream& stream, const std::vector<std::pair<std::string, std::string>>& infoStrings) {
        tree = CreatePagesTree(list, pages);
        info = std::make_unique<TIEPDFDictionaryObject>();
        for (const auto& [key, value] : infoStrings) info->Add(key, std::make_unique<TIEPDFStringObject>(value));
        AddIndirect(list, *info);
        WritePdfHeader(stream);
        WriteObjects(stream, list);
        WriteXrefAndTrailer(stream, list, info.get());
    }
};

// The one-page document of a 16 x 2 1-bit image (a white row over a black row) on A4.
void BuildSmallExample(HandMadeDocument& doc, TStream& out) {
    doc.AddPage({0xFF, 0xFF, 0x00, 0x00}, 16, 2, "DeviceGray", 1, "lm1", "q\n595 0 0 74 0 768 cm\n/lm1 Do\nQ", 595,
                842);
    doc.Close(out, {{"CreationDate", "D:20261209134502"}});
}

const std::string kSmallExample = std::string(
                                      "%PDF-1.4\n"
                                      "%\xC8\xD2\xF0\xFE\n"
                                      "1 0 obj\n<< /Type /Catalog\n/Pages 6 0 R\n>>\nendobj\n"
                                      "2 0 obj\n<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>\nendobj\n"
                                      "3 0 obj\n<< /Type /XObject\n/Subtype /Image\n/Length 4\n/ColorSpace /DeviceGray\n"
                                      "/BitsPerComponent 1\n/Width 16\n/Height 2\n>>\nstream\n") +
                                  std::string("\xFF\xFF\x00\x00", 4) +
                                  "\nendstream\nendobj\n"
                                  "4 0 obj\n<< /Length 31\n>>\nstream\nq\n595 0 0 74 0 768 cm\n/lm1 Do\nQ\nendstream\n"
                                  "endobj\n"
                                  "5 0 obj\n<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n"
                                  "/Parent 6 0 R\n>>\nendobj\n"
                                  "6 0 obj\n<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>\nendobj\n"
                                  "7 0 obj\n<< /CreationDate (D:20261209134502)\n>>\nendobj\n"
                                  "xref\n0 8\n"
                                  "0000000000 65535 f \n"
                                  "0000000015 00000 n \n"
                                  "0000000064 00000 n \n"
                                  "0000000136 00000 n \n"
                                  "0000000284 00000 n \n"
                                  "0000000365 00000 n \n"
                                  "0000000470 00000 n \n"
                                  "0000000528 00000 n \n"
                                  "trailer\n<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n>>\nstartxref\n582\n%%EOF\n";

struct ToolResult {
    int status = -1;
    std::string output;
};

ToolResult RunTool(const std::string& command) {
    ToolResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveTool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

// qpdf exits 0 only when it found neither errors nor warnings (3: warnings, 2: errors).
void ExpectCleanPdf(const std::filesystem::path& path) {
    const ToolResult check = RunTool("qpdf --check '" + path.string() + "'");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("No syntax or stream encoding errors found"), std::string::npos) << check.output;
    EXPECT_EQ(check.output.find("WARNING"), std::string::npos) << check.output;
}

class PdfDocumentTest : public ::testing::Test {
protected:
    void SetUp() override { TempDirectoryOverride = scratch_.Path().string(); }
    void TearDown() override { TempDirectoryOverride.clear(); }
    ScratchDir scratch_;
};

TEST(PdfSerializer, HeaderHasTheVersionAndABinaryComment) {
    TMemoryStream out;
    WritePdfHeader(out);
    EXPECT_EQ(Text(out), "%PDF-1.4\n%\xC8\xD2\xF0\xFE\n");
}

TEST(PdfSerializer, LineHelpers) {
    TMemoryStream out;
    WriteLineLf(out, "trailer");
    WriteRaw(out, "<< ");
    WriteLineLf(out, "");
    EXPECT_EQ(Text(out), "trailer\n<< \n");
    EXPECT_EQ(LeftPadded("15", 10, '0'), "0000000015");
    EXPECT_EQ(LeftPadded("", 3, ' '), "   ");
    EXPECT_EQ(LeftPadded("12345678901", 10, '0'), "12345678901");  // never cut
}

TEST(PdfDocumentRoutines, NumberingCatalogPagesAndTree) {
    TIEPDFObjectList list;
    TIEPDFPageList pages;
    auto catalog = CreateCatalog(list);
    EXPECT_EQ(catalog->ObjectNumber, 1);
    auto resources = std::make_unique<TIEPDFDictionaryObject>();
    AddIndirect(list, *resources);
    EXPECT_EQ(resources->ObjectNumber, 2);

    TIEPDFDictionaryObject& first = CreatePage(list, pages, resources.get(), 9, MediaBox(595, 842));
    TIEPDFDictionaryObject& second = CreatePage(list, pages, nullptr, 10, MediaBox(612, 792));
    EXPECT_EQ(first.ObjectNumber, 3);
    EXPECT_EQ(second.ObjectNumber, 4);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].get(), &first);

    auto tree = CreatePagesTree(list, pages);
    EXPECT_EQ(tree->ObjectNumber, 5);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[4], tree.get());

    TMemoryStream out;
    tree->WriteTo(out);
    first.WriteTo(out);
    second.WriteTo(out);
    catalog->WriteTo(out);
    EXPECT_EQ(Text(out),
              "<< /Type /Pages\n/Kids [3 0 R 4 0 R ]\n/Count 2\n>>"
              "<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 9 0 R\n/Parent 5 0 R\n>>"
              "<< /Type /Page\n/MediaBox [0 0 612 792 ]\n/Contents 10 0 R\n/Parent 5 0 R\n>>"
              "<< /Type /Catalog\n/Pages 5 0 R\n>>");
}

TEST(PdfDocumentRoutines, EmptyPagesTree) {
    TIEPDFObjectList list;
    auto catalog = CreateCatalog(list);
    auto tree = CreatePagesTree(list, TIEPDFPageList());
    TMemoryStream out;
    tree->WriteTo(out);
    catalog->WriteTo(out);
    EXPECT_EQ(Text(out), "<< /Type /Pages\n/Kids []\n/Count 0\n>><< /Type /Catalog\n/Pages 2 0 R\n>>");
}

TEST_F(PdfDocumentTest, OnePageDocumentByteForByte) {
    HandMadeDocument doc;
    TMemoryStream out;
    BuildSmallExample(doc, out);
    EXPECT_EQ(out.Size(), 817);
    EXPECT_EQ(Text(out), kSmallExample);
    // Each object's offset is where its "n 0 obj" line starts.
    for (const TIEPDFObject* object : doc.list)
        EXPECT_EQ(Text(out).substr(static_cast<size_t>(object->FileOffset), 8),
                  std::to_string(object->ObjectNumber) + " 0 obj\n")
            << object->ObjectNumber;
}

TEST_F(PdfDocumentTest, CompleteFilesPassQpdfAndPdfinfo) {
    if (!HaveTool("qpdf") || !HaveTool("pdfinfo")) GTEST_SKIP() << "qpdf or pdfinfo is not installed";
    const auto small = scratch_ / "small.pdf";
    {
        HandMadeDocument doc;
        TIEWideFileStream out(small, ieCreateAlways);
        BuildSmallExample(doc, out);
    }
    ExpectCleanPdf(small);
    const ToolResult smallInfo = RunTool("pdfinfo '" + small.string() + "'");
    EXPECT_EQ(smallInfo.status, 0) << smallInfo.output;
    EXPECT_NE(smallInfo.output.find("Pages:           1\n"), std::string::npos) << smallInfo.output;
    EXPECT_NE(smallInfo.output.find("Page size:       595 x 842 pts (A4)"), std::string::npos) << smallInfo.output;
    EXPECT_NE(smallInfo.output.find("PDF version:     1.4"), std::string::npos) << smallInfo.output;

    // Two pages, an RGB image, escaped names and Info strings that need escaping.
    const auto two = scratch_ / "two.pdf";
    {
        HandMadeDocument doc;
        std::vector<uint8_t> rgb;
        for (int i = 0; i < 4 * 3; ++i) rgb.insert(rgb.end(), {static_cast<uint8_t>(i * 20), 0x80, 0xFF});
        doc.AddPage(rgb, 4, 3, "DeviceRGB", 8, "lm 1", "q\n612 0 0 459 0 333 cm\n/lm#201 Do\nQ", 612, 792);
        doc.AddPage({0xF0, 0x0F}, 8, 2, "DeviceGray", 1, "lm2", "q\n595 0 0 148 0 694 cm\n/lm2 Do\nQ", 595, 842);
        TIEWideFileStream out(two, ieCreateAlways);
        doc.Close(out, {{"Title", "Scan (page 1) \\ done\r\n"}, {"Author", "Z\xFCrich"}, {"CreationDate", "D:20261209134502"}});
    }
    ExpectCleanPdf(two);
    const ToolResult twoInfo = RunTool("pdfinfo -f 1 -l 2 '" + two.string() + "'");
    EXPECT_EQ(twoInfo.status, 0) << twoInfo.output;
    EXPECT_NE(twoInfo.output.find("Title:           Scan (page 1) \\ done"), std::string::npos) << twoInfo.output;
    EXPECT_NE(twoInfo.output.find("Author:          Z\xC3\xBCrich"), std::string::npos) << twoInfo.output;
    EXPECT_NE(twoInfo.output.find("Pages:           2\n"), std::string::npos) << twoInfo.output;
    EXPECT_NE(twoInfo.output.find("Page    1 size:  612 x 792 pts (letter)"), std::string::npos) << twoInfo.output;
    EXPECT_NE(twoInfo.output.find("Page    2 size:  595 x 842 pts (A4)"), std::string::npos) << twoInfo.output;
    if (HaveTool("pdfimages")) {
        const ToolResult images = RunTool("pdfimages -list '" + two.string() + "'");
        EXPECT_NE(images.output.find("image       4     3  rgb     3   8  image"), std::string::npos) << images.output;
        EXPECT_NE(images.output.find("image       8     2  gray    1   1  image"), std::string::npos) << images.output;
    }
    EXPECT_TRUE(test::FilesMatching(scratch_.Path(), "ietemp-", ".tmp").empty());
}

TEST(PdfSerializer, TrailerWithoutInfo) {
    TIEPDFObjectList list;
    auto catalog = CreateCatalog(list);
    TMemoryStream out;
    WriteObjects(out, list);
    WriteXrefAndTrailer(out, list, nullptr);
    EXPECT_EQ(Text(out),
              "1 0 obj\n<< /Type /Catalog\n>>\nendobj\n"
              "xref\n0 2\n0000000000 65535 f \n0000000000 00000 n \n"
              "trailer\n<< /Size 2\n/Root 1 0 R\n>>\nstartxref\n36\n%%EOF\n");
}

TEST(PdfSerializer, CrossReferenceEntriesHoldOffsetsUpToTenDigits) {
    const struct {
        int64_t offset;
        const char* entry;
    } cases[] = {
        {0, "0000000000 00000 n \n"},
        {15, "0000000015 00000 n \n"},
        {2147483647, "2147483647 00000 n \n"},
        {2147483648, "2147483648 00000 n \n"},  // past 2 GiB
        {4294967296, "4294967296 00000 n \n"},  // past 4 GiB
        {9999999999, "9999999999 00000 n \n"},  // the largest that fits
    };
    for (const auto& c : cases) {
        TIEPDFObjectList list;
        TIEPDFBooleanObject object(true);
        AddIndirect(list, object);
        object.FileOffset = c.offset;
        TMemoryStream out;
        WriteXrefAndTrailer(out, list, nullptr);
        EXPECT_EQ(Text(out).substr(0, 49), std::string("xref\n0 2\n0000000000 65535 f \n") + c.entry);
    }
    TIEPDFObjectList list;
    TIEPDFBooleanObject object(true);
    AddIndirect(list, object);
    object.FileOffset = 10000000000;
    TMemoryStream out;
    EXPECT_THROW(WriteXrefAndTrailer(out, list, nullptr), EIEException);
}

// Reads count bytes at a position of a file.
std::string ReadAt(TStream& file, int64_t position, int64_t count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    file.SetPosition(position);
    bytes.resize(static_cast<size_t>(file.Read(bytes.data(), count)));
    return bytes;
}

TEST_F(PdfDocumentTest, DocumentPastFourGiBGetsACorrectCrossReferenceTable) {
    // The body starts 5 GiB into a sparse file, so every offset needs more than 32 bits.
    constexpr int64_t kBodyStart = int64_t{5} << 30;
    const auto path = scratch_ / "big.pdf";
    HandMadeDocument doc;
    {
        TIEWideFileStream out(path, ieCreateAlways);
        WritePdfHeader(out);
        out.SetPosition(kBodyStart);
        doc.AddPage({0xFF, 0x00}, 8, 2, "DeviceGray", 1, "lm1", "q\n595 0 0 148 0 694 cm\n/lm1 Do\nQ", 595, 842);
        doc.tree = CreatePagesTree(doc.list, doc.pages);
        doc.info = std::make_unique<TIEPDFDictionaryObject>();
        AddIndirect(doc.list, *doc.info);
        WriteObjects(out, doc.list);
        WriteXrefAndTrailer(out, doc.list, doc.info.get());
    }

    TIEWideFileStream in(path, ieOpenRead);
    const int64_t size = in.Size();
    const std::string tail = ReadAt(in, size - 40, 40);
    const size_t mark = tail.find("startxref\n");
    ASSERT_NE(mark, std::string::npos);
    const int64_t xref = std::stoll(tail.substr(mark + 10));
    EXPECT_GT(xref, kBodyStart);
    EXPECT_EQ(ReadAt(in, xref, 29), "xref\n0 8\n0000000000 65535 f \n");
    for (int number = 1; number <= 7; ++number) {
        const std::string entry = ReadAt(in, xref + 29 + 20 * (number - 1), 20);
        ASSERT_EQ(entry.substr(10), " 00000 n \n");
        const int64_t offset = std::stoll(entry.substr(0, 10));
        EXPECT_GE(offset, kBodyStart);
        EXPECT_EQ(offset, doc.list[static_cast<size_t>(number - 1)]->FileOffset);
        const std::string line = std::to_string(number) + " 0 obj\n";
        EXPECT_EQ(ReadAt(in, offset, static_cast<int64_t>(line.size())), line) << number;
    }
    EXPECT_EQ(ReadAt(in, doc.images[0]->FileOffset, 16), "3 0 obj\n<< /Type");
}

TEST_F(PdfDocumentTest, OffsetsBeyondTenDigitsAreRefusedNotTruncated) {
    const auto path = scratch_ / "huge.pdf";
    TIEPDFObjectList list;
    auto catalog = CreateCatalog(list);
    TIEPDFBooleanObject second(false);
    AddIndirect(list, second);
    TIEWideFileStream out(path, ieCreateAlways);
    out.SetPosition(9999999990);  // the catalog still fits, the second object does not
    WriteObjects(out, list);
    EXPECT_EQ(catalog->FileOffset, 9999999990);
    EXPECT_GT(second.FileOffset, 9999999999);
    try {
        WriteXrefAndTrailer(out, list, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The offset 10000000026 of PDF object 2 does not fit the cross-reference table");
    }
}

}  // namespace
}  // namespace quirelle
