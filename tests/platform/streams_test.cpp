#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/ieexception.h"
#include "platform/iestreams.h"
#include "platform/iesystem.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::ScratchDir;

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EIEException& e) {
        return e.what();
    }
    return "";
}

TEST(FileStream, CreateWriteSeekReadAndResize) {
    ScratchDir dir;
    const auto path = dir / "a.bin";
    {
        TIEWideFileStream f(path, ieCreateAlways);
        f.WriteString("hello world");
        EXPECT_EQ(f.Size(), 11);
        EXPECT_EQ(f.Seek(-5, soEnd), 6);
        char word[5];
        f.ReadBuffer(word, 5);
        EXPECT_EQ(std::string(word, 5), "world");
        EXPECT_EQ(f.Seek(-11, soCurrent), 0);
        f.SetSize(5);
        EXPECT_EQ(f.Size(), 5);
        char more[8];
        EXPECT_EQ(f.Read(more, 8), 5);  // short read at the end is not an error
        EXPECT_THROW(f.ReadBuffer(more, 1), EIEStreamError);
    }
    {
        // Create always overwrites an existing file.
        TIEWideFileStream f(path, ieCreateAlways);
        EXPECT_EQ(f.Size(), 0);
    }
}

TEST(FileStream, FailuresNameTheExpandedPathAndTheSystemReason) {
    ScratchDir dir;
    const auto missing = dir.Path() / "nowhere" / "x.ps";
    EXPECT_EQ(MessageOf([&] { TIEWideFileStream f(missing, ieCreateAlways); }),
              "Cannot create file \"" + missing.string() + "\". No such file or directory");
    EXPECT_EQ(MessageOf([&] { TIEWideFileStream f(dir / "absent.jpg", ieOpenRead); }),
              "Cannot open file \"" + (dir / "absent.jpg").string() + "\". No such file or directory");
    EXPECT_EQ(MessageOf([&] { TIEWideFileStream f(dir.Path(), ieOpenRead); }),
              "Cannot open file \"" + dir.Path().string() + "\". Is a directory");
}

TEST(FileStream, RelativePathsAreExpandedInMessages) {
    const std::string message = MessageOf([] { TIEWideFileStream f("no-such-dir-xyz/a.pdf", ieCreateAlways); });
    EXPECT_EQ(message, "Cannot create file \"" + (std::filesystem::current_path() / "no-such-dir-xyz/a.pdf").string() +
                           "\". No such file or directory");
}

TEST(FileStream, SharingRules) {
    ScratchDir dir;
    const auto path = dir / "shared.bin";
    {
        TIEWideFileStream writer(path, ieCreateAlways);
        // A file open for writing is not shared: neither readers nor writers get in.
        EXPECT_THROW(TIEWideFileStream(path, ieOpenRead), EIEFileError);
        EXPECT_NE(MessageOf([&] { TIEWideFileStream f(path, ieCreateAlways); }).find("in use"), std::string::npos);
    }
    TIEWideFileStream reader1(path, ieOpenRead);
    TIEWideFileStream reader2(path, ieOpenRead);  // readers share
    EXPECT_THROW(TIEWideFileStream(path, ieOpenReadWrite), EIEFileError);  // write sharing denied
}

TEST(MemoryStreams, GrowReadSeekAndReadOnlyBlock) {
    TMemoryStream m;
    m.WriteString("abc");
    m.Seek(10, soBeginning);
    m.WriteString("z");
    EXPECT_EQ(m.Size(), 11);
    EXPECT_EQ(m.Memory()[3], 0);
    m.SetPosition(0);
    char b[3];
    m.ReadBuffer(b, 3);
    EXPECT_EQ(std::string(b, 3), "abc");

    const char block[] = "0123456789";
    TIEMemoryReadStream r(block, 10);
    EXPECT_EQ(r.Size(), 10);
    r.Seek(-3, soEnd);
    char tail[4] = {};
    EXPECT_EQ(r.Read(tail, 4), 3);
    EXPECT_STREQ(tail, "789");
    EXPECT_EQ(r.Write("x", 1), 0);
    EXPECT_THROW(r.WriteBuffer("x", 1), EIEStreamError);
    EXPECT_THROW(r.SetSize(3), EIEStreamError);
}

