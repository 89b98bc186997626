// Loading through TImageIO with stand-in readers registered by the tests (the real readers plug in
// the same way) and with application-registered formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "image/iebitmap.h"
#include "io/ieengine.h"
#include "io/ieformats.h"
#include "io/imageio.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// What the stand-in readers saw and what they should do.
struct ReaderLog {
    int calls = 0;
    bool paramsOnly = false;
    int64_t positionAtCall = -1;
    int64_t dataSize = -1;
    BgrColor pngBackgroundSeen{};
    int32_t dpiX = 0, dpiY = 0;  // resolution the readers report (0: none)
    bool raise = false;
};
ReaderLog gLog;

// Reads "P5 <w> <h> 255" and one whitespace byte, then w x h gray bytes.
bool ReadPgmHeader(TStream& s, int32_t& w, int32_t& h) {
    std::string tokens[4];
    int n = 0;
    char c;
    while (n < 4 && s.Read(&c, 1) == 1) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!tokens[n].empty()) ++n;
        } else {
            tokens[n] += c;
        }
    }
    if (n < 4 || tokens[0] != "P5") return false;
    for (int i = 1; i < 3; ++i)
        if (tokens[i].empty() || tokens[i].size() > 6 ||
            !std::all_of(tokens[i].begin(), tokens[i].end(), [](unsigned char ch) { return std::isdigit(ch); }))
            return false;
    w = std::stoi(tokens[1]);
    h = std::stoi(tokens[2]);
    return w > 0 && h > 0;
}

void StandInPgmReader(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    ++gLog.calls;
    gLog.paramsOnly = paramsOnly;
    gLog.positionAtCall = s.Position();
    if (gLog.raise) throw EIEException("stand-in reader failed");
    int32_t w = 0, h = 0;
    if (!ReadPgmHeader(s, w, h)) {
        progress.Cancel();
        return;
    }
    params.PixelWidth = w;
    params.PixelHeight = h;
    params.ResolutionX = gLog.dpiX;
    params.ResolutionY = gLog.dpiY;
    if (paramsOnly) return;
    if (!bitmap.Allocate(w, h, ie8g)) {
        progress.Cancel();
        return;
    }
    for (int32_t y = 0; y < h; ++y) {
        if (s.Read(bitmap.RowAddress(y), w) != w) {
            progress.Cancel();
            return;
        }
        progress.Notify(100 * (y + 1) / h);
    }
}

Bytes Pgm(int32_t w, int32_t h, uint8_t first = 10) {
    Bytes b = Text("P5 " + std::to_string(w) + " " + std::to_string(h) + " 255\n");
    for (int32_t i = 0; i < w * h; ++i) b.push_back(static_cast<uint8_t>(first + i));
    return b;
}

// Mask-delivering reader (used as the BMP reader): a PGM picture plus a mask whose left column is
// transparent.
void StandInMaskReader(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress,
                       TIEReaderExtra& extra) {
    StandInPgmReader(s, bitmap, params, paramsOnly, progress);
    gLog.dataSize = extra.DataSize;
    if (paramsOnly || progress.Cancelled()) return;
    extra.Mask = std::make_unique<TIEBitmap>();
    ASSERT_TRUE(extra.Mask->Allocate(bitmap.Width(), bitmap.Height(), ie1g));
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = extra.Mask->RowAddress(y);
        std::memset(row, 0xFF, static_cast<size_t>(extra.Mask->RowLength()));
        row[0] &= 0x7F;
    }
}

void StandInPngReader(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    gLog.pngBackgroundSeen = params.PngBackgroundColor;
    s.Seek(8, soCurrent);
    StandInPgmReader(s, bitmap, params, paramsOnly, progress);
    params.PngBackgroundColor = BgrColor{1, 2, 3};
}

void StandInGifReader(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    s.Seek(6, soCurrent);
    StandInPgmReader(s, bitmap, params, paramsOnly, progress);
    params.GifBackgroundColor = BgrColor{9, 9, 9};
    params.GifHasTransparency = true;
    params.GifTransparentColor = BgrColor{0, 0, 255};
}

// Readers behind an engine stream header: they skip their own 4-byte signature, then read PGM.
void StandInSignedReader(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress,
                         TIEReaderExtra& extra) {
    gLog.dataSize = extra.DataSize;
    const int64_t start = s.Position();
    s.Seek(4, soCurrent);
    StandInPgmReader(s, bitmap, params, paramsOnly, progress);
    gLog.positionAtCall = start;
}

