// JPEG coding over libjpeg-turbo. This is the only file that includes the library.
//
// Error handling. libjpeg reports errors by calling the error manager's error_exit, which must
// not return. Ours records the message code, sets the caller's abort flag and jumps back with
// siglongjmp to the sigsetjmp of Protected(), the one function that every library call goes
// through. Between those two points there are only libjpeg's C frames and the small lambdas
// handed to Protected(), which own nothing with a destructor; everything that needs cleaning up
// (the libjpeg object, buffers, copies) lives in the frames above, which the jump never crosses.
// Callbacks from the library into our code (stream reads and writes, progress) never let a C++
// exception into the library: a stream exception is kept and raised again once the library
// object has been destroyed.
#include "codecs/jpegfilt.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// jpeglib.h first: it brings the configuration that decides which codes jerror.h numbers.
#include <jpeglib.h>
// (keep this order)
#include <jerror.h>

#include "readers/iereadlimits.h"
#include "readers/ietiffdir.h"

namespace quirelle {

namespace {

constexpr size_t kBufferSize = 65536;
// Progressive files with more scans than this are refused: every scan is a pass over the whole
// coefficient buffer, so a small file of many tiny scans would otherwise keep the decoder busy
// for a very long time. Real encoders write a few dozen at most.
constexpr int kMaxScans = 1000;
// Marker payloads longer than this cannot be written (the segment length is 16 bits).
constexpr size_t kMaxMarkerPayload = 65533;
// An error code outside the library's table, used for the scan limit.
constexpr int kScanLimitCode = 10000;

// ---------------------------------------------------------------------------------------------
// Per-call state reached from every callback through client_data.

struct JpegContext {
    jpeg_error_mgr err{};
    jpeg_progress_mgr monitor{};
    sigjmp_buf jump{};
    uint8_t* cancel = nullptr;
    int errorCode = 0;  // message code of the error that ended the last protected call
    int32_t warnings = 0;
    int32_t lastWarning = 0;
    bool damaged = false;        // a warning said the image data was damaged
    std::exception_ptr pending;  // raised by our stream inside a library callback

    // Source side.
    jpeg_source_mgr source{};
    TStream* input = nullptr;
    std::vector<uint8_t> inBuffer;
    bool startOfFile = true;
    bool fakeEoi = false;    // the buffer holds the supplied FF D9

    // Destination side.
    jpeg_destination_mgr destination{};
    TStream* output = nullptr;
    std::vector<uint8_t> outBuffer;

    explicit JpegContext(uint8_t* cancelFlag) : cancel(cancelFlag) {}
    void Abort() { *cancel = 1; }
};

JpegContext& Ctx(j_common_ptr cinfo) { return *static_cast<JpegContext*>(cinfo->client_data); }
JpegContext& Ctx(j_decompress_ptr cinfo) { return *static_cast<JpegContext*>(cinfo->client_data); }
JpegContext& Ctx(j_compress_ptr cinfo) { return *static_cast<JpegContext*>(cinfo->client_data); }

[[noreturn]] void JumpOut(JpegContext& ctx) { siglongjmp(ctx.jump, 1); }

void ErrorExit(j_common_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    ctx.errorCode = cinfo->err->msg_code;
    ctx.Abort();
    JumpOut(ctx);
}

// Warnings that mean the image data itself was damaged: the library patched over it (gray
// blocks, a skipped stretch), so the image is kept but the load counts as failed. Extra bytes
// before a marker, an odd JFIF version or Adobe transform and a bad ICC chunk leave the image
// as coded and stay plain warnings.
bool DamagesImageData(int code) {
    switch (code) {
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_JPEG_EOF: return true;
        default: return false;
    }
}

void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    JpegContext& ctx = Ctx(cinfo);
    ++ctx.warnings;
    ctx.lastWarning = cinfo->err->msg_code;
    if (DamagesImageData(ctx.lastWarning)) ctx.damaged = true;
}

void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->progressive_mode && d->input_scan_number > kMaxScans) {
        JpegContext& ctx = Ctx(cinfo);
        ctx.errorCode = kScanLimitCode;
        ctx.Abort();
        JumpOut(ctx);
    }
}

// Runs one library call with the jump target set. False when the library raised an error (or a
// callback jumped out); the context then says why.
template <typename Body>
bool Protected(JpegContext& ctx, const Body& body) {
    if (sigsetjmp(ctx.jump, 0) != 0) return false;
    body();
    return true;
}

