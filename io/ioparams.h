// TIOParamsVals: everything known or wanted about the image being read or written, grouped by
// file format. One instance belongs to each TImageIO; readers fill it, writers read their options
// from it and write back what they decided.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/iepixel.h"

namespace quirelle {

class TImageIO;
class TIEBitmap;
class TStream;

// LZW hooks. The TIFF decoder decodes one row per call from strip data of the given length
// (state starts null; a call with no data releases it); the encoder continues one code stream
// per call and ends it on a call with no bytes.
using TTiffLzwDecoderProc = const uint8_t* (*)(const uint8_t* data, int64_t length, int32_t rowLength, void** state,
                                              int32_t fillOrder);
using TTiffLzwEncoderProc = void (*)(const uint8_t* bytes, int32_t count, TStream& output, void** state);
using TGifLzwDecoderProc = void (*)(TStream& stream, int32_t height, int32_t width, uint8_t* output, bool interlaced);
using TGifLzwEncoderProc = void (*)(TStream& stream, int32_t height, int32_t width, int32_t bitsPerPixel,
                                    const uint8_t* pixels, bool interlaced);

// Program-wide defaults that every new parameter set copies (installed at engine start-up).
extern TTiffLzwDecoderProc DefTiffLzwDecoder;
extern TTiffLzwEncoderProc DefTiffLzwEncoder;
extern TGifLzwDecoderProc DefGifLzwDecoder;
extern TGifLzwEncoderProc DefGifLzwEncoder;

// Resolution given to images whose file states none (dots per inch).
extern int32_t IEDefaultDPI;

// An ordered list of saved JPEG markers: (marker code, payload after the two length bytes).
struct TIEMarker {
    uint8_t Code = 0;
    std::vector<uint8_t> Data;
    bool operator==(const TIEMarker&) const = default;
};
class TIEMarkerList {
public:
    void Clear() { items_.clear(); }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // Payloads longer than 65533 bytes are cut to that length.
    void Add(uint8_t code, const uint8_t* data, size_t length);
    void Insert(int32_t index, uint8_t code, const uint8_t* data, size_t length);
    void Delete(int32_t index);
    const TIEMarker& operator[](int32_t index) const { return items_.at(static_cast<size_t>(index)); }
    TIEMarker& operator[](int32_t index) { return items_.at(static_cast<size_t>(index)); }
    // Index of the first marker with this code, -1 when none.
    int32_t IndexOf(uint8_t code) const;
    std::vector<TIEMarker>& Items() { return items_; }
    const std::vector<TIEMarker>& Items() const { return items_; }
    bool operator==(const TIEMarkerList&) const = default;

private:
    std::vector<TIEMarker> items_;
};

// An embedded ICC profile, kept as its bytes.
struct TIEICC {
    std::vector<uint8_t> Raw;
    bool IsValid() const { return Raw.size() >= 128; }
    bool operator==(const TIEICC&) const = default;
};

// What an attached image view needs to hear from the parameter set.
class IImageViewLink {
public:
    virtual ~IImageViewLink() = default;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    virtual void SetDpiX(int32_t dpi) = 0;
    virtual void SetDpiY(int32_t dpi) = 0;
    // Whether the view sits in a window: only then do background workers post their notices to
    // the user-interface thread instead of calling the events themselves.
    virtual bool HasParentWindow() { return false; }
    // The buffer's image changed (a load finished): show it again.
    virtual void Update() {}
};

// The Exif block (reset by ClearExifBlock).
struct TIEExifBlock {
    bool HasExif = false;
    int32_t Orientation = 1;
    std::string ImageDescription, Make, Model, Software, Artist, Copyright, DateTime, DateTimeOriginal,
        DateTimeDigitized, UserComment;
    double ExifResolutionX = 0, ExifResolutionY = 0;
    int32_t ResolutionUnit = 0;
    double ExposureTime = -1, FNumber = -1, FocalLength = -1, ApertureValue = -1, ShutterSpeedValue = -1,
           BrightnessValue = -1000, ExposureBiasValue = -1000, SubjectDistance = -1, DigitalZoomRatio = -1;
    int32_t ExposureProgram = -1, ISOSpeedRatings = -1, MeteringMode = -1, LightSource = -1, Flash = -1,
            ColorSpace = -1, ExifImageWidth = -1, ExifImageHeight = -1, WhiteBalance = -1;
    double GpsLatitude = -1000, GpsLongitude = -1, GpsAltitude = -1;
    std::string GpsLatitudeRef, GpsLongitudeRef, GpsMapDatum;
};

// The plain fields of the parameter set, with their defaults; ResetParams restores these.
struct TIOParamsData {
    // --- general
    int32_t ChannelBits = 8;
    std::filesystem::path SourcePath;
    int32_t ChannelCount = 3;
    int32_t PixelWidth = 0;
    int32_t PixelHeight = 0;
    int32_t ResolutionX = 0;
    int32_t ResolutionY = 0;
    int32_t FormatId = 0;
    int32_t MediaFrameIndex = 0;
    int32_t MediaFrameCount = 0;
    bool GetThumbnail = false;
    bool IsResource = false;
    bool ApplyOrientation = false;
    int32_t StoredWidth = 0;
    int32_t StoredHeight = 0;

