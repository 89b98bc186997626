#include "output/pdf/iepdfobjects.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "platform/ieexception.h"

namespace quirelle {

namespace {

[[noreturn]] void RaiseIndex(int index) { throw EIEException(IEFormat("List index out of bounds (%d)", index)); }

std::string IntegerText(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Text of numbers, strings and names

std::string FormatPdfNumber(double value) {
    if (!std::isfinite(value)) throw EIEException("A PDF number must be finite");
    if (value == 0) return "0";  // also for -0

    // Round to 15 significant digits: "[-]d.ddddddddddddddde[+-]xx" (to_chars ignores the locale).
    char buffer[48];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    const bool negative = text.front() == '-';
    const size_t mark = text.find('e');
    std::string digits;
    for (char c : text.substr(negative ? 1 : 0, mark - (negative ? 1 : 0)))
        if (c != '.') digits += c;
    int exponent = 0;
    std::string_view exponentText = text.substr(mark + 1);
    if (!exponentText.empty() && exponentText.front() == '+') exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) out += '.' + digits.substr(1);
        out += 'E';
        out += IntegerText(exponent);
    } else if (exponent >= 0) {
        const size_t integerDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, integerDigits);
            out += '.';
            out += digits.substr(integerDigits);
        }
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

std::string EscapePdfString(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (char c : value) {
        switch (c) {
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '(': out += "\\("; break;
            case ')': out += "\\)"; break;
            case '\\': out += "\\\\"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::string EscapePdfName(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte >= 33 && byte <= 126) {
            out += c;
        } else {
            out += '#';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Slots

TIEPDFSlot::TIEPDFSlot(std::unique_ptr<TIEPDFObject> owned) : owned_(std::move(owned)), object_(owned_.get()) {}

TIEPDFSlot::TIEPDFSlot(TIEPDFObject& shared) : object_(&shared) { shared.Shared = true; }

// ---------------------------------------------------------------------------------------------
// Simple objects

TIEPDFRefObject::TIEPDFRefObject(int32_t targetNumber, int32_t generation)
    : TargetNumber(targetNumber), Generation(generation) {}

void TIEPDFRefObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString(IntegerText(TargetNumber) + " " + IntegerText(Generation) + " R");
}

TIEPDFBooleanObject::TIEPDFBooleanObject(bool value) : Value(value) {}

void TIEPDFBooleanObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString(Value ? "true" : "false");
}

TIEPDFNumericObject::TIEPDFNumericObject(double value) : Value(value) {}

void TIEPDFNumericObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString(FormatPdfNumber(Value));
}

TIEPDFStringObject::TIEPDFStringObject(std::string value) : Value(std::move(value)) {}

void TIEPDFStringObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString("(" + EscapePdfString(Value) + ")");
}

TIEPDFNameObject::TIEPDFNameObject(std::string value) : Value(std::move(value)) {}

void TIEPDFNameObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString("/" + EscapePdfName(Value));
}

// ---------------------------------------------------------------------------------------------
// Arrays

void TIEPDFArrayObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString("[");
    for (const TIEPDFSlot& item : items_) {
        item.Get()->WriteTo(stream);
        stream.WriteString(" ");
    }
    stream.WriteString("]");
}

void TIEPDFArrayObject::Add(std::unique_ptr<TIEPDFObject> item) { items_.emplace_back(std::move(item)); }

void TIEPDFArrayObject::AddShared(TIEPDFObject& item) { items_.emplace_back(item); }

TIEPDFObject* TIEPDFArrayObject::Item(int index) const {
    if (index < 0 || index >= Count()) RaiseIndex(index);
    return items_[static_cast<size_t>(index)].Get();
}

// ---------------------------------------------------------------------------------------------
// Dictionaries

void TIEPDFDictionaryObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    stream.WriteString("<< ");
    for (const Entry& entry : entries_) {
        stream.WriteString("/" + EscapePdfName(entry.Key) + " ");
        entry.Value.Get()->WriteTo(stream);
        stream.WriteString("\n");
    }
    stream.WriteString(">>");
}

void TIEPDFDictionaryObject::InsertEntry(int index, std::string key, TIEPDFSlot value) {
    if (index < 0 || index > Count()) RaiseIndex(index);
    entries_.insert(entries_.begin() + index, Entry{std::move(key), std::move(value)});
}

