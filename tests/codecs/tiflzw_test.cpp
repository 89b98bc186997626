#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codecs/iebitreverse.h"
#include "codecs/tiflzw.h"
#include "io/ioparams.h"
#include "platform/iestreams.h"
#include "tests/codecs/codectest.h"
#include "tests/codecs/lzwdata.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<std::pair<int, int>>;
using test::DecodeLzw;
using test::EncodeLzw;

// The hooks of the parameter set take these functions as they are.
[[maybe_unused]] constexpr TTiffLzwDecoderProc kDecoderHook = &TiffLzwDecodeRow;
[[maybe_unused]] constexpr TTiffLzwEncoderProc kEncoderHook = &TiffLzwEncode;

constexpr int CLEAR = 256, EOI = 257;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Byte codes after a Clear at the widths the early change gives: 9 bits until the next free code
// reaches 511 (after the 254th code), 10 bits until 1023, 11 until 2047.
Codes LiteralCodes(const Bytes& bytes) {
    Codes codes = {{CLEAR, 9}};
    int nextFree = 258;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int width = nextFree >= 2047 ? 12 : nextFree >= 1023 ? 11 : nextFree >= 511 ? 10 : 9;
        codes.push_back({bytes[i], width});
        if (i > 0) ++nextFree;
    }
    const int width = nextFree >= 2047 ? 12 : nextFree >= 1023 ? 11 : nextFree >= 511 ? 10 : 9;
    codes.push_back({EOI, width});
    return codes;
}

