#include "codecs/iepackbits.h"

#include <cstring>

namespace quirelle {

int32_t EncodePackBits(const uint8_t* source, int32_t count, uint8_t* destination) {
    int32_t j = 0;
    int32_t o = 0;
    while (j < count) {
        // Run scan: how many bytes from j equal source[j], 128 at most.
        int32_t e = j + 1;
        while (e < count && source[e] == source[j] && e - j < 128) ++e;
        const int32_t r = e - j;
        if (r >= 2) {
            destination[o++] = static_cast<uint8_t>(1 - r);  // 0xFF for 2 copies .. 0x81 for 128
            destination[o++] = source[j];
            j = e;
            continue;
        }
        // Literal scan: up to the first byte that repeats the one before it (that earlier byte
        // ends the block), 128 bytes at most.
        e = j + 1;
        while (e < count && source[e] != source[e - 1] && e - j < 128) ++e;
        const int32_t c = e - j;
        destination[o++] = static_cast<uint8_t>(c - 1);
        std::memcpy(destination + o, source + j, static_cast<size_t>(c));
        o += c;
        j = e;
    }
    destination[o++] = 0x80;
    return o;
}

int64_t PackBitsMaxEncodedSize(int64_t count) {
    if (count < 0) count = 0;
    return 3 * (count + 1) / 2;
}

}  // namespace quirelle
