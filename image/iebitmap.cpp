#include "image/iebitmap.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

int64_t MemoryThresholdOverride = -1;
bool AllowFileFallback = true;
bool AllowBands = true;

namespace {

constexpr int64_t kFileCopyChunk = 1048576;
constexpr int64_t kMinBandSize = 10485760;
constexpr int64_t kDefaultThreshold = 33554432;

int64_t DefaultMemoryThreshold() {
    if (MemoryThresholdOverride != -1) return MemoryThresholdOverride;
    const int64_t total = IETotalPhysicalMemory();
    if (total == 0) return kDefaultThreshold;
    return static_cast<int64_t>(static_cast<double>(total) / 1.3);
}

bool SupportedByVcl(TIEPixelFormat format) {
    return format == ie1g || format == ie8p || format == ie8g || format == ie16gray || format == ie24RGB ||
           format == ie32RGBX;
}

}  // namespace

int64_t RowLengthFor(int64_t width, int32_t bitsPerPixel, int32_t alignmentBits) {
    const int64_t bits = width * bitsPerPixel;
    if (alignmentBits == 32) return ((bits + 31) >> 5) * 4;
    if (alignmentBits < 8) alignmentBits = 8;
    return (bits + alignmentBits - 1) / alignmentBits * (alignmentBits / 8);
}

std::string IENotAllowedInVclMessage(TIEPixelFormat format) {
    return std::string(IEPixelFormatName(format)) +
           " pixel format not allowed when Location=ieTBitmap Please set TImageView.LegacyBitmap=false.";
}

// =============================================================================================
// TIEFileBuffer

TIEFileBuffer::TIEFileBuffer() = default;

TIEFileBuffer::~TIEFileBuffer() { Release(); }

bool TIEFileBuffer::Create(const std::string& prefix, int64_t size) {
    Release();
    try {
        stream_ = std::make_unique<TIETemporaryFileStream>(prefix);
        // Reserve the blocks now, so that a full disk fails the allocation instead of a later row.
        int result;
        do {
            result = ::posix_fallocate(stream_->Handle(), 0, static_cast<off_t>(size));
        } while (result == EINTR);
        if (result == EOPNOTSUPP || result == EINVAL) {
            stream_->SetSize(size);
        } else if (result != 0) {
            stream_.reset();
            return false;
        }
        return true;
    } catch (const EIEException&) {
        stream_.reset();
        return false;
    }
}

void TIEFileBuffer::SetSize(int64_t size) {
    if (stream_) stream_->SetSize(size);
}

std::filesystem::path TIEFileBuffer::FileName() const { return stream_ ? stream_->FileName() : std::filesystem::path(); }

void TIEFileBuffer::Flush() {
    for (const Mapping& m : maps_) WriteBack(m);
}

void TIEFileBuffer::CopyTo(TIEFileBuffer& target, int64_t n) {
    if (!stream_ || !target.stream_) return;
    Flush();
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min(n, kFileCopyChunk)));
    for (int64_t offset = 0; offset < n;) {
        const int64_t len = std::min(kFileCopyChunk, n - offset);
        const ssize_t got = ::pread(stream_->Handle(), chunk.data(), static_cast<size_t>(len), offset);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EIEInOutError("Cannot read " + FileName().string() + ". " + IESystemErrorText(errno));
        }
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(target.stream_->Handle(), chunk.data() + done, static_cast<size_t>(got - done),
                                         offset + done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0)
                throw EIEInOutError("Cannot write " + target.FileName().string() + ". " +
                                    IESystemErrorText(put < 0 ? errno : ENOSPC));
            done += put;
        }
        offset += got;
    }
}

uint8_t* TIEFileBuffer::Map(uint8_t access, int64_t length, int64_t offset) {
    if (!stream_ || length <= 0) return nullptr;
    std::unique_ptr<uint8_t[]> copy;
    if (length == spareLength_ && !spare_.empty()) {
        copy = std::move(spare_.back());
        spare_.pop_back();
    } else {
        copy = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    }
    if (access & ieaRead) {
        int64_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(stream_->Handle(), copy.get() + done, static_cast<size_t>(length - done), offset + done);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw EIEInOutError("Cannot read " + FileName().string() + ". " + IESystemErrorText(errno));
            if (got == 0) break;
            done += got;
        }
        if (done < length) std::memset(copy.get() + done, 0, static_cast<size_t>(length - done));
    }
    uint8_t* address = copy.get();
    maps_.push_back(Mapping{offset, length, std::move(copy), access});
    return address;
}

