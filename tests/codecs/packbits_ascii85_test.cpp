#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/ieascii85.h"
#include "codecs/iepackbits.h"
#include "tests/codecs/codectest.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Range(int first, int count) {
    Bytes b;
    for (int i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>(first + i));
    return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes PackBits(const Bytes& input) {
    Bytes out(static_cast<size_t>(PackBitsMaxEncodedSize(static_cast<int64_t>(input.size()))) + 16, 0xEE);
    const int32_t n = EncodePackBits(input.data(), static_cast<int32_t>(input.size()), out.data());
    EXPECT_LE(n, PackBitsMaxEncodedSize(static_cast<int64_t>(input.size())));
    for (size_t i = static_cast<size_t>(n); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "wrote past its result";
    out.resize(static_cast<size_t>(n));
    return out;
}

// RunLengthDecode as a reader of the encoded data would do it.
Bytes UnpackBits(const Bytes& in) {
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        const auto c = static_cast<int8_t>(in[i++]);
        if (c == -128) break;
        if (c >= 0) {
            out.insert(out.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i) + c + 1);
            i += static_cast<size_t>(c) + 1;
        } else {
            out.insert(out.end(), static_cast<size_t>(1 - c), in.at(i++));
        }
    }
    EXPECT_EQ(i, in.size()) << "end-of-data code must be the last byte";
    return out;
}

TEST(PackBits, Vectors) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    };
    Bytes alternating;  // 41 42 42 41 41 42 42 41 ...
    for (int i = 0; i < 64; ++i) alternating.push_back(((i + 1) / 2) % 2 ? 0x42 : 0x41);
    Bytes alternatingExpected;
    for (int i = 0; i < 32; ++i)
        alternatingExpected.insert(alternatingExpected.end(), {0x01, alternating[2 * i], alternating[2 * i + 1]});
    alternatingExpected.push_back(0x80);

    const Case cases[] = {
        {"empty", {}, {0x80}},
        {"single byte", {0x58}, {0x00, 0x58, 0x80}},
        {"pair is a run", {7, 7}, {0xFF, 7, 0x80}},
        {"literal swallows the first of a pair", {0x41, 0x42, 0x43, 0x43, 0x44}, {0x02, 0x41, 0x42, 0x43, 0x01, 0x43, 0x44, 0x80}},
        {"literal swallows the first of a run", {0x41, 0x42, 0x43, 0x43, 0x43, 0x44},
         {0x02, 0x41, 0x42, 0x43, 0xFF, 0x43, 0x00, 0x44, 0x80}},
        {"300 zeros: runs of 128, 128, 44", Bytes(300, 0), {0x81, 0, 0x81, 0, 0xD5, 0, 0x80}},
        {"run of exactly 128", Bytes(128, 9), {0x81, 9, 0x80}},
        {"run of 129", Bytes(129, 9), {0x81, 9, 0x00, 9, 0x80}},
        {"200 distinct bytes: literals of 128 and 72", Range(0, 200),
         Concat({{0x7F}, Range(0, 128), {0x47}, Range(128, 72), {0x80}})},
        {"alternating pairs cost 3 bytes per 2", alternating, alternatingExpected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PackBits(c.input), c.expected);
    }
}

TEST(PackBits, NegativeCountWritesOnlyTheEndCode) {
    uint8_t out[4] = {};
    EXPECT_EQ(EncodePackBits(nullptr, -5, out), 1);
    EXPECT_EQ(out[0], 0x80);
}

TEST(PackBits, WorstCaseSizeHelper) {
    EXPECT_EQ(PackBitsMaxEncodedSize(0), 1);
    EXPECT_EQ(PackBitsMaxEncodedSize(1), 3);
    EXPECT_EQ(PackBitsMaxEncodedSize(2), 4);
    EXPECT_EQ(PackBitsMaxEncodedSize(3), 6);
    EXPECT_EQ(PackBitsMaxEncodedSize(-1), 1);
}

TEST(PackBits, RandomInputsRoundTripWithinTheWorstCase) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        // Few symbols and varied run lengths reach every path: runs, pairs, long literals.
        const int length = static_cast<int>(rng() % 700);
        const int symbols = 1 + static_cast<int>(rng() % 4 == 0 ? 256 : rng() % 3);
        Bytes input;
        while (static_cast<int>(input.size()) < length) {
            const auto value = static_cast<uint8_t>(rng() % symbols);
            const int run = rng() % 3 == 0 ? 1 + static_cast<int>(rng() % 300) : 1;
            input.insert(input.end(), static_cast<size_t>(std::min(run, length - static_cast<int>(input.size()))), value);
        }
        EXPECT_EQ(UnpackBits(PackBits(input)), input) << "round " << round;
    }
}

// ---------------------------------------------------------------------------------------------

struct Ascii85Result {
    std::string text;
    int32_t returned = 0;
    int64_t counted = 0;
    const uint8_t* sourceEnd = nullptr;
};

