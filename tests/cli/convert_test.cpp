// End-to-end tests of quirelle-convert: the program is run as a user runs it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "codecs/jpegfilt.h"
#include "image/ieutils.h"
#include "io/imageio.h"
#include "platform/iestreams.h"
#include "tests/support/pages.h"
#include "tests/support/render.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::RgbImage;
using test::ScratchDir;

const std::string kProgram = QUIRELLE_CONVERT_PATH;

struct RunResult {
    int status;
    std::string output;  // standard output and error together
};

RunResult Convert(const std::string& arguments, const std::filesystem::path& dir) {
    RunResult run;
    run.status = test::RunCommand("cd " + test::ShellQuote(dir.string()) + " && " + kProgram + " " + arguments, &run.output);
    return run;
}

// The pixel at (x, y) of a test picture: blocks of 4 x 3 pixels, so integer scaling keeps them.
struct Picture {
    int width = 119, height = 77;
    std::function<void(int x, int y, uint8_t rgb[3])> pixel;
};

Picture ColourPicture() {
    return {119, 77, [](int x, int y, uint8_t rgb[3]) {
                const int bx = x / 4, by = y / 3;
                rgb[0] = uint8_t(255 - bx * 13 - by * 17), rgb[1] = uint8_t(bx * 91 ^ by * 29), rgb[2] = uint8_t(bx * 37 + by * 11);
            }};
}
Picture GrayPicture() {
    return {119, 77, [](int x, int y, uint8_t rgb[3]) { rgb[0] = rgb[1] = rgb[2] = uint8_t((x / 4) * 8 + (y / 3) * 3); }};
}
Picture BilevelPicture() {
    return {119, 77, [](int x, int y, uint8_t rgb[3]) {
                const bool white = (((x / 4) * 7 + (y / 3) * 3) % 5) < 2;
                rgb[0] = rgb[1] = rgb[2] = white ? 255 : 0;
            }};
}

// Writes the picture as a PNM file of a form: P1..P6, with 16-bit samples when maxValue > 255.
void WritePnm(const std::filesystem::path& path, const Picture& pic, int form, int maxValue = 255) {
    std::string data = "P" + std::to_string(form) + "\n# made by the test\n" + std::to_string(pic.width) + " " +
                       std::to_string(pic.height) + "\n";
    if (form != 1 && form != 4) data += std::to_string(maxValue) + "\n";
    auto sample = [&](uint8_t v) {
        const unsigned s = (v * maxValue + 127) / 255;
        if (form == 2 || form == 3) {
            data += std::to_string(s) + " ";
        } else if (maxValue > 255) {
            data += char(s >> 8), data += char(s & 255);
        } else {
            data += char(s);
        }
    };
    for (int y = 0; y < pic.height; ++y) {
        uint8_t packed = 0;
        for (int x = 0; x < pic.width; ++x) {
            uint8_t rgb[3];
            pic.pixel(x, y, rgb);
            switch (form) {
                case 1: data += rgb[0] ? "0 " : "1 "; break;
                case 4:
                    if (!rgb[0]) packed |= uint8_t(0x80 >> (x % 8));
                    if (x % 8 == 7 || x == pic.width - 1) data += char(packed), packed = 0;
                    break;
                case 2:
                case 5: sample(rgb[0]); break;
                default: sample(rgb[0]), sample(rgb[1]), sample(rgb[2]); break;
            }
        }
        if (form <= 3) data += "\n";
    }
    test::WriteFileBytes(path, std::vector<uint8_t>(data.begin(), data.end()));
}

