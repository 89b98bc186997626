// ASCII85 encoder for the binary data of PostScript pages ("currentfile /ASCII85Decode filter").
// Every block is complete on its own: digits in lines of about 75 characters ended by CR LF, then
// the end marker "~>" and CR LF.
#pragma once

#include <cstdint>

namespace quirelle {

// Encodes the next k bytes (0..4; other values are clamped) of source as one ASCII85 group:
// the bytes form a big-endian 32-bit number (missing trailing bytes count as zero), written as
// k + 1 base-85 digits "!".."u", most significant first; a full group of four zero bytes is the
// single character "z". Advances source by k and destination past the characters written, and
// returns their number (1 for "z", k + 1 otherwise).
int32_t EncodeAscii85Group(const uint8_t*& source, int32_t k, uint8_t*& destination);

// Encodes count bytes of source as one self-terminated ASCII85 block: groups of four bytes, a CR
// LF after the group that brings the current line to 75 characters or more, then "~>" CR LF.
// Advances source past the bytes read and destination past everything written, adds to counter
// the number of digits and "z" characters written (without line breaks and end marker), and
// returns the number of bytes written in total. A count of 0 or below writes the empty block
// "~>" CR LF (returns 4, counter unchanged). Destination must hold Ascii85MaxEncodedSize(count)
// bytes.
int32_t EncodeAscii85Block(const uint8_t*& source, int32_t count, uint8_t*& destination, int64_t& counter);

// Worst-case output size of EncodeAscii85Block: 5 x ceil(count / 4) characters, a CR LF for
// every 75 of them, and the four bytes of the end marker line.
int64_t Ascii85MaxEncodedSize(int64_t count);

}  // namespace quirelle
