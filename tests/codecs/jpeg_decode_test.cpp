// Decoding: the JPEG files of the public suites against djpeg, the switches of the loader, bad
// and cut data, the stream utilities, and loading through the I/O object.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "codecs/jpegfilt.h"
#include "io/ieformats.h"
#include "io/imageio.h"
#include "tests/codecs/jpegtest.h"

namespace quirelle {
namespace {

using test::Bytes;
using test::JpegLoadOptions;

struct SuiteFile {
    std::string path, expected, notes;
};

// The JPEG rows of the suites' index.
std::vector<SuiteFile> SuiteJpegs() {
    std::vector<SuiteFile> files;
    const auto root = test::SharedTestData();
    if (root.empty()) return files;
    std::ifstream index(root / "index.tsv");
    std::string line;
    std::getline(index, line);  // header
    while (std::getline(index, line)) {
        std::istringstream fields(line);
        SuiteFile f;
        std::string format;
        std::getline(fields, f.path, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, f.expected, '\t');
        std::getline(fields, f.notes, '\t');
        if (format == "jpeg") files.push_back(f);
    }
    return files;
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

class JpegSuites : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::SharedTestData().empty()) GTEST_SKIP() << "../shared/testdata is absent";
        if (!test::HaveDjpeg()) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";
    }
    test::ScratchDir dir_;
};

