#include "tests/codecs/faximages.h"

#include <algorithm>

#include "platform/iestreams.h"

namespace quirelle::test {

namespace {

void SetPixel(std::vector<uint8_t>& row, int32_t x, bool black) {
    const auto mask = static_cast<uint8_t>(0x80 >> (x & 7));
    if (black) row[static_cast<size_t>(x >> 3)] |= mask;
    else row[static_cast<size_t>(x >> 3)] &= static_cast<uint8_t>(~mask);
}

void RandomPadding(std::vector<uint8_t>& row, int32_t width, std::mt19937& rng) {
    for (int32_t x = width; x < static_cast<int32_t>(row.size()) * 8; ++x) SetPixel(row, x, rng() & 1);
}

}  // namespace

FaxImage FaxImage::Uniform(int32_t width, int32_t height, bool black) {
    FaxImage image;
    image.Width = width;
    image.Rows.assign(static_cast<size_t>(height),
                      std::vector<uint8_t>(static_cast<size_t>(CcittRowBytes(width)), black ? 0xFF : 0x00));
    return image;
}

FaxImage FaxImage::Mixed(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    FaxImage image;
    image.Width = width;
    const auto rowBytes = static_cast<size_t>(CcittRowBytes(width));
    std::vector<uint8_t> previous(rowBytes, 0);
    for (int32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        switch (y % 7) {
            case 0:  // white
                break;
            case 1:  // black
                std::fill(row.begin(), row.end(), 0xFF);
                break;
            case 2:  // random bits
                for (auto& b : row) b = static_cast<uint8_t>(rng());
                break;
            case 3:  // text-like: the row above with stroke edges moved by up to 4 pixels, plus specks
            case 4: {
                row = previous;
                for (int32_t x = 0; x < width; x += 1 + static_cast<int32_t>(rng() % 40)) {
                    const int32_t len = 1 + static_cast<int32_t>(rng() % 6);
                    const bool black = rng() % 3 != 0;
                    for (int32_t k = 0; k < len && x + k < width; ++k) SetPixel(row, x + k, black);
                }
                break;
            }
            case 5: {  // long runs
                bool black = rng() & 1;
                for (int32_t x = 0; x < width;) {
                    const int32_t len = 1 + static_cast<int32_t>(rng() % 4000);
                    for (int32_t k = 0; k < len && x + k < width; ++k) SetPixel(row, x + k, black);
                    x += len;
                    black = !black;
                }
                break;
            }
            default:  // the row above again
                row = previous;
                break;
        }
        RandomPadding(row, width, rng);
        previous = row;
        image.Rows.push_back(row);
    }
    return image;
}

std::vector<uint8_t> FaxImage::PackedRow(size_t y) const {
    std::vector<uint8_t> packed(Rows[y].begin(), Rows[y].begin() + (Width + 7) / 8);
    if (Width % 8) packed.back() &= static_cast<uint8_t>(0xFF00 >> (Width % 8));
    return packed;
}

std::vector<uint8_t> EncodeFax(FaxKind kind, const FaxImage& image, int32_t fillOrder,
                               TCcittEncoderState* finalState) {
    TMemoryStream out;
    TCcittEncoderState state;
    uint8_t cancel = 0;
    const auto encode = kind == FaxKind::G3 ? CcittEncodeRowG3 : CcittEncodeRowG4;
    for (const auto& row : image.Rows) encode(row.data(), image.Width, out, fillOrder, &cancel, state);
    encode(nullptr, image.Width, out, fillOrder, &cancel, state);
    if (finalState) *finalState = state;
    return out.Bytes();
}

}  // namespace quirelle::test
