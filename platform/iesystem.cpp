#include "platform/iesystem.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <random>

namespace quirelle {

std::string TempDirectoryOverride;
int64_t IEAllocationFailureThreshold = -1;
bool IETemporaryFilesFailForTesting = false;

std::filesystem::path IETempDirectory() {
    std::string dir = TempDirectoryOverride;
    if (dir.empty()) {
        const char* env = std::getenv("TMPDIR");
        dir = (env && *env) ? env : "/tmp";
    }
    if (dir.back() != '/') dir += '/';
    return std::filesystem::path(dir);
}

int64_t IETotalPhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<int64_t>(pages) * static_cast<int64_t>(pageSize);
}

uint32_t IERandomNameNumber() {
    static std::mutex lock;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    return std::uniform_int_distribution<uint32_t>(0, 2147483646u)(generator);
}

namespace {

constexpr size_t kMixedHeader = 16;  // keeps the returned block 16-byte aligned
constexpr size_t kMixedHeapLimit = 1048576;

bool RefusedForTesting(size_t size) {
    return IEAllocationFailureThreshold >= 0 && size > static_cast<uint64_t>(IEAllocationFailureThreshold);
}

}  // namespace

void* IEAllocateBlock(TIEAllocatorKind kind, size_t size) {
    if (RefusedForTesting(size)) return nullptr;
    switch (kind) {
        case ieakHeap:
            return std::malloc(size ? size : 1);
        case ieakGlobal:
            return std::calloc(1, size ? size : 1);
        case ieakMixed: {
            if (size > SIZE_MAX - kMixedHeader) return nullptr;
            unsigned char* raw = nullptr;
            unsigned char tag = 0;
            if (size < kMixedHeapLimit) {
                raw = static_cast<unsigned char*>(std::malloc(size + kMixedHeader));
                if (!raw) {
                    raw = static_cast<unsigned char*>(std::calloc(1, size + kMixedHeader));
                    tag = 1;
                }
            } else {
                raw = static_cast<unsigned char*>(std::calloc(1, size + kMixedHeader));
                tag = 1;
            }
            if (!raw) return nullptr;
            raw[kMixedHeader - 1] = tag;
            return raw + kMixedHeader;
        }
    }
    return nullptr;
}

void IEFreeBlock(TIEAllocatorKind kind, void* block) {
    if (!block) return;
    if (kind == ieakMixed) {
        // Both tags free with free(); the tag is kept so the block records where it came from.
        std::free(static_cast<unsigned char*>(block) - kMixedHeader);
    } else {
        std::free(block);
    }
}

}  // namespace quirelle