TEST(BufferedReadStream, ReadsSeeksAndLeavesTheSourceAtItsPosition) {
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>('a' + i % 26);
    TIEMemoryReadStream source(data.data(), static_cast<int64_t>(data.size()));
    source.SetPosition(7);
    {
        TIEBufferedReadStream b(source, 64);
        EXPECT_EQ(b.Position(), 7);
        EXPECT_EQ(b.ReadByte(), 'h');
        std::string chunk(200, '\0');
        b.ReadBuffer(chunk.data(), 200);
        EXPECT_EQ(chunk, data.substr(8, 200));
        b.Seek(4990, soBeginning);
        std::string rest(20, '\0');
        EXPECT_EQ(b.Read(rest.data(), 20), 10);
        EXPECT_EQ(b.ReadByte(), -1);
        b.Seek(100, soBeginning);
        EXPECT_EQ(b.ReadByte(), data[100]);
        std::string big(3000, '\0');  // larger than the buffer: read straight through
        b.ReadBuffer(big.data(), 3000);
        EXPECT_EQ(big, data.substr(101, 3000));
    }
    EXPECT_EQ(source.Position(), 3101);
}

TEST(TemporaryFiles, NamedInTheTemporaryFolderAndDeletedOnClose) {
    ScratchDir dir;
    TempDirectoryOverride = dir.Path().string();
    std::filesystem::path name;
    {
        TIETemporaryFileStream t("ietemp");
        name = t.FileName();
        EXPECT_EQ(name.parent_path(), dir.Path());
        const std::string file = name.filename().string();
        ASSERT_EQ(file.size(), std::string("ietemp-XXXXXXXX.tmp").size());
        EXPECT_EQ(file.substr(0, 7), "ietemp-");
        EXPECT_EQ(file.find_first_not_of("0123456789ABCDEF", 7), 15u);
        EXPECT_EQ(file.substr(15), ".tmp");
        t.WriteString("data");
        EXPECT_TRUE(std::filesystem::exists(name));
    }
    EXPECT_FALSE(std::filesystem::exists(name));

    TempDirectoryOverride = (dir / "missing").string();
    const std::string message = MessageOf([] { TIETemporaryFileStream t("IMG"); });
    EXPECT_EQ(message.rfind("Unable to create " + (dir / "missing").string() + "/IMG-", 0), 0u) << message;
    TempDirectoryOverride.clear();
}

TEST(TemporaryFolder, OverrideThenTmpdirThenTmp) {
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(IETempDirectory(), std::filesystem::path("/var/tmp/"));
    unsetenv("TMPDIR");
    EXPECT_EQ(IETempDirectory(), std::filesystem::path("/tmp/"));
    TempDirectoryOverride = "/srv/scratch";
    EXPECT_EQ(IETempDirectory(), std::filesystem::path("/srv/scratch/"));
    TempDirectoryOverride.clear();
    if (saved) setenv("TMPDIR", savedValue.c_str(), 1);
}

TEST(Allocators, EveryKindAllocatesAndFreesAndTheTestLimitRefuses) {
    for (TIEAllocatorKind kind : {ieakHeap, ieakGlobal, ieakMixed}) {
        for (size_t size : {size_t{1}, size_t{4096}, size_t{2} << 20}) {
            void* p = IEAllocateBlock(kind, size);
            ASSERT_NE(p, nullptr);
            if (kind != ieakHeap && size > (1u << 20)) {
                EXPECT_EQ(static_cast<uint8_t*>(p)[size - 1], 0);  // zeroed
            }
            std::memset(p, 0xAB, size);
            IEFreeBlock(kind, p);
        }
    }
    IEAllocationFailureThreshold = 100;
    EXPECT_EQ(IEAllocateBlock(ieakMixed, 101), nullptr);
    void* small = IEAllocateBlock(ieakMixed, 100);
    EXPECT_NE(small, nullptr);
    IEFreeBlock(ieakMixed, small);
    IEAllocationFailureThreshold = -1;
    EXPECT_GT(IETotalPhysicalMemory(), 0);
}

}  // namespace
}  // namespace quirelle
