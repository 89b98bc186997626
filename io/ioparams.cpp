#include "io/ioparams.h"

#include <algorithm>
#include <cstring>

#include "image/iebitmap.h"
#include "io/ieengine.h"
#include "io/imageio.h"

namespace quirelle {

TTiffLzwDecoderProc DefTiffLzwDecoder = nullptr;
TTiffLzwEncoderProc DefTiffLzwEncoder = nullptr;
TGifLzwDecoderProc DefGifLzwDecoder = nullptr;
TGifLzwEncoderProc DefGifLzwEncoder = nullptr;
int32_t IEDefaultDPI = 300;

// ---------------------------------------------------------------------------------------------
// TIEMarkerList

namespace {
constexpr size_t kMaxMarkerPayload = 65533;
}

void TIEMarkerList::Add(uint8_t code, const uint8_t* data, size_t length) {
    Insert(Count(), code, data, length);
}

void TIEMarkerList::Insert(int32_t index, uint8_t code, const uint8_t* data, size_t length) {
    TIEMarker marker;
    marker.Code = code;
    length = std::min(length, kMaxMarkerPayload);
    if (data && length) marker.Data.assign(data, data + length);
    index = std::clamp(index, 0, Count());
    items_.insert(items_.begin() + index, std::move(marker));
}

void TIEMarkerList::Delete(int32_t index) {
    if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

int32_t TIEMarkerList::IndexOf(uint8_t code) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (items_[static_cast<size_t>(i)].Code == code) return i;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TIOParamsVals

TIOParamsVals::TIOParamsVals(TImageIO* owner) : OwnerIo(owner) {
    IEInitializeEngine();  // the default hooks every new parameter set copies
    ResetParams();
}

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::ResetParams() {
    ClearColorMap();
    const int32_t width = PixelWidth, height = PixelHeight;
    const int32_t resolutionX = ResolutionX, resolutionY = ResolutionY;
    static_cast<TIOParamsData&>(*this) = TIOParamsData{};
    PixelWidth = width;
    PixelHeight = height;
    ResolutionX = resolutionX;
    ResolutionY = resolutionY;
    if (OwnerIo) {
        if (TBitmap* picture = OwnerIo->AttachedPicture()) {
            PixelWidth = picture->Width();
            PixelHeight = picture->Height();
        }
    }
    TiffLzwDecoder = DefTiffLzwDecoder;
    TiffLzwEncoder = DefTiffLzwEncoder;
    GifLzwDecoder = DefGifLzwDecoder;
    GifLzwEncoder = DefGifLzwEncoder;
    TgaDate = std::time(nullptr);
    ExifThumbnail.reset();
    inputICC_.reset();
    outputICC_.reset();
    defaultICC_.reset();
    if (OwnerIo) {
        SetResolutionX(IEDefaultDPI);
        SetResolutionY(IEDefaultDPI);
    }
}

void TIOParamsVals::AssignParams(const TIOParamsVals& other) {
    if (&other == this) return;
    static_cast<TIOParamsData&>(*this) = static_cast<const TIOParamsData&>(other);
    ColorMap.assign(other.ColorMap.begin(),
                    other.ColorMap.begin() + std::min<size_t>(other.ColorMap.size(), static_cast<size_t>(std::max(0, other.ColorMapCount)) * 3));
    auto copyProfile = [](const std::unique_ptr<TIEICC>& from, std::unique_ptr<TIEICC>& to) {
        if (from)
            to = std::make_unique<TIEICC>(*from);
        else
            to.reset();
    };
    copyProfile(other.inputICC_, inputICC_);
    copyProfile(other.outputICC_, outputICC_);
    copyProfile(other.defaultICC_, defaultICC_);
    if (other.ExifThumbnail) {
        ExifThumbnail = std::make_unique<TIEBitmap>();
        ExifThumbnail->CopyFrom(*other.ExifThumbnail);
    } else {
        ExifThumbnail.reset();
    }
    SetResolutionX(other.ResolutionX);
    SetResolutionY(other.ResolutionY);
    Exif.ExifResolutionX = other.Exif.ExifResolutionX;
    Exif.ExifResolutionY = other.Exif.ExifResolutionY;
}

void TIOParamsVals::ClearExifBlock() {
    Exif = TIEExifBlock{};
    ExifThumbnail.reset();
    static const uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
    auto& items = JpegMarkers.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].Code == 0xE1 && items[i].Data.size() >= 6 && std::memcmp(items[i].Data.data(), kExifId, 6) == 0) {
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
}

void TIOParamsVals::ClearMetadata() {
    IptcRecords.clear();
    ImagingAnnotations.clear();
    JpegMarkers.Clear();
    ClearExifBlock();
    GifComments.clear();
    DicomTags.clear();
    PngTextKeys.clear();
    PngTextValues.clear();
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TgaImageId.clear();
    TgaAuthor.clear();
    TgaJobName.clear();
    XmpText.clear();
    inputICC_.reset();
}

void TIOParamsVals::ClearColorMap() {
    ColorMap.clear();
    ColorMap.shrink_to_fit();
    ColorMapCount = 0;
}

void TIOParamsVals::SetColorMap(const BgrColor* entries, int32_t count) {
    ClearColorMap();
    if (!entries || count <= 0) return;
    ColorMap.resize(static_cast<size_t>(count) * 3);
    std::memcpy(ColorMap.data(), entries, ColorMap.size());
    ColorMapCount = count;
}

void TIOParamsVals::SetResolutionX(int32_t value) {
    ResolutionX = value;
    Exif.ExifResolutionX = value;
    if (IImageViewLink* view = OwnerIo ? OwnerIo->AttachedView() : nullptr) {
        view->BeginUpdate();
        view->SetDpiX(value);
        view->EndUpdate();
    }
}

void TIOParamsVals::SetResolutionY(int32_t value) {
    ResolutionY = value;
    Exif.ExifResolutionY = value;
    if (IImageViewLink* view = OwnerIo ? OwnerIo->AttachedView() : nullptr) {
        view->BeginUpdate();
        view->SetDpiY(value);
        view->EndUpdate();
    }
}

namespace {
int32_t TruncatedDpi(double value) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return 0;
    return static_cast<int32_t>(value);
}
}  // namespace

