#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codecs/iebitreverse.h"
#include "codecs/tifccitt.h"
#include "platform/iestreams.h"
#include "tests/codecs/codectest.h"
#include "tests/codecs/faximages.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;
using test::BitString;
using test::FaxKind;

// Code texts as T.4 prints them, for the expected bit strings below.
const std::string EOL = "000000000001";
const std::string V0 = "1", VL2 = "000010", HORIZONTAL = "001";
const std::string WHITE0 = "00110101", WHITE2 = "0111", WHITE7 = "1111", WHITE56 = "01011001",
                  WHITE384 = "00110111", MAKEUP2560 = "000000011111";
const std::string BLACK1 = "010", BLACK56 = "000000101000", BLACK384 = "000000110100";

std::string Pad(std::string bits) {
    while (bits.size() % 8) bits += '0';
    return bits;
}

TEST(CcittEncoder, OneWhiteRowOfWidth8) {
    const test::FaxImage white = test::FaxImage::Uniform(8, 1, false);
    EXPECT_EQ(test::EncodeFax(FaxKind::G4, white, 1), (Bytes{0x80, 0x08, 0x00, 0x80}));
    EXPECT_EQ(test::EncodeFax(FaxKind::G3, white, 1), (Bytes{0x00, 0x1C, 0xC0, 0x04}));
    // Fill order 2 stores the same bits least significant first.
    EXPECT_EQ(test::EncodeFax(FaxKind::G4, white, 2), (Bytes{0x01, 0x10, 0x00, 0x01}));
    EXPECT_EQ(test::EncodeFax(FaxKind::G3, white, 2), (Bytes{0x00, 0x38, 0x03, 0x20}));
}

