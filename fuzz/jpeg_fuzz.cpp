// Fuzzes the JPEG load path: the stream utilities, a parameters-only read, then a full decode
// with switches picked by the input's last byte (native format, scale, DCT method, kept YCbCr,
// CMYK inversion, a row limit, a tables stream), touching every output byte. Images that load
// cleanly are saved again with the markers they came with and must load back at the same size.
// Seeds: the hand-made files in fuzz/corpus/jpeg and the suites' files listed in fuzz/jpeg.seeds.
#include <cstdint>
#include <cstdlib>

#include "codecs/jpegfilt.h"
#include "fuzz/fuzzsupport.h"

namespace {

using namespace quirelle;

// Full decodes are skipped above this many pixels: they are slow without finding more.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t options = size > 0 ? data[size - 1] : 0;
    TIEMemoryReadStream stream(data, static_cast<int64_t>(size));

    // The utilities restore the position and never read outside the data.
    if (FindJpegStart(stream, true) >= static_cast<int64_t>(size) && size > 0) std::abort();
    if (JpegStreamLength(stream) > static_cast<int64_t>(size)) std::abort();
    {
        TIOParamsVals params;
        ReadJpegIccProfile(stream, params);
        if (stream.Position() != 0) std::abort();
    }

    TIOParamsVals params;
    params.JpegScaleChoice = static_cast<uint8_t>(options & 7);
    params.JpegDctKind = static_cast<uint8_t>((options >> 3) % 3);
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    {
        TIEBitmap untouched;
        LoadJpegFromStream(stream, nullptr, untouched, false, -1, true, true, false, true, false, true, progress, params);
        if (!untouched.IsEmpty()) std::abort();  // header only never touches the buffer
    }
    if (cancel || int64_t{params.PixelWidth} * params.PixelHeight > kMaxFuzzPixels) return 0;

    const bool native = options & 0x20;
    const bool keepYCbCr = options & 0x40;
    const bool tables = options & 0x80;
    const int32_t rowLimit = (options & 0x18) == 0x18 ? params.PixelHeight / 2 : -1;
    TIEBitmap bitmap;
    TIEMemoryReadStream tablesStream(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    const int32_t rows = LoadJpegFromStream(stream, tables ? &tablesStream : nullptr, bitmap, native, rowLimit, true,
                                            true, options & 1, true, keepYCbCr, false, progress, params, 64, 64);
    if (rows < 0 || rows > bitmap.Height()) std::abort();
    fuzz::TouchEveryPixel(bitmap);
    if (cancel || bitmap.IsEmpty() || int64_t{bitmap.Width()} * bitmap.Height() > 256 * 256) return 0;

    // Saved again, with the file's markers, in a model picked by the options.
    params.JpegColorModel = static_cast<uint8_t>(options % 5);
    params.JpegProgressiveScan = options & 2;
    params.JpegOptimizeTables = options & 4;
    TMemoryStream saved;
    ProgressRecord saving;
    uint8_t savingCancel = 0;
    saving.CancelFlag = &savingCancel;
    try {
        SaveJpegToStream(saved, bitmap, params, saving);
    } catch (const EIEJpegException&) {
        std::abort();  // the saver's settings are always valid
    }
    if (savingCancel) std::abort();
    TIEBitmap back;
    TIOParamsVals backParams;
    uint8_t backCancel = 0;
    ProgressRecord reading;
    reading.CancelFlag = &backCancel;
    saved.SetPosition(0);
    LoadJpegFromStream(saved, nullptr, back, false, -1, true, true, false, true, false, false, reading, backParams);
    if (backCancel || back.Width() != bitmap.Width() || back.Height() != bitmap.Height()) std::abort();
    return 0;
}
