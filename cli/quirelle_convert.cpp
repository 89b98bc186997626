// quirelle-convert: the engine from the command line. Image files in, one PDF or PostScript
// document out, with the wizard's paper sizes and compressions; also the format of files as the
// engine detects them, and an image decoded to PNM as the engine loads it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "io/ieengine.h"
#include "io/ieformats.h"
#include "io/iepapers.h"
#include "io/imageio.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "readers/iepnm.h"

namespace {

using namespace quirelle;
namespace fs = std::filesystem;

constexpr const char* kProgram = "quirelle-convert";
constexpr const char* kVersion = "5.0.1";

// Exit statuses.
constexpr int kDone = 0, kFailed = 1, kUsage = 2;

struct Compression {
    const char* name;
    int pdf;  // coding code for PDF, -1: not available
    int ps;   // coding code for PostScript, -1: not available
};
// The wizard's four choices mapped as the wizard maps them, plus none and lzw for PDF.
constexpr Compression kCompressions[] = {{"rle", PdfCodingForChoice[0], PsCodingForChoice[0]},
                                         {"g3", PdfCodingForChoice[1], PsCodingForChoice[1]},
                                         {"g4", PdfCodingForChoice[2], PsCodingForChoice[2]},
                                         {"jpeg", PdfCodingForChoice[3], PsCodingForChoice[3]},
                                         {"none", 0, -1},
                                         {"lzw", 5, -1}};

const char* const kHelp = R"(NAME
    quirelle-convert - turn images into one PDF or PostScript document

SYNOPSIS
    quirelle-convert [OPTIONS] INPUT... -o OUTPUT
    quirelle-convert --detect FILE...
    quirelle-convert --decode FILE -o OUT.pnm [--alpha OUT.pgm]
    quirelle-convert --help | --version

DESCRIPTION
    Every INPUT image becomes one page of OUTPUT, in the order given. Each image is scaled
    to fit the paper, keeping its proportions, and placed at the top-left corner of its
    page. Black-and-white (1-bit) images stay black-and-white pages; all others become
    colour pages.

    Inputs are recognised by their content; the extension only breaks ties. Readable
    formats: JPEG, PBM/PGM/PPM, Wireless Bitmap, and the formats the engine adds.

    OUTPUT is written to a temporary file beside it and renamed into place when it is
    complete: an existing OUTPUT survives any failure, and no partial document is left.

OPTIONS
    -o, --output FILE
           The document to write. Its kind follows the extension: .pdf for PDF, .ps or
           .eps for PostScript.

    --kind pdf|ps
           The document kind, whatever the extension of OUTPUT.

    -p, --paper NAME
           A0, A1, A2, A3, A4, A5, A6, B5, letter, legal, ledger or 11x17, in any case.
           Default: A4.

    -c, --compression NAME
           rle    run-length, lossless (default)
           g3     CCITT Group 3 (2-D) for black-and-white pages
           g4     CCITT Group 4 for black-and-white pages
           jpeg   JPEG for colour pages (black-and-white pages get CCITT Group 3)
           none   no compression (PDF only)
           lzw    LZW, lossless (PDF only)
           With g3 and g4, colour pages are run-length coded in PostScript and stored
           uncompressed in PDF.

    --title TEXT
           The document title: the PDF Info dictionary's Title and the PostScript
           %%Title line.

    --author TEXT, --subject TEXT, --keywords TEXT, --creator TEXT, --producer TEXT
           The other entries of the PDF Info dictionary.

    --jpeg-quality N
           JPEG quality from 1 to 100. Default: 80.

    --progress, --no-progress
           Report each page and its progress on standard error. On by default when
           standard error is a terminal.

    --detect FILE...
           For each FILE print one line: the path, a tab, the format id, a tab and the
           format's description ("unknown" for id 0). The content decides; the extension
           names formats that have no signature of their own.

    --decode FILE -o OUT.pnm [--alpha OUT.pgm]
           Load FILE as the engine loads it and write the image as PNM: P4 for 1-bit
           images, P6 otherwise. With --alpha, also write the image's alpha plane as a P5
           file when it has one.

    -h, --help
           Show this text.

