// The PDF image-page writer: each image becomes an image XObject on a page of its own, scaled to
// fit the paper and placed at the top-left corner. The document is built as objects in memory
// (image data spooled to temporary files) and written in one pass when it is closed, with an Info
// dictionary from the parameter set.
#pragma once

#include <memory>
#include <vector>

#include "io/ioprogress.h"
#include "output/pdf/iepdfdocument.h"
#include "output/pdf/iepdfobjects.h"

namespace quirelle {

class TStream;
class TIEBitmap;
class TIOParamsVals;

// An open PDF document. Object numbers: catalog 1, resources 2, then for page k its image 3k,
// its content stream 3k + 1 and its page dictionary 3k + 2; at close the pages tree and the Info
// dictionary.
struct PdfDocState {
    TIEPDFObjectList Objects;
    TIEPDFPageList Pages;
    std::vector<std::unique_ptr<TIEPDFStreamObject>> Images;
    std::vector<std::unique_ptr<TIEPDFStreamObject>> Contents;
    std::unique_ptr<TIEPDFDictionaryObject> Resources;
    std::unique_ptr<TIEPDFDictionaryObject> Catalog;
    std::unique_ptr<TIEPDFDictionaryObject> PagesTree;
    std::unique_ptr<TIEPDFDictionaryObject> Info;
    TIEPDFDictionaryObject* XObjects = nullptr;  // the resources' XObject dictionary
};

std::unique_ptr<PdfDocState> PdfOpenDocument();
// Adds the buffer's image (ie1g or ie24RGB) as the next page. Raises EIEException, adding
// nothing, for an image without pixels.
void PdfAppendImagePage(PdfDocState& state, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress);
// Writes the whole file and releases the state and its temporary files, also when writing fails
// (the error then reaches the caller). Nothing for a null state.
void PdfCloseDocument(std::unique_ptr<PdfDocState>& state, TStream& stream, TIOParamsVals& params);
void PdfWriteSinglePage(TStream& stream, TIEBitmap& buffer, TIOParamsVals& params, ProgressRecord& progress);

// "D:yyyymmddhhmmss" in local time.
std::string PdfCreationDate(std::time_t t);

}  // namespace quirelle
