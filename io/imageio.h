// TImageIO: the image I/O object. It owns (or borrows from an image view) one image buffer and
// owns one parameter set; every load, save and document operation works on that pair. A
// PostScript and a PDF document can be open on it at the same time; destroying it completes both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/iebitmap.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/iethreads.h"

namespace quirelle {

class TStream;
class TIEWideFileStream;
struct PsDocState;
struct PdfDocState;
class TImageIO;

using TIEFinishEvent = std::function<void(TImageIO* sender)>;

// The acquisition side of an I/O object (source selection and acquiring into its buffer). The
// acquisition layer installs the factory that makes it; without one, nothing can be acquired.
class TIEAcquireBase {
public:
    virtual ~TIEAcquireBase() = default;
    // Lets the user choose a source among those of the API set (bit 0 TWAIN, bit 1 WIA, bit 2
    // camera folder; 0 = all). False when none was chosen (or none exists).
    virtual bool SelectSource(uint8_t apis) = 0;
    // Acquires one image from the selected source into the buffer.
    virtual bool AcquireInto(TIEBitmap& bitmap, TIOParamsVals& params, bool nativePixelFormat,
                             const TIEProgressEvent& progress) = 0;
    // The API of the selected source: 0 TWAIN, 1 WIA, 2 camera folder, 3 none.
    virtual uint8_t SelectedApi() const = 0;
};
using TIEAcquireFactory = std::function<std::unique_ptr<TIEAcquireBase>(TImageIO& owner)>;
extern TIEAcquireFactory IEAcquireFactory;

// A background worker running one operation of an I/O object. It registers itself in the
// object's worker list when created and removes itself (signalling the object when the list
// becomes empty) when the operation ends; it frees itself.
class TIEIOThread {
public:
    // Operation kinds (the shape of the call the worker makes).
    enum Kind : uint8_t {
        kPath = 0, kIntPath = 1, kStream = 2, kPathResult = 3, kSelf = 4, kStreamResult = 5, kPathInt = 6,
        kStreamInt = 7, kTwoValues = 8, kInt = 9, kPathIntsFlag = 10, kPath2 = 11, kFlag = 12
    };
    // Starts the worker at once.
    static void Start(TImageIO& owner, Kind kind, std::function<void()> operation);

    Kind OperationKind() const { return kind_; }
    std::thread::id ThreadId() const { return threadId_; }

private:
    TIEIOThread(TImageIO& owner, Kind kind, std::function<void()> operation);
    void Run();
    TImageIO& owner_;
    Kind kind_;
    std::function<void()> operation_;
    std::thread::id threadId_;
};

class TImageIO {
public:
    // An I/O object with a buffer of its own.
    TImageIO();
    // An I/O object working on a buffer it does not own (the image view's), optionally telling
    // the view about resolution changes and receiving the notices of background workers.
    explicit TImageIO(TIEBitmap* buffer, IImageViewLink* view = nullptr);
    virtual ~TImageIO();
    TImageIO(const TImageIO&) = delete;
    TImageIO& operator=(const TImageIO&) = delete;

    TIEBitmap* IEBitmap() const { return buffer_; }
    TIOParamsVals& Params() { return *params_; }
    const TIOParamsVals& Params() const { return *params_; }
    bool OwnsBuffer() const { return ownsBuffer_; }

    IImageViewLink* AttachedView() const { return view_; }
    // Detaches the view (the buffer stays borrowed).
    void DetachView() { view_ = nullptr; }
    // A plain picture attached instead of a view; its pixels are copied into the buffer before
    // each operation.
    void AttachPicture(TBitmap* picture) { picture_ = picture; }
    TBitmap* AttachedPicture() const { return picture_; }

    // --- PostScript documents
    // Creates the file (overwriting an existing one) and writes the header. A document already
    // open is ended first. Raises "Cannot create file ..." when the file cannot be created.
    void BeginPsDocument(const std::filesystem::path& path);
    // Appends the buffer's image as the next page; nothing when no document is open.
    void AddPsPage();
    // Writes the trailer and closes the file; nothing when no document is open.
    void EndPsDocument();
    bool PsDocumentOpen() const { return psState_ != nullptr; }
    void SavePsToStream(TStream& stream);
    void SavePsToFile(const std::filesystem::path& path);

    // --- PDF documents
    // Creates the file (overwriting an existing one) and sets up the document in memory; nothing
    // is written until the end. A document already open is ended first.
    void BeginPdfDocument(const std::filesystem::path& path);
    // Adds the buffer's image as the next page (image data spooled to a temporary file).
    void AddPdfPage();
    // Writes the whole file with its Info dictionary and closes it; the document's state and
    // temporary files are released also when writing fails.
    void EndPdfDocument();
    bool PdfDocumentOpen() const { return pdfState_ != nullptr; }
    void SavePdfToStream(TStream& stream);
    void SavePdfToFile(const std::filesystem::path& path);

