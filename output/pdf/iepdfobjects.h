// The in-memory model of PDF objects that the PDF writer builds a document from. Every object
// knows how to write its own syntax (WriteTo); the document routines that number the objects and
// write the file around them are in output/pdf/iepdfdocument.h. The model only writes PDF, it
// never parses it, and it does not validate what it is given.
//
// Ownership: arrays and dictionaries own the items and values added to them as std::unique_ptr.
// Objects that several containers or the document's lists hold (the Shared ones) are added by
// reference with AddShared/InsertShared and are not freed by the container. Stream objects own
// their dictionary and their data, in memory or spooled to a temporary file that is deleted with
// the object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/iestreams.h"

namespace quirelle {

class TIEPDFObject {
public:
    TIEPDFObject() = default;
    TIEPDFObject(const TIEPDFObject&) = delete;
    TIEPDFObject& operator=(const TIEPDFObject&) = delete;
    virtual ~TIEPDFObject() = default;

    // Writes the object's syntax at the stream's position; first records that position in
    // FileOffset.
    virtual void WriteTo(TStream& stream) = 0;

    // 1-based position in the document's indirect-object list; 0 until registered.
    int32_t ObjectNumber = 0;
    // Where the object was last written. 64-bit, so that documents past 2 GiB get correct offsets.
    int64_t FileOffset = 0;
    // Set on objects that containers hold without owning them.
    bool Shared = false;
};

// An item of an array or the value of a dictionary entry: owned, unless it was added as shared.
class TIEPDFSlot {
public:
    TIEPDFSlot() = default;
    explicit TIEPDFSlot(std::unique_ptr<TIEPDFObject> owned);
    explicit TIEPDFSlot(TIEPDFObject& shared);

    TIEPDFObject* Get() const { return object_; }
    bool Owned() const { return owned_ != nullptr; }

private:
    std::unique_ptr<TIEPDFObject> owned_;
    TIEPDFObject* object_ = nullptr;
};

// An indirect reference: "3 0 R".
class TIEPDFRefObject : public TIEPDFObject {
public:
    TIEPDFRefObject(int32_t targetNumber, int32_t generation);
    void WriteTo(TStream& stream) override;

    int32_t TargetNumber;
    int32_t Generation;
};

// "true" or "false".
class TIEPDFBooleanObject : public TIEPDFObject {
public:
    explicit TIEPDFBooleanObject(bool value);
    void WriteTo(TStream& stream) override;

    bool Value;
};

// A number, written as FormatPdfNumber gives it.
class TIEPDFNumericObject : public TIEPDFObject {
public:
    explicit TIEPDFNumericObject(double value);
    void WriteTo(TStream& stream) override;

    double Value;
};

// A literal string "(...)" of 8-bit bytes, escaped as EscapePdfString does.
class TIEPDFStringObject : public TIEPDFObject {
public:
    explicit TIEPDFStringObject(std::string value);
    void WriteTo(TStream& stream) override;

    std::string Value;
};

// A name "/..."; Value is held without the slash and escaped as EscapePdfName does.
class TIEPDFNameObject : public TIEPDFObject {
public:
    explicit TIEPDFNameObject(std::string value);
    void WriteTo(TStream& stream) override;

    std::string Value;
};

// "[", every item followed by one space, "]": [0 0 595 842 ], and [] when empty.
class TIEPDFArrayObject : public TIEPDFObject {
public:
    TIEPDFArrayObject() = default;
    void WriteTo(TStream& stream) override;

    void Add(std::unique_ptr<TIEPDFObject> item);
    void AddShared(TIEPDFObject& item);  // marks the item Shared; the array does not free it

    int Count() const { return static_cast<int>(items_.size()); }
    TIEPDFObject* Item(int index) const;  // raises EIEException when index is out of range

private:
    std::vector<TIEPDFSlot> items_;
};

// "<< ", then "/key value" and a line feed for every entry, then ">>"; an empty one is "<< >>".
// Entries keep their insertion order. Keys are names given without the slash and written with
// the name escaping, so ordinary keys appear exactly as given and a key with a space or a byte
// above 126 still makes a valid name. Lookup finds the first entry whose key matches without regard
// to letter case. Duplicate keys are not checked.
class TIEPDFDictionaryObject : public TIEPDFObject {
public:
    TIEPDFDictionaryObject() = default;
    void WriteTo(TStream& stream) override;

