// Helpers for the codec tests: bit strings, LZW code packing, a minimal TIFF writer and strip
// reader (to hand our coded data to libtiff's tools and read their output back), and running
// the reference tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/iestreams.h"

namespace quirelle::test {

// "0110..." for the bits of the bytes, most significant bit of each byte first.
std::string BitString(const std::vector<uint8_t>& bytes);
// The bytes of a bit string ("0110..."), padded with zero bits to a whole byte.
std::vector<uint8_t> BytesOfBits(const std::string& bits);

// Packs (code, width) pairs most significant bit first, the last byte padded with zero bits.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& codes);

// A single-sample, single-strip TIFF page (little-endian). T4Options / T6Options are written when
// not negative.
struct MiniTiffPage {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitsPerSample = 1;
    int32_t Compression = 1;
    int32_t Photometric = 0;
    int32_t FillOrder = 1;
    int32_t T4Options = -1;
    int32_t T6Options = -1;
    std::vector<uint8_t> StripData;
};
std::vector<uint8_t> WriteMiniTiff(const MiniTiffPage& page);

// The first image of a TIFF file (either byte order) and its strips or tiles as stored.
struct MiniTiffImage {
    int32_t Width = 0, Height = 0, BitsPerSample = 1, SamplesPerPixel = 1, Compression = 1, Photometric = 0;
    int32_t PlanarConfig = 1, Predictor = 1, FillOrder = 1, RowsPerStrip = 0;
    bool Tiled = false;
    std::vector<std::vector<uint8_t>> Strips;
};
// False when the file is not a TIFF this reader understands.
bool ReadMiniTiff(const std::vector<uint8_t>& file, MiniTiffImage& image);

// Whether an executable exists at this path.
bool ToolAvailable(const std::string& path);
// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// The command quoted for the shell.
std::string ShellQuote(const std::filesystem::path& path);

// A stream that stores at most `capacity` bytes in total and then reports short writes.
class TShortWriteStream : public TStream {
public:
    explicit TShortWriteStream(int64_t capacity) : capacity_(capacity) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    int64_t capacity_;
    std::vector<uint8_t> bytes_;
};

}  // namespace quirelle::test

namespace quirelle::test {

// A one-page PDF whose page is exactly the image (width x height points), drawn from one image
// XObject with the given dictionary entries (filter, decode parameters, colour space, bits) and
// stream data.
std::vector<uint8_t> SingleImagePdf(int32_t width, int32_t height, const std::string& imageEntries,
                                    const std::vector<uint8_t>& data);

// Reads a binary PGM (P5, maxval 255); false when the file is not one.
bool ReadPgm(const std::vector<uint8_t>& file, int32_t& width, int32_t& height, std::vector<uint8_t>& pixels);

}  // namespace quirelle::test