void TIEFileBuffer::WriteBack(const Mapping& m) {
    if (!(m.access & ieaWrite) || !stream_) return;
    int64_t done = 0;
    while (done < m.length) {
        const ssize_t put = ::pwrite(stream_->Handle(), m.copy.get() + done, static_cast<size_t>(m.length - done), m.offset + done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
            throw EIEInOutError("Cannot write " + FileName().string() + ". " + IESystemErrorText(put < 0 ? errno : ENOSPC));
        done += put;
    }
}

void TIEFileBuffer::Unmap(uint8_t* address) {
    for (size_t i = 0; i < maps_.size(); ++i) {
        if (maps_[i].copy.get() != address) continue;
        Mapping m = std::move(maps_[i]);
        maps_.erase(maps_.begin() + static_cast<std::ptrdiff_t>(i));
        // Keep the copy for the next mapping of the same length even when the write-back fails.
        struct Recycle {
            TIEFileBuffer& owner;
            Mapping& m;
            ~Recycle() {
                if (owner.spareLength_ != m.length) {
                    owner.spare_.clear();
                    owner.spareLength_ = m.length;
                }
                if (owner.spare_.size() < 4) owner.spare_.push_back(std::move(m.copy));
            }
        } recycle{*this, m};
        WriteBack(m);
        return;
    }
}

void TIEFileBuffer::UnmapAll() {
    while (!maps_.empty()) Unmap(maps_.back().copy.get());
}

void TIEFileBuffer::Release() {
    // The file is deleted, so what the mappings hold is not written back.
    maps_.clear();
    spare_.clear();
    spareLength_ = 0;
    stream_.reset();
}

// =============================================================================================
// TIEBitmap: construction and destruction

TIEBitmap::TIEBitmap() : MemoryThreshold(DefaultMemoryThreshold()), fileStore_(std::make_unique<TIEFileBuffer>()) {}

TIEBitmap::TIEBitmap(int32_t width, TIEPixelFormat format, int32_t height) : TIEBitmap() { Allocate(width, height, format); }

TIEBitmap::TIEBitmap(TIEBitmap& source) : TIEBitmap() { CopyFrom(source); }

TIEBitmap::TIEBitmap(int32_t width, TIEStorageLocation location, int32_t height) : TIEBitmap() {
    isAlphaPlane_ = true;
    location_ = location == ieTBitmap ? ieInMemory : location;
    if (Allocate(width, height, ie8g)) Fill(255);
}

TIEBitmap::~TIEBitmap() {
    try {
        FreeStorage(true);
    } catch (...) {
        // Destruction must not raise; the file store is released below in any case.
    }
    if (vclBitmap_ && !vclBitmapNotOwned_) delete vclBitmap_;
    vclBitmap_ = nullptr;
}

// =============================================================================================
// Shape

void TIEBitmap::LoadDerived() {
    bitsPerPixel_ = IEBitsPerPixelOf(format_);
    samplesPerPixel_ = IESamplesPerPixelOf(format_);
    int64_t length = RowLengthFor(width_, bitsPerPixel_, rowAlignment_);
    if (location_ == ieTBitmap && vclBitmap_) length = vclBitmap_->RowStride();
    rowLength_ = length > INT32_MAX ? 0 : static_cast<int32_t>(length);
}

void TIEBitmap::ResetShape() {
    width_ = height_ = bitsPerPixel_ = samplesPerPixel_ = rowLength_ = 0;
    vclStamp_ = 0;  // the next access re-reads the platform bitmap
}

int32_t TIEBitmap::BitsPerPixel() {
    SyncIfVcl();
    return bitsPerPixel_;
}
int32_t TIEBitmap::Height() {
    SyncIfVcl();
    return height_;
}
int32_t TIEBitmap::Width() {
    SyncIfVcl();
    return width_;
}
TIEPixelFormat TIEBitmap::Format() {
    SyncIfVcl();
    return format_;
}
int32_t TIEBitmap::RowLength() {
    SyncIfVcl();
    return rowLength_;
}
int32_t TIEBitmap::SamplesPerPixel() {
    SyncIfVcl();
    return samplesPerPixel_;
}

bool TIEBitmap::IsEmpty() {
    SyncIfVcl();
    return width_ == 0 || height_ == 0 || rowLength_ == 0 || bitsPerPixel_ == 0;
}

std::filesystem::path TIEBitmap::TempFileName() const {
    return location_ == ieTempFile ? fileStore_->FileName() : std::filesystem::path();
}

// =============================================================================================
// Storage

void TIEBitmap::UnmapRow() {
    if (mappedRow_) {
        uint8_t* row = mappedRow_;
        mappedRow_ = nullptr;
        fileStore_->Unmap(row);
    }
}

void TIEBitmap::ReleasePixels() {
    mappedRow_ = nullptr;
    pinnedMaps_.clear();
    pinnedRows_.clear();
    fileStore_->Release();
    if (rawBlock_ && !pixelsNotOwned_) IEFreeBlock(rawBlockKind_, rawBlock_);
    rawBlock_ = nullptr;
    pixelBase_ = nullptr;
    pixelsNotOwned_ = false;
    for (void* band : bands_) IEFreeBlock(ieakGlobal, band);
    bands_.clear();
    rowsPerBand_ = 0;
    rowTable_.clear();
    vclFirstRow_ = nullptr;
    if (vclBitmap_ && !vclBitmapNotOwned_) {
        delete vclBitmap_;
        vclBitmap_ = nullptr;
    }
    rowOrder_ = 0;
}

void TIEBitmap::FreeStorage(bool alsoAlpha) {
    ReleasePixels();
    palette_.clear();
    if (alsoAlpha) alpha_.reset();
    ResetShape();
}

bool TIEBitmap::AllocateInMemory(int64_t size) {
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX - 128) return false;
    void* block = IEAllocateBlock(AllocatorKind, static_cast<size_t>(size) + 128);
    if (!block) return false;
    rawBlock_ = block;
    rawBlockKind_ = AllocatorKind;
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    pixelBase_ = reinterpret_cast<uint8_t*>((address + 63) & ~static_cast<uintptr_t>(63));
    return true;
}

bool TIEBitmap::AllocateBands() {
    for (int64_t n = 4;; n *= 2) {
        const int64_t rowsPerBand = (height_ + n - 1) / n;
        const int64_t bandSize = rowsPerBand * rowLength_;
        if (bandSize < kMinBandSize && n > 4) return false;
        std::vector<void*> bands(static_cast<size_t>(n), nullptr);
        bool ok = true;
        for (auto& band : bands) {
            band = IEAllocateBlock(ieakGlobal, static_cast<size_t>(bandSize));
            if (!band) {
                ok = false;
                break;
            }
        }
        if (ok) {
            bands_ = std::move(bands);
            rowsPerBand_ = static_cast<int32_t>(rowsPerBand);
            return true;
        }
        for (void* band : bands) IEFreeBlock(ieakGlobal, band);
        if (n * 2 >= height_) return false;
    }
}

bool TIEBitmap::CreateTempFile(int64_t size) { return fileStore_->Create("IMG", size); }

void TIEBitmap::BuildRowTable() {
    rowTable_.clear();
    if (!vclBitmap_) return;
    const int32_t h = vclBitmap_->Height();
    rowTable_.resize(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) rowTable_[static_cast<size_t>(y)] = vclBitmap_->ScanLine(y);
    vclFirstRow_ = h > 0 ? vclBitmap_->ScanLine(0) : nullptr;
}

void TIEBitmap::PushPaletteToVcl() {
    if (location_ != ieTBitmap || !vclBitmap_ || vclBitmap_->PixelFormat() != pf8bit) return;
    auto& table = vclBitmap_->ColorTable();
    table.resize(256);
    for (size_t i = 0; i < 256; ++i) {
        const BgrColor c = i < palette_.size() ? palette_[i] : BgrColor{};
        table[i] = TRGBQuad{c.b, c.g, c.r, 0};
    }
    // Adopt the table as is; the next resynchronisation decides ie8p or ie8g from it.
    Resync();
}

