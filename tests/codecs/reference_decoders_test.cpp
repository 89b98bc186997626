// Our coded data read back by libtiff (through tiffcp), and libtiff's LZW data and the LZW files of
// the public test suites read by our decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/tifccitt.h"
#include "tests/codecs/codectest.h"
#include "tests/codecs/faximages.h"
#include "tests/codecs/lzwdata.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FaxKind;

const char* const kTiffcp = "/usr/bin/tiffcp";

// Runs tiffcp with the options on a file and returns the first image of its output.
bool Tiffcp(const test::ScratchDir& dir, const Bytes& input, const std::string& options, test::MiniTiffImage& result) {
    test::WriteFileBytes(dir / "in.tif", input);
    std::filesystem::remove(dir / "out.tif");
    const std::string command = std::string(kTiffcp) + " " + options + " " + test::ShellQuote(dir / "in.tif") + " " +
                                test::ShellQuote(dir / "out.tif") + " 2>" + test::ShellQuote(dir / "stderr.txt");
    if (test::RunCommand(command) != 0) {
        const Bytes err = test::ReadFileBytes(dir / "stderr.txt");
        ADD_FAILURE() << "tiffcp " << options << " failed: " << std::string(err.begin(), err.end());
        return false;
    }
    return test::ReadMiniTiff(test::ReadFileBytes(dir / "out.tif"), result);
}

Bytes JoinStrips(const test::MiniTiffImage& image) {
    Bytes all;
    for (const Bytes& s : image.Strips) all.insert(all.end(), s.begin(), s.end());
    return all;
}

// G3 2-D (Compression 3, T4Options bit 0) and G4 (Compression 4) data in a TIFF, decoded by
// libtiff: the pixels come back exactly, for every row kind, odd widths and both fill orders.
TEST(ReferenceDecoders, LibtiffDecodesOurFaxData) {
    if (!test::ToolAvailable(kTiffcp)) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
    test::ScratchDir dir;
    for (int32_t width : {1, 7, 8, 9, 31, 32, 33, 100, 1728, 2481, 6000}) {
        const test::FaxImage mixed = test::FaxImage::Mixed(width, 43, static_cast<uint32_t>(width) * 3 + 1);
        for (FaxKind kind : {FaxKind::G3, FaxKind::G4}) {
            for (int32_t fillOrder : {1, 2}) {
                SCOPED_TRACE(std::string(kind == FaxKind::G3 ? "G3" : "G4") + " width " + std::to_string(width) +
                             " fill order " + std::to_string(fillOrder));
                test::MiniTiffPage page;
                page.Width = width;
                page.Height = static_cast<int32_t>(mixed.Rows.size());
                page.Compression = kind == FaxKind::G3 ? 3 : 4;
                page.Photometric = 0;  // 0 is white, as T.4 codes it
                page.FillOrder = fillOrder;
                if (kind == FaxKind::G3) page.T4Options = 1;
                else page.T6Options = 0;
                page.StripData = test::EncodeFax(kind, mixed, fillOrder);
                test::MiniTiffImage decoded;
                ASSERT_TRUE(Tiffcp(dir, test::WriteMiniTiff(page), "-c none -f msb2lsb", decoded));
                const Bytes pixels = JoinStrips(decoded);
                const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
                ASSERT_EQ(pixels.size(), rowBytes * mixed.Rows.size());
                for (size_t y = 0; y < mixed.Rows.size(); ++y) {
                    Bytes row(pixels.begin() + static_cast<long>(y * rowBytes),
                              pixels.begin() + static_cast<long>((y + 1) * rowBytes));
                    if (width % 8) row.back() &= static_cast<uint8_t>(0xFF00 >> (width % 8));
                    ASSERT_EQ(row, mixed.PackedRow(y)) << "row " << y;
                }
            }
        }
    }
}

