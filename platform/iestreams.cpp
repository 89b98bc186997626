#include "platform/iestreams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ieexception.h"
#include "platform/iesystem.h"

namespace quirelle {

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
    const int64_t here = Seek(0, soCurrent);
    const int64_t end = Seek(0, soEnd);
    Seek(here, soBeginning);
    return end;
}

void TStream::SetSize(int64_t) { throw EIEStreamError("Stream does not support changing its size"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count <= 0) return;
    if (Read(buffer, count) != count) throw EIEStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count <= 0) return;
    if (Write(buffer, count) != count) throw EIEStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr int64_t kChunk = 1 << 20;
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count, kChunk)));
    int64_t done = 0;
    while (done < count) {
        const int64_t n = std::min(count - done, kChunk);
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        done += n;
    }
    return done;
}

// ---------------------------------------------------------------------------------------------
// TIEWideFileStream

std::string IEExpandedPath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) full = path;
    return full.lexically_normal().string();
}

namespace {

// Takes the advisory lock that stands for the sharing mode; returns 0 or an errno value.
int LockForMode(int fd, TIEFileOpenMode mode) {
    const int operation = (mode == ieOpenRead ? LOCK_SH : LOCK_EX) | LOCK_NB;
    while (flock(fd, operation) != 0) {
        if (errno == EINTR) continue;
        // File systems without lock support do not stop the open.
        if (errno == ENOLCK || errno == EOPNOTSUPP) return 0;
        return errno;
    }
    return 0;
}

std::string SharingText(int errorNumber) {
    if (errorNumber == EWOULDBLOCK) return "The file is in use by another process.";
    return IESystemErrorText(errorNumber);
}

}  // namespace

TIEWideFileStream::TIEWideFileStream(const std::filesystem::path& path, TIEFileOpenMode mode) : path_(path) {
    const bool create = mode == ieCreateAlways;
    const char* const messageTemplate = create ? "Cannot create file \"%s\". %s" : "Cannot open file \"%s\". %s";
    int flags = O_CLOEXEC;
    switch (mode) {
        case ieCreateAlways: flags |= O_RDWR | O_CREAT; break;
        case ieOpenRead: flags |= O_RDONLY; break;
        case ieOpenReadWrite: flags |= O_RDWR; break;
    }
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const int e = errno;
        throw EIEFileError(IEFormat(messageTemplate, IEExpandedPath(path).c_str(), IESystemErrorText(e).c_str()));
    }
    struct stat info {};
    if (fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EIEFileError(IEFormat(messageTemplate, IEExpandedPath(path).c_str(), IESystemErrorText(EISDIR).c_str()));
    }
    if (const int e = LockForMode(fd_, mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EIEFileError(IEFormat(messageTemplate, IEExpandedPath(path).c_str(), SharingText(e).c_str()));
    }
    // Truncate only once the file is ours, so a file another process holds is never emptied.
    // Devices and pipes (a document written to /dev/stdout, say) have nothing to truncate.
    if (create && S_ISREG(info.st_mode) && ::ftruncate(fd_, 0) != 0) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        throw EIEFileError(IEFormat(messageTemplate, IEExpandedPath(path).c_str(), IESystemErrorText(e).c_str()));
    }
}

TIEWideFileStream::TIEWideFileStream(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

TIEWideFileStream::~TIEWideFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void TIEWideFileStream::RaiseIo(const char* what, int errorNumber) const {
    throw EIEFileError(
        IEFormat("%s \"%s\". %s", what, IEExpandedPath(path_).c_str(), IESystemErrorText(errorNumber).c_str()));
}

int64_t TIEWideFileStream::Read(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        const ssize_t n = ::read(fd_, out + done, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIo("Cannot read from file", errno);
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TIEWideFileStream::Write(const void* buffer, int64_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        const ssize_t n = ::write(fd_, in + done, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIo("Cannot write to file", errno);
        }
        if (n == 0) RaiseIo("Cannot write to file", ENOSPC);
        done += n;
    }
    return done;
}

int64_t TIEWideFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (result < 0) RaiseIo("Cannot seek in file", errno);
    return result;
}

int64_t TIEWideFileStream::Size() {
    struct stat info {};
    if (fstat(fd_, &info) != 0) RaiseIo("Cannot read the size of file", errno);
    return info.st_size;
}

void TIEWideFileStream::SetSize(int64_t newSize) {
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) RaiseIo("Cannot change the size of file", errno);
    if (Position() > newSize) Seek(newSize, soBeginning);
}