TEST(CcittEncoder, CodeSequences) {
    struct Case {
        const char* name;
        FaxKind kind;
        int32_t width;
        std::vector<Bytes> rows;
        std::string bits;  // before the end codes and zero fill
    };
    const Case cases[] = {
        {"1-D row starting black begins with white run 0", FaxKind::G3, 8, {{0x80, 0, 0, 0}},
         EOL + "1" + WHITE0 + BLACK1 + WHITE7},
        {"2-D first row starting black: horizontal, white 0, black run", FaxKind::G4, 16, {{0x80, 0x00, 0, 0}},
         HORIZONTAL + WHITE0 + BLACK1 + V0},
        {"2-D row starting black over a reference starting black: vertical", FaxKind::G4, 16,
         {{0x80, 0x00, 0, 0}, {0x80, 0x00, 0, 0}}, HORIZONTAL + WHITE0 + BLACK1 + V0 + V0 + V0 + V0},
        {"2-D black at 0 over a reference whose first black is at 2: VL2", FaxKind::G4, 16,
         {{0x20, 0x00, 0, 0}, {0xE0, 0x00, 0, 0}},
         HORIZONTAL + WHITE2 + BLACK1 + V0 + VL2 + V0 + V0},
        {"3000 white pixels: make-up 2560, make-up 384, terminating 56", FaxKind::G3, 3000, {Bytes(376, 0x00)},
         EOL + "1" + MAKEUP2560 + WHITE384 + WHITE56},
        {"3000 black pixels", FaxKind::G3, 3000, {Bytes(376, 0xFF)},
         EOL + "1" + WHITE0 + MAKEUP2560 + BLACK384 + BLACK56},
        {"a row of width 0 codes nothing", FaxKind::G3, 0, {Bytes(4, 0xFF)}, EOL + "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FaxImage image;
        image.Width = c.width;
        image.Rows = c.rows;
        const std::string end = c.kind == FaxKind::G4 ? EOL + EOL : EOL;
        EXPECT_EQ(BitString(test::EncodeFax(c.kind, image, 1)), Pad(c.bits + end));
    }
}

// Rows whose width is not a multiple of 8 continue in the byte where the row before ended; the
// state carries the bits in between, and nothing is left after the ending call.
TEST(CcittEncoder, RowsArePackedBackToBack) {
    const test::FaxImage image = test::FaxImage::Uniform(5, 2, false);
    for (FaxKind kind : {FaxKind::G3, FaxKind::G4}) {
        SCOPED_TRACE(kind == FaxKind::G3 ? "G3" : "G4");
        const auto encode = kind == FaxKind::G3 ? CcittEncodeRowG3 : CcittEncodeRowG4;
        TMemoryStream out;
        TCcittEncoderState state;
        uint8_t cancel = 0;
        std::string expected;
        // G3: EOL, tag 1, white 5 (1100); then EOL, tag 0, V0. G4: V0 for each row.
        const std::string row1 = kind == FaxKind::G3 ? EOL + "1" + "1100" : V0;
        const std::string row2 = kind == FaxKind::G3 ? EOL + "0" + V0 : V0;
        encode(image.Rows[0].data(), 5, out, 1, &cancel, state);
        EXPECT_EQ(out.Size() * 8 + state.PendingBitCount, static_cast<int64_t>(row1.size()));
        encode(image.Rows[1].data(), 5, out, 1, &cancel, state);
        EXPECT_EQ(out.Size() * 8 + state.PendingBitCount, static_cast<int64_t>(row1.size() + row2.size()));
        EXPECT_TRUE(state.ReferenceLine.has_value());
        encode(nullptr, 5, out, 1, &cancel, state);
        const std::string end = kind == FaxKind::G3 ? EOL : EOL + EOL;
        EXPECT_EQ(BitString(out.Bytes()), Pad(row1 + row2 + end));
        EXPECT_FALSE(state.ReferenceLine.has_value());
        EXPECT_EQ(state.PendingBitCount, 0);
        EXPECT_EQ(cancel, 0);
    }
}

TEST(CcittEncoder, PendingByteHoldsItsBitsByFillOrder) {
    const test::FaxImage image = test::FaxImage::Uniform(5, 1, false);
    for (int32_t fillOrder : {1, 2}) {
        TMemoryStream out;
        TCcittEncoderState state;
        CcittEncodeRowG4(image.Rows[0].data(), 5, out, fillOrder, nullptr, state);
        EXPECT_EQ(out.Size(), 0);
        EXPECT_EQ(state.PendingBitCount, 1);
        EXPECT_EQ(state.PendingByte, fillOrder == 1 ? 0x80 : 0x01);
    }
}

// Fill order 2 is fill order 1 with every byte's bits reversed, pending bits included.
TEST(CcittEncoder, FillOrder2ReversesTheBitsOfEveryByte) {
    for (int32_t width : {1, 13, 100, 1728}) {
        const test::FaxImage image = test::FaxImage::Mixed(width, 30, static_cast<uint32_t>(width));
        for (FaxKind kind : {FaxKind::G3, FaxKind::G4}) {
            Bytes msbFirst = test::EncodeFax(kind, image, 1);
            for (auto& b : msbFirst) b = IEReversedBits[b];
            EXPECT_EQ(test::EncodeFax(kind, image, 2), msbFirst) << width;
        }
    }
}

TEST(CcittEncoder, BitsPastTheWidthAreIgnored) {
    for (int32_t width : {3, 33, 70}) {
        test::FaxImage image = test::FaxImage::Mixed(width, 21, 7);
        test::FaxImage clean = image;
        for (size_t y = 0; y < clean.Rows.size(); ++y) {
            const Bytes packed = clean.PackedRow(y);
            std::fill(clean.Rows[y].begin(), clean.Rows[y].end(), 0);
            std::copy(packed.begin(), packed.end(), clean.Rows[y].begin());
        }
        for (FaxKind kind : {FaxKind::G3, FaxKind::G4})
            EXPECT_EQ(test::EncodeFax(kind, image, 1), test::EncodeFax(kind, clean, 1)) << width;
    }
}

TEST(CcittEncoder, ShortWriteSetsTheCancelFlagAndCodingGoesOn) {
    const test::FaxImage image = test::FaxImage::Mixed(200, 10, 3);
    test::TShortWriteStream out(5);
    TCcittEncoderState state;
    uint8_t cancel = 0;
    for (const auto& row : image.Rows) CcittEncodeRowG4(row.data(), 200, out, 1, &cancel, state);
    CcittEncodeRowG4(nullptr, 200, out, 1, &cancel, state);
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(out.Bytes().size(), 5u);
    EXPECT_FALSE(state.ReferenceLine.has_value());
    EXPECT_EQ(state.PendingBitCount, 0);
}

TEST(CcittEncoder, EndingWithoutRowsGivesOnlyTheEndCodes) {
    test::FaxImage empty;
    empty.Width = 100;
    EXPECT_EQ(BitString(test::EncodeFax(FaxKind::G3, empty, 1)), Pad(EOL));
    EXPECT_EQ(BitString(test::EncodeFax(FaxKind::G4, empty, 1)), Pad(EOL + EOL));
}

}  // namespace
}  // namespace quirelle
