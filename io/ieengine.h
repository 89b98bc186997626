// Engine start-up and the table of built-in image loaders.
//
// IEInitializeEngine builds the process-wide tables once (the default codec hooks, the format
// registry, the built-in readers). Every registry lookup and every load calls it first, so a
// program that forgets to call it still works; calling it early keeps start-up order explicit.
//
// A built-in reader plugs in by registering a TIELoaderEntry for its format id (one line in
// IEInitializeEngine). The entry holds the reader and the particulars the loader wraps around it:
// whether a transparency mask becomes the alpha plane, which engine stream header it honours,
// which background colour it hands in and reads back, and so on. A built-in format without a
// registered reader fails its loads with a clear LastError text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "io/ieformats.h"

namespace quirelle {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct ProgressRecord;

// What a reader may hand back besides the image, and what the loader tells it.
struct TIEReaderExtra {
    // Bytes of image data available from the stream position (the engine header's length for
    // headed streams; otherwise the rest of the stream).
    int64_t DataSize = 0;
    // A transparency mask the reader made: ie1g (1 = opaque) or ie8g (255 = opaque), of the
    // image's size. With MaskToAlphaPlane the loader copies it into the buffer's alpha plane.
    std::unique_ptr<TIEBitmap> Mask;
};

// The reader signature every built-in reader has (the same as a registry entry's ReadProc).
using TIEReaderProc = TIEReadProc;
// The same for readers that need the data size or deliver a transparency mask.
using TIEReaderExProc = std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                                           bool paramsOnly, ProgressRecord& progress, TIEReaderExtra& extra)>;

// The engine's own 12-byte header in front of an image inside a stream.
enum TIEStreamHeaderKind : uint8_t {
    iehNone = 0,
    iehJfif = 1,  // "JFIF": always looked for; skipped when present
    iehTiff = 2,  // "TIFF": required while StreamHeaders is on
    iehPcx = 3,   // "PCX2" (with length) or the older 4-byte "PCX": required while StreamHeaders is on
};

// The background colour a loader hands to the reader and reads back.
enum TIEBackgroundKind : uint8_t {
    iebNone = 0,
    iebPng = 1,  // Background goes into PngBackgroundColor before reading and comes back after
    iebGif = 2,  // after reading: the transparent colour when the frame has one, else the GIF background
};

struct TIELoaderEntry {
    TIEReaderProc Read;      // either this ...
    TIEReaderExProc ReadEx;  // ... or this
    bool MaskToAlphaPlane = false;
    TIEStreamHeaderKind StreamHeader = iehNone;
    TIEBackgroundKind Background = iebNone;
    // False for formats whose resolution is not adjusted or shown (wireless bitmaps).
    bool AdjustResolution = true;
    // The file loader opens the file before anything else, so that an open error leaves
    // CancelRequested as it was (TIFF, GIF, PCX, BMP).
    bool OpenFileFirst = false;
    // Files are read through a buffered read stream of this many bytes (0: none).
    int32_t FileReadBuffer = 0;

    bool HasReader() const { return static_cast<bool>(Read) || static_cast<bool>(ReadEx); }
};

// Builds the process-wide tables once; later calls do nothing.
void IEInitializeEngine();

// Registers (or replaces) the reader of a built-in format id; ids without a built-in loader are
// ignored. The particulars of the loader (stream header, file opening order, mask handling, ...)
// stay those of the format.
void IERegisterReader(int32_t formatId, TIEReaderProc reader);
void IERegisterReaderEx(int32_t formatId, TIEReaderExProc reader);
// Removes a registered reader again (the format then fails its loads with "no reader").
void IEUnregisterReader(int32_t formatId);

// The loader entry of a built-in format id; null for ids that have no built-in loader (17, 18,
// 15, 22, 23 and application ids).
const TIELoaderEntry* IEFindLoader(int32_t formatId);

// The name used in "no reader for ... files is built in" ("JPEG 2000", "TIFF", ...).
const char* IEFormatShortName(int32_t formatId);

}  // namespace quirelle
