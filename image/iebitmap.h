// TIEBitmap: the one raster every reader fills, every writer reads row by row, the conversions
// rewrite and the acquisition back ends deliver into. Rows are reached only through RowAddress(y)
// (y = 0 is the top row); their storage is one 64-byte aligned block or bands in memory, a
// temporary file mapped a row at a time, or a platform bitmap that the image view draws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/iepixel.h"
#include "platform/iesystem.h"
#include "platform/vclbitmap.h"

namespace quirelle {

class TIEBitmap;
class TIETemporaryFileStream;

enum TIEStorageLocation : uint8_t { ieInMemory = 0, ieTempFile = 1, ieTBitmap = 2 };

// Access bits of the temporary-file store: rows are read when mapped, written back when unmapped.
inline constexpr uint8_t ieaRead = 1, ieaWrite = 2;

// Process-wide buffer settings, set once at start-up.
extern int64_t MemoryThresholdOverride;  // -1: not set
extern bool AllowFileFallback;           // memory failure may move storage to the temporary file
extern bool AllowBands;                  // one-block failure tries banded storage

// Row length in bytes for a width, a bit depth and an alignment in bits (32: DIB rows).
int64_t RowLengthFor(int64_t width, int32_t bitsPerPixel, int32_t alignmentBits);

// The temporary-file store behind Location ieTempFile: one file, and mappings that are heap
// copies of byte ranges, written back on unmapping when mapped for writing.
class TIEFileBuffer {
public:
    TIEFileBuffer();
    ~TIEFileBuffer();
    TIEFileBuffer(const TIEFileBuffer&) = delete;
    TIEFileBuffer& operator=(const TIEFileBuffer&) = delete;

    // Creates the file "<prefix>-XXXXXXXX.tmp" of exactly size bytes; false when it cannot.
    bool Create(const std::string& prefix, int64_t size);
    void SetSize(int64_t size);
    // Copies the first n bytes into another store's file, 1 MiB at a time.
    void CopyTo(TIEFileBuffer& target, int64_t n);
    // A heap copy of length bytes at offset (read from the file when access includes ieaRead).
    uint8_t* Map(uint8_t access, int64_t length, int64_t offset);
    // Ends a mapping, writing it back when it was made with ieaWrite.
    void Unmap(uint8_t* address);
    void UnmapAll();
    // Unmaps all, closes and deletes the file.
    void Release();

    bool IsAllocated() const { return stream_ != nullptr; }
    std::filesystem::path FileName() const;

    // Writes back every mapping made for writing, keeping them mapped.
    void Flush();

private:
    struct Mapping {
        int64_t offset;
        int64_t length;
        std::unique_ptr<uint8_t[]> copy;
        uint8_t access;
    };
    void WriteBack(const Mapping& m);
    std::unique_ptr<TIETemporaryFileStream> stream_;
    std::vector<Mapping> maps_;
    std::vector<std::unique_ptr<uint8_t[]>> spare_;  // row copies kept for reuse
    int64_t spareLength_ = 0;
};

// The row-access contract shared by TIEBitmap and TIEDibbitmap.
class TIEBaseBitmap {
public:
    virtual ~TIEBaseBitmap() = default;

    virtual uint8_t* RowAddress(int32_t y) = 0;
    virtual int32_t BitsPerPixel() = 0;
    virtual int32_t Height() = 0;
    virtual int32_t Width() = 0;
    virtual TIEPixelFormat Format() = 0;
    virtual int32_t RowLength() = 0;
    virtual BgrColor* PaletteData() = 0;
    virtual void GetPaletteEntry(int32_t index, BgrColor& color) = 0;
    virtual void SetPaletteEntry(int32_t index, uint32_t packedColor) = 0;
    virtual int32_t PaletteLength() = 0;
    virtual bool Allocate(int32_t width, int32_t height, TIEPixelFormat format) = 0;
    virtual bool CopyFrom(TIEBaseBitmap& source) = 0;
    virtual void CopyPaletteTo(TIEBitmap& target) = 0;

    // Bits 0 (read) and 1 (write) of the temporary-file store.
    uint8_t AccessMode = ieaRead | ieaWrite;
};

class TIEBitmap : public TIEBaseBitmap {
public:
    TIEBitmap();
    TIEBitmap(int32_t width, TIEPixelFormat format, int32_t height);
    explicit TIEBitmap(TIEBitmap& source);
    // The alpha-plane constructor: an ie8g plane filled with 255 in the parent's location.
    TIEBitmap(int32_t width, TIEStorageLocation location, int32_t height);
    ~TIEBitmap() override;
    TIEBitmap(const TIEBitmap&) = delete;
    TIEBitmap& operator=(const TIEBitmap&) = delete;

