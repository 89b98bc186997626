#include "io/ieformats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "io/ieengine.h"
#include "io/ioparams.h"
#include "platform/iestreams.h"
#include "tests/readers/tiffbuilder.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TiffBuilder;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Zeros(size_t n) { return Bytes(n, 0); }
Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes Be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes Mark(const char* mark, size_t total) {
    Bytes b = Text(mark);
    b.push_back(0);
    b.resize(total, 0x20);
    return b;
}

// --- registry ---------------------------------------------------------------------------------

TEST(FormatRegistry, BuiltInEntriesInRegistrationOrder) {
    std::vector<int32_t> ids;
    for (const auto& e : FormatRegistryEntries())
        if (e->BuiltIn) ids.push_back(e->FormatId);
    const std::vector<int32_t> expected = {1, 2, 3, 4, 5, 21, 6, 7, 8, 28, 9, 10, 11, 12, 16, 13, 14, 17, 18, 19, 20, 24, 25, 26, 27};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(FormatRegistryFind(iofmtHDP), nullptr) << "no imaging component for HD Photo here";
    const TIEFileFormatInfo* tga = FormatRegistryFind(iofmtTGA);
    ASSERT_NE(tga, nullptr);
    EXPECT_EQ(tga->Description, "Targa Bitmap");
    EXPECT_EQ(tga->ParamPages, 256);
    EXPECT_TRUE(tga->ProbeProc);
    EXPECT_TRUE(FormatRegistryFind(iofmtCUR)->ReadProc);
    EXPECT_FALSE(FormatRegistryFind(iofmtCUR)->WriteProc);
    EXPECT_FALSE(FormatRegistryFind(iofmtPDF)->ReadProc);
    EXPECT_TRUE(FormatRegistryFind(iofmtPDF)->WriteProc);
}

TEST(FormatRegistry, ExtensionLookups) {
    for (const char* ext : {"TIFF", "tiff", ".TiFf", ".tif", "FAX"}) {
        const TIEFileFormatInfo* e = FormatRegistryFindByExtension(ext);
        ASSERT_NE(e, nullptr) << ext;
        EXPECT_EQ(e->FormatId, iofmtTIFF) << ext;
    }
    EXPECT_EQ(FormatRegistryFindByExtension(""), nullptr);
    EXPECT_EQ(FormatRegistryFindByExtension("."), nullptr);
    EXPECT_EQ(FormatRegistryFindByExtension("ti"), nullptr) << "whole extensions only";
    EXPECT_EQ(FormatRegistryFindByExtension("..tif"), nullptr) << "one leading dot only";
    EXPECT_EQ(FormatIdFromExtension(".JPE"), iofmtJPEG);
    EXPECT_EQ(FormatIdFromExtension(".nef"), iofmtRAW);
    EXPECT_EQ(FormatIdFromExtension(".xyz"), 0);
    EXPECT_EQ(FormatRegistryExtension(1, 0), "TIF");
    EXPECT_EQ(FormatRegistryExtension(1, 5), "XIF");
    EXPECT_EQ(FormatRegistryExtension(1, 6), "");
    EXPECT_EQ(FormatRegistryExtension(999, 0), "");
    EXPECT_EQ(FormatRegistryExtensionCount(1), 6);
    EXPECT_EQ(FormatRegistryExtensionCount(21), 0);
    EXPECT_EQ(FormatRegistryExtensionCount(999), 0);
}

bool HasPattern(const std::string& list, const std::string& pattern) {
    std::stringstream ss(list);
    for (std::string item; std::getline(ss, item, ';');)
        if (item == pattern) return true;
    return false;
}

TEST(FormatRegistry, PatternLists) {
    const std::string read = FormatRegistryPatternList(true, false, false);
    const std::string write = FormatRegistryPatternList(false, true, false);
    EXPECT_EQ(read.rfind("*.tif;*.tiff;", 0), 0u);
    EXPECT_NE(read.back(), ';');
    for (const char* p : {"*.ps", "*.eps", "*.pdf", "*.", "*.avi"}) EXPECT_FALSE(HasPattern(read, p)) << p;
    for (const char* p : {"*.cur", "*.wmf", "*.emf", "*.dcm", "*.v2", "*.nef", "*.crw"}) EXPECT_FALSE(HasPattern(write, p)) << p;
    EXPECT_TRUE(HasPattern(write, "*.pdf"));
    EXPECT_TRUE(HasPattern(read, "*.cur"));
    const std::string all = FormatRegistryPatternList(true, true, true);
    for (const char* p : {"*.avi", "*.mpg", "*.mpeg", "*.wmv", "*.jpg", "*.ps"}) EXPECT_TRUE(HasPattern(all, p)) << p;
    EXPECT_EQ(FormatRegistryPatternList(false, false, false), "");
    EXPECT_EQ(FormatRegistryPatternList(false, false, true), "*.avi");
}

