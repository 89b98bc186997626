#include "output/pdf/iepdfobjects.h"

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "platform/iesystem.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::ScratchDir;

std::string Written(TIEPDFObject& object, int64_t startAt = 0) {
    TMemoryStream stream;
    stream.SetSize(startAt);
    stream.SetPosition(startAt);
    object.WriteTo(stream);
    return std::string(stream.Bytes().begin() + startAt, stream.Bytes().end());
}

std::unique_ptr<TIEPDFArrayObject> NumberArray(const std::vector<double>& values) {
    auto array = std::make_unique<TIEPDFArrayObject>();
    for (double v : values) array->Add(std::make_unique<TIEPDFNumericObject>(v));
    return array;
}

// Points the temporary folder at a scratch folder for the test's lifetime.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override { TempDirectoryOverride = scratch_.Path().string(); }
    void TearDown() override {
        TempDirectoryOverride.clear();
        IETemporaryFilesFailForTesting = false;
    }
    std::vector<std::filesystem::path> SpoolFiles() const { return test::FilesMatching(scratch_.Path(), "ietemp-", ".tmp"); }
    ScratchDir scratch_;
};

TEST(PdfObjects, EachKindWritesItsSyntax) {
    auto nestedDictionary = std::make_unique<TIEPDFDictionaryObject>();
    nestedDictionary->Add("K", std::make_unique<TIEPDFNumericObject>(-1));
    nestedDictionary->Add("BlackIs1", std::make_unique<TIEPDFBooleanObject>(true));
    auto mixed = std::make_unique<TIEPDFArrayObject>();
    mixed->Add(std::make_unique<TIEPDFNameObject>("PDF"));
    mixed->Add(std::make_unique<TIEPDFRefObject>(5, 0));
    mixed->Add(std::make_unique<TIEPDFArrayObject>());
    auto lengthOnly = std::make_unique<TIEPDFDictionaryObject>();
    lengthOnly->Add("Length", std::make_unique<TIEPDFNumericObject>(12));

    struct Case {
        const char* what;
        std::unique_ptr<TIEPDFObject> object;
        std::string expected;
    };
    std::vector<Case> cases;
    cases.push_back({"reference", std::make_unique<TIEPDFRefObject>(3, 0), "3 0 R"});
    cases.push_back({"reference with generation", std::make_unique<TIEPDFRefObject>(12, 7), "12 7 R"});
    cases.push_back({"true", std::make_unique<TIEPDFBooleanObject>(true), "true"});
    cases.push_back({"false", std::make_unique<TIEPDFBooleanObject>(false), "false"});
    cases.push_back({"integer", std::make_unique<TIEPDFNumericObject>(595), "595"});
    cases.push_back({"string", std::make_unique<TIEPDFStringObject>("a(b)c\\"), "(a\\(b\\)c\\\\)"});
    cases.push_back({"empty string", std::make_unique<TIEPDFStringObject>(""), "()"});
    cases.push_back({"name", std::make_unique<TIEPDFNameObject>("A B"), "/A#20B"});
    cases.push_back({"empty array", std::make_unique<TIEPDFArrayObject>(), "[]"});
    cases.push_back({"media box", NumberArray({0, 0, 595, 842}), "[0 0 595 842 ]"});
    cases.push_back({"mixed array", std::move(mixed), "[/PDF 5 0 R [] ]"});
    cases.push_back({"empty dictionary", std::make_unique<TIEPDFDictionaryObject>(), "<< >>"});
    cases.push_back({"one entry", std::move(lengthOnly), "<< /Length 12\n>>"});
    cases.push_back({"two entries", std::move(nestedDictionary), "<< /K -1\n/BlackIs1 true\n>>"});
    for (auto& c : cases) EXPECT_EQ(Written(*c.object), c.expected) << c.what;
}

TEST(PdfObjects, WriteToRecordsThePositionInFileOffset) {
    TIEPDFNameObject name("Catalog");
    EXPECT_EQ(Written(name, 4321), "/Catalog");
    EXPECT_EQ(name.FileOffset, 4321);
    TIEPDFStreamObject stream;
    Written(stream, 77);
    EXPECT_EQ(stream.FileOffset, 77);
}

