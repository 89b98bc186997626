// Fuzzes the wireless bitmap reader. Seeds: the hand-made files in fuzz/corpus/wbmp and the
// suites' files listed in fuzz/wbmp.seeds.
#include <cstdint>
#include <cstdlib>

#include "readers/iewbmp.h"
#include "fuzz/fuzzsupport.h"

using namespace quirelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckParamsOnly(ReadWbmp, data, size);
    TIEBitmap bitmap;
    TIOParamsVals params;
    uint8_t cancel = 0;
    ProgressRecord progress;
    progress.CancelFlag = &cancel;
    TIEMemoryReadStream stream(data, static_cast<int64_t>(size));
    ReadWbmp(stream, bitmap, params, false, progress);
    fuzz::TouchEveryPixel(bitmap);
    return 0;
}
