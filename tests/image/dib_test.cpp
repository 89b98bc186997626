// ImportDib: packed DIBs in plain memory and in global-memory handles, their depths and
// compressions, top-down rows, and blocks whose fields point outside them.
#include <gtest/gtest.h>
#include <png.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "image/ieutils.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;

struct Dib {
    int32_t width = 0, height = 0;
    uint16_t bits = 24;
    uint32_t compression = BI_RGB;
    uint32_t clrUsed = 0;
    uint32_t headerSize = 40;
    std::vector<BgrColor> table;
    std::vector<uint32_t> masks;
    Bytes rows;

    Bytes Build() const {
        Bytes out(headerSize, 0);
        BITMAPINFOHEADER h;
        h.biSize = headerSize;
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = bits;
        h.biCompression = compression;
        h.biClrUsed = clrUsed;
        WriteBitmapInfoHeader(h, out.data());
        auto put32 = [](uint8_t* p, uint32_t v) {
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
        };
        if (headerSize >= 52) {
            for (size_t i = 0; i < masks.size() && i < 3; ++i) put32(out.data() + 40 + 4 * i, masks[i]);
        } else {
            for (uint32_t m : masks) {
                out.resize(out.size() + 4);
                put32(out.data() + out.size() - 4, m);
            }
        }
        for (const BgrColor& c : table) out.insert(out.end(), {c.b, c.g, c.r, 0});
        out.insert(out.end(), rows.begin(), rows.end());
        return out;
    }
};

BgrColor Entry(int i) { return BgrColor{static_cast<uint8_t>(i * 10), static_cast<uint8_t>(100 + i), static_cast<uint8_t>(255 - i)}; }
std::vector<BgrColor> Table(int n) {
    std::vector<BgrColor> t;
    for (int i = 0; i < n; ++i) t.push_back(Entry(i));
    return t;
}

// The buffer's pixels as colours, top row first.
std::vector<BgrColor> Colours(TIEBitmap& b) {
    std::vector<BgrColor> out;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) out.push_back(b.PixelAsBgr(x, y));
    return out;
}

const BgrColor kBlack{0, 0, 0}, kWhite{255, 255, 255}, kBlue{255, 0, 0}, kGreen{0, 255, 0}, kRed{0, 0, 255};

TEST(ImportDib, TwentyFourBitRowsAreStoredBottomUp) {
    Dib d;
    d.width = 2, d.height = 2;
    d.rows = {255, 0, 0, 0, 255, 0, 0, 0,  // first stored row: blue, green
              0, 0, 255, 255, 255, 255, 0, 0};  // second: red, white
    const Bytes block = d.Build();
    TIEBitmap b;
    EXPECT_EQ(ImportDib(block, b), 24);
    EXPECT_EQ(b.Format(), ie24RGB);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{kRed, kWhite, kBlue, kGreen}));
    // The same rows stored top-down (negative height) keep their order.
    d.height = -2;
    EXPECT_EQ(ImportDib(d.Build(), b), 24);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{kBlue, kGreen, kRed, kWhite}));
}

TEST(ImportDib, OneBitRowsAreCopiedWhole) {
    Dib d;
    d.width = 33, d.height = 2, d.bits = 1;
    d.table = {kBlack, kWhite};
    d.rows = {0xAA, 0, 0, 0, 0xFF, 0, 0, 0,     // bottom row: stride 8, bit 33 onwards ignored
              0x80, 1, 2, 3, 0x80, 5, 6, 7};  // top row
    TIEBitmap b;
    ASSERT_EQ(ImportDib(d.Build(), b), 1);
    ASSERT_EQ(b.Format(), ie1g);
    ASSERT_EQ(b.RowLength(), 8);
    EXPECT_EQ(Bytes(b.RowAddress(0), b.RowAddress(0) + 8), (Bytes{0x80, 1, 2, 3, 0x80, 5, 6, 7}));
    EXPECT_EQ(Bytes(b.RowAddress(1), b.RowAddress(1) + 8), (Bytes{0xAA, 0, 0, 0, 0xFF, 0, 0, 0}));
    EXPECT_TRUE(b.GetPixel1(32, 1));
    // A table of white then black stores 1 = black: the bits are inverted into the ie1g sense.
    d.table = {kWhite, kBlack};
    ASSERT_EQ(ImportDib(d.Build(), b), 1);
    EXPECT_EQ(b.RowAddress(1)[0], 0x55);
    EXPECT_FALSE(b.GetPixel1(32, 1));
    // Any other table leaves the bits as stored.
    d.table = {kBlue, kGreen};
    ASSERT_EQ(ImportDib(d.Build(), b), 1);
    EXPECT_EQ(b.RowAddress(1)[0], 0xAA);
}

