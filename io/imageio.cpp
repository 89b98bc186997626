#include "io/imageio.h"

namespace quirelle {

TImageIO::TImageIO() : ownedBuffer_(std::make_unique<TIEBitmap>()), ownsBuffer_(true) {
    buffer_ = ownedBuffer_.get();
    params_ = std::make_unique<TIOParamsVals>(this);
}

TImageIO::TImageIO(TIEBitmap* buffer, IImageViewLink* view) : ownsBuffer_(buffer == nullptr), view_(view) {
    if (buffer) {
        buffer_ = buffer;
    } else {
        ownedBuffer_ = std::make_unique<TIEBitmap>();
        buffer_ = ownedBuffer_.get();
    }
    params_ = std::make_unique<TIOParamsVals>(this);
}

TImageIO::~TImageIO() = default;

}  // namespace quirelle
