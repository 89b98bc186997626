// Fuzzes the PNM reader in both pixel-format modes. Every image it loads completely is written
// back with the PNM writer and must read back to the same pixels. Seeds: the hand-made files in
// fuzz/corpus/pnm (one per form and quirk) and the suites' files listed in fuzz/pnm.seeds.
#include <cstdint>
#include <cstdlib>

#include "readers/iepnm.h"
#include "fuzz/fuzzsupport.h"

namespace {

using namespace quirelle;

struct Loaded {
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;

    Loaded(const uint8_t* data, size_t size, bool native) {
        progress.CancelFlag = &cancel;
        params.NativePixelFormat = native;
        TIEMemoryReadStream stream(data, static_cast<int64_t>(size));
        ReadPnm(stream, bitmap, params, false, progress);
    }
};

// Reads every byte of every row, so that the sanitizers see all of them.

bool SamePixel(TIEBitmap& a, TIEBitmap& b, int32_t x, int32_t y) {
    if (a.Format() == ieRGB48 && b.Format() == ieRGB48) return a.GetPixel48(x, y) == b.GetPixel48(x, y);
    return a.PixelAsBgr(x, y) == b.PixelAsBgr(x, y);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool native = size > 0 && (data[size - 1] & 1);
    fuzz::CheckParamsOnly(ReadPnm, data, size);
    Loaded first(data, size, native);
    if (first.bitmap.IsEmpty()) return 0;
    fuzz::TouchEveryPixel(first.bitmap);
    if (first.cancel) return 0;

    TMemoryStream written;
    WritePnm(written, first.bitmap, first.params, first.progress);
    Loaded second(written.Memory(), static_cast<size_t>(written.Size()), native);
    if (second.cancel || second.bitmap.Width() != first.bitmap.Width() ||
        second.bitmap.Height() != first.bitmap.Height())
        std::abort();
    for (int32_t y = 0; y < first.bitmap.Height(); ++y)
        for (int32_t x = 0; x < first.bitmap.Width(); ++x)
            if (!SamePixel(first.bitmap, second.bitmap, x, y)) std::abort();
    return 0;
}
