#include "readers/iewbmp.h"

#include <cmath>
#include <cstring>

#include "readers/iereadlimits.h"

namespace quirelle {

namespace {

// A multi-byte integer: 7 bits per byte, most significant group first, bit 7 set while another
// byte follows. False at the end of the data, and when a fourth byte still announces a fifth:
// no integer of a real file is that long, and reading on would misplace every later field.
bool ReadMultiByteInteger(TIEBufferedReadStream& in, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int c = in.ReadByte();
        if (c < 0) return false;
        value = (value << 7) | static_cast<uint32_t>(c & 0x7F);
        if (!(c & 0x80)) return true;
    }
    return false;
}

}  // namespace

void ReadWbmp(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    TIEBufferedReadStream in(stream);
    uint32_t type = 0, fixedHeader = 0, width = 0, height = 0;
    if (!ReadMultiByteInteger(in, type) || !ReadMultiByteInteger(in, fixedHeader) ||
        !ReadMultiByteInteger(in, width) || !ReadMultiByteInteger(in, height) || type != 0 || fixedHeader != 0 ||
        width == 0 || height == 0) {
        progress.Cancel();
        return;
    }
    // Four 7-bit groups hold at most 28 bits, so both sizes fit 32-bit fields.
    params.ChannelBits = 1;
    params.ChannelCount = 1;
    params.PixelWidth = params.StoredWidth = static_cast<int32_t>(width);
    params.PixelHeight = params.StoredHeight = static_cast<int32_t>(height);
    params.SetResolutionX(IEDefaultDPI);
    params.SetResolutionY(IEDefaultDPI);
    params.ClearColorMap();
    if (paramsOnly) return;

    progress.PercentPerUnit = 100.0 / height;
    const int64_t rowBytes = (static_cast<int64_t>(width) + 7) / 8;
    if (!IEBodyAllocationAllowed(width, height, rowBytes * height, in.Size() - in.Position()) ||
        !bitmap.Allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), ie1g)) {
        progress.Cancel();
        return;
    }
    const int32_t rowLength = bitmap.RowLength();
    // Rows not read (the data ended or the load was cancelled) stay white.
    auto whiteFrom = [&](int32_t first) {
        for (int32_t y = first; y < static_cast<int32_t>(height); ++y)
            if (uint8_t* row = bitmap.RowAddress(y)) std::memset(row, 0xFF, static_cast<size_t>(rowLength));
    };
    for (int32_t y = 0; y < static_cast<int32_t>(height); ++y) {
        if (progress.Cancelled()) {
            whiteFrom(y);
            return;
        }
        uint8_t* row = bitmap.RowAddress(y);
        const int64_t got = row ? in.Read(row, rowBytes) : 0;
        if (got < rowBytes) {
            if (row) std::memset(row + got, 0xFF, static_cast<size_t>(rowLength - got));
            whiteFrom(y + 1);
            progress.Cancel();
            return;
        }
        progress.Notify(static_cast<int32_t>(std::nearbyint(y * progress.PercentPerUnit)));
    }
}

}  // namespace quirelle
