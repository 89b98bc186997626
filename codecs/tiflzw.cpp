#include "codecs/tiflzw.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/iebitreverse.h"
#include "platform/iestreams.h"

namespace quirelle {
namespace {

constexpr int kClear = 256;
constexpr int kEoi = 257;
constexpr int kFirstFree = 258;
constexpr int kMaxCodes = 4096;  // codes 0..4095 fit in 12 bits
// The longest string of a dictionary of 4096 codes: each added entry is one byte longer than an
// earlier one at most.
constexpr int32_t kMaxStringLength = kMaxCodes - kFirstFree + 2;

// ------------------------------------------------------------------------------------------
// Decoder

struct LzwDecoder {
    // Strip data: the data length bounds every read.
    const uint8_t* data = nullptr;
    int64_t length = 0;
    int64_t bitPosition = 0;
    bool reversed = false;

    // Output: the row being built, with room for a string that runs past it.
    std::vector<uint8_t> output;
    int32_t count = 0;          // bytes in output
    int32_t lastRowLength = 0;  // length of the row returned by the previous call

    // Dictionary: every code is a shorter code (its prefix) plus one byte; the string is walked
    // back through the prefixes when it is written.
    std::array<uint16_t, kMaxCodes> prefix{};
    std::array<uint8_t, kMaxCodes> suffix{};
    std::array<uint8_t, kMaxCodes> firstByte{};
    std::array<uint16_t, kMaxCodes> stringLength{};
    int nextFree = kFirstFree;
    int width = 9;
    int previous = -1;  // none
    bool failed = false;
    bool finished = false;

    LzwDecoder(const uint8_t* d, int64_t len, int32_t fillOrder)
        : data(d), length(len > 0 ? len : 0), reversed(fillOrder == 2) {
        for (int i = 0; i < 256; ++i) {
            suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            firstByte[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            stringLength[static_cast<size_t>(i)] = 1;
        }
    }

    void Reset() {
        nextFree = kFirstFree;
        width = 9;
        previous = -1;
    }

    // The next code, or -1 when the data has no whole code left.
    int ReadCode() {
        if (bitPosition + width > length * 8) return -1;
        const int64_t at = bitPosition >> 3;
        uint32_t v = 0;
        if (at + 4 <= length) {
            for (int i = 0; i < 4; ++i) v = (v << 8) | Byte(at + i);
        } else {
            for (int64_t i = 0; i < 4; ++i) v = (v << 8) | (at + i < length ? Byte(at + i) : 0u);
        }
        const int code = static_cast<int>((v << (bitPosition & 7)) >> (32 - width));
        bitPosition += width;
        return code;
    }
    uint32_t Byte(int64_t i) const { return reversed ? IEReversedBits[data[i]] : data[i]; }

    // Writes the string of a defined code at the end of the output.
    void PutString(int code) {
        const int32_t n = stringLength[static_cast<size_t>(code)];
        uint8_t* p = output.data() + count + n - 1;
        while (code >= 256) {
            *p-- = suffix[static_cast<size_t>(code)];
            code = prefix[static_cast<size_t>(code)];
        }
        *p = static_cast<uint8_t>(code);
        count += n;
    }

    // Adds previous + byte as the next code; false when the dictionary is full.
    bool AddEntry(int previousCode, uint8_t byte) {
        if (nextFree >= kMaxCodes) return false;
        const auto k = static_cast<size_t>(nextFree);
        const auto p = static_cast<size_t>(previousCode);
        prefix[k] = static_cast<uint16_t>(previousCode);
        suffix[k] = byte;
        firstByte[k] = firstByte[p];
        stringLength[k] = static_cast<uint16_t>(stringLength[p] + 1);
        ++nextFree;
        if (nextFree == 511) width = 10;
        else if (nextFree == 1023) width = 11;
        else if (nextFree == 2047) width = 12;
        return true;
    }

    // Decodes until the output holds a row; false on an error.
    bool DecodeRow(int32_t rowLength) {
        while (count < rowLength && !finished) {
            int code = ReadCode();
            if (code == kClear) {
                do {
                    Reset();
                    code = ReadCode();
                } while (code == kClear);
                if (code < 0 || code == kEoi) {
                    finished = true;
                    break;
                }
                if (code >= kFirstFree) return false;  // not defined right after Clear
                output[static_cast<size_t>(count++)] = static_cast<uint8_t>(code);
                previous = code;
                continue;
            }
            if (code < 0 || code == kEoi) {
                finished = true;
                break;
            }
            if (previous < 0) {
                // The first code of a stream without a leading Clear: a byte, nothing to add.
                if (code >= 256) return false;
                output[static_cast<size_t>(count++)] = static_cast<uint8_t>(code);
                previous = code;
                continue;
            }
            if (code < nextFree) {
                PutString(code);
                if (!AddEntry(previous, firstByte[static_cast<size_t>(code)])) return false;
            } else if (code == nextFree) {
                // The string being defined: previous string plus its own first byte.
                if (!AddEntry(previous, firstByte[static_cast<size_t>(previous)])) return false;
                PutString(code);
            } else {
                finished = true;  // a code that cannot be defined yet ends the data
                break;
            }
            previous = code;
        }
        return true;
    }
};

// ------------------------------------------------------------------------------------------
// Encoder

constexpr int kHashSize = 5003;  // prime, about 80% above the largest number of entries
constexpr int kHashShift = 4;    // 8 minus the doublings that take 5003 to 65536 or more
constexpr int kOutputBlock = 254;

struct LzwEncoder {
    TStream* stream = nullptr;
    uint64_t accumulator = 0;
    int accumulatedBits = 0;
    std::array<uint8_t, kOutputBlock> block{};
    int blockCount = 0;
    std::array<int32_t, kHashSize> hashKey{};
    std::array<uint16_t, kHashSize> hashCode{};
    int width = 9;
    int largestCode = 511;
    int nextFree = kFirstFree;
    int prefix = -1;  // none until the first byte
    bool clearPending = false;

