// Pages of documents for the writer tests: a test picture, comparisons of rendered pages with
// their source placed top-left, and a fixed creation date.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "image/ieutils.h"
#include "tests/support/render.h"

namespace quirelle::test {

// Pins the creation date to Wed Dec 09 13:45:02 2026 (UTC).
class FixedDocumentDate {
public:
    FixedDocumentDate() {
        setenv("SOURCE_DATE_EPOCH", "1796823902", 1);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~FixedDocumentDate() { unsetenv("SOURCE_DATE_EPOCH"); }
};

// A test picture of large blocks (4 x 3 pixels), so that scaling by an integer keeps every block
// exact: black and white for ie1g buffers, colours otherwise.
void DrawBlocks(TIEBitmap& b);

// Compares a rendered page with the source scaled by an integer factor into the top-left corner;
// the rest of the page must be white.
void ExpectPagePlacedTopLeft(const RgbImage& page, TIEBitmap& source, int32_t factor, const std::string& what);

// Compares a rendered JPEG page with the decoded JPEG (a level or two of rounding apart) and with
// the picture (the JPEG loss), scaled by an integer factor into the top-left corner; the rest of
// the page must be white.
void ExpectJpegPagePlacedTopLeft(const RgbImage& page, TIEBitmap& source, TIEBitmap& decoded, int32_t factor, bool gray,
                                 const std::string& what, int32_t edgeSlack = 0);

}  // namespace quirelle::test