void TIEBitmap::BuildVclBitmap() {
    if (!SupportedByVcl(format_)) throw EIEException(IENotAllowedInVclMessage(format_));
    if (!vclBitmap_) {
        vclBitmap_ = new TBitmap;
        vclBitmapNotOwned_ = false;
    }
    vclBitmap_->SetSize(1, 1);
    vclBitmap_->SetPixelFormat(pfDevice);
    switch (format_) {
        case ie1g: vclBitmap_->SetPixelFormat(pf1bit); break;
        case ie16gray:
            format_ = ie8g;
            vclBitmap_->SetPixelFormat(pf8bit);
            break;
        case ie8p:
        case ie8g: vclBitmap_->SetPixelFormat(pf8bit); break;
        case ie32RGBX: vclBitmap_->SetPixelFormat(pf32bit); break;
        default: vclBitmap_->SetPixelFormat(pf24bit); break;
    }
    vclBitmap_->SetSize(width_, height_);
    auto& table = vclBitmap_->ColorTable();
    if (format_ == ie8g) {
        table.resize(256);
        for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    } else if (format_ == ie1g) {
        table = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
    } else if (format_ == ie8p) {
        table.assign(256, TRGBQuad{});
        for (size_t i = 0; i < std::min<size_t>(256, palette_.size()); ++i)
            table[i] = TRGBQuad{palette_[i].b, palette_[i].g, palette_[i].r, 0};
    }
    LoadDerived();
    BuildRowTable();
}

void TIEBitmap::Resync() {
    TBitmap& v = *vclBitmap_;
    if (v.ChangeStamp() == vclStamp_ && &v == vclStampOwner_) return;
    TIEPixelFormat format;
    switch (v.PixelFormat()) {
        case pf1bit: format = ie1g; break;
        case pf8bit: {
            const auto& table = std::as_const(v).ColorTable();
            bool ramp = table.size() == 256;
            for (size_t i = 0; ramp && i < table.size(); ++i)
                ramp = table[i].rgbRed == i && table[i].rgbGreen == i && table[i].rgbBlue == i;
            format = (isAlphaPlane_ || ramp) ? ie8g : ie8p;
            break;
        }
        case pf24bit: format = ie24RGB; break;
        case pf32bit: format = ie32RGBX; break;
        default:
            // Other depths are rendered as 24-bit colour, so the rows always match the format.
            v.SetPixelFormat(pf24bit);
            format = ie24RGB;
            break;
    }
    const bool shapeChanged = v.Width() != width_ || v.Height() != height_ || format != format_ ||
                              v.RowStride() != rowLength_;
    if (shapeChanged) {
        width_ = v.Width();
        height_ = v.Height();
        format_ = format;
        LoadDerived();
        if (alpha_ && (alpha_->width_ != width_ || alpha_->height_ != height_)) alpha_->ResizeKeeping(width_, height_);
    }
    const uint8_t* first = v.Height() > 0 ? v.ScanLine(0) : nullptr;
    if (shapeChanged || first != vclFirstRow_ || rowTable_.size() != static_cast<size_t>(v.Height())) BuildRowTable();
    if (format_ == ie8p) {
        const auto& table = std::as_const(v).ColorTable();
        palette_.assign(256, BgrColor{});
        for (size_t i = 0; i < std::min<size_t>(256, table.size()); ++i)
            palette_[i] = BgrColor{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed};
    }
    vclStamp_ = v.ChangeStamp();
    vclStampOwner_ = &v;
}

bool TIEBitmap::AllocateStorage() {
    const int64_t size = static_cast<int64_t>(rowLength_) * height_;
    if (location_ == ieTempFile && size <= MemoryThreshold) location_ = ieInMemory;
    if (location_ == ieInMemory && size > MemoryThreshold) location_ = ieTempFile;
    switch (location_) {
        case ieTempFile:
            if (CreateTempFile(size)) return true;
            location_ = ieInMemory;
            [[fallthrough]];
        case ieInMemory:
            if (AllocateInMemory(size)) return true;
            if (AllowBands && AllocateBands()) return true;
            if (AllowFileFallback) {
                location_ = ieTempFile;
                return CreateTempFile(size);
            }
            return false;
        case ieTBitmap: {
            const int64_t total = IETotalPhysicalMemory();
            if (total > 0 && size > total) return false;
            try {
                BuildVclBitmap();
            } catch (...) {
                return false;
            }
            return true;
        }
    }
    return false;
}

bool TIEBitmap::Allocate(int32_t width, int32_t height, TIEPixelFormat format) {
    if (location_ == ieTBitmap && vclBitmap_) Resync();
    if (!reallocPending_ && width == width_ && height == height_ && format == format_ && !IsEmpty()) return true;
    reallocPending_ = false;

    if (vclBitmap_ && vclBitmapNotOwned_) {
        alpha_.reset();
        UnmapRow();
    } else {
        FreeStorage(true);
    }
    ResetShape();
    palette_.clear();
    width_ = width;
    height_ = height;
    format_ = format;
    auto fail = [this] {
        if (location_ != ieTBitmap) {
            ReleasePixels();
        } else if (vclBitmap_) {
            vclBitmap_->SetSize(0, 0);
            BuildRowTable();
        }
        palette_.clear();
        ResetShape();
        return false;
    };
    if (width < 1 || height < 1 || format == ieNoFormat || format >= kPixelFormatCount) return fail();
    if (format == ieVirtual && location_ != ieTBitmap) return fail();
    if (format == ie8p) palette_.assign(256, BgrColor{});
    LoadDerived();
    if (rowLength_ <= 0) return fail();
    if (!AllocateStorage()) return fail();
    return true;
}

// =============================================================================================
// Row access

uint8_t* TIEBitmap::MapFileRow(int32_t y, bool pin) {
    if (!pin) UnmapRow();
    uint8_t* row = fileStore_->Map(AccessMode, rowLength_, static_cast<int64_t>(y) * rowLength_);
    if (!pin) mappedRow_ = row;
    return row;
}

