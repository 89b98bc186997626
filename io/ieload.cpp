// Image loading on TImageIO: choosing the format, the steps wrapped around every reader, the
// registered-reader path, reading parameters only, and the open dialog's filter.
#include "io/imageio.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "image/ieresample.h"
#include "io/ieengine.h"
#include "io/ieformats.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

// Largest image the resolution adjustment may produce; a file whose resolutions differ wildly
// must not make the loader allocate without bound.
constexpr int64_t kMaxAdjustedSide = 1 << 20;
constexpr int64_t kMaxAdjustedPixels = int64_t{1} << 28;

constexpr const char* kNoBuffer = "there is no image buffer to load into";

}  // namespace

// The loading machinery; a friend of TImageIO so that TImageIO's header stays small.
class TIELoader {
public:
    explicit TIELoader(TImageIO& io) : io_(io), params_(io.Params()) {}

    ProgressRecord Record() {
        ProgressRecord record;
        record.ProgressNotify = [this](TImageIO* sender, int32_t percent) { io_.ReportProgress(sender, percent); };
        record.ProgressSender = &io_;
        record.CancelFlag = &io_.CancelRequested;
        return record;
    }

    void Fail(const std::string& reason) {
        io_.CancelRequested = 1;
        io_.LastError = reason;
    }

    void FailAndFinish(const std::string& reason) {
        Fail(reason);
        io_.ReportFinish();
    }

    // Opens a file for reading with write-sharing denied. An open error is recorded in LastError
    // (and the finish reported, when asked) before it goes on to the caller.
    std::unique_ptr<TIEWideFileStream> OpenFile(const std::filesystem::path& fileName, bool reportFinish) {
        try {
            return std::make_unique<TIEWideFileStream>(fileName, ieOpenRead);
        } catch (const std::exception& e) {
            io_.LastError = e.what();
            if (reportFinish) io_.ReportFinish();
            throw;
        }
    }

    static std::string NoReaderText(int32_t formatId) {
        return IEFormat("no reader for %s files is built in", IEFormatShortName(formatId));
    }

    // The built-in file loader of a format.
    void FileLoader(const std::filesystem::path& fileName, int32_t formatId, const TIELoaderEntry& entry) {
        if (!entry.HasReader()) {
            FailAndFinish(NoReaderText(formatId));
            return;
        }
        if (entry.OpenFileFirst) {
            std::unique_ptr<TIEWideFileStream> file = OpenFile(fileName, false);
            StreamLoader(*file, formatId, entry, &fileName, false);
            return;
        }
        io_.CancelRequested = 1;
        if (!io_.PrepareBuffer(0)) {
            FailAndFinish(kNoBuffer);
            return;
        }
        std::unique_ptr<TIEWideFileStream> file = OpenFile(fileName, true);
        io_.CancelRequested = 0;
        if (entry.FileReadBuffer > 0) {
            TIEBufferedReadStream buffered(*file, entry.FileReadBuffer);
            StreamLoader(buffered, formatId, entry, &fileName, true);
        } else {
            StreamLoader(*file, formatId, entry, &fileName, true);
        }
    }

