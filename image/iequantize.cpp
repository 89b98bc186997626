#include "image/iequantize.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace quirelle {

namespace {

constexpr uint32_t kExactSlots = 1024;  // power of two, well above 257 colours
constexpr uint32_t kCacheBits = 14;

inline uint32_t HashColor(uint32_t c, uint32_t bits) { return (c * 2654435761u) >> (32 - bits); }

inline uint32_t PackBgr(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }

// One histogram cell seen as a point at the mean colour of its pixels, weighted by their number.
struct Point {
    double m[3];  // blue, green, red
    double n;
};

struct Box {
    size_t begin, end;
    double n;
    double s[3];  // sum of n * m
    double q[3];  // sum of n * m^2
    double Sse() const {
        double e = 0;
        for (int c = 0; c < 3; ++c) e += q[c] - s[c] * s[c] / n;
        return std::max(e, 0.0);
    }
};

Box MakeBox(const std::vector<Point>& points, size_t begin, size_t end) {
    Box box{begin, end, 0, {0, 0, 0}, {0, 0, 0}};
    for (size_t i = begin; i < end; ++i) {
        const Point& p = points[i];
        box.n += p.n;
        for (int c = 0; c < 3; ++c) {
            box.s[c] += p.n * p.m[c];
            box.q[c] += p.n * p.m[c] * p.m[c];
        }
    }
    return box;
}

}  // namespace

TIEColorQuantizer::TIEColorQuantizer(int32_t colors)
    : wanted_(std::clamp(colors, 1, 256)), cells_(size_t{1} << 18), exact_(kExactSlots, 0) {}

TIEColorQuantizer::~TIEColorQuantizer() = default;

void TIEColorQuantizer::TrackExact(uint32_t color) {
    const uint32_t key = color + 1;
    for (uint32_t slot = HashColor(color, 10);; slot = (slot + 1) & (kExactSlots - 1)) {
        if (exact_[slot] == key) return;
        if (exact_[slot] == 0) {
            if (exactCount_ == wanted_) {
                exactOverflow_ = true;
                return;
            }
            exact_[slot] = key;
            ++exactCount_;
            return;
        }
    }
}

void TIEColorQuantizer::AddRun(uint32_t color, uint64_t n) {
    if (!exactOverflow_) TrackExact(color);
    const uint32_t b = color & 255, g = (color >> 8) & 255, r = color >> 16;
    Cell& cell = cells_[((r >> 2) << 12) | ((g >> 2) << 6) | (b >> 2)];
    cell.n += n;
    cell.b += b * n;
    cell.g += g * n;
    cell.r += r * n;
}

void TIEColorQuantizer::AddPixels(const uint8_t* bgr, int32_t n) {
    if (n <= 0) return;
    uint32_t last = PackBgr(bgr);
    uint64_t run = 1;
    for (int32_t i = 1; i < n; ++i) {
        const uint32_t c = PackBgr(bgr + 3 * static_cast<size_t>(i));
        if (c == last) {
            ++run;
            continue;
        }
        AddRun(last, run);
        last = c;
        run = 1;
    }
    AddRun(last, run);
}

void TIEColorQuantizer::Build() {
    palette_.fill(BgrColor{});
    if (!exactOverflow_) {
        // Few enough colours: each gets its own entry, in ascending order of its packed value.
        std::vector<uint32_t> colors;
        for (uint32_t key : exact_)
            if (key) colors.push_back(key - 1);
        std::sort(colors.begin(), colors.end());
        count_ = static_cast<int32_t>(colors.size());
        for (size_t i = 0; i < colors.size(); ++i) palette_[i] = PackedToBgr(colors[i]);
    } else {
        MedianCut();
    }
    cells_.clear();
    cells_.shrink_to_fit();
    candidateStart_.assign(size_t{1} << 15, -1);
    candidateCount_.assign(size_t{1} << 15, 0);
    cacheKey_.assign(size_t{1} << kCacheBits, 0);
    cacheIndex_.assign(size_t{1} << kCacheBits, 0);
}

