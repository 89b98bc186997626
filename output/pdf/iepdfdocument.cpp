#include "output/pdf/iepdfdocument.h"

#include <charconv>

#include "platform/ieexception.h"

namespace quirelle {

namespace {

std::string IntegerText(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The largest offset a cross-reference entry's 10 digits can hold.
constexpr int64_t kMaxXrefOffset = 9999999999;

}  // namespace

void WriteLineLf(TStream& stream, std::string_view text) {
    std::string line(text);
    line += '\n';
    stream.WriteString(line);
}

void WriteRaw(TStream& stream, std::string_view text) {
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

std::string LeftPadded(std::string text, size_t width, char character) {
    if (text.size() < width) text.insert(0, width - text.size(), character);
    return text;
}

void AddIndirect(TIEPDFObjectList& list, TIEPDFObject& object) {
    list.push_back(&object);
    object.ObjectNumber = static_cast<int32_t>(list.size());
}

std::unique_ptr<TIEPDFDictionaryObject> CreateCatalog(TIEPDFObjectList& list) {
    auto catalog = std::make_unique<TIEPDFDictionaryObject>();
    catalog->Add("Type", std::make_unique<TIEPDFNameObject>("Catalog"));
    AddIndirect(list, *catalog);
    return catalog;
}

TIEPDFDictionaryObject& CreatePage(TIEPDFObjectList& list, TIEPDFPageList& pages,
                                   const TIEPDFDictionaryObject* resources, int32_t contentsNumber,
                                   std::unique_ptr<TIEPDFArrayObject> mediaBox) {
    auto page = std::make_unique<TIEPDFDictionaryObject>();
    page->Add("Type", std::make_unique<TIEPDFNameObject>("Page"));
    if (resources) page->Add("Resources", std::make_unique<TIEPDFRefObject>(resources->ObjectNumber, 0));
    page->Add("MediaBox", std::move(mediaBox));
    page->Add("Contents", std::make_unique<TIEPDFRefObject>(contentsNumber, 0));
    TIEPDFDictionaryObject& result = *page;
    pages.push_back(std::move(page));
    AddIndirect(list, result);
    return result;
}

std::unique_ptr<TIEPDFDictionaryObject> CreatePagesTree(TIEPDFObjectList& list, const TIEPDFPageList& pages) {
    auto tree = std::make_unique<TIEPDFDictionaryObject>();
    AddIndirect(list, *tree);
    tree->Add("Type", std::make_unique<TIEPDFNameObject>("Pages"));
    auto kids = std::make_unique<TIEPDFArrayObject>();
    for (const auto& page : pages) {
        kids->Add(std::make_unique<TIEPDFRefObject>(page->ObjectNumber, 0));
        page->Add("Parent", std::make_unique<TIEPDFRefObject>(tree->ObjectNumber, 0));
    }
    tree->Add("Kids", std::move(kids));
    tree->Add("Count", std::make_unique<TIEPDFNumericObject>(static_cast<double>(pages.size())));
    if (auto* catalog = dynamic_cast<TIEPDFDictionaryObject*>(list.front()))
        catalog->Add("Pages", std::make_unique<TIEPDFRefObject>(tree->ObjectNumber, 0));
    return tree;
}

void WritePdfHeader(TStream& stream) {
    WriteLineLf(stream, "%PDF-1.4");
    WriteLineLf(stream, "%\xC8\xD2\xF0\xFE");
}

void WriteObjects(TStream& stream, const TIEPDFObjectList& list) {
    for (TIEPDFObject* object : list) {
        const int64_t start = stream.Position();
        WriteLineLf(stream, IntegerText(object->ObjectNumber) + " 0 obj");
        object->WriteTo(stream);
        WriteRaw(stream, "\nendobj\n");
        object->FileOffset = start;
    }
}

void WriteXrefAndTrailer(TStream& stream, const TIEPDFObjectList& list, const TIEPDFObject* info) {
    const int64_t xrefStart = stream.Position();
    const std::string size = IntegerText(static_cast<int64_t>(list.size()) + 1);

    // The table is built in memory (20 bytes an entry) and written at once.
    std::string table = "xref\n0 " + size + "\n0000000000 65535 f \n";
    table.reserve(table.size() + 20 * list.size());
    for (const TIEPDFObject* object : list) {
        if (object->FileOffset < 0 || object->FileOffset > kMaxXrefOffset)
            throw EIEException(IEFormat("The offset %lld of PDF object %d does not fit the cross-reference table",
                                        static_cast<long long>(object->FileOffset), object->ObjectNumber));
        table += LeftPadded(IntegerText(object->FileOffset), 10, '0');
        table += " 00000 n \n";
    }
    WriteRaw(stream, table);

    WriteLineLf(stream, "trailer");
    WriteLineLf(stream, "<< /Size " + size);
    WriteLineLf(stream, "/Root 1 0 R");
    if (info) WriteLineLf(stream, "/Info " + IntegerText(info->ObjectNumber) + " 0 R");
    WriteLineLf(stream, ">>");
    WriteLineLf(stream, "startxref");
    WriteLineLf(stream, IntegerText(xrefStart));
    WriteLineLf(stream, "%%EOF");
}

}  // namespace quirelle