TEST(PdfNumbers, GeneralFormatWithFifteenSignificantDigits) {
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {595, "595"},
        {-1, "-1"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {72.125, "72.125"},
        {100, "100"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {0.1 + 0.2, "0.3"},                  // the binary noise is below 15 digits
        {2147483648.0, "2147483648"},        // beyond 32 bits
        {9999999999.0, "9999999999"},
        {123456789012345, "123456789012345"},
        {999999999999999, "999999999999999"},  // the largest that stays plain
        {1e15, "1E15"},
        {-1.5e15, "-1.5E15"},
        {1234567890123456789.0, "1.23456789012346E18"},
        {9999999999999999.0, "1E16"},        // rounding carries into the exponent
        {1e300, "1E300"},
        {0.001, "0.001"},
        {0.00001, "0.00001"},               // the smallest that stays plain
        {-0.0000123, "-0.0000123"},
        {0.000009, "9E-6"},
        {1.5e-7, "1.5E-7"},
        {1e-300, "1E-300"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatPdfNumber(c.value), c.expected) << c.value;
        TIEPDFNumericObject number(c.value);
        EXPECT_EQ(Written(number), c.expected);
    }
}

TEST(PdfNumbers, RandomValuesKeepFifteenDigitsInTheRightNotation) {
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    for (int i = 0; i < 20000; ++i) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        const std::string text = FormatPdfNumber(value);
        double parsed = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
        ASSERT_EQ(result.ptr, text.data() + text.size()) << text;
        ASSERT_LE(std::fabs(parsed - value), std::fabs(value) * 6e-15) << text;
        const std::string digits = text.substr(0, text.find('E'));
        std::string significant;
        for (char c : digits)
            if (std::isdigit(static_cast<unsigned char>(c))) significant += c;
        significant.erase(0, significant.find_first_not_of('0'));
        ASSERT_LE(significant.size(), 15u) << text;
        const double magnitude = std::fabs(parsed);
        ASSERT_EQ(text.find('E') != std::string::npos, magnitude >= 1e15 || magnitude < 0.00001) << text;
        if (text.find('.') != std::string::npos) {
            ASSERT_NE(digits.back(), '0') << text;  // no trailing zeros
        }
    }
}

TEST(PdfNumbers, NonFiniteValuesAreRefused) {
    for (double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(FormatPdfNumber(v), EIEException);
        TIEPDFNumericObject number(v);
        EXPECT_THROW(Written(number), EIEException);
    }
}

