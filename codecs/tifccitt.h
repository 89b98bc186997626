// CCITT fax coding (ITU-T T.4 and T.6) of bilevel rows.
//
// Rows are packed 1 bit per pixel, most significant bit first (bit 7 of byte 0 is pixel 0), as the
// ie1g pixel format stores them; a row buffer holds at least ((width + 31) / 32) x 4 bytes and bits
// beyond the width are ignored. A 0 bit is coded as a T.4 white pixel and a 1 bit as a T.4 black
// pixel, so a decoder told BlackIs1 returns the bits it was given.
//
// The encoders are called once per row from top to bottom with the same width and state, then once
// with no row to end the data. Rows are packed back to back (never byte-aligned) and the output of
// all calls is one bit string; nothing is left pending after the ending call.
//   CcittEncodeRowG3: T.4 two-dimensional coding, K = 1 in PDF/PostScript terms: an EOL and a tag
//     bit before every row, the first row one-dimensional (tag 1), every later row two-dimensional
//     against the row above (tag 0); the ending call writes one more EOL.
//   CcittEncodeRowG4: T.6 coding, K = -1: every row two-dimensional against the row above (an
//     all-white row before the first); the ending call writes the end-of-facsimile-block (two
//     EOLs).
// Neither emits uncompressed-mode codes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "codecs/ccittcodes.h"

namespace quirelle {

class TStream;

// Coder state owned by the caller and passed to every call of one image; starts empty.
struct TCcittEncoderState {
    // A copy of the previous row, ((width + 31) / 32) x 4 bytes; none before the first row and
    // after the ending call.
    std::optional<std::vector<uint8_t>> ReferenceLine;
    // Coded bits not yet written because they do not fill a byte (0..7), held in PendingByte's
    // high-order bits (fill order 1) or low-order bits (fill order 2).
    int32_t PendingBitCount = 0;
    uint8_t PendingByte = 0;
};

// Codes one row (row != nullptr) or ends the data (row == nullptr) into output. Fill order 1 puts
// code bits into each byte from the most significant bit down, 2 from the least significant bit
// up (any other value counts as 1). When the stream stores fewer bytes than offered, *cancelFlag
// (if given) is set to 1 and coding goes on; streams that raise on failure raise through here.
// Running out of memory raises EIEOutOfMemory.
void CcittEncodeRowG3(const uint8_t* row, int32_t width, TStream& output, int32_t fillOrder, uint8_t* cancelFlag,
                      TCcittEncoderState& state);
void CcittEncodeRowG4(const uint8_t* row, int32_t width, TStream& output, int32_t fillOrder, uint8_t* cancelFlag,
                      TCcittEncoderState& state);

// Bytes a row buffer of the given width holds: ((width + 31) / 32) x 4.
constexpr int32_t CcittRowBytes(int32_t width) { return width > 0 ? static_cast<int32_t>((int64_t{width} + 31) / 32 * 4) : 0; }

}  // namespace quirelle
