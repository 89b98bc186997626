// The PostScript Level 2 document writer: a DSC 3.0 comment header, one page per image (scaled to
// fit the paper, placed at the top-left corner, image data as ASCII85 text of PackBits, CCITT fax
// or JPEG data) and a trailer. Pages are appended to an open file; the header's page count is
// rewritten in place for every page.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "io/ioprogress.h"

namespace quirelle {

class TStream;
class TMemoryStream;
class TIEBitmap;
class TIOParamsVals;

// State of an open document: where the "%%Pages: " line starts and where the last page ends.
struct PsDocState {
    int64_t PagesLinePos = 0;
    int64_t PageEndPos = 0;
};

// The most pages a document can count in its fixed-width header field.
inline constexpr int32_t kPsMaxPages = 999999;

// Writes the header at the stream's current position. The stream must be readable, writable and
// seekable: the page count is read back for every page.
std::unique_ptr<PsDocState> PsOpenDocument(TStream& stream, TIOParamsVals& params);
// Adds the buffer's image (ie1g or ie24RGB) as the next page. Raises EIEException, writing
// nothing, for an image without pixels or when the document already counts 999999 pages.
void PsAppendPage(PsDocState& state, TStream& stream, TIEBitmap& buffer, TIOParamsVals& params,
                  ProgressRecord& progress);
// Writes the trailer and frees the state; nothing for a null state. The stream stays open.
void PsCloseDocument(std::unique_ptr<PsDocState>& state, TStream& stream);
void PsWriteSinglePage(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress);

// Scales an image of w x h pixels to fit a page of pw x ph points keeping its aspect ratio:
// scale = min(pw / w, ph / h) as a double, outputs = integer parts of the exact products (0
// becomes 1). When w or h is 0 the outputs keep their values.
void FitImageToPage(int32_t w, int32_t h, int32_t pw, int32_t ph, int32_t& sw, int32_t& sh);

// Page-level pieces, exposed for the tests.
void PsWritePageBody(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, int32_t pageHeight, int32_t pageWidth,
                     int32_t pageNumber, ProgressRecord& progress);
int64_t PsEncodeImageData(TMemoryStream& output, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress);
void WriteTextLine(TStream& stream, const std::string& text);
std::string IntToDecimal(int64_t value);
std::string PaddedDecimal(int64_t value, int32_t width);
void CopyStream(TStream& target, TStream& source);
// "ddd mmm dd hh:nn:ss yyyy" in local time with English names.
std::string PsCreationDate(std::time_t t);

}  // namespace quirelle
