// Facts about the machine and the process-wide settings that go with them: the temporary folder,
// total physical memory, and the block allocators behind TIEBitmap::AllocatorKind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quirelle {

// When not empty, temporary files go here instead of the system temporary folder.
extern std::string TempDirectoryOverride;

// TempDirectoryOverride, else $TMPDIR, else /tmp; always ends with "/".
std::filesystem::path IETempDirectory();

// Total physical memory in bytes, 0 when it cannot be read.
int64_t IETotalPhysicalMemory();

// A random number in 0 .. 2,147,483,646 for temporary file names.
uint32_t IERandomNameNumber();

// Allocator kinds: 0 the heap, 1 zero-initialised "global" blocks, 2 mixed (heap below 1 MiB,
// zero-initialised blocks above, with a tag byte in front recording which).
enum TIEAllocatorKind : uint8_t { ieakHeap = 0, ieakGlobal = 1, ieakMixed = 2 };

// Returns null on failure; never raises.
void* IEAllocateBlock(TIEAllocatorKind kind, size_t size);
void IEFreeBlock(TIEAllocatorKind kind, void* block);

// Testing aid: requests larger than this many bytes fail as if memory had run out (-1: no limit).
extern int64_t IEAllocationFailureThreshold;

// Testing aid: when set, creating temporary files fails as if the folder were unwritable.
extern bool IETemporaryFilesFailForTesting;

}  // namespace quirelle