// Every valid file decodes without a complaint to exactly djpeg's pixels: baseline and
// progressive, every sampling, odd sizes around the MCU, restart markers, RGB without transform,
// gray (also natively as ie8g). CMYK and YCCK files are compared through their native CMYK
// samples, which djpeg turns into colour with the plain product rule.
TEST_F(JpegSuites, ValidFilesMatchDjpegExactly) {
    int checked = 0;
    for (const SuiteFile& f : SuiteJpegs()) {
        if (f.expected != "valid") continue;
        SCOPED_TRACE(f.path);
        const auto path = test::SharedTestData() / f.path;
        const Bytes data = test::ReadFileBytes(path);
        const bool fourComponents = Has(f.notes, "CMYK/YCCK");
        const auto loaded = test::LoadJpegBytes(data, JpegLoadOptions{.native = fourComponents});
        EXPECT_EQ(loaded->cancel, 0);
        EXPECT_EQ(loaded->params.JpegProgressiveScan, Has(f.notes, "JPEG progressive"));
        const test::RgbImage reference = test::Djpeg(dir_, path);
        ASSERT_GT(reference.width, 0) << "djpeg failed";
        EXPECT_EQ(loaded->rows, reference.height);
        if (fourComponents) {
            ASSERT_EQ(loaded->bitmap.Format(), ieCMYK);
            TIEBitmap product(reference.width, ie24RGB, reference.height);
            for (int32_t y = 0; y < reference.height; ++y) {
                const uint8_t* cmyk = loaded->bitmap.RowAddress(y);
                uint8_t* bgr = product.RowAddress(y);
                for (int32_t x = 0; x < reference.width; ++x) {
                    auto mul = [&](int i) { return static_cast<uint8_t>((cmyk[4 * x + i] * cmyk[4 * x + 3] + 127) / 255); };
                    bgr[3 * x] = mul(2), bgr[3 * x + 1] = mul(1), bgr[3 * x + 2] = mul(0);
                }
            }
            EXPECT_EQ(test::ComparePixels(product, reference).differing, 0);
            EXPECT_EQ(loaded->params.ChannelCount, 4);
        } else {
            EXPECT_EQ(loaded->bitmap.Format(), ie24RGB);
            const test::PixelDiff diff = test::ComparePixels(loaded->bitmap, reference);
            EXPECT_EQ(diff.differing, 0) << "largest difference " << diff.largest;
            if (loaded->params.JpegColorModel == 1) {
                const auto native = test::LoadJpegBytes(data, JpegLoadOptions{.native = true});
                EXPECT_EQ(native->bitmap.Format(), ie8g);
                EXPECT_EQ(test::ComparePixels(native->bitmap, reference).differing, 0);
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 90);
}

// Files with scans that end early decode what they hold, like djpeg (the rest gray), and say
// that the data was cut.
TEST_F(JpegSuites, TruncatedFilesKeepTheRowsAndSetTheFlag) {
    for (const char* name : {"wuffs/peacock.default.truncated.jpeg", "wuffs/peacock.progressive.truncated.jpeg",
                             "pillow/truncated_jpeg.jpg"}) {
        SCOPED_TRACE(name);
        const auto path = test::SharedTestData() / name;
        const auto loaded = test::LoadJpegBytes(test::ReadFileBytes(path));
        EXPECT_EQ(loaded->cancel, 1);
        EXPECT_GT(loaded->params.JpegWarningCount, 0);
        const test::RgbImage reference = test::Djpeg(dir_, path);
        ASSERT_GT(reference.width, 0);
        EXPECT_EQ(loaded->rows, reference.height);
        EXPECT_EQ(test::ComparePixels(loaded->bitmap, reference).differing, 0);
    }
    // Cutting a good file anywhere: never a crash, the flag always set, every row delivered
    // once the header is complete.
    const Bytes whole = test::ReadFileBytes(test::SharedTestData() / "wuffs/peacock.progressive.jpeg");
    for (size_t cut : {size_t{0}, size_t{1}, size_t{3}, size_t{200}, size_t{700}, whole.size() / 2, whole.size() - 2}) {
        SCOPED_TRACE(cut);
        const auto loaded = test::LoadJpegBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(loaded->cancel, 1);
        if (cut >= whole.size() / 2) {
            EXPECT_EQ(loaded->rows, 75);
        }
    }
}

// Every invalid or questionable file: the load returns (no crash, no hang, no huge allocation).
// The invalid ones set the flag, except the few whose damage no decoder can see: djpeg decodes
// them to the same pixels without a word about damaged data (at most about stray bytes before
// a marker, which leave the image as coded).
TEST_F(JpegSuites, BadFilesFailCleanly) {
    int checked = 0, undetectable = 0;
    for (const SuiteFile& f : SuiteJpegs()) {
        if (f.expected == "valid") continue;
        SCOPED_TRACE(f.path);
        const auto path = test::SharedTestData() / f.path;
        const auto loaded = test::LoadJpegBytes(test::ReadFileBytes(path));
        EXPECT_LE(int64_t{loaded->bitmap.Width()} * loaded->bitmap.Height(), int64_t{1} << 24);
        ++checked;
        if (f.expected != "invalid" || loaded->cancel) continue;
        ++undetectable;
        std::string messages;
        const int status = test::RunCommand("djpeg -outfile /dev/null " + test::ShellQuote(path.string()), &messages);
        EXPECT_TRUE(status == 0 || status == 2) << messages;
        size_t at = 0;
        while ((at = messages.find("Corrupt JPEG data", at)) != std::string::npos) {
            EXPECT_NE(messages.find("extraneous bytes", at), std::string::npos) << messages;
            at += 17;
        }
        EXPECT_EQ(test::ComparePixels(loaded->bitmap, test::Djpeg(dir_, path)).differing, 0);
    }
    EXPECT_GT(checked, 100);
    EXPECT_LE(undetectable, 6);
}

// The switches: scaled decoding, the DCT methods, kept YCbCr samples, a row limit, header only.
TEST_F(JpegSuites, ScaleDctAndOtherSwitchesMatchDjpeg) {
    const auto path = test::SharedTestData() / "libjpeg-turbo/testorig.jpg";  // 227 x 149, 4:2:0
    const Bytes data = test::ReadFileBytes(path);
    struct Case {
        uint8_t scaleChoice, dctKind;
        const char* switches;
        int32_t denominator;
    };
    for (const Case& c : {Case{2, 0, "-scale 1/2", 2}, Case{3, 0, "-scale 1/4", 4}, Case{4, 0, "-scale 1/8", 8},
                          Case{9, 0, "", 1}, Case{1, 1, "-dct fast", 1}, Case{1, 2, "-dct float", 1},
                          Case{3, 1, "-scale 1/4 -dct fast", 4}}) {
        SCOPED_TRACE(c.switches);
        const auto loaded = test::LoadJpegBytes(data, JpegLoadOptions{.scaleChoice = c.scaleChoice, .dctKind = c.dctKind});
        EXPECT_EQ(loaded->cancel, 0);
        EXPECT_EQ(loaded->params.JpegScaleUsed, c.denominator);
        EXPECT_EQ(loaded->params.StoredWidth, 227);
        EXPECT_EQ(loaded->params.PixelWidth, loaded->bitmap.Width());
        EXPECT_EQ(test::ComparePixels(loaded->bitmap, test::Djpeg(dir_, path, c.switches)).differing, 0);
    }
    // Automatic scale: the smallest reduction that still covers the requested size.
    struct Auto {
        int32_t w, h, denominator;
    };
    for (const Auto& a : {Auto{100, 70, 2}, Auto{28, 18, 8}, Auto{29, 18, 4}, Auto{227, 149, 1}, Auto{0, 50, 1}}) {
        const auto loaded = test::LoadJpegBytes(
            data, JpegLoadOptions{.scaleChoice = 0, .requestedWidth = a.w, .requestedHeight = a.h});
        EXPECT_EQ(loaded->params.JpegScaleUsed, a.denominator) << a.w << " x " << a.h;
    }
    // YCbCr samples as they are coded.
    const auto ycc = test::LoadJpegBytes(data, JpegLoadOptions{.keepYCbCr = true});
    const auto colour = test::LoadJpegBytes(data);
    EXPECT_EQ(ycc->cancel, 0);
    const uint8_t* y0 = ycc->bitmap.RowAddress(10);
    const uint8_t* c0 = colour->bitmap.RowAddress(10);
    const double luma = 0.299 * c0[2] + 0.587 * c0[1] + 0.114 * c0[0];
    EXPECT_NEAR(y0[0], luma, 2.0);
    // A row limit decodes that many rows, complete.
    const auto limited = test::LoadJpegBytes(data, JpegLoadOptions{.rowLimit = 40});
    EXPECT_EQ(limited->rows, 40);
    EXPECT_EQ(limited->cancel, 0);
    EXPECT_EQ(std::memcmp(limited->bitmap.RowAddress(39), colour->bitmap.RowAddress(39), 227 * 3), 0);
    // Header only: the parameters, and the buffer left alone.
    TIEBitmap untouched(5, ie8g, 5);
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(LoadJpegFromStream(stream, nullptr, untouched, false, -1, true, true, false, true, false, true, progress, params), 0);
    EXPECT_EQ(cancel, 0);
    EXPECT_EQ(untouched.Width(), 5);
    EXPECT_EQ(params.PixelWidth, 227);
    EXPECT_EQ(params.PixelHeight, 149);
    EXPECT_EQ(params.JpegColorModel, 2);
    EXPECT_EQ(params.ChannelCount, 3);
}

// Progress goes from low to 100 on changes only; a cancel from the handler stops the rows.
TEST_F(JpegSuites, ProgressAndCancel) {
    const Bytes data = test::ReadFileBytes(test::SharedTestData() / "libjpeg-turbo/testorig.jpg");
    std::vector<int32_t> seen;
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    progress.ProgressNotify = [&](TImageIO*, int32_t percent) { seen.push_back(percent); };
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(LoadJpegFromStream(stream, nullptr, bitmap, false, -1, true, true, false, true, false, false, progress, params), 149);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]);
    EXPECT_EQ(seen.size(), 101u);  // 149 rows: every percentage from 0 to 100 once

    progress.ProgressNotify = [&](TImageIO*, int32_t percent) {
        if (percent >= 50) cancel = 1;
    };
    stream.SetPosition(0);
    const int32_t rows = LoadJpegFromStream(stream, nullptr, bitmap, false, -1, true, true, false, true, false, false, progress, params);
    EXPECT_LT(rows, 149);
    EXPECT_GE(rows, 74);
    EXPECT_EQ(cancel, 1);

    // A handler that raises ends the load like bad data does.
    progress.ProgressNotify = [](TImageIO*, int32_t percent) {
        if (percent == 30) throw std::runtime_error("stop");
    };
    cancel = 0;
    stream.SetPosition(0);
    EXPECT_NO_THROW(LoadJpegFromStream(stream, nullptr, bitmap, false, -1, true, true, false, true, false, false, progress, params));
    EXPECT_EQ(cancel, 1);
}