    --version
           Show the version.

EXIT STATUS
    0   the document (or every detection or decoding) was written
    1   an input or the output failed; the message names the file and the reason
    2   bad usage

ENVIRONMENT
    TMPDIR
           Where large images and PDF image data wait while the document is built.
    SOURCE_DATE_EPOCH
           When set, the creation date written into documents, so that outputs are
           reproducible.

EXAMPLES
    Three scans into an A4 PDF with Group 4 compression:
        quirelle-convert scan1.pbm scan2.pbm scan3.pbm -c g4 -o letter.pdf

    Photos into a letter-size PDF with JPEG pages and a title:
        quirelle-convert IMG_0001.jpg IMG_0002.jpg -p letter -c jpeg --title "Holiday" -o holiday.pdf

    The same pages as PostScript for a printer:
        quirelle-convert IMG_0001.jpg IMG_0002.jpg -c jpeg -o holiday.ps

    What the engine makes of some files:
        quirelle-convert --detect *.jpg mystery.bin

    An image as the engine reads it, for a closer look:
        quirelle-convert --decode photo.jpg -o photo.ppm
)";

// ---------------------------------------------------------------------------------------------
// Errors

int UsageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, message.c_str(), kProgram);
    return kUsage;
}

void Report(const std::string& message) { std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str()); }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// ---------------------------------------------------------------------------------------------
// The output file: a temporary file beside OUTPUT, renamed into place when complete.

// The temporary file's name, for the signal handler (which may only unlink it).
char gPendingPath[PATH_MAX + 1] = "";

void RemovePendingAndReraise(int signal) {
    if (gPendingPath[0]) ::unlink(gPendingPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class PendingOutput {
public:
    explicit PendingOutput(const fs::path& output) : output_(output) {
        const fs::path dir = output.has_parent_path() ? output.parent_path() : fs::path(".");
        std::string pattern = (dir / ("." + output.filename().string() + ".XXXXXX")).string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            const int e = errno;
            throw EIEFileError(IEFormat("Cannot create file \"%s\". %s", IEExpandedPath(output).c_str(),
                                        IESystemErrorText(e).c_str()));
        }
        ::close(fd);
        temp_ = fs::path(name.data());
        if (temp_.string().size() <= PATH_MAX) std::strcpy(gPendingPath, temp_.c_str());
        std::signal(SIGINT, RemovePendingAndReraise);
        std::signal(SIGTERM, RemovePendingAndReraise);
        std::signal(SIGHUP, RemovePendingAndReraise);
    }
    ~PendingOutput() {
        if (!committed_) ::unlink(temp_.c_str());
        gPendingPath[0] = '\0';
    }
    const fs::path& Path() const { return temp_; }
    // Gives the file the permissions a new file gets and moves it over OUTPUT.
    void Commit() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(temp_.c_str(), 0666 & ~mask);
        if (::rename(temp_.c_str(), output_.c_str()) != 0) {
            const int e = errno;
            throw EIEFileError(IEFormat("Cannot create file \"%s\". %s", IEExpandedPath(output_).c_str(),
                                        IESystemErrorText(e).c_str()));
        }
        committed_ = true;
    }

private:
    fs::path output_;
    fs::path temp_;
    bool committed_ = false;
};

// ---------------------------------------------------------------------------------------------
// Progress on standard error

class ProgressReporter {
public:
    ProgressReporter(bool enabled, bool terminal) : enabled_(enabled), terminal_(terminal) {}