uint8_t* TIEBitmap::RowAddress(int32_t y) {
    if (rowOrder_ == 1) y = height_ - 1 - y;
    switch (location_) {
        case ieInMemory:
            if (static_cast<uint32_t>(y) >= static_cast<uint32_t>(height_)) return nullptr;
            if (pixelBase_) return pixelBase_ + static_cast<size_t>(rowLength_) * static_cast<size_t>(height_ - 1 - y);
            if (!bands_.empty())
                return static_cast<uint8_t*>(bands_[static_cast<size_t>(y / rowsPerBand_)]) +
                       static_cast<size_t>(y % rowsPerBand_) * static_cast<size_t>(rowLength_);
            return nullptr;
        case ieTempFile:
            if (static_cast<uint32_t>(y) >= static_cast<uint32_t>(height_) || !fileStore_->IsAllocated()) return nullptr;
            // A pinned row is handed out as it is, so that no second copy of it can overwrite it.
            for (size_t i = 0; i < pinnedRows_.size(); ++i) {
                if (pinnedRows_[i] == y) {
                    UnmapRow();
                    return pinnedMaps_[i];
                }
            }
            return MapFileRow(y, false);
        case ieTBitmap:
            if (!vclBitmap_) return nullptr;
            Resync();
            if (static_cast<uint32_t>(y) >= rowTable_.size()) return nullptr;
            return rowTable_[static_cast<size_t>(y)];
    }
    return nullptr;
}

uint8_t* TIEBitmap::PinRow(int32_t y) {
    if (location_ != ieTempFile) return RowAddress(y);
    if (rowOrder_ == 1) y = height_ - 1 - y;
    if (static_cast<uint32_t>(y) >= static_cast<uint32_t>(height_) || !fileStore_->IsAllocated()) return nullptr;
    UnmapRow();  // the pin must see the latest bytes, and no older copy may overwrite it later
    uint8_t* row = MapFileRow(y, true);
    pinnedMaps_.push_back(row);
    pinnedRows_.push_back(y);
    return row;
}

void TIEBitmap::UnpinRow(int32_t y) {
    if (location_ != ieTempFile) return;
    if (rowOrder_ == 1) y = height_ - 1 - y;
    for (size_t i = pinnedRows_.size(); i-- > 0;) {
        if (pinnedRows_[i] != y) continue;
        uint8_t* row = pinnedMaps_[i];
        pinnedRows_.erase(pinnedRows_.begin() + static_cast<std::ptrdiff_t>(i));
        pinnedMaps_.erase(pinnedMaps_.begin() + static_cast<std::ptrdiff_t>(i));
        fileStore_->Unmap(row);
        return;
    }
}

// =============================================================================================
// Palette

void TIEBitmap::GetPaletteEntry(int32_t index, BgrColor& color) {
    if (index >= 0 && index < static_cast<int32_t>(palette_.size())) color = palette_[static_cast<size_t>(index)];
}

void TIEBitmap::SetPaletteEntry(int32_t index, uint32_t packedColor) {
    if (index < 0 || index >= static_cast<int32_t>(palette_.size())) return;
    palette_[static_cast<size_t>(index)] = PackedToBgr(packedColor);
    if (location_ == ieTBitmap) PushPaletteToVcl();
}

void TIEBitmap::CopyPaletteTo(TIEBitmap& target) {
    if (&target == this) return;
    target.palette_ = palette_;
    target.QuantizeColors = QuantizeColors;
    if (target.location_ == ieTBitmap) target.PushPaletteToVcl();
}

// =============================================================================================
// Copying

bool TIEBitmap::CopyRowsFrom(TIEBitmap& source) {
    const uint8_t sourceMode = source.AccessMode, targetMode = AccessMode;
    source.AccessMode = ieaRead;
    AccessMode = ieaWrite;
    struct Restore {
        TIEBitmap& s;
        TIEBitmap& t;
        uint8_t sm, tm;
        ~Restore() {
            s.AccessMode = sm;
            t.AccessMode = tm;
        }
    } restore{source, *this, sourceMode, targetMode};

    const int32_t rows = std::min(Height(), source.Height());
    if (location_ == ieTempFile && source.location_ == ieTempFile && rowLength_ == source.rowLength_ &&
        rowOrder_ == 0 && source.rowOrder_ == 0 && fileStore_->IsAllocated() && source.fileStore_->IsAllocated()) {
        UnmapRow();
        source.UnmapRow();
        source.fileStore_->CopyTo(*fileStore_, static_cast<int64_t>(rowLength_) * rows);
        return true;
    }
    const bool narrowing = source.Format() == ie16gray && Format() == ie8g;
    const size_t bytes = static_cast<size_t>(std::min(RowLength(), source.RowLength()));
    std::vector<uint8_t> staging(static_cast<size_t>(source.RowLength()));
    for (int32_t y = 0; y < rows; ++y) {
        // Either side may be a file row whose address is valid only until its next call.
        const uint8_t* from = source.RowAddress(y);
        if (!from) return false;
        std::memcpy(staging.data(), from, staging.size());
        uint8_t* to = RowAddress(y);
        if (!to) return false;
        if (narrowing) {
            for (int32_t x = 0; x < width_; ++x) to[x] = staging[2 * static_cast<size_t>(x) + 1];
        } else {
            std::memcpy(to, staging.data(), bytes);
        }
    }
    UnmapRow();
    source.UnmapRow();
    return true;
}

bool TIEBitmap::CopyFrom(TIEBaseBitmap& source) {
    auto* bitmap = dynamic_cast<TIEBitmap*>(&source);
    if (!bitmap) return false;
    if (bitmap == this) return true;
    TIEBitmap& s = *bitmap;
    reallocPending_ = true;
    if (location_ == ieTBitmap) {
        if (s.IsEmpty()) return true;
        if (!SupportedByVcl(s.Format())) throw EIEException(IENotAllowedInVclMessage(s.Format()));
        UnmapRow();
        palette_.clear();
        width_ = s.Width();
        height_ = s.Height();
        format_ = s.Format();
        rowAlignment_ = s.rowAlignment_;
        IsFullyOpaque = s.IsFullyOpaque;
        if (format_ == ie8p) palette_.assign(256, BgrColor{});
        try {
            BuildVclBitmap();
        } catch (...) {
            ResetShape();
            throw;
        }
    } else {
        FreeStorage(false);
        rowAlignment_ = s.rowAlignment_;
        IsFullyOpaque = s.IsFullyOpaque;
        if (s.IsEmpty()) {
            alpha_.reset();
            return true;
        }
        if (!Allocate(s.Width(), s.Height(), s.Format())) {
            alpha_.reset();
            return false;
        }
    }
    reallocPending_ = true;
    if (!CopyRowsFrom(s)) {
        FreeStorage(true);
        return false;
    }
    if (!isAlphaPlane_) {
        if (s.alpha_) {
            TIEBitmap* plane = AlphaPlane();
            if (!plane || !plane->CopyFrom(*s.alpha_)) {
                FreeStorage(true);
                return false;
            }
            plane->IsFullyOpaque = s.alpha_->IsFullyOpaque;
        } else {
            alpha_.reset();
        }
    }
    s.CopyPaletteTo(*this);
    BilevelMethod = s.BilevelMethod;
    return true;
}