// Splits the colour space into at most wanted_ boxes. Each step takes the box with the largest
// squared error, sorts its points along the channel with the largest variance, and cuts where the
// two halves' squared errors add up to the least. Entries are the pixel-weighted box means.
void TIEColorQuantizer::MedianCut() {
    std::vector<Point> points;
    for (const Cell& cell : cells_) {
        if (!cell.n) continue;
        const auto n = static_cast<double>(cell.n);
        points.push_back(Point{{static_cast<double>(cell.b) / n, static_cast<double>(cell.g) / n,
                                static_cast<double>(cell.r) / n},
                               n});
    }
    std::vector<Box> boxes{MakeBox(points, 0, points.size())};
    while (static_cast<int32_t>(boxes.size()) < wanted_) {
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            const double e = boxes[i].Sse();
            if (e > worst) worst = e, pick = i;
        }
        if (pick == boxes.size()) break;
        const Box box = boxes[pick];
        int axis = 0;
        double widest = -1;
        for (int c = 0; c < 3; ++c) {
            const double v = box.q[c] - box.s[c] * box.s[c] / box.n;
            if (v > widest) widest = v, axis = c;
        }
        const auto first = points.begin() + static_cast<std::ptrdiff_t>(box.begin);
        const auto last = points.begin() + static_cast<std::ptrdiff_t>(box.end);
        std::sort(first, last, [axis](const Point& a, const Point& b) {
            if (a.m[axis] != b.m[axis]) return a.m[axis] < b.m[axis];
            for (int c = 0; c < 3; ++c)
                if (a.m[c] != b.m[c]) return a.m[c] < b.m[c];
            return a.n < b.n;
        });
        double ln = 0, ls[3] = {0, 0, 0}, lq[3] = {0, 0, 0};
        double best = -1;
        size_t cut = box.begin + 1;
        for (size_t i = box.begin; i + 1 < box.end; ++i) {
            const Point& p = points[i];
            ln += p.n;
            for (int c = 0; c < 3; ++c) ls[c] += p.n * p.m[c], lq[c] += p.n * p.m[c] * p.m[c];
            const double rn = box.n - ln;
            double e = 0;
            for (int c = 0; c < 3; ++c) {
                const double rs = box.s[c] - ls[c];
                e += (lq[c] - ls[c] * ls[c] / ln) + ((box.q[c] - lq[c]) - rs * rs / rn);
            }
            if (best < 0 || e < best) best = e, cut = i + 1;
        }
        boxes[pick] = MakeBox(points, box.begin, cut);
        boxes.push_back(MakeBox(points, cut, box.end));
    }
    count_ = 0;
    for (const Box& box : boxes) {
        if (box.n <= 0) continue;
        auto channel = [&](int c) {
            return static_cast<uint8_t>(std::clamp(std::lround(box.s[c] / box.n), 0L, 255L));
        };
        palette_[static_cast<size_t>(count_++)] = BgrColor{channel(0), channel(1), channel(2)};
    }
}

// The entries that can be nearest to a colour inside the 8 x 8 x 8 cell: those whose least
// distance to the cell is no more than the smallest greatest distance of any entry.
const uint8_t* TIEColorQuantizer::Candidates(uint32_t cell, int32_t& count) {
    if (candidateStart_[cell] < 0) {
        const int lo[3] = {static_cast<int>(cell & 31) * 8, static_cast<int>((cell >> 5) & 31) * 8,
                           static_cast<int>(cell >> 10) * 8};
        std::vector<int> nearest(static_cast<size_t>(count_));
        int bound = INT32_MAX;
        for (int32_t e = 0; e < count_; ++e) {
            const BgrColor& p = palette_[static_cast<size_t>(e)];
            const int v[3] = {p.b, p.g, p.r};
            int dmin = 0, dmax = 0;
            for (int c = 0; c < 3; ++c) {
                const int hi = lo[c] + 7;
                const int below = v[c] < lo[c] ? lo[c] - v[c] : (v[c] > hi ? v[c] - hi : 0);
                const int far = std::max(std::abs(v[c] - lo[c]), std::abs(v[c] - hi));
                dmin += below * below;
                dmax += far * far;
            }
            nearest[static_cast<size_t>(e)] = dmin;
            bound = std::min(bound, dmax);
        }
        candidateStart_[cell] = static_cast<int32_t>(candidatePool_.size());
        uint8_t n = 0;
        for (int32_t e = 0; e < count_; ++e)
            if (nearest[static_cast<size_t>(e)] <= bound) candidatePool_.push_back(static_cast<uint8_t>(e)), ++n;
        // At most 256 entries exist; a full list is stored as 0 and read back as 256.
        candidateCount_[cell] = n;
    }
    count = candidateCount_[cell] ? candidateCount_[cell] : (count_ == 256 ? 256 : 0);
    return candidatePool_.data() + candidateStart_[cell];
}

uint8_t TIEColorQuantizer::Nearest(uint32_t color) {
    const uint32_t slot = HashColor(color, kCacheBits);
    if (cacheKey_[slot] == color + 1) return cacheIndex_[slot];
    const int b = color & 255, g = (color >> 8) & 255, r = color >> 16;
    int32_t count = 0;
    const uint8_t* list = Candidates(((color >> 19) << 10) | (((color >> 11) & 31) << 5) | ((color >> 3) & 31), count);
    int best = INT32_MAX;
    uint8_t index = 0;
    for (int32_t i = 0; i < count; ++i) {
        const BgrColor& p = palette_[list[i]];
        const int db = p.b - b, dg = p.g - g, dr = p.r - r;
        const int d = db * db + dg * dg + dr * dr;
        if (d < best) best = d, index = list[i];
    }
    cacheKey_[slot] = color + 1;
    cacheIndex_[slot] = index;
    return index;
}

void TIEColorQuantizer::MapPixels(const uint8_t* bgr, uint8_t* indices, int32_t n) {
    if (n <= 0 || count_ == 0) {
        std::fill(indices, indices + std::max(n, 0), uint8_t{0});
        return;
    }
    uint32_t last = PackBgr(bgr);
    uint8_t index = Nearest(last);
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t c = PackBgr(bgr + 3 * static_cast<size_t>(i));
        if (c != last) last = c, index = Nearest(c);
        indices[i] = index;
    }
}

}  // namespace quirelle