    void StartPage(int page, int pages, const std::string& name) {
        if (!enabled_) return;
        prefix_ = IEFormat("[%d/%d] %s", page, pages, name.c_str());
        lastStep_ = -1;
        Show("reading", 0);
    }
    void Show(const char* stage, int percent) {
        if (!enabled_) return;
        percent = std::clamp(percent, 0, 100);
        if (terminal_) {
            std::fprintf(stderr, "\r\033[K%s: %s %3d%%", prefix_.c_str(), stage, percent);
        } else {
            // Without a terminal, a line per quarter keeps logs short.
            const int step = percent / 25;
            if (step == lastStep_ && stage == lastStage_) return;
            std::fprintf(stderr, "%s: %s %d%%\n", prefix_.c_str(), stage, percent);
            lastStep_ = step;
        }
        lastStage_ = stage;
        std::fflush(stderr);
    }
    void EndPage(const std::string& detail) {
        if (!enabled_) return;
        if (terminal_)
            std::fprintf(stderr, "\r\033[K%s: %s\n", prefix_.c_str(), detail.c_str());
        else
            std::fprintf(stderr, "%s: %s\n", prefix_.c_str(), detail.c_str());
    }
    void Message(const std::string& text) {
        if (enabled_) std::fprintf(stderr, "%s\n", text.c_str());
    }
    void Abandon() {
        if (enabled_ && terminal_) std::fprintf(stderr, "\n");
    }

private:
    bool enabled_;
    bool terminal_;
    std::string prefix_;
    int lastStep_ = -1;
    const char* lastStage_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Loading one input

// Loads a file as the converter does: content detection, the extension breaking ties. Returns an
// empty text on success, else "FILE: reason".
std::string LoadInput(TImageIO& io, const fs::path& file) {
    const std::string shown = file.string();
    std::error_code ec;
    if (!fs::exists(file, ec)) return shown + ": no such file";
    if (fs::is_directory(file, ec)) return shown + ": is a directory";
    const int32_t detected = DetectFileFormat(file, false);
    const int32_t byExtension = FormatIdFromExtension(file.extension().string());
    try {
        io.LoadFileAuto(file);
    } catch (const std::exception& e) {
        return shown + ": " + e.what();
    }
    if (!io.CancelRequested && !io.IEBitmap()->IsEmpty()) return "";
    const int32_t id = detected != 0 ? detected : byExtension;
    const TIELoaderEntry* loader = id != 0 ? IEFindLoader(id) : nullptr;
    const bool readable = loader && loader->HasReader();
    std::string reason = readable ? "damaged or truncated image" : "unsupported format";
    if (!io.LastError.empty()) reason += " (" + io.LastError + ")";
    return shown + ": " + reason;
}

const char* DepthText(TIEBitmap& b) { return b.Format() == ie1g ? "1-bit" : "colour"; }

// ---------------------------------------------------------------------------------------------
// Commands

struct Options {
    std::vector<std::string> inputs;
    std::string output;
    std::string kind;  // "pdf" or "ps"
    const TPaperSize* paper = &PaperSizes[kDefaultPaperIndex];
    const Compression* compression = &kCompressions[0];
    std::optional<std::string> title, author, subject, keywords, creator, producer;
    int jpegQuality = 80;
    std::optional<bool> progress;
    bool detect = false;
    bool decode = false;
    std::string alpha;
};

int Convert(const Options& o) {
    const bool pdf = o.kind == "pdf";
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    ProgressReporter progress(o.progress.value_or(terminal), terminal);

    TImageIO io;
    TIOParamsVals& p = io.Params();
    int pageNumber = 0;
    const char* stage = "reading";
    io.OnProgress = [&](TImageIO*, int32_t percent) { progress.Show(stage, percent); };

    try {
        PendingOutput pending(o.output);
        if (pdf) {
            p.PdfMediaWidth = o.paper->Width;
            p.PdfMediaHeight = o.paper->Height;
            io.BeginPdfDocument(pending.Path());
        } else {
            p.PsMediaWidth = o.paper->Width;
            p.PsMediaHeight = o.paper->Height;
            if (o.title) p.PsDocTitle = *o.title;
            io.BeginPsDocument(pending.Path());
        }
        for (const std::string& input : o.inputs) {
            ++pageNumber;
            progress.StartPage(pageNumber, static_cast<int>(o.inputs.size()), input);
            stage = "reading";
            const std::string failure = LoadInput(io, input);
            if (!failure.empty()) {
                progress.Abandon();
                Report(failure);
                // The document is abandoned: the pending file goes, OUTPUT stays as it was.
                if (pdf)
                    io.EndPdfDocument();
                else
                    io.EndPsDocument();
                return kFailed;
            }
            // Every page gets the document's settings, whatever the file said about itself.
            p.JpegQualityLevel = o.jpegQuality;
            if (pdf) {
                p.PdfMediaWidth = o.paper->Width;
                p.PdfMediaHeight = o.paper->Height;
                p.PdfImageCoding = static_cast<uint8_t>(o.compression->pdf);
            } else {
                p.PsMediaWidth = o.paper->Width;
                p.PsMediaHeight = o.paper->Height;
                p.PsImageCoding = static_cast<uint8_t>(o.compression->ps);
            }
            const int32_t w = io.IEBitmap()->Width(), h = io.IEBitmap()->Height();
            stage = "writing";
            progress.Show(stage, 0);
            if (pdf)
                io.AddPdfPage();
            else
                io.AddPsPage();
            progress.EndPage(IEFormat("%d x %d, %s", w, h, DepthText(*io.IEBitmap())));
        }
        if (pdf) {
            p.PdfInfoTitle = o.title.value_or("");
            p.PdfInfoAuthor = o.author.value_or("");
            p.PdfInfoSubject = o.subject.value_or("");
            p.PdfInfoKeywords = o.keywords.value_or("");
            p.PdfInfoCreator = o.creator.value_or("");
            p.PdfInfoProducer = o.producer.value_or("");
            io.EndPdfDocument();
        } else {
            io.EndPsDocument();
        }
        pending.Commit();
        progress.Message(IEFormat("%s: %d page%s", o.output.c_str(), pageNumber, pageNumber == 1 ? "" : "s"));
    } catch (const std::exception& e) {
        progress.Abandon();
        const std::string what = e.what();
        // Engine messages about files name them; others get the output's name in front.
        if (what.find('"') != std::string::npos)
            Report(what);
        else
            Report(o.output + ": " + what);
        return kFailed;
    }
    return kDone;
}

int Detect(const std::vector<std::string>& files) {
    int status = kDone;
    for (const std::string& file : files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            Report(file + (fs::exists(file, ec) ? ": not a regular file" : ": no such file"));
            status = kFailed;
            continue;
        }
        // As the converter loads: the content decides, the extension breaks ties (formats such as
        // the wireless bitmap have no content signature at all).
        int32_t id = DetectFileFormat(file, false);
        if (id == 0) id = FormatIdFromExtension(fs::path(file).extension().string());
        const TIEFileFormatInfo* info = id != 0 ? FormatRegistryFind(id) : nullptr;
        std::printf("%s\t%d\t%s\n", file.c_str(), id, info ? info->Description.c_str() : "unknown");
    }
    return status;
}

