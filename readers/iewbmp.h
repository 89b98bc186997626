// Wireless bitmaps (WBMP) of type 0: a header of multi-byte integers (type, fixed header, width,
// height) followed by uncompressed 1-bit rows, most significant bit first, 1 = white.
#pragma once

#include "image/ieutils.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/iestreams.h"

namespace quirelle {

// Reads a type 0 wireless bitmap from the stream's position into an ie1g buffer. A header that
// is not type 0 with a plain fixed header, or that has a zero or unreadable size, sets the
// progress record's cancel flag; so does a body that ends early (the rows read are kept). With
// paramsOnly only the parameter set is filled.
void ReadWbmp(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress);

}  // namespace quirelle
