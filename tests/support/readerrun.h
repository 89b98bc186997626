// Runs a reader over bytes held in memory, with a cancel flag, as the loaders call readers.
#pragma once

#include <cstdint>
#include <string>

#include "image/ieutils.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/iestreams.h"

namespace quirelle::test {

struct ReaderRun {
    using Reader = void (*)(TStream&, TIEBitmap&, TIOParamsVals&, bool paramsOnly, ProgressRecord&);

    explicit ReaderRun(Reader r) : reader(r) { progress.CancelFlag = &cancel; }
    // True when the reader did not set the cancel flag.
    bool Read(const std::string& data, bool paramsOnly = false) {
        TIEMemoryReadStream stream(data.data(), static_cast<int64_t>(data.size()));
        return Read(stream, paramsOnly);
    }
    bool Read(TStream& stream, bool paramsOnly = false) {
        reader(stream, bitmap, params, paramsOnly, progress);
        return cancel == 0;
    }
    BgrColor Px(int32_t x, int32_t y) { return bitmap.PixelAsBgr(x, y); }
    // Row y of a 1-bit image as '#' (black) and '.' (white).
    std::string Row(int32_t y) {
        std::string s;
        for (int32_t x = 0; x < bitmap.Width(); ++x) s += bitmap.GetPixel1(x, y) ? '.' : '#';
        return s;
    }

    Reader reader;
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
};

}  // namespace quirelle::test