class ViewRecorder : public IImageViewLink {
public:
    void BeginUpdate() override { ++begins; }
    void EndUpdate() override { ++ends; }
    void SetDpiX(int32_t dpi) override { dpiX = dpi; }
    void SetDpiY(int32_t dpi) override { dpiY = dpi; }
    void Update() override { ++updates; }
    int begins = 0, ends = 0, updates = 0;
    int32_t dpiX = -1, dpiY = -1;
};

class Loading : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = ReaderLog{};
        // The stand-ins replace the real readers for the test; TearDown puts those back.
        for (TIEFormatId id : kStoodIn)
            if (const TIELoaderEntry* entry = IEFindLoader(id)) saved_.emplace_back(id, *entry);
        IERegisterReader(iofmtPXM, StandInPgmReader);
        IERegisterReaderEx(iofmtBMP, StandInMaskReader);
        IERegisterReader(iofmtPNG, StandInPngReader);
        IERegisterReader(iofmtGIF, StandInGifReader);
        IERegisterReaderEx(iofmtJPEG, StandInSignedReader);
        IERegisterReaderEx(iofmtTIFF, StandInSignedReader);
        IERegisterReaderEx(iofmtPCX, StandInSignedReader);
        IERegisterReader(iofmtWBMP, StandInPgmReader);
        io.OnFinishWork = [this](TImageIO*) { ++finishes; };
    }
    void TearDown() override {
        for (TIEFormatId id : kStoodIn) IEUnregisterReader(id);
        for (const auto& [id, entry] : saved_) {
            if (entry.Read)
                IERegisterReader(id, entry.Read);
            else if (entry.ReadEx)
                IERegisterReaderEx(id, entry.ReadEx);
        }
    }
    static constexpr TIEFormatId kStoodIn[] = {iofmtPXM, iofmtBMP, iofmtPNG, iofmtGIF,
                                               iofmtJPEG, iofmtTIFF, iofmtPCX, iofmtWBMP};
    std::vector<std::pair<TIEFormatId, TIELoaderEntry>> saved_;
    std::filesystem::path Write(const std::string& name, const Bytes& data) {
        const auto path = dir / name;
        test::WriteFileBytes(path, data);
        return path;
    }

    test::ScratchDir dir;
    TImageIO io;
    int finishes = 0;
};

TEST_F(Loading, LoadFileChoosesTheReaderByExtension) {
    const auto path = Write("Picture.PGM", Pgm(4, 2));
    io.Params().FormatId = 77;
    io.LoadFile(path, -1);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.LastError, "");
    EXPECT_EQ(gLog.calls, 1);
    EXPECT_FALSE(gLog.paramsOnly);
    EXPECT_EQ(io.Params().FormatId, iofmtPXM);
    EXPECT_EQ(io.Params().SourcePath, path);
    TIEBitmap& b = *io.IEBitmap();
    ASSERT_EQ(b.Width(), 4);
    ASSERT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Format(), ie8g);
    EXPECT_EQ(b.GetPixel8(3, 1), 17);
    EXPECT_EQ(io.Params().ResolutionX, 300) << "a file without resolution gets the default";
    EXPECT_EQ(io.Params().ResolutionY, 300);
    EXPECT_EQ(finishes, 1);
}

TEST_F(Loading, LoadFileFailuresSetCancelRequestedAndSayWhy) {
    struct Case {
        const char* name;
        int32_t formatId;
        const char* reason;
    };
    const Case cases[] = {
        {"no-extension", -1, "no extension"},
        {"picture.xyz", -1, "\".xyz\" names no known image format"},
        {"picture.jp2", -1, "no reader for JPEG 2000 files is built in"},
        {"picture.psd", -1, "no reader for Photoshop files is built in"},
        {"picture.dcm", -1, "no reader for DICOM files is built in"},
        {"picture.avi", 5, "no reader for AVI video files is built in"},
        {"picture.wmv", -1, "no reader for Windows Media video files is built in"},
        {"picture.mpeg", -1, "no reader for MPEG video files is built in"},
        {"picture.ps", -1, "PostScript Level 2 files cannot be read"},
        {"picture.pdf", iofmtPDF, "Adobe PDF files cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Write(c.name, Pgm(2, 2));
        io.CancelRequested = 0;
        finishes = 0;
        io.LoadFile(path, c.formatId);
        EXPECT_EQ(io.CancelRequested, 1);
        EXPECT_NE(io.LastError.find(c.reason), std::string::npos) << io.LastError;
        EXPECT_EQ(gLog.calls, 0);
        EXPECT_EQ(finishes, 1);
    }
    io.LoadFile("", -1);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_FALSE(io.LastError.empty());
    // A successful load clears the reason again.
    io.LoadFile(Write("ok.pgm", Pgm(2, 2)), -1);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.LastError, "");
}