Bytes TestBytes(int kind, size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        switch (kind) {
            case 0: data[i] = static_cast<uint8_t>(rng()); break;
            case 1: data[i] = static_cast<uint8_t>(i / 3000); break;
            case 2: data[i] = static_cast<uint8_t>((i % 640) / 3 + (rng() % 4)); break;
            default: data[i] = 0; break;
        }
    }
    return data;
}

// Our LZW data (Compression 5) read back by libtiff: an 8-bit grey image whose rows were passed to
// the encoder one call each, as the PDF writer does.
TEST(ReferenceDecoders, LibtiffDecodesOurLzwData) {
    if (!test::ToolAvailable(kTiffcp)) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
    test::ScratchDir dir;
    const int32_t width = 640, height = 150;  // 96000 bytes: several Clear codes for random data
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        const Bytes pixels = TestBytes(kind, static_cast<size_t>(width) * height, static_cast<uint32_t>(kind));
        std::vector<Bytes> rows;
        for (int32_t y = 0; y < height; ++y)
            rows.emplace_back(pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
        test::MiniTiffPage page;
        page.Width = width;
        page.Height = height;
        page.BitsPerSample = 8;
        page.Compression = 5;
        page.Photometric = 1;
        page.StripData = test::EncodeLzw(rows);
        test::MiniTiffImage decoded;
        ASSERT_TRUE(Tiffcp(dir, test::WriteMiniTiff(page), "-c none", decoded));
        EXPECT_EQ(JoinStrips(decoded), pixels);
    }
}

// libtiff's LZW data, in both fill orders, read by our decoder row by row.
TEST(ReferenceDecoders, OurDecoderReadsLibtiffLzwData) {
    if (!test::ToolAvailable(kTiffcp)) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
    test::ScratchDir dir;
    const int32_t width = 333, height = 120;
    for (int kind = 0; kind < 4; ++kind) {
        for (const char* fill : {"msb2lsb", "lsb2msb"}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + " " + fill);
            const Bytes pixels = TestBytes(kind, static_cast<size_t>(width) * height, 77u + static_cast<uint32_t>(kind));
            test::MiniTiffPage page;
            page.Width = width;
            page.Height = height;
            page.BitsPerSample = 8;
            page.Compression = 1;
            page.Photometric = 1;
            page.StripData = pixels;
            test::MiniTiffImage lzw;
            ASSERT_TRUE(Tiffcp(dir, test::WriteMiniTiff(page), std::string("-c lzw -r 50 -f ") + fill, lzw));
            ASSERT_EQ(lzw.Compression, 5);
            Bytes decoded;
            for (size_t s = 0; s < lzw.Strips.size(); ++s) {
                const int32_t rows = std::min(lzw.RowsPerStrip, height - static_cast<int32_t>(s) * lzw.RowsPerStrip);
                const Bytes strip = test::DecodeLzw(lzw.Strips[s], rows * width, lzw.FillOrder, width);
                decoded.insert(decoded.end(), strip.begin(), strip.end());
            }
            EXPECT_EQ(decoded, pixels);
        }
    }
}

// Applies the horizontal predictor to decoded samples, so that libtiff's output
// (predictor undone) can be compared with our raw LZW output.
Bytes ApplyPredictor(const Bytes& rows, size_t rowBytes, size_t stride) {
    Bytes out = rows;
    for (size_t r = 0; r + rowBytes <= rows.size(); r += rowBytes)
        for (size_t i = rowBytes; i-- > stride;) out[r + i] = static_cast<uint8_t>(rows[r + i] - rows[r + i - stride]);
    return out;
}

