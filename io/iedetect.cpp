// Content detection: a fixed chain of signature tests on the first bytes of a stream, then the
// probes of application-registered formats, then camera-raw identification.
#include "io/ieformats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <system_error>

#include "platform/iestreams.h"
#include "readers/iepnm.h"
#include "readers/ietiffdir.h"

namespace quirelle {

namespace {

// Restores a stream's position when it goes out of scope, whatever happens in between.
class PositionGuard {
public:
    explicit PositionGuard(TStream& stream) : stream_(stream), position_(stream.Position()) {}
    ~PositionGuard() {
        try {
            stream_.Seek(position_, soBeginning);
        } catch (...) {
        }
    }
    PositionGuard(const PositionGuard&) = delete;
    PositionGuard& operator=(const PositionGuard&) = delete;
    int64_t Start() const { return position_; }

private:
    TStream& stream_;
    int64_t position_;
};

// Reads exactly count bytes at an absolute position; false when they are not all there.
bool ReadAt(TStream& stream, int64_t position, void* buffer, int64_t count) {
    if (position < 0) return false;
    if (stream.Seek(position, soBeginning) != position) return false;
    return stream.Read(buffer, count) == count;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]}; }

// The first `count` bytes at the current position, cut at the first zero byte, equal `mark`.
// Used for the engine's stream-header marks, where a four-letter mark is followed by a zero byte.
bool MarkAt(TStream& stream, int64_t count, const char* mark) {
    PositionGuard guard(stream);
    std::array<char, 8> bytes{};
    if (stream.Read(bytes.data(), count) != count) return false;
    const std::string text(bytes.data(), strnlen(bytes.data(), static_cast<size_t>(count)));
    return text == mark;
}

// Reads the first IFD of a TIFF structure starting at the current position.
bool ReadFirstIfd(TStream& stream, TIETiffIfd& ifd, TIETiffHeader* headerOut = nullptr) {
    PositionGuard guard(stream);
    TIETiffHeader header;
    if (!ReadTiffHeader(stream, guard.Start(), header)) return false;
    if (headerOut) *headerOut = header;
    return ifd.Read(stream, guard.Start(), header.FirstIfdOffset, header.LittleEndian);
}

bool IsPngStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[8];
    if (stream.Read(b, 8) != 8) return false;
    return b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G';
}

bool IsDicomStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[4];
    if (!ReadAt(stream, guard.Start() + 128, b, 4)) return false;
    return std::memcmp(b, "DICM", 4) == 0;
}

bool IsJp2Stream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[12];
    if (stream.Read(b, 12) != 12) return false;
    return Be32(b) == 12 && Be32(b + 4) == 0x6A502020 && Be32(b + 8) == 0x0D0A870A;
}

bool IsJ2kStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[4];
    if (stream.Read(b, 4) != 4) return false;
    return Be16(b) == 0xFF4F && Be16(b + 2) == 0xFF51;
}

bool IsAviStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[12];
    if (stream.Read(b, 12) != 12) return false;
    return std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "AVI ", 4) == 0;
}

bool IsIevStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[4];
    if (stream.Read(b, 4) != 4) return false;
    return std::memcmp(b, "IEV", 3) == 0 && b[3] >= '1' && b[3] <= 'S';
}

bool IsLyrStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[25];
    if (stream.Read(b, 25) != 25) return false;
    return std::memcmp(b, "IMGVIEWLAYERS", 13) == 0 && static_cast<int32_t>(Le32(b + 13)) > 0;
}

bool IsAllStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[4];
    if (stream.Read(b, 4) != 4) return false;
    const int64_t offset = static_cast<int32_t>(Le32(b));
    if (offset < 0 || offset > stream.Size()) return false;
    stream.Seek(guard.Start() + 4, soBeginning);
    if (!IsLyrStream(stream)) return false;
    stream.Seek(offset, soBeginning);
    return IsIevStream(stream);
}