    // The steps every built-in loader wraps around its reader. fileName is null for streams.
    void StreamLoader(TStream& stream, int32_t formatId, const TIELoaderEntry& entry,
                      const std::filesystem::path* fileName, bool bufferPrepared) {
        if (!entry.HasReader()) {
            FailAndFinish(NoReaderText(formatId));
            return;
        }
        io_.CancelRequested = 0;
        if (!bufferPrepared && !io_.PrepareBuffer(0)) {
            FailAndFinish(kNoBuffer);
            return;
        }
        TIEBitmap& bitmap = *io_.IEBitmap();
        try {
            params_.ClearMetadata();
            int64_t dataStart = stream.Position();
            int64_t endAfter = -1;
            if (!ReadStreamHeader(stream, entry.StreamHeader, dataStart, endAfter)) {
                io_.ReportFinish();
                return;
            }
            TIEReaderExtra extra;
            extra.DataSize = std::max<int64_t>(0, endAfter >= 0 ? endAfter - dataStart : stream.Size() - dataStart);
            bitmap.DropAlphaPlane(false);
            if (entry.Background == iebPng) params_.PngBackgroundColor = TColorToBgr(io_.Background);
            ProgressRecord record = Record();
            if (entry.ReadEx)
                entry.ReadEx(stream, bitmap, params_, false, record, extra);
            else
                entry.Read(stream, bitmap, params_, false, record);
            ApplyDefaultResolution();
            if (entry.MaskToAlphaPlane && extra.Mask) MaskToAlphaPlane(*extra.Mask);
            if (io_.AutoAdjustDPI && entry.AdjustResolution) AdjustDpi();
            if (entry.AdjustResolution) PassResolutionToView();
            if (fileName)
                params_.SourcePath = *fileName;
            else
                params_.SourcePath.clear();
            params_.FormatId = formatId;
            if (entry.Background == iebPng) io_.Background = BgrToTColor(params_.PngBackgroundColor);
            if (entry.Background == iebGif)
                io_.Background = BgrToTColor(params_.GifHasTransparency ? params_.GifTransparentColor
                                                                        : params_.GifBackgroundColor);
            if (endAfter >= 0) stream.Seek(endAfter, soBeginning);
            RefreshAttached();
            if (io_.CancelRequested && io_.LastError.empty())
                io_.LastError = IEFormat("the %s data is damaged or uses a feature that cannot be read",
                                         IEFormatShortName(formatId));
        } catch (const std::exception& e) {
            io_.LastError = e.what();
            io_.ReportFinish();
            throw;
        }
        io_.ReportFinish();
    }

    // Skips or checks the engine's header in front of the image. False when a required header is
    // missing (the load has then failed). dataStart and endAfter come back as the image data's
    // start and the position after it (-1: the end is the reader's business).
    bool ReadStreamHeader(TStream& stream, TIEStreamHeaderKind kind, int64_t& dataStart, int64_t& endAfter) {
        const int64_t start = stream.Position();
        uint8_t h[12] = {};
        switch (kind) {
            case iehNone: return true;
            case iehJfif: {
                const int64_t got = stream.Read(h, 12);
                if (got == 12 && std::memcmp(h, "JFIF", 5) == 0) {
                    dataStart = start + 12;
                    endAfter = dataStart + Le32(h + 8);
                } else {
                    stream.Seek(start, soBeginning);
                }
                return true;
            }
            case iehTiff: {
                if (!io_.StreamHeaders) return true;
                if (stream.Read(h, 12) != 12 || std::memcmp(h, "TIFF", 5) != 0) {
                    Fail("the stream has no \"TIFF\" header in front of the image");
                    return false;
                }
                dataStart = start + 12;
                endAfter = dataStart + Le32(h + 8);
                return true;
            }
            case iehPcx: {
                if (!io_.StreamHeaders) return true;
                const int64_t got = stream.Read(h, 12);
                if (got < 4 || std::memcmp(h, "PCX", 3) != 0) {
                    Fail("the stream has no \"PCX\" header in front of the image");
                    return false;
                }
                if (h[3] == '2') {
                    if (got != 12) {
                        Fail("the stream's \"PCX2\" header is cut short");
                        return false;
                    }
                    dataStart = start + 12;
                    endAfter = dataStart + Le32(h + 8);
                } else {
                    // The older form: 4 bytes, then PCX data up to the end of the stream.
                    dataStart = start + 4;
                }
                stream.Seek(dataStart, soBeginning);
                return true;
            }
        }
        return true;
    }

    void ApplyDefaultResolution() {
        if (params_.ResolutionX < 2) params_.SetResolutionX(IEDefaultDPI);
        if (params_.ResolutionY < 2) params_.SetResolutionY(IEDefaultDPI);
    }