void TIEWideFileStream::CloseHandle() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TIEWideFileStream::Flush() {
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) RaiseIo("Cannot write to file", errno);
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = static_cast<int64_t>(data_.size()) - position_;
    const int64_t n = std::max<int64_t>(0, std::min(count, available));
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > static_cast<int64_t>(data_.size())) {
        try {
            if (end > static_cast<int64_t>(data_.capacity()))
                data_.reserve(std::max<size_t>(static_cast<size_t>(end), data_.capacity() * 2));
            data_.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : static_cast<int64_t>(data_.size());
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, newSize)));
    if (position_ > newSize) position_ = std::max<int64_t>(0, newSize);
}

// ---------------------------------------------------------------------------------------------
// TIEMemoryReadStream

TIEMemoryReadStream::TIEMemoryReadStream(const void* data, int64_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(data ? std::max<int64_t>(0, size) : 0) {}

int64_t TIEMemoryReadStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::max<int64_t>(0, std::min(count, size_ - position_));
    if (n > 0) std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TIEMemoryReadStream::Write(const void*, int64_t) { return 0; }

int64_t TIEMemoryReadStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TIEMemoryReadStream::SetSize(int64_t) { throw EIEStreamError("Cannot change the size of a read-only stream"); }

// ---------------------------------------------------------------------------------------------
// TIEBufferedReadStream

TIEBufferedReadStream::TIEBufferedReadStream(TStream& source, int32_t bufferSize)
    : source_(source), buffer_(static_cast<size_t>(std::max(bufferSize, 16))) {
    bufStart_ = source_.Position();
    size_ = source_.Size();
}

TIEBufferedReadStream::~TIEBufferedReadStream() {
    try {
        source_.Seek(bufStart_ + bufPos_, soBeginning);
    } catch (...) {
        // A destructor must not raise; the source keeps whatever position it has.
    }
}

bool TIEBufferedReadStream::Refill() {
    bufStart_ += bufPos_;
    source_.Seek(bufStart_, soBeginning);
    bufLen_ = static_cast<int32_t>(source_.Read(buffer_.data(), static_cast<int64_t>(buffer_.size())));
    bufPos_ = 0;
    return bufLen_ > 0;
}

int64_t TIEBufferedReadStream::Read(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (bufPos_ >= bufLen_) {
            // Large reads bypass the buffer.
            if (count - done >= static_cast<int64_t>(buffer_.size())) {
                bufStart_ += bufPos_;
                bufPos_ = bufLen_ = 0;
                source_.Seek(bufStart_, soBeginning);
                const int64_t n = source_.Read(out + done, count - done);
                bufStart_ += n;
                done += n;
                break;
            }
            if (!Refill()) break;
        }
        const int64_t n = std::min<int64_t>(count - done, bufLen_ - bufPos_);
        std::memcpy(out + done, buffer_.data() + bufPos_, static_cast<size_t>(n));
        bufPos_ += static_cast<int32_t>(n);
        done += n;
    }
    return done;
}

int64_t TIEBufferedReadStream::Write(const void*, int64_t) { return 0; }

int64_t TIEBufferedReadStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t current = bufStart_ + bufPos_;
    const int64_t target = std::max<int64_t>(0, origin == soBeginning ? offset : origin == soCurrent ? current + offset : size_ + offset);
    if (target >= bufStart_ && target <= bufStart_ + bufLen_) {
        bufPos_ = static_cast<int32_t>(target - bufStart_);
    } else {
        bufStart_ = target;
        bufPos_ = bufLen_ = 0;
    }
    return target;
}

void TIEBufferedReadStream::SetSize(int64_t) { throw EIEStreamError("Cannot change the size of a read-only stream"); }

// ---------------------------------------------------------------------------------------------
// TIETemporaryFileStream

TIETemporaryFileStream::Created TIETemporaryFileStream::CreateUnique(const std::string& prefix) {
    const std::filesystem::path dir = IETempDirectory();
    std::filesystem::path candidate;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        candidate = dir / IEFormat("%s-%08X.tmp", prefix.c_str(), IERandomNameNumber());
        if (IETemporaryFilesFailForTesting) break;
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return {fd, candidate};
        if (errno != EEXIST && errno != EINTR) break;  // a name in use draws a new number
    }
    throw EIEInOutError("Unable to create " + candidate.string());
}

TIETemporaryFileStream::TIETemporaryFileStream(const std::string& prefix) : TIETemporaryFileStream(CreateUnique(prefix)) {}

TIETemporaryFileStream::TIETemporaryFileStream(Created created) : TIEWideFileStream(created.fd, std::move(created.path)) {}

TIETemporaryFileStream::~TIETemporaryFileStream() {
    if (!handedOver_) ::unlink(FileName().c_str());
}

std::unique_ptr<TIEClosedTemporaryFile> TIETemporaryFileStream::CloseAndKeep() {
    CloseHandle();
    handedOver_ = true;
    return std::make_unique<TIEClosedTemporaryFile>(FileName());
}

TIEClosedTemporaryFile::~TIEClosedTemporaryFile() { ::unlink(path_.c_str()); }

}  // namespace quirelle
