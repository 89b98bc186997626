// JPEG coding on the engine's streams, image buffers and parameter set, over libjpeg-turbo
// (interface 62). Baseline and progressive JPEG in the gray, YCbCr, RGB, CMYK and YCCK colour
// models; scaled decoding from 1/1 to 1/8; saved APPn and COM markers; the embedded ICC profile.
//
// All of libjpeg stays inside jpegfilt.cpp. Its errors never unwind through C++ frames: they are
// turned into EIEJpegException (saving) or into the progress record's cancel flag (loading) at
// the boundary of every library call.
#pragma once

#include <cstdint>

#include "image/ieutils.h"
#include "io/ioparams.h"
#include "io/ioprogress.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

// A libjpeg error while compressing, with the library's message text (numeric arguments shown
// as "?", for example "Not a JPEG file: starts with ?").
class EIEJpegException : public EIEException {
public:
    using EIEException::EIEException;
};

// Compresses the whole buffer into the output stream with the JPEG fields of the parameter set
// (JpegColorModel, JpegQualityLevel, JpegDctKind, JpegChromaSampling, JpegOptimizeTables,
// JpegSmoothingFactor, JpegProgressiveScan, ResolutionX/Y as JFIF density) and writes the
// markers of JpegMarkers except the Adobe APP14 one. Buffers that are not ie24RGB are coded
// from an ie24RGB copy. An empty buffer, or a cancel flag already set, writes nothing and sets
// the flag. A stream that stores fewer bytes than offered sets the cancel flag; rows stop
// being fed while the flag is set. Library errors raise EIEJpegException (the flag is set
// first); exceptions raised by the stream itself reach the caller unchanged.
void SaveJpegToStream(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress);

// The colour model a document page is coded in. Pages are shown in a gray or RGB colour space,
// which four-component data cannot fill, so CMYK and YCCK (3, 4) pages are coded as YCbCr (2);
// the other models stay.
uint8_t JpegPageColorModel(uint8_t model);
// SaveJpegToStream for a PDF or PostScript page: coded in JpegPageColorModel(JpegColorModel),
// the parameter set left as it was.
void SaveJpegPage(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress);

// Decodes the JPEG image that starts at (or up to 149 bytes after) the stream's position.
//   tablesStream    tables-only JPEG data read first (JPEG in TIFF), or null
//   nativeFormat    gray files give ie8g and CMYK/YCCK files ieCMYK buffers (else ie24RGB)
//   rowLimit        rows to decode, -1 for all
//   readIcc         read the embedded ICC profile into params.InputICCProfile()
//   applyIcc        colour-manage rows through that profile (see jpegfilt.cpp: profiles are
//                   kept, not applied, so the file's samples stay as coded)
//   invertCmyk      complement CMYK samples before they are turned into colour
//   parseMetadata   fill the Exif resolution, orientation and texts and XmpText
//   keepYCbCr       YCbCr files deliver their Y, Cb, Cr samples instead of colour
//   headerOnly      fill the parameter set only; the buffer is left alone
//   requestedWidth/Height   the size wanted by the automatic scale (JpegScaleChoice 0)
// Fills PixelWidth/Height, StoredWidth/Height, ChannelBits/Count, ResolutionX/Y, JpegColorModel,
// JpegProgressiveScan, JpegScaleUsed, JpegMarkers (file order, without the JFIF APP0) and the
// warning fields. Returns the number of rows decoded. Never raises: bad data, a missing SOI, a
// truncated stream and too few rows set the cancel flag and keep what was decoded.
int32_t LoadJpegFromStream(TStream& stream, TStream* tablesStream, TIEBitmap& bitmap, bool nativeFormat,
                           int32_t rowLimit, bool readIcc, bool applyIcc, bool invertCmyk, bool parseMetadata,
                           bool keepYCbCr, bool headerOnly, ProgressRecord& progress, TIOParamsVals& params,
                           int32_t requestedWidth = 0, int32_t requestedHeight = 0);

// Position of the first FF D8 FF sequence: with scan, the absolute position among the 150
// positions from the current one; without, 0 when the sequence is at the current position.
// -1 when not found. The stream position is restored.
int64_t FindJpegStart(TStream& stream, bool scan);

// Walks the markers from the current position up to the first SOFn (or EOI) and, when APP2
// "ICC_PROFILE" chunks numbered 1..n of n are all there, stores the joined profile in
// params.InputICCProfile(). The stream position is restored.
void ReadJpegIccProfile(TStream& stream, TIOParamsVals& params);

// Bytes from the current position up to and including the EOI marker (or to the end of the
// stream when there is none). The stream position is restored.
int64_t JpegStreamLength(TStream& stream);

// The loader's JPEG reader: LoadJpegFromStream with the native format of the parameter set, all
// rows, ICC profile and metadata read, no CMYK inversion, colour output, and header only when
// paramsOnly is set.
void ReadJpeg(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress);

}  // namespace quirelle
