#include "readers/iepnm.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "readers/iereadlimits.h"

namespace quirelle {

namespace {

// Longest token text kept. Longer tokens are still consumed to their end, but only this much of
// them is returned: no number or header comment of a real file comes near it.
constexpr size_t kMaxTokenText = 65536;

bool IsLetterOrDigit(int c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Removes spaces and control characters from both ends.
std::string Trimmed(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

// The token reader over any byte source: next() returns the next byte or -1 at the end.
template <class NextByte>
std::string ReadToken(NextByte&& next) {
    int c;
    for (;;) {
        c = next();
        if (c < 0) return {};
        if (IsLetterOrDigit(c)) break;
        if (c == '#') {
            std::string text;
            for (c = next(); c >= 0 && c != '\r' && c != '\n'; c = next())
                if (text.size() < kMaxTokenText) text.push_back(static_cast<char>(c));
            return "#" + Trimmed(text);
        }
    }
    std::string token(1, static_cast<char>(c));
    for (c = next(); c >= 0 && IsLetterOrDigit(c); c = next())
        if (token.size() < kMaxTokenText) token.push_back(static_cast<char>(c));
    return token;
}

bool IsComment(const std::string& token) { return !token.empty() && token[0] == '#'; }

// The token as a decimal number, or fallback when it is not one or does not fit 32 bits.
int64_t TokenNumber(const std::string& token, int64_t fallback) {
    if (token.empty()) return fallback;
    int64_t value = 0;
    for (const char ch : token) {
        if (ch < '0' || ch > '9') return fallback;
        value = value * 10 + (ch - '0');
        if (value > INT32_MAX) return fallback;
    }
    return value;
}

// round(n / maxValue x top), ties to even, computed exactly in integers.
uint64_t ScaleSample(uint64_t n, uint64_t maxValue, uint64_t top) {
    const uint64_t product = n * top;
    uint64_t q = product / maxValue;
    const uint64_t twiceRest = (product % maxValue) * 2;
    if (twiceRest > maxValue || (twiceRest == maxValue && (q & 1))) ++q;
    return q;
}

// a x b, saturated at INT64_MAX (both non-negative).
int64_t SaturatedProduct(int64_t a, int64_t b) {
    if (a != 0 && b > INT64_MAX / a) return INT64_MAX;
    return a * b;
}

enum class PnmForm { Unknown, P1, P2, P3, P4, P5, P6 };

PnmForm FormOf(const std::string& magic) {
    if (magic.size() != 2 || magic[0] != 'P') return PnmForm::Unknown;
    switch (magic[1]) {
        case '1': return PnmForm::P1;
        case '2': return PnmForm::P2;
        case '3': return PnmForm::P3;
        case '4': return PnmForm::P4;
        case '5': return PnmForm::P5;
        case '6': return PnmForm::P6;
        default: return PnmForm::Unknown;
    }
}

struct PnmHeader {
    std::string magic;
    int64_t width = 0;
    int64_t height = 0;
    int64_t maxValue = 0;
};

// Reads magic, width, height and (except for P1 and P4) the maximum value, collecting the
// comments met on the way. Stops early at the end of the stream, leaving missing fields 0.
PnmHeader ReadPnmHeader(TIEBufferedReadStream& in, std::vector<std::string>& comments) {
    PnmHeader header;
    enum { kMagic, kWidth, kHeight, kMaxValue, kComplete } field = kMagic;
    bool bitmapForm = false;
    const int64_t size = in.Size();
    while (field != kComplete && in.Position() < size) {
        const std::string token = ReadPnmToken(in);
        if (IsComment(token)) {
            comments.push_back(token.substr(1));
            continue;
        }
        switch (field) {
            case kMagic:
                header.magic = token;
                bitmapForm = token == "P1" || token == "P4";
                if (bitmapForm) header.maxValue = 1;
                field = kWidth;
                break;
            case kWidth:
                header.width = TokenNumber(token, -1);
                field = kHeight;
                break;
            case kHeight:
                header.height = TokenNumber(token, -1);
                field = bitmapForm ? kComplete : kMaxValue;
                break;
            case kMaxValue:
                if (header.maxValue == 0) header.maxValue = TokenNumber(token, -1);
                field = kComplete;
                break;
            case kComplete: break;
        }
    }
    return header;
}

// Reads the body of one image into an allocated buffer, row by row from the top.
class PnmBodyReader {
public:
    PnmBodyReader(TIEBufferedReadStream& in, TIEBitmap& bitmap, ProgressRecord& progress, int32_t width,
                  int32_t height, uint32_t maxValue)
        : in_(in), bitmap_(bitmap), progress_(progress), width_(width), height_(height), maxValue_(maxValue) {}

    // Each returns true when every row was read; false when the data ended early (or the storage
    // failed, or the operation was cancelled), with the rows not reached cleared.
    bool ReadP1();
    bool ReadAsciiGray();
    bool ReadAsciiRgb();
    bool ReadP4();
    bool ReadP5(bool native);
    bool ReadP6(bool native);

private:
    // Runs readRow(row) for every row; readRow returns false when the data ended inside the row.
    // notifyAfterLast: whether progress is also reported after the last row.
    template <class ReadRow>
    bool ForEachRow(ReadRow&& readRow, uint8_t unreadFill, bool notifyAfterLast = true);
    // Reads up to count bytes into dst and clears the bytes the stream could not deliver.
    bool ReadBytes(uint8_t* dst, int64_t count);
    // Rows of big-endian 16-bit samples read straight into the buffer row, then scaled in place
    // and stored little-endian.
    bool ReadNative16(size_t samplesPerRow);
    // The next ASCII sample scaled to 0..255 (low 8 bits kept); false at the end of the data.
    bool NextAsciiSample(uint8_t& value);
    // Clears the ie24RGB pixels of a row from column x on; returns false (the row ended early).
    bool ClearPixelsFrom(uint8_t* row, int32_t x) const {
        std::memset(row + 3 * static_cast<size_t>(x), 0, 3 * static_cast<size_t>(width_ - x));
        return false;
    }
    std::vector<uint8_t> Table8() const;
    std::vector<uint16_t> Table16() const;

    TIEBufferedReadStream& in_;
    TIEBitmap& bitmap_;
    ProgressRecord& progress_;
    int32_t width_, height_;
    uint32_t maxValue_;
};

template <class ReadRow>
bool PnmBodyReader::ForEachRow(ReadRow&& readRow, uint8_t unreadFill, bool notifyAfterLast) {
    int32_t y = 0;
    bool complete = true;
    for (; y < height_; ++y) {
        uint8_t* row = bitmap_.RowAddress(y);
        if (!row || !readRow(row)) {
            complete = false;
            ++y;  // the row was started: it keeps what it got
            break;
        }
        ++progress_.UnitsDone;
        if (notifyAfterLast || y + 1 < height_)
            progress_.Notify(static_cast<int32_t>(std::nearbyint(progress_.UnitsDone * progress_.PercentPerUnit)));
        if (progress_.Cancelled()) {
            complete = false;
            ++y;
            break;
        }
    }
    // Rows never reached get a defined content: white for bitmaps, black otherwise.
    const int32_t rowLength = bitmap_.RowLength();
    for (; y < height_; ++y)
        if (uint8_t* row = bitmap_.RowAddress(y)) std::memset(row, unreadFill, static_cast<size_t>(rowLength));
    return complete;
}

bool PnmBodyReader::ReadNative16(size_t samplesPerRow) {
    const std::vector<uint16_t> table = Table16();
    return ForEachRow(
        [&](uint8_t* row) {
            const bool complete = ReadBytes(row, static_cast<int64_t>(2 * samplesPerRow));
            for (size_t i = 0; i < samplesPerRow; ++i) {
                const uint16_t v = table[(row[2 * i] << 8) | row[2 * i + 1]];
                row[2 * i] = static_cast<uint8_t>(v);
                row[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            return complete;
        },
        0);
}

bool PnmBodyReader::ReadBytes(uint8_t* dst, int64_t count) {
    const int64_t got = in_.Read(dst, count);
    if (got >= count) return true;
    std::memset(dst + got, 0, static_cast<size_t>(count - got));
    return false;
}

bool PnmBodyReader::NextAsciiSample(uint8_t& value) {
    const std::string token = ReadPnmToken(in_);
    if (token.empty()) return false;
    value = static_cast<uint8_t>(ScaleSample(static_cast<uint64_t>(TokenNumber(token, 0)), maxValue_, 255));
    return true;
}

std::vector<uint8_t> PnmBodyReader::Table8() const {
    const uint32_t count = maxValue_ < 256 ? 256 : 65536;
    std::vector<uint8_t> table(count);
    for (uint32_t v = 0; v < count; ++v) table[v] = static_cast<uint8_t>(ScaleSample(v, maxValue_, 255));
    return table;
}

std::vector<uint16_t> PnmBodyReader::Table16() const {
    std::vector<uint16_t> table(65536);
    for (uint32_t v = 0; v < 65536; ++v) table[v] = static_cast<uint16_t>(ScaleSample(v, maxValue_, 65535));
    return table;
}

bool PnmBodyReader::ReadP1() {
    const int32_t rowLength = bitmap_.RowLength();
    return ForEachRow(
        [&](uint8_t* row) {
            std::memset(row, 0xFF, static_cast<size_t>(rowLength));
            for (int32_t x = 0; x < width_;) {
                const int c = in_.ReadByte();
                if (c < 0) return false;
                if (c == '1') row[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
                if (c == '0' || c == '1') ++x;
            }
            return true;
        },
        0xFF, /*notifyAfterLast*/ false);
}

bool PnmBodyReader::ReadAsciiGray() {
    return ForEachRow(
        [&](uint8_t* row) {
            for (int32_t x = 0; x < width_; ++x) {
                uint8_t gray;
                if (!NextAsciiSample(gray)) return ClearPixelsFrom(row, x);
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = gray;
            }
            return true;
        },
        0);
}

bool PnmBodyReader::ReadAsciiRgb() {
    return ForEachRow(
        [&](uint8_t* row) {
            for (int32_t x = 0; x < width_; ++x) {
                uint8_t r, g, b;
                if (!NextAsciiSample(r) || !NextAsciiSample(g) || !NextAsciiSample(b)) return ClearPixelsFrom(row, x);
                row[3 * x] = b;
                row[3 * x + 1] = g;
                row[3 * x + 2] = r;
            }
            return true;
        },
        0);
}

bool PnmBodyReader::ReadP4() {
    const int64_t rowBytes = (static_cast<int64_t>(width_) + 7) / 8;
    return ForEachRow(
        [&](uint8_t* row) {
            const bool complete = ReadBytes(row, rowBytes);
            // The file stores 1 = black; the buffer 1 = white.
            for (int64_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
            return complete;
        },
        0xFF);
}

bool PnmBodyReader::ReadP5(bool native) {
    const auto n = static_cast<size_t>(width_);
    if (maxValue_ < 256) {
        const std::vector<uint8_t> table = Table8();
        std::vector<uint8_t> samples(n);
        return ForEachRow(
            [&](uint8_t* row) {
                const bool complete = ReadBytes(samples.data(), static_cast<int64_t>(n));
                for (size_t x = 0; x < n; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = table[samples[x]];
                return complete;
            },
            0);
    }
    if (native) return ReadNative16(n);  // into the ie16gray row
    const std::vector<uint8_t> table = Table8();
    std::vector<uint8_t> samples(2 * n);
    return ForEachRow(
        [&](uint8_t* row) {
            const bool complete = ReadBytes(samples.data(), static_cast<int64_t>(samples.size()));
            for (size_t x = 0; x < n; ++x)
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = table[(samples[2 * x] << 8) | samples[2 * x + 1]];
            return complete;
        },
        0);
}

bool PnmBodyReader::ReadP6(bool native) {
    const auto n = static_cast<size_t>(width_);
    if (maxValue_ < 256) {
        // Red, green, blue read straight into the row, scaled when the maximum is below 255,
        // then reordered to blue, green, red.
        const std::vector<uint8_t> table = Table8();
        const bool scale = maxValue_ != 255;
        return ForEachRow(
            [&](uint8_t* row) {
                const bool complete = ReadBytes(row, static_cast<int64_t>(3 * n));
                for (size_t x = 0; x < n; ++x) {
                    uint8_t* p = row + 3 * x;
                    if (scale) {
                        p[0] = table[p[0]];
                        p[1] = table[p[1]];
                        p[2] = table[p[2]];
                    }
                    std::swap(p[0], p[2]);
                }
                return complete;
            },
            0);
    }
    if (native) return ReadNative16(3 * n);  // red, green, blue into the ieRGB48 row
    const std::vector<uint8_t> table = Table8();
    std::vector<uint8_t> samples(6 * n);
    return ForEachRow(
        [&](uint8_t* row) {
            const bool complete = ReadBytes(samples.data(), static_cast<int64_t>(samples.size()));
            for (size_t x = 0; x < n; ++x) {
                const uint8_t* s = samples.data() + 6 * x;
                row[3 * x + 2] = table[(s[0] << 8) | s[1]];
                row[3 * x + 1] = table[(s[2] << 8) | s[3]];
                row[3 * x] = table[(s[4] << 8) | s[5]];
            }
            return complete;
        },
        0);
}

}  // namespace

std::string ReadPnmToken(TStream& stream) {
    if (auto* buffered = dynamic_cast<TIEBufferedReadStream*>(&stream)) return ReadPnmToken(*buffered);
    return ReadToken([&stream]() -> int {
        uint8_t byte;
        return stream.Read(&byte, 1) == 1 ? byte : -1;
    });
}

std::string ReadPnmToken(TIEBufferedReadStream& stream) {
    return ReadToken([&stream] { return stream.ReadByte(); });
}

std::string ReadPnmToken(TIEBufferedReadStream& stream, int64_t& budget) {
    return ReadToken([&stream, &budget] { return budget-- > 0 ? stream.ReadByte() : -1; });
}

void ReadPnm(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    TIEBufferedReadStream in(stream);
    params.PnmComments.clear();
    const PnmHeader header = ReadPnmHeader(in, params.PnmComments);
    if (header.width <= 0 || header.height <= 0) {
        progress.Cancel();
        return;
    }
    const auto width = static_cast<int32_t>(header.width);
    const auto height = static_cast<int32_t>(header.height);
    params.ClearColorMap();
    params.PixelWidth = params.StoredWidth = width;
    params.PixelHeight = params.StoredHeight = height;
    params.SetResolutionX(IEDefaultDPI);
    params.SetResolutionY(IEDefaultDPI);
    progress.PercentPerUnit = 100.0 / height;
    progress.UnitsDone = 0;

    const PnmForm form = FormOf(header.magic);
    const int64_t maxValue = header.maxValue;
    // A maximum of 0 (or one that is not a number) describes no sample range at all.
    if (form == PnmForm::Unknown || maxValue > 65535 || maxValue < 1) {
        progress.Cancel();
        return;
    }
    const bool deep = maxValue > 255;
    const bool native = deep && params.NativePixelFormat;
    const int64_t pixels = SaturatedProduct(header.width, header.height);
    TIEPixelFormat format = ie24RGB;
    int64_t neededBytes = 0;  // the least body a complete image of this form can have
    switch (form) {
        case PnmForm::P1:
        case PnmForm::P4:
            params.ChannelBits = 1;
            params.ChannelCount = 1;
            format = ie1g;
            neededBytes = form == PnmForm::P1 ? pixels : SaturatedProduct((header.width + 7) / 8, header.height);
            break;
        case PnmForm::P2:
            params.ChannelBits = 8;
            params.ChannelCount = 1;
            neededBytes = SaturatedProduct(pixels, 2) - 1;
            break;
        case PnmForm::P3:
            params.ChannelBits = 8;
            params.ChannelCount = 3;
            neededBytes = SaturatedProduct(pixels, 6) - 1;
            break;
        case PnmForm::P5:
            params.ChannelBits = deep ? 16 : 8;
            params.ChannelCount = 1;
            if (native) format = ie16gray;
            neededBytes = SaturatedProduct(pixels, deep ? 2 : 1);
            break;
        case PnmForm::P6:
            params.ChannelBits = deep ? 16 : 8;
            params.ChannelCount = 3;
            if (native) format = ieRGB48;
            neededBytes = SaturatedProduct(pixels, deep ? 6 : 3);
            break;
        case PnmForm::Unknown: break;
    }
    if (paramsOnly) return;

    if (!IERowLengthFits(width, format) ||
        !IEBodyAllocationAllowed(width, height, neededBytes, in.Size() - in.Position()) ||
        !bitmap.Allocate(width, height, format)) {
        progress.Cancel();
        return;
    }
    PnmBodyReader body(in, bitmap, progress, width, height, static_cast<uint32_t>(maxValue));
    bool complete = false;
    switch (form) {
        case PnmForm::P1: complete = body.ReadP1(); break;
        case PnmForm::P2: complete = body.ReadAsciiGray(); break;
        case PnmForm::P3: complete = body.ReadAsciiRgb(); break;
        case PnmForm::P4: complete = body.ReadP4(); break;
        case PnmForm::P5: complete = body.ReadP5(native); break;
        case PnmForm::P6: complete = body.ReadP6(native); break;
        case PnmForm::Unknown: break;
    }
    if (!complete) progress.Cancel();
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

// Row y as blue, green, red bytes, the colours the conversion to ie24RGB gives.
void RowAsBgr(TIEBitmap& bitmap, int32_t y, uint8_t* bgr) {
    const int32_t width = bitmap.Width();
    const TIEPixelFormat format = bitmap.Format();
    if (format == ie24RGB || format == ie8g || format == ie1g || format == ie16gray || format == ieRGB48 ||
        format == ie32RGBX) {
        const uint8_t* row = bitmap.RowAddress(y);
        if (!row) {
            std::memset(bgr, 0, static_cast<size_t>(width) * 3);
            return;
        }
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* out = bgr + 3 * x;
            switch (format) {
                case ie24RGB: std::memcpy(out, row + 3 * x, 3); break;
                case ie8g: out[0] = out[1] = out[2] = row[x]; break;
                case ie1g: out[0] = out[1] = out[2] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0; break;
                case ie16gray: out[0] = out[1] = out[2] = row[2 * x + 1]; break;
                case ieRGB48:
                    out[0] = row[6 * x + 5];
                    out[1] = row[6 * x + 3];
                    out[2] = row[6 * x + 1];
                    break;
                default: std::memcpy(out, row + 4 * x, 3); break;  // ie32RGBX
            }
        }
        return;
    }
    // Palette, float, CMYK and Lab pixels go through the buffer's own colour rules.
    for (int32_t x = 0; x < width; ++x) {
        const BgrColor c = bitmap.PixelAsBgr(x, y);
        bgr[3 * x] = c.b;
        bgr[3 * x + 1] = c.g;
        bgr[3 * x + 2] = c.r;
    }
}

// Row y as 8-bit gray, as the conversion to ie8g gives it.
void RowAsGray(TIEBitmap& bitmap, int32_t y, uint8_t* gray, std::vector<uint8_t>& scratch) {
    const int32_t width = bitmap.Width();
    const TIEPixelFormat format = bitmap.Format();
    if (format == ie8g || format == ie16gray || format == ie1g) {
        const uint8_t* row = bitmap.RowAddress(y);
        for (int32_t x = 0; x < width; ++x) {
            if (!row)
                gray[x] = 0;
            else if (format == ie8g)
                gray[x] = row[x];
            else if (format == ie16gray)
                gray[x] = row[2 * x + 1];
            else
                gray[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        }
        return;
    }
    scratch.resize(static_cast<size_t>(width) * 3);
    RowAsBgr(bitmap, y, scratch.data());
    for (int32_t x = 0; x < width; ++x)
        gray[x] = static_cast<uint8_t>(GrayOf8(scratch[3 * x + 2], scratch[3 * x + 1], scratch[3 * x]));
}

enum class PnmOutput { Bitmap, Gray, Rgb8, Rgb16From24, Rgb16From48 };

// The header comment lines: each entry of PnmComments, split at line ends so that no comment
// text can leak into the header fields.
std::vector<std::string> CommentLines(const std::vector<std::string>& comments) {
    std::vector<std::string> lines;
    for (const std::string& comment : comments) {
        size_t start = 0;
        for (;;) {
            const size_t end = comment.find_first_of("\r\n", start);
            lines.push_back(comment.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
            if (comment[end] == '\r' && start < comment.size() && comment[start] == '\n') ++start;
        }
    }
    return lines;
}

}  // namespace

void WritePnm(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress) {
    const int32_t width = bitmap.Width();
    const int32_t height = bitmap.Height();
    if (width < 1 || height < 1) {
        // No PNM file can describe an empty image.
        progress.Cancel();
        return;
    }
    const TIEPixelFormat format = bitmap.Format();
    const int32_t bits = params.ChannelBits, channels = params.ChannelCount;
    PnmOutput output;
    if (format == ie1g)
        output = PnmOutput::Bitmap;
    else if (channels == 1 && (bits == 1 || bits == 8))
        output = PnmOutput::Gray;  // a one-channel request over a buffer that holds more than bits
    else if (bits == 16 && channels == 3 && format == ie24RGB)
        output = PnmOutput::Rgb16From24;
    else if (bits == 16 && channels == 3 && format == ieRGB48)
        output = PnmOutput::Rgb16From48;
    else
        output = PnmOutput::Rgb8;

    std::string header;
    switch (output) {
        case PnmOutput::Bitmap: header = "P4 "; break;
        case PnmOutput::Gray: header = "P5 "; break;
        default: header = "P6 "; break;
    }
    for (const std::string& line : CommentLines(params.PnmComments)) header += "\n# " + line + "\n";
    header += std::to_string(width) + " " + std::to_string(height);
    switch (output) {
        case PnmOutput::Bitmap: break;
        case PnmOutput::Gray:
        case PnmOutput::Rgb8: header += " 255"; break;
        case PnmOutput::Rgb16From24:
        case PnmOutput::Rgb16From48: header += " 65535"; break;
    }
    header += "\n";
    stream.WriteString(header);

    const auto n = static_cast<size_t>(width);
    size_t outLength = 0;
    switch (output) {
        case PnmOutput::Bitmap: outLength = (n + 7) / 8; break;
        case PnmOutput::Gray: outLength = n; break;
        case PnmOutput::Rgb8: outLength = 3 * n; break;
        case PnmOutput::Rgb16From24:
        case PnmOutput::Rgb16From48: outLength = 6 * n; break;
    }
    std::vector<uint8_t> out(outLength), scratch;
    progress.PercentPerUnit = 100.0 / height;
    progress.UnitsDone = 0;
    for (int32_t y = 0; y < height && !progress.Cancelled(); ++y) {
        switch (output) {
            case PnmOutput::Bitmap: {
                const uint8_t* row = bitmap.RowAddress(y);
                for (size_t i = 0; i < outLength; ++i) out[i] = row ? static_cast<uint8_t>(~row[i]) : 0;
                // Bits past the width are padding: written as 0.
                if (width % 8) out[outLength - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
                break;
            }
            case PnmOutput::Gray: RowAsGray(bitmap, y, out.data(), scratch); break;
            case PnmOutput::Rgb8:
                RowAsBgr(bitmap, y, out.data());
                for (size_t x = 0; x < n; ++x) std::swap(out[3 * x], out[3 * x + 2]);
                break;
            case PnmOutput::Rgb16From24: {
                const uint8_t* row = bitmap.RowAddress(y);
                for (size_t x = 0; x < n; ++x)
                    for (size_t c = 0; c < 3; ++c) {
                        // v x 257 big-endian is v twice; red first.
                        const uint8_t v = row ? row[3 * x + 2 - c] : 0;
                        out[6 * x + 2 * c] = out[6 * x + 2 * c + 1] = v;
                    }
                break;
            }
            case PnmOutput::Rgb16From48: {
                const uint8_t* row = bitmap.RowAddress(y);
                for (size_t i = 0; i < 3 * n; ++i) {
                    out[2 * i] = row ? row[2 * i + 1] : 0;
                    out[2 * i + 1] = row ? row[2 * i] : 0;
                }
                break;
            }
        }
        stream.WriteBuffer(out.data(), static_cast<int64_t>(outLength));
        ++progress.UnitsDone;
        progress.Notify(static_cast<int32_t>(std::nearbyint(progress.UnitsDone * progress.PercentPerUnit)));
    }
}

}  // namespace quirelle