    // --- the row-access contract
    uint8_t* RowAddress(int32_t y) override;
    int32_t BitsPerPixel() override;
    int32_t Height() override;
    int32_t Width() override;
    TIEPixelFormat Format() override;
    int32_t RowLength() override;
    BgrColor* PaletteData() override { return palette_.empty() ? nullptr : palette_.data(); }
    void GetPaletteEntry(int32_t index, BgrColor& color) override;
    BgrColor GetPaletteEntry(int32_t index) {
        BgrColor c;
        GetPaletteEntry(index, c);
        return c;
    }
    void SetPaletteEntry(int32_t index, uint32_t packedColor) override;
    void SetPaletteEntry(int32_t index, BgrColor color) { SetPaletteEntry(index, BgrToPacked(color)); }
    int32_t PaletteLength() override { return static_cast<int32_t>(palette_.size()); }
    bool Allocate(int32_t width, int32_t height, TIEPixelFormat format) override;
    // Copies size, format, pixels, palette and alpha plane. False (buffer left 0 x 0) when the
    // storage cannot be allocated; a source that is neither a TIEBitmap nor empty-able is ignored.
    bool CopyFrom(TIEBaseBitmap& source) override;
    // Copies a platform bitmap, converting by its depth.
    bool CopyFrom(TBitmap& source);
    void CopyPaletteTo(TIEBitmap& target) override;

    // --- shape and storage
    int32_t SamplesPerPixel();
    bool IsEmpty();
    TIEStorageLocation Location() const { return location_; }
    bool IsAlphaPlane() const { return isAlphaPlane_; }
    int32_t RowAlignment() const { return rowAlignment_; }
    bool ReallocPending() const { return reallocPending_; }
    uint8_t RowOrder() const { return rowOrder_; }
    uint8_t* PixelBase() const { return pixelBase_; }
    int32_t BandCount() const { return static_cast<int32_t>(bands_.size()); }
    int32_t RowsPerBand() const { return rowsPerBand_; }
    // The temporary file's name while Location is ieTempFile and storage exists.
    std::filesystem::path TempFileName() const;
    TBitmap* VclBitmap() const { return vclBitmap_; }
    bool VclBitmapNotOwned() const { return vclBitmapNotOwned_; }
    bool PixelsNotOwned() const { return pixelsNotOwned_; }

    // Resizes keeping the top-left content; false when new storage cannot be allocated (the
    // buffer is then empty).
    bool ChangeWidth(int32_t width);
    bool ChangeHeight(int32_t height);
    bool SetRowAlignment(int32_t bits);
    // Moves the pixels to another location. Raises the "not allowed when Location=ieTBitmap"
    // error, leaving the buffer as it was, for the formats the platform bitmap cannot hold.
    bool SetLocation(TIEStorageLocation location);
    // Hands all storage and settings to target (whose own storage is freed first); this buffer is
    // left empty.
    void MoveTo(TIEBitmap& target);
    void FreeStorage(bool alsoAlpha = true);
    // Adopts a platform bitmap without copying; the buffer does not free it.
    void AttachVclBitmap(TBitmap* bitmap, bool freeFirst = true);
    // Adopts external rows without copying (rowOrder 1: storage is top-down).
    void WrapRows(uint8_t* memory, int32_t width, uint8_t rowOrder, bool freeFirst, TIEPixelFormat format, int32_t height);
    // Switches to Location ieTBitmap when needed and returns the platform bitmap the view draws.
    TBitmap* VclCanvas();

    uint8_t* PinRow(int32_t y);
    void UnpinRow(int32_t y);

    // --- alpha plane
    TIEBitmap* AlphaPlane();  // created on first call; null for an alpha plane itself
    bool HasAlphaPlane() const { return alpha_ != nullptr; }
    void DropAlphaPlane(bool blend = false, TColor background = clWhite);
    // Replaces the alpha plane (taking ownership); null drops it.
    void ReplaceAlphaPlane(std::unique_ptr<TIEBitmap> plane);

    // --- pixels
    void Fill(double value);
    BgrColor PixelAsBgr(int32_t x, int32_t y);
    bool GetPixel1(int32_t x, int32_t y);
    void SetPixel1(int32_t x, int32_t y, bool white);
    uint8_t GetPixel8(int32_t x, int32_t y);
    void SetPixel8(int32_t x, int32_t y, uint8_t value);
    uint16_t GetPixel16(int32_t x, int32_t y);
    void SetPixel16(int32_t x, int32_t y, uint16_t value);
    float GetPixelFloat(int32_t x, int32_t y);
    void SetPixelFloat(int32_t x, int32_t y, float value);
    uint32_t GetPixel32(int32_t x, int32_t y);
    void SetPixel32(int32_t x, int32_t y, uint32_t value);
    BgrColor GetPixel24(int32_t x, int32_t y);
    void SetPixel24(int32_t x, int32_t y, BgrColor value);
    TRGB48 GetPixel48(int32_t x, int32_t y);
    void SetPixel48(int32_t x, int32_t y, TRGB48 value);
    // Alpha of one pixel (255 without a plane); writing below 255 clears the plane's IsFullyOpaque.
    uint8_t GetAlpha(int32_t x, int32_t y);
    void SetAlpha(int32_t x, int32_t y, uint8_t value);

