#include "platform/ieglobalmem.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/iesystem.h"

namespace quirelle {

namespace {

constexpr uint32_t kLiveMagic = 0x424C4B47;  // "GKLB"
constexpr uint32_t kFreedMagic = 0x44454546;

}  // namespace

// The header in front of the bytes; 32 bytes keep them aligned for any scalar type.
struct alignas(16) TIEGlobalBlock {
    uint32_t magic;
    uint32_t locks;
    size_t size;
    unsigned char pad[16];
};
static_assert(sizeof(TIEGlobalBlock) == 32);

namespace {

bool Live(HGLOBAL block) { return block && block->magic == kLiveMagic; }
unsigned char* Bytes(HGLOBAL block) { return reinterpret_cast<unsigned char*>(block) + sizeof(TIEGlobalBlock); }

}  // namespace

HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes) {
    if (bytes > SIZE_MAX - sizeof(TIEGlobalBlock)) return nullptr;
    if (IEAllocationFailureThreshold >= 0 && bytes > static_cast<uint64_t>(IEAllocationFailureThreshold)) return nullptr;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(TIEGlobalBlock) + bytes)
                                        : std::malloc(sizeof(TIEGlobalBlock) + bytes);
    if (!raw) return nullptr;
    auto* block = new (raw) TIEGlobalBlock{kLiveMagic, 0, bytes, {}};
    return block;
}

void* GlobalLock(HGLOBAL block) {
    if (!Live(block)) return nullptr;
    ++block->locks;
    return Bytes(block);
}

bool GlobalUnlock(HGLOBAL block) {
    if (!Live(block) || block->locks == 0) return false;
    return --block->locks > 0;
}

size_t GlobalSize(HGLOBAL block) { return Live(block) ? block->size : 0; }

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!Live(block)) return block;
    block->magic = kFreedMagic;
    std::free(block);
    return nullptr;
}

}  // namespace quirelle