TEST(ImportDib, IndexedRowsLookUpTheTable) {
    Dib d;
    d.width = 3, d.height = 1, d.bits = 4;
    d.table = Table(16);
    d.rows = {0x12, 0x3F, 0, 0};  // two bytes per row; the low nibble of the second is not used
    TIEBitmap b;
    ASSERT_EQ(ImportDib(d.Build(), b), 4);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{Entry(1), Entry(2), Entry(3)}));

    Dib e;
    e.width = 3, e.height = 1, e.bits = 8, e.clrUsed = 4;
    e.table = Table(4);
    e.rows = {3, 0, 200, 0};  // index 200 lies beyond the four entries: black
    ASSERT_EQ(ImportDib(e.Build(), b), 8);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{Entry(3), Entry(0), kBlack}));
}

TEST(ImportDib, SixteenAndThirtyTwoBitMasks) {
    struct Case {
        const char* what;
        uint16_t bits;
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint32_t headerSize;
        Bytes pixel;
        BgrColor expected;
    } cases[] = {
        {"5-6-5 white", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 40, {0xFF, 0xFF}, {248, 252, 248}},
        {"5-6-5 green", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 40, {0xE0, 0x07}, {0, 252, 0}},
        {"5-5-5 default red", 16, BI_RGB, {}, 40, {0x00, 0x7C}, {0, 0, 248}},
        {"5-5-5 default white", 16, BI_RGB, {}, 40, {0xFF, 0x7F}, {248, 248, 248}},
        {"2-3-1 bits", 16, BI_BITFIELDS, {0x30, 0x0E, 0x01}, 40, {0x3F, 0x00}, {128, 224, 192}},
        {"red in the low bits", 16, BI_BITFIELDS, {0x001F, 0x07E0, 0xF800}, 40, {0x1F, 0x00}, {0, 0, 248}},
        {"all-zero masks: 5-5-5", 16, BI_BITFIELDS, {0, 0, 0}, 40, {0x1F, 0x00}, {248, 0, 0}},
        {"32-bit plain", 32, BI_RGB, {}, 40, {1, 2, 3, 4}, {1, 2, 3}},
        {"32-bit standard masks", 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, 40, {1, 2, 3, 4}, {1, 2, 3}},
        {"32-bit red lowest", 32, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}, 40, {1, 2, 3, 4}, {3, 2, 1}},
        {"32-bit 10-bit channels", 32, BI_BITFIELDS, {0x3FF00000, 0xFFC00, 0x3FF}, 40, {0xFF, 0x03, 0, 0}, {255, 0, 0}},
        {"masks inside a V5 header", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 124, {0x00, 0xF8}, {0, 0, 248}},
    };
    for (const Case& c : cases) {
        Dib d;
        d.width = 1, d.height = 1, d.bits = c.bits, d.compression = c.compression, d.masks = c.masks;
        d.headerSize = c.headerSize;
        d.rows = c.pixel;
        d.rows.resize(4, 0);
        TIEBitmap b;
        ASSERT_EQ(ImportDib(d.Build(), b), c.bits) << c.what;
        EXPECT_EQ(b.GetPixel24(0, 0), c.expected) << c.what;
    }
}

TEST(ImportDib, RunLengthData) {
    // RLE8, 6 x 4: a run and a padded absolute run; end of line; a delta one right and one up
    // (leaving the rest of that row and the start of the next unset); end of line; a run longer
    // than the row; end of bitmap.
    Dib d;
    d.width = 6, d.height = 4, d.bits = 8, d.compression = BI_RLE8, d.clrUsed = 8;
    d.table = Table(8);
    d.rows = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,  // row 0 (bottom): 1 1 1 2 3 4
              2, 5, 0, 2, 1, 1,              // row 1: 5 5, then delta to row 2, column 3
              1, 6, 0, 0,                    // row 2: . . . 6
              8, 7, 0, 1};                   // row 3 (top): 7 x 6 (clipped)
    TIEBitmap b;
    ASSERT_EQ(ImportDib(d.Build(), b), 8);
    ASSERT_EQ(b.Format(), ie24RGB);
    auto row = [](std::initializer_list<int> indices) {
        std::vector<BgrColor> out;
        for (int i : indices) out.push_back(Entry(i));
        return out;
    };
    std::vector<BgrColor> expected = row({7, 7, 7, 7, 7, 7});
    for (const auto& r : {row({0, 0, 0, 6, 0, 0}), row({5, 5, 0, 0, 0, 0}), row({1, 1, 1, 2, 3, 4})})
        expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(Colours(b), expected);

    // RLE4, 5 x 3: alternating nibbles, an absolute run of three nibbles, then data that stops
    // early: the unset pixels take entry 0.
    Dib e;
    e.width = 5, e.height = 3, e.bits = 4, e.compression = BI_RLE4;
    e.table = Table(16);
    e.rows = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2};
    ASSERT_EQ(ImportDib(e.Build(), b), 4);
    std::vector<BgrColor> four = row({0, 0, 0, 0, 0});
    for (const auto& r : {row({3, 4, 5, 0, 0}), row({1, 2, 1, 2, 1})}) four.insert(four.end(), r.begin(), r.end());
    EXPECT_EQ(Colours(b), four);

    // Top-down run-length data counts rows from the top.
    d.height = -4;
    ASSERT_EQ(ImportDib(d.Build(), b), 8);
    EXPECT_EQ(b.PixelAsBgr(0, 0), Entry(1));
    EXPECT_EQ(b.PixelAsBgr(0, 3), Entry(7));
}

