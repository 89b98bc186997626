// A small, bounds-checked reader of classic TIFF directories (IFDs), in both byte orders.
//
// The TIFF structure starts at a base position in a stream (the start of the file, or the start
// of an Exif block): an 8-byte header ("II" or "MM", a 16-bit value, the 32-bit offset of the
// first IFD), then IFDs of a 16-bit entry count, 12-byte entries (tag, type, count, value or
// offset) and the 32-bit offset of the next IFD. All offsets are relative to the base.
//
// Nothing here reads outside the stream: an IFD whose entries do not fit is refused, an entry
// whose values lie (partly) outside the stream reads as absent, and a chain walk stops at offsets
// outside the stream and at any IFD it has already visited.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quirelle {

class TStream;

// TIFF 6.0 field types.
enum TIETiffType : uint16_t {
    ttByte = 1,
    ttAscii = 2,
    ttShort = 3,
    ttLong = 4,
    ttRational = 5,
    ttSByte = 6,
    ttUndefined = 7,
    ttSShort = 8,
    ttSLong = 9,
    ttSRational = 10,
    ttFloat = 11,
    ttDouble = 12,
    ttIfd = 13,
};

// Bytes of one value of the type; 0 for a type this reader does not know.
int32_t TiffTypeSize(uint16_t type);

struct TIETiffHeader {
    bool LittleEndian = true;
    uint32_t FirstIfdOffset = 0;
};

// Reads the 8-byte header at base. False when it is short or the byte order is not "II"/"MM".
// The stream position is left after the header.
bool ReadTiffHeader(TStream& stream, int64_t base, TIETiffHeader& header);

struct TIETiffEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint8_t Field[4] = {0, 0, 0, 0};  // the value field as stored (file byte order)
};

class TIETiffIfd {
public:
    // IFDs declaring more entries than this are refused.
    static constexpr int32_t kMaxEntries = 4096;

    // Reads the IFD at base + offset. False (and no entries) when the offset lies outside the
    // stream, the entry count is 0 or above kMaxEntries, or the entries and the next-IFD offset
    // do not fit in the stream.
    bool Read(TStream& stream, int64_t base, uint32_t offset, bool littleEndian);

    const std::vector<TIETiffEntry>& Entries() const { return entries_; }
    const TIETiffEntry* Find(uint16_t tag) const;
    bool Has(uint16_t tag) const { return Find(tag) != nullptr; }
    uint32_t NextIfdOffset() const { return next_; }
    bool LittleEndian() const { return littleEndian_; }

    // Value i of a BYTE, SHORT or LONG (also SBYTE, SSHORT, SLONG) entry, read inline or from
    // the stream; def when the tag is absent, of another type, i is beyond the count, or the
    // values lie outside the stream.
    int64_t Value(TStream& stream, uint16_t tag, int64_t def, uint32_t index = 0) const;
    // All values of a BYTE, SHORT or LONG entry; empty when absent or unreadable.
    std::vector<uint32_t> Values(TStream& stream, uint16_t tag) const;
    // Numerator / denominator of value i of a RATIONAL or SRATIONAL entry (a denominator of 0
    // counts as 1); def when absent or unreadable.
    double Rational(TStream& stream, uint16_t tag, double def, uint32_t index = 0) const;
    // The raw bytes of an entry's values in file order; empty when absent or unreadable.
    std::vector<uint8_t> Bytes(TStream& stream, uint16_t tag) const;
    // An ASCII entry's text up to its first zero byte.
    std::string Text(TStream& stream, uint16_t tag) const;

private:
    // Byte size of the entry's values; -1 for an unknown type.
    static int64_t DataSize(const TIETiffEntry& e);
    // Reads the entry's value bytes (inline or at the offset) into out; false when unreadable.
    bool EntryData(TStream& stream, const TIETiffEntry& e, std::vector<uint8_t>& out) const;
    uint32_t Get32(const uint8_t* p) const;
    uint16_t Get16(const uint8_t* p) const;

    std::vector<TIETiffEntry> entries_;
    uint32_t next_ = 0;
    bool littleEndian_ = true;
    int64_t base_ = 0;
};

// Walks the IFD chain from the header's first IFD. Loads IFD number requestedIndex (from 0) into
// ifd when the chain has it (result true). ifdCount, when given, receives the number of IFDs in
// the chain. The walk stops at an empty or unreadable IFD, at a next offset of 0, below 8 or
// outside the stream, and at an IFD it has visited before.
bool ReadTiffIfdChain(TStream& stream, int64_t base, const TIETiffHeader& header, int32_t requestedIndex,
                      TIETiffIfd& ifd, int32_t* ifdCount = nullptr);

}  // namespace quirelle