    LzwEncoder() { ClearHash(); }

    void ClearHash() { hashKey.fill(-1); }

    void PutByte(uint8_t b) {
        block[static_cast<size_t>(blockCount++)] = b;
        if (blockCount == kOutputBlock) FlushBlock();
    }
    void FlushBlock() {
        if (blockCount > 0) stream->WriteBuffer(block.data(), blockCount);
        blockCount = 0;
    }

    void WriteCode(int code) {
        accumulator = (accumulator << width) | static_cast<uint64_t>(code);
        accumulatedBits += width;
        while (accumulatedBits >= 8) {
            accumulatedBits -= 8;
            PutByte(static_cast<uint8_t>(accumulator >> accumulatedBits));
        }
        if (clearPending) {
            clearPending = false;
            width = 9;
            largestCode = 511;
        } else if (nextFree >= largestCode && width < 12) {
            ++width;
            largestCode = (1 << width) - 1;
        }
        if (code == kEoi) {
            if (accumulatedBits > 0) PutByte(static_cast<uint8_t>(accumulator << (8 - accumulatedBits)));
            accumulatedBits = 0;
            FlushBlock();
        }
    }

    void Encode(const uint8_t* bytes, int32_t count) {
        int32_t i = 0;
        if (prefix < 0) {
            if (count <= 0) return;
            prefix = bytes[i++];
        }
        int ent = prefix;
        for (; i < count; ++i) {
            const int c = bytes[i];
            const int32_t key = (c << 12) + ent;
            int index = (c << kHashShift) ^ ent;
            if (hashKey[static_cast<size_t>(index)] == key) {
                ent = hashCode[static_cast<size_t>(index)];
                continue;
            }
            if (hashKey[static_cast<size_t>(index)] >= 0) {
                const int step = index == 0 ? 1 : kHashSize - index;
                bool found = false;
                do {
                    index -= step;
                    if (index < 0) index += kHashSize;
                    if (hashKey[static_cast<size_t>(index)] == key) {
                        found = true;
                        break;
                    }
                } while (hashKey[static_cast<size_t>(index)] >= 0);
                if (found) {
                    ent = hashCode[static_cast<size_t>(index)];
                    continue;
                }
            }
            WriteCode(ent);
            ent = c;
            if (nextFree > kMaxCodes - 3) {
                ClearHash();
                nextFree = kFirstFree;
                clearPending = true;
                WriteCode(kClear);
            } else {
                hashKey[static_cast<size_t>(index)] = key;
                hashCode[static_cast<size_t>(index)] = static_cast<uint16_t>(nextFree++);
            }
        }
        prefix = ent;
    }

    void Finish() {
        if (prefix >= 0) WriteCode(prefix);
        WriteCode(kEoi);
    }
};

}  // namespace

const uint8_t* TiffLzwDecodeRow(const uint8_t* data, int64_t length, int32_t rowLength, void** state,
                                int32_t fillOrder) {
    if (!state) return nullptr;
    auto* decoder = static_cast<LzwDecoder*>(*state);
    if (!data) {
        delete decoder;
        *state = nullptr;
        return nullptr;
    }
    try {
        if (!decoder) {
            if (rowLength < 0) return nullptr;
            decoder = new LzwDecoder(data, length, fillOrder);
            *state = decoder;
        }
        if (decoder->failed) return nullptr;
        if (rowLength < 0) {
            decoder->failed = true;
            return nullptr;
        }
        // Bytes beyond the previous row (a string that ran past its end) start this one.
        if (decoder->count > decoder->lastRowLength) {
            const int32_t left = decoder->count - decoder->lastRowLength;
            std::memmove(decoder->output.data(), decoder->output.data() + decoder->lastRowLength,
                         static_cast<size_t>(left));
            decoder->count = left;
        } else {
            decoder->count = 0;
        }
        const size_t needed = static_cast<size_t>(rowLength) + static_cast<size_t>(kMaxStringLength) + 8;
        if (decoder->output.size() < needed) decoder->output.resize(needed);
        decoder->lastRowLength = rowLength;
        if (!decoder->DecodeRow(rowLength)) {
            decoder->failed = true;
            return nullptr;
        }
        if (decoder->count < rowLength) {
            std::memset(decoder->output.data() + decoder->count, 0, static_cast<size_t>(rowLength - decoder->count));
            decoder->count = rowLength;
        }
        return decoder->output.data();
    } catch (const std::bad_alloc&) {
        if (decoder) decoder->failed = true;
        return nullptr;
    }
}

void TiffLzwEncode(const uint8_t* bytes, int32_t count, TStream& output, void** state) {
    if (!state) return;
    auto* encoder = static_cast<LzwEncoder*>(*state);
    if (!bytes) {
        std::unique_ptr<LzwEncoder> owned(encoder);
        *state = nullptr;
        if (!owned) {
            owned = std::make_unique<LzwEncoder>();
            owned->stream = &output;
            owned->WriteCode(kClear);
        }
        owned->stream = &output;
        owned->Finish();
        return;
    }
    if (!encoder) {
        auto created = std::make_unique<LzwEncoder>();
        created->stream = &output;
        created->WriteCode(kClear);
        encoder = created.release();
        *state = encoder;
    }
    encoder->stream = &output;
    encoder->Encode(bytes, count);
}

}  // namespace quirelle
