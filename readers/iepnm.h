// The portable bitmap, graymap and pixmap family (PBM, PGM, PPM): the ASCII forms P1, P2, P3 and
// the binary forms P4, P5, P6 with maximum values up to 65535. The reader fills ie1g buffers for
// the bitmaps and ie24RGB buffers otherwise (ie16gray and ieRGB48 for deep samples when
// NativePixelFormat is on); the writer picks the form from ChannelBits, ChannelCount and the
// buffer's pixel format.
#pragma once

#include <string>

#include "image/ieutils.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/iestreams.h"

namespace quirelle {

// Reads one header token. Bytes that are neither ASCII letters nor digits are skipped; a "#"
// met while skipping returns "#" followed by the rest of its line, trimmed (the line end is
// consumed). Otherwise letters and digits are collected up to the next other byte, which is
// consumed. At the end of the stream the text collected so far (possibly empty) is returned.
// Reads byte by byte: hand it a buffered stream when many tokens are read.
std::string ReadPnmToken(TStream& stream);
std::string ReadPnmToken(TIEBufferedReadStream& stream);
// The same reading at most budget more bytes (the budget is counted down); content probes use
// it so that a large file without a header is never scanned to its end.
std::string ReadPnmToken(TIEBufferedReadStream& stream, int64_t& budget);

// Reads a PBM/PGM/PPM image from the stream's position. Bad data (a missing or invalid size or
// maximum value, an unknown form, a body that ends early) sets the progress record's cancel
// flag; rows read before the data ended are kept. With paramsOnly only the parameter set is
// filled.
void ReadPnm(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress);

// Writes the buffer as P4 (1-bit), P5 (8-bit gray) or P6 (8 or 16 bits per channel), with the
// lines of PnmComments as header comments.
void WritePnm(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress);

}  // namespace quirelle