// Embedded ICC profiles: chunks joined in sequence order when all are there, none otherwise.
TEST_F(JpegSuites, IccProfileChunks) {
    struct Case {
        const char* name;
        bool found;
    };
    for (const Case& c : {Case{"jpeg-decoder/icc/icc_chunk_order.jpeg", true},
                          Case{"jpeg-decoder/icc/icc_chunk_count_mismatch.jpeg", false},
                          Case{"jpeg-decoder/icc/icc_chunk_double_seq_no.jpeg", false},
                          Case{"jpeg-decoder/icc/icc_chunk_seq_no_0.jpeg", false},
                          Case{"jpeg-decoder/icc/icc_missing_chunk.jpeg", false},
                          Case{"libjpeg-turbo/testorig.jpg", false}}) {
        SCOPED_TRACE(c.name);
        const auto path = test::SharedTestData() / c.name;
        const Bytes data = test::ReadFileBytes(path);
        TIOParamsVals params;
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        ReadJpegIccProfile(stream, params);
        EXPECT_EQ(stream.Position(), 0);
        EXPECT_EQ(params.HasInputICCProfile(), c.found);
        if (c.found) {
            const auto icc = dir_ / "djpeg.icc";
            ASSERT_EQ(test::RunCommand("djpeg -icc " + test::ShellQuote(icc.string()) + " -outfile /dev/null " +
                                       test::ShellQuote(path.string())),
                      0);
            EXPECT_EQ(params.InputICCProfile()->Raw, test::ReadFileBytes(icc));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Without the suites

// A small JPEG made by the saver.
Bytes SmallJpeg(int32_t w = 24, int32_t h = 16, TIOParamsVals* with = nullptr) {
    TIEBitmap b(w, ie24RGB, h);
    test::DrawPhoto(b);
    TIOParamsVals local;
    return test::SaveJpegBytes(b, with ? *with : local);
}

TEST(JpegStart, UpTo149BytesBeforeTheImage) {
    const Bytes jpeg = SmallJpeg();
    for (size_t junk : {size_t{0}, size_t{1}, size_t{149}, size_t{150}, size_t{400}}) {
        SCOPED_TRACE(junk);
        Bytes data(junk, 0xFF);  // FF bytes, so that the scan must match all three bytes
        data.insert(data.end(), jpeg.begin(), jpeg.end());
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        stream.SetPosition(0);
        EXPECT_EQ(FindJpegStart(stream, true), junk < 150 ? static_cast<int64_t>(junk) : -1);
        EXPECT_EQ(FindJpegStart(stream, false), junk == 0 ? 0 : -1);
        EXPECT_EQ(stream.Position(), 0);
        const auto loaded = test::LoadJpegBytes(data);
        EXPECT_EQ(loaded->cancel, junk < 150 ? 0 : 1);
        EXPECT_EQ(loaded->rows, junk < 150 ? 16 : 0);
    }
    // From a position inside the stream the position found is absolute.
    Bytes data = test::BytesOf("0123456789");
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(4);
    EXPECT_EQ(FindJpegStart(stream, true), 10);
    EXPECT_EQ(stream.Position(), 4);
}

TEST(JpegStreamLength, EndsAfterTheEoi) {
    const Bytes jpeg = SmallJpeg();
    Bytes data = test::BytesOf("head");
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    const Bytes tail = test::BytesOf("\xFF\xD9 trailing data");
    data.insert(data.end(), tail.begin(), tail.end());
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(4);
    EXPECT_EQ(JpegStreamLength(stream), static_cast<int64_t>(jpeg.size()));
    EXPECT_EQ(stream.Position(), 4);

    struct Case {
        const char* what;
        Bytes bytes;
        int64_t length;
    };
    const Case cases[] = {
        // Fill bytes before a marker are part of the marker.
        {"fill before EOI", {0xFF, 0xD8, 0x00, 0xFF, 0xFF, 0xFF, 0xD9, 0x55}, 7},
        // A segment's length hides what looks like an EOI inside it.
        {"EOI inside a comment", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 0xFF, 0xD9, 0xFF, 0xD9, 0x55}, 10},
        // Stuffed bytes and restart markers in entropy data carry no length.
        {"stuffing and RST", {0xFF, 0xD8, 0x12, 0xFF, 0x00, 0xFF, 0xD0, 0x34, 0xFF, 0xD9}, 10},
        {"no EOI", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x10, 0x01}, 7},
        {"length beyond the end", {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 0x01}, 7},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        TIEMemoryReadStream s(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(JpegStreamLength(s), c.length) << c.what;
    }
}

// An APP2 segment of an ICC chunk.
Bytes IccSegment(uint8_t sequence, uint8_t count, const Bytes& part) {
    const size_t length = 2 + 14 + part.size();
    std::string header = std::string("\xFF\xE2", 2) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) +
                         std::string("ICC_PROFILE", 12) + static_cast<char>(sequence) + static_cast<char>(count);
    header.append(part.begin(), part.end());
    return test::BytesOf(header);
}

TEST(JpegIcc, ChunksAreJoinedInSequenceOrder) {
    const Bytes a(300, 0x41), b(200, 0x42), c(5, 0x43);
    Bytes file = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x03, 0x00};  // a comment first
    for (const Bytes& seg : {IccSegment(3, 3, c), IccSegment(1, 3, a), IccSegment(2, 3, b)})
        file.insert(file.end(), seg.begin(), seg.end());
    file.insert(file.end(), {0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xD9});
    TIOParamsVals params;
    TIEMemoryReadStream stream(file.data(), static_cast<int64_t>(file.size()));
    ReadJpegIccProfile(stream, params);
    ASSERT_TRUE(params.HasInputICCProfile());
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    joined.insert(joined.end(), c.begin(), c.end());
    EXPECT_EQ(params.InputICCProfile()->Raw, joined);

    // Chunks after the frame header are not looked for.
    Bytes late = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02};
    const Bytes seg = IccSegment(1, 1, a);
    late.insert(late.end(), seg.begin(), seg.end());
    TIOParamsVals none;
    TIEMemoryReadStream lateStream(late.data(), static_cast<int64_t>(late.size()));
    ReadJpegIccProfile(lateStream, none);
    EXPECT_FALSE(none.HasInputICCProfile());
}