// Writes the bilevel picture as a WBMP file.
void WriteWbmp(const std::filesystem::path& path, const Picture& pic) {
    std::vector<uint8_t> data = {0, 0, uint8_t(pic.width), uint8_t(pic.height)};
    for (int y = 0; y < pic.height; ++y) {
        std::vector<uint8_t> row((pic.width + 7) / 8, 0);
        for (int x = 0; x < pic.width; ++x) {
            uint8_t rgb[3];
            pic.pixel(x, y, rgb);
            if (rgb[0]) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
        data.insert(data.end(), row.begin(), row.end());
    }
    test::WriteFileBytes(path, data);
}

// Checks a rendered page: the picture scaled by factor at the top-left corner, white elsewhere.
void ExpectPage(const RgbImage& page, const Picture& pic, int factor, const std::string& what) {
    int mismatches = 0;
    for (int y = 0; y < page.height && mismatches < 3; ++y)
        for (int x = 0; x < page.width && mismatches < 3; ++x) {
            uint8_t expected[3] = {255, 255, 255};
            if (x < pic.width * factor && y < pic.height * factor) pic.pixel(x / factor, y / factor, expected);
            const uint8_t* got = page.At(x, y);
            for (int c = 0; c < 3; ++c) {
                if (got[c] != expected[c]) {
                    ++mismatches;
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel " << c << " is " << int(got[c])
                                  << ", expected " << int(expected[c]);
                    break;
                }
            }
        }
}

class ConvertProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveProgram("gs")) GTEST_SKIP() << "Ghostscript is not installed";
        setenv("TMPDIR", dir_.Path().c_str(), 1);
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    // Files left in the folder besides the ones the test made (temporary files of any kind).
    std::vector<std::string> Leftovers(const std::vector<std::string>& expected) const {
        std::vector<std::string> extra;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
        }
        return extra;
    }
    ScratchDir dir_;
};

TEST_F(ConvertProgram, EveryInputFormIntoPdfAndPostScriptWithEveryCompression) {
    struct Input {
        std::string name;
        Picture picture;
    };
    std::vector<Input> inputs = {{"p1.pbm", BilevelPicture()}, {"p4.pbm", BilevelPicture()}, {"p2.pgm", GrayPicture()},
                                 {"p5.pgm", GrayPicture()},    {"p5-16.pgm", GrayPicture()}, {"p3.ppm", ColourPicture()},
                                 {"p6.ppm", ColourPicture()},  {"p6-16.ppm", ColourPicture()}, {"w.wbmp", BilevelPicture()}};
    WritePnm(dir_ / "p1.pbm", BilevelPicture(), 1);
    WritePnm(dir_ / "p4.pbm", BilevelPicture(), 4);
    WritePnm(dir_ / "p2.pgm", GrayPicture(), 2);
    WritePnm(dir_ / "p5.pgm", GrayPicture(), 5);
    WritePnm(dir_ / "p5-16.pgm", GrayPicture(), 5, 65535);
    WritePnm(dir_ / "p3.ppm", ColourPicture(), 3);
    WritePnm(dir_ / "p6.ppm", ColourPicture(), 6);
    WritePnm(dir_ / "p6-16.ppm", ColourPicture(), 6, 65535);
    WriteWbmp(dir_ / "w.wbmp", BilevelPicture());
    std::string list;
    for (const Input& i : inputs) list += " " + i.name;

    struct Target {
        std::string file;
        std::string compression;
    };
    const std::vector<Target> targets = {{"out.pdf", "none"}, {"out.pdf", "rle"}, {"out.pdf", "g3"}, {"out.pdf", "g4"},
                                         {"out.pdf", "lzw"},  {"out.ps", "rle"},  {"out.ps", "g3"},  {"out.ps", "g4"}};
    for (const Target& t : targets) {
        const std::string what = t.file + " -c " + t.compression;
        const RunResult run = Convert(list + " -c " + t.compression + " --no-progress -o " + t.file, dir_.Path());
        ASSERT_EQ(run.status, 0) << what << ": " << run.output;
        EXPECT_EQ(run.output, "") << what;
        const auto path = dir_ / t.file;
        if (t.file.ends_with(".pdf") && test::HaveProgram("qpdf")) {
            std::string check;
            EXPECT_EQ(test::RunCommand("qpdf --check " + test::ShellQuote(path.string()), &check), 0) << what << check;
        }
        std::string log;
        const auto pages = test::RenderWithGhostscript(path, t.file.ends_with(".ps") ? 595 : 0, 842, 72, &log);
        ASSERT_EQ(pages.size(), inputs.size()) << what << ": " << log;
        for (size_t i = 0; i < inputs.size(); ++i) ExpectPage(pages[i], inputs[i].picture, 5, what + " page " + inputs[i].name);
    }
}

