#include "tests/codecs/codectest.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace quirelle::test {

std::string BitString(const std::vector<uint8_t>& bytes) {
    std::string bits;
    for (uint8_t b : bytes)
        for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
    return bits;
}

std::vector<uint8_t> BytesOfBits(const std::string& bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (0x80 >> (i % 8)));
    return bytes;
}

std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& codes) {
    std::string bits;
    for (const auto& [code, width] : codes)
        for (int i = width - 1; i >= 0; --i) bits += ((code >> i) & 1) ? '1' : '0';
    return BytesOfBits(bits);
}

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> WriteMiniTiff(const MiniTiffPage& page) {
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    std::vector<Entry> entries = {
        {256, 4, static_cast<uint32_t>(page.Width)},
        {257, 4, static_cast<uint32_t>(page.Height)},
        {258, 3, static_cast<uint32_t>(page.BitsPerSample)},
        {259, 3, static_cast<uint32_t>(page.Compression)},
        {262, 3, static_cast<uint32_t>(page.Photometric)},
        {266, 3, static_cast<uint32_t>(page.FillOrder)},
        {273, 4, 0},  // strip offset, filled below
        {277, 3, 1},
        {278, 4, static_cast<uint32_t>(page.Height)},
        {279, 4, static_cast<uint32_t>(page.StripData.size())},
        {284, 3, 1},
    };
    if (page.T4Options >= 0) entries.push_back({292, 4, static_cast<uint32_t>(page.T4Options)});
    if (page.T6Options >= 0) entries.push_back({293, 4, static_cast<uint32_t>(page.T6Options)});
    const uint32_t ifdSize = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    const uint32_t dataOffset = 8 + ifdSize;
    for (Entry& e : entries)
        if (e.tag == 273) e.value = dataOffset;

    std::vector<uint8_t> out = {'I', 'I', 42, 0};
    Put32(out, 8);
    Put16(out, static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        Put16(out, e.tag);
        Put16(out, e.type);
        Put32(out, 1);
        if (e.type == 3) {
            Put16(out, e.value);
            Put16(out, 0);
        } else {
            Put32(out, e.value);
        }
    }
    Put32(out, 0);
    out.insert(out.end(), page.StripData.begin(), page.StripData.end());
    return out;
}

namespace {

class TiffView {
public:
    explicit TiffView(const std::vector<uint8_t>& f) : f_(f) {}
    bool big = false;
    bool Ok(uint64_t at, uint64_t n) const { return at <= f_.size() && n <= f_.size() - at; }
    uint32_t U16(uint64_t at) const {
        return big ? (uint32_t{f_[at]} << 8) | f_[at + 1] : f_[at] | (uint32_t{f_[at + 1]} << 8);
    }
    uint32_t U32(uint64_t at) const {
        return big ? (U16(at) << 16) | U16(at + 2) : U16(at) | (U16(at + 2) << 16);
    }
    const std::vector<uint8_t>& f_;
};

}  // namespace