void WritePnmFile(const fs::path& path, TIEBitmap& bitmap, int32_t bits, int32_t channels) {
    TIOParamsVals params;
    params.ChannelBits = bits;
    params.ChannelCount = channels;
    ProgressRecord progress;
    uint8_t cancel = 0;
    progress.CancelFlag = &cancel;
    PendingOutput pending(path);
    {
        TIEWideFileStream file(pending.Path(), ieCreateAlways);
        WritePnm(file, bitmap, params, progress);
    }
    if (cancel) throw EIEException("the image could not be written as PNM");
    pending.Commit();
}

int Decode(const Options& o) {
    TImageIO io;
    const std::string failure = LoadInput(io, o.inputs.front());
    if (!failure.empty()) {
        Report(failure);
        return kFailed;
    }
    TIEBitmap& image = *io.IEBitmap();
    try {
        if (image.Format() == ie1g)
            WritePnmFile(o.output, image, 1, 1);
        else
            WritePnmFile(o.output, image, 8, 3);
        if (!o.alpha.empty() && image.HasAlphaPlane()) {
            TIEBitmap alpha;
            alpha.CopyFrom(*image.AlphaPlane());
            WritePnmFile(o.alpha, alpha, 8, 1);
        }
    } catch (const std::exception& e) {
        const std::string what = e.what();
        Report(what.find('"') != std::string::npos ? what : o.output + ": " + what);
        return kFailed;
    }
    return kDone;
}

// ---------------------------------------------------------------------------------------------
// Arguments

