#include "codecs/ieascii85.h"

#include <algorithm>

namespace quirelle {

int32_t EncodeAscii85Group(const uint8_t*& source, int32_t k, uint8_t*& destination) {
    k = std::clamp(k, 0, 4);
    uint32_t v = 0;
    for (int32_t i = 0; i < k; ++i) v |= static_cast<uint32_t>(source[i]) << (24 - 8 * i);
    source += k;
    if (v == 0 && k == 4) {
        *destination++ = 'z';
        return 1;
    }
    uint8_t digits[5];
    digits[0] = static_cast<uint8_t>(v / 52200625u);  // 85^4
    v %= 52200625u;
    digits[1] = static_cast<uint8_t>(v / 614125u);  // 85^3
    v %= 614125u;
    digits[2] = static_cast<uint8_t>(v / 7225u);  // 85^2
    v %= 7225u;
    digits[3] = static_cast<uint8_t>(v / 85u);
    digits[4] = static_cast<uint8_t>(v % 85u);
    for (int32_t i = 0; i <= k; ++i) *destination++ = static_cast<uint8_t>(digits[i] + 33);
    return k + 1;
}

int32_t EncodeAscii85Block(const uint8_t*& source, int32_t count, uint8_t*& destination, int64_t& counter) {
    int32_t total = 0;
    int32_t line = 0;
    // An empty block is only the end marker: one "!" for a group of no bytes would not decode.
    for (int32_t remaining = count; remaining > 0; remaining -= 4) {
        const int32_t written = EncodeAscii85Group(source, std::min(4, remaining), destination);
        total += written;
        counter += written;
        line += written;
        if (line >= 75) {
            *destination++ = '\r';
            *destination++ = '\n';
            total += 2;
            line = 0;
        }
    }
    *destination++ = '~';
    *destination++ = '>';
    *destination++ = '\r';
    *destination++ = '\n';
    return total + 4;
}

int64_t Ascii85MaxEncodedSize(int64_t count) {
    if (count < 0) count = 0;
    const int64_t characters = 5 * ((count + 3) / 4);
    return characters + 2 * (characters / 75) + 4;
}

}  // namespace quirelle
