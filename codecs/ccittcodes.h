// The run-length and mode codes of ITU-T T.4 (also used by T.6), built at compile time from the
// code lists as the Recommendation prints them (Tables 1 to 3 and the two-dimensional code table).
//
// Each colour has one table of 104 entries: entries 0..63 are the terminating codes for runs
// 0..63, and the make-up code for a run of m x 64 pixels (m = 1..40) is entry 63 + m. Make-up
// runs 64..1728 have a white and a black code; 1792..2560 are the extended make-up codes common
// to both colours.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quirelle {

struct TCcittCode {
    uint8_t Length = 0;  // bits, 1..13
    uint16_t Code = 0;   // right-aligned in 16 bits, sent most significant bit first
    int16_t Run = 0;     // pixels this code stands for (-1 for mode codes)
};

namespace ccitt_lists {

// T.4 Table 2: terminating codes, index = run length.
inline constexpr std::array<const char*, 64> WhiteTerminating = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};

inline constexpr std::array<const char*, 64> BlackTerminating = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};

// T.4 Table 3a: make-up codes for 64, 128, ..., 1728 (index m - 1).
inline constexpr std::array<const char*, 27> WhiteMakeUp = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};

inline constexpr std::array<const char*, 27> BlackMakeUp = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101",
};

// T.4 Table 3b: extended make-up codes for 1792, 1856, ..., 2560, common to both colours.
inline constexpr std::array<const char*, 13> ExtendedMakeUp = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

constexpr TCcittCode Parse(const char* bits, int run) {
    TCcittCode code;
    int length = 0;
    unsigned value = 0;
    for (; bits[length] != '\0'; ++length) {
        if (bits[length] != '0' && bits[length] != '1') throw "code lists hold only 0 and 1";
        value = (value << 1) | static_cast<unsigned>(bits[length] - '0');
    }
    if (length < 1 || length > 13) throw "T.4 codes are 1 to 13 bits long";
    code.Length = static_cast<uint8_t>(length);
    code.Code = static_cast<uint16_t>(value);
    code.Run = static_cast<int16_t>(run);
    return code;
}

constexpr std::array<TCcittCode, 104> BuildTable(const std::array<const char*, 64>& terminating,
                                                 const std::array<const char*, 27>& makeUp) {
    std::array<TCcittCode, 104> table{};
    for (size_t r = 0; r < 64; ++r) table[r] = Parse(terminating[r], static_cast<int>(r));
    for (size_t m = 1; m <= 27; ++m) table[63 + m] = Parse(makeUp[m - 1], static_cast<int>(m * 64));
    for (size_t m = 28; m <= 40; ++m) table[63 + m] = Parse(ExtendedMakeUp[m - 28], static_cast<int>(m * 64));
    return table;
}

// True when no code of the table (nor the EOL code) is a prefix of another: the property that
// lets a decoder read them back, and the one a mistyped entry is most likely to break.
constexpr bool IsPrefixFree(const std::array<TCcittCode, 104>& table, TCcittCode eol) {
    std::array<TCcittCode, 105> all{};
    for (size_t i = 0; i < 104; ++i) all[i] = table[i];
    all[104] = eol;
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = 0; j < all.size(); ++j) {
            if (i == j || all[i].Length > all[j].Length) continue;
            if ((all[j].Code >> (all[j].Length - all[i].Length)) == all[i].Code) return false;
        }
    return true;
}

}  // namespace ccitt_lists

// Mode codes of two-dimensional coding, and the end-of-line code.
inline constexpr TCcittCode CcittPassCode = ccitt_lists::Parse("0001", -1);
inline constexpr TCcittCode CcittHorizontalCode = ccitt_lists::Parse("001", -1);
// Vertical codes, index a1 - b1 + 3: VL3, VL2, VL1, V0, VR1, VR2, VR3.
inline constexpr std::array<TCcittCode, 7> CcittVerticalCodes = {
    ccitt_lists::Parse("0000010", -1), ccitt_lists::Parse("000010", -1), ccitt_lists::Parse("010", -1),
    ccitt_lists::Parse("1", -1),       ccitt_lists::Parse("011", -1),    ccitt_lists::Parse("000011", -1),
    ccitt_lists::Parse("0000011", -1),
};
inline constexpr TCcittCode CcittEolCode = ccitt_lists::Parse("000000000001", -1);

inline constexpr std::array<TCcittCode, 104> CcittWhiteCodes =
    ccitt_lists::BuildTable(ccitt_lists::WhiteTerminating, ccitt_lists::WhiteMakeUp);
inline constexpr std::array<TCcittCode, 104> CcittBlackCodes =
    ccitt_lists::BuildTable(ccitt_lists::BlackTerminating, ccitt_lists::BlackMakeUp);

static_assert(ccitt_lists::IsPrefixFree(CcittWhiteCodes, CcittEolCode), "white code list is not prefix-free");
static_assert(ccitt_lists::IsPrefixFree(CcittBlackCodes, CcittEolCode), "black code list is not prefix-free");
static_assert(CcittWhiteCodes[8].Length == 5 && CcittWhiteCodes[8].Code == 0b10011);
static_assert(CcittWhiteCodes[0].Length == 8 && CcittWhiteCodes[0].Code == 0b00110101);
static_assert(CcittWhiteCodes[63 + 40].Run == 2560 && CcittBlackCodes[63 + 40].Code == CcittWhiteCodes[63 + 40].Code);
static_assert(CcittBlackCodes[63 + 6].Run == 384 && CcittBlackCodes[63 + 6].Length == 12);
static_assert(CcittEolCode.Length == 12 && CcittEolCode.Code == 1);

}  // namespace quirelle