// Loading never raises: a stream that raises on reading ends the load with the flag set.
class FailingReadStream : public TIEMemoryReadStream {
public:
    FailingReadStream(const Bytes& data, int64_t failAt)
        : TIEMemoryReadStream(data.data(), static_cast<int64_t>(data.size())), failAt_(failAt) {}
    int64_t Read(void* buffer, int64_t count) override {
        if (Position() >= failAt_) throw EIEStreamError("Stream read error");
        return TIEMemoryReadStream::Read(buffer, std::min(count, failAt_ - Position()));
    }

private:
    int64_t failAt_;
};

TEST(JpegLoad, StreamErrorsAndNonJpegDataSetTheFlag) {
    const Bytes jpeg = SmallJpeg(64, 64);
    for (int64_t failAt : {int64_t{0}, int64_t{2}, int64_t{300}, static_cast<int64_t>(jpeg.size()) - 10}) {
        FailingReadStream stream(jpeg, failAt);
        TIEBitmap bitmap;
        TIOParamsVals params;
        uint8_t cancel = 0;
        ProgressRecord progress;
        progress.CancelFlag = &cancel;
        EXPECT_NO_THROW(LoadJpegFromStream(stream, nullptr, bitmap, false, -1, true, true, false, true, false, false, progress, params));
        EXPECT_EQ(cancel, 1) << failAt;
    }
    for (const Bytes& data : {Bytes{}, test::BytesOf("P5 1 1 255 x"), Bytes{0xFF, 0xD8, 0xFF}, Bytes{0xFF, 0xD8, 0xFF, 0xD9}}) {
        const auto loaded = test::LoadJpegBytes(data);
        EXPECT_EQ(loaded->cancel, 1);
        EXPECT_EQ(loaded->rows, 0);
    }
    // Without a cancel flag in the record nothing is written through a null pointer.
    TIEBitmap bitmap;
    TIOParamsVals params;
    ProgressRecord progress;
    TIEMemoryReadStream stream(jpeg.data(), 10);
    EXPECT_EQ(LoadJpegFromStream(stream, nullptr, bitmap, false, -1, true, true, false, true, false, false, progress, params), 0);
}