// The message text for a library message code: the library's table entry with every printf
// argument (and a run of them separated by blanks) shown as "?". The copyright and version
// entries give an empty text, codes outside the table "Corrupted".
std::string MessageText(const jpeg_error_mgr& err, int code) {
    if (code == JMSG_COPYRIGHT || code == JMSG_VERSION) return "";
    if (code < 0 || code > err.last_jpeg_message || !err.jpeg_message_table || !err.jpeg_message_table[code])
        return "Corrupted";
    const char* format = err.jpeg_message_table[code];
    std::string text;
    for (const char* p = format; *p;) {
        const bool hexPrefix = p[0] == '0' && p[1] == 'x' && p[2] == '%' && p[3] != '%';
        if (hexPrefix || (p[0] == '%' && p[1] != '%' && p[1] != '\0')) {
            p += hexPrefix ? 3 : 1;
            while (*p && std::strchr("-+ #0123456789.hlLqjzt", *p)) ++p;
            if (*p) ++p;  // the conversion letter
            if (text.size() >= 2 && text.compare(text.size() - 2, 2, "? ") == 0)
                text.pop_back();  // "? ?" reads as one "?"
            else
                text += '?';
            continue;
        }
        if (p[0] == '%' && p[1] == '%') ++p;
        text += *p++;
    }
    return text;
}

void InstallErrorManager(JpegContext& ctx, jpeg_common_struct& common) {
    common.err = jpeg_std_error(&ctx.err);
    ctx.err.error_exit = ErrorExit;
    ctx.err.emit_message = EmitMessage;
    ctx.err.output_message = OutputMessage;
    common.client_data = &ctx;
}

// ---------------------------------------------------------------------------------------------
// Source manager over a TStream.