TEST(ImportDib, BlocksWhoseFieldsPointOutside) {
    Dib good;
    good.width = 2, good.height = 3;
    good.rows = Bytes(24, 0x77);
    struct Case {
        const char* what;
        Bytes block;
        int32_t result;
        int32_t width, height;  // of the buffer afterwards (3 x 3 ie8g if untouched)
        bool black;             // every pixel black
    };
    auto with = [&](auto change) {
        Dib d = good;
        change(d);
        return d.Build();
    };
    auto patched = [&](size_t at, uint32_t value) {
        Bytes b = good.Build();
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return b;
    };
    const Bytes full = good.Build();
    // 16-bit bit fields whose masks would follow the header, but the block ends inside them.
    Bytes masksCut = with([](Dib& d) { d.bits = 16, d.compression = BI_BITFIELDS, d.masks = {0xF800, 0x07E0, 0x1F}; });
    masksCut.resize(46);
    const std::vector<Case> cases = {
        {"no block", {}, 0, 3, 3, false},
        {"shorter than the header", Bytes(full.begin(), full.begin() + 39), 0, 3, 3, false},
        {"a core header size", patched(0, 12), 0, 3, 3, false},
        {"header size beyond the block", patched(0, 0xFFFFFFF0), 24, 2, 3, true},
        // The table runs to the block's end, so every row lies beyond it: index 0 everywhere.
        {"colour count beyond the block", with([](Dib& d) { d.bits = 8, d.clrUsed = 0x40000000; }), 8, 2, 3, false},
        {"masks beyond the block", masksCut, 16, 2, 3, true},
        {"rows cut short", Bytes(full.begin(), full.begin() + 40 + 8), 24, 2, 3, false},
        {"zero width", with([](Dib& d) { d.width = 0; }), 24, 0, 0, false},
        {"negative width", with([](Dib& d) { d.width = -2; }), 24, 0, 0, false},
        {"zero height", with([](Dib& d) { d.height = 0; }), 24, 0, 0, false},
        {"far too many pixels", with([](Dib& d) { d.width = 65536, d.height = 65536; }), 24, 0, 0, false},
        {"the most negative height", with([](Dib& d) { d.height = INT32_MIN; }), 24, 0, 0, false},
        {"a depth not decoded", with([](Dib& d) { d.bits = 2; }), 2, 2, 3, true},
        {"24 bits with RLE8", with([](Dib& d) { d.compression = BI_RLE8; }), 24, 2, 3, true},
        {"packed video (YUY2)", with([](Dib& d) { d.bits = 16, d.compression = 0x32595559; }), 16, 2, 3, true},
        {"RLE8 on 4-bit data", with([](Dib& d) { d.bits = 4, d.compression = BI_RLE8; }), 4, 2, 3, true},
    };
    for (const Case& c : cases) {
        TIEBitmap b(3, ie8g, 3);
        b.Fill(9);
        EXPECT_EQ(ImportDib(std::span<const uint8_t>(c.block.data(), c.block.size()), b), c.result) << c.what;
        EXPECT_EQ(b.Width(), c.width) << c.what;
        EXPECT_EQ(b.Height(), c.height) << c.what;
        if (c.width == 3) {
            EXPECT_EQ(b.GetPixel8(0, 0), 9) << c.what;
        }
        if (c.black) {
            for (const BgrColor& p : Colours(b)) ASSERT_EQ(p, kBlack) << c.what;
        }
    }
    // Rows cut short: the one stored row present (the bottom one) is imported, the rest is black.
    TIEBitmap cut;
    ASSERT_EQ(ImportDib(std::span<const uint8_t>(full.data(), 48), cut), 24);
    EXPECT_EQ(cut.GetPixel24(1, 2), (BgrColor{0x77, 0x77, 0x77}));
    EXPECT_EQ(cut.GetPixel24(0, 1), kBlack);
    EXPECT_EQ(cut.GetPixel24(0, 0), kBlack);
}