    // Copies a reader's transparency mask (ie1g: 1 = opaque, ie8g: 255 = opaque) into the alpha
    // plane.
    void MaskToAlphaPlane(TIEBitmap& mask) {
        TIEBitmap& bitmap = *io_.IEBitmap();
        if (bitmap.IsEmpty() || mask.IsEmpty()) return;
        TIEBitmap* alpha = bitmap.AlphaPlane();
        if (!alpha) return;
        const int32_t width = std::min(mask.Width(), alpha->Width());
        const int32_t height = std::min(mask.Height(), alpha->Height());
        std::vector<uint8_t> row(static_cast<size_t>(mask.RowLength()));
        bool transparent = false;
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* m = mask.RowAddress(y);
            if (!m) break;
            std::memcpy(row.data(), m, row.size());
            uint8_t* a = alpha->RowAddress(y);
            if (!a) break;
            for (int32_t x = 0; x < width; ++x) {
                uint8_t v;
                if (mask.Format() == ie1g)
                    v = (row[static_cast<size_t>(x >> 3)] & (0x80 >> (x & 7))) ? 255 : 0;
                else
                    v = row[static_cast<size_t>(x)];
                a[x] = v;
                transparent |= v != 255;
            }
        }
        alpha->IsFullyOpaque = !transparent;
    }

    // Resamples the image so that its horizontal and vertical resolutions become equal.
    void AdjustDpi() {
        TIEBitmap& bitmap = *io_.IEBitmap();
        const int64_t rx = params_.ResolutionX, ry = params_.ResolutionY;
        int64_t w = params_.PixelWidth, h = params_.PixelHeight;
        if (bitmap.IsEmpty() || rx <= 0 || ry <= 0 || rx == ry || w <= 0 || h <= 0) return;
        int64_t newRx = rx, newRy = ry;
        if (h < w) {
            h = std::llround(static_cast<double>(h) / static_cast<double>(ry) * static_cast<double>(rx));
            newRy = rx;
        } else {
            w = std::llround(static_cast<double>(w) / static_cast<double>(rx) * static_cast<double>(ry));
            newRx = ry;
        }
        w = std::max<int64_t>(w, 1);
        h = std::max<int64_t>(h, 1);
        if (w > kMaxAdjustedSide || h > kMaxAdjustedSide || w * h > kMaxAdjustedPixels) return;
        if (!IEResizeBitmap(bitmap, static_cast<int32_t>(w), static_cast<int32_t>(h), io_.FilteredAdjustDPI)) return;
        params_.PixelWidth = static_cast<int32_t>(w);
        params_.PixelHeight = static_cast<int32_t>(h);
        params_.SetResolutionX(static_cast<int32_t>(newRx));
        params_.SetResolutionY(static_cast<int32_t>(newRy));
    }

    void PassResolutionToView() {
        IImageViewLink* view = io_.AttachedView();
        if (!view) return;
        view->BeginUpdate();
        view->SetDpiX(params_.ResolutionX);
        view->SetDpiY(params_.ResolutionY);
        view->EndUpdate();
    }

    // Shows the loaded image in the attached view or picture.
    void RefreshAttached() {
        TIEBitmap& bitmap = *io_.IEBitmap();
        if (TBitmap* picture = io_.AttachedPicture()) {
            bitmap.DropAlphaPlane(false);
            CopyToPicture(bitmap, *picture);
        }
        if (IImageViewLink* view = io_.AttachedView()) {
            // From a worker the view is told on its own thread.
            if (!io_.PostToView(IEM_UPDATEVIEW, 0, [view] { view->Update(); })) view->Update();
        }
    }

    static void CopyToPicture(TIEBitmap& bitmap, TBitmap& picture) {
        const int32_t width = bitmap.Width(), height = bitmap.Height();
        picture.SetPixelFormat(pf24bit);
        picture.SetSize(width, height);
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* out = picture.ScanLine(y);
            for (int32_t x = 0; x < width; ++x) {
                const BgrColor c = bitmap.PixelAsBgr(x, y);
                out[3 * x] = c.b;
                out[3 * x + 1] = c.g;
                out[3 * x + 2] = c.r;
            }
        }
    }

    // Entries that are not built in, and built-in ids without a loader of their own (PostScript,
    // PDF). source is a file name or a stream.
    void RegisteredReaderPath(const TIEFileFormatInfo& format, const std::filesystem::path* fileName, TStream* source,
                              bool fromLoadFile) {
        params_.SourcePath.clear();
        params_.FormatId = 0;
        params_.ClearMetadata();
        if (!format.ReadProc) {
            FailAndFinish(IEFormat("%s files cannot be read", format.Description.c_str()));
            return;
        }
        io_.CancelRequested = 1;
        if (!io_.PrepareBuffer(0)) {
            FailAndFinish(kNoBuffer);
            return;
        }
        std::unique_ptr<TIEWideFileStream> file;
        if (!source) {
            file = OpenFile(*fileName, true);
            source = file.get();
        }
        io_.CancelRequested = 0;
        ProgressRecord record = Record();
        if (fileName)
            params_.SourcePath = *fileName;
        else
            params_.SourcePath.clear();
        params_.FormatId = format.FormatId;
        try {
            format.ReadProc(*source, *io_.IEBitmap(), params_, false, record);
        } catch (const std::exception& e) {
            io_.LastError = e.what();
            if (!fromLoadFile) {
                io_.ReportFinish();
                throw;
            }
            io_.CancelRequested = 1;
        }
        if (!io_.CancelRequested) {
            if (io_.AutoAdjustDPI) AdjustDpi();
            PassResolutionToView();
        } else if (io_.LastError.empty()) {
            io_.LastError = IEFormat("the %s reader could not read the image", format.Description.c_str());
        }
        RefreshAttached();
        file.reset();
        io_.ReportFinish();
    }

    // Video files need a video reader, which this platform does not provide.
    void LoadVideo(int32_t formatId) {
        FailAndFinish(NoReaderText(formatId));
    }

    // Reads only the parameters of the image in the stream with the reader of formatId.
    void ReadParams(TStream& stream, int32_t formatId, const std::filesystem::path* fileName) {
        params_.FormatId = formatId;
        params_.ClearMetadata();
        io_.CancelRequested = 0;
        if (fileName) params_.SourcePath = *fileName;
        try {
            const TIEFileFormatInfo* format = formatId > 0 ? FormatRegistryFind(formatId) : nullptr;
            const TIELoaderEntry* entry = format && format->BuiltIn ? IEFindLoader(formatId) : nullptr;
            if (!format) {
                Fail(formatId > 0 ? IEFormat("no image format with id %d is registered", formatId)
                                  : std::string("the image format is not recognised"));
            } else if (format->BuiltIn && !(entry && entry->HasReader())) {
                Fail(entry || format->ReadProc ? NoReaderText(formatId)
                                               : IEFormat("%s files cannot be read", format->Description.c_str()));
            } else if (!format->BuiltIn && !format->ReadProc) {
                Fail(IEFormat("%s files cannot be read", format->Description.c_str()));
            } else {
                TIEBufferedReadStream buffered(stream, 8192);
                ProgressRecord record = Record();
                TIEBitmap scratch;  // readers never touch pixels with paramsOnly; guard the buffer anyway
                if (!format->BuiltIn) {
                    format->ReadProc(buffered, scratch, params_, true, record);
                } else if (entry->ReadEx) {
                    TIEReaderExtra extra;
                    extra.DataSize = std::max<int64_t>(0, stream.Size() - stream.Position());
                    entry->ReadEx(buffered, scratch, params_, true, record, extra);
                } else {
                    entry->Read(buffered, scratch, params_, true, record);
                }
                if (io_.CancelRequested && io_.LastError.empty())
                    io_.LastError = IEFormat("the %s header could not be read", IEFormatShortName(formatId));
            }
        } catch (const std::exception& e) {
            params_.FormatId = 0;
            io_.LastError = e.what();
            io_.CancelRequested = 1;
        }
        if (io_.CancelRequested) params_.FormatId = 0;
        io_.ReportFinish();
    }

