#pragma once
// Movable global memory blocks, as TWAIN transfers and the clipboard hand them around.
// As with TWAIN on Linux, a handle is the block's own pointer. A registry keeps every live
// block's size and lock count, so a packed DIB can be bounds-checked against the bytes that
// are really there, and leaks and double frees show up in tests.

#include <cstddef>

using HGLOBAL = void*;

namespace MemBlock {

// A new block of `size` bytes (zero-filled), or nullptr when the memory is not there.
HGLOBAL Alloc(std::size_t size);
// The block's bytes; counts one lock. nullptr for a handle that is not a live block.
void* Lock(HGLOBAL handle);
// Undoes one Lock; false when the block was not locked or is not a live block.
bool Unlock(HGLOBAL handle);
// Releases the block; false for a handle that is not a live block (double free).
bool Free(HGLOBAL handle);
// Size in bytes of a live block; 0 for anything else.
std::size_t Size(HGLOBAL handle);
// Whether `handle` is a live block.
bool IsBlock(HGLOBAL handle);
// Lock count of a live block (0 when unlocked or not a block).
int LockCount(HGLOBAL handle);

// Leak check for tests: number of live blocks and their bytes.
std::size_t LiveBlocks();
std::size_t LiveBytes();

// Locks a block for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(HGLOBAL handle) : m_handle(handle), m_ptr(Lock(handle)) {}
    ~LockGuard() {
        if (m_ptr)
            Unlock(m_handle);
    }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
    void* Data() const { return m_ptr; }
    std::size_t Size() const { return m_ptr ? MemBlock::Size(m_handle) : 0; }

private:
    HGLOBAL m_handle;
    void* m_ptr;
};

} // namespace MemBlock
