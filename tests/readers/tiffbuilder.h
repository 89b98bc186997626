// Builds small classic TIFF structures in memory for tests: IFDs of entries in either byte
// order, values that do not fit inline placed after their IFD, IFDs chained in order.
#pragma once

#include <cstdint>
#include <vector>

namespace quirelle::test {

struct TiffField {
    uint16_t tag;
    uint16_t type;                  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL
    std::vector<uint32_t> values;   // one per value (RATIONAL: numerator, denominator pairs)
    uint32_t count = 0;             // 0: derived from values
};

class TiffBuilder {
public:
    explicit TiffBuilder(bool littleEndian) : little_(littleEndian) {}

    // Appends an IFD; returns its index.
    size_t AddIfd(std::vector<TiffField> fields) {
        ifds_.push_back(std::move(fields));
        return ifds_.size() - 1;
    }

    // The file: header, then each IFD followed by its out-of-line values. nextOverride, when
    // given for the last IFD, replaces its next-IFD offset (for loops).
    std::vector<uint8_t> Build(int64_t lastNextOverride = -1) const {
        std::vector<uint8_t> out;
        out.push_back(little_ ? 'I' : 'M');
        out.push_back(little_ ? 'I' : 'M');
        Put16(out, 42);
        Put32(out, ifds_.empty() ? 0 : 8);
        for (size_t i = 0; i < ifds_.size(); ++i) {
            const auto& fields = ifds_[i];
            const size_t start = out.size();
            const size_t dataStart = start + 2 + fields.size() * 12 + 4;
            std::vector<uint8_t> data;
            Put16(out, static_cast<uint16_t>(fields.size()));
            for (const TiffField& f : fields) {
                Put16(out, f.tag);
                Put16(out, f.type);
                const uint32_t count = f.count ? f.count
                                       : f.type == 5 ? static_cast<uint32_t>(f.values.size() / 2)
                                                     : static_cast<uint32_t>(f.values.size());
                Put32(out, count);
                std::vector<uint8_t> bytes;
                for (uint32_t v : f.values) {
                    if (f.type == 1 || f.type == 2) bytes.push_back(static_cast<uint8_t>(v));
                    else if (f.type == 3) Put16(bytes, static_cast<uint16_t>(v));
                    else Put32(bytes, v);
                }
                if (bytes.size() <= 4) {
                    bytes.resize(4, 0);
                    out.insert(out.end(), bytes.begin(), bytes.end());
                } else {
                    Put32(out, static_cast<uint32_t>(dataStart + data.size()));
                    data.insert(data.end(), bytes.begin(), bytes.end());
                    if (data.size() % 2) data.push_back(0);
                }
            }
            const size_t next = dataStart + data.size();
            if (i + 1 < ifds_.size())
                Put32(out, static_cast<uint32_t>(next));
            else
                Put32(out, lastNextOverride >= 0 ? static_cast<uint32_t>(lastNextOverride) : 0);
            out.insert(out.end(), data.begin(), data.end());
        }
        return out;
    }

    // A minimal image IFD: width, length and whatever else is given.
    static std::vector<TiffField> Image(uint32_t width, uint32_t length, std::vector<TiffField> more = {}) {
        std::vector<TiffField> f = {{256, 3, {width}}, {257, 3, {length}}};
        f.insert(f.end(), more.begin(), more.end());
        return f;
    }

private:
    void Put16(std::vector<uint8_t>& out, uint16_t v) const {
        if (little_) {
            out.push_back(static_cast<uint8_t>(v));
            out.push_back(static_cast<uint8_t>(v >> 8));
        } else {
            out.push_back(static_cast<uint8_t>(v >> 8));
            out.push_back(static_cast<uint8_t>(v));
        }
    }
    void Put32(std::vector<uint8_t>& out, uint32_t v) const {
        if (little_) {
            for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
        } else {
            for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
        }
    }
    bool little_;
    std::vector<std::vector<TiffField>> ifds_;
};

}  // namespace quirelle::test