    // --- conversions (ieconvert.cpp)
    bool ConvertFormat(TIEPixelFormat format);
    void ConvertedCopyFrom(TIEBitmap& source);

    // --- settings
    // Copies the settings below (and the access mode) from another buffer, for new storage that
    // is built beside a buffer's pixels and then takes their place.
    void AssignSettings(const TIEBitmap& from);

    int64_t MemoryThreshold;
    uint8_t BilevelMethod = 1;  // 0 ordered dither, 1 threshold at the mean luminance
    int32_t QuantizeColors = 256;
    double GrayRangeLow = 0, GrayRangeHigh = 0;
    TIEAllocatorKind AllocatorKind = ieakMixed;
    bool IsFullyOpaque = false;

private:
    friend class TIEBitmapConverter;
    bool AllocateStorage();
    bool AllocateInMemory(int64_t size);
    bool AllocateBands();
    bool CreateTempFile(int64_t size);
    void BuildVclBitmap();  // raises for formats the platform bitmap cannot hold
    void BuildRowTable();
    void Resync();
    void SyncIfVcl() {
        if (location_ == ieTBitmap && vclBitmap_) Resync();
    }
    void LoadDerived();
    void ResetShape();
    void ReleasePixels();
    void UnmapRow();
    uint8_t* MapFileRow(int32_t y, bool pin);
    void PushPaletteToVcl();
    bool CopyRowsFrom(TIEBitmap& source);
    bool ResizeKeeping(int32_t width, int32_t height);
    bool ReallocateKeeping(TIEStorageLocation location, int32_t alignment);
    void TakeStorageFrom(TIEBitmap& source);

    std::unique_ptr<TIEFileBuffer> fileStore_;
    uint8_t* mappedRow_ = nullptr;
    std::vector<BgrColor> palette_;
    std::unique_ptr<TIEBitmap> alpha_;
    uint8_t* pixelBase_ = nullptr;
    void* rawBlock_ = nullptr;
    TIEAllocatorKind rawBlockKind_ = ieakMixed;
    TBitmap* vclBitmap_ = nullptr;
    std::vector<uint8_t*> rowTable_;
    const uint8_t* vclFirstRow_ = nullptr;
    uint64_t vclStamp_ = 0;
    const TBitmap* vclStampOwner_ = nullptr;
    std::vector<uint8_t*> pinnedMaps_;
    std::vector<int32_t> pinnedRows_;
    uint8_t rowOrder_ = 0;
    int32_t width_ = 0, height_ = 0, bitsPerPixel_ = 0, samplesPerPixel_ = 0, rowLength_ = 0;
    TIEPixelFormat format_ = ieNoFormat;
    bool isAlphaPlane_ = false;
    TIEStorageLocation location_ = ieInMemory;
    bool vclBitmapNotOwned_ = false;
    bool pixelsNotOwned_ = false;
    int32_t rowAlignment_ = 32;
    bool reallocPending_ = true;
    int32_t rowsPerBand_ = 0;
    std::vector<void*> bands_;
};

// A small sibling backed directly by a platform bitmap, used for display copies (ie1g and ie24RGB).
class TIEDibbitmap : public TIEBaseBitmap {
public:
    TIEDibbitmap() = default;
    uint8_t* RowAddress(int32_t y) override;
    int32_t BitsPerPixel() override { return IEBitsPerPixelOf(format_); }
    int32_t Height() override { return bitmap_.Height(); }
    int32_t Width() override { return bitmap_.Width(); }
    TIEPixelFormat Format() override { return format_; }
    int32_t RowLength() override { return bitmap_.RowStride(); }
    BgrColor* PaletteData() override { return nullptr; }
    void GetPaletteEntry(int32_t, BgrColor&) override {}
    void SetPaletteEntry(int32_t, uint32_t) override {}
    int32_t PaletteLength() override { return 0; }
    bool Allocate(int32_t width, int32_t height, TIEPixelFormat format) override;
    bool CopyFrom(TIEBaseBitmap& source) override;
    void CopyPaletteTo(TIEBitmap& target) override;
    TBitmap& Bitmap() { return bitmap_; }

private:
    TBitmap bitmap_;
    TIEPixelFormat format_ = ieNoFormat;
};

// The message raised for a format the platform bitmap cannot hold.
std::string IENotAllowedInVclMessage(TIEPixelFormat format);

}  // namespace quirelle