bool TIEBitmap::CopyFrom(TBitmap& source) {
    reallocPending_ = true;
    if (location_ == ieTBitmap) {
        const TPixelFormat pf = source.PixelFormat();
        alpha_.reset();
        UnmapRow();
        if (!vclBitmap_) {
            vclBitmap_ = new TBitmap;
            vclBitmapNotOwned_ = false;
        }
        if (vclBitmap_ == &source) return true;
        const TPixelFormat target = (pf == pf1bit || pf == pf24bit || pf == pf32bit) ? pf : pf24bit;
        vclBitmap_->SetSize(0, 0);
        vclBitmap_->SetPixelFormat(target);
        vclBitmap_->SetSize(source.Width(), source.Height());
        if (target == pf1bit) vclBitmap_->ColorTable() = source.ColorTable();
        for (int32_t y = 0; y < source.Height(); ++y) {
            uint8_t* to = vclBitmap_->ScanLine(y);
            if (target == pf) {
                std::memcpy(to, source.ScanLine(y), static_cast<size_t>(source.RowStride()));
            } else {
                for (int32_t x = 0; x < source.Width(); ++x) {
                    const uint32_t c = source.PixelColor(x, y);
                    to[3 * x] = static_cast<uint8_t>(c >> 16), to[3 * x + 1] = static_cast<uint8_t>(c >> 8),
                           to[3 * x + 2] = static_cast<uint8_t>(c);
                }
            }
        }
        IsFullyOpaque = false;
        Resync();
        return true;
    }

    const TPixelFormat pf = source.PixelFormat();
    TIEPixelFormat format;
    size_t entries = 0;
    switch (pf) {
        case pf1bit:
            format = source.Monochrome() ? ie1g : ie8p;
            entries = 2;
            break;
        case pf4bit:
            format = ie8p;
            entries = 16;
            break;
        case pf8bit:
            format = ie8p;
            entries = 256;
            break;
        case pf32bit: format = ie32RGBX; break;
        default: format = ie24RGB; break;
    }
    FreeStorage(true);
    if (source.Width() < 1 || source.Height() < 1) return true;
    if (!Allocate(source.Width(), source.Height(), format)) return false;
    if (format == ie8p) {
        const auto& table = source.ColorTable();
        for (size_t i = 0; i < entries && i < table.size(); ++i)
            palette_[i] = BgrColor{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed};
    }
    const uint8_t mode = AccessMode;
    AccessMode = ieaWrite;
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* to = RowAddress(y);
        const uint8_t* from = source.ScanLine(y);
        if (format == ie1g || pf == pf24bit || pf == pf32bit) {
            std::memcpy(to, from, static_cast<size_t>(std::min(rowLength_, source.RowStride())));
        } else if (format == ie8p) {
            for (int32_t x = 0; x < width_; ++x) {
                if (pf == pf1bit)
                    to[x] = (from[x >> 3] >> (7 - (x & 7))) & 1;
                else if (pf == pf4bit)
                    to[x] = (x & 1) ? from[x >> 1] & 15 : from[x >> 1] >> 4;
                else
                    to[x] = from[x];
            }
        } else {
            for (int32_t x = 0; x < width_; ++x) {
                const uint32_t c = source.PixelColor(x, y);
                to[3 * x] = static_cast<uint8_t>(c >> 16), to[3 * x + 1] = static_cast<uint8_t>(c >> 8),
                       to[3 * x + 2] = static_cast<uint8_t>(c);
            }
        }
    }
    UnmapRow();
    AccessMode = mode;
    IsFullyOpaque = false;
    return true;
}

// =============================================================================================
// Resizing and moving

void TIEBitmap::TakeStorageFrom(TIEBitmap& source) {
    UnmapRow();
    source.UnmapRow();
    std::swap(fileStore_, source.fileStore_);
    std::swap(mappedRow_, source.mappedRow_);
    std::swap(palette_, source.palette_);
    std::swap(alpha_, source.alpha_);
    std::swap(pixelBase_, source.pixelBase_);
    std::swap(rawBlock_, source.rawBlock_);
    std::swap(rawBlockKind_, source.rawBlockKind_);
    std::swap(vclBitmap_, source.vclBitmap_);
    std::swap(vclBitmapNotOwned_, source.vclBitmapNotOwned_);
    std::swap(rowTable_, source.rowTable_);
    std::swap(vclFirstRow_, source.vclFirstRow_);
    std::swap(pinnedMaps_, source.pinnedMaps_);
    std::swap(pinnedRows_, source.pinnedRows_);
    std::swap(rowOrder_, source.rowOrder_);
    std::swap(width_, source.width_);
    std::swap(height_, source.height_);
    std::swap(bitsPerPixel_, source.bitsPerPixel_);
    std::swap(samplesPerPixel_, source.samplesPerPixel_);
    std::swap(rowLength_, source.rowLength_);
    std::swap(format_, source.format_);
    std::swap(location_, source.location_);
    std::swap(pixelsNotOwned_, source.pixelsNotOwned_);
    std::swap(rowAlignment_, source.rowAlignment_);
    std::swap(rowsPerBand_, source.rowsPerBand_);
    std::swap(bands_, source.bands_);
    vclStamp_ = source.vclStamp_ = 0;
}

