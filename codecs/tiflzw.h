// LZW coding in the TIFF flavour, which the PDF LZWDecode filter also reads with its default
// settings: codes packed most significant bit first, Clear 256, end of information (EOI) 257,
// first free code 258, code widths 9 to 12 bits, and the width growing one code early (the
// "early change": 10 bits once the next free code reaches 511, 11 at 1023, 12 at 2047).
//
// Both functions have the signatures of the parameter set's LZW hooks (TTiffLzwDecoderProc,
// TTiffLzwEncoderProc in io/ioparams.h); the engine installs them as the program-wide defaults.
#pragma once

#include <cstdint>

namespace quirelle {

class TStream;

// Decodes the next row of a strip.
// - First call (*state == nullptr): creates the state for data[0 .. length) and the fill order
//   (2: the bits of every byte are reversed, anything else: 1) and decodes the first row. Later
//   calls decode the next row from the same data (their data, length and fill order are not used
//   again, only tested for null).
// - data == nullptr: releases the state, sets *state to nullptr and returns nullptr.
// Returns the row (rowLength bytes, valid until the next call), or nullptr on an error: a code
// after Clear that is not yet defined, a first code that is no byte, a dictionary that would grow
// past 4096 entries, a negative row length, or no memory. After an error every call returns
// nullptr until the state is released.
// Reading never goes past the strip: the end of the data counts as EOI, and so does a code above
// the next free code. A string that runs past the row is kept for the next row. Once the data has
// ended, the rest of the row and every later row are zero bytes.
const uint8_t* TiffLzwDecodeRow(const uint8_t* data, int64_t length, int32_t rowLength, void** state,
                                int32_t fillOrder);

// Continues one LZW code stream into output.
// - First call (*state == nullptr) with bytes: creates the state and writes Clear, then codes
//   the bytes. Later calls with bytes (count >= 0) continue the same stream; calls are not
//   separated in the data.
// - bytes == nullptr: ends the data (the pending string, EOI, the last byte padded with zero
//   bits), writes what is buffered, releases the state and sets *state to nullptr. Ending a
//   stream that never started writes Clear and EOI, an empty but complete stream.
// After 4094 codes are in use the encoder writes Clear (at 12 bits) and starts over at 9 bits.
// Output goes to the stream in blocks of 254 bytes and at the end; stream failures raise through
// here (memory streams never store short).
void TiffLzwEncode(const uint8_t* bytes, int32_t count, TStream& output, void** state);

}  // namespace quirelle
