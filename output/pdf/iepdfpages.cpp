#include "output/pdf/iepdfpages.h"

#include <cstring>
#include <string>

#include "codecs/iepackbits.h"
#include "codecs/jpegfilt.h"
#include "codecs/tifccitt.h"
#include "codecs/tiflzw.h"
#include "image/ieutils.h"
#include "io/ioparams.h"
#include "output/postscript/iepsdoc.h"
#include "platform/ieclock.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

namespace {

std::unique_ptr<TIEPDFNameObject> Name(const char* value) { return std::make_unique<TIEPDFNameObject>(value); }
std::unique_ptr<TIEPDFNumericObject> Number(double value) { return std::make_unique<TIEPDFNumericObject>(value); }

std::string Decimal(int64_t value) { return IntToDecimal(value); }

// Collects the output of the TIFF-flavour LZW encoder hook; the hook of the parameter set is used,
// and the built-in encoder when the set holds none.
class LzwCollector {
public:
    explicit LzwCollector(TIOParamsVals& params)
        : encode_(params.TiffLzwEncoder ? params.TiffLzwEncoder : DefTiffLzwEncoder ? DefTiffLzwEncoder : TiffLzwEncode) {}
    ~LzwCollector() {
        if (state_) {
            try {
                encode_(nullptr, 0, out_, &state_);
            } catch (...) {
            }
        }
    }
    void Add(const uint8_t* bytes, int32_t count) { encode_(bytes, count, out_, &state_); }
    std::vector<uint8_t> Finish() {
        encode_(nullptr, 0, out_, &state_);
        state_ = nullptr;
        return out_.Bytes();
    }

private:
    TTiffLzwEncoderProc encode_;
    TMemoryStream out_;
    void* state_ = nullptr;
};

// The filter an image stream's data went through.
enum class Filter { None, RunLength, Ccitt, Lzw, Dct };

void AddFilterEntries(TIEPDFDictionaryObject& dict, Filter filter, int32_t k, int32_t w, int32_t h) {
    switch (filter) {
        case Filter::None: break;
        case Filter::RunLength: {
            auto names = std::make_unique<TIEPDFArrayObject>();
            names->Add(Name("RunLengthDecode"));
            dict.Add("Filter", std::move(names));
            break;
        }
        case Filter::Ccitt: {
            dict.Add("Filter", Name("CCITTFaxDecode"));
            auto parms = std::make_unique<TIEPDFDictionaryObject>();
            parms->Add("K", Number(k));
            parms->Add("BlackIs1", std::make_unique<TIEPDFBooleanObject>(true));
            parms->Add("Columns", Number(w));
            parms->Add("Rows", Number(h));
            parms->Add("EndOfLine", std::make_unique<TIEPDFBooleanObject>(false));
            parms->Add("Uncompressed", std::make_unique<TIEPDFBooleanObject>(true));
            parms->Add("EncodedByteAlign", std::make_unique<TIEPDFBooleanObject>(false));
            parms->Add("EndOfBlock", std::make_unique<TIEPDFBooleanObject>(false));
            dict.Add("DecodeParms", std::move(parms));
            break;
        }
        case Filter::Lzw: dict.Add("Filter", Name("LZWDecode")); break;
        case Filter::Dct: dict.Add("Filter", Name("DCTDecode")); break;
    }
}

// The 1-bit image stream's data for a coding.
std::vector<uint8_t> BilevelData(TIEBitmap& buffer, uint8_t coding, TIOParamsVals& params, ProgressRecord& progress,
                                 Filter& filter) {
    const int32_t w = buffer.Width(), h = buffer.Height();
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    auto rows = [&] {
        std::vector<uint8_t> block(rowBytes * static_cast<size_t>(h));
        for (int32_t y = 0; y < h; ++y) std::memcpy(block.data() + rowBytes * static_cast<size_t>(y), buffer.RowAddress(y), rowBytes);
        return block;
    };
    switch (coding) {
        case 1: {
            const std::vector<uint8_t> block = rows();
            std::vector<uint8_t> packed(static_cast<size_t>(PackBitsMaxEncodedSize(static_cast<int64_t>(block.size()))));
            packed.resize(static_cast<size_t>(EncodePackBits(block.data(), static_cast<int32_t>(block.size()), packed.data())));
            filter = Filter::RunLength;
            return packed;
        }
        case 2:
        case 3: {
            TMemoryStream fax;
            TCcittEncoderState state;
            const bool g4 = coding == 2;
            for (int32_t y = 0; y < h; ++y) {
                if (g4)
                    CcittEncodeRowG4(buffer.RowAddress(y), w, fax, 1, progress.CancelFlag, state);
                else
                    CcittEncodeRowG3(buffer.RowAddress(y), w, fax, 1, progress.CancelFlag, state);
            }
            if (g4)
                CcittEncodeRowG4(nullptr, w, fax, 1, progress.CancelFlag, state);
            else
                CcittEncodeRowG3(nullptr, w, fax, 1, progress.CancelFlag, state);
            filter = Filter::Ccitt;
            return fax.Bytes();
        }
        case 5: {
            LzwCollector lzw(params);
            for (int32_t y = 0; y < h; ++y) lzw.Add(buffer.RowAddress(y), static_cast<int32_t>(rowBytes));
            filter = Filter::Lzw;
            return lzw.Finish();
        }
        default: return rows();
    }
}

// The colour image stream's data for a coding, as red, green, blue samples.
std::vector<uint8_t> ColourData(TIEBitmap& buffer, uint8_t coding, TIOParamsVals& params, ProgressRecord& progress,
                                Filter& filter) {
    const int32_t w = buffer.Width(), h = buffer.Height();
    const size_t rowBytes = static_cast<size_t>(w) * 3;
    if (coding == 5) {
        LzwCollector lzw(params);
        std::vector<uint8_t> scratch(rowBytes);
        for (int32_t y = 0; y < h; ++y) {
            CopySwapRB(scratch.data(), buffer.RowAddress(y), w);
            lzw.Add(scratch.data(), static_cast<int32_t>(rowBytes));
        }
        filter = Filter::Lzw;
        return lzw.Finish();
    }
    if (coding == 4) {
        // The encoder reports progress and watches the cancel flag itself.
        TMemoryStream jpeg;
        SaveJpegPage(jpeg, buffer, params, progress);
        filter = Filter::Dct;
        return jpeg.Bytes();
    }
    // Every other coding: the rows as red, green, blue samples without a filter.
    std::vector<uint8_t> data(rowBytes * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) CopySwapRB(data.data() + rowBytes * static_cast<size_t>(y), buffer.RowAddress(y), w);
    return data;
}

}  // namespace