TEST(TiffLzwDecoder, HandMadeStreams) {
    struct Case {
        const char* name;
        Codes codes;
        int32_t rowLength;
        std::vector<Bytes> rows;  // expected rows; an empty list means the first row fails
    };
    Bytes ramp;
    for (int i = 0; i < 1200; ++i) ramp.push_back(static_cast<uint8_t>(i * 7));
    const Case cases[] = {
        {"bytes", {{CLEAR, 9}, {'A', 9}, {'B', 9}, {EOI, 9}}, 2, {Text("AB")}},
        {"KwKwK: codes equal to the next free code", {{CLEAR, 9}, {'A', 9}, {258, 9}, {259, 9}, {EOI, 9}}, 6,
         {Text("AAAAAA")}},
        {"dictionary strings", {{CLEAR, 9}, {'A', 9}, {'B', 9}, {258, 9}, {260, 9}, {EOI, 9}}, 7, {Text("ABABABA")}},
        {"no EOI: the end of the data ends the stream", {{CLEAR, 9}, {'A', 9}, {'B', 9}}, 4,
         {Bytes{'A', 'B', 0, 0}, Bytes{0, 0, 0, 0}}},
        {"Clear in the middle resets the dictionary",
         {{CLEAR, 9}, {'A', 9}, {'B', 9}, {CLEAR, 9}, {'C', 9}, {'D', 9}, {258, 9}, {EOI, 9}}, 6, {Text("ABCDCD")}},
        {"Clear twice in a row", {{CLEAR, 9}, {CLEAR, 9}, {'x', 9}, {EOI, 9}}, 1, {Text("x")}},
        {"no leading Clear", {{'A', 9}, {'B', 9}, {258, 9}, {EOI, 9}}, 4, {Text("ABAB")}},
        {"a string running past the row goes on in the next row",
         {{CLEAR, 9}, {'A', 9}, {258, 9}, {259, 9}, {'B', 9}, {EOI, 9}}, 4, {Text("AAAA"), Bytes{'A', 'A', 'B', 0}, Bytes(4, 0)}},
        {"a code above the next free code ends the data quietly", {{CLEAR, 9}, {'A', 9}, {400, 9}, {'B', 9}}, 3,
         {Bytes{'A', 0, 0}}},
        {"early change: 9, 10 and 11-bit codes", LiteralCodes(ramp), 1200, {ramp}},
        {"a code after Clear that is not yet defined fails", {{CLEAR, 9}, {258, 9}, {EOI, 9}}, 2, {}},
        {"a first code that is no byte fails", {{300, 9}, {EOI, 9}}, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The strip is a vector of exactly its bytes: reading past it is a sanitizer error.
        const Bytes strip = test::PackCodes(c.codes);
        void* state = nullptr;
        if (c.rows.empty()) {
            EXPECT_EQ(TiffLzwDecodeRow(strip.data(), static_cast<int64_t>(strip.size()), c.rowLength, &state, 1), nullptr);
            EXPECT_EQ(TiffLzwDecodeRow(strip.data(), static_cast<int64_t>(strip.size()), c.rowLength, &state, 1), nullptr)
                << "an error stays";
        }
        for (const Bytes& expected : c.rows) {
            const uint8_t* row = TiffLzwDecodeRow(strip.data(), static_cast<int64_t>(strip.size()), c.rowLength, &state, 1);
            ASSERT_NE(row, nullptr);
            EXPECT_EQ(Bytes(row, row + c.rowLength), Bytes(expected.begin(), expected.begin() + c.rowLength));
        }
        EXPECT_EQ(TiffLzwDecodeRow(nullptr, 0, c.rowLength, &state, 1), nullptr);
        EXPECT_EQ(state, nullptr);
    }
}

TEST(TiffLzwDecoder, LateWidthChangeIsNotTheTiffFlavour) {
    // The same bytes with the width growing one code later decode to something else.
    Bytes ramp;
    for (int i = 0; i < 300; ++i) ramp.push_back(static_cast<uint8_t>(i));
    Codes late = LiteralCodes(ramp);
    for (size_t i = 1; i < late.size(); ++i)
        if (i == 256) late[i].second = 9;
    const Bytes strip = test::PackCodes(late);
    EXPECT_NE(DecodeLzw(strip, 300, 1), ramp);
    EXPECT_EQ(DecodeLzw(test::PackCodes(LiteralCodes(ramp)), 300, 1), ramp);
}

TEST(TiffLzwDecoder, DictionaryPast4096EntriesFails) {
    Bytes bytes(4000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 256);
    const Bytes strip = test::PackCodes(LiteralCodes(bytes));  // 3999 entries after 258 is too many
    void* state = nullptr;
    EXPECT_EQ(TiffLzwDecodeRow(strip.data(), static_cast<int64_t>(strip.size()), 4000, &state, 1), nullptr);
    TiffLzwDecodeRow(nullptr, 0, 0, &state, 1);
    // 3838 literals fill the table up to code 4095: still fine.
    bytes.resize(3839);
    EXPECT_EQ(DecodeLzw(test::PackCodes(LiteralCodes(bytes)), 3839, 1), bytes);
}

TEST(TiffLzwDecoder, FillOrder2ReadsReversedBytes) {
    const Bytes data = Text("fill order two fill order two fill order two");
    Bytes strip = EncodeLzw({data});
    for (auto& b : strip) b = IEReversedBits[b];
    EXPECT_EQ(DecodeLzw(strip, static_cast<int32_t>(data.size()), 2), data);
}

TEST(TiffLzwDecoder, TruncatedStripsNeverReadPastTheirEnd) {
    std::mt19937 rng(5);
    Bytes data(3000);
    for (auto& b : data) b = static_cast<uint8_t>(rng() % 16);
    const Bytes full = EncodeLzw({data});
    for (size_t cut = 0; cut < full.size(); cut += 1 + cut / 3) {
        const Bytes strip(full.begin(), full.begin() + static_cast<long>(cut));
        void* state = nullptr;
        const uint8_t* row = TiffLzwDecodeRow(strip.empty() ? full.data() : strip.data(), static_cast<int64_t>(cut),
                                              3000, &state, 1);
        ASSERT_NE(row, nullptr) << cut;
        TiffLzwDecodeRow(nullptr, 0, 0, &state, 1);
    }
}

TEST(TiffLzwEncoder, ExactBytes) {
    // Clear, 'A', EOI at 9 bits: 27 bits, the last byte padded with zero bits.
    EXPECT_EQ(EncodeLzw({Text("A")}), (Bytes{0x80, 0x10, 0x60, 0x20}));
    // Ending a stream that never started: Clear and EOI.
    TMemoryStream out;
    void* state = nullptr;
    TiffLzwEncode(nullptr, 0, out, &state);
    EXPECT_EQ(out.Bytes(), (Bytes{0x80, 0x40, 0x40}));
    EXPECT_EQ(state, nullptr);
    // A first call without bytes starts the stream; the prefix comes with the first byte.
    TMemoryStream out2;
    const uint8_t a = 'A';
    TiffLzwEncode(&a, 0, out2, &state);
    TiffLzwEncode(&a, 1, out2, &state);
    TiffLzwEncode(nullptr, 0, out2, &state);
    EXPECT_EQ(out2.Bytes(), (Bytes{0x80, 0x10, 0x60, 0x20}));
}

// Reads the codes back with the decoder's width rule; returns (code, width) pairs.
Codes ParseCodes(const Bytes& stream) {
    Codes codes;
    const std::string bits = test::BitString(stream);
    size_t at = 0;
    int width = 9, nextFree = 258;
    bool first = true;
    while (at + static_cast<size_t>(width) <= bits.size()) {
        const int code = std::stoi(bits.substr(at, static_cast<size_t>(width)), nullptr, 2);
        at += static_cast<size_t>(width);
        codes.push_back({code, width});
        if (code == EOI) break;
        if (code == CLEAR) {
            width = 9;
            nextFree = 258;
            first = true;
            continue;
        }
        if (!first) ++nextFree;
        first = false;
        width = nextFree >= 2047 ? 12 : nextFree >= 1023 ? 11 : nextFree >= 511 ? 10 : 9;
    }
    return codes;
}

TEST(TiffLzwEncoder, WidthsGrowEarlyAndClearComesAt12Bits) {
    std::mt19937 rng(11);
    Bytes data(40000);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const Bytes stream = EncodeLzw({data});
    const Codes codes = ParseCodes(stream);
    ASSERT_GE(codes.size(), 300u);
    EXPECT_EQ(codes.front(), std::make_pair(CLEAR, 9));
    // Random bytes make a new string at nearly every code: after Clear, codes 1..254 are 9 bits,
    // then 10 bits from the 255th.
    EXPECT_EQ(codes[254].second, 9);
    EXPECT_EQ(codes[255].second, 10);
    size_t clears = 0;
    for (size_t i = 1; i < codes.size(); ++i) {
        if (codes[i].first != CLEAR) continue;
        ++clears;
        EXPECT_EQ(codes[i].second, 12);
        ASSERT_LT(i + 1, codes.size());
        EXPECT_EQ(codes[i + 1].second, 9);
    }
    EXPECT_GE(clears, 1u);
    EXPECT_EQ(codes.back().first, EOI);
    EXPECT_EQ(DecodeLzw(stream, static_cast<int32_t>(data.size()), 1), data);
}

TEST(TiffLzwCodec, RoundTripsAnyDataSplitIntoAnyRows) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 40; ++round) {
        const int kind = round % 4;
        Bytes data(static_cast<size_t>(rng() % 60000));
        for (size_t i = 0; i < data.size(); ++i) {
            switch (kind) {
                case 0: data[i] = static_cast<uint8_t>(rng()); break;               // no repeats
                case 1: data[i] = static_cast<uint8_t>(rng() % 3); break;           // few symbols
                case 2: data[i] = static_cast<uint8_t>(i / 5000); break;            // long runs (KwKwK)
                default: data[i] = static_cast<uint8_t>((i % 97) * (i % 13)); break;  // patterns
            }
        }
        // Encoder calls split the data one way, decoder rows another.
        std::vector<Bytes> chunks;
        for (size_t at = 0; at < data.size();) {
            const size_t n = std::min(data.size() - at, static_cast<size_t>(rng() % 3000));
            chunks.emplace_back(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
            at += n;
        }
        const Bytes stream = EncodeLzw(chunks);
        const int32_t rowLength = 1 + static_cast<int32_t>(rng() % 5000);
        EXPECT_EQ(DecodeLzw(stream, static_cast<int32_t>(data.size()), 1, rowLength), data) << "round " << round;
    }
}

}  // namespace
}  // namespace quirelle