int Run(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool endOfOptions = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (!endOfOptions && arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 >= args.size()) return std::nullopt;
            (void)name;
            return args[++i];
        };
        auto need = [&](const char* name, std::string& out) -> bool {
            const auto v = value(name);
            if (!v) return false;
            out = *v;
            return true;
        };
        std::string v;
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            o.inputs.push_back(args[i]);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return kDone;
        } else if (arg == "--version") {
            std::printf("%s %s\n", kProgram, kVersion);
            return kDone;
        } else if (arg == "-o" || arg == "--output") {
            if (!need("--output", o.output)) return UsageError("option '" + arg + "' needs a file name");
        } else if (arg == "--kind") {
            if (!need("--kind", v)) return UsageError("option '--kind' needs pdf or ps");
            v = Lower(v);
            if (v != "pdf" && v != "ps") return UsageError("unknown document kind '" + v + "' (use pdf or ps)");
            o.kind = v;
        } else if (arg == "-p" || arg == "--paper") {
            if (!need("--paper", v)) return UsageError("option '" + arg + "' needs a paper name");
            const auto* paper = std::find_if(PaperSizes.begin(), PaperSizes.end(),
                                             [&](const TPaperSize& p) { return Lower(p.ShortName) == Lower(v); });
            if (paper == PaperSizes.end())
                return UsageError("unknown paper '" + v + "' (A0 A1 A2 A3 A4 A5 A6 B5 letter legal ledger 11x17)");
            o.paper = paper;
        } else if (arg == "-c" || arg == "--compression") {
            if (!need("--compression", v)) return UsageError("option '" + arg + "' needs a compression name");
            const auto* c = std::find_if(std::begin(kCompressions), std::end(kCompressions),
                                         [&](const Compression& k) { return k.name == Lower(v); });
            if (c == std::end(kCompressions)) return UsageError("unknown compression '" + v + "' (rle g3 g4 jpeg none lzw)");
            o.compression = c;
        } else if (arg == "--title" || arg == "--author" || arg == "--subject" || arg == "--keywords" ||
                   arg == "--creator" || arg == "--producer") {
            if (!need(arg.c_str(), v)) return UsageError("option '" + arg + "' needs a text");
            auto& field = arg == "--title"      ? o.title
                          : arg == "--author"   ? o.author
                          : arg == "--subject"  ? o.subject
                          : arg == "--keywords" ? o.keywords
                          : arg == "--creator"  ? o.creator
                                                : o.producer;
            field = v;
        } else if (arg == "--jpeg-quality") {
            if (!need("--jpeg-quality", v)) return UsageError("option '--jpeg-quality' needs a number from 1 to 100");
            char* end = nullptr;
            const long q = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || q < 1 || q > 100) return UsageError("JPEG quality '" + v + "' is not a number from 1 to 100");
            o.jpegQuality = static_cast<int>(q);
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (arg == "--no-progress") {
            o.progress = false;
        } else if (arg == "--detect") {
            o.detect = true;
        } else if (arg == "--decode") {
            o.decode = true;
        } else if (arg == "--alpha") {
            if (!need("--alpha", o.alpha)) return UsageError("option '--alpha' needs a file name");
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }

    IEInitializeEngine();
    if (o.detect && o.decode) return UsageError("--detect and --decode cannot be used together");
    if (o.detect) {
        if (o.inputs.empty()) return UsageError("--detect needs at least one file");
        return Detect(o.inputs);
    }
    if (o.decode) {
        if (o.inputs.size() != 1) return UsageError("--decode takes exactly one file");
        if (o.output.empty()) return UsageError("--decode needs an output file (-o OUT.pnm)");
        return Decode(o);
    }
    if (!o.alpha.empty()) return UsageError("--alpha goes with --decode");
    if (o.inputs.empty()) return UsageError("no input images");
    if (o.output.empty()) return UsageError("no output document (-o OUTPUT)");
    if (o.kind.empty()) {
        const std::string ext = Lower(fs::path(o.output).extension().string());
        if (ext == ".pdf")
            o.kind = "pdf";
        else if (ext == ".ps" || ext == ".eps")
            o.kind = "ps";
        else
            return UsageError("cannot tell the document kind from '" + o.output + "' (use .pdf, .ps or --kind)");
    }
    if ((o.kind == "pdf" ? o.compression->pdf : o.compression->ps) < 0)
        return UsageError(std::string("compression '") + o.compression->name + "' is only available for PDF");
    return Convert(o);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Report(e.what());
        return kFailed;
    }
}