TEST_F(Loading, ContentWinsOnlyWithLoadFileAuto) {
    const auto path = Write("really-a-pgm.bmp", Pgm(3, 3));
    io.LoadFileAuto(path);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.Params().FormatId, iofmtPXM);
    EXPECT_FALSE(io.IEBitmap()->HasAlphaPlane()) << "read by the PGM reader, not the mask reader";
    // With the extension deciding, the BMP reader gets the file and reports damaged data.
    io.LoadFile(path, -1);
    EXPECT_EQ(io.Params().FormatId, iofmtBMP);
    EXPECT_EQ(io.CancelRequested, 0) << "the stand-in BMP reader reads PGM data too";
    EXPECT_TRUE(io.IEBitmap()->HasAlphaPlane());
    // Content that no probe knows falls back to the extension.
    const auto unknown = Write("unknown.pgm", Text("P5 but nothing else"));
    io.LoadFileAuto(unknown);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_NE(io.LastError.find("PBM/PGM/PPM"), std::string::npos) << io.LastError;
}

TEST_F(Loading, VanishedFiles) {
    // Loaders that open the file after preparing have set CancelRequested and finished.
    io.CancelRequested = 0;
    EXPECT_THROW(io.LoadFile(dir / "gone.pgm", -1), EIEFileError);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_EQ(finishes, 1);
    EXPECT_NE(io.LastError.find("Cannot open file"), std::string::npos) << io.LastError;
    // TIFF, GIF, PCX and BMP open the file first: CancelRequested stays, no finish notice.
    io.CancelRequested = 0;
    finishes = 0;
    EXPECT_THROW(io.LoadFile(dir / "gone.bmp", -1), EIEFileError);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(finishes, 0);
    EXPECT_FALSE(io.LastError.empty());
}

TEST_F(Loading, ReaderExceptionsReachTheCallerAfterTheFinishNotice) {
    gLog.raise = true;
    EXPECT_THROW(io.LoadFile(Write("a.pgm", Pgm(2, 2)), -1), EIEException);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(io.LastError, "stand-in reader failed");
    const Bytes data = Pgm(2, 2);
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_THROW(io.LoadStream(stream), EIEException);
    EXPECT_EQ(finishes, 2);
}

TEST_F(Loading, MaskBecomesTheAlphaPlane) {
    const Bytes data = Cat(Text("BM"), Pgm(3, 2));
    // The stand-in reads PGM right away, so skip "BM" by loading from position 2.
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    stream.Seek(2, soBeginning);
    io.LoadStreamOfFormat(stream, iofmtBMP);
    ASSERT_EQ(io.CancelRequested, 0) << io.LastError;
    EXPECT_EQ(gLog.dataSize, static_cast<int64_t>(data.size()) - 2);
    TIEBitmap& b = *io.IEBitmap();
    ASSERT_TRUE(b.HasAlphaPlane());
    EXPECT_EQ(b.GetAlpha(0, 0), 0);
    EXPECT_EQ(b.GetAlpha(1, 0), 255);
    EXPECT_EQ(b.GetAlpha(0, 1), 0);
    EXPECT_FALSE(b.AlphaPlane()->IsFullyOpaque);
    EXPECT_TRUE(io.Params().SourcePath.empty()) << "stream loads clear SourcePath";
    // The next load drops the old alpha plane before reading.
    io.LoadFile(Write("next.pgm", Pgm(3, 2)), -1);
    EXPECT_FALSE(b.HasAlphaPlane());
}