bool TIEBitmap::ResizeKeeping(int32_t width, int32_t height) {
    SyncIfVcl();
    if (width == width_ && height == height_) return true;
    const bool unallocated = !pixelBase_ && bands_.empty() && !fileStore_->IsAllocated() &&
                             !(location_ == ieTBitmap && vclBitmap_);
    if (unallocated || format_ == ieNoFormat) {
        width_ = width;
        height_ = height;
        LoadDerived();
        return true;
    }
    if (location_ == ieTBitmap) {
        if (width < 1 || height < 1) {
            FreeStorage(true);
            return false;
        }
        vclBitmap_->SetSize(width, height);
        Resync();
        if (alpha_) alpha_->ResizeKeeping(width, height);
        return true;
    }
    TIEBitmap fresh;
    fresh.location_ = location_;
    fresh.rowAlignment_ = rowAlignment_;
    fresh.AssignSettings(*this);
    fresh.isAlphaPlane_ = isAlphaPlane_;
    if (!fresh.Allocate(width, height, format_)) {
        FreeStorage(true);
        return false;
    }
    // Rows and row bytes beyond the old size keep what the new storage held.
    fresh.palette_ = palette_;
    if (!fresh.CopyRowsFrom(*this)) {
        FreeStorage(true);
        return false;
    }
    std::unique_ptr<TIEBitmap> plane = std::move(alpha_);
    TakeStorageFrom(fresh);
    if (plane) {
        if (!plane->ResizeKeeping(width, height)) {
            alpha_.reset();
            FreeStorage(true);
            return false;
        }
        alpha_ = std::move(plane);
    }
    return true;
}

bool TIEBitmap::ChangeWidth(int32_t width) { return ResizeKeeping(width, Height()); }
bool TIEBitmap::ChangeHeight(int32_t height) { return ResizeKeeping(Width(), height); }

bool TIEBitmap::ReallocateKeeping(TIEStorageLocation location, int32_t alignment) {
    SyncIfVcl();
    if (IsEmpty()) {
        location_ = location;
        rowAlignment_ = alignment;
        reallocPending_ = true;
        LoadDerived();
        return true;
    }
    if (location == ieTBitmap && !SupportedByVcl(format_)) throw EIEException(IENotAllowedInVclMessage(format_));
    TIEBitmap fresh;
    fresh.location_ = location;
    fresh.rowAlignment_ = alignment;
    fresh.AssignSettings(*this);
    fresh.isAlphaPlane_ = isAlphaPlane_;
    fresh.palette_ = palette_;
    if (!fresh.Allocate(width_, height_, format_)) {
        FreeStorage(true);
        reallocPending_ = true;
        return false;
    }
    fresh.palette_ = palette_;
    if (!fresh.CopyRowsFrom(*this)) {
        FreeStorage(true);
        reallocPending_ = true;
        return false;
    }
    std::unique_ptr<TIEBitmap> plane = std::move(alpha_);
    TakeStorageFrom(fresh);
    alpha_ = std::move(plane);
    if (location_ == ieTBitmap) PushPaletteToVcl();
    reallocPending_ = true;
    return true;
}

bool TIEBitmap::SetRowAlignment(int32_t bits) {
    if (bits != 32 && (bits < 8 || bits % 8 != 0)) return false;
    if (location_ != ieInMemory || IsEmpty()) {
        rowAlignment_ = bits;
        reallocPending_ = true;
        if (location_ != ieTBitmap) LoadDerived();
        return true;
    }
    if (bits == rowAlignment_) {
        reallocPending_ = true;
        return true;
    }
    return ReallocateKeeping(ieInMemory, bits);
}

bool TIEBitmap::SetLocation(TIEStorageLocation location) {
    if (location == location_) return true;
    if (location > ieTBitmap) return false;
    return ReallocateKeeping(location, rowAlignment_);
}

void TIEBitmap::AssignSettings(const TIEBitmap& from) {
    MemoryThreshold = from.MemoryThreshold;
    BilevelMethod = from.BilevelMethod;
    QuantizeColors = from.QuantizeColors;
    GrayRangeLow = from.GrayRangeLow;
    GrayRangeHigh = from.GrayRangeHigh;
    AllocatorKind = from.AllocatorKind;
    AccessMode = from.AccessMode;
}

void TIEBitmap::MoveTo(TIEBitmap& target) {
    if (&target == this) return;
    target.FreeStorage(true);
    if (target.vclBitmap_ && !target.vclBitmapNotOwned_) delete target.vclBitmap_;
    target.vclBitmap_ = nullptr;
    target.vclBitmapNotOwned_ = false;
    target.TakeStorageFrom(*this);
    target.AssignSettings(*this);
    target.IsFullyOpaque = IsFullyOpaque;
    target.isAlphaPlane_ = isAlphaPlane_;
    target.reallocPending_ = reallocPending_;
    // This buffer keeps its location and alignment for the storage it builds next.
    location_ = target.location_;
    rowAlignment_ = target.rowAlignment_;
    reallocPending_ = true;
}

void TIEBitmap::AttachVclBitmap(TBitmap* bitmap, bool freeFirst) {
    if (freeFirst) FreeStorage(true);
    if (vclBitmap_ && !vclBitmapNotOwned_ && vclBitmap_ != bitmap) delete vclBitmap_;
    ReleasePixels();
    vclBitmap_ = bitmap;
    vclBitmapNotOwned_ = true;
    location_ = ieTBitmap;
    if (!bitmap) return;
    switch (bitmap->PixelFormat()) {
        case pf1bit: format_ = ie1g; break;
        case pf24bit: format_ = ie24RGB; break;
        case pf32bit: format_ = ie32RGBX; break;
        default: break;  // settled by the next resynchronisation
    }
    Resync();
}

void TIEBitmap::WrapRows(uint8_t* memory, int32_t width, uint8_t rowOrder, bool freeFirst, TIEPixelFormat format, int32_t height) {
    if (freeFirst) FreeStorage(true);
    ReleasePixels();
    location_ = ieInMemory;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    format_ = format;
    LoadDerived();
    pixelBase_ = memory;
    pixelsNotOwned_ = true;
    rowOrder_ = rowOrder ? 1 : 0;
    if (format == ie8p && palette_.empty()) palette_.assign(256, BgrColor{});
    reallocPending_ = false;
}