private:
    TImageIO& io_;
    TIOParamsVals& params_;
};

// ---------------------------------------------------------------------------------------------
// Load operations

void TImageIO::LoadFile(const std::filesystem::path& fileName, int32_t formatId) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kIntPath, [=, this] { LoadFile(fileName, formatId); });
        return;
    }
    IEInitializeEngine();
    LastError.clear();
    if (!buffer_) return;
    TIELoader loader(*this);
    if (fileName.empty()) {
        loader.FailAndFinish("no file name was given");
        return;
    }
    const std::string lowerName = Lower(fileName.string());
    for (const char* scheme : {"http://", "https://", "ftp://"}) {
        if (lowerName.rfind(scheme, 0) == 0) {
            LoadUrl(fileName.string());
            return;
        }
    }
    const std::string ext = Lower(fileName.extension().string());
    if (ext == ".avi") {
        loader.LoadVideo(iofmtAVI);
        return;
    }
    if (formatId > 0) {
        LoadFileOfFormat(fileName, formatId);
        return;
    }
    const TIEFileFormatInfo* format = FormatRegistryFindByExtension(ext);
    if (!format && !ext.empty() && std::string("*.wmv;*.mpg;*.mpeg;").find(ext + ";") != std::string::npos) {
        loader.LoadVideo(ext == ".wmv" ? iofmtWMV : iofmtMPEG);
        return;
    }
    if (!format) {
        loader.FailAndFinish(ext.empty() ? std::string("the file name has no extension to tell its format")
                                         : IEFormat("the extension \"%s\" names no known image format", ext.c_str()));
        return;
    }
    const TIELoaderEntry* entry = format->BuiltIn ? IEFindLoader(format->FormatId) : nullptr;
    if (entry)
        loader.FileLoader(fileName, format->FormatId, *entry);
    else
        loader.RegisteredReaderPath(*format, &fileName, nullptr, true);
}