TEST_F(ConvertProgram, JpegInputsIntoBothKinds) {
    // A JPEG made by the engine from the block picture; lossless page codings must show exactly
    // what the engine decodes from it, JPEG pages that within a few levels.
    TIEBitmap picture(119, ie24RGB, 77);
    test::DrawBlocks(picture);
    {
        TIOParamsVals params;
        params.JpegQualityLevel = 95;
        ProgressRecord progress;
        TIEWideFileStream file(dir_ / "photo.jpg", ieCreateAlways);
        SaveJpegToStream(file, picture, params, progress);
    }
    TImageIO reference;
    reference.LoadFile(dir_ / "photo.jpg");
    ASSERT_EQ(reference.CancelRequested, 0) << reference.LastError;
    TIEBitmap& decoded = *reference.IEBitmap();
    for (const std::string arguments : {"-c rle -o j.pdf", "-c lzw -o j.pdf", "-c rle -o j.ps", "-c jpeg --jpeg-quality 95 -o j.pdf",
                                        "-c jpeg --jpeg-quality 95 -o j.ps"}) {
        const RunResult run = Convert("photo.jpg --no-progress " + arguments, dir_.Path());
        ASSERT_EQ(run.status, 0) << arguments << ": " << run.output;
        const auto file = dir_ / (arguments.ends_with(".ps") ? "j.ps" : "j.pdf");
        const auto pages = test::RenderWithGhostscript(file, arguments.ends_with(".ps") ? 595 : 0, 842);
        ASSERT_EQ(pages.size(), 1u) << arguments;
        if (arguments.find("jpeg") == std::string::npos) {
            test::ExpectPagePlacedTopLeft(pages[0], decoded, 5, arguments);
        } else {
            int64_t difference = 0;
            for (int y = 0; y < 77 * 5; ++y)
                for (int x = 0; x < 119 * 5; ++x) {
                    const BgrColor c = decoded.PixelAsBgr(x / 5, y / 5);
                    const uint8_t* got = pages[0].At(x, y);
                    difference += std::abs(got[0] - c.r) + std::abs(got[1] - c.g) + std::abs(got[2] - c.b);
                }
            // The blocks change colour every 4 pixels, which 2 x 2 chroma sampling cannot keep.
            EXPECT_LT(static_cast<double>(difference) / (77 * 5 * 119 * 5 * 3), 8.0) << arguments;
        }
    }
}

TEST_F(ConvertProgram, PaperSizesAndInfoReachTheDocument) {
    WritePnm(dir_ / "a.ppm", ColourPicture(), 6);
    const RunResult pdf = Convert("a.ppm -p LETTER --title 'Hello (world)' --author Ann --keywords 'k1 k2' -o a.pdf", dir_.Path());
    ASSERT_EQ(pdf.status, 0) << pdf.output;
    const auto bytes = test::ReadFileBytes(dir_ / "a.pdf");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("/MediaBox [0 0 612 792 ]"), std::string::npos);
    EXPECT_NE(text.find("/Title (Hello \\(world\\))\n/Author (Ann)\n/Keywords (k1 k2)"), std::string::npos);
    const RunResult ps = Convert("a.ppm -p 11x17 --title 'Hello' -o a.eps", dir_.Path());
    ASSERT_EQ(ps.status, 0) << ps.output;
    const auto psBytes = test::ReadFileBytes(dir_ / "a.eps");
    const std::string psText(psBytes.begin(), psBytes.end());
    EXPECT_NE(psText.find("%%Title: Hello\r\n"), std::string::npos);
    EXPECT_NE(psText.find("%%BoundingBox: 0 0 791 1223\r\n"), std::string::npos);
    const RunResult kind = Convert("a.ppm --kind ps -o a.out", dir_.Path());
    ASSERT_EQ(kind.status, 0) << kind.output;
    EXPECT_EQ(test::ReadFileBytes(dir_ / "a.out").at(0), '%');
}

TEST_F(ConvertProgram, FailuresNameTheFileKeepTheOldOutputAndLeaveNothingBehind) {
    WritePnm(dir_ / "good.ppm", ColourPicture(), 6);
    WritePnm(dir_ / "full.ppm", ColourPicture(), 6);
    auto truncated = test::ReadFileBytes(dir_ / "full.ppm");
    truncated.resize(truncated.size() / 2);
    test::WriteFileBytes(dir_ / "cut.ppm", truncated);
    test::WriteFileBytes(dir_ / "notes.txt", {'h', 'i', '\n'});
    test::WriteFileBytes(dir_ / "old.pdf", {'o', 'l', 'd'});
    struct Case {
        std::string arguments;
        std::string message;  // expected in the output
    };
    const std::vector<Case> cases = {
        {"good.ppm missing.ppm -o old.pdf", "quirelle-convert: missing.ppm: no such file"},
        {"good.ppm notes.txt -o old.pdf", "quirelle-convert: notes.txt: unsupported format"},
        {"good.ppm cut.ppm -o old.pdf", "quirelle-convert: cut.ppm: damaged or truncated image"},
        {"good.ppm . -o old.pdf", "quirelle-convert: .: is a directory"},
        {"good.ppm -o nowhere/new.pdf", "Cannot create file"},
    };
    for (const Case& c : cases) {
        const RunResult run = Convert(c.arguments + " --no-progress", dir_.Path());
        EXPECT_EQ(run.status, 1) << c.arguments << ": " << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << ": " << run.output;
        EXPECT_EQ(test::ReadFileBytes(dir_ / "old.pdf"), (std::vector<uint8_t>{'o', 'l', 'd'})) << c.arguments;
        EXPECT_EQ(Leftovers({"good.ppm", "full.ppm", "cut.ppm", "notes.txt", "old.pdf"}), std::vector<std::string>())
            << c.arguments;
    }
}

