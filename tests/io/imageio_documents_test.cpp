#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "image/ieutils.h"
#include "io/imageio.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;

std::string FileText(const std::filesystem::path& p) {
    const auto bytes = ReadFileBytes(p);
    return std::string(bytes.begin(), bytes.end());
}

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
}

TEST(PsDocuments, BeginAddEndWritesEveryPageWithTheCurrentSettings) {
    ScratchDir dir;
    TImageIO io;
    const auto path = dir / "out.ps";
    io.BeginPsDocument(path);
    EXPECT_TRUE(io.PsDocumentOpen());
    io.IEBitmap()->Allocate(10, 10, ie1g);
    io.IEBitmap()->Fill(255);
    io.Params().PsImageCoding = 0;
    io.AddPsPage();
    io.Params().PsMediaWidth = 612;  // read again for every page
    io.Params().PsMediaHeight = 792;
    io.AddPsPage();
    io.EndPsDocument();
    EXPECT_FALSE(io.PsDocumentOpen());
    const std::string text = FileText(path);
    EXPECT_NE(text.find("%%Pages: 2     "), std::string::npos);
    EXPECT_NE(text.find("%%BoundingBox: 0 0 594 841"), std::string::npos);
    EXPECT_NE(text.find("0 842 translate"), std::string::npos);
    EXPECT_NE(text.find("0 792 translate"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 7), "%%EOF\r\n");
}

TEST(PsDocuments, AddAndEndWithoutBeginDoNothing) {
    TImageIO io;
    io.IEBitmap()->Allocate(4, 4, ie8g);
    io.AddPsPage();
    io.EndPsDocument();
    EXPECT_EQ(io.IEBitmap()->Format(), ie8g);  // not even prepared
}

TEST(PsDocuments, CreationFailureRaisesTheMessageAndLeavesNothingOpen) {
    ScratchDir dir;
    TImageIO io;
    const auto path = dir.Path() / "missing" / "x.ps";
    try {
        io.BeginPsDocument(path);
        ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + path.string() + "\". No such file or directory");
    }
    EXPECT_FALSE(io.PsDocumentOpen());
    io.Params().SourcePath = "before";
    io.Params().FormatId = 3;
    EXPECT_THROW(io.SavePsToFile(path), EIEFileError);
    EXPECT_EQ(io.Params().SourcePath, "before");
    EXPECT_EQ(io.Params().FormatId, 3);
}

TEST(PsDocuments, BeginningASecondDocumentCompletesTheFirst) {
    ScratchDir dir;
    TImageIO io;
    io.IEBitmap()->Allocate(8, 8, ie1g);
    io.BeginPsDocument(dir / "first.ps");
    io.AddPsPage();
    io.BeginPsDocument(dir / "second.ps");
    io.EndPsDocument();
    EXPECT_NE(FileText(dir / "first.ps").find("%%Pages: 1     "), std::string::npos);
    EXPECT_EQ(CountOf(FileText(dir / "first.ps"), "%%EOF"), 1);
    EXPECT_EQ(CountOf(FileText(dir / "second.ps"), "%%EOF"), 1);
}

TEST(PsDocuments, DestroyingTheObjectCompletesTheOpenDocument) {
    ScratchDir dir;
    {
        TImageIO io;
        io.IEBitmap()->Allocate(8, 8, ie1g);
        io.BeginPsDocument(dir / "open.ps");
        io.AddPsPage();
    }
    const std::string text = FileText(dir / "open.ps");
    EXPECT_NE(text.find("%%Pages: 1     "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 18), "%%Trailer\r\n%%EOF\r\n");
}

TEST(PsDocuments, SinglePageSaveSetsSourcePathAndFormatIdAndReportsFinish) {
    ScratchDir dir;
    TImageIO io;
    io.IEBitmap()->Allocate(8, 8, ie24RGB);
    std::vector<int32_t> progress;
    int finished = 0;
    io.OnProgress = [&](TImageIO*, int32_t p) { progress.push_back(p); };
    io.OnFinishWork = [&](TImageIO* sender) {
        EXPECT_EQ(sender, &io);
        ++finished;
    };
    io.CancelRequested = 1;
    io.SavePsToFile(dir / "one.ps");
    EXPECT_EQ(io.Params().FormatId, 17);
    EXPECT_EQ(io.Params().SourcePath, dir / "one.ps");
    EXPECT_EQ(io.CancelRequested, 0);
    EXPECT_EQ(finished, 1);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);

    TMemoryStream memory;
    io.SavePsToStream(memory);
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(std::string(memory.Bytes().begin(), memory.Bytes().begin() + 14), "%!PS-Adobe-3.0");
}