// Abbreviated data (JPEG in TIFF): the tables come from a separate stream. A tables stream that
// is the image stream itself is not read twice; one that carries an image of its own lends its
// tables only.
TEST(JpegLoad, TablesFromASeparateStream) {
    const Bytes full = SmallJpeg(33, 17);
    Bytes tables = {0xFF, 0xD8}, image = {0xFF, 0xD8};
    size_t p = 2;
    while (p + 4 <= full.size()) {
        const uint8_t code = full[p + 1];
        const size_t length = size_t{full[p + 2]} << 8 | full[p + 3];
        Bytes& target = code == 0xDB || code == 0xC4 ? tables : image;
        if (code == 0xDA) {
            image.insert(image.end(), full.begin() + static_cast<std::ptrdiff_t>(p), full.end());
            break;
        }
        target.insert(target.end(), full.begin() + static_cast<std::ptrdiff_t>(p),
                      full.begin() + static_cast<std::ptrdiff_t>(p + 2 + length));
        p += 2 + length;
    }
    tables.insert(tables.end(), {0xFF, 0xD9});
    const auto reference = test::LoadJpegBytes(full);

    auto load = [](const Bytes& data, TStream* tablesStream, TIEBitmap& bitmap, uint8_t& cancel) {
        TIOParamsVals params;
        ProgressRecord progress;
        progress.CancelFlag = &cancel;
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        return LoadJpegFromStream(stream, tablesStream ? tablesStream : &stream, bitmap, false, -1, false, false, false,
                                  false, false, false, progress, params);
    };
    struct Case {
        const char* what;
        const Bytes* tablesData;  // null: the image stream itself
        bool loads;
    };
    const Case cases[] = {
        {"tables-only stream", &tables, true},
        {"tables with an image of their own", &full, true},
        {"the image stream itself", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIEBitmap bitmap;
        uint8_t cancel = 0;
        std::unique_ptr<TIEMemoryReadStream> tablesStream;
        if (c.tablesData)
            tablesStream = std::make_unique<TIEMemoryReadStream>(c.tablesData->data(), static_cast<int64_t>(c.tablesData->size()));
        const int32_t rows = load(image, tablesStream.get(), bitmap, cancel);
        EXPECT_EQ(cancel, c.loads ? 0 : 1);
        EXPECT_EQ(rows, c.loads ? 17 : 0);
        if (!c.loads) continue;
        for (int32_t y = 0; y < 17; ++y)
            EXPECT_EQ(std::memcmp(bitmap.RowAddress(y), reference->bitmap.RowAddress(y), 33 * 3), 0) << y;
    }
}

// A header announcing far more pixels than the data could hold is refused before anything is
// allocated; a plausible size with cut data still loads.
TEST(JpegLoad, HugeHeadersAreRefusedBeforeAllocating) {
    Bytes jpeg = SmallJpeg(16, 16);
    // Patch the frame header's height and width to 60000 x 60000.
    for (size_t p = 2; p + 9 < jpeg.size(); ++p) {
        if (jpeg[p] == 0xFF && jpeg[p + 1] == 0xC0) {
            jpeg[p + 5] = 0xEA, jpeg[p + 6] = 0x60, jpeg[p + 7] = 0xEA, jpeg[p + 8] = 0x60;
            break;
        }
    }
    const auto loaded = test::LoadJpegBytes(jpeg);
    EXPECT_EQ(loaded->cancel, 1);
    EXPECT_TRUE(loaded->bitmap.IsEmpty());
    EXPECT_EQ(loaded->params.StoredWidth, 60000);
    // Header only still reports the size.
    const auto header = test::LoadJpegBytes(jpeg, JpegLoadOptions{.headerOnly = true});
    EXPECT_EQ(header->cancel, 0);
    EXPECT_EQ(header->params.PixelWidth, 60000);
}

// Resolution: JFIF dots per centimetre become dots per inch; a JFIF 1 x 1 (aspect only) gives
// way to an Exif resolution.
Bytes ExifBlock(uint16_t unit, uint32_t xNumerator, uint16_t orientation) {
    // "Exif" 0 0, then a little-endian TIFF with one IFD: XResolution, YResolution (both the
    // same rational), Orientation, ResolutionUnit and Make.
    Bytes b = test::BytesOf(std::string("Exif\0\0II*\0\x08\0\0\0", 14));
    auto u16 = [&](uint16_t v) { b.push_back(static_cast<uint8_t>(v)), b.push_back(static_cast<uint8_t>(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(static_cast<uint16_t>(v)), u16(static_cast<uint16_t>(v >> 16)); };
    u16(5);
    const uint32_t dataAt = 8 + 2 + 5 * 12 + 4;  // offsets relative to the TIFF header
    u16(0x010F), u16(2), u32(6), u32(dataAt + 8);
    u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);
    u16(0x011A), u16(5), u32(1), u32(dataAt);
    u16(0x011B), u16(5), u32(1), u32(dataAt);
    u16(0x0128), u16(3), u32(1), u16(unit), u16(0);
    u32(0);
    u32(xNumerator), u32(1);
    for (char ch : std::string("Maker", 6)) b.push_back(static_cast<uint8_t>(ch));
    return b;
}

TEST(JpegLoad, ResolutionFromJfifAndExif) {
    struct Case {
        const char* what;
        int32_t dpiX, dpiY;       // written by the saver as JFIF density (unit: dots per inch)
        bool perCentimetre;       // patch the JFIF unit to 2
        bool exif;                // add an Exif block of 200 per centimetre
        int32_t expectX, expectY;
    };
    const Case cases[] = {
        {"plain JFIF", 150, 75, false, false, 150, 75},
        {"dots per centimetre", 72, 72, true, false, 183, 183},
        {"JFIF wins over Exif", 150, 150, false, true, 150, 150},
        {"Exif replaces 1 x 1", 1, 1, false, true, 508, 508},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIOParamsVals p;
        p.ResolutionX = c.dpiX, p.ResolutionY = c.dpiY;
        if (c.exif) {
            const Bytes exif = ExifBlock(3, 200, 6);
            p.JpegMarkers.Add(0xE1, exif.data(), exif.size());
        }
        Bytes jpeg = SmallJpeg(8, 8, &p);
        const auto segments = test::JpegSegments(jpeg);
        ASSERT_EQ(segments[0].first, 0xE0);
        ASSERT_EQ(segments[0].second[7], 1);  // unit: dots per inch
        if (c.perCentimetre) jpeg[4 + 2 + 7] = 2;
        const auto loaded = test::LoadJpegBytes(jpeg);
        EXPECT_EQ(loaded->params.ResolutionX, c.expectX);
        EXPECT_EQ(loaded->params.ResolutionY, c.expectY);
        if (c.exif) {
            EXPECT_TRUE(loaded->params.Exif.HasExif);
            EXPECT_EQ(loaded->params.Exif.Orientation, 6);
            EXPECT_EQ(loaded->params.Exif.Make, "Maker");
        }
    }
    // A density of 0 is written as the program's default.
    TIOParamsVals zero;
    zero.ResolutionX = zero.ResolutionY = 0;
    const auto segments = test::JpegSegments(SmallJpeg(8, 8, &zero));
    EXPECT_EQ(segments[0].second[8] << 8 | segments[0].second[9], IEDefaultDPI);
}

TEST(JpegLoad, XmpTextAndMarkersInFileOrder) {
    TIOParamsVals p;
    static constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta>packet</x:xmpmeta>";
    const Bytes xmp = test::BytesOf(std::string(kXmp, sizeof kXmp - 1));
    const Bytes comment = test::BytesOf("a comment");
    const Bytes app5 = test::BytesOf("application five");
    p.JpegMarkers.Add(0xFE, comment.data(), comment.size());
    p.JpegMarkers.Add(0xE1, xmp.data(), xmp.size());
    p.JpegMarkers.Add(0xE5, app5.data(), app5.size());
    const auto loaded = test::LoadJpegBytes(SmallJpeg(8, 8, &p));
    EXPECT_EQ(loaded->params.XmpText, "<x:xmpmeta>packet</x:xmpmeta>");
    // Written sorted by code; read back in file order without the JFIF header.
    ASSERT_EQ(loaded->params.JpegMarkers.Count(), 3);
    EXPECT_EQ(loaded->params.JpegMarkers[0].Code, 0xE1);
    EXPECT_EQ(loaded->params.JpegMarkers[1].Code, 0xE5);
    EXPECT_EQ(loaded->params.JpegMarkers[1].Data, app5);
    EXPECT_EQ(loaded->params.JpegMarkers[2].Code, 0xFE);
    EXPECT_EQ(loaded->params.JpegMarkers[2].Data, comment);
    // Without the metadata switch the text stays empty.
    const auto plain = test::LoadJpegBytes(SmallJpeg(8, 8, &p), JpegLoadOptions{.metadata = false});
    EXPECT_EQ(plain->params.XmpText, "");
}

// ---------------------------------------------------------------------------------------------
// Through the I/O object

class JpegLoading : public ::testing::Test {
protected:
    test::ScratchDir dir_;
};

TEST_F(JpegLoading, LoadFileLoadFileAutoAndLoadStream) {
    TIOParamsVals p;
    p.ResolutionX = p.ResolutionY = 96;
    const Bytes jpeg = SmallJpeg(40, 30, &p);
    const auto reference = test::LoadJpegBytes(jpeg);

    for (const char* name : {"photo.JPG", "photo-without-extension", "photo.bmp"}) {
        SCOPED_TRACE(name);
        const auto path = dir_ / name;
        test::WriteFileBytes(path, jpeg);
        TImageIO io;
        if (std::string(name) == "photo.JPG")
            io.LoadFile(path, -1);
        else
            io.LoadFileAuto(path);
        EXPECT_EQ(io.CancelRequested, 0) << io.LastError;
        EXPECT_EQ(io.Params().FormatId, iofmtJPEG);
        EXPECT_EQ(io.Params().SourcePath, path);
        EXPECT_EQ(io.Params().ResolutionX, 96);
        ASSERT_EQ(io.IEBitmap()->Width(), 40);
        EXPECT_EQ(test::ComparePixels(*io.IEBitmap(), [&] {
                      test::RgbImage image;
                      image.width = 40, image.height = 30;
                      for (int32_t y = 0; y < 30; ++y)
                          for (int32_t x = 0; x < 40; ++x) {
                              const BgrColor c = reference->bitmap.PixelAsBgr(x, y);
                              image.rgb.insert(image.rgb.end(), {c.r, c.g, c.b});
                          }
                      return image;
                  }()).differing,
                  0);
    }

    // A stream with the engine's "JFIF" header, followed by another image: the stream ends up
    // after the first one.
    Bytes stream = test::BytesOf(std::string("JFIF\0\0\0\0", 8));
    for (int i = 0; i < 4; ++i) stream.push_back(static_cast<uint8_t>(jpeg.size() >> (8 * i)));
    stream.insert(stream.end(), jpeg.begin(), jpeg.end());
    const Bytes second = SmallJpeg(8, 8);
    stream.insert(stream.end(), second.begin(), second.end());
    TIEMemoryReadStream s(stream.data(), static_cast<int64_t>(stream.size()));
    TImageIO io;
    io.LoadStream(s);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.Params().FormatId, iofmtJPEG);
    EXPECT_EQ(io.IEBitmap()->Width(), 40);
    EXPECT_EQ(s.Position(), 12 + static_cast<int64_t>(jpeg.size()));
    io.LoadStream(s);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.IEBitmap()->Width(), 8);
    EXPECT_TRUE(io.Params().SourcePath.empty());

    // Parameters only, and the native format switch.
    const auto path = dir_ / "gray.jpg";
    TIOParamsVals g;
    g.JpegColorModel = 1;
    test::WriteFileBytes(path, SmallJpeg(20, 10, &g));
    TImageIO reader;
    reader.ReadParamsFile(path);
    EXPECT_EQ(reader.Params().FormatId, iofmtJPEG);
    EXPECT_EQ(reader.Params().PixelWidth, 20);
    EXPECT_EQ(reader.Params().JpegColorModel, 1);
    EXPECT_TRUE(reader.IEBitmap()->IsEmpty() || reader.IEBitmap()->Width() != 20);
    reader.Params().NativePixelFormat = true;
    reader.LoadFile(path, -1);
    EXPECT_EQ(reader.IEBitmap()->Format(), ie8g);

    // A damaged file fails the load with the flag.
    const auto bad = dir_ / "cut.jpg";
    test::WriteFileBytes(bad, Bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2)));
    TImageIO failing;
    failing.LoadFile(bad, -1);
    EXPECT_EQ(failing.CancelRequested, 1);
    EXPECT_FALSE(failing.LastError.empty());
}

}  // namespace
}  // namespace quirelle