void TIEPDFDictionaryObject::Add(std::string key, std::unique_ptr<TIEPDFObject> value) {
    InsertEntry(Count(), std::move(key), TIEPDFSlot(std::move(value)));
}

void TIEPDFDictionaryObject::AddShared(std::string key, TIEPDFObject& value) {
    InsertEntry(Count(), std::move(key), TIEPDFSlot(value));
}

void TIEPDFDictionaryObject::Insert(int index, std::string key, std::unique_ptr<TIEPDFObject> value) {
    InsertEntry(index, std::move(key), TIEPDFSlot(std::move(value)));
}

void TIEPDFDictionaryObject::InsertShared(int index, std::string key, TIEPDFObject& value) {
    InsertEntry(index, std::move(key), TIEPDFSlot(value));
}

int TIEPDFDictionaryObject::Find(std::string_view key) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (SameKey(entries_[i].Key, key)) return static_cast<int>(i);
    return -1;
}

TIEPDFObject* TIEPDFDictionaryObject::Value(std::string_view key) const {
    const int index = Find(key);
    return index < 0 ? nullptr : ValueAt(index);
}

const TIEPDFDictionaryObject::Entry& TIEPDFDictionaryObject::EntryAt(int index) const {
    if (index < 0 || index >= Count()) RaiseIndex(index);
    return entries_[static_cast<size_t>(index)];
}

const std::string& TIEPDFDictionaryObject::KeyAt(int index) const { return EntryAt(index).Key; }

TIEPDFObject* TIEPDFDictionaryObject::ValueAt(int index) const { return EntryAt(index).Value.Get(); }

void TIEPDFDictionaryObject::ReplaceValueAt(int index, std::unique_ptr<TIEPDFObject> value) {
    EntryAt(index);  // range check
    entries_[static_cast<size_t>(index)].Value = TIEPDFSlot(std::move(value));
}

// ---------------------------------------------------------------------------------------------
// Streams

TIEPDFStreamObject::TIEPDFStreamObject() : dictionary_(std::make_unique<TIEPDFDictionaryObject>()) {
    dictionary_->Add("Length", std::make_unique<TIEPDFNumericObject>(0));
}

TIEPDFStreamObject::TIEPDFStreamObject(std::span<const uint8_t> data) : TIEPDFStreamObject() {
    data_.assign(data.begin(), data.end());
    length_ = static_cast<int64_t>(data_.size());
}

TIEPDFStreamObject::TIEPDFStreamObject(std::vector<uint8_t>&& data) : TIEPDFStreamObject() {
    data_ = std::move(data);
    length_ = static_cast<int64_t>(data_.size());
}

TIEPDFStreamObject::~TIEPDFStreamObject() = default;

std::filesystem::path TIEPDFStreamObject::SpoolFileName() const {
    return spool_ ? spool_->Path() : std::filesystem::path();
}

void TIEPDFStreamObject::SpoolToTempFile() {
    // Until the data is in the file, the file is a local: on any error it is closed and deleted,
    // and the data stays in memory.
    auto spool = std::make_unique<TIETemporaryFileStream>("ietemp");
    spool->WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
    spool_ = spool->CloseAndKeep();
    std::vector<uint8_t>().swap(data_);
}

void TIEPDFStreamObject::WriteTo(TStream& stream) {
    FileOffset = stream.Position();
    const int lengthIndex = dictionary_->Find("Length");
    if (lengthIndex >= 0)
        dictionary_->ReplaceValueAt(lengthIndex, std::make_unique<TIEPDFNumericObject>(static_cast<double>(length_)));
    else
        dictionary_->Add("Length", std::make_unique<TIEPDFNumericObject>(static_cast<double>(length_)));
    dictionary_->WriteTo(stream);
    stream.WriteString("\nstream\n");
    if (spool_) {
        if (length_ > 0) {
            TIEWideFileStream spooled(spool_->Path(), ieOpenRead);
            stream.CopyFrom(spooled, length_);
        }
    } else {
        stream.WriteBuffer(data_.data(), length_);
    }
    stream.WriteString("\nendstream");
}

}  // namespace quirelle