TEST_F(ConvertProgram, BadUsageExitsWithTwoAndAHint) {
    WritePnm(dir_ / "a.ppm", ColourPicture(), 6);
    for (const std::string& arguments :
         {std::string(""), std::string("a.ppm"), std::string("-o out.pdf"), std::string("a.ppm -o out.txt"),
          std::string("a.ppm -o out.pdf --paper A9"), std::string("a.ppm -o out.pdf -c zip"),
          std::string("a.ppm -o out.ps -c lzw"), std::string("a.ppm -o out.pdf --jpeg-quality 101"),
          std::string("a.ppm -o out.pdf --bogus"), std::string("a.ppm -o"), std::string("--decode a.ppm"),
          std::string("--detect")}) {
        const RunResult run = Convert(arguments, dir_.Path());
        EXPECT_EQ(run.status, 2) << "'" << arguments << "': " << run.output;
        EXPECT_NE(run.output.find("Try 'quirelle-convert --help' for more information."), std::string::npos) << arguments;
    }
    EXPECT_EQ(Leftovers({"a.ppm"}), std::vector<std::string>());
}

TEST_F(ConvertProgram, HelpVersionDetectAndDecode) {
    const RunResult help = Convert("--help", dir_.Path());
    EXPECT_EQ(help.status, 0);
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES"})
        EXPECT_NE(help.output.find(section), std::string::npos) << section;
    const RunResult version = Convert("--version", dir_.Path());
    EXPECT_EQ(version.output, "quirelle-convert 5.0.1\n");

    WritePnm(dir_ / "c.ppm", ColourPicture(), 3);
    WritePnm(dir_ / "b.pbm", BilevelPicture(), 1);
    WriteWbmp(dir_ / "w.wbmp", BilevelPicture());
    test::WriteFileBytes(dir_ / "x.bin", {1, 2, 3});
    const RunResult detect = Convert("--detect c.ppm b.pbm w.wbmp x.bin", dir_.Path());
    EXPECT_EQ(detect.status, 0) << detect.output;
    EXPECT_EQ(detect.output,
              "c.ppm\t12\tPortable Pixmap, GrayMap, BitMap\nb.pbm\t12\tPortable Pixmap, GrayMap, BitMap\n"
              "w.wbmp\t16\tWireless Bitmap\nx.bin\t0\tunknown\n");

    // Decoding gives the pixels back: P6 for colour, P4 for 1-bit images.
    ASSERT_EQ(Convert("--decode c.ppm -o c-out.pnm", dir_.Path()).status, 0);
    ASSERT_EQ(Convert("--decode w.wbmp -o w-out.pnm --alpha w-alpha.pgm", dir_.Path()).status, 0);
    const RgbImage colour = test::ReadPnmImage(dir_ / "c-out.pnm");
    const RgbImage bilevel = test::ReadPnmImage(dir_ / "w-out.pnm");
    EXPECT_EQ(test::ReadFileBytes(dir_ / "c-out.pnm").at(1), '6');
    EXPECT_EQ(test::ReadFileBytes(dir_ / "w-out.pnm").at(1), '4');
    EXPECT_FALSE(std::filesystem::exists(dir_ / "w-alpha.pgm"));  // no alpha plane: no file
    ExpectPage(colour, ColourPicture(), 1, "decoded colour");
    ExpectPage(bilevel, BilevelPicture(), 1, "decoded bilevel");
    const RunResult missing = Convert("--decode none.ppm -o n.pnm", dir_.Path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "n.pnm"));
}

}  // namespace
}  // namespace quirelle
