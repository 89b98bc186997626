// The process-wide file-format registry and content detection.
//
// Every format the engine knows has one TIEFileFormatInfo entry in an ordered list. The list
// answers which format id belongs to an extension, which extensions and description belong to an
// id, whether a format can be read or written, and (with DetectStreamFormat) which format a
// stream really holds. Registration order is the order of every scan and so the tie-break of
// every lookup. The registry is built by IEInitializeEngine (io/ieengine.h) and is written only
// during start-up or while no I/O runs: no lock protects it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quirelle {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct ProgressRecord;

// Format ids shared by the whole engine (TIOParamsVals::FormatId holds one after a load).
enum TIEFormatId : int32_t {
    iofmtUnknown = 0,
    iofmtTIFF = 1,
    iofmtGIF = 2,
    iofmtJPEG = 3,
    iofmtPCX = 4,
    iofmtBMP = 5,
    iofmtICO = 6,
    iofmtCUR = 7,
    iofmtPNG = 8,
    iofmtWMF = 9,
    iofmtEMF = 10,
    iofmtTGA = 11,
    iofmtPXM = 12,
    iofmtJP2 = 13,
    iofmtJ2K = 14,
    iofmtAVI = 15,
    iofmtWBMP = 16,
    iofmtPS = 17,
    iofmtPDF = 18,
    iofmtDCX = 19,
    iofmtRAW = 20,
    iofmtBMPRAW = 21,
    iofmtWMV = 22,
    iofmtMPEG = 23,
    iofmtPSD = 24,
    iofmtIEV = 25,
    iofmtLYR = 26,
    iofmtALL = 27,
    iofmtDICOM = 28,
    iofmtHDP = 29,
};

// Reads an image (or, with paramsOnly, only its parameters) from the stream's current position.
using TIEReadProc = std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                                       ProgressRecord& progress)>;
using TIEWriteProc =
    std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress)>;
// True when the stream, from its current position, holds the format with this id.
using TIEProbeProc = std::function<bool(TStream& stream, int32_t formatId)>;

class TIEFileFormatInfo {
public:
    int32_t FormatId = 0;
    std::string Description;
    // Extensions without dots, upper case, separated by ";" ("TIF;TIFF"); may be empty.
    std::string ExtensionList;
    // True for the engine's own formats (dispatched by FormatId inside the engine); false for a
    // format an application registered, whose procedures are called directly.
    bool BuiltIn = false;
    // Pages of the I/O-parameters dialog: 4 JPEG, 8 TIFF, 16 GIF, 32 BMP, 64 PCX, 128 PNG,
    // 256 TGA, 512 JPEG 2000.
    uint16_t ParamPages = 0;
    // For built-in entries these are placeholders that do nothing: only their presence tells
    // whether the format can be read or written.
    TIEReadProc ReadProc;
    TIEWriteProc WriteProc;
    TIEProbeProc ProbeProc;
};

// --- registry operations (free functions over the one process-wide registry)

// Appends an entry; the registry owns it from then on. No duplicate check.
void FormatRegistryAdd(std::unique_ptr<TIEFileFormatInfo> info);
// Removes and frees the first entry with this id; nothing happens for an unknown id.
void FormatRegistryRemove(int32_t formatId);
// The first entry with this id in registration order; null when none.
TIEFileFormatInfo* FormatRegistryFind(int32_t formatId);
// The n-th extension (from 0) of the entry with this id, as stored; empty when there is none.
std::string FormatRegistryExtension(int32_t formatId, int32_t n);
int32_t FormatRegistryExtensionCount(int32_t formatId);
// The first entry listing ext (any case, one leading "." allowed); null for none or "".
TIEFileFormatInfo* FormatRegistryFindByExtension(const std::string& ext);
// The id of FormatRegistryFindByExtension, 0 when none.
int32_t FormatIdFromExtension(const std::string& ext);
// "*.ext;*.ext..." over the entries that can be read (forRead) or written (forWrite); withVideo
// adds the video patterns.
std::string FormatRegistryPatternList(bool forRead, bool forWrite, bool withVideo);
// Makes the GIF entry's read and write marks follow the installed GIF LZW codec hooks.
void RefreshGifCapabilities();
// All entries in registration order (for building dialog filters and for tests).
const std::vector<std::unique_ptr<TIEFileFormatInfo>>& FormatRegistryEntries();

// --- content detection

// The format of the data that begins at the stream's current position (0: not recognised). The
// position is the same on return as on entry; nothing is raised.
int32_t DetectStreamFormat(TStream& stream);
// The format of a file: content and extension combined. Strict: both must agree (icons and
// cursors are named by their extension, unknown extensions are rejected); otherwise the content
// wins. 0 for an empty name, a missing file or a directory.
int32_t DetectFileFormat(const std::filesystem::path& fileName, bool strict);

// The individual probes of the detector, usable on their own. Each restores the position.
bool IsTiffStream(TStream& stream);
bool IsCameraRawTiffStream(TStream& stream);
bool IsHdPhotoStream(TStream& stream);
bool IsPnmStream(TStream& stream);
bool IsTgaStream(TStream& stream);
bool IsIconStream(TStream& stream, uint16_t type);
bool IsDcxStream(TStream& stream);
bool IsWmfStream(TStream& stream);
bool IsEmfStream(TStream& stream);
bool IsPsdStream(TStream& stream);
bool IsJpegMarkerStream(TStream& stream);
// Camera raw identification: a TIFF-structured file that the raw-camera exclusion marks as raw.
bool IsCameraRawStream(TStream& stream);

}  // namespace quirelle