    // --- TIFF
    uint8_t TiffCoding = 0;
    int32_t TiffFrameIndex = 0;
    int32_t TiffSubImageIndex = -1;
    uint8_t TiffPhotometric = 2;
    int32_t TiffPlanarConfig = 1;
    int32_t TiffPositionX = 0;
    int32_t TiffPositionY = 0;
    int32_t TiffTileIndex = -1;
    std::string TiffDocumentName, TiffImageDescription, TiffPageName;
    int32_t TiffPageNumber = -1;
    int32_t TiffPageTotal = -1;
    int32_t TiffOrientation = 1;
    TTiffLzwDecoderProc TiffLzwDecoder = nullptr;
    TTiffLzwEncoderProc TiffLzwEncoder = nullptr;
    bool TiffApplyOrientation = false;
    int32_t TiffJpegQuality = 80;
    int32_t TiffFrameCount = 0;
    int32_t TiffFillOrder = 1;
    bool TiffLittleEndian = true;

    // --- GIF (and the DCX page index that leads the group)
    int32_t DcxPageIndex = 0;
    std::string GifVersion = "GIF89a";
    int32_t GifFrameIndex = 0;
    int32_t GifOffsetX = 0, GifOffsetY = 0, GifDelay = 0;
    bool GifHasTransparency = false;
    BgrColor GifTransparentColor{};
    bool GifInterlaced = false;
    int32_t GifScreenWidth = 0, GifScreenHeight = 0;
    BgrColor GifBackgroundColor{};
    int32_t GifAspectRatio = 0;
    std::vector<std::string> GifComments;
    uint8_t GifDisposal = 2;
    TGifLzwDecoderProc GifLzwDecoder = nullptr;
    TGifLzwEncoderProc GifLzwEncoder = nullptr;
    int32_t GifImageCount = 0;

    // --- JPEG
    uint8_t JpegColorModel = 2;
    int32_t JpegQualityLevel = 80;
    uint8_t JpegDctKind = 0;
    uint8_t JpegChromaSampling = 1;
    bool JpegOptimizeTables = false;
    int32_t JpegSmoothingFactor = 0;
    bool JpegProgressiveScan = false;
    uint8_t JpegScaleChoice = 1;
    TIEMarkerList JpegMarkers;
    int32_t JpegScaleUsed = 1;
    bool JpegApplyOrientation = false;
    bool JpegUseExifThumbnail = false;
    bool JpegEnableAdjustOrientation = true;
    int32_t JpegWarningCount = 0;
    int32_t JpegLastWarningCode = 0;
    std::string XmpText;