TEST_F(Loading, ResolutionAdjustment) {
    struct Case {
        const char* name;
        int32_t w, h, dpiX, dpiY;
        bool filtered;
        int32_t ew, eh, edpiX, edpiY;
        TIEPixelFormat format;
    };
    const Case cases[] = {
        {"wide, taller pixels", 10, 5, 200, 100, false, 10, 10, 200, 200, ie8g},
        {"tall, wider pixels", 5, 10, 100, 200, false, 10, 10, 200, 200, ie8g},
        {"filtered", 10, 5, 200, 100, true, 10, 10, 200, 200, ie24RGB},
        {"equal resolutions", 10, 5, 150, 150, true, 10, 5, 150, 150, ie8g},
        {"rounding", 7, 3, 300, 200, false, 7, 5, 300, 300, ie8g},
    };
    io.AutoAdjustDPI = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        io.FilteredAdjustDPI = c.filtered;
        gLog.dpiX = c.dpiX;
        gLog.dpiY = c.dpiY;
        io.LoadFile(Write("adjust.pgm", Pgm(c.w, c.h, 0)), -1);
        ASSERT_EQ(io.CancelRequested, 0) << io.LastError;
        TIEBitmap& b = *io.IEBitmap();
        EXPECT_EQ(b.Width(), c.ew);
        EXPECT_EQ(b.Height(), c.eh);
        EXPECT_EQ(b.Format(), c.format);
        EXPECT_EQ(io.Params().PixelWidth, c.ew);
        EXPECT_EQ(io.Params().PixelHeight, c.eh);
        EXPECT_EQ(io.Params().ResolutionX, c.edpiX);
        EXPECT_EQ(io.Params().ResolutionY, c.edpiY);
    }
    // Unfiltered: every row of a 10 x 5 image is doubled.
    io.FilteredAdjustDPI = false;
    gLog.dpiX = 200;
    gLog.dpiY = 100;
    io.LoadFile(Write("adjust.pgm", Pgm(10, 5, 0)), -1);
    TIEBitmap& b = *io.IEBitmap();
    EXPECT_EQ(b.GetPixel8(3, 0), 3);
    EXPECT_EQ(b.GetPixel8(3, 1), 3);
    EXPECT_EQ(b.GetPixel8(3, 9), 43);
    // The alpha plane follows the image.
    io.LoadFile(Write("adjust.bmp", Pgm(10, 5, 0)), -1);
    ASSERT_TRUE(b.HasAlphaPlane());
    EXPECT_EQ(b.AlphaPlane()->Width(), 10);
    EXPECT_EQ(b.AlphaPlane()->Height(), 10);
    EXPECT_EQ(b.GetAlpha(0, 9), 0);
    EXPECT_EQ(b.GetAlpha(1, 9), 255);
}

TEST_F(Loading, AbsurdResolutionsDoNotMakeGiantImages) {
    io.AutoAdjustDPI = true;
    gLog.dpiX = 65000;
    gLog.dpiY = 2;
    io.LoadFile(Write("absurd.pgm", Pgm(200, 100)), -1);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.IEBitmap()->Height(), 100) << "left as read";
}

TEST_F(Loading, WirelessBitmapsKeepTheirResolutionAndTheViewIsNotTold) {
    ViewRecorder view;
    TIEBitmap buffer;
    TImageIO viewIo(&buffer, &view);
    viewIo.AutoAdjustDPI = true;
    gLog.dpiX = 200;
    gLog.dpiY = 100;
    viewIo.LoadFile(Write("w.wbmp", Pgm(10, 5)), -1);
    EXPECT_EQ(viewIo.CancelRequested, 0) << viewIo.LastError;
    EXPECT_EQ(buffer.Height(), 5);
    EXPECT_EQ(view.updates, 1);
    view = ViewRecorder{};
    viewIo.LoadFile(Write("p.pgm", Pgm(10, 5)), -1);
    EXPECT_EQ(buffer.Height(), 10);
    EXPECT_EQ(view.dpiX, 200);
    EXPECT_EQ(view.dpiY, 200);
    EXPECT_EQ(view.begins, view.ends);
    EXPECT_EQ(view.updates, 1);
}

TEST_F(Loading, AttachedPictureReceivesTheImage) {
    TBitmap picture;
    picture.SetSize(1, 1);
    io.AttachPicture(&picture);
    io.LoadFile(Write("p.pgm", Pgm(4, 3, 100)), -1);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(picture.Width(), 4);
    EXPECT_EQ(picture.Height(), 3);
    EXPECT_EQ(picture.PixelColor(1, 0), 0x656565u);
}