void FakeGifDecoder(TStream&, int32_t, int32_t, uint8_t*, bool) {}

TEST(FormatRegistry, GifCapabilitiesFollowTheLzwHooks) {
    const TGifLzwDecoderProc savedDecoder = DefGifLzwDecoder;
    const TGifLzwEncoderProc savedEncoder = DefGifLzwEncoder;
    DefGifLzwDecoder = FakeGifDecoder;
    DefGifLzwEncoder = nullptr;
    RefreshGifCapabilities();
    EXPECT_TRUE(FormatRegistryFind(iofmtGIF)->ReadProc);
    EXPECT_FALSE(FormatRegistryFind(iofmtGIF)->WriteProc);
    EXPECT_TRUE(HasPattern(FormatRegistryPatternList(true, false, false), "*.gif"));
    DefGifLzwDecoder = nullptr;
    RefreshGifCapabilities();
    EXPECT_FALSE(FormatRegistryFind(iofmtGIF)->ReadProc);
    EXPECT_FALSE(HasPattern(FormatRegistryPatternList(true, false, false), "*.gif"));
    DefGifLzwDecoder = savedDecoder;
    DefGifLzwEncoder = savedEncoder;
    RefreshGifCapabilities();
}

TEST(FormatRegistry, AddFindAndRemoveApplicationFormats) {
    auto first = std::make_unique<TIEFileFormatInfo>();
    first->FormatId = 5000;
    first->Description = "First";
    first->ExtensionList = "ONE";
    auto second = std::make_unique<TIEFileFormatInfo>();
    second->FormatId = 5000;
    second->Description = "Second";
    second->ExtensionList = "TWO";
    FormatRegistryAdd(std::move(first));
    FormatRegistryAdd(std::move(second));
    EXPECT_EQ(FormatRegistryFind(5000)->Description, "First") << "an id registered twice is found first";
    EXPECT_EQ(FormatIdFromExtension("two"), 5000);
    FormatRegistryRemove(5000);
    EXPECT_EQ(FormatRegistryFind(5000)->Description, "Second");
    FormatRegistryRemove(5000);
    EXPECT_EQ(FormatRegistryFind(5000), nullptr);
    FormatRegistryRemove(5000);  // unknown id: nothing happens
}

// --- content detection -------------------------------------------------------------------------

Bytes TiffBytes(bool little, std::vector<test::TiffField> extra = {}, uint32_t width = 640, uint32_t length = 480) {
    TiffBuilder b(little);
    b.AddIfd(TiffBuilder::Image(width, length, std::move(extra)));
    return b.Build();
}

Bytes IconBytes(uint16_t type, uint32_t imageOffset) {
    Bytes b = Cat(Cat(Le16(0), Le16(type)), Le16(1));
    b = Cat(b, Bytes{16, 16, 0, 0});
    b = Cat(b, Cat(Le16(1), Le16(32)));
    b = Cat(b, Cat(Le32(1128), Le32(imageOffset)));
    b.resize(40, 0);
    return b;
}

Bytes TgaBytes(uint8_t type, uint8_t depth, uint16_t width = 4) {
    Bytes b(18, 0);
    b[2] = type;
    b[12] = uint8_t(width);
    b[13] = uint8_t(width >> 8);
    b[14] = 3;
    b[16] = depth;
    b.resize(18 + 4 * 3 * 4, 0x11);
    return b;
}

Bytes PngBytes(size_t total) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    b.resize(total, 0);
    return b;
}

Bytes JpegAt(size_t offset) {
    Bytes b(offset, 0x20);
    b = Cat(b, Bytes{0xFF, 0xD8, 0xFF, 0xE0});
    b.resize(offset + 64, 0);
    return b;
}

Bytes Ascii(const std::string& s, size_t total) {
    Bytes b = Text(s);
    b.resize(std::max(total, b.size()), ' ');
    return b;
}

struct DetectCase {
    const char* name;
    Bytes data;
    int32_t expected;
};