// A C library locale whose decimal separator is a comma: de_DE.UTF-8 if the system has it, else one
// compiled into a scratch folder with localedef (found through LOCPATH). Empty when neither works.
std::string UseCommaLocale(const ScratchDir& scratch) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return "de_DE.UTF-8";
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (scratch / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "";
    setenv("LOCPATH", scratch.Path().c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") ? "de_DE.UTF-8" : "";
}

struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

TEST(PdfNumbers, TheDecimalSeparatorIsAPointWhateverTheLocale) {
    ScratchDir scratch;
    const std::string name = UseCommaLocale(scratch);
    if (name.empty()) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    EXPECT_EQ(FormatPdfNumber(0.5), "0.5");
    EXPECT_EQ(FormatPdfNumber(-1234.75), "-1234.75");
    EXPECT_EQ(FormatPdfNumber(1.5e-7), "1.5E-7");
    EXPECT_EQ(FormatPdfNumber(595), "595");
    auto box = NumberArray({0, 0.5, 595.25, 842});
    EXPECT_EQ(Written(*box), "[0 0.5 595.25 842 ]");

    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
}

TEST(PdfStrings, EscapingTable) {
    const struct {
        std::string value;
        std::string expected;
    } cases[] = {
        {"plain text", "plain text"},
        {"a(b)c\\", "a\\(b\\)c\\\\"},
        {"((nested))", "\\(\\(nested\\)\\)"},
        {"\\\\", "\\\\\\\\"},
        {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},  // other control bytes stay raw
        {"\x01\x07\x0B\x1B\x7F", "\x01\x07\x0B\x1B\x7F"},
        {"caf\xE9 \xC8\xFF", "caf\xE9 \xC8\xFF"},                   // bytes above 127 unchanged
        {"D:20261209134502", "D:20261209134502"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapePdfString(c.value), c.expected);
        TIEPDFStringObject object(c.value);
        EXPECT_EQ(Written(object), "(" + c.expected + ")");
    }
}

TEST(PdfNames, EscapingTable) {
    const struct {
        std::string value;
        std::string expected;
    } cases[] = {
        {"PDF", "PDF"},
        {"A B", "A#20B"},
        {"", ""},
        {"#", "#"},                              // inside "!" .. "~": unchanged
        {"a/b(c)<d>[e]{f}%g", "a/b(c)<d>[e]{f}%g"},  // delimiters too
        {"!~", "!~"},
        {std::string("\0\x1F\x7F", 3), "#00#1F#7F"},
        {"\x80\xC8\xFF", "#80#C8#FF"},
        {"lm 1\t", "lm#201#09"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapePdfName(c.value), c.expected);
        TIEPDFNameObject object(c.value);
        EXPECT_EQ(Written(object), "/" + c.expected);
    }
}

TEST(PdfDictionary, InsertionOrderCaseInsensitiveLookupAndInsertion) {
    TIEPDFDictionaryObject dict;
    dict.Add("Length", std::make_unique<TIEPDFNumericObject>(0));
    dict.Add("ColorSpace", std::make_unique<TIEPDFNameObject>("DeviceGray"));
    dict.Add("Width", std::make_unique<TIEPDFNumericObject>(16));
    dict.Insert(0, "Type", std::make_unique<TIEPDFNameObject>("XObject"));
    dict.Insert(1, "Subtype", std::make_unique<TIEPDFNameObject>("Image"));
    dict.Insert(dict.Count(), "Height", std::make_unique<TIEPDFNumericObject>(2));
    EXPECT_EQ(Written(dict),
              "<< /Type /XObject\n/Subtype /Image\n/Length 0\n/ColorSpace /DeviceGray\n/Width 16\n/Height 2\n>>");

    EXPECT_EQ(dict.Find("Type"), 0);
    EXPECT_EQ(dict.Find("colorspace"), 3);
    EXPECT_EQ(dict.Find("HEIGHT"), 5);
    EXPECT_EQ(dict.Find("Missing"), -1);
    EXPECT_EQ(dict.Value("Missing"), nullptr);
    EXPECT_EQ(dict.KeyAt(4), "Width");
    EXPECT_EQ(static_cast<TIEPDFNameObject*>(dict.Value("SUBTYPE"))->Value, "Image");

    // No check for duplicates: both are written, lookup finds the first.
    dict.Add("width", std::make_unique<TIEPDFNumericObject>(99));
    EXPECT_EQ(dict.Count(), 7);
    EXPECT_EQ(dict.Find("WIDTH"), 4);

    // Replacing keeps the key and the position.
    dict.ReplaceValueAt(2, std::make_unique<TIEPDFNumericObject>(4));
    EXPECT_EQ(dict.KeyAt(2), "Length");
    EXPECT_EQ(Written(dict), "<< /Type /XObject\n/Subtype /Image\n/Length 4\n/ColorSpace /DeviceGray\n/Width 16\n"
                             "/Height 2\n/width 99\n>>");
}

TEST(PdfDictionary, KeysAreWrittenAsNames) {
    TIEPDFDictionaryObject dict;
    dict.Add("lm1", std::make_unique<TIEPDFRefObject>(3, 0));
    dict.Add("BitsPerComponent", std::make_unique<TIEPDFNumericObject>(8));
    dict.Add("lm 2", std::make_unique<TIEPDFRefObject>(6, 0));  // would otherwise split into two tokens
    dict.Add("A#B\xE9", std::make_unique<TIEPDFBooleanObject>(false));
    EXPECT_EQ(Written(dict), "<< /lm1 3 0 R\n/BitsPerComponent 8\n/lm#202 6 0 R\n/A#B#E9 false\n>>");
    EXPECT_EQ(dict.Find("LM 2"), 2);  // lookup uses the key as given
}

TEST(PdfDictionary, IndexOutsideTheEntriesIsRefused) {
    TIEPDFDictionaryObject dict;
    dict.Add("A", std::make_unique<TIEPDFNumericObject>(1));
    EXPECT_THROW(dict.Insert(2, "B", std::make_unique<TIEPDFNumericObject>(2)), EIEException);
    EXPECT_THROW(dict.Insert(-1, "B", std::make_unique<TIEPDFNumericObject>(2)), EIEException);
    EXPECT_THROW(dict.ValueAt(1), EIEException);
    EXPECT_THROW(dict.KeyAt(-1), EIEException);
    EXPECT_THROW(dict.ReplaceValueAt(1, std::make_unique<TIEPDFNumericObject>(2)), EIEException);
    TIEPDFArrayObject array;
    EXPECT_THROW(array.Item(0), EIEException);
    EXPECT_EQ(dict.Count(), 1);
}

TEST(PdfOwnership, SharedObjectsOutliveTheirContainers) {
    // The sanitizer build turns a container freeing a shared object into a failure here.
    TIEPDFDictionaryObject resources;
    resources.Add("ProcSet", std::make_unique<TIEPDFArrayObject>());
    {
        TIEPDFArrayObject array;
        array.AddShared(resources);
        auto dict = std::make_unique<TIEPDFDictionaryObject>();
        dict->AddShared("Resources", resources);
        dict->InsertShared(0, "Again", resources);
        dict->ReplaceValueAt(1, std::make_unique<TIEPDFNumericObject>(1));  // drops a shared value
        EXPECT_EQ(Written(array), "[<< /ProcSet []\n>> ]");
        EXPECT_EQ(array.Item(0), &resources);
    }
    EXPECT_TRUE(resources.Shared);
    EXPECT_EQ(Written(resources), "<< /ProcSet []\n>>");
}

TEST_F(TempFolderTest, StreamWritesItsDictionaryWithTheDataLength) {
    TIEPDFStreamObject empty;
    EXPECT_EQ(Written(empty), "<< /Length 0\n>>\nstream\n\nendstream");

    const std::string content = "q\n595 0 0 297 0 545 cm\n/lm1 Do\nQ";
    TIEPDFStreamObject text(std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
    EXPECT_EQ(Written(text), "<< /Length 32\n>>\nstream\n" + content + "\nendstream");

    // Entries put around "Length" leave it in place; a stale value is replaced.
    std::vector<uint8_t> bytes = {0xFF, 0xFF, 0x00, 0x00};
    TIEPDFStreamObject image(std::move(bytes));
    image.Dictionary().Add("ColorSpace", std::make_unique<TIEPDFNameObject>("DeviceGray"));
    image.Dictionary().Insert(0, "Type", std::make_unique<TIEPDFNameObject>("XObject"));
    image.Dictionary().ReplaceValueAt(1, std::make_unique<TIEPDFNumericObject>(12345));
    EXPECT_EQ(Written(image), "<< /Type /XObject\n/Length 4\n/ColorSpace /DeviceGray\n>>\nstream\n" +
                                  std::string("\xFF\xFF\x00\x00", 4) + "\nendstream");
    EXPECT_TRUE(SpoolFiles().empty());  // nothing is spooled unless asked
}

TEST_F(TempFolderTest, SpoolingMovesTheDataToATemporaryFileDeletedWithTheObject) {
    std::vector<uint8_t> data(300000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    TIEPDFStreamObject inMemory{std::span<const uint8_t>(data)};
    const std::string expected = Written(inMemory);
    {
        TIEPDFStreamObject spooled{std::span<const uint8_t>(data)};
        spooled.SpoolToTempFile();
        EXPECT_TRUE(spooled.Spooled());
        EXPECT_TRUE(spooled.Data().empty());
        EXPECT_EQ(spooled.Length(), 300000);

        const auto files = SpoolFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], spooled.SpoolFileName());
        const std::string name = files[0].filename().string();
        ASSERT_EQ(name.size(), std::string("ietemp-XXXXXXXX.tmp").size());
        EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 7), 15u) << name;
        EXPECT_EQ(std::filesystem::file_size(files[0]), 300000u);

        // The data is copied back from the file, the same bytes as from memory, each time.
        EXPECT_EQ(Written(spooled), expected);
        EXPECT_EQ(Written(spooled, 10), expected);
    }
    EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(TempFolderTest, EmptyStreamSpoolsToAnEmptyFile) {
    TIEPDFStreamObject empty;
    empty.SpoolToTempFile();
    EXPECT_EQ(SpoolFiles().size(), 1u);
    EXPECT_EQ(Written(empty), "<< /Length 0\n>>\nstream\n\nendstream");
}