TEST_F(Loading, EngineStreamHeaders) {
    const Bytes image = Cat(Text("SIGN"), Pgm(2, 2));
    const Bytes trailer = Text("NEXT IMAGE");
    auto headed = [&](const char* mark) {
        Bytes h = Text(mark);
        h.resize(8, 0);
        return Cat(Cat(Cat(h, Le32(static_cast<uint32_t>(image.size()))), image), trailer);
    };
    const int64_t end = 12 + static_cast<int64_t>(image.size());

    // JPEG: the header is skipped when present, and the stream ends up after the image.
    {
        const Bytes data = headed("JFIF");
        TIEMemoryReadStream s(data.data(), static_cast<int64_t>(data.size()));
        io.LoadStream(s);
        EXPECT_EQ(io.Params().FormatId, iofmtJPEG);
        EXPECT_EQ(io.CancelRequested, 0) << io.LastError;
        EXPECT_EQ(gLog.positionAtCall, 12);
        EXPECT_EQ(gLog.dataSize, static_cast<int64_t>(image.size()));
        EXPECT_EQ(s.Position(), end);
    }
    // TIFF: required only while StreamHeaders is on.
    {
        const Bytes plain = image;
        TIEMemoryReadStream s(plain.data(), static_cast<int64_t>(plain.size()));
        io.LoadStreamOfFormat(s, iofmtTIFF);
        EXPECT_EQ(io.CancelRequested, 0);
        EXPECT_EQ(gLog.positionAtCall, 0);
        io.StreamHeaders = true;
        gLog.calls = 0;
        s.Seek(0, soBeginning);
        io.LoadStreamOfFormat(s, iofmtTIFF);
        EXPECT_EQ(io.CancelRequested, 1);
        EXPECT_EQ(gLog.calls, 0) << "nothing is read without the mark";
        EXPECT_NE(io.LastError.find("\"TIFF\""), std::string::npos);
        const Bytes data = headed("TIFF");
        TIEMemoryReadStream h(data.data(), static_cast<int64_t>(data.size()));
        io.LoadStream(h);
        EXPECT_EQ(io.Params().FormatId, iofmtTIFF);
        EXPECT_EQ(io.CancelRequested, 0);
        EXPECT_EQ(gLog.positionAtCall, 12);
        EXPECT_EQ(h.Position(), end);
    }
    // PCX: "PCX2" with a length, or the older 4-byte form running to the end of the stream.
    {
        io.StreamHeaders = true;
        const Bytes data = headed("PCX2");
        TIEMemoryReadStream s(data.data(), static_cast<int64_t>(data.size()));
        io.LoadStream(s);
        EXPECT_EQ(io.Params().FormatId, iofmtPCX);
        EXPECT_EQ(io.CancelRequested, 0);
        EXPECT_EQ(gLog.dataSize, static_cast<int64_t>(image.size()));
        EXPECT_EQ(s.Position(), end);
        const Bytes old = Cat(Bytes{'P', 'C', 'X', 0}, image);
        TIEMemoryReadStream o(old.data(), static_cast<int64_t>(old.size()));
        io.LoadStream(o);
        EXPECT_EQ(io.CancelRequested, 0);
        EXPECT_EQ(gLog.positionAtCall, 4);
        EXPECT_EQ(gLog.dataSize, static_cast<int64_t>(image.size()));
        const Bytes none = image;
        TIEMemoryReadStream n(none.data(), static_cast<int64_t>(none.size()));
        io.LoadStreamOfFormat(n, iofmtPCX);
        EXPECT_EQ(io.CancelRequested, 1);
    }
}

TEST_F(Loading, BackgroundColours) {
    io.Background = BgrToTColor(BgrColor{10, 20, 30});
    const Bytes png = Cat(Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Pgm(2, 2));
    io.LoadMemory(png.data(), static_cast<int64_t>(png.size()));
    EXPECT_EQ(io.Params().FormatId, iofmtPNG);
    EXPECT_EQ(gLog.pngBackgroundSeen, (BgrColor{10, 20, 30}));
    EXPECT_EQ(io.Background, BgrToTColor(BgrColor{1, 2, 3}));
    const Bytes gif = Cat(Text("GIF89a"), Pgm(2, 2));
    io.LoadMemory(gif.data(), static_cast<int64_t>(gif.size()));
    EXPECT_EQ(io.Params().FormatId, iofmtGIF);
    EXPECT_EQ(io.Background, BgrToTColor(BgrColor{0, 0, 255})) << "the transparent colour wins";
}