    // --- JPEG 2000, PCX, BMP
    double J2000Rate = 1.0;
    bool J2000ColorSpaceYCC = false;
    int32_t J2000CodeBlockSize = 5;
    uint8_t PcxVersion = 5;
    bool PcxCompressed = true;
    int32_t DcxImageCount = 0;
    uint8_t BmpVersion = 1;
    bool BmpNoFileHeader = false;
    uint8_t BmpCompression = 0;
    bool BmpReadAlpha = false;

    // --- icon and cursor
    int32_t IcoFrameIndex = 0;
    BgrColor IcoBackgroundColor{255, 255, 255};
    int32_t IcoImageCount = 0;
    int32_t CurFrameIndex = 0;
    int32_t CurHotspotX = 0;
    int32_t CurHotspotY = 0;
    BgrColor CurBackgroundColor{255, 255, 255};
    int32_t IcoSizes[16][2] = {{64, 64}};
    int32_t IcoDepths[16] = {8};

    // --- PNG
    bool PngInterlaced = false;
    BgrColor PngBackgroundColor{};
    bool PngFilterAll = false;
    int32_t PngCompressionLevel = 5;
    std::vector<std::string> PngTextKeys, PngTextValues;

    // --- DICOM
    std::vector<std::string> DicomTags;

    // --- Targa
    bool TgaCompressed = true;
    std::string TgaImageId, TgaAuthor;
    std::time_t TgaDate = 0;
    std::string TgaJobName;
    BgrColor TgaKeyColor{};
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    bool TgaGrayscale = false;
    int32_t TgaXOrigin = 0, TgaYOrigin = 0;

    // --- PNM
    std::vector<std::string> PnmComments;

    // --- metadata
    std::vector<std::string> IptcRecords;
    std::vector<std::string> ImagingAnnotations;
    TIEExifBlock Exif;

    // --- PostScript
    int32_t PsMediaWidth = 595;
    int32_t PsMediaHeight = 842;
    uint8_t PsImageCoding = 1;
    std::string PsDocTitle = "No Title";

    // --- PDF
    int32_t PdfMediaWidth = 595;
    int32_t PdfMediaHeight = 842;
    uint8_t PdfImageCoding = 2;
    std::string PdfInfoTitle, PdfInfoAuthor, PdfInfoSubject, PdfInfoKeywords, PdfInfoCreator, PdfInfoProducer;

    // --- loader options
    bool NativePixelFormat = false;
    std::vector<uint8_t> ColorMap;  // ColorMapCount entries of blue, green, red
    int32_t ColorMapCount = 0;

};

class TIOParamsVals : public TIOParamsData {
public:
    explicit TIOParamsVals(TImageIO* owner = nullptr);
    ~TIOParamsVals();
    TIOParamsVals(const TIOParamsVals&) = delete;
    TIOParamsVals& operator=(const TIOParamsVals&) = delete;

    void ResetParams();
    void AssignParams(const TIOParamsVals& other);
    void ClearMetadata();
    void ClearExifBlock();
    void ClearColorMap();
    void SetResolutionX(int32_t value);
    void SetResolutionY(int32_t value);
    void SetResolutionX(double value);
    void SetResolutionY(double value);
    void SelectFrame(int32_t index);
    void SetOrientation(int32_t value);
    void SetApplyOrientation(bool value);
    // Writes the image count of every group that keeps one.
    void SetImageCount(int32_t value);
    // Replaces ColorMap with count entries of blue, green, red.
    void SetColorMap(const BgrColor* entries, int32_t count);

    // The owning I/O object (not owned); the resolution setters tell its attached view.
    TImageIO* OwnerIo = nullptr;
    // The Exif thumbnail (owned; freed by ClearExifBlock).
    std::unique_ptr<TIEBitmap> ExifThumbnail;

    // --- colour profiles (created on first use)
    TIEICC* InputICCProfile();
    TIEICC* OutputICCProfile();
    TIEICC* DefaultICCProfile();
    bool HasInputICCProfile() const { return inputICC_ != nullptr; }
    void FreeInputICCProfile() { inputICC_.reset(); }

private:
    std::unique_ptr<TIEICC> inputICC_, outputICC_, defaultICC_;
};

}  // namespace quirelle
