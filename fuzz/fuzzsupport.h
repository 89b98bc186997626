// Shared pieces of the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "image/ieutils.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/iestreams.h"

namespace quirelle::fuzz {

// Reads every byte of the image's rows (the part the pixels use), so that the sanitizers see
// any byte a reader or conversion left out; a row that cannot be reached aborts the run.
inline void TouchEveryPixel(TIEBitmap& bitmap) {
    if (bitmap.IsEmpty()) return;
    const auto used = static_cast<size_t>((int64_t{bitmap.Width()} * bitmap.BitsPerPixel() + 7) / 8);
    uint8_t sum = 0;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.RowAddress(y);
        if (!row) std::abort();
        for (size_t i = 0; i < used; ++i) sum = static_cast<uint8_t>(sum + row[i]);
    }
    volatile uint8_t sink = sum;
    (void)sink;
}

using ReaderProc = void (*)(TStream&, TIEBitmap&, TIOParamsVals&, bool paramsOnly, ProgressRecord&);

// Reads the data with params-only set; a reader that touches the buffer anyway aborts the run.
inline void CheckParamsOnly(ReaderProc reader, const uint8_t* data, size_t size) {
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TIEMemoryReadStream stream(data, static_cast<int64_t>(size));
    reader(stream, bitmap, params, true, progress);
    if (!bitmap.IsEmpty()) std::abort();
}

}  // namespace quirelle::fuzz
