// The document routines on top of the PDF object model: numbering indirect objects, the catalog,
// page and pages-tree dictionaries, and the serializer that writes a complete PDF 1.4 file in one
// pass: header, every object in list order, the cross-reference table (one subsection starting at
// object 0) and the trailer. The root is always object 1. Syntax lines end with a line feed only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/pdf/iepdfobjects.h"
#include "platform/iestreams.h"

namespace quirelle {

// The indirect-object list of a document: its order is the object numbering and the file order.
// It does not own the objects; whoever keeps the document's other lists does, and those objects
// must outlive every use of this list.
using TIEPDFObjectList = std::vector<TIEPDFObject*>;

// The page dictionaries of a document in page order; owns them.
using TIEPDFPageList = std::vector<std::unique_ptr<TIEPDFDictionaryObject>>;

// Appends the object to the list and sets its ObjectNumber to the new length of the list.
void AddIndirect(TIEPDFObjectList& list, TIEPDFObject& object);

// A dictionary with "Type" /Catalog, registered with AddIndirect.
std::unique_ptr<TIEPDFDictionaryObject> CreateCatalog(TIEPDFObjectList& list);

// A page dictionary with, in this order, "Type" /Page, "Resources" (a reference to the resources
// dictionary, only when one is given), "MediaBox" (the array) and "Contents" (a reference to the
// contents object); registered with AddIndirect and appended to pages, which owns it.
TIEPDFDictionaryObject& CreatePage(TIEPDFObjectList& list, TIEPDFPageList& pages,
                                   const TIEPDFDictionaryObject* resources, int32_t contentsNumber,
                                   std::unique_ptr<TIEPDFArrayObject> mediaBox);

// The pages tree: registered with AddIndirect first, then filled with "Type" /Pages, "Kids" (a
// reference to every page in order; each page gets "Parent" = a reference to the tree as its last
// entry) and "Count". Finally the first object of the list, the catalog, gets "Pages" = a reference
// to the tree.
std::unique_ptr<TIEPDFDictionaryObject> CreatePagesTree(TIEPDFObjectList& list, const TIEPDFPageList& pages);

// "%PDF-1.4", then a comment line holding four bytes above 127 that mark the file as binary.
void WritePdfHeader(TStream& stream);

// Every object of the list in order as "n 0 obj", its syntax and "endobj"; each object's
// FileOffset becomes the offset of its first line.
void WriteObjects(TStream& stream, const TIEPDFObjectList& list);

// The cross-reference table from the objects' FileOffset values, then the trailer with /Size,
// /Root 1 0 R and /Info (a reference to info; the line is left out when info is null), startxref
// and %%EOF. Raises EIEException when an offset does not fit the table's 10 digits.
void WriteXrefAndTrailer(TStream& stream, const TIEPDFObjectList& list, const TIEPDFObject* info);

// Writes the text and a line feed (byte 10).
void WriteLineLf(TStream& stream, std::string_view text);
// Writes the text alone.
void WriteRaw(TStream& stream, std::string_view text);
// Puts the character in front of the text until it is width characters long.
std::string LeftPadded(std::string text, size_t width, char character);

}  // namespace quirelle