void InitSource(j_decompress_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    ctx.startOfFile = true;
    ctx.fakeEoi = false;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    int64_t n = 0;
    try {
        n = ctx.input->Read(ctx.inBuffer.data(), static_cast<int64_t>(kBufferSize));
    } catch (...) {
        n = 0;  // a stream that cannot be read ends the data like its end does
    }
    ctx.fakeEoi = n <= 0;
    if (ctx.fakeEoi) {
        if (ctx.startOfFile) ctx.Abort();
        // Supply an EOI marker so that the library ends cleanly; the data was cut short (the
        // warning marks the load as failed once every row is out).
        WARNMS(cinfo, JWRN_JPEG_EOF);
        ctx.inBuffer[0] = 0xFF;
        ctx.inBuffer[1] = JPEG_EOI;
        n = 2;
    }
    cinfo->src->next_input_byte = ctx.inBuffer.data();
    cinfo->src->bytes_in_buffer = static_cast<size_t>(n);
    ctx.startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& src = *cinfo->src;
    auto remaining = static_cast<size_t>(count);
    while (remaining > src.bytes_in_buffer) {
        remaining -= src.bytes_in_buffer;
        FillInputBuffer(cinfo);
        // At the end of the data the supplied EOI stays in the buffer.
        if (Ctx(cinfo).fakeEoi) return;
    }
    src.next_input_byte += remaining;
    src.bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

void AttachSource(JpegContext& ctx, jpeg_decompress_struct& cinfo, TStream& stream) {
    if (ctx.inBuffer.empty()) ctx.inBuffer.resize(kBufferSize);
    ctx.input = &stream;
    ctx.source.init_source = InitSource;
    ctx.source.fill_input_buffer = FillInputBuffer;
    ctx.source.skip_input_data = SkipInputData;
    ctx.source.resync_to_restart = jpeg_resync_to_restart;
    ctx.source.term_source = TermSource;
    ctx.source.next_input_byte = nullptr;
    ctx.source.bytes_in_buffer = 0;
    cinfo.src = &ctx.source;
}

// ---------------------------------------------------------------------------------------------
// Destination manager over a TStream.

// Writes count bytes of the buffer; a short write sets the abort flag, an exception of the
// stream ends the library call (and is raised again by the caller).
void WriteOut(j_compress_ptr cinfo, size_t count) {
    JpegContext& ctx = Ctx(cinfo);
    bool raised = false;
    try {
        const int64_t n = ctx.output->Write(ctx.outBuffer.data(), static_cast<int64_t>(count));
        if (n < static_cast<int64_t>(count)) ctx.Abort();
    } catch (...) {
        ctx.pending = std::current_exception();
        raised = true;
    }
    if (raised) {
        ctx.Abort();
        JumpOut(ctx);
    }
}

void InitDestination(j_compress_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    ctx.destination.next_output_byte = ctx.outBuffer.data();
    ctx.destination.free_in_buffer = ctx.outBuffer.size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    WriteOut(cinfo, ctx.outBuffer.size());
    ctx.destination.next_output_byte = ctx.outBuffer.data();
    ctx.destination.free_in_buffer = ctx.outBuffer.size();
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    JpegContext& ctx = Ctx(cinfo);
    const size_t used = ctx.outBuffer.size() - ctx.destination.free_in_buffer;
    if (used > 0) WriteOut(cinfo, used);
}

// ---------------------------------------------------------------------------------------------
// The library objects, destroyed on every way out.

struct Compressor {
    jpeg_compress_struct cinfo{};
    bool created = false;
    ~Compressor() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    bool created = false;
    ~Decompressor() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// Reports progress when the integer percentage changes.
class PercentReporter {
public:
    PercentReporter(ProgressRecord& progress, int32_t total) : progress_(progress), total_(std::max(total, 1)) {}
    void RowDone(int32_t rows) {
        progress_.UnitsDone = rows;
        const auto percent = static_cast<int32_t>(int64_t{rows} * 100 / total_);
        if (percent != last_) {
            last_ = percent;
            progress_.Notify(percent);
        }
    }

private:
    ProgressRecord& progress_;
    int32_t total_;
    int32_t last_ = -1;
};

bool StartsWith(const std::vector<uint8_t>& data, const char* prefix, size_t length) {
    return data.size() >= length && std::memcmp(data.data(), prefix, length) == 0;
}

constexpr char kIccSignature[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
constexpr char kExifSignature[] = "Exif\0";      // "Exif" and two zero bytes: 6 bytes
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // and a zero byte: 29 bytes

bool IsIccChunk(const TIEMarker& m) { return m.Code == JPEG_APP0 + 2 && StartsWith(m.Data, kIccSignature, 12) && m.Data.size() >= 14; }
bool IsExif(const TIEMarker& m) { return m.Code == JPEG_APP0 + 1 && StartsWith(m.Data, kExifSignature, 6); }

// The markers in writing order: by code; ICC profile chunks by their sequence number; an Exif
// APP1 before the other APP1 markers. Markers of the same rank keep their order.
std::vector<const TIEMarker*> MarkersInWritingOrder(const TIEMarkerList& list) {
    std::vector<const TIEMarker*> sorted;
    for (const TIEMarker& m : list.Items()) sorted.push_back(&m);
    auto rank = [](const TIEMarker* m) {
        int sub = 0;
        if (IsIccChunk(*m)) sub = 1 + m->Data[12];
        if (m->Code == JPEG_APP0 + 1) sub = IsExif(*m) ? 0 : 1;
        return (m->Code << 9) | sub;
    };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const TIEMarker* a, const TIEMarker* b) { return rank(a) < rank(b); });
    return sorted;
}

J_COLOR_SPACE JpegColorSpaceOf(uint8_t model) {
    switch (model) {
        case 0: return JCS_RGB;
        case 1: return JCS_GRAYSCALE;
        case 3: return JCS_CMYK;
        case 4: return JCS_YCCK;
        default: return JCS_YCbCr;
    }
}

J_DCT_METHOD DctMethodOf(uint8_t kind) {
    switch (kind) {
        case 1: return JDCT_IFAST;
        case 2: return JDCT_FLOAT;
        default: return JDCT_ISLOW;
    }
}

// ---------------------------------------------------------------------------------------------
// Metadata of the saved markers.

// Reads what the loader uses from an Exif block: the first IFD's resolution, unit, orientation
// and text fields. A malformed block fills what can be read.
void ParseExifBasics(const TIEMarker& marker, TIOParamsVals& params) {
    if (marker.Data.size() < 6 + 8) return;
    TIEMemoryReadStream tiff(marker.Data.data() + 6, static_cast<int64_t>(marker.Data.size() - 6));
    TIETiffHeader header;
    if (!ReadTiffHeader(tiff, 0, header)) return;
    TIETiffIfd ifd;
    if (!ifd.Read(tiff, 0, header.FirstIfdOffset, header.LittleEndian)) return;
    TIEExifBlock& exif = params.Exif;
    exif.HasExif = true;
    const int64_t orientation = ifd.Value(tiff, 0x0112, 1);
    exif.Orientation = orientation >= 1 && orientation <= 8 ? static_cast<int32_t>(orientation) : 1;
    exif.ExifResolutionX = ifd.Rational(tiff, 0x011A, 0);
    exif.ExifResolutionY = ifd.Rational(tiff, 0x011B, 0);
    exif.ResolutionUnit = static_cast<int32_t>(ifd.Value(tiff, 0x0128, 2));
    exif.ImageDescription = ifd.Text(tiff, 0x010E);
    exif.Make = ifd.Text(tiff, 0x010F);
    exif.Model = ifd.Text(tiff, 0x0110);
    exif.Software = ifd.Text(tiff, 0x0131);
    exif.DateTime = ifd.Text(tiff, 0x0132);
    exif.Artist = ifd.Text(tiff, 0x013B);
    exif.Copyright = ifd.Text(tiff, 0x8298);
}

int32_t RoundedDpi(double value) {
    if (!(value > 0)) return 0;
    return value >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(std::lround(value));
}

// Fills the Exif fields and XmpText from the saved markers; an Exif resolution replaces a JFIF
// resolution of 1 x 1 (a JFIF header that gives only the aspect ratio, or none at all).
void ParseMetadata(TIOParamsVals& params, int32_t jfifDpiX, int32_t jfifDpiY) {
    const auto& markers = params.JpegMarkers.Items();
    for (const TIEMarker& m : markers) {
        if (!IsExif(m)) continue;
        ParseExifBasics(m, params);
        break;
    }
    if (jfifDpiX == 1 && jfifDpiY == 1 && params.Exif.HasExif && params.Exif.ExifResolutionX > 0 &&
        params.Exif.ExifResolutionY > 0) {
        const double factor = params.Exif.ResolutionUnit == 3 ? 2.54 : 1.0;
        params.SetResolutionX(RoundedDpi(params.Exif.ExifResolutionX * factor));
        params.SetResolutionY(RoundedDpi(params.Exif.ExifResolutionY * factor));
    }
    for (const TIEMarker& m : markers) {
        if (m.Code != JPEG_APP0 + 1 || m.Data.size() < 30 || !StartsWith(m.Data, kXmpSignature, sizeof kXmpSignature))
            continue;
        const auto* text = reinterpret_cast<const char*>(m.Data.data() + sizeof kXmpSignature);
        params.XmpText.assign(text, strnlen(text, m.Data.size() - sizeof kXmpSignature));
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Decoding

// What the decoder delivers and where it goes.
struct OutputPlan {
    J_COLOR_SPACE space = JCS_EXT_BGR;
    TIEPixelFormat format = ie24RGB;
    bool cmykToColour = false;  // four-byte rows converted into the ie24RGB row
};

struct DecodeArgs {
    TStream* tables;
    bool nativeFormat, invertCmyk, keepYCbCr, headerOnly;
    int32_t rowLimit, requestedWidth, requestedHeight;
    int64_t available;  // bytes from the start of the image to the end of the stream
};

struct DecodeResult {
    int32_t rows = 0;
    int32_t jfifDpiX = 0, jfifDpiY = 0;  // 0 when the header was not read
};

// Steps 3 to 10 of a load. Raises only what the progress callback raises.
DecodeResult Decode(JpegContext& ctx, TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                    ProgressRecord& progress, const DecodeArgs& a) {
    Decompressor d;
    jpeg_decompress_struct& cinfo = d.cinfo;
    InstallErrorManager(ctx, *reinterpret_cast<jpeg_common_struct*>(&cinfo));
    DecodeResult result;
    if (!Protected(ctx, [&] { jpeg_create_decompress(&cinfo); })) return result;
    d.created = true;
    ctx.monitor.progress_monitor = ProgressMonitor;
    cinfo.progress = &ctx.monitor;

    int32_t& rows = result.rows;
    int32_t& jfifDpiX = result.jfifDpiX;
    int32_t& jfifDpiY = result.jfifDpiY;
    bool allRowsRead = false;
    OutputPlan plan;
    [&] {
        if (a.tables && a.tables != &stream && !a.headerOnly) {
            AttachSource(ctx, cinfo, *a.tables);
            int found = JPEG_HEADER_TABLES_ONLY;
            if (!Protected(ctx, [&] { found = jpeg_read_header(&cinfo, FALSE); })) return;
            // Tables that come with an image of their own: keep the tables, drop that image.
            if (found == JPEG_HEADER_OK && !Protected(ctx, [&] { jpeg_abort_decompress(&cinfo); })) return;
            ctx.damaged = false;
        }
        AttachSource(ctx, cinfo, stream);
        for (int code = JPEG_APP0; code <= JPEG_APP0 + 15; ++code)
            if (!Protected(ctx, [&] { jpeg_save_markers(&cinfo, code, 0xFFFF); })) return;
        if (!Protected(ctx, [&] { jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF); })) return;
        if (!Protected(ctx, [&] { jpeg_read_header(&cinfo, TRUE); })) return;

        // Colour space of the file and what the buffer receives.
        params.ChannelBits = 8;
        switch (cinfo.jpeg_color_space) {
            case JCS_GRAYSCALE:
                params.JpegColorModel = 1, params.ChannelCount = 1;
                if (a.nativeFormat) plan = {JCS_GRAYSCALE, ie8g, false};
                break;
            case JCS_RGB: params.JpegColorModel = 0, params.ChannelCount = 3; break;
            case JCS_YCbCr:
                params.JpegColorModel = 2, params.ChannelCount = 3;
                if (a.keepYCbCr) plan.space = JCS_YCbCr;
                break;
            case JCS_CMYK:
            case JCS_YCCK:
                params.JpegColorModel = cinfo.jpeg_color_space == JCS_CMYK ? 3 : 4;
                params.ChannelCount = 4;
                plan = a.nativeFormat ? OutputPlan{JCS_CMYK, ieCMYK, false} : OutputPlan{JCS_CMYK, ie24RGB, true};
                break;
            default:
                // Component counts other than 1, 3 and 4 have no colour interpretation.
                ctx.Abort();
                return;
        }
        cinfo.out_color_space = plan.space;
        cinfo.dct_method = DctMethodOf(params.JpegDctKind);

        // Resolution from the JFIF density.
        const bool perCentimetre = cinfo.density_unit == 2;
        jfifDpiX = perCentimetre ? RoundedDpi(cinfo.X_density * 2.54) : cinfo.X_density;
        jfifDpiY = perCentimetre ? RoundedDpi(cinfo.Y_density * 2.54) : cinfo.Y_density;
        params.SetResolutionX(jfifDpiX);
        params.SetResolutionY(jfifDpiY);

        // Size and scale.
        const auto fullW = static_cast<int32_t>(std::min<JDIMENSION>(cinfo.image_width, INT32_MAX));
        const auto fullH = static_cast<int32_t>(std::min<JDIMENSION>(cinfo.image_height, INT32_MAX));
        params.JpegProgressiveScan = cinfo.progressive_mode != 0;
        params.StoredWidth = fullW;
        params.StoredHeight = fullH;
        int32_t denominator = 1;
        switch (params.JpegScaleChoice) {
            case 0:
                if (a.requestedWidth > 0 && a.requestedHeight > 0) {
                    for (int n = 3; n > 0; --n) {
                        if (fullW >> n >= a.requestedWidth && fullH >> n >= a.requestedHeight) {
                            denominator = 1 << n;
                            break;
                        }
                    }
                }
                break;
            case 2: denominator = 2; break;
            case 3: denominator = 4; break;
            case 4: denominator = 8; break;
            default: break;
        }
        cinfo.scale_num = 1;
        cinfo.scale_denom = static_cast<unsigned int>(denominator);
        params.JpegScaleUsed = denominator;

        if (a.headerOnly) {
            params.PixelWidth = fullW;
            params.PixelHeight = fullH;
            return;
        }

        // Validate, then allocate: a header whose size the stream cannot possibly hold (every
        // 8 x 8 block costs at least one bit) is refused beyond the truncated-file allowance.
        if (!Protected(ctx, [&] { jpeg_calc_output_dimensions(&cinfo); })) return;
        const int64_t blocks = ((int64_t{fullW} + 7) / 8) * ((int64_t{fullH} + 7) / 8);
        const auto outW = static_cast<int32_t>(cinfo.output_width), outH = static_cast<int32_t>(cinfo.output_height);
        if (!IEBodyAllocationAllowed(fullW, fullH, blocks / 8, a.available) || !IERowLengthFits(outW, plan.format)) {
            ctx.Abort();
            return;
        }
        if (!Protected(ctx, [&] { jpeg_start_decompress(&cinfo); })) return;
        params.PixelWidth = outW;
        params.PixelHeight = outH;
        if (!bitmap.Allocate(outW, outH, plan.format)) {
            ctx.Abort();
            return;
        }

        const int32_t limit = a.rowLimit < 0 ? outH : std::min(a.rowLimit, outH);
        std::vector<uint8_t> scratch(plan.cmykToColour ? static_cast<size_t>(outW) * 4 : 0);
        PercentReporter reporter(progress, outH);
        // The loop stops on a library error or when the caller cancels; damaged or cut data
        // still delivers every row (the missing part decodes as gray), like other decoders do.
        while (rows < limit && !*ctx.cancel) {
            uint8_t* target = bitmap.RowAddress(rows);
            if (!target) break;
            JSAMPROW row = plan.cmykToColour ? scratch.data() : target;
            JDIMENSION got = 0;
            if (!Protected(ctx, [&] { got = jpeg_read_scanlines(&cinfo, &row, 1); })) break;
            if (got != 1) break;
            if (plan.cmykToColour) {
                if (a.invertCmyk)
                    for (uint8_t& v : scratch) v = static_cast<uint8_t>(255 - v);
                CmykRowToBgr(scratch.data(), target, outW);
            }
            ++rows;
            reporter.RowDone(rows);
        }
        if (rows < limit) ctx.Abort();
        allRowsRead = rows == outH;
    }();

    // Always: the saved markers in file order, without the JFIF header.
    params.JpegMarkers.Clear();
    bool jfifSkipped = false;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (!jfifSkipped && m->marker == JPEG_APP0 && m->data_length >= 5 && std::memcmp(m->data, "JFIF", 5) == 0) {
            jfifSkipped = true;
            continue;
        }
        params.JpegMarkers.Add(static_cast<uint8_t>(m->marker), m->data, m->data_length);
    }
    if (allRowsRead && !*ctx.cancel && !ctx.damaged) {
        // Reads up to the EOI; an error there does not undo the image.
        if (!Protected(ctx, [&] { jpeg_finish_decompress(&cinfo); })) *ctx.cancel = 0;
    }
    if (ctx.damaged) ctx.Abort();
    // Leave the stream right after the data the library consumed.
    if (!ctx.fakeEoi && ctx.input == &stream && ctx.source.bytes_in_buffer > 0) {
        try {
            stream.Seek(-static_cast<int64_t>(ctx.source.bytes_in_buffer), soCurrent);
        } catch (...) {
        }
    }
    if (ctx.warnings > 0) {
        params.JpegWarningCount = ctx.warnings;
        params.JpegLastWarningCode = ctx.lastWarning;
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Saving

void SaveJpegToStream(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress) {
    uint8_t localCancel = 0;
    uint8_t* cancel = progress.CancelFlag ? progress.CancelFlag : &localCancel;
    const int32_t w = bitmap.Width(), h = bitmap.Height();
    if (w <= 0 || h <= 0 || bitmap.IsEmpty()) {
        *cancel = 1;
        return;
    }
    // Other pixel formats are coded from a blue, green, red copy.
    TIEBitmap copy;
    TIEBitmap* source = &bitmap;
    if (bitmap.Format() != ie24RGB) {
        copy.MemoryThreshold = bitmap.MemoryThreshold;
        if (!copy.Allocate(w, h, ie24RGB)) {
            *cancel = 1;
            return;
        }
        copy.ConvertedCopyFrom(bitmap);
        source = &copy;
    }

    JpegContext ctx(cancel);
    ctx.outBuffer.resize(kBufferSize);
    ctx.output = &output;
    Compressor c;
    jpeg_compress_struct& cinfo = c.cinfo;
    InstallErrorManager(ctx, *reinterpret_cast<jpeg_common_struct*>(&cinfo));

    const J_COLOR_SPACE space = JpegColorSpaceOf(params.JpegColorModel);
    const bool fourComponents = space == JCS_CMYK || space == JCS_YCCK;
    std::vector<uint8_t> cmykRow(fourComponents ? static_cast<size_t>(w) * 4 : 0);
    const std::vector<const TIEMarker*> markers = MarkersInWritingOrder(params.JpegMarkers);

    const bool done = Protected(ctx, [&] {
        jpeg_create_compress(&cinfo);
        c.created = true;
    }) && [&] {
        ctx.destination.init_destination = InitDestination;
        ctx.destination.empty_output_buffer = EmptyOutputBuffer;
        ctx.destination.term_destination = TermDestination;
        cinfo.dest = &ctx.destination;
        if (*cancel) return true;

        return Protected(ctx, [&] {
            cinfo.image_width = static_cast<JDIMENSION>(w);
            cinfo.image_height = static_cast<JDIMENSION>(h);
            cinfo.input_components = fourComponents ? 4 : 3;
            cinfo.in_color_space = fourComponents ? JCS_CMYK : JCS_EXT_BGR;
            jpeg_set_defaults(&cinfo);
            jpeg_set_colorspace(&cinfo, space);
            cinfo.density_unit = 1;
            const int32_t dpiX = params.ResolutionX != 0 ? params.ResolutionX : IEDefaultDPI;
            const int32_t dpiY = params.ResolutionY != 0 ? params.ResolutionY : IEDefaultDPI;
            cinfo.X_density = static_cast<UINT16>(std::clamp(dpiX, 1, 65535));
            cinfo.Y_density = static_cast<UINT16>(std::clamp(dpiY, 1, 65535));
            cinfo.dct_method = DctMethodOf(params.JpegDctKind);
            cinfo.optimize_coding = params.JpegOptimizeTables ? TRUE : FALSE;
            cinfo.smoothing_factor = std::clamp(params.JpegSmoothingFactor, 0, 100);
            jpeg_set_quality(&cinfo, std::clamp(params.JpegQualityLevel, 1, 100), TRUE);
            if (space == JCS_YCbCr) {
                static constexpr int kLuma[3][2] = {{2, 1}, {2, 2}, {1, 1}};
                const int pick = params.JpegChromaSampling <= 2 ? params.JpegChromaSampling : 1;
                cinfo.comp_info[0].h_samp_factor = kLuma[pick][0];
                cinfo.comp_info[0].v_samp_factor = kLuma[pick][1];
                for (int i = 1; i < 3; ++i) cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
            }
            if (space == JCS_CMYK) cinfo.write_JFIF_header = TRUE;  // besides the Adobe marker
            if (params.JpegProgressiveScan) jpeg_simple_progression(&cinfo);
            jpeg_start_compress(&cinfo, TRUE);
            for (const TIEMarker* m : markers) {
                // The library writes its own Adobe marker; codes other than APPn and COM would
                // be read as part of the image's own structure, so they are not written.
                const bool appOrComment = (m->Code >= JPEG_APP0 && m->Code <= JPEG_APP0 + 15) || m->Code == JPEG_COM;
                if (!appOrComment || m->Code == JPEG_APP0 + 14) continue;
                const auto length = static_cast<unsigned int>(std::min(m->Data.size(), kMaxMarkerPayload));
                jpeg_write_marker(&cinfo, m->Code, m->Data.data(), length);
            }
        }) && [&] {
            PercentReporter reporter(progress, h);
            for (int32_t y = 0; y < h && !*cancel; ++y) {
                uint8_t* pixels = source->RowAddress(y);
                if (!pixels) {
                    *cancel = 1;
                    break;
                }
                JSAMPROW row = pixels;
                if (fourComponents) {
                    BgrRowToCmyk(pixels, cmykRow.data(), w);
                    row = cmykRow.data();
                }
                if (!Protected(ctx, [&] { jpeg_write_scanlines(&cinfo, &row, 1); })) return false;
                reporter.RowDone(y + 1);
            }
            if (*cancel) return true;
            return Protected(ctx, [&] { jpeg_finish_compress(&cinfo); });
        }();
    }();
    if (done) return;
    if (ctx.pending) std::rethrow_exception(ctx.pending);
    *cancel = 1;
    if (ctx.errorCode == JERR_TOO_LITTLE_DATA) return;
    throw EIEJpegException(MessageText(ctx.err, ctx.errorCode));
}

uint8_t JpegPageColorModel(uint8_t model) { return model == 3 || model == 4 ? 2 : model; }

void SaveJpegPage(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params, ProgressRecord& progress) {
    const uint8_t model = params.JpegColorModel;
    params.JpegColorModel = JpegPageColorModel(model);
    try {
        SaveJpegToStream(output, bitmap, params, progress);
    } catch (...) {
        params.JpegColorModel = model;
        throw;
    }
    params.JpegColorModel = model;
}

// ---------------------------------------------------------------------------------------------
// Loading

int32_t LoadJpegFromStream(TStream& stream, TStream* tablesStream, TIEBitmap& bitmap, bool nativeFormat,
                           int32_t rowLimit, bool readIcc, bool applyIcc, bool invertCmyk, bool parseMetadata,
                           bool keepYCbCr, bool headerOnly, ProgressRecord& progress, TIOParamsVals& params,
                           int32_t requestedWidth, int32_t requestedHeight) {
    uint8_t localCancel = 0;
    uint8_t* cancel = progress.CancelFlag ? progress.CancelFlag : &localCancel;
    params.JpegWarningCount = 0;
    params.JpegLastWarningCode = 0;
    // Embedded profiles are read and kept with their APP2 markers, but not applied: the samples
    // stay as the file codes them (as the reference decoders and the document writers use them),
    // and a later colour-management step can still use params.InputICCProfile().
    (void)applyIcc;
    JpegContext ctx(cancel);
    int32_t rows = 0;
    try {
        const int64_t start = FindJpegStart(stream, true);
        if (start < 0) {
            *cancel = 1;
            return 0;
        }
        stream.SetPosition(start);
        if (readIcc) ReadJpegIccProfile(stream, params);
        DecodeArgs args{tablesStream, nativeFormat, invertCmyk, keepYCbCr, headerOnly, rowLimit, requestedWidth,
                        requestedHeight, std::max<int64_t>(0, stream.Size() - start)};
        const DecodeResult result = Decode(ctx, stream, bitmap, params, progress, args);
        rows = result.rows;
        if (parseMetadata) ParseMetadata(params, result.jfifDpiX, result.jfifDpiY);
    } catch (...) {
        // The stream or the progress callback raised: the load ends here, keeping what it has.
        *cancel = 1;
    }
    return rows;
}

// ---------------------------------------------------------------------------------------------
// Stream utilities

int64_t FindJpegStart(TStream& stream, bool scan) {
    const int64_t start = stream.Position();
    uint8_t bytes[152] = {};
    const int64_t got = stream.Read(bytes, scan ? 152 : 3);
    stream.Seek(start, soBeginning);
    const int64_t positions = scan ? 150 : 1;
    for (int64_t q = 0; q < positions && q + 3 <= got; ++q)
        if (bytes[q] == 0xFF && bytes[q + 1] == 0xD8 && bytes[q + 2] == 0xFF) return scan ? start + q : 0;
    return -1;
}

namespace {

// Reads the next marker code after an FF (FF fill bytes are skipped); -1 at the end.
int NextMarkerCode(TIEBufferedReadStream& in) {
    int m = in.ReadByte();
    while (m == 0xFF) m = in.ReadByte();
    return m;
}

int ReadLength(TIEBufferedReadStream& in) {
    const int hi = in.ReadByte();
    const int lo = in.ReadByte();
    return hi < 0 || lo < 0 ? -1 : hi << 8 | lo;
}

bool IsStartOfFrame(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

}  // namespace

void ReadJpegIccProfile(TStream& stream, TIOParamsVals& params) {
    const int64_t start = stream.Position();
    std::vector<std::vector<uint8_t>> chunks;  // index = sequence number - 1
    std::vector<bool> seen;
    int count = 0;
    int collected = 0;
    bool consistent = true;
    {
        TIEBufferedReadStream in(stream, 8192);
        for (;;) {
            int b = in.ReadByte();
            if (b < 0) break;
            if (b != 0xFF) continue;
            const int m = NextMarkerCode(in);
            if (m < 0 || m == 0xD9 || IsStartOfFrame(m)) break;
            if (m <= 0xBF || (m >= 0xD0 && m <= 0xD8)) continue;  // no length
            const int length = ReadLength(in);
            if (length < 2) break;
            if (m != 0xE2) {
                in.Seek(length - 2, soCurrent);
                continue;
            }
            std::vector<uint8_t> payload(static_cast<size_t>(length - 2));
            if (in.Read(payload.data(), static_cast<int64_t>(payload.size())) != static_cast<int64_t>(payload.size()))
                break;
            if (payload.size() < 14 || std::memcmp(payload.data(), kIccSignature, 12) != 0) continue;
            const int sequence = payload[12], total = payload[13];
            if (count == 0) {
                count = total;
                chunks.resize(static_cast<size_t>(count));
                seen.resize(static_cast<size_t>(count));
            }
            const auto index = static_cast<size_t>(sequence - 1);
            if (total != count || sequence < 1 || sequence > count || seen[index]) {
                consistent = false;
                break;
            }
            seen[index] = true;
            chunks[index].assign(payload.begin() + 14, payload.end());
            if (++collected == count) break;
        }
    }
    stream.Seek(start, soBeginning);
    if (!consistent || count == 0 || collected != count) return;
    std::vector<uint8_t> profile;
    for (const auto& chunk : chunks) profile.insert(profile.end(), chunk.begin(), chunk.end());
    params.InputICCProfile()->Raw = std::move(profile);
}

int64_t JpegStreamLength(TStream& stream) {
    const int64_t start = stream.Position();
    int64_t end = start;
    {
        TIEBufferedReadStream in(stream, 8192);
        for (;;) {
            const int b = in.ReadByte();
            if (b < 0) break;
            if (b != 0xFF) continue;
            const int m = NextMarkerCode(in);
            if (m < 0 || m == 0xD9) break;
            if ((m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xFE)) {
                const int length = ReadLength(in);
                if (length < 0) break;
                if (length > 2) in.Seek(length - 2, soCurrent);
            }
        }
        end = std::min(in.Position(), in.Size());
    }
    stream.Seek(start, soBeginning);
    return end - start;
}

void ReadJpeg(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, ProgressRecord& progress) {
    LoadJpegFromStream(stream, nullptr, bitmap, params.NativePixelFormat, -1, /*readIcc*/ true, /*applyIcc*/ true,
                       /*invertCmyk*/ false, /*parseMetadata*/ true, /*keepYCbCr*/ false, paramsOnly, progress, params);
}

}  // namespace quirelle
