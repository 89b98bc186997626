#include "io/ieengine.h"

#include "codecs/jpegfilt.h"
#include "codecs/tiflzw.h"
#include "readers/iepnm.h"
#include "readers/iewbmp.h"

#include <map>
#include <mutex>

#include "io/ioparams.h"

namespace quirelle {

void IEBuildFormatRegistry();  // io/ieformats.cpp

namespace {

// The loaders of the built-in formats with their particulars; readers are filled in as they
// are registered.
std::map<int32_t, TIELoaderEntry>& LoaderTable() {
    static std::map<int32_t, TIELoaderEntry> table = [] {
        std::map<int32_t, TIELoaderEntry> t;
        auto add = [&t](int32_t id) -> TIELoaderEntry& { return t[id]; };
        {
            TIELoaderEntry& e = add(iofmtTIFF);
            e.StreamHeader = iehTiff;
            e.OpenFileFirst = true;
        }
        {
            TIELoaderEntry& e = add(iofmtGIF);
            e.Background = iebGif;
            e.OpenFileFirst = true;
        }
        {
            TIELoaderEntry& e = add(iofmtJPEG);
            e.StreamHeader = iehJfif;
            e.FileReadBuffer = 65536;
        }
        {
            TIELoaderEntry& e = add(iofmtPCX);
            e.StreamHeader = iehPcx;
            e.OpenFileFirst = true;
        }
        {
            TIELoaderEntry& e = add(iofmtBMP);
            e.MaskToAlphaPlane = true;
            e.OpenFileFirst = true;
        }
        add(iofmtICO).MaskToAlphaPlane = true;
        add(iofmtCUR).MaskToAlphaPlane = true;
        add(iofmtPNG).Background = iebPng;
        add(iofmtWMF);
        add(iofmtEMF);
        add(iofmtTGA).MaskToAlphaPlane = true;
        add(iofmtPXM);
        add(iofmtJP2);
        add(iofmtJ2K);
        add(iofmtWBMP).AdjustResolution = false;
        add(iofmtDCX);
        add(iofmtRAW);
        add(iofmtBMPRAW);
        add(iofmtPSD);
        add(iofmtIEV);
        add(iofmtLYR);
        add(iofmtALL);
        add(iofmtDICOM);
        add(iofmtHDP);
        return t;
    }();
    return table;
}

std::recursive_mutex& EngineMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

void SetReader(int32_t formatId, TIEReaderProc reader, TIEReaderExProc readerEx) {
    auto& table = LoaderTable();
    auto it = table.find(formatId);
    if (it == table.end()) return;  // only built-in formats have loaders
    it->second.Read = std::move(reader);
    it->second.ReadEx = std::move(readerEx);
}

}  // namespace

void IEInitializeEngine() {
    static bool initialized = false;
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    if (initialized) return;
    initialized = true;
    // 1. Default codec hooks (installed before the registry, whose GIF entry follows them).
    DefTiffLzwDecoder = TiffLzwDecodeRow;
    DefTiffLzwEncoder = TiffLzwEncode;
    // 2. The format registry.
    IEBuildFormatRegistry();
    // 3. The built-in readers, one registration per reader.
    IERegisterReader(iofmtJPEG, ReadJpeg);
    IERegisterReader(iofmtPXM, ReadPnm);
    IERegisterReader(iofmtWBMP, ReadWbmp);
}

void IERegisterReader(int32_t formatId, TIEReaderProc reader) {
    IEInitializeEngine();
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    SetReader(formatId, std::move(reader), nullptr);
}

void IERegisterReaderEx(int32_t formatId, TIEReaderExProc reader) {
    IEInitializeEngine();
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    SetReader(formatId, nullptr, std::move(reader));
}

void IEUnregisterReader(int32_t formatId) {
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    SetReader(formatId, nullptr, nullptr);
}

const TIELoaderEntry* IEFindLoader(int32_t formatId) {
    IEInitializeEngine();
    auto& table = LoaderTable();
    auto it = table.find(formatId);
    return it == table.end() ? nullptr : &it->second;
}

const char* IEFormatShortName(int32_t formatId) {
    switch (formatId) {
        case iofmtTIFF: return "TIFF";
        case iofmtGIF: return "GIF";
        case iofmtJPEG: return "JPEG";
        case iofmtPCX: return "PCX";
        case iofmtBMP: return "BMP";
        case iofmtICO: return "icon";
        case iofmtCUR: return "cursor";
        case iofmtPNG: return "PNG";
        case iofmtWMF: return "Windows metafile";
        case iofmtEMF: return "enhanced metafile";
        case iofmtTGA: return "Targa";
        case iofmtPXM: return "PBM/PGM/PPM";
        case iofmtJP2:
        case iofmtJ2K: return "JPEG 2000";
        case iofmtAVI: return "AVI video";
        case iofmtWBMP: return "wireless bitmap";
        case iofmtPS: return "PostScript";
        case iofmtPDF: return "PDF";
        case iofmtDCX: return "DCX";
        case iofmtRAW: return "camera raw";
        case iofmtBMPRAW: return "raw pixel";
        case iofmtWMV: return "Windows Media video";
        case iofmtMPEG: return "MPEG video";
        case iofmtPSD: return "Photoshop";
        case iofmtIEV: return "vector objects";
        case iofmtLYR: return "layers";
        case iofmtALL: return "layers and objects";
        case iofmtDICOM: return "DICOM";
        case iofmtHDP: return "HD Photo";
        default: return "image";
    }
}

}  // namespace quirelle