TEST_F(Loading, StreamAndMemoryFailures) {
    io.CancelRequested = 0;
    io.LoadMemory(nullptr, 10);
    EXPECT_EQ(io.CancelRequested, 1);
    io.CancelRequested = 0;
    const uint8_t one = 1;
    io.LoadMemory(&one, 0);
    EXPECT_EQ(io.CancelRequested, 1);
    // Data no probe recognises: nothing is read, and the load reports failure.
    const Bytes junk = Text("just some words, nothing more");
    TIEMemoryReadStream s(junk.data(), static_cast<int64_t>(junk.size()));
    io.CancelRequested = 0;
    io.LoadStream(s);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_NE(io.LastError.find("not recognised"), std::string::npos);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(gLog.calls, 0);
    for (int32_t id : {0, 17, 18, 9999}) {
        SCOPED_TRACE(id);
        io.CancelRequested = 0;
        io.LoadStreamOfFormat(s, id);
        EXPECT_EQ(io.CancelRequested, 1);
        EXPECT_FALSE(io.LastError.empty());
    }
    io.CancelRequested = 0;
    io.LoadFileOfFormat(dir / "x.pgm", 9999);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_EQ(gLog.calls, 0);
}

TEST_F(Loading, ReadingParametersOnly) {
    const auto path = Write("params.pgm", Pgm(6, 4));
    io.ReadParamsFile(path);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_TRUE(gLog.paramsOnly);
    EXPECT_EQ(io.Params().FormatId, iofmtPXM);
    EXPECT_EQ(io.Params().PixelWidth, 6);
    EXPECT_EQ(io.Params().SourcePath, path);
    EXPECT_TRUE(io.IEBitmap()->IsEmpty()) << "the buffer is not changed";
    const Bytes bad = Text("P5 x y 255\n");
    io.ReadParamsMemory(bad.data(), static_cast<int64_t>(bad.size()), iofmtPXM);
    EXPECT_EQ(io.Params().FormatId, 0);
    gLog.raise = true;
    io.ReadParamsFile(path, iofmtPXM);
    EXPECT_EQ(io.Params().FormatId, 0);
    EXPECT_EQ(io.LastError, "stand-in reader failed");
    gLog.raise = false;
    // Strict detection: a PGM named .bmp is refused.
    io.ReadParamsFile(Write("params.bmp", Pgm(6, 4)));
    EXPECT_EQ(io.Params().FormatId, 0);
    const Bytes good = Pgm(5, 5);
    io.ReadParamsMemory(good.data(), static_cast<int64_t>(good.size()));
    EXPECT_EQ(io.Params().FormatId, iofmtPXM);
    EXPECT_EQ(io.Params().PixelHeight, 5);
}

// --- application-registered formats ------------------------------------------------------------

constexpr int32_t kQimId = 7300;

// "QIM1", width byte, height byte, gray bytes.
void ReadQim(TStream& s, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    uint8_t h[6];
    if (s.Read(h, 6) != 6 || std::memcmp(h, "QIM1", 4) != 0) {
        progress.Cancel();
        return;
    }
    if (h[4] == 0xEE) throw EIEException("QIM reader raised");
    params.PixelWidth = h[4];
    params.PixelHeight = h[5];
    if (paramsOnly) return;
    bitmap.Allocate(h[4], h[5], ie8g);
    for (int32_t y = 0; y < h[5]; ++y) s.Read(bitmap.RowAddress(y), h[4]);
}

class ApplicationFormat : public Loading {
protected:
    void SetUp() override {
        Loading::SetUp();
        auto info = std::make_unique<TIEFileFormatInfo>();
        info->FormatId = kQimId;
        info->Description = "Quick image";
        info->ExtensionList = "QIM";
        info->ReadProc = ReadQim;
        info->ProbeProc = [](TStream& s, int32_t) {
            char b[4] = {};
            return s.Read(b, 4) == 4 && std::memcmp(b, "QIM1", 4) == 0;
        };
        FormatRegistryAdd(std::move(info));
    }
    void TearDown() override {
        FormatRegistryRemove(kQimId);
        Loading::TearDown();
    }
    static Bytes Qim(uint8_t w, uint8_t h) {
        Bytes b = Cat(Text("QIM1"), Bytes{w, h});
        for (int i = 0; i < w * h; ++i) b.push_back(static_cast<uint8_t>(i));
        return b;
    }
};

