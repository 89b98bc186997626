// Row coders of ITU-T T.4 (Group 3, two-dimensional) and T.6 (Group 4).
#include "codecs/tifccitt.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/iebitreverse.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {
namespace {

constexpr int kWhite = 0;
constexpr int kBlack = 1;

// Appends codes most significant bit first to a working buffer. Bits gather in a 64-bit
// accumulator and leave it four bytes at a time.
class CcittBitBuffer {
public:
    explicit CcittBitBuffer(size_t capacity) : bytes_(new uint8_t[capacity]), capacity_(capacity) {}

    // CcittPutBits: appends the low `length` bits of code (length <= 32).
    void PutBits(uint32_t code, int length) {
        acc_ = (acc_ << length) | code;
        bits_ += length;
        if (bits_ >= 32) {
            bits_ -= 32;
            const uint32_t word = static_cast<uint32_t>(acc_ >> bits_);
            Store(static_cast<uint8_t>(word >> 24));
            Store(static_cast<uint8_t>(word >> 16));
            Store(static_cast<uint8_t>(word >> 8));
            Store(static_cast<uint8_t>(word));
        }
    }
    void Put(const TCcittCode& code) { PutBits(code.Code, code.Length); }

    // Moves the whole bytes of the accumulator into the buffer; returns the bits left over
    // (0..7) and their byte (high-order bits).
    int FlushWholeBytes(uint8_t& partialByte) {
        while (bits_ >= 8) {
            bits_ -= 8;
            Store(static_cast<uint8_t>(acc_ >> bits_));
        }
        partialByte = bits_ ? static_cast<uint8_t>(acc_ << (8 - bits_)) : 0;
        return bits_;
    }
    // Zero bits up to the next byte boundary.
    void PadToByte() {
        if (bits_ % 8) PutBits(0, 8 - bits_ % 8);
    }