TEST(ImportDib, ColourTablesBeforeDeepRowsAndSeparateRows) {
    // A 24-bit DIB may carry a colour table; its rows follow it.
    Dib d;
    d.width = 1, d.height = 1, d.clrUsed = 3;
    d.table = Table(3);
    d.rows = {1, 2, 3, 0};
    TIEBitmap b;
    ASSERT_EQ(ImportDib(d.Build(), b), 24);
    EXPECT_EQ(b.GetPixel24(0, 0), (BgrColor{1, 2, 3}));
    // Rows given apart from the block are read from there.
    Dib header;
    header.width = 2, header.height = 1, header.bits = 8;
    header.table = Table(256);
    const Bytes rows = {5, 6, 0, 0};
    ASSERT_EQ(ImportDib(header.Build(), b, rows), 8);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{Entry(5), Entry(6)}));
    // ... and never beyond their own end.
    ASSERT_EQ(ImportDib(header.Build(), b, std::span<const uint8_t>(rows.data(), 1)), 8);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{Entry(5), Entry(0)}));
}

TEST(ImportDib, GlobalMemoryHandles) {
    Dib d;
    d.width = 2, d.height = 1;
    d.rows = {1, 2, 3, 4, 5, 6, 0, 0};
    const Bytes dib = d.Build();
    HGLOBAL handle = GlobalAlloc(GHND, dib.size());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GlobalSize(handle), dib.size());
    std::memcpy(GlobalLock(handle), dib.data(), dib.size());
    EXPECT_FALSE(GlobalUnlock(handle));
    TIEBitmap b;
    EXPECT_EQ(ImportDib(handle, b), 24);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{{1, 2, 3}, {4, 5, 6}}));
    // The import unlocked the block again.
    ASSERT_NE(GlobalLock(handle), nullptr);
    EXPECT_FALSE(GlobalUnlock(handle));
    EXPECT_EQ(GlobalFree(handle), nullptr);

    // A block whose size is smaller than its header says is read no further than its size.
    HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE, 44);
    std::memcpy(GlobalLock(small), dib.data(), 44);
    GlobalUnlock(small);
    EXPECT_EQ(ImportDib(small, b), 24);
    EXPECT_EQ(Colours(b), (std::vector<BgrColor>{{1, 2, 3}, {4, 0, 0}}));  // missing bytes read as 0
    GlobalFree(small);

    // No handle: 0, and the buffer is untouched.
    EXPECT_EQ(ImportDib(HGLOBAL{nullptr}, b), 0);
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
}

TEST(ImportDib, IntoTemporaryFileAndPlatformBitmapBuffers) {
    test::ScratchDir scratch;
    TempDirectoryOverride = scratch.Path().string();
    Dib d;
    d.width = 40, d.height = -30, d.bits = 8;
    d.table = Table(256);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) d.rows.push_back(static_cast<uint8_t>(x + y));
    const Bytes block = d.Build();
    TIEBitmap memory, file, platform;
    file.MemoryThreshold = 0;
    ASSERT_TRUE(platform.SetLocation(ieTBitmap));
    for (TIEBitmap* b : {&memory, &file, &platform}) ASSERT_EQ(ImportDib(block, *b), 8);
    EXPECT_EQ(file.Location(), ieTempFile);
    EXPECT_EQ(platform.Location(), ieTBitmap);
    EXPECT_EQ(Colours(file), Colours(memory));
    EXPECT_EQ(Colours(platform), Colours(memory));
    EXPECT_EQ(memory.PixelAsBgr(3, 2), Entry(5));
    TempDirectoryOverride.clear();
}

// --- bmpsuite files with their 14-byte file header stripped, against the suite's own renderings