void TIOParamsVals::SetResolutionX(double value) {
    SetResolutionX(TruncatedDpi(value));
    Exif.ExifResolutionX = value;
}

void TIOParamsVals::SetResolutionY(double value) {
    SetResolutionY(TruncatedDpi(value));
    Exif.ExifResolutionY = value;
}

void TIOParamsVals::SelectFrame(int32_t index) {
    MediaFrameIndex = index;
    TiffFrameIndex = index;
    DcxPageIndex = index;
    GifFrameIndex = index;
    IcoFrameIndex = index;
    CurFrameIndex = index;
}

void TIOParamsVals::SetOrientation(int32_t value) {
    TiffOrientation = value;
    Exif.Orientation = value;
}

void TIOParamsVals::SetApplyOrientation(bool value) {
    ApplyOrientation = value;
    TiffApplyOrientation = value;
    JpegApplyOrientation = value;
}

void TIOParamsVals::SetImageCount(int32_t value) {
    MediaFrameCount = value;
    TiffFrameCount = value;
    GifImageCount = value;
    IcoImageCount = value;
    DcxImageCount = value;
}

TIEICC* TIOParamsVals::InputICCProfile() {
    if (!inputICC_) inputICC_ = std::make_unique<TIEICC>();
    return inputICC_.get();
}
TIEICC* TIOParamsVals::OutputICCProfile() {
    if (!outputICC_) outputICC_ = std::make_unique<TIEICC>();
    return outputICC_.get();
}
TIEICC* TIOParamsVals::DefaultICCProfile() {
    if (!defaultICC_) defaultICC_ = std::make_unique<TIEICC>();
    return defaultICC_.get();
}

}  // namespace quirelle