    uint8_t* Data() { return bytes_.get(); }
    size_t Size() const { return size_; }

private:
    void Store(uint8_t b) {
        if (size_ < capacity_) bytes_[size_++] = b;  // capacity is sized for the worst case
    }

    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_;
    size_t size_ = 0;
    uint64_t acc_ = 0;
    int bits_ = 0;
};

uint32_t LoadBigEndian32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

int PixelAt(const uint8_t* line, int32_t p) { return (line[p >> 3] >> (7 - (p & 7))) & 1; }

// The first position q >= p whose pixel has the given colour, or width when there is none. Reads
// whole 32-bit words, never past word (width - 1) / 32.
int32_t FindColour(const uint8_t* line, int32_t p, int32_t width, int colour) {
    if (p >= width) return width;
    const uint32_t invert = colour == kBlack ? 0u : 0xFFFFFFFFu;
    int32_t word = p >> 5;
    const int32_t lastWord = (width - 1) >> 5;
    uint32_t bits = (LoadBigEndian32(line + 4 * word) ^ invert) & (0xFFFFFFFFu >> (p & 31));
    while (bits == 0) {
        if (++word > lastWord) return width;
        bits = LoadBigEndian32(line + 4 * word) ^ invert;
    }
    const int32_t q = (word << 5) + __builtin_clz(bits);
    return q < width ? q : width;
}

// CcittPutRun: make-up codes while 64 or more pixels remain (2560 at a time above 2560), then the
// terminating code of the rest.
void CcittPutRun(CcittBitBuffer& out, int colour, int32_t run) {
    const auto& table = colour == kBlack ? CcittBlackCodes : CcittWhiteCodes;
    while (run >= 64) {
        if (run > 2560) {
            out.Put(table[63 + 40]);
            run -= 2560;
        } else {
            const int32_t m = run / 64;
            out.Put(table[static_cast<size_t>(63 + m)]);
            run -= m * 64;
        }
    }
    out.Put(table[static_cast<size_t>(run)]);
}

// CcittCodeRow1D: alternating white and black runs, starting with white (length 0 when the row
// starts with a black pixel).
void CcittCodeRow1D(CcittBitBuffer& out, const uint8_t* line, int32_t width) {
    int32_t position = 0;
    int colour = kWhite;
    while (position < width) {
        const int32_t next = FindColour(line, position, width, colour ^ 1);
        CcittPutRun(out, colour, next - position);
        position = next;
        colour ^= 1;
    }
}

// CcittCodeRow2D: the two-dimensional coding procedure of T.4 section 4.2.1.3 (T.6 uses the same)
// with pass, vertical and horizontal modes. Positions run from 0 to width; the imaginary changing
// element at the end of a line is at width.
void CcittCodeRow2D(CcittBitBuffer& out, const uint8_t* coding, const uint8_t* reference, int32_t width) {
    int32_t a0 = 0;
    int32_t a1 = FindColour(coding, 0, width, kBlack);
    int32_t b1 = FindColour(reference, 0, width, kBlack);
    for (;;) {
        const int referenceColourAtB1 = b1 < width ? PixelAt(reference, b1) : kWhite;
        const int32_t b2 = FindColour(reference, b1, width, referenceColourAtB1 ^ 1);
        if (b2 < a1) {
            out.Put(CcittPassCode);
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            out.Put(CcittVerticalCodes[static_cast<size_t>(a1 - b1 + 3)]);
            a0 = a1;
        } else {
            const int codingColourAtA1 = a1 < width ? PixelAt(coding, a1) : kWhite;
            const int32_t a2 = FindColour(coding, a1, width, codingColourAtA1 ^ 1);
            // At the start of the row a0 is an imaginary white element before pixel 0.
            const int first = (a0 == 0 && a1 == 0) || PixelAt(coding, a0) == kWhite ? kWhite : kBlack;
            out.Put(CcittHorizontalCode);
            CcittPutRun(out, first, a1 - a0);
            CcittPutRun(out, first ^ 1, a2 - a1);
            a0 = a2;
        }
        if (a0 >= width) return;
        const int c = PixelAt(coding, a0);
        a1 = FindColour(coding, a0, width, c ^ 1);
        b1 = FindColour(reference, FindColour(reference, a0, width, c), width, c ^ 1);
    }
}

enum class FaxKind { G3, G4 };

void EncodeRow(FaxKind kind, const uint8_t* row, int32_t width, TStream& output, int32_t fillOrder,
               uint8_t* cancelFlag, TCcittEncoderState& state) {
    width = std::max(width, 0);
    const bool reversed = fillOrder == 2;
    const size_t rowBytes = static_cast<size_t>(CcittRowBytes(width));

    // Worst case: pending bits, EOL and tag bit, under 8 bits per pixel of row codes, and the
    // end-of-block codes; 16 bits per pixel plus 32 bytes leaves room to spare.
    CcittBitBuffer out(2 * static_cast<size_t>(width) + 32);
    const int pending = std::clamp(state.PendingBitCount, 0, 7);
    if (pending > 0) {
        const uint8_t byte = reversed ? IEReversedBits[state.PendingByte] : state.PendingByte;
        out.PutBits(static_cast<uint32_t>(byte >> (8 - pending)), pending);
    }
    state.PendingBitCount = 0;
    state.PendingByte = 0;

    if (state.ReferenceLine && state.ReferenceLine->size() != rowBytes)
        state.ReferenceLine->resize(rowBytes, 0);  // a changed width: missing pixels count as white

    if (kind == FaxKind::G3) {
        if (row) {
            out.Put(CcittEolCode);
            if (!state.ReferenceLine) {
                out.PutBits(1, 1);
                CcittCodeRow1D(out, row, width);
                state.ReferenceLine.emplace(rowBytes);
            } else {
                out.PutBits(0, 1);
                CcittCodeRow2D(out, row, state.ReferenceLine->data(), width);
            }
            if (rowBytes) std::memcpy(state.ReferenceLine->data(), row, rowBytes);
        } else {
            out.Put(CcittEolCode);
            out.PadToByte();
            state.ReferenceLine.reset();
        }
    } else {
        if (!state.ReferenceLine) state.ReferenceLine.emplace(rowBytes, 0);
        if (row) {
            CcittCodeRow2D(out, row, state.ReferenceLine->data(), width);
            if (rowBytes) std::memcpy(state.ReferenceLine->data(), row, rowBytes);
        } else {
            out.Put(CcittEolCode);
            out.Put(CcittEolCode);
            out.PadToByte();
            state.ReferenceLine.reset();
        }
    }

    uint8_t partial = 0;
    const int left = out.FlushWholeBytes(partial);
    if (left > 0) {
        state.PendingBitCount = left;
        state.PendingByte = reversed ? IEReversedBits[partial] : partial;
    }
    const size_t n = out.Size();
    if (n == 0) return;
    if (reversed)
        for (size_t i = 0; i < n; ++i) out.Data()[i] = IEReversedBits[out.Data()[i]];
    const int64_t stored = output.Write(out.Data(), static_cast<int64_t>(n));
    if (stored < static_cast<int64_t>(n) && cancelFlag) *cancelFlag = 1;
}

}  // namespace

void CcittEncodeRowG3(const uint8_t* row, int32_t width, TStream& output, int32_t fillOrder, uint8_t* cancelFlag,
                      TCcittEncoderState& state) {
    try {
        EncodeRow(FaxKind::G3, row, width, output, fillOrder, cancelFlag, state);
    } catch (const std::bad_alloc&) {
        throw EIEOutOfMemory();
    }
}

void CcittEncodeRowG4(const uint8_t* row, int32_t width, TStream& output, int32_t fillOrder, uint8_t* cancelFlag,
                      TCcittEncoderState& state) {
    try {
        EncodeRow(FaxKind::G4, row, width, output, fillOrder, cancelFlag, state);
    } catch (const std::bad_alloc&) {
        throw EIEOutOfMemory();
    }
}

}  // namespace quirelle