TBitmap* TIEBitmap::VclCanvas() {
    if (location_ != ieTBitmap) {
        if (rowOrder_ == 1 && !IsEmpty()) {
            // Rows stored top-down are copied the right way up into the platform bitmap.
            TIEBitmap fresh;
            fresh.location_ = ieTBitmap;
            fresh.palette_ = palette_;
            if (!fresh.Allocate(width_, height_, format_) || !fresh.CopyRowsFrom(*this)) return nullptr;
            std::unique_ptr<TIEBitmap> plane = std::move(alpha_);
            TakeStorageFrom(fresh);
            alpha_ = std::move(plane);
            PushPaletteToVcl();
        } else if (!SetLocation(ieTBitmap)) {
            return nullptr;
        }
    }
    if (!vclBitmap_) {
        vclBitmap_ = new TBitmap;
        vclBitmapNotOwned_ = false;
    }
    return vclBitmap_;
}

// =============================================================================================
// Alpha plane

TIEBitmap* TIEBitmap::AlphaPlane() {
    if (isAlphaPlane_) return nullptr;
    if (!alpha_) {
        SyncIfVcl();
        alpha_ = std::make_unique<TIEBitmap>(width_, location_, height_);
    }
    return alpha_.get();
}

void TIEBitmap::ReplaceAlphaPlane(std::unique_ptr<TIEBitmap> plane) {
    if (isAlphaPlane_) return;
    if (plane) plane->isAlphaPlane_ = true;
    alpha_ = std::move(plane);
}

void TIEBitmap::DropAlphaPlane(bool blend, TColor background) {
    if (isAlphaPlane_ || !alpha_) return;
    if (blend && Format() == ie24RGB) {
        const BgrColor bg = TColorToBgr(IEResolveColor(background));
        const int bgc[3] = {bg.b, bg.g, bg.r};
        std::vector<uint8_t> alphaRow(static_cast<size_t>(width_));
        for (int32_t y = 0; y < height_; ++y) {
            const uint8_t* a = alpha_->RowAddress(y);
            if (!a) break;
            std::memcpy(alphaRow.data(), a, alphaRow.size());
            uint8_t* row = RowAddress(y);
            if (!row) break;
            for (int32_t x = 0; x < width_; ++x) {
                const int alpha = alphaRow[static_cast<size_t>(x)];
                for (int c = 0; c < 3; ++c) {
                    uint8_t& v = row[3 * x + c];
                    v = static_cast<uint8_t>(bgc[c] + (((v - bgc[c]) * alpha * 1024) >> 18));
                }
            }
        }
        UnmapRow();
    }
    alpha_.reset();
}

// =============================================================================================
// Pixels

void TIEBitmap::Fill(double value) {
    if (IsEmpty()) return;
    const double truncated = std::isfinite(value) ? std::trunc(std::clamp(value, -4294967296.0, 4294967296.0)) : 0.0;
    const auto iv = static_cast<int64_t>(truncated);
    std::vector<uint8_t> pattern(static_cast<size_t>(rowLength_), 0);
    auto repeat = [&](const void* pixel, size_t size) {
        for (size_t o = 0; o + size <= pattern.size(); o += size) std::memcpy(pattern.data() + o, pixel, size);
    };
    const TColor color = IEResolveColor(static_cast<TColor>(iv)) & 0xFFFFFF;
    const BgrColor bgr = TColorToBgr(color);
    bool opaque = false;
    switch (format_) {
        case ie1g:
            std::fill(pattern.begin(), pattern.end(), iv != 0 ? 255 : 0);
            opaque = iv != 0;
            break;
        case ie8p:
        case ie8g:
            std::fill(pattern.begin(), pattern.end(), static_cast<uint8_t>(iv));
            opaque = static_cast<uint8_t>(iv) == 255;
            break;
        case ie16gray: {
            const auto v = static_cast<uint16_t>(iv);
            repeat(&v, 2);
            opaque = v == 65535;
            break;
        }
        case ie32f: {
            const auto v = static_cast<float>(value);
            repeat(&v, 4);
            opaque = value >= 1.0;
            break;
        }
        case ie24RGB: repeat(&bgr, 3), opaque = color == 0xFFFFFF; break;
        case ie32RGBX: {
            const uint8_t px[4] = {bgr.b, bgr.g, bgr.r, 255};
            repeat(px, 4);
            opaque = color == 0xFFFFFF;
            break;
        }
        case ieRGB48: {
            const uint16_t px[3] = {static_cast<uint16_t>(bgr.r * 257), static_cast<uint16_t>(bgr.g * 257),
                                    static_cast<uint16_t>(bgr.b * 257)};
            repeat(px, 6);
            opaque = color == 0xFFFFFF;
            break;
        }
        case ieCMYK: {
            const TCMYK c = RgbToCmyk(bgr.r, bgr.g, bgr.b);
            repeat(&c, 4);
            opaque = color == 0xFFFFFF;
            break;
        }
        case ieCIELab: {
            const TCIELab l = RgbToLab(bgr.r, bgr.g, bgr.b);
            repeat(&l, 3);
            opaque = color == 0xFFFFFF;
            break;
        }
        default: return;
    }
    const uint8_t mode = AccessMode;
    AccessMode = ieaWrite;
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* row = RowAddress(y);
        if (row) std::memcpy(row, pattern.data(), pattern.size());
    }
    UnmapRow();
    AccessMode = mode;
    IsFullyOpaque = opaque;
}

namespace {

// Bounds check for a pixel of `bytes` bytes at column x in a row of rowLength bytes.
inline bool PixelInRow(int32_t x, size_t bytes, int32_t width, int32_t rowLength) {
    return x >= 0 && x < width && static_cast<size_t>(x) * bytes + bytes <= static_cast<size_t>(rowLength);
}

}  // namespace

BgrColor TIEBitmap::PixelAsBgr(int32_t x, int32_t y) {
    SyncIfVcl();
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return BgrColor{};
    const uint8_t* row = RowAddress(y);
    if (!row) return BgrColor{};
    switch (format_) {
        case ie1g: {
            const uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            return BgrColor{v, v, v};
        }
        case ie8p: {
            BgrColor c;
            GetPaletteEntry(row[x], c);
            return c;
        }
        case ie8g: return BgrColor{row[x], row[x], row[x]};
        case ie16gray: return BgrColor{row[2 * x + 1], row[2 * x + 1], row[2 * x + 1]};
        case ie24RGB: return BgrColor{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
        case ie32f: {
            float v;
            std::memcpy(&v, row + 4 * x, 4);
            const double s = std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v) * 255.0, 0.0, 255.0);
            const auto g = static_cast<uint8_t>(s);
            return BgrColor{g, g, g};
        }
        case ieCMYK: return CmykToRgb(TCMYK{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]});
        case ieRGB48: return BgrColor{row[6 * x + 5], row[6 * x + 3], row[6 * x + 1]};
        case ieCIELab:
            return LabToRgb(TCIELab{row[3 * x], static_cast<int8_t>(row[3 * x + 1]), static_cast<int8_t>(row[3 * x + 2])});
        case ie32RGBX: return BgrColor{row[4 * x], row[4 * x + 1], row[4 * x + 2]};
        default: return BgrColor{};
    }
}