// LZW files of the public suites: every strip decoded by us equals libtiff's decoded strip.
// (libtiffpic/quad-lzw.tif is left out: it holds the pre-1992 LZW variant with codes packed least
// significant bit first, which libtiff still reads for compatibility and this codec does not.)
TEST(ReferenceDecoders, PublicLzwFilesMatchLibtiff) {
    const auto root = test::SharedTestData();
    if (root.empty()) GTEST_SKIP() << "shared test data is absent";
    if (!test::ToolAvailable(kTiffcp)) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
    const char* const files[] = {
        "image-rs/images/tiff/testsuite/planar.tiff",       "image-tiff/images/seq/seq-1c-8b-lzw-20f3db0c.tiff",
        "image-tiff/images/seq/seq-3c-8b-lzw-8743c999.tiff", "libtiffpic/oxford.tif",
        "libtiffpic/strike.tif",
        "libtiff-test/lzw-single-strip.tiff",                "twelvemonkeys/tiff/a33.tif",
        "twelvemonkeys/tiff/lzw-full-12-bit-table.tif",      "pillow/hopper_lzw.tif",
        "pillow/tiff_strip_planar_lzw.tiff",
    };
    test::ScratchDir dir;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const Bytes file = test::ReadFileBytes(root / name);
        test::MiniTiffImage lzw, raw;
        ASSERT_TRUE(test::ReadMiniTiff(file, lzw));
        ASSERT_EQ(lzw.Compression, 5);
        ASSERT_FALSE(lzw.Tiled);
        ASSERT_EQ(lzw.BitsPerSample == 8 || lzw.BitsPerSample == 1, true);
        // Same strips, uncompressed, in the file's fill order and byte order.
        ASSERT_TRUE(Tiffcp(dir, file, "-c none -r " + std::to_string(lzw.RowsPerStrip), raw));
        const bool planar = lzw.PlanarConfig == 2;
        const size_t samples = planar ? 1 : static_cast<size_t>(lzw.SamplesPerPixel);
        const size_t rowBytes = (static_cast<size_t>(lzw.Width) * samples * static_cast<size_t>(lzw.BitsPerSample) + 7) / 8;
        const size_t stripsPerPlane = static_cast<size_t>((lzw.Height + lzw.RowsPerStrip - 1) / lzw.RowsPerStrip);
        ASSERT_EQ(raw.Strips.size(), lzw.Strips.size());
        for (size_t s = 0; s < lzw.Strips.size(); ++s) {
            const int32_t rows = std::min(lzw.RowsPerStrip, lzw.Height - static_cast<int32_t>(s % stripsPerPlane) * lzw.RowsPerStrip);
            Bytes ours = test::DecodeLzw(lzw.Strips[s], rows * static_cast<int32_t>(rowBytes), lzw.FillOrder,
                                         static_cast<int32_t>(rowBytes));
            Bytes theirs(raw.Strips[s].begin(), raw.Strips[s].begin() + std::min(raw.Strips[s].size(), ours.size()));
            if (lzw.Predictor == 2) theirs = ApplyPredictor(theirs, rowBytes, samples);
            ASSERT_EQ(ours, theirs) << "strip " << s;
        }
    }
}

}  // namespace
}  // namespace quirelle