void TImageIO::LoadFileAuto(const std::filesystem::path& fileName) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kPath, [=, this] { LoadFileAuto(fileName); });
        return;
    }
    const int32_t formatId = DetectFileFormat(fileName, false);
    if (formatId != 0)
        LoadFileOfFormat(fileName, formatId);
    else
        LoadFile(fileName, -1);
}

void TImageIO::LoadFileOfFormat(const std::filesystem::path& fileName, int32_t formatId) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kPathInt, [=, this] { LoadFileOfFormat(fileName, formatId); });
        return;
    }
    IEInitializeEngine();
    LastError.clear();
    const TIEFileFormatInfo* format = FormatRegistryFind(formatId);
    TIELoader loader(*this);
    if (!format) {
        // Nothing can be read; say so rather than leave an earlier success standing.
        loader.Fail(IEFormat("no image format with id %d is registered", formatId));
        return;
    }
    if (format->BuiltIn) {
        if (const TIELoaderEntry* entry = IEFindLoader(formatId)) {
            loader.FileLoader(fileName, formatId, *entry);
        } else {
            LoadFile(fileName, -1);
        }
        return;
    }
    loader.RegisteredReaderPath(*format, &fileName, nullptr, false);
}

void TImageIO::LoadStream(TStream& stream) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kStream, [this, &stream] { LoadStream(stream); });
        return;
    }
    IEInitializeEngine();
    LastError.clear();
    const int32_t formatId = DetectStreamFormat(stream);
    if (formatId == 0 || !FormatRegistryFind(formatId)) {
        TIELoader(*this).Fail(formatId == 0 ? std::string("the image format of the data is not recognised")
                                            : IEFormat("no image format with id %d is registered", formatId));
        return;
    }
    LoadStreamOfFormat(stream, formatId);
}

void TImageIO::LoadStreamOfFormat(TStream& stream, int32_t formatId) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kStreamInt, [this, &stream, formatId] { LoadStreamOfFormat(stream, formatId); });
        return;
    }
    IEInitializeEngine();
    LastError.clear();
    TIELoader loader(*this);
    const TIEFileFormatInfo* format = formatId != 0 ? FormatRegistryFind(formatId) : nullptr;
    if (!format) {
        loader.Fail(IEFormat("no image format with id %d is registered", formatId));
        return;
    }
    if (!format->BuiltIn) {
        loader.RegisteredReaderPath(*format, nullptr, &stream, false);
        return;
    }
    const TIELoaderEntry* entry = IEFindLoader(formatId);
    if (!entry) {
        loader.Fail(IEFormat("%s files cannot be read", format->Description.c_str()));
        return;
    }
    loader.StreamLoader(stream, formatId, *entry, nullptr, false);
}

