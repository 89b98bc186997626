#include "readers/ietiffdir.h"

#include <cstring>
#include <set>

#include "platform/iestreams.h"

namespace quirelle {

namespace {

// Reads exactly count bytes at an absolute position; false when they are not all there.
bool ReadAt(TStream& stream, int64_t position, void* buffer, int64_t count) {
    if (position < 0 || count < 0) return false;
    const int64_t size = stream.Size();
    if (position > size || count > size - position) return false;
    if (stream.Seek(position, soBeginning) != position) return false;
    return stream.Read(buffer, count) == count;
}

}  // namespace

int32_t TiffTypeSize(uint16_t type) {
    switch (type) {
        case ttByte:
        case ttAscii:
        case ttSByte:
        case ttUndefined: return 1;
        case ttShort:
        case ttSShort: return 2;
        case ttLong:
        case ttSLong:
        case ttFloat:
        case ttIfd: return 4;
        case ttRational:
        case ttSRational:
        case ttDouble: return 8;
        default: return 0;
    }
}

bool ReadTiffHeader(TStream& stream, int64_t base, TIETiffHeader& header) {
    uint8_t h[8];
    if (!ReadAt(stream, base, h, 8)) return false;
    if (h[0] == 'I' && h[1] == 'I')
        header.LittleEndian = true;
    else if (h[0] == 'M' && h[1] == 'M')
        header.LittleEndian = false;
    else
        return false;
    header.FirstIfdOffset = header.LittleEndian
                                ? (uint32_t{h[4]} | uint32_t{h[5]} << 8 | uint32_t{h[6]} << 16 | uint32_t{h[7]} << 24)
                                : (uint32_t{h[7]} | uint32_t{h[6]} << 8 | uint32_t{h[5]} << 16 | uint32_t{h[4]} << 24);
    return true;
}

uint32_t TIETiffIfd::Get32(const uint8_t* p) const {
    return littleEndian_ ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                         : (uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24);
}

uint16_t TIETiffIfd::Get16(const uint8_t* p) const {
    return static_cast<uint16_t>(littleEndian_ ? (p[0] | p[1] << 8) : (p[1] | p[0] << 8));
}

bool TIETiffIfd::Read(TStream& stream, int64_t base, uint32_t offset, bool littleEndian) {
    entries_.clear();
    next_ = 0;
    littleEndian_ = littleEndian;
    base_ = base;
    const int64_t start = base + offset;
    uint8_t countBytes[2];
    if (!ReadAt(stream, start, countBytes, 2)) return false;
    const int32_t count = Get16(countBytes);
    if (count == 0 || count > kMaxEntries) return false;
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 12 + 4);
    if (!ReadAt(stream, start + 2, raw.data(), static_cast<int64_t>(raw.size()))) return false;
    entries_.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* p = raw.data() + static_cast<size_t>(i) * 12;
        TIETiffEntry& e = entries_[static_cast<size_t>(i)];
        e.Tag = Get16(p);
        e.Type = Get16(p + 2);
        e.Count = Get32(p + 4);
        std::memcpy(e.Field, p + 8, 4);
    }
    next_ = Get32(raw.data() + static_cast<size_t>(count) * 12);
    return true;
}

const TIETiffEntry* TIETiffIfd::Find(uint16_t tag) const {
    for (const TIETiffEntry& e : entries_)
        if (e.Tag == tag) return &e;
    return nullptr;
}

int64_t TIETiffIfd::DataSize(const TIETiffEntry& e) {
    const int32_t size = TiffTypeSize(e.Type);
    return size == 0 ? -1 : static_cast<int64_t>(e.Count) * size;
}

bool TIETiffIfd::EntryData(TStream& stream, const TIETiffEntry& e, std::vector<uint8_t>& out) const {
    const int64_t size = DataSize(e);
    if (size < 0) return false;
    if (size <= 4) {
        out.assign(e.Field, e.Field + size);
        return true;
    }
    // Never allocate more than the stream could hold.
    const int64_t position = base_ + Get32(e.Field);
    if (size > stream.Size()) return false;
    out.resize(static_cast<size_t>(size));
    return ReadAt(stream, position, out.data(), size);
}