TEST_F(TempFolderTest, FailedSpoolKeepsTheDataInMemoryAndLeavesNoFile) {
    const std::vector<uint8_t> data = {1, 2, 3};
    TIEPDFStreamObject stream{std::span<const uint8_t>(data)};
    IETemporaryFilesFailForTesting = true;
    EXPECT_THROW(stream.SpoolToTempFile(), EIEInOutError);
    IETemporaryFilesFailForTesting = false;
    EXPECT_FALSE(stream.Spooled());
    EXPECT_EQ(stream.Length(), 3);
    EXPECT_EQ(Written(stream), std::string("<< /Length 3\n>>\nstream\n\x01\x02\x03\nendstream"));
    EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(TempFolderTest, NoSpoolFileOutlivesItsObjectAfterAWriteError) {
    const std::vector<uint8_t> data(1000, 0x55);
    {
        auto stream = std::make_unique<TIEPDFStreamObject>(std::span<const uint8_t>(data));
        stream->SpoolToTempFile();
        uint8_t block[16] = {};
        TIEMemoryReadStream readOnly(block, sizeof block);  // accepts no bytes
        EXPECT_THROW(stream->WriteTo(readOnly), EIEStreamError);
        EXPECT_EQ(SpoolFiles().size(), 1u);
    }
    EXPECT_TRUE(SpoolFiles().empty());
}

}  // namespace
}  // namespace quirelle
