#include "output/postscript/iepsdoc.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/ieascii85.h"
#include "codecs/iepackbits.h"
#include "codecs/jpegfilt.h"
#include "codecs/tifccitt.h"
#include "image/ieutils.h"
#include "io/ioparams.h"
#include "platform/ieclock.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

namespace {

constexpr int64_t kInitialDataRoom = 8 * 1024 * 1024;
constexpr int64_t kCopyPiece = 196607;

// Encodes one block as ASCII85 text onto the memory stream and adds its digit count to total.
void WriteAscii85(TMemoryStream& output, const uint8_t* data, int32_t count, int64_t& total) {
    if (count <= 0) return;
    std::vector<uint8_t> text(static_cast<size_t>(Ascii85MaxEncodedSize(count)));
    const uint8_t* source = data;
    uint8_t* destination = text.data();
    const int32_t written = EncodeAscii85Block(source, count, destination, total);
    output.WriteBuffer(text.data(), written);
}

std::string FaxFilterLine(int32_t k, int32_t w, int32_t h) {
    return "currentfile /ASCII85Decode filter << /K " + IntToDecimal(k) + " /BlackIs1 true /Columns " +
           IntToDecimal(w) + " /Rows " + IntToDecimal(h) +
           " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter";
}

// The coding a page really gets: 1-bit pages have no JPEG form and are coded as CCITT G3 2-D,
// as the PDF writer does; colour pages are JPEG (3) or RunLength (every other code).
uint8_t EffectiveCoding(TIEBitmap& buffer, const TIOParamsVals& params) {
    const uint8_t coding = params.PsImageCoding;
    if (buffer.Format() == ie1g) return coding == 3 ? 2 : coding;
    return coding == 3 ? 3 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Text helpers

void WriteTextLine(TStream& stream, const std::string& text) {
    std::string line = text;
    line += "\r\n";
    stream.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
}

std::string IntToDecimal(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string PaddedDecimal(int64_t value, int32_t width) {
    std::string text = IntToDecimal(value);
    if (static_cast<int32_t>(text.size()) < width) text.append(static_cast<size_t>(width) - text.size(), ' ');
    return text;
}

void CopyStream(TStream& target, TStream& source) {
    source.SetPosition(0);
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(kCopyPiece, std::max<int64_t>(source.Size(), 1))));
    for (;;) {
        const int64_t n = source.Read(piece.data(), static_cast<int64_t>(piece.size()));
        if (n <= 0) break;
        target.WriteBuffer(piece.data(), n);
    }
}

std::string PsCreationDate(std::time_t t) {
    const std::tm tm = IELocalTime(t);
    return IEFormat("%s %s %02d %02d:%02d:%02d %04d", IEEnglishDayName(tm.tm_wday), IEEnglishMonthName(tm.tm_mon),
                    tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
}

// ---------------------------------------------------------------------------------------------
// Page fit

void FitImageToPage(int32_t w, int32_t h, int32_t pw, int32_t ph, int32_t& sw, int32_t& sh) {
    if (w == 0 || h == 0) return;
    const double scale = std::min(static_cast<double>(pw) / w, static_cast<double>(ph) / h);
    // The products are formed exactly: the double scale is m x 2^e with an integer m of at most
    // 53 bits, so side x m fits 128 bits and the truncation is that of the true product. This
    // gives the extended-precision results (letter 1700 x 2200 -> 611 x 791) on every compiler.
    auto product = [scale](int32_t side) -> int32_t {
        if (!(scale > 0) || !std::isfinite(scale) || side <= 0) {
            const double p = std::trunc(side * scale);
            return p > 0 && p < 2147483647.0 ? static_cast<int32_t>(p) : 0;
        }
        int exponent = 0;
        const double fraction = std::frexp(scale, &exponent);  // scale = fraction x 2^exponent
        const auto mantissa = static_cast<unsigned __int128>(std::ldexp(fraction, 53));
        exponent -= 53;
        unsigned __int128 value = mantissa * static_cast<unsigned __int128>(side);
        if (exponent < 0) {
            value = -exponent >= 128 ? 0 : value >> -exponent;
        } else {
            if (exponent >= 64) return 2147483647;
            value <<= exponent;
        }
        return value > 2147483647u ? 2147483647 : static_cast<int32_t>(value);
    };
    sw = product(w);
    sh = product(h);
    if (sw == 0) sw = 1;
    if (sh == 0) sh = 1;
}

// ---------------------------------------------------------------------------------------------
// Image data

int64_t PsEncodeImageData(TMemoryStream& output, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress) {
    const int32_t w = buffer.Width(), h = buffer.Height();
    const uint8_t coding = EffectiveCoding(buffer, params);
    int64_t total = 0;
    progress.PercentPerUnit = h > 0 ? 100.0 / h : 0;
    output.SetSize(0);
    output.SetPosition(0);

    if (buffer.Format() == ie1g) {
        const int32_t rowBytes = (w + 7) / 8;
        if (coding == 0) {
            std::vector<uint8_t> block(static_cast<size_t>(rowBytes) * static_cast<size_t>(h));
            for (int32_t r = 0; r < h; ++r) {
                std::memcpy(block.data() + static_cast<size_t>(r) * rowBytes, buffer.RowAddress(r), static_cast<size_t>(rowBytes));
                if (progress.ProgressNotify) progress.Notify(static_cast<int32_t>(r * progress.PercentPerUnit));
            }
            std::vector<uint8_t> packed(static_cast<size_t>(PackBitsMaxEncodedSize(static_cast<int64_t>(block.size()))));
            const int32_t n = EncodePackBits(block.data(), static_cast<int32_t>(block.size()), packed.data());
            WriteAscii85(output, packed.data(), n, total);
        } else {
            TMemoryStream fax;
            TCcittEncoderState state;
            uint8_t dummyCancel = 0;
            uint8_t* cancel = progress.CancelFlag ? progress.CancelFlag : &dummyCancel;
            const bool g4 = coding == 1;
            // The encoder reads whole 32-bit words of a row; the buffer's rows are padded to them.
            for (int32_t r = 0; r < h; ++r) {
                const uint8_t* row = buffer.RowAddress(r);
                if (g4)
                    CcittEncodeRowG4(row, w, fax, 1, cancel, state);
                else
                    CcittEncodeRowG3(row, w, fax, 1, cancel, state);
            }
            if (g4)
                CcittEncodeRowG4(nullptr, w, fax, 1, cancel, state);
            else
                CcittEncodeRowG3(nullptr, w, fax, 1, cancel, state);
            WriteAscii85(output, fax.Memory(), static_cast<int32_t>(fax.Size()), total);
        }
        return total;
    }

    if (coding == 3) {
        // Colour JPEG: the whole stream as one ASCII85 block; the encoder reports progress and
        // watches the cancel flag itself.
        TMemoryStream jpeg;
        SaveJpegPage(jpeg, buffer, params, progress);
        WriteAscii85(output, jpeg.Memory(), static_cast<int32_t>(jpeg.Size()), total);
        return total;
    }

    // Colour: one PackBits block per row and colour plane, red, green, blue.
    std::vector<uint8_t> plane(static_cast<size_t>(w));
    std::vector<uint8_t> packed(static_cast<size_t>(PackBitsMaxEncodedSize(w)));
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* row = buffer.RowAddress(r);
        for (int offset : {2, 1, 0}) {
            for (int32_t x = 0; x < w; ++x) plane[static_cast<size_t>(x)] = row[3 * x + offset];
            const int32_t n = EncodePackBits(plane.data(), w, packed.data());
            WriteAscii85(output, packed.data(), n, total);
        }
        if (progress.ProgressNotify) progress.Notify(static_cast<int32_t>(r * progress.PercentPerUnit));
    }
    return total;
}

void PsWritePageBody(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, int32_t pageHeight, int32_t pageWidth,
                     int32_t pageNumber, ProgressRecord& progress) {
    const int32_t w = buffer.Width(), h = buffer.Height();
    const bool bilevel = buffer.Format() == ie1g;
    const uint8_t coding = EffectiveCoding(buffer, params);
    int32_t sw = 0, sh = 0;
    FitImageToPage(w, h, pageWidth, pageHeight, sw, sh);

    WriteTextLine(stream, "%%Page: " + IntToDecimal(pageNumber) + " " + IntToDecimal(pageNumber));
    WriteTextLine(stream, "0 " + IntToDecimal(pageHeight) + " translate");
    WriteTextLine(stream, IntToDecimal(sw) + " -" + IntToDecimal(sh) + " scale");
    WriteTextLine(stream, IntToDecimal(w) + " " + IntToDecimal(h) + " " + (bilevel ? "1" : "8"));
    WriteTextLine(stream, "[ " + IntToDecimal(w) + " 0 0 " + IntToDecimal(h) + " 0 0 ]");
    params.ChannelBits = bilevel ? 1 : 8;
    params.ChannelCount = bilevel ? 1 : 3;

    TMemoryStream data;
    data.SetSize(kInitialDataRoom);
    const int64_t count = PsEncodeImageData(data, buffer, params, progress);
    const std::string beginData = "%%BeginData:      " + IntToDecimal(count) + " ASCII Bytes";

    if (!bilevel) {
        if (coding == 3) {
            WriteTextLine(stream, "currentfile /ASCII85Decode filter << >> /DCTDecode filter");
            // Gray JPEG data has one component per pixel.
            WriteTextLine(stream, JpegPageColorModel(params.JpegColorModel) == 1 ? "false 1" : "false 3");
        } else {
            for (const char* name : {"/rstr ", "/gstr ", "/bstr "}) WriteTextLine(stream, name + IntToDecimal(w) + " string def");
            for (const char* name : {"rstr", "gstr", "bstr"})
                WriteTextLine(stream, std::string("{currentfile /ASCII85Decode filter /RunLengthDecode filter ") + name +
                                          " readstring pop}");
            WriteTextLine(stream, "true 3");
        }
        WriteTextLine(stream, beginData);
        WriteTextLine(stream, "colorimage");
    } else {
        if (coding == 0)
            WriteTextLine(stream, "currentfile /ASCII85Decode filter /RunLengthDecode filter");
        else
            WriteTextLine(stream, FaxFilterLine(coding == 1 ? -1 : 1, w, h));
        WriteTextLine(stream, beginData);
        WriteTextLine(stream, "image");
    }
    CopyStream(stream, data);
    WriteTextLine(stream, "%%EndData");
    WriteTextLine(stream, "showpage");
}

// ---------------------------------------------------------------------------------------------
// Document

std::unique_ptr<PsDocState> PsOpenDocument(TStream& stream, TIOParamsVals& params) {
    auto state = std::make_unique<PsDocState>();
    WriteTextLine(stream, "%!PS-Adobe-3.0");
    WriteTextLine(stream, "%%Creator: Quirelle");
    WriteTextLine(stream, "%%Title: " + params.PsDocTitle);
    WriteTextLine(stream, "%%CreationDate: " + PsCreationDate(IEDocumentTime()));
    WriteTextLine(stream, "%%DocumentData: Clean7Bit");
    WriteTextLine(stream, "%%LanguageLevel: 2");
    state->PagesLinePos = stream.Position();
    WriteTextLine(stream, "%%Pages: " + PaddedDecimal(0, 6));
    WriteTextLine(stream, "%%BoundingBox: 0 0 " + IntToDecimal(int64_t{params.PsMediaWidth} - 1) + " " +
                              IntToDecimal(int64_t{params.PsMediaHeight} - 1));
    WriteTextLine(stream, "%%EndComments");
    state->PageEndPos = stream.Position();
    return state;
}

void PsAppendPage(PsDocState& state, TStream& stream, TIEBitmap& buffer, TIOParamsVals& params,
                  ProgressRecord& progress) {
    if (buffer.Width() <= 0 || buffer.Height() <= 0)
        throw EIEException("The image has no pixels (width or height 0): no page was added.");

    stream.Seek(state.PagesLinePos, soBeginning);
    char line[15] = {};
    const int64_t got = stream.Read(line, 15);
    int64_t n = 1;
    if (got == 15) {
        std::string field(line + 9, 6);
        const size_t first = field.find_first_not_of(' ');
        const size_t last = field.find_last_not_of(' ');
        field = first == std::string::npos ? "" : field.substr(first, last - first + 1);
        int64_t parsed = 0;
        const auto result = std::from_chars(field.data(), field.data() + field.size(), parsed);
        if (!field.empty() && result.ec == std::errc() && result.ptr == field.data() + field.size()) n = parsed;
    }
    if (n >= kPsMaxPages)
        throw EIEException("The document already has 999999 pages, the most a PostScript document can count: no page was added.");

    stream.Seek(state.PagesLinePos, soBeginning);
    const std::string pages = "%%Pages: " + PaddedDecimal(n + 1, 6);
    stream.WriteBuffer(pages.data(), static_cast<int64_t>(pages.size()));
    stream.Seek(state.PageEndPos, soBeginning);
    PsWritePageBody(stream, buffer, params, params.PsMediaHeight, params.PsMediaWidth, static_cast<int32_t>(n + 1), progress);
    state.PageEndPos = stream.Position();
}

void PsCloseDocument(std::unique_ptr<PsDocState>& state, TStream& stream) {
    if (!state) return;
    const int64_t end = state->PageEndPos;
    state.reset();
    stream.Seek(end, soBeginning);
    WriteTextLine(stream, "%%Trailer");
    WriteTextLine(stream, "%%EOF");
}

void PsWriteSinglePage(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress) {
    if (buffer.Width() <= 0 || buffer.Height() <= 0)
        throw EIEException("The image has no pixels (width or height 0): no page was added.");
    std::unique_ptr<PsDocState> state = PsOpenDocument(stream, params);
    PsAppendPage(*state, stream, buffer, params, progress);
    PsCloseDocument(state, stream);
}

}  // namespace quirelle