std::vector<DetectCase> DetectCases() {
    Bytes pcx5(129, 0);
    pcx5[0] = 0x0A;
    pcx5[1] = 5;
    Bytes pcx6 = pcx5;
    pcx6[1] = 6;
    Bytes pcx128(128, 0);
    pcx128[0] = 0x0A;
    Bytes mmBa = TiffBytes(false);
    // Move the IFD two bytes on and put 0xBA right after the header.
    mmBa.insert(mmBa.begin() + 8, {0xBA, 0});
    mmBa[7] = 10;
    Bytes dcx = Cat(Cat(Le32(987654321), Cat(Le32(12), Le32(0))), Zeros(20));
    Bytes dcxBad = Cat(Cat(Le32(987654321), Cat(Le32(5000), Le32(0))), Zeros(20));
    Bytes wmfHeader = Cat(Cat(Le16(1), Le16(9)), Zeros(14));  // type 1, header size 9, word 16 = 0
    Bytes wmfPlaceable = Cat(Cat(Le32(0x9AC6CDD7), Zeros(18)), Cat(wmfHeader, Zeros(10)));
    Bytes emf = Cat(Le32(1), Zeros(36));
    emf = Cat(emf, Le32(0x464D4520));
    emf.resize(100, 0);
    Bytes psd = Cat(Text("8BPS"), Cat(Be16(1), Zeros(6)));
    psd = Cat(psd, Cat(Be16(3), Cat(Be32(4), Be32(4))));
    psd = Cat(psd, Cat(Be16(8), Be16(3)));
    Bytes psdBad = psd;
    psdBad[13] = 30;  // 30 channels
    Bytes lyr = Cat(Text("IMGVIEWLAYERS"), Le32(2));
    lyr.resize(25, 0);
    Bytes all = Cat(Le32(29), lyr);
    all = Cat(all, Text("IEV5"));
    return {
        {"empty", {}, 0},
        {"JFIF stream header, 13 bytes", Mark("JFIF", 13), 3},
        {"JFIF stream header, 12 bytes", Mark("JFIF", 12), 0},
        {"JFIF mark not followed by a zero byte", Ascii("JFIFX", 20), 0},
        {"GIF87a", Ascii("GIF87a", 14), 2},
        {"GIF89a", Ascii("GIF89a", 14), 2},
        {"GIFxyz", Ascii("GIFxyz", 14), 2},
        {"GIF, 13 bytes", Ascii("GIF89a", 13), 0},
        {"PCX2 stream header", Mark("PCX2", 13), 4},
        {"old PCX stream header", Mark("PCX", 5), 4},
        {"old PCX stream header, 4 bytes", Mark("PCX", 4), 0},
        {"BM, 15 bytes", Cat(Text("BM"), Zeros(13)), 5},
        {"BM, 14 bytes", Cat(Text("BM"), Zeros(12)), 0},
        {"PCX version 5", pcx5, 4},
        {"PCX version 6", pcx6, 0},
        {"PCX, 128 bytes", pcx128, 0},
        {"TIFF stream header", Mark("TIFF", 13), 1},
        {"TIFF little-endian", TiffBytes(true), 1},
        {"TIFF big-endian", TiffBytes(false), 1},
        {"TIFF big-endian with 0xBA after the header", mmBa, 0},
        {"TIFF without image length", [] {
             TiffBuilder b(true);
             b.AddIfd({{256, 3, {5}}, {258, 3, {8}}});
             return b.Build();
         }(), 0},
        {"TIFF with the IFD offset past the end", [] {
             Bytes b = TiffBytes(true);
             b[7] = 0x10;
             return b;
         }(), 0},
        {"DNG (version tag BYTE x4)", TiffBytes(true, {{50706, 1, {1, 4, 0, 0}}}), 20},
        {"CFA raw photometric", TiffBytes(false, {{262, 3, {32803}}}), 20},
        {"linear raw photometric", TiffBytes(true, {{262, 3, {34892}}}), 20},
        {"small preview IFD with SubIFDs and 0x9216", TiffBytes(true, {{330, 4, {8}}, {37398, 1, {1, 0, 0, 0}}}, 160, 120), 20},
        {"large IFD with SubIFDs and 0x9216 is TIFF", TiffBytes(true, {{330, 4, {8}}, {37398, 1, {1, 0, 0, 0}}}, 1600, 1200), 1},
        {"HD Photo", TiffBytes(true, {{0xBC01, 1, {1}}, {0xBC80, 4, {1}}, {0xBC81, 4, {1}}, {0xBCC0, 4, {1}}, {0xBCC1, 4, {1}}}), 29},
        {"HD Photo tags in a big-endian file", TiffBytes(false, {{0xBC01, 1, {1}}, {0xBC80, 4, {1}}, {0xBC81, 4, {1}}, {0xBCC0, 4, {1}}, {0xBCC1, 4, {1}}}), 1},
        {"PNG, 9 bytes", PngBytes(9), 8},
        {"PNG signature only, 8 bytes", PngBytes(8), 0},
        {"DICOM", Cat(Zeros(128), Cat(Text("DICM"), Zeros(8))), 28},
        {"icon", IconBytes(1, 22), 6},
        {"cursor", IconBytes(2, 22), 7},
        {"icon whose image overlaps its directory", IconBytes(1, 21), 0},
        {"Targa 24-bit", TgaBytes(2, 24), 11},
        {"Targa RLE 8-bit", TgaBytes(9, 8), 11},
        {"Targa type 4", TgaBytes(4, 24), 0},
        {"Targa width 0", TgaBytes(2, 24, 0), 0},
        {"PPM with a comment", Ascii("P6\n# made by hand\n3 2\n255\n", 40), 12},
        {"PBM stops after the height", Ascii("P4 8 1", 8), 12},
        {"PGM width not a number", Ascii("P5 abc 2 255", 16), 0},
        {"P7 is not PNM", Ascii("P7 3 2 255", 16), 0},
        {"JP2", Cat(Cat(Be32(12), Be32(0x6A502020)), Cat(Be32(0x0D0A870A), Zeros(8))), 13},
        {"J2K", Cat(Cat(Be16(0xFF4F), Be16(0xFF51)), Zeros(8)), 14},
        {"AVI", Cat(Cat(Text("RIFF"), Le32(100)), Cat(Text("AVI LIST"), Zeros(8))), 15},
        {"WAVE is no AVI", Cat(Cat(Text("RIFF"), Le32(100)), Cat(Text("WAVEfmt "), Zeros(8))), 0},
        {"DCX", dcx, 19},
        {"DCX page offset past the end", dcxBad, 0},
        {"placeable WMF", wmfPlaceable, 9},
        {"plain WMF", Cat(wmfHeader, Zeros(10)), 9},
        {"EMF", emf, 10},
        {"PSD", psd, 24},
        {"PSD with 30 channels", psdBad, 0},
        {"IEV", Cat(Text("IEV3"), Zeros(4)), 25},
        {"LYR", lyr, 26},
        {"ALL", all, 27},
        {"JPEG at 0", JpegAt(0), 3},
        {"JPEG after 149 bytes", JpegAt(149), 3},
        {"JPEG after 150 bytes", JpegAt(150), 0},
        {"text", Ascii("hello, world", 64), 0},
    };
}

