#include "io/ieformats.h"

#include <algorithm>
#include <cctype>

#include "io/ieengine.h"
#include "io/ioparams.h"

namespace quirelle {

namespace {

std::vector<std::unique_ptr<TIEFileFormatInfo>>& RegistryStorage() {
    static std::vector<std::unique_ptr<TIEFileFormatInfo>> registry;
    return registry;
}

// The registry after start-up has run (it is built on first use when nobody started the engine).
std::vector<std::unique_ptr<TIEFileFormatInfo>>& Registry() {
    IEInitializeEngine();
    return RegistryStorage();
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Placeholders of the built-in entries: only their presence matters.
void PlaceholderRead(TStream&, TIEBitmap&, TIOParamsVals&, bool, ProgressRecord&) {}
void PlaceholderWrite(TStream&, TIEBitmap&, TIOParamsVals&, ProgressRecord&) {}
bool PlaceholderProbe(TStream&, int32_t) { return false; }

struct BuiltInFormat {
    int32_t id;
    const char* description;
    const char* extensions;
    uint16_t paramPages;
    bool canRead;
    bool canWrite;
};

// Registration order is the order of every scan. HD Photo (iofmtHDP) needs an imaging component
// this platform does not have, so it is not registered.
constexpr BuiltInFormat kBuiltInFormats[] = {
    {iofmtTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F;XIF", 8, true, true},
    {iofmtGIF, "CompuServe Bitmap", "GIF", 16, false, false},  // follows the GIF LZW hooks
    {iofmtJPEG, "JPEG Bitmap", "JPG;JPEG;JPE;JIF", 4, true, true},
    {iofmtPCX, "PaintBrush", "PCX", 64, true, true},
    {iofmtBMP, "Windows Bitmap", "BMP;DIB;RLE", 32, true, true},
    {iofmtBMPRAW, "Raw Bitmap", "", 0, true, true},
    {iofmtICO, "Windows Icon", "ICO", 0, true, true},
    {iofmtCUR, "Windows Cursor", "CUR", 0, true, false},
    {iofmtPNG, "Portable Network Graphics", "PNG", 128, true, true},
    {iofmtDICOM, "DICOM Bitmap", "DCM;DIC;DICOM;V2", 0, true, false},
    {iofmtWMF, "Windows Metafile", "WMF", 0, true, false},
    {iofmtEMF, "Enhanced Windows Metafile", "EMF", 0, true, false},
    {iofmtTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", 256, true, true},
    {iofmtPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", 0, true, true},
    {iofmtWBMP, "Wireless Bitmap", "WBMP", 0, true, true},
    {iofmtJP2, "JPEG2000", "JP2", 512, true, true},
    {iofmtJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", 512, true, true},
    {iofmtPS, "PostScript Level 2", "PS;EPS", 0, false, true},
    {iofmtPDF, "Adobe PDF", "PDF", 0, false, true},
    {iofmtDCX, "Multipage PCX", "DCX", 0, true, true},
    {iofmtRAW, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2", 0, true, false},
    {iofmtPSD, "Photoshop PSD", "PSD", 0, true, true},
    {iofmtIEV, "Vectorial objects", "IEV", 0, true, true},
    {iofmtLYR, "Layers", "LYR", 0, true, true},
    {iofmtALL, "Layers and objects", "ALL", 0, true, true},
};

}  // namespace

void IEBuildFormatRegistry() {
    auto& registry = RegistryStorage();
    registry.clear();
    for (const BuiltInFormat& f : kBuiltInFormats) {
        auto info = std::make_unique<TIEFileFormatInfo>();
        info->FormatId = f.id;
        info->Description = f.description;
        info->ExtensionList = f.extensions;
        info->BuiltIn = true;
        info->ParamPages = f.paramPages;
        if (f.canRead) info->ReadProc = PlaceholderRead;
        if (f.canWrite) info->WriteProc = PlaceholderWrite;
        info->ProbeProc = PlaceholderProbe;
        if (f.id == iofmtGIF) {
            if (DefGifLzwDecoder) info->ReadProc = PlaceholderRead;
            if (DefGifLzwEncoder) info->WriteProc = PlaceholderWrite;
        }
        registry.push_back(std::move(info));
    }
}

const std::vector<std::unique_ptr<TIEFileFormatInfo>>& FormatRegistryEntries() { return Registry(); }

void FormatRegistryAdd(std::unique_ptr<TIEFileFormatInfo> info) {
    if (info) Registry().push_back(std::move(info));
}

void FormatRegistryRemove(int32_t formatId) {
    auto& registry = Registry();
    auto it = std::find_if(registry.begin(), registry.end(), [&](const auto& e) { return e->FormatId == formatId; });
    if (it != registry.end()) registry.erase(it);
}

TIEFileFormatInfo* FormatRegistryFind(int32_t formatId) {
    for (const auto& e : Registry())
        if (e->FormatId == formatId) return e.get();
    return nullptr;
}

std::string FormatRegistryExtension(int32_t formatId, int32_t n) {
    const TIEFileFormatInfo* info = FormatRegistryFind(formatId);
    if (!info || n < 0) return {};
    const std::string& list = info->ExtensionList;
    size_t start = 0;
    for (int32_t i = 0;; ++i) {
        const size_t end = list.find(';', start);
        if (i == n) return list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

int32_t FormatRegistryExtensionCount(int32_t formatId) {
    int32_t n = 0;
    while (!FormatRegistryExtension(formatId, n).empty()) ++n;
    return n;
}

TIEFileFormatInfo* FormatRegistryFindByExtension(const std::string& ext) {
    std::string wanted = Lower(ext);
    if (!wanted.empty() && wanted.front() == '.') wanted.erase(0, 1);
    if (wanted.empty()) return nullptr;
    for (const auto& e : Registry()) {
        const std::string list = Lower(e->ExtensionList);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (list.compare(start, end - start, wanted) == 0 && end - start == wanted.size()) return e.get();
            start = end + 1;
        }
    }
    return nullptr;
}

int32_t FormatIdFromExtension(const std::string& ext) {
    const TIEFileFormatInfo* info = FormatRegistryFindByExtension(Lower(ext));
    return info ? info->FormatId : 0;
}

std::string FormatRegistryPatternList(bool forRead, bool forWrite, bool withVideo) {
    std::string patterns;
    for (const auto& e : Registry()) {
        if (e->ExtensionList.empty()) continue;
        if (!((forWrite && e->WriteProc) || (forRead && e->ReadProc))) continue;
        const std::string list = Lower(e->ExtensionList);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) patterns += "*." + list.substr(start, end - start) + ";";
            start = end + 1;
        }
    }
    if (withVideo) {
        patterns += "*.avi;";
        // The video loader accepts both MPEG extensions, so both are listed.
        if (forRead) patterns += "*.mpeg;*.mpg;*.wmv;";
    }
    if (!patterns.empty()) patterns.pop_back();
    return patterns;
}

void RefreshGifCapabilities() {
    TIEFileFormatInfo* gif = FormatRegistryFind(iofmtGIF);
    if (!gif) return;
    gif->ReadProc = DefGifLzwDecoder ? TIEReadProc(PlaceholderRead) : TIEReadProc();
    gif->WriteProc = DefGifLzwEncoder ? TIEWriteProc(PlaceholderWrite) : TIEWriteProc();
}

}  // namespace quirelle
