// Fuzzes the wireless bitmap reader. Seeds: the hand-made files in fuzz/corpus/wbmp and the
// suites' files listed in fuzz/wbmp.seeds.
#include <cstdint>
#include <cstdlib>

#include "readers/iewbmp.h"

using namespace quirelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TIEMemoryReadStream stream(data, static_cast<int64_t>(size));
    ReadWbmp(stream, bitmap, params, true, progress);
    if (!bitmap.IsEmpty()) std::abort();  // params only never touches the buffer
    stream.SetPosition(0);
    cancel = 0;
    ReadWbmp(stream, bitmap, params, false, progress);
    uint32_t sum = 0;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.RowAddress(y);
        if (!row) std::abort();
        for (int32_t i = 0; i < bitmap.RowLength(); ++i) sum += row[i];
    }
    volatile uint32_t sink = sum;
    (void)sink;
    return 0;
}