bool TIEBitmap::GetPixel1(int32_t x, int32_t y) {
    if (x < 0 || x >= Width()) return false;
    const uint8_t* row = RowAddress(y);
    return row && (row[x >> 3] & (0x80 >> (x & 7)));
}

void TIEBitmap::SetPixel1(int32_t x, int32_t y, bool white) {
    if (x < 0 || x >= Width()) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    if (white)
        row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    else
        row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7))), IsFullyOpaque = false;
}

uint8_t TIEBitmap::GetPixel8(int32_t x, int32_t y) {
    if (!PixelInRow(x, 1, Width(), RowLength())) return 0;
    const uint8_t* row = RowAddress(y);
    return row ? row[x] : 0;
}

void TIEBitmap::SetPixel8(int32_t x, int32_t y, uint8_t value) {
    if (!PixelInRow(x, 1, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    row[x] = value;
    if (value < 255) IsFullyOpaque = false;
}

uint16_t TIEBitmap::GetPixel16(int32_t x, int32_t y) {
    if (!PixelInRow(x, 2, Width(), RowLength())) return 0;
    const uint8_t* row = RowAddress(y);
    if (!row) return 0;
    uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    return v;
}

void TIEBitmap::SetPixel16(int32_t x, int32_t y, uint16_t value) {
    if (!PixelInRow(x, 2, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    std::memcpy(row + 2 * x, &value, 2);
    if (value < 65535) IsFullyOpaque = false;
}

float TIEBitmap::GetPixelFloat(int32_t x, int32_t y) {
    if (!PixelInRow(x, 4, Width(), RowLength())) return 0;
    const uint8_t* row = RowAddress(y);
    if (!row) return 0;
    float v;
    std::memcpy(&v, row + 4 * x, 4);
    return v;
}

void TIEBitmap::SetPixelFloat(int32_t x, int32_t y, float value) {
    if (!PixelInRow(x, 4, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    std::memcpy(row + 4 * x, &value, 4);
    if (!(value >= 1.0f)) IsFullyOpaque = false;
}

uint32_t TIEBitmap::GetPixel32(int32_t x, int32_t y) {
    if (!PixelInRow(x, 4, Width(), RowLength())) return 0;
    const uint8_t* row = RowAddress(y);
    if (!row) return 0;
    uint32_t v;
    std::memcpy(&v, row + 4 * x, 4);
    return v;
}

void TIEBitmap::SetPixel32(int32_t x, int32_t y, uint32_t value) {
    if (!PixelInRow(x, 4, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    std::memcpy(row + 4 * x, &value, 4);
    if ((value & 0xFFFFFF) != 0xFFFFFF) IsFullyOpaque = false;
}

BgrColor TIEBitmap::GetPixel24(int32_t x, int32_t y) {
    if (!PixelInRow(x, 3, Width(), RowLength())) return BgrColor{};
    const uint8_t* row = RowAddress(y);
    return row ? BgrColor{row[3 * x], row[3 * x + 1], row[3 * x + 2]} : BgrColor{};
}

void TIEBitmap::SetPixel24(int32_t x, int32_t y, BgrColor value) {
    if (!PixelInRow(x, 3, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    row[3 * x] = value.b, row[3 * x + 1] = value.g, row[3 * x + 2] = value.r;
    if (!(value == BgrColor{255, 255, 255})) IsFullyOpaque = false;
}

TRGB48 TIEBitmap::GetPixel48(int32_t x, int32_t y) {
    if (!PixelInRow(x, 6, Width(), RowLength())) return TRGB48{};
    const uint8_t* row = RowAddress(y);
    if (!row) return TRGB48{};
    TRGB48 v;
    std::memcpy(&v, row + 6 * x, 6);
    return v;
}

void TIEBitmap::SetPixel48(int32_t x, int32_t y, TRGB48 value) {
    if (!PixelInRow(x, 6, Width(), RowLength())) return;
    uint8_t* row = RowAddress(y);
    if (!row) return;
    std::memcpy(row + 6 * x, &value, 6);
    if (value.r < 65535 || value.g < 65535 || value.b < 65535) IsFullyOpaque = false;
}

uint8_t TIEBitmap::GetAlpha(int32_t x, int32_t y) { return alpha_ ? alpha_->GetPixel8(x, y) : 255; }

void TIEBitmap::SetAlpha(int32_t x, int32_t y, uint8_t value) {
    if (TIEBitmap* plane = AlphaPlane()) plane->SetPixel8(x, y, value);
}

// =============================================================================================
// TIEDibbitmap

bool TIEDibbitmap::Allocate(int32_t width, int32_t height, TIEPixelFormat format) {
    if (width < 1 || height < 1 || (format != ie1g && format != ie24RGB)) {
        bitmap_.SetSize(0, 0);
        format_ = ieNoFormat;
        return false;
    }
    bitmap_.SetSize(0, 0);
    bitmap_.SetPixelFormat(format == ie1g ? pf1bit : pf24bit);
    bitmap_.SetSize(width, height);
    format_ = format;
    return true;
}

uint8_t* TIEDibbitmap::RowAddress(int32_t y) {
    if (y < 0 || y >= bitmap_.Height()) return nullptr;
    return bitmap_.ScanLine(y);
}

bool TIEDibbitmap::CopyFrom(TIEBaseBitmap& source) {
    if (&source == this) return true;
    const TIEPixelFormat format = source.Format();
    if (!Allocate(source.Width(), source.Height(), format)) return false;
    const size_t bytes = static_cast<size_t>(std::min(RowLength(), source.RowLength()));
    for (int32_t y = 0; y < Height(); ++y) std::memcpy(RowAddress(y), source.RowAddress(y), bytes);
    return true;
}

void TIEDibbitmap::CopyPaletteTo(TIEBitmap&) {}

}  // namespace quirelle
