// Content detection and the TIFF directory reader on arbitrary bytes: no crash, no read outside
// the input, the stream position always restored.
#include <cstdint>
#include <cstdlib>

#include "io/ieformats.h"
#include "platform/iestreams.h"
#include "readers/ietiffdir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quirelle;
    TIEMemoryReadStream stream(data, static_cast<int64_t>(size));
    // Detect from the start and from a position picked by the first byte.
    const int64_t start = size ? static_cast<int64_t>(data[0] % 16) % static_cast<int64_t>(size) : 0;
    for (int64_t position : {int64_t{0}, start}) {
        stream.Seek(position, soBeginning);
        DetectStreamFormat(stream);
        if (stream.Position() != position) std::abort();
    }
    TIETiffHeader header;
    if (ReadTiffHeader(stream, 0, header)) {
        TIETiffIfd ifd;
        int32_t count = 0;
        ReadTiffIfdChain(stream, 0, header, 1, ifd, &count);
        for (const TIETiffEntry& e : ifd.Entries()) {
            ifd.Value(stream, e.Tag, 0, e.Count ? e.Count - 1 : 0);
            ifd.Values(stream, e.Tag);
            ifd.Rational(stream, e.Tag, 0);
            ifd.Text(stream, e.Tag);
        }
    }
    return 0;
}