    void Add(std::string key, std::unique_ptr<TIEPDFObject> value);
    void AddShared(std::string key, TIEPDFObject& value);
    // Inserts before the entry at index (0 .. Count()); raises EIEException outside that range.
    void Insert(int index, std::string key, std::unique_ptr<TIEPDFObject> value);
    void InsertShared(int index, std::string key, TIEPDFObject& value);

    // Index of the first entry with this key (letter case ignored), -1 when there is none.
    int Find(std::string_view key) const;
    // The value of the first entry with this key, null when there is none.
    TIEPDFObject* Value(std::string_view key) const;

    int Count() const { return static_cast<int>(entries_.size()); }
    // Entry access by index; each raises EIEException when index is out of range.
    const std::string& KeyAt(int index) const;
    TIEPDFObject* ValueAt(int index) const;
    // Replaces the value of an entry; the entry keeps its key and position, the old value is
    // freed unless it is shared.
    void ReplaceValueAt(int index, std::unique_ptr<TIEPDFObject> value);

private:
    struct Entry {
        std::string Key;
        TIEPDFSlot Value;
    };
    void InsertEntry(int index, std::string key, TIEPDFSlot value);
    const Entry& EntryAt(int index) const;
    std::vector<Entry> entries_;
};

// A stream: its dictionary (which starts with "Length" 0), then "stream", the data and
// "endstream". The data lives in memory until SpoolToTempFile moves it to a temporary file
// "ietemp-XXXXXXXX.tmp" in the temporary folder, which is deleted with the object.
class TIEPDFStreamObject : public TIEPDFObject {
public:
    TIEPDFStreamObject();
    // Copies the bytes.
    explicit TIEPDFStreamObject(std::span<const uint8_t> data);
    // Takes the bytes without copying them.
    explicit TIEPDFStreamObject(std::vector<uint8_t>&& data);
    ~TIEPDFStreamObject() override;

    // Writes the dictionary with "Length" set to the data length, then the data.
    void WriteTo(TStream& stream) override;

    // Moves the data to a new temporary file and frees the memory block. Raises EIEInOutError when
    // no temporary file can be created, or the file's error when the data cannot be written; the
    // data then stays in memory and no file is left behind.
    void SpoolToTempFile();

    TIEPDFDictionaryObject& Dictionary() { return *dictionary_; }
    const TIEPDFDictionaryObject& Dictionary() const { return *dictionary_; }
    int64_t Length() const { return length_; }
    // The data while it is in memory (empty once spooled).
    std::span<const uint8_t> Data() const { return data_; }
    bool Spooled() const { return spool_ != nullptr; }
    // The spool file's name; empty while the data is in memory.
    std::filesystem::path SpoolFileName() const;

private:
    std::vector<uint8_t> data_;
    int64_t length_ = 0;
    std::unique_ptr<TIEPDFDictionaryObject> dictionary_;
    // The spooled data: a closed file, so that a document of many pages holds no file handles.
    std::unique_ptr<TIEClosedTemporaryFile> spool_;
};

// The text of a number: general format with at most 15 significant digits, no trailing zeros, a
// decimal point only when there is a fraction, and scientific notation ("1E15", "1.5E-6") only for
// magnitudes of 1E15 or more or below 0.00001. Always "." as the decimal separator, whatever the
// locale. Raises EIEException for infinities and NaN, which PDF cannot express.
std::string FormatPdfNumber(double value);

// The escaped body of a literal string: backspace, tab, line feed, form feed and carriage return
// become \b \t \n \f \r; "(", ")" and "\" get a backslash in front; every other byte is unchanged.
std::string EscapePdfString(std::string_view value);

// The escaped body of a name: every byte outside "!" .. "~" becomes "#" and two upper-case hex
// digits; every byte inside that range is unchanged.
std::string EscapePdfName(std::string_view value);

}  // namespace quirelle
