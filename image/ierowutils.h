// Row utilities shared by the readers, the writers and acquisition: plain functions on byte rows
// (bit copies and red/blue swaps) and the whole-buffer bit inversion of 1-bit images.
#pragma once

#include <cstdint>

namespace quirelle {

class TIEBitmap;

// Copies bitCount bits, most significant bit first, from source (starting sourceBitOffset bits
// into it) to destination (starting destinationBitOffset bits into it). Destination bits outside
// the copied range keep their values. Nothing happens for a bit count below 1 or a negative
// offset. At most sourceLength bytes, counted from the byte that holds the first source bit, are
// read; bits beyond them are not copied.
void CopyBits(uint8_t* destination, const uint8_t* source, int32_t destinationBitOffset, int32_t sourceLength,
              int32_t bitCount, int32_t sourceBitOffset);

// Inverts every bit of every row (all RowLength bytes), turning a 1-bit image stored with
// 1 = black into the ie1g convention and back.
void InvertRows(TIEBitmap& bitmap);

// Copies n 3-byte pixels, swapping the first and third byte of each (red-green-blue to
// blue-green-red and back). Source and destination must not overlap unless they are equal.
void CopySwapRB(uint8_t* destination, const uint8_t* source, int32_t n);

// Swaps the first and third byte of n 3-byte pixels in place.
void SwapRB(uint8_t* row, int32_t n);

}  // namespace quirelle