std::string PdfCreationDate(std::time_t t) {
    const std::tm tm = IELocalTime(t);
    return IEFormat("D:%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                    tm.tm_sec);
}

std::unique_ptr<PdfDocState> PdfOpenDocument() {
    auto state = std::make_unique<PdfDocState>();
    state->Catalog = CreateCatalog(state->Objects);
    state->Resources = std::make_unique<TIEPDFDictionaryObject>();
    state->Resources->Shared = true;
    auto procSet = std::make_unique<TIEPDFArrayObject>();
    procSet->Add(Name("PDF"));
    procSet->Add(Name("ImageB"));
    state->Resources->Add("ProcSet", std::move(procSet));
    auto xobjects = std::make_unique<TIEPDFDictionaryObject>();
    state->XObjects = xobjects.get();
    state->Resources->Add("XObject", std::move(xobjects));
    AddIndirect(state->Objects, *state->Resources);
    return state;
}

void PdfAppendImagePage(PdfDocState& state, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress) {
    const int32_t w = buffer.Width(), h = buffer.Height();
    if (w <= 0 || h <= 0) throw EIEException("The image has no pixels (width or height 0): no page was added.");
    const bool bilevel = buffer.Format() == ie1g;
    params.ChannelBits = bilevel ? 1 : 8;
    params.ChannelCount = bilevel ? 1 : 3;

    // Codes above 5 name no coding: such pages are written without compression.
    uint8_t coding = params.PdfImageCoding <= 5 ? params.PdfImageCoding : 0;
    if (bilevel && coding == 4) {
        // 1-bit pages have no JPEG form: CCITT G3 2-D instead, for this and later pages.
        params.PdfImageCoding = 3;
        coding = 3;
    }
    Filter filter = Filter::None;
    std::vector<uint8_t> data = bilevel ? BilevelData(buffer, coding, params, progress, filter)
                                        : ColourData(buffer, coding, params, progress, filter);
    auto image = std::make_unique<TIEPDFStreamObject>(std::move(data));
    TIEPDFDictionaryObject& dict = image->Dictionary();
    AddFilterEntries(dict, filter, coding == 2 ? -1 : 1, w, h);
    const bool grayJpeg = filter == Filter::Dct && JpegPageColorModel(params.JpegColorModel) == 1;
    dict.Add("ColorSpace", Name(bilevel || grayJpeg ? "DeviceGray" : "DeviceRGB"));
    dict.Add("BitsPerComponent", Number(bilevel ? 1 : 8));
    dict.Insert(0, "Type", Name("XObject"));
    dict.Insert(1, "Subtype", Name("Image"));
    dict.Add("Width", Number(w));
    dict.Add("Height", Number(h));

    AddIndirect(state.Objects, *image);
    image->SpoolToTempFile();
    state.Images.push_back(std::move(image));
    TIEPDFStreamObject& placed = *state.Images.back();

    int32_t sw = 0, sh = 0;
    FitImageToPage(w, h, params.PdfMediaWidth, params.PdfMediaHeight, sw, sh);
    const std::string n = Decimal(static_cast<int64_t>(state.Images.size()));
    const std::string text = "q\n" + Decimal(sw) + " 0 0 " + Decimal(sh) + " 0 " + Decimal(int64_t{params.PdfMediaHeight} - sh) +
                             " cm\n/lm" + n + " Do\nQ";
    auto contents = std::make_unique<TIEPDFStreamObject>(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    AddIndirect(state.Objects, *contents);
    state.Contents.push_back(std::move(contents));
    state.XObjects->Add("lm" + n, std::make_unique<TIEPDFRefObject>(placed.ObjectNumber, 0));

    auto mediaBox = std::make_unique<TIEPDFArrayObject>();
    mediaBox->Add(Number(0));
    mediaBox->Add(Number(0));
    mediaBox->Add(Number(params.PdfMediaWidth));
    mediaBox->Add(Number(params.PdfMediaHeight));
    CreatePage(state.Objects, state.Pages, state.Resources.get(), state.Contents.back()->ObjectNumber, std::move(mediaBox));
}

void PdfCloseDocument(std::unique_ptr<PdfDocState>& state, TStream& stream, TIOParamsVals& params) {
    if (!state) return;
    // The state, its objects and their temporary files go in every case, also after a write error.
    std::unique_ptr<PdfDocState> doc = std::move(state);
    doc->PagesTree = CreatePagesTree(doc->Objects, doc->Pages);
    doc->Info = std::make_unique<TIEPDFDictionaryObject>();
    const std::pair<const char*, const std::string*> fields[] = {
        {"Title", &params.PdfInfoTitle},     {"Author", &params.PdfInfoAuthor},   {"Subject", &params.PdfInfoSubject},
        {"Keywords", &params.PdfInfoKeywords}, {"Creator", &params.PdfInfoCreator}, {"Producer", &params.PdfInfoProducer}};
    for (const auto& [key, value] : fields)
        if (!value->empty()) doc->Info->Add(key, std::make_unique<TIEPDFStringObject>(*value));
    doc->Info->Add("CreationDate", std::make_unique<TIEPDFStringObject>(PdfCreationDate(IEDocumentTime())));
    AddIndirect(doc->Objects, *doc->Info);
    WritePdfHeader(stream);
    WriteObjects(stream, doc->Objects);
    WriteXrefAndTrailer(stream, doc->Objects, doc->Info.get());
}

void PdfWriteSinglePage(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress) {
    std::unique_ptr<PdfDocState> state = PdfOpenDocument();
    PdfAppendImagePage(*state, buffer, params, progress);
    PdfCloseDocument(state, stream, params);
}

}  // namespace quirelle