int64_t TokenNumber(const std::string& token) {
    if (token.empty() || token.size() > 10) return -1;
    int64_t value = 0;
    for (char ch : token) {
        if (ch < '0' || ch > '9') return -1;
        value = value * 10 + (ch - '0');
    }
    return value;
}

}  // namespace

bool IsTiffStream(TStream& stream) {
    PositionGuard guard(stream);
    const int64_t size = stream.Size();
    if (size <= 8) return false;
    uint8_t h[8], afterHeader = 0;
    if (stream.Read(h, 8) != 8) return false;
    // The byte right after the header: big-endian files with 0xBA there are not taken as TIFF.
    const bool haveAfter = stream.Read(&afterHeader, 1) == 1;
    if (h[0] == 'I' && h[1] == 'I') {
        if (Le32(h + 4) >= size) return false;
    } else if (h[0] == 'M' && h[1] == 'M') {
        if (Be32(h + 4) >= size || (haveAfter && afterHeader == 0xBA)) return false;
    } else {
        return false;
    }
    stream.Seek(guard.Start(), soBeginning);
    TIETiffIfd ifd;
    return ReadFirstIfd(stream, ifd) && ifd.Has(256) && ifd.Has(257);
}

bool IsCameraRawTiffStream(TStream& stream) {
    PositionGuard guard(stream);
    TIETiffIfd ifd;
    if (!ReadFirstIfd(stream, ifd)) return false;
    if (const TIETiffEntry* dng = ifd.Find(50706); dng && dng->Type == ttByte && dng->Count == 4) return true;
    if (const TIETiffEntry* photometric = ifd.Find(262); photometric && photometric->Type == ttShort &&
                                                         photometric->Count == 1) {
        const int64_t value = ifd.Value(stream, 262, 0);
        if (value == 32803 || value == 34892) return true;
    }
    if (ifd.Has(330) && ifd.Has(37398)) {
        const int64_t width = ifd.Value(stream, 256, 0), length = ifd.Value(stream, 257, 0);
        if (width < 200 && length < 200) return true;
    }
    return false;
}

bool IsHdPhotoStream(TStream& stream) {
    PositionGuard guard(stream);
    if (stream.Size() <= 8) return false;
    uint8_t h[8];
    if (stream.Read(h, 8) != 8 || h[0] != 'I' || h[1] != 'I') return false;
    stream.Seek(guard.Start(), soBeginning);
    TIETiffIfd ifd;
    if (!ReadFirstIfd(stream, ifd)) return false;
    for (uint16_t tag : {0xBC80, 0xBC81, 0xBC01, 0xBCC0, 0xBCC1})
        if (!ifd.Has(tag)) return false;
    return true;
}

bool IsCameraRawStream(TStream& stream) {
    PositionGuard guard(stream);
    TIETiffHeader header;
    if (!ReadTiffHeader(stream, guard.Start(), header)) return false;
    stream.Seek(guard.Start(), soBeginning);
    return IsCameraRawTiffStream(stream);
}

bool IsIconStream(TStream& stream, uint16_t type) {
    PositionGuard guard(stream);
    if (stream.Size() < 23) return false;
    uint8_t h[6];
    if (stream.Read(h, 6) != 6) return false;
    if (Le16(h) != 0 || Le16(h + 2) != type || Le16(h + 4) == 0) return false;
    const int32_t count = Le16(h + 4);
    for (int32_t i = 0; i < count; ++i) {
        uint8_t e[16];
        if (stream.Read(e, 16) != 16) return false;
        const int64_t reached = 6 + 16 * static_cast<int64_t>(i + 1);  // relative to the icon's start
        if (e[3] != 0 || Le32(e + 8) == 0 || Le32(e + 12) < reached) return false;
    }
    return true;
}

