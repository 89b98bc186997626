// TImageIO: the image I/O object. It owns (or borrows from an image view) one image buffer and
// owns one parameter set; every load, save and document operation works on that pair.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "image/iebitmap.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"

namespace quirelle {

class TImageIO {
public:
    // An I/O object with a buffer of its own.
    TImageIO();
    // An I/O object working on a buffer it does not own (the image view's), optionally telling
    // the view about resolution changes.
    explicit TImageIO(TIEBitmap* buffer, IImageViewLink* view = nullptr);
    virtual ~TImageIO();
    TImageIO(const TImageIO&) = delete;
    TImageIO& operator=(const TImageIO&) = delete;

    TIEBitmap* IEBitmap() const { return buffer_; }
    TIOParamsVals& Params() { return *params_; }
    const TIOParamsVals& Params() const { return *params_; }
    bool OwnsBuffer() const { return ownsBuffer_; }

    IImageViewLink* AttachedView() const { return view_; }
    // A plain picture attached instead of a view; its pixels are copied into the buffer before
    // each operation.
    void AttachPicture(TBitmap* picture) { picture_ = picture; }
    TBitmap* AttachedPicture() const { return picture_; }

    // Shared cancel/error flag; ProgressRecord::CancelFlag points here.
    uint8_t CancelRequested = 0;

    // ---- image loading (io/ieload.cpp, io/ieurl.cpp) ------------------------------------------
    // Every load clears LastError and CancelRequested's meaning is "the last load failed"; a failed
    // load sets LastError to a sentence saying why.
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

    // Progress and finish events (replaced at integration by the document branch's versions).
    std::function<void(TImageIO* sender, int32_t percent)> OnProgress;
    std::function<void(TImageIO* sender)> OnFinishWork;

private:
    friend class TIELoader;
    // Minimal versions of the document branch's operations (replaced at integration).
    bool PrepareBuffer(uint16_t allowedFormats);
    void ReportProgress(TImageIO* sender, int32_t percent);
    void ReportFinish();
    // ---- end of image loading ---------------------------------------------------------------

    TIEBitmap* buffer_ = nullptr;
    std::unique_ptr<TIEBitmap> ownedBuffer_;
    bool ownsBuffer_ = true;
    IImageViewLink* view_ = nullptr;
    TBitmap* picture_ = nullptr;
    std::unique_ptr<TIOParamsVals> params_;
};

}  // namespace quirelle
