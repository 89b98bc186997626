// Bit reversal of bytes, for data stored with FillOrder 2 (least significant bit first).
#pragma once

#include <array>
#include <cstdint>

namespace quirelle {

constexpr uint8_t IEReverseBitsOf(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i)) r = static_cast<uint8_t>(r | (0x80u >> i));
    return r;
}

inline constexpr std::array<uint8_t, 256> IEReversedBits = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = IEReverseBitsOf(static_cast<uint8_t>(i));
    return t;
}();

static_assert(IEReversedBits[0x01] == 0x80 && IEReversedBits[0x0F] == 0xF0 && IEReversedBits[0xB4] == 0x2D);

}  // namespace quirelle