void TImageIO::LoadMemory(const void* data, int64_t size, int32_t formatId) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kTwoValues, [=, this] { LoadMemory(data, size, formatId); });
        return;
    }
    LastError.clear();
    if (!data || size <= 0) {
        TIELoader(*this).Fail("the memory block is empty");
        return;
    }
    TIEMemoryReadStream stream(data, size);
    if (formatId != 0)
        LoadStreamOfFormat(stream, formatId);
    else
        LoadStream(stream);
}

// ---------------------------------------------------------------------------------------------
// Reading parameters only

void TImageIO::ReadParamsFile(const std::filesystem::path& fileName) {
    ReadParamsFile(fileName, DetectFileFormat(fileName, true));
}

void TImageIO::ReadParamsFile(const std::filesystem::path& fileName, int32_t formatId) {
    IEInitializeEngine();
    LastError.clear();
    TIELoader loader(*this);
    std::unique_ptr<TIEWideFileStream> file;
    try {
        file = std::make_unique<TIEWideFileStream>(fileName, ieOpenRead);
    } catch (const std::exception& e) {
        Params().FormatId = 0;
        Params().SourcePath = fileName;
        loader.Fail(e.what());
        ReportFinish();
        return;
    }
    loader.ReadParams(*file, formatId, &fileName);
}

void TImageIO::ReadParamsStream(TStream& stream) { ReadParamsStream(stream, DetectStreamFormat(stream)); }

void TImageIO::ReadParamsStream(TStream& stream, int32_t formatId) {
    IEInitializeEngine();
    LastError.clear();
    TIELoader(*this).ReadParams(stream, formatId, nullptr);
}

void TImageIO::ReadParamsMemory(const void* data, int64_t size) {
    LastError.clear();
    if (!data || size <= 0) {
        Params().FormatId = 0;
        TIELoader(*this).Fail("the memory block is empty");
        return;
    }
    TIEMemoryReadStream stream(data, size);
    ReadParamsStream(stream);
}

void TImageIO::ReadParamsMemory(const void* data, int64_t size, int32_t formatId) {
    LastError.clear();
    if (!data || size <= 0) {
        Params().FormatId = 0;
        TIELoader(*this).Fail("the memory block is empty");
        return;
    }
    TIEMemoryReadStream stream(data, size);
    ReadParamsStream(stream, formatId);
}

// ---------------------------------------------------------------------------------------------
// The open dialog's filter

std::string TImageIO::OpenDialogFilter(bool withVideo) {
    RefreshGifCapabilities();
    std::string allImages, jpegPair, pairs;
    for (const auto& entry : FormatRegistryEntries()) {
        if (entry->ExtensionList.empty() || !entry->ReadProc) continue;
        std::string patterns;
        const std::string list = Lower(entry->ExtensionList);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) patterns += (patterns.empty() ? "*." : ";*.") + list.substr(start, end - start);
            start = end + 1;
        }
        const std::string pair = entry->Description + " (" + patterns + ")|" + patterns;
        if (entry->FormatId == iofmtJPEG && entry->BuiltIn)
            jpegPair = pair;
        else
            pairs += "|" + pair;
        if (entry->BuiltIn) {
            const size_t semicolon = patterns.find(';');
            allImages += (allImages.empty() ? "" : ";") + patterns.substr(0, semicolon);
        }
    }
    if (withVideo) {
        allImages += ";*.avi;*.mpg;*.wmv";
        pairs += "|Video (*.avi)|*.avi|Mpeg (*.mpeg;*.mpg)|*.mpeg;*.mpg|Windows Media Video (*.wmv)|*.wmv";
    }
    std::string filter = "All images (" + allImages + ")|" + allImages + "|All files (*.*)|*.*";
    if (!jpegPair.empty()) filter += "|" + jpegPair;
    return filter + pairs;
}

}  // namespace quirelle
