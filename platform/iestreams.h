// Byte streams in the model the whole engine uses: read, write, seek from the beginning, the
// current position or the end, position, size and set-size. Readers, writers and encoders all work
// on a TStream; files, memory blocks, buffered readers and delete-on-close temporary files are
// the concrete kinds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quirelle {

enum TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Reads up to count bytes; returns the number read (fewer only at the end of the data).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns the number stored. A stream that cannot store them all
    // returns fewer (memory-backed streams) or raises with the system's reason (files).
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position and returns the new one.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    // Total size of the stream (not the part after the position).
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);

    // Read or write exactly count bytes or raise EIEStreamError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    void WriteString(const std::string& text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }

    // Copies count bytes from the source's current position (count 0: the whole source from its
    // beginning). Returns the number of bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// How TIEWideFileStream opens its file.
enum TIEFileOpenMode : uint8_t {
    ieCreateAlways = 0,   // new file (an existing one is overwritten), read and write, not shared
    ieOpenRead = 1,       // existing file, read only, others may read but not write
    ieOpenReadWrite = 2,  // existing file, read and write, not shared
};

// A file on disk. Sharing is enforced among cooperating processes with advisory locks: a file
// opened for writing is held exclusively, one opened for reading denies writers.
class TIEWideFileStream : public TStream {
public:
    TIEWideFileStream(const std::filesystem::path& path, TIEFileOpenMode mode);
    ~TIEWideFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;

    const std::filesystem::path& FileName() const { return path_; }
    int Handle() const { return fd_; }
    // Flushes the file's data to the device; raises on failure.
    void Flush();

protected:
    // Adopts an already open descriptor (used by the temporary-file stream).
    TIEWideFileStream(int fd, std::filesystem::path path);

    // Closes the file handle (reads and writes fail afterwards).
    void CloseHandle();

private:
    [[noreturn]] void RaiseIo(const char* what, int errorNumber) const;
    int fd_ = -1;
    std::filesystem::path path_;
};

// The file's name fully expanded, as error messages show it.
std::string IEExpandedPath(const std::filesystem::path& path);

// A growable stream over memory it owns.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    uint8_t* Memory() { return data_.data(); }
    const uint8_t* Memory() const { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const { return data_; }
    void Clear() { data_.clear(); position_ = 0; }

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// A read-only stream over a memory block owned by someone else.
class TIEMemoryReadStream : public TStream {
public:
    TIEMemoryReadStream(const void* data, int64_t size);
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;  // stores nothing, returns 0
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override;  // raises: the block cannot change

    const uint8_t* Memory() const { return data_; }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t position_ = 0;
};

// Reads another stream through a buffer, so that byte-at-a-time parsing does not cost a system
// call per byte. Positions are those of the underlying stream; on destruction the underlying
// stream is left at this stream's logical position. Read only.
class TIEBufferedReadStream : public TStream {
public:
    explicit TIEBufferedReadStream(TStream& source, int32_t bufferSize = 65536);
    ~TIEBufferedReadStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;  // stores nothing, returns 0
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override;  // raises: read only

    // Reads one byte; returns -1 at the end of the data.
    int ReadByte() {
        if (bufPos_ < bufLen_) return buffer_[bufPos_++];
        return Refill() ? buffer_[bufPos_++] : -1;
    }

private:
    bool Refill();
    TStream& source_;
    std::vector<uint8_t> buffer_;
    int64_t bufStart_ = 0;  // source position of buffer_[0]
    int32_t bufLen_ = 0;
    int32_t bufPos_ = 0;
    int64_t size_ = 0;
};

// A temporary file that is closed but kept until this object goes (then it is deleted). Holding
// many of these costs no file handles.
class TIEClosedTemporaryFile {
public:
    explicit TIEClosedTemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TIEClosedTemporaryFile();
    TIEClosedTemporaryFile(const TIEClosedTemporaryFile&) = delete;
    TIEClosedTemporaryFile& operator=(const TIEClosedTemporaryFile&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A file in the temporary folder named <prefix>-<8 hex digits>.tmp, created new and deleted when
// the stream is destroyed.
class TIETemporaryFileStream : public TIEWideFileStream {
public:
    // Raises EIEInOutError("Unable to create <name>") when no file can be created.
    explicit TIETemporaryFileStream(const std::string& prefix);
    ~TIETemporaryFileStream() override;

    // Closes the file and hands it over: it is then deleted with the returned object instead.
    std::unique_ptr<TIEClosedTemporaryFile> CloseAndKeep();

private:
    struct Created {
        int fd;
        std::filesystem::path path;
    };
    explicit TIETemporaryFileStream(Created created);
    static Created CreateUnique(const std::string& prefix);
    bool handedOver_ = false;
};

}  // namespace quirelle