bool IsTgaStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t h[18];
    if (stream.Read(h, 18) != 18) return false;
    const uint8_t type = h[2], depth = h[16];
    const bool typeOk = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    const bool depthOk = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    return typeOk && depthOk && h[1] < 2 && Le16(h + 12) != 0 && Le16(h + 14) != 0;
}

bool IsPnmStream(TStream& stream) {
    PositionGuard guard(stream);
    TIEBufferedReadStream in(stream, 4096);
    // Headers are short: a probe never scans more than this many bytes of a large file.
    int64_t budget = 65536;
    std::string token, magic;
    int64_t width = 0, height = 0;
    for (int i = 0; i < 501; ++i) {
        token = ReadPnmToken(in, budget);
        if (token.empty()) break;  // end of the data (or of the bytes a probe may read)
        if (token[0] == '#') continue;  // a comment
        if (magic.empty()) {
            if (token.size() != 2 || token[0] != 'P' || token[1] < '1' || token[1] > '6') break;
            magic = token;
            continue;
        }
        const int64_t value = TokenNumber(token);
        if (width == 0) {
            width = value;
        } else if (height == 0) {
            height = value;
            if (magic == "P1" || magic == "P4") break;
        } else {
            break;
        }
    }
    return width > 0 && height > 0;
}

bool IsDcxStream(TStream& stream) {
    PositionGuard guard(stream);
    const int64_t size = stream.Size();
    uint8_t b[4];
    if (stream.Read(b, 4) != 4 || Le32(b) != 987654321u) return false;
    for (int i = 0; i < 1024; ++i) {
        if (stream.Read(b, 4) != 4) return false;
        const uint32_t offset = Le32(b);
        if (offset == 0) break;
        if (offset >= size) return false;
    }
    return true;
}

bool IsWmfStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[20];
    if (stream.Read(b, 20) != 20) return false;
    const int64_t headerAt = guard.Start() + (Le32(b) == 0x9AC6CDD7u ? 22 : 0);
    uint8_t h[18];
    if (!ReadAt(stream, headerAt, h, 18)) return false;
    return Le16(h) == 1 && Le16(h + 2) == 9 && Le16(h + 16) == 0;
}

bool IsEmfStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[100];
    if (stream.Read(b, 100) != 100) return false;
    return Le32(b) == 1 && Le32(b + 40) == 0x464D4520u;
}

bool IsPsdStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[26];
    if (stream.Read(b, 26) != 26) return false;
    const uint16_t channels = Be16(b + 12), depth = Be16(b + 22), mode = Be16(b + 24);
    return std::memcmp(b, "8BPS", 4) == 0 && Be16(b + 4) == 1 && channels >= 1 && channels <= 24 && depth >= 1 &&
           depth <= 16 && mode <= 9;
}

bool IsJpegMarkerStream(TStream& stream) {
    PositionGuard guard(stream);
    uint8_t b[152];
    const int64_t got = stream.Read(b, sizeof b);
    for (int64_t q = 0; q + 3 <= got; ++q)
        if (b[q] == 0xFF && b[q + 1] == 0xD8 && b[q + 2] == 0xFF) return true;
    return false;
}

