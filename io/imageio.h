// TImageIO: the image I/O object. It owns (or borrows from an image view) one image buffer and
// owns one parameter set; every load, save and document operation works on that pair.
#pragma once

#include <cstdint>
#include <memory>

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

private:
    TIEBitmap* buffer_ = nullptr;
    std::unique_ptr<TIEBitmap> ownedBuffer_;
    bool ownsBuffer_ = true;
    IImageViewLink* view_ = nullptr;
    TBitmap* picture_ = nullptr;
    std::unique_ptr<TIOParamsVals> params_;
};

}  // namespace quirelle