int64_t TIETiffIfd::Value(TStream& stream, uint16_t tag, int64_t def, uint32_t index) const {
    const TIETiffEntry* e = Find(tag);
    if (!e || index >= e->Count) return def;
    const int32_t size = TiffTypeSize(e->Type);
    const bool integer = e->Type == ttByte || e->Type == ttShort || e->Type == ttLong || e->Type == ttSByte ||
                         e->Type == ttSShort || e->Type == ttSLong;
    if (!integer) return def;
    uint8_t v[4];
    if (DataSize(*e) <= 4) {
        std::memcpy(v, e->Field + static_cast<size_t>(index) * static_cast<size_t>(size), static_cast<size_t>(size));
    } else {
        const int64_t position = base_ + Get32(e->Field) + static_cast<int64_t>(index) * size;
        if (!ReadAt(stream, position, v, size)) return def;
    }
    switch (e->Type) {
        case ttByte: return v[0];
        case ttSByte: return static_cast<int8_t>(v[0]);
        case ttShort: return Get16(v);
        case ttSShort: return static_cast<int16_t>(Get16(v));
        case ttLong: return Get32(v);
        default: return static_cast<int32_t>(Get32(v));
    }
}

std::vector<uint32_t> TIETiffIfd::Values(TStream& stream, uint16_t tag) const {
    const TIETiffEntry* e = Find(tag);
    if (!e || (e->Type != ttByte && e->Type != ttShort && e->Type != ttLong)) return {};
    std::vector<uint8_t> data;
    if (!EntryData(stream, *e, data)) return {};
    const size_t size = static_cast<size_t>(TiffTypeSize(e->Type));
    std::vector<uint32_t> values(e->Count);
    for (size_t i = 0; i < values.size(); ++i) {
        const uint8_t* p = data.data() + i * size;
        values[i] = size == 1 ? p[0] : size == 2 ? Get16(p) : Get32(p);
    }
    return values;
}

double TIETiffIfd::Rational(TStream& stream, uint16_t tag, double def, uint32_t index) const {
    const TIETiffEntry* e = Find(tag);
    if (!e || (e->Type != ttRational && e->Type != ttSRational) || index >= e->Count) return def;
    uint8_t v[8];
    const int64_t position = base_ + Get32(e->Field) + static_cast<int64_t>(index) * 8;
    if (!ReadAt(stream, position, v, 8)) return def;
    double numerator, denominator;
    if (e->Type == ttRational) {
        numerator = Get32(v);
        denominator = Get32(v + 4);
    } else {
        numerator = static_cast<int32_t>(Get32(v));
        denominator = static_cast<int32_t>(Get32(v + 4));
    }
    if (denominator == 0) denominator = 1;
    return numerator / denominator;
}

std::vector<uint8_t> TIETiffIfd::Bytes(TStream& stream, uint16_t tag) const {
    const TIETiffEntry* e = Find(tag);
    std::vector<uint8_t> data;
    if (!e || !EntryData(stream, *e, data)) return {};
    return data;
}

std::string TIETiffIfd::Text(TStream& stream, uint16_t tag) const {
    const TIETiffEntry* e = Find(tag);
    if (!e || e->Type != ttAscii) return {};
    std::vector<uint8_t> data = Bytes(stream, tag);
    std::string text(data.begin(), data.end());
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

bool ReadTiffIfdChain(TStream& stream, int64_t base, const TIETiffHeader& header, int32_t requestedIndex,
                      TIETiffIfd& ifd, int32_t* ifdCount) {
    const int64_t size = stream.Size();
    std::set<uint32_t> visited;
    uint32_t offset = header.FirstIfdOffset;
    int32_t index = 0;
    bool found = false;
    TIETiffIfd current;
    while (offset != 0 && base + offset < size && visited.insert(offset).second) {
        if (!current.Read(stream, base, offset, header.LittleEndian)) break;
        if (index == requestedIndex) {
            ifd = current;
            found = true;
        }
        ++index;
        const uint32_t next = current.NextIfdOffset();
        if (next == offset || next < 8) break;
        offset = next;
    }
    if (ifdCount) *ifdCount = index;
    return found;
}

}  // namespace quirelle