    // --- image loading (io/ieload.cpp, io/ieurl.cpp)
    // Every load clears LastError; CancelRequested set afterwards means the load failed, and
    // LastError then says why.
    // id > 0: LoadFileOfFormat; otherwise the extension chooses the format (URLs and video names
    // are recognised first).
    void LoadFile(const std::filesystem::path& fileName, int32_t formatId = -1);
    // Content detection (non-strict), falling back to the extension.
    void LoadFileAuto(const std::filesystem::path& fileName);
    void LoadFileOfFormat(const std::filesystem::path& fileName, int32_t formatId);
    // Content detection from the current position.
    void LoadStream(TStream& stream);
    void LoadStreamOfFormat(TStream& stream, int32_t formatId);
    // formatId 0: content detection.
    void LoadMemory(const void* data, int64_t size, int32_t formatId = 0);
    // http://, https:// (certificate and host name verified) and ftp:// addresses.
    void LoadUrl(const std::string& url);
    // Read only the parameters (header) of an image; the buffer is not changed. FormatId is 0
    // afterwards when the format is unknown or the reader failed.
    void ReadParamsFile(const std::filesystem::path& fileName);
    void ReadParamsFile(const std::filesystem::path& fileName, int32_t formatId);
    void ReadParamsStream(TStream& stream);
    void ReadParamsStream(TStream& stream, int32_t formatId);
    void ReadParamsMemory(const void* data, int64_t size);
    void ReadParamsMemory(const void* data, int64_t size, int32_t formatId);
    // The filter text of the open-image dialog, built from the format registry.
    static std::string OpenDialogFilter(bool withVideo = false);

    // Resample loaded images whose horizontal and vertical resolutions differ (with filtering:
    // converted to ie24RGB and resampled with a Lanczos filter).
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    // Stream loads of TIFF and PCX expect the engine's header in front of the image.
    bool StreamHeaders = false;
    // Set from the file by the PNG and GIF loaders (and handed to the PNG reader).
    TColor Background = clWhite;
    // Proxy for URL loads ("host:port"; empty: direct), with optional credentials.
    std::string ProxyAddress, ProxyUser, ProxyPassword;
    // Certificate authorities trusted for https (a PEM file; empty: the system's store).
    std::string UrlCaFile;
    // Why the last load failed; empty after a load that succeeded.
    std::string LastError;

    // --- acquisition
    // Lets the user choose an acquisition source (api set as for TIEAcquireBase::SelectSource).
    bool SelectAcquireSource(uint8_t apis = 0);
    // Acquires an image from the selected source into the buffer (resetting the parameter set
    // first when asked). True when an image arrived.
    bool Acquire(bool resetParams);
    // The acquisition side, created on first use; null when no acquisition layer is installed.
    TIEAcquireBase* AcquireParams();

    // --- supporting operations
    // False when there is no buffer or (allowed non-zero, bit n = pixel format n) its format is
    // not allowed; copies an attached picture into the buffer first.
    bool PrepareBuffer(uint16_t allowedFormats = 0);
    virtual void ReportProgress(TImageIO* sender, int32_t percent);
    virtual void ReportFinish();
    bool InWorkerThread();
    void WaitForWorkers(bool cancel);
    int32_t WorkerCount();

    // Shared cancel/error flag; ProgressRecord::CancelFlag points here.
    uint8_t CancelRequested = 0;
    TIEProgressEvent OnProgress;
    TIEFinishEvent OnFinishWork;
    // Background mode: one-page saves (and loads) run on a worker when a view is attached.
    bool RunInBackground = false;

protected:
    // Converts the buffer to ie24RGB unless it is ie1g or ie24RGB, resets the cancel flag and
    // fills a progress record.
    ProgressRecord PreparePage();
    bool UseBackground();
    // Posts a notice to the view's thread when a worker reports while a view with a window is
    // attached; returns false when the notice should be delivered directly instead.
    bool PostToView(uint32_t message, int32_t param, std::function<void()> deliver);

private:
    friend class TIEIOThread;
    friend class TIELoader;
    using TIESinglePageWriter = void (*)(TStream&, TIEBitmap&, TIOParamsVals&, ProgressRecord&);
    // A one-page save: prepares the page, runs the writer, reports the finish in every case.
    void SaveSinglePage(TStream& stream, TIESinglePageWriter writer);
    // The same on a new file, which is removed again when the save fails.
    void SaveToNewFile(const std::filesystem::path& path, TIESinglePageWriter writer, int32_t formatId);

    TIEBitmap* buffer_ = nullptr;
    std::unique_ptr<TIEBitmap> ownedBuffer_;
    bool ownsBuffer_ = true;
    IImageViewLink* view_ = nullptr;
    TBitmap* picture_ = nullptr;
    std::unique_ptr<TIOParamsVals> params_;

    std::unique_ptr<PsDocState> psState_;
    std::unique_ptr<TIEWideFileStream> psStream_;
    std::unique_ptr<TIEAcquireBase> acquire_;
    bool acquiring_ = false;
    std::unique_ptr<PdfDocState> pdfState_;
    std::unique_ptr<TIEWideFileStream> pdfStream_;

    std::mutex lock_;
    std::vector<TIEIOThread*> workers_;
    TIEEvent idle_;
    // Lets notices queued for the view know whether this object still exists.
    std::shared_ptr<TImageIO*> alive_;
};

}  // namespace quirelle