std::vector<BgrColor> ReadPng(const std::filesystem::path& path, int32_t& width, int32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    width = static_cast<int32_t>(image.width);
    height = static_cast<int32_t>(image.height);
    std::vector<BgrColor> out;
    if (image.format & PNG_FORMAT_FLAG_LINEAR) {
        // 16-bit samples, read as they are (no gamma conversion) and cut to their high bytes.
        image.format = PNG_FORMAT_LINEAR_RGB;
        std::vector<uint16_t> wide(PNG_IMAGE_SIZE(image) / 2);
        if (!png_image_finish_read(&image, nullptr, wide.data(), 0, nullptr)) return {};
        for (size_t i = 0; i + 2 < wide.size(); i += 3)
            out.push_back(BgrColor{static_cast<uint8_t>(wide[i + 2] >> 8), static_cast<uint8_t>(wide[i + 1] >> 8),
                                   static_cast<uint8_t>(wide[i] >> 8)});
        return out;
    }
    image.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) out.push_back(BgrColor{pixels[i], pixels[i + 1], pixels[i + 2]});
    return out;
}

TEST(ImportDib, MatchesTheBmpSuiteRenderings) {
    const std::filesystem::path suite = test::SharedTestData() / "bmpsuite";
    if (test::SharedTestData().empty()) GTEST_SKIP() << "shared test data absent";
    struct Case {
        const char* bmp;
        const char* png;
        int tolerance;     // per channel (the suite scales narrow channels by bit replication)
        bool separateBits; // rows at the file header's offset rather than after the table
    } cases[] = {
        {"g/pal1.bmp", "pal1.png", 0, false},          {"g/pal1wb.bmp", "pal1.png", 0, false},
        {"g/pal4.bmp", "pal4.png", 0, false},          {"g/pal4gs.bmp", "pal4gs.png", 0, false},
        {"g/pal4rle.bmp", "pal4.png", 0, false},       {"g/pal8.bmp", "pal8.png", 0, false},
        {"g/pal8-0.bmp", "pal8.png", 0, false},        {"g/pal8gs.bmp", "pal8gs.png", 0, false},
        {"g/pal8rle.bmp", "pal8.png", 0, false},       {"g/pal8topdown.bmp", "pal8.png", 0, false},
        {"g/pal8v4.bmp", "pal8.png", 0, false},        {"g/pal8v5.bmp", "pal8.png", 0, false},
        {"g/pal8w124.bmp", "pal8w124.png", 0, false},  {"g/pal8w125.bmp", "pal8w125.png", 0, false},
        {"g/pal8w126.bmp", "pal8w126.png", 0, false},  {"g/rgb16.bmp", "rgb16.png", 7, false},
        {"g/rgb16-565.bmp", "rgb16-565.png", 7, false}, {"g/rgb16bfdef.bmp", "rgb16.png", 7, false},
        {"g/rgb24.bmp", "rgb24.png", 0, false},        {"g/rgb24pal.bmp", "rgb24.png", 0, false},
        {"g/rgb32.bmp", "rgb24.png", 0, false},        {"g/rgb32bf.bmp", "rgb24.png", 0, false},
        {"g/rgb32bfdef.bmp", "rgb24.png", 0, false},   {"q/rgb24largepal.bmp", "rgb24.png", 0, false},
        {"q/pal8oversizepal.bmp", "pal8.png", 0, false}, {"q/pal8offs.bmp", "pal8.png", 0, true},
        {"q/pal8rletrns.bmp", "pal8rletrns-0.png", 0, false}, {"q/pal4rletrns.bmp", "pal4rletrns-0.png", 0, false},
        {"q/pal8rlecut.bmp", "pal8rlecut-0.png", 0, false},   {"q/pal4rlecut.bmp", "pal4rlecut-0.png", 0, false},
        {"q/rgb32-7187.bmp", "rgb32-7187.png", 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bmp);
        const Bytes file = test::ReadFileBytes(suite / c.bmp);
        ASSERT_GT(file.size(), 14u);
        const uint32_t offBits = file[10] | (file[11] << 8) | (file[12] << 16) | (static_cast<uint32_t>(file[13]) << 24);
        const std::span<const uint8_t> block(file.data() + 14, file.size() - 14);
        std::span<const uint8_t> bits;
        if (c.separateBits) bits = std::span<const uint8_t>(file.data() + offBits, file.size() - offBits);
        TIEBitmap b;
        ASSERT_GT(ImportDib(block, b, bits), 0);
        int32_t w = 0, h = 0;
        const std::vector<BgrColor> expected = ReadPng(suite / "html" / c.png, w, h);
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(b.Width(), w);
        ASSERT_EQ(b.Height(), h);
        const std::vector<BgrColor> got = Colours(b);
        for (size_t i = 0; i < got.size(); ++i) {
            const BgrColor p = got[i], q = expected[i];
            ASSERT_LE(std::max({std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)}), c.tolerance)
                << "pixel " << i % static_cast<size_t>(w) << "," << i / static_cast<size_t>(w);
        }
    }
}

}  // namespace
}  // namespace quirelle
