// The wizard's paper sizes and compression choices, shared by both front ends.
#pragma once

#include <array>
#include <cstdint>

namespace quirelle {

// A paper size in points (1/72 inch): the list text the wizard shows and the short name the
// command line takes.
struct TPaperSize {
    const char* Name;
    const char* ShortName;
    int32_t Width;
    int32_t Height;
};
inline constexpr std::array<TPaperSize, 12> PaperSizes = {{
    {"A0", "A0", 2380, 3368},
    {"A1", "A1", 1684, 2380},
    {"A2", "A2", 1190, 1684},
    {"A3", "A3", 842, 1190},
    {"A4", "A4", 595, 842},
    {"A5", "A5", 421, 595},
    {"A6", "A6", 297, 421},
    {"B5", "B5", 501, 709},
    {"letter (8.5\"x11\")", "letter", 612, 792},
    {"Legal (8.5\"x14\")", "legal", 612, 1008},
    {"ledger (17\"x11\")", "ledger", 1224, 792},
    {"11\"x17\"", "11x17", 792, 1224},
}};
inline constexpr int kDefaultPaperIndex = 4;  // A4

// The compression choices "RLE", "G3Fax", "G4Fax", "Jpeg" and the coding codes they write.
inline constexpr std::array<const char*, 4> CompressionChoices = {"RLE", "G3Fax", "G4Fax", "Jpeg"};
inline constexpr std::array<uint8_t, 4> PdfCodingForChoice = {1, 3, 2, 4};
inline constexpr std::array<uint8_t, 4> PsCodingForChoice = {0, 2, 1, 3};

}  // namespace quirelle