Ascii85Result Ascii85(const Bytes& input, int32_t count) {
    Bytes out(static_cast<size_t>(Ascii85MaxEncodedSize(count)) + 8, 0xEE);
    const uint8_t* source = input.data();
    uint8_t* destination = out.data();
    Ascii85Result r;
    r.counted = 1000;  // the counter is added to, not set
    r.returned = EncodeAscii85Block(source, count, destination, r.counted);
    r.counted -= 1000;
    r.sourceEnd = source;
    EXPECT_EQ(destination - out.data(), r.returned) << "destination cursor";
    EXPECT_LE(r.returned, Ascii85MaxEncodedSize(count));
    for (size_t i = static_cast<size_t>(r.returned); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
    r.text.assign(out.begin(), out.begin() + r.returned);
    return r;
}

TEST(Ascii85, Vectors) {
    struct Case {
        const char* name;
        Bytes input;
        std::string expected;
        int64_t counted;
    };
    Bytes noZeroGroups;
    for (int i = 0; i < 200; ++i) noZeroGroups.push_back(static_cast<uint8_t>(i * 7 + 1));
    const Case cases[] = {
        {"z group then a partial group", {0, 0, 0, 0, 0x61, 0x62, 0x63}, "z@:E^~>\r\n", 5},
        {"one zero byte is not folded", {0}, "!!~>\r\n", 2},
        {"300 zeros are 75 z and a full line", Bytes(300, 0), std::string(75, 'z') + "\r\n~>\r\n", 75},
        {"60 bytes end a line exactly", Bytes(60, 0xFF),
         [] {
             std::string s;
             for (int i = 0; i < 15; ++i) s += "s8W-!";
             return s + "\r\n~>\r\n";
         }(),
         75},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Ascii85Result r = Ascii85(c.input, static_cast<int32_t>(c.input.size()));
        EXPECT_EQ(r.text, c.expected);
        EXPECT_EQ(r.returned, static_cast<int32_t>(c.expected.size()));
        EXPECT_EQ(r.counted, c.counted);
        EXPECT_EQ(r.sourceEnd, c.input.data() + c.input.size());
    }

    // 200 bytes without a zero group: three lines of 75 digits and one of 25.
    const Ascii85Result r = Ascii85(noZeroGroups, 200);
    EXPECT_EQ(r.returned, 260);
    EXPECT_EQ(r.counted, 250);
    for (int line = 0; line < 3; ++line) EXPECT_EQ(r.text.substr(static_cast<size_t>(line * 77 + 75), 2), "\r\n");
    EXPECT_EQ(r.text.substr(3 * 77 + 25), "~>\r\n");
}

TEST(Ascii85, PartialFinalGroupHasCountMod4PlusOneCharacters) {
    for (int count = 1; count <= 12; ++count) {
        const Ascii85Result r = Ascii85(Range(1, count), count);
        EXPECT_EQ(r.counted, 5 * (count / 4) + (count % 4 ? count % 4 + 1 : 0)) << count;
        EXPECT_EQ(r.text.size(), static_cast<size_t>(r.counted) + 4) << count;
    }
}

TEST(Ascii85, EmptyAndNegativeCountsWriteOnlyTheEndMarker) {
    for (int32_t count : {0, -1, -100}) {
        const Bytes input = {1, 2, 3};
        const Ascii85Result r = Ascii85(input, count);
        EXPECT_EQ(r.text, "~>\r\n");
        EXPECT_EQ(r.returned, 4);
        EXPECT_EQ(r.counted, 0);
        EXPECT_EQ(r.sourceEnd, input.data()) << "nothing read";
    }
    EXPECT_EQ(Ascii85MaxEncodedSize(0), 4);
}

TEST(Ascii85, GroupEncoder) {
    const Bytes zeros = {0, 0, 0, 0};
    const uint8_t* s = zeros.data();
    uint8_t out[8];
    uint8_t* d = out;
    EXPECT_EQ(EncodeAscii85Group(s, 4, d), 1);
    EXPECT_EQ(out[0], 'z');
    EXPECT_EQ(s, zeros.data() + 4);
    const Bytes man = {'M', 'a', 'n', ' '};
    s = man.data();
    d = out;
    EXPECT_EQ(EncodeAscii85Group(s, 4, d), 5);
    EXPECT_EQ(std::string(out, out + 5), "9jqo^");
}

// Python's base64.a85decode reads our blocks back (line breaks and end marker removed).
TEST(Ascii85, ReferenceDecoderReadsBlocksBack) {
    const std::string python = test::ToolAvailable("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    if (test::RunCommand(python + " -c 'import base64' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    test::ScratchDir dir;
    std::mt19937 rng(99);
    std::vector<Bytes> inputs;
    for (int count : {1, 2, 3, 4, 5, 59, 60, 61, 299, 300, 1001, 4096}) {
        Bytes b(static_cast<size_t>(count));
        for (auto& x : b) x = rng() % 3 ? static_cast<uint8_t>(rng()) : 0;  // zero groups appear too
        if (count >= 64) std::fill(b.begin() + 8, b.begin() + 40, 0);
        inputs.push_back(b);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string text = Ascii85(inputs[i], static_cast<int32_t>(inputs[i].size())).text;
        test::WriteFileBytes(dir / ("in" + std::to_string(i)), Bytes(text.begin(), text.end()));
    }
    const std::string script =
        "import base64, sys\n"
        "for i in range(int(sys.argv[2])):\n"
        "    d = open(f'{sys.argv[1]}/in{i}', 'rb').read()\n"
        "    assert d.endswith(b'~>\\r\\n'), i\n"
        "    d = d[:-4].replace(b'\\r\\n', b'')\n"
        "    open(f'{sys.argv[1]}/out{i}', 'wb').write(base64.a85decode(d, adobe=False))\n";
    test::WriteFileBytes(dir / "decode.py", Bytes(script.begin(), script.end()));
    ASSERT_EQ(test::RunCommand(python + " " + test::ShellQuote(dir / "decode.py") + " " + test::ShellQuote(dir.Path()) +
                               " " + std::to_string(inputs.size())),
              0);
    for (size_t i = 0; i < inputs.size(); ++i)
        EXPECT_EQ(test::ReadFileBytes(dir / ("out" + std::to_string(i))), inputs[i]) << "block " << i;
}

}  // namespace
}  // namespace quirelle
