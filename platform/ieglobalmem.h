// Movable "global" memory blocks reached through handles, as Windows programs hand images to one
// another: a TWAIN native transfer delivers its DIB in such a block. A handle is locked to reach
// its bytes and unlocked afterwards. The blocks come from the process heap, so a handle made by one
// module (a data source loaded at run time) can be read and freed by another.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quirelle {

struct TIEGlobalBlock;
using HGLOBAL = TIEGlobalBlock*;

inline constexpr uint32_t GMEM_FIXED = 0x0000, GMEM_MOVEABLE = 0x0002, GMEM_ZEROINIT = 0x0040;
inline constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A block of bytes bytes (zeroed with GMEM_ZEROINIT); null when memory runs out.
HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
// The block's first byte, counting one more lock; null for a null or freed handle.
void* GlobalLock(HGLOBAL block);
// Counts one lock less; true while the block is still locked.
bool GlobalUnlock(HGLOBAL block);
// The block's size in bytes; 0 for a null or freed handle.
size_t GlobalSize(HGLOBAL block);
// Frees the block; returns null on success and the handle itself when it is not a live block.
HGLOBAL GlobalFree(HGLOBAL block);

}  // namespace quirelle