TEST(PsDocuments, AFullDiskRaisesTheSystemsReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TImageIO io;
    io.IEBitmap()->Allocate(64, 64, ie24RGB);
    for (auto save : {&TImageIO::SavePsToFile, &TImageIO::SavePdfToFile}) {
        try {
            (io.*save)("/dev/full");
            ADD_FAILURE() << "no error";
        } catch (const EIEFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot write to file \"/dev/full\". No space left on device");
        }
        EXPECT_TRUE(std::filesystem::exists("/dev/full"));  // a device is never removed
    }
    EXPECT_THROW(io.BeginPsDocument("/dev/full"), EIEFileError);  // the header is written at once
    EXPECT_FALSE(io.PsDocumentOpen());
    io.BeginPdfDocument("/dev/full");  // nothing is written before the end
    io.AddPdfPage();
    EXPECT_THROW(io.EndPdfDocument(), EIEFileError);
    EXPECT_FALSE(io.PdfDocumentOpen());
}

TEST(PsDocuments, SinglePageSaveOfAnEmptyImageFailsAndLeavesNoFile) {
    ScratchDir dir;
    TImageIO io;
    EXPECT_THROW(io.SavePsToFile(dir / "empty.ps"), EIEException);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.ps"));
    EXPECT_NE(io.Params().FormatId, 17);
}

// A view that sits in a window: background notices go through the message queue.
class WindowedView : public IImageViewLink {
public:
    void BeginUpdate() override {}
    void EndUpdate() override {}
    void SetDpiX(int32_t) override {}
    void SetDpiY(int32_t) override {}
    bool HasParentWindow() override { return true; }
};

TEST(Workers, BackgroundSavesPostTheirNoticesToTheViewThread) {
    ScratchDir dir;
    WindowedView view;
    TIEBitmap buffer(40, ie24RGB, 40);
    TImageIO io(&buffer, &view);
    io.RunInBackground = true;
    std::atomic<int> finishedOnCaller{0};
    const std::thread::id caller = std::this_thread::get_id();
    io.OnFinishWork = [&](TImageIO*) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        ++finishedOnCaller;
    };
    io.OnProgress = [&](TImageIO*, int32_t) { EXPECT_EQ(std::this_thread::get_id(), caller); };
    io.SavePsToFile(dir / "bg.ps");
    io.WaitForWorkers(false);
    EXPECT_EQ(io.WorkerCount(), 0);
    EXPECT_EQ(finishedOnCaller, 0);  // posted, not yet delivered
    EXPECT_GT(IEMainMessageQueue().Drain(), 0);
    EXPECT_EQ(finishedOnCaller, 1);
    EXPECT_EQ(io.Params().FormatId, 17);
    EXPECT_NE(FileText(dir / "bg.ps").find("%%EOF"), std::string::npos);
}

TEST(Workers, AnErrorInAWorkerSetsTheCancelFlag) {
    ScratchDir dir;
    WindowedView view;
    TIEBitmap buffer(4, ie24RGB, 4);
    TImageIO io(&buffer, &view);
    io.RunInBackground = true;
    io.SavePsToFile(dir.Path() / "missing" / "x.ps");
    io.WaitForWorkers(false);
    EXPECT_EQ(io.CancelRequested, 1);
    IEMainMessageQueue().Drain();
}

TEST(Workers, WithoutAViewTheWorkRunsOnTheCallingThread) {
    ScratchDir dir;
    TImageIO io;
    io.RunInBackground = true;  // an object with its own buffer never uses workers
    io.IEBitmap()->Allocate(4, 4, ie1g);
    io.SavePsToFile(dir / "direct.ps");
    EXPECT_EQ(io.Params().FormatId, 17);
    EXPECT_EQ(IEMainMessageQueue().Pending(), 0u);
}

TEST(Workers, NoticesForADestroyedObjectAreDropped) {
    ScratchDir dir;
    WindowedView view;
    TIEBitmap buffer(4, ie24RGB, 4);
    int delivered = 0;
    {
        TImageIO io(&buffer, &view);
        io.RunInBackground = true;
        io.OnFinishWork = [&](TImageIO*) { ++delivered; };
        io.SavePsToFile(dir / "gone.ps");
    }  // destruction waits for the worker
    IEMainMessageQueue().Drain();
    EXPECT_EQ(delivered, 0);
}

}  // namespace
}  // namespace quirelle