int32_t DetectStreamFormat(TStream& stream) {
    int64_t start = 0;
    try {
        start = stream.Position();
    } catch (...) {
        return iofmtUnknown;
    }
    int32_t result = iofmtUnknown;
    try {
        PositionGuard guard(stream);
        const int64_t size = stream.Size();
        auto at = [&](auto probe) {
            stream.Seek(start, soBeginning);
            return probe();
        };
        auto firstByte = [&](uint8_t* b, int64_t n) {
            stream.Seek(start, soBeginning);
            return stream.Read(b, n) == n;
        };
        uint8_t b[4];
        if (size > 12 && at([&] { return MarkAt(stream, 5, "JFIF"); })) return result = iofmtJPEG;
        if (size > 13 && firstByte(b, 3) && std::memcmp(b, "GIF", 3) == 0) return result = iofmtGIF;
        if (size > 12 && at([&] { return MarkAt(stream, 5, "PCX2"); })) return result = iofmtPCX;
        if (size > 4 && at([&] { return MarkAt(stream, 4, "PCX"); })) return result = iofmtPCX;
        if (size > 14 && firstByte(b, 2) && b[0] == 0x42 && b[1] == 0x4D) return result = iofmtBMP;
        if (size > 128 && firstByte(b, 2) && b[0] == 0x0A && b[1] <= 5) return result = iofmtPCX;
        if (size > 12 && at([&] { return MarkAt(stream, 5, "TIFF"); })) return result = iofmtTIFF;
        if (at([&] { return IsHdPhotoStream(stream); })) return result = iofmtHDP;
        if (at([&] { return IsTiffStream(stream); }) && !at([&] { return IsCameraRawTiffStream(stream); }))
            return result = iofmtTIFF;
        if (size > 8 && at([&] { return IsPngStream(stream); })) return result = iofmtPNG;
        if (at([&] { return IsDicomStream(stream); })) return result = iofmtDICOM;
        if (at([&] { return IsIconStream(stream, 1); })) return result = iofmtICO;
        if (at([&] { return IsIconStream(stream, 2); })) return result = iofmtCUR;
        if (at([&] { return IsTgaStream(stream); })) return result = iofmtTGA;
        if (at([&] { return IsPnmStream(stream); })) return result = iofmtPXM;
        if (at([&] { return IsJp2Stream(stream); })) return result = iofmtJP2;
        if (at([&] { return IsJ2kStream(stream); })) return result = iofmtJ2K;
        if (at([&] { return IsAviStream(stream); })) return result = iofmtAVI;
        if (at([&] { return IsDcxStream(stream); })) return result = iofmtDCX;
        if (at([&] { return IsWmfStream(stream); })) return result = iofmtWMF;
        if (at([&] { return IsEmfStream(stream); })) return result = iofmtEMF;
        if (at([&] { return IsPsdStream(stream); })) return result = iofmtPSD;
        if (at([&] { return IsIevStream(stream); })) return result = iofmtIEV;
        if (at([&] { return IsLyrStream(stream); })) return result = iofmtLYR;
        if (at([&] { return IsAllStream(stream); })) return result = iofmtALL;
        if (at([&] { return IsJpegMarkerStream(stream); })) return result = iofmtJPEG;
        // Probes of the registry's entries (the built-in placeholders answer false).
        for (const auto& entry : FormatRegistryEntries()) {
            if (!entry->ProbeProc) continue;
            stream.Seek(start, soBeginning);
            if (entry->ProbeProc(stream, entry->FormatId)) return result = entry->FormatId;
        }
        if (at([&] { return IsCameraRawStream(stream); })) return result = iofmtRAW;
    } catch (...) {
        // Detection never raises: what was decided so far stands.
    }
    try {
        stream.Seek(start, soBeginning);
    } catch (...) {
    }
    return result;
}

int32_t DetectFileFormat(const std::filesystem::path& fileName, bool strict) {
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::is_regular_file(fileName, ec)) return iofmtUnknown;
    int32_t content = iofmtUnknown;
    try {
        TIEWideFileStream file(fileName, ieOpenRead);
        content = DetectStreamFormat(file);
    } catch (...) {
        content = iofmtUnknown;
    }
    std::string ext = fileName.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const TIEFileFormatInfo* entry = FormatRegistryFindByExtension(ext);
    int32_t result = content;
    if (entry && entry->FormatId == iofmtRAW && content == iofmtTIFF) {
        result = iofmtRAW;
    } else if (entry && !entry->BuiltIn) {
        result = entry->FormatId;
    } else if (strict && content != iofmtUnknown) {
        if (!entry || content == iofmtICO || content == iofmtCUR)
            result = entry ? entry->FormatId : iofmtUnknown;
        else if (entry->FormatId != content)
            result = iofmtUnknown;
    }
    return result;
}

}  // namespace quirelle
