// PackBits run-length encoder for RunLengthDecode image data (PDF streams and, behind ASCII85, the
// PostScript pages). Every call produces one complete piece of data ended by the end-of-data code
// 128, read back by a RunLengthDecode filter of its own.
#pragma once

#include <cstdint>

namespace quirelle {

// Encodes count bytes of source into destination and returns the number of bytes written, the
// final 128 included. Runs of two or more equal bytes (up to 128) become a repeat block; other
// stretches become literal blocks of up to 128 bytes. A literal block ends at the first byte that
// equals the byte before it, and takes that earlier byte along, so the next block starts at the
// second byte of the pair. Destination must hold PackBitsMaxEncodedSize(count) bytes. A count of 0
// or below writes only the end-of-data code.
int32_t EncodePackBits(const uint8_t* source, int32_t count, uint8_t* destination);

// Worst-case output size of EncodePackBits for count input bytes: floor(3 x (count + 1) / 2)
// (alternating pairs cost three bytes for every two), at least 1.
int64_t PackBitsMaxEncodedSize(int64_t count);

}  // namespace quirelle