namespace quirelle {
namespace {

struct PdfRenderer {
    const char* name;
    const char* tool;
    std::string command;  // %PDF% and %OUT% are replaced; writes a P5 PGM at 72 dpi
};

// Renders the PDF with each available renderer and returns (name, grey pixels) pairs. (pdftoppm is
// not among them: it places 1-bit images up to a pixel off at this scale, although it decodes them.)
std::vector<std::pair<std::string, Bytes>> Render(const test::ScratchDir& dir, const Bytes& pdf, int32_t width,
                                                  int32_t height) {
    const PdfRenderer renderers[] = {
        {"ghostscript", "/usr/bin/gs",
         "/usr/bin/gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r72 -dInterpolateControl=0 -sOutputFile=%OUT% %PDF%"},
        {"mutool", "/usr/bin/mutool", "/usr/bin/mutool draw -q -r 72 -c gray -A 0 -o %OUT% %PDF% 2>/dev/null"},
    };
    test::WriteFileBytes(dir / "page.pdf", pdf);
    std::vector<std::pair<std::string, Bytes>> results;
    for (const PdfRenderer& r : renderers) {
        if (!test::ToolAvailable(r.tool)) continue;
        std::string command = r.command;
        command.replace(command.find("%PDF%"), 5, test::ShellQuote(dir / "page.pdf"));
        command.replace(command.find("%OUT%"), 5, test::ShellQuote(dir / "page.pgm"));
        std::filesystem::remove(dir / "page.pgm");
        EXPECT_EQ(test::RunCommand(command), 0) << r.name;
        int32_t w = 0, h = 0;
        Bytes pixels;
        EXPECT_TRUE(test::ReadPgm(test::ReadFileBytes(dir / "page.pgm"), w, h, pixels)) << r.name;
        EXPECT_EQ(w, width) << r.name;
        EXPECT_EQ(h, height) << r.name;
        results.emplace_back(r.name, pixels);
    }
    return results;
}

// The fax streams with the decode parameters the PDF writer gives them (K -1 or 1, BlackIs1 true,
// EndOfLine false, Uncompressed true, EncodedByteAlign false, EndOfBlock false), and an LZW stream
// with the LZWDecode defaults, rendered by the PDF tools: every pixel comes back.
TEST(ReferenceDecoders, PdfRenderersReadOurStreams) {
    test::ScratchDir dir;
    const int32_t width = 333, height = 43;
    const test::FaxImage image = test::FaxImage::Mixed(width, height, 5);
    int renderers = 0;
    for (FaxKind kind : {FaxKind::G4, FaxKind::G3}) {
        const std::string k = kind == FaxKind::G4 ? "-1" : "1";
        const std::string entries = "/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K " +
                                    k + " /BlackIs1 true /Columns " + std::to_string(width) + " /Rows " +
                                    std::to_string(height) +
                                    " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >>";
        const Bytes pdf = test::SingleImagePdf(width, height, entries, test::EncodeFax(kind, image, 1));
        for (const auto& [name, pixels] : Render(dir, pdf, width, height)) {
            SCOPED_TRACE(name + (kind == FaxKind::G4 ? " G4" : " G3"));
            ++renderers;
            for (int32_t y = 0; y < height; ++y) {
                const Bytes row = image.PackedRow(static_cast<size_t>(y));
                for (int32_t x = 0; x < width; ++x) {
                    // A 1 bit (white in the image buffer) is coded black and comes back as 1: white.
                    const uint8_t expected = (row[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1 ? 255 : 0;
                    ASSERT_EQ(pixels[static_cast<size_t>(y * width + x)], expected) << "x " << x << " y " << y;
                }
            }
        }
    }
    const Bytes grey = TestBytes(2, static_cast<size_t>(width) * height, 9);
    std::vector<Bytes> rows;
    for (int32_t y = 0; y < height; ++y) rows.emplace_back(grey.begin() + y * width, grey.begin() + (y + 1) * width);
    const Bytes pdf = test::SingleImagePdf(width, height, "/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /LZWDecode",
                                           test::EncodeLzw(rows));
    for (const auto& [name, pixels] : Render(dir, pdf, width, height)) {
        SCOPED_TRACE(name + " LZW");
        // Grey levels may move a step in the renderers' colour handling; a misread stream is far off.
        ASSERT_EQ(pixels.size(), grey.size());
        int worst = 0;
        for (size_t i = 0; i < grey.size(); ++i) worst = std::max(worst, std::abs(pixels[i] - grey[i]));
        EXPECT_LE(worst, 2);
    }
    // qpdf's LZWDecode gives the samples themselves.
    if (test::ToolAvailable("/usr/bin/qpdf")) {
        test::WriteFileBytes(dir / "lzw.pdf", pdf);
        ASSERT_EQ(test::RunCommand("/usr/bin/qpdf --show-object=4 --filtered-stream-data " + test::ShellQuote(dir / "lzw.pdf") +
                                   " > " + test::ShellQuote(dir / "lzw.raw")),
                  0);
        EXPECT_EQ(test::ReadFileBytes(dir / "lzw.raw"), grey);
    }
    if (renderers == 0) GTEST_SKIP() << "no PDF renderer installed";
}

}  // namespace
}  // namespace quirelle