TEST_F(ApplicationFormat, LoadsFromFilesStreamsAndMemory) {
    const auto path = Write("picture.QIM", Qim(3, 2));
    io.LoadFile(path, -1);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.Params().FormatId, kQimId);
    EXPECT_EQ(io.Params().SourcePath, path);
    EXPECT_EQ(io.IEBitmap()->GetPixel8(2, 1), 5);
    EXPECT_EQ(finishes, 1);

    const Bytes data = Qim(4, 4);
    TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
    io.LoadStream(stream);
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(io.Params().FormatId, kQimId);
    EXPECT_TRUE(io.Params().SourcePath.empty());
    EXPECT_EQ(io.IEBitmap()->Width(), 4);

    io.LoadMemory(data.data(), static_cast<int64_t>(data.size()), kQimId);
    EXPECT_EQ(io.CancelRequested, 0);
    io.LoadFileAuto(Write("qim-named.bin", Qim(2, 2)));
    EXPECT_EQ(io.Params().FormatId, kQimId);

    io.ReadParamsFile(Write("params.qim", Qim(7, 1)));
    EXPECT_EQ(io.Params().FormatId, kQimId);
    EXPECT_EQ(io.Params().PixelWidth, 7);
}

TEST_F(ApplicationFormat, FailuresAndExceptions) {
    const auto bad = Write("bad.qim", Text("QIM9...."));
    io.LoadFile(bad, -1);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_EQ(io.Params().FormatId, kQimId);
    EXPECT_FALSE(io.LastError.empty());

    const Bytes raising = Cat(Text("QIM1"), Bytes{0xEE, 1});
    const auto path = Write("raise.qim", raising);
    // Reached from LoadFile the exception is caught ...
    io.LoadFile(path, -1);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_EQ(io.LastError, "QIM reader raised");
    // ... from LoadFileOfFormat and the stream loads it reaches the caller after the finish notice.
    finishes = 0;
    EXPECT_THROW(io.LoadFileOfFormat(path, kQimId), EIEException);
    EXPECT_EQ(finishes, 1);
    TIEMemoryReadStream s(raising.data(), static_cast<int64_t>(raising.size()));
    EXPECT_THROW(io.LoadStreamOfFormat(s, kQimId), EIEException);

    // A format without a reader.
    FormatRegistryFind(kQimId)->ReadProc = nullptr;
    io.LoadFile(Write("ok.qim", Qim(1, 1)), -1);
    EXPECT_EQ(io.CancelRequested, 1);
    EXPECT_EQ(io.Params().FormatId, 0);
    EXPECT_NE(io.LastError.find("Quick image files cannot be read"), std::string::npos);
}

TEST(OpenDialogFilter, BuiltFromTheRegistry) {
    const std::string filter = TImageIO::OpenDialogFilter();
    EXPECT_EQ(filter.rfind("All images (*.tif;*.jpg;*.pcx;*.bmp;*.ico;*.cur;*.png;*.dcm;*.wmf;*.emf;*.tga;*.pxm;*.wbmp;"
                           "*.jp2;*.j2k;*.dcx;*.crw;*.psd;*.iev;*.lyr;*.all)|",
                           0),
              0u)
        << filter;
    EXPECT_NE(filter.find("|All files (*.*)|*.*|JPEG Bitmap (*.jpg;*.jpeg;*.jpe;*.jif)|*.jpg;*.jpeg;*.jpe;*.jif|TIFF Bitmap ("),
              std::string::npos)
        << filter;
    EXPECT_NE(filter.find("|Windows Bitmap (*.bmp;*.dib;*.rle)|*.bmp;*.dib;*.rle|"), std::string::npos);
    EXPECT_EQ(filter.find("PostScript"), std::string::npos);
    EXPECT_EQ(filter.find("*.eps"), std::string::npos);
    EXPECT_EQ(filter.find("*.pdf"), std::string::npos);
    EXPECT_EQ(filter.find("Raw Bitmap"), std::string::npos);
    const std::string video = TImageIO::OpenDialogFilter(true);
    EXPECT_NE(video.find(";*.avi;*.mpg;*.wmv)|"), std::string::npos);
    EXPECT_NE(video.find("|Windows Media Video (*.wmv)|*.wmv"), std::string::npos);
}

}  // namespace
}  // namespace quirelle