TEST(DetectStreamFormat, SignatureTable) {
    for (const DetectCase& c : DetectCases()) {
        SCOPED_TRACE(c.name);
        TIEMemoryReadStream stream(c.data.data(), static_cast<int64_t>(c.data.size()));
        EXPECT_EQ(DetectStreamFormat(stream), c.expected);
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST(DetectStreamFormat, StartsAtTheCurrentPositionAndRestoresIt) {
    // Each image behind 3 bytes of other data; the gates still look at the whole stream's size.
    for (const DetectCase& c : DetectCases()) {
        if (c.expected == 0) continue;
        SCOPED_TRACE(c.name);
        Bytes data = Cat(Bytes{1, 2, 3}, c.data);
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        stream.Seek(3, soBeginning);
        const int32_t id = DetectStreamFormat(stream);
        if (c.expected != iofmtALL) {  // ALL holds an absolute offset
            EXPECT_EQ(id, c.expected);
        }
        EXPECT_EQ(stream.Position(), 3);
    }
}

// The registry probes of application formats run after the built-in tests, in order, each from
// the start position.
TEST(DetectStreamFormat, ApplicationProbesAndTheirOrder) {
    std::vector<int32_t> asked;
    for (int32_t id : {7001, 7002, 7003}) {
        auto info = std::make_unique<TIEFileFormatInfo>();
        info->FormatId = id;
        info->Description = "Probe " + std::to_string(id);
        info->ProbeProc = [&asked](TStream& s, int32_t formatId) {
            asked.push_back(formatId);
            uint8_t b[4] = {};
            s.Read(b, 4);
            s.Seek(0, soEnd);  // a careless probe: the detector puts the position back
            return formatId != 7001 && b[0] == 'Q';
        };
        FormatRegistryAdd(std::move(info));
    }
    Bytes q = Ascii("QQQQ-not-anything", 40);
    TIEMemoryReadStream stream(q.data(), static_cast<int64_t>(q.size()));
    EXPECT_EQ(DetectStreamFormat(stream), 7002);
    EXPECT_EQ(asked, (std::vector<int32_t>{7001, 7002}));
    EXPECT_EQ(stream.Position(), 0);
    // A probe that raises is swallowed: the result is then 0 and the position is restored.
    FormatRegistryFind(7001)->ProbeProc = [](TStream& s, int32_t) -> bool {
        s.Seek(5, soBeginning);
        throw std::runtime_error("probe failed");
    };
    EXPECT_EQ(DetectStreamFormat(stream), 0);
    EXPECT_EQ(stream.Position(), 0);
    for (int32_t id : {7001, 7002, 7003}) FormatRegistryRemove(id);
}

// --- file detection ----------------------------------------------------------------------------

TEST(DetectFileFormat, StrictAndNonStrict) {
    test::ScratchDir dir;
    const Bytes bmp = Cat(Text("BM"), Zeros(60));
    const Bytes png = PngBytes(64);
    const Bytes ico = IconBytes(1, 22);
    const Bytes tiff = TiffBytes(true);
    struct Case {
        const char* file;
        const Bytes* data;
        int32_t strict;
        int32_t loose;
    };
    const Case cases[] = {
        {"a.bmp", &bmp, 5, 5},
        {"bmp-named.png", &bmp, 0, 5},
        {"icon-named.cur", &ico, 7, 6},
        {"icon-named.bmp", &ico, 5, 6},
        {"unknown-extension.xyz", &png, 0, 8},
        {"no-extension", &png, 0, 8},
        {"raw.NEF", &tiff, 20, 20},
        {"plain.tif", &tiff, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        test::WriteFileBytes(dir / c.file, *c.data);
        EXPECT_EQ(DetectFileFormat(dir / c.file, true), c.strict);
        EXPECT_EQ(DetectFileFormat(dir / c.file, false), c.loose);
    }
    EXPECT_EQ(DetectFileFormat("", false), 0);
    EXPECT_EQ(DetectFileFormat(dir / "missing.png", false), 0);
    EXPECT_EQ(DetectFileFormat(dir.Path(), false), 0);
    // An application format named by the extension wins over the content.
    auto info = std::make_unique<TIEFileFormatInfo>();
    info->FormatId = 7100;
    info->ExtensionList = "QQQ";
    FormatRegistryAdd(std::move(info));
    test::WriteFileBytes(dir / "png.qqq", png);
    EXPECT_EQ(DetectFileFormat(dir / "png.qqq", true), 7100);
    EXPECT_EQ(DetectFileFormat(dir / "png.qqq", false), 7100);
    FormatRegistryRemove(7100);
}

// Every valid file of the shared test suites whose format has a detection step is detected as
// that format.
TEST(DetectStreamFormat, AgreesWithTheSharedTestSuites) {
    const auto root = test::SharedTestData();
    if (root.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    const std::map<std::string, int32_t> detectable = {
        {"bmp", 5}, {"tiff", 1}, {"gif", 2}, {"png", 8}, {"jpeg", 3}, {"pcx", 4}, {"dcx", 19},
        {"tga", 11}, {"pbm", 12}, {"pgm", 12}, {"ppm", 12}, {"ico", 6}, {"cur", 7},
    };
    std::ifstream index(root / "index.tsv");
    ASSERT_TRUE(index) << "index.tsv missing";
    std::string line;
    std::getline(index, line);  // header
    int checked = 0;
    while (std::getline(index, line)) {
        std::stringstream fields(line);
        std::string path, format, expected;
        std::getline(fields, path, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, expected, '\t');
        if (expected != "valid") continue;
        auto it = detectable.find(format);
        if (it == detectable.end()) continue;
        const Bytes data = test::ReadFileBytes(root / path);
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        EXPECT_EQ(DetectStreamFormat(stream), it->second) << path << " (" << format << ")";
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace quirelle