bool ReadMiniTiff(const std::vector<uint8_t>& file, MiniTiffImage& image) {
    TiffView v(file);
    if (file.size() < 8) return false;
    if (file[0] == 'M' && file[1] == 'M') v.big = true;
    else if (file[0] != 'I' || file[1] != 'I') return false;
    const uint32_t ifd = v.U32(4);
    if (!v.Ok(ifd, 2)) return false;
    const uint32_t n = v.U16(ifd);
    if (!v.Ok(ifd + 2, 12ull * n)) return false;
    std::vector<uint32_t> offsets, counts;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t e = ifd + 2 + 12ull * i;
        const uint32_t tag = v.U16(e), type = v.U16(e + 2), count = v.U32(e + 4);
        const uint32_t size = type == 3 ? 2 : 4;
        if (type != 3 && type != 4) continue;
        uint64_t at = e + 8;
        if (uint64_t{size} * count > 4) at = v.U32(e + 8);
        if (!v.Ok(at, uint64_t{size} * count)) return false;
        std::vector<uint32_t> values;
        for (uint32_t k = 0; k < count; ++k) values.push_back(size == 2 ? v.U16(at + 2ull * k) : v.U32(at + 4ull * k));
        if (values.empty()) continue;
        switch (tag) {
            case 256: image.Width = static_cast<int32_t>(values[0]); break;
            case 257: image.Height = static_cast<int32_t>(values[0]); break;
            case 258: image.BitsPerSample = static_cast<int32_t>(values[0]); break;
            case 259: image.Compression = static_cast<int32_t>(values[0]); break;
            case 262: image.Photometric = static_cast<int32_t>(values[0]); break;
            case 266: image.FillOrder = static_cast<int32_t>(values[0]); break;
            case 273: case 324: offsets = values; image.Tiled = tag == 324; break;
            case 277: image.SamplesPerPixel = static_cast<int32_t>(values[0]); break;
            case 278: image.RowsPerStrip = static_cast<int32_t>(values[0]); break;
            case 279: case 325: counts = values; break;
            case 284: image.PlanarConfig = static_cast<int32_t>(values[0]); break;
            case 317: image.Predictor = static_cast<int32_t>(values[0]); break;
            default: break;
        }
    }
    if (image.RowsPerStrip <= 0 || image.RowsPerStrip > image.Height) image.RowsPerStrip = image.Height;
    if (offsets.size() != counts.size()) return false;
    for (size_t i = 0; i < offsets.size(); ++i) {
        if (!v.Ok(offsets[i], counts[i])) return false;
        image.Strips.emplace_back(file.begin() + offsets[i], file.begin() + offsets[i] + counts[i]);
    }
    return true;
}

bool ToolAvailable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string ShellQuote(const std::filesystem::path& path) {
    std::string quoted = "'";
    for (char c : path.string()) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

int64_t TShortWriteStream::Write(const void* buffer, int64_t count) {
    const int64_t room = capacity_ - static_cast<int64_t>(bytes_.size());
    const int64_t n = count < room ? count : (room > 0 ? room : 0);
    const auto* p = static_cast<const uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + n);
    return n;
}

int64_t TShortWriteStream::Seek(int64_t, TSeekOrigin) { return static_cast<int64_t>(bytes_.size()); }

}  // namespace quirelle::test

namespace quirelle::test {

std::vector<uint8_t> SingleImagePdf(int32_t width, int32_t height, const std::string& imageEntries,
                                    const std::vector<uint8_t>& data) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    const std::string w = std::to_string(width), h = std::to_string(height);
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
           "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>");
    object("<< /Type /XObject /Subtype /Image /Width " + w + " /Height " + h + " " + imageEntries +
           " /Length " + std::to_string(data.size()) + " >>\nstream\n" + std::string(data.begin(), data.end()) +
           "\nendstream");
    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q";
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return std::vector<uint8_t>(pdf.begin(), pdf.end());
}

bool ReadPgm(const std::vector<uint8_t>& file, int32_t& width, int32_t& height, std::vector<uint8_t>& pixels) {
    size_t at = 0;
    std::vector<std::string> fields;
    while (fields.size() < 4 && at < file.size()) {
        const char c = static_cast<char>(file[at]);
        if (c == '#') {
            while (at < file.size() && file[at] != '\n') ++at;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++at;
        } else {
            std::string field;
            while (at < file.size() && !std::isspace(file[at])) field += static_cast<char>(file[at++]);
            fields.push_back(field);
        }
    }
    ++at;
    if (fields.size() != 4 || fields[0] != "P5" || fields[3] != "255") return false;
    width = std::stoi(fields[1]);
    height = std::stoi(fields[2]);
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (width <= 0 || height <= 0 || file.size() < at + n) return false;
    pixels.assign(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + n));
    return true;
}

}  // namespace quirelle::test
