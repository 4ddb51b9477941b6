#include "platform/MemBlock.h"

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace {

struct BlockInfo {
    std::size_t size;
    int locks;
};

// Blocks are handed between the TWAIN transfer thread, the clipboard and the layout code, so
// the registry is shared by all threads.
struct Registry {
    std::mutex mutex;
    std::unordered_map<void*, BlockInfo> blocks;
    std::size_t liveBytes = 0;
};

Registry& TheRegistry() {
    // Never destroyed: a block freed from another static object's destructor at exit must still
    // find the registry.
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

namespace MemBlock {

// A block of 0 bytes is a valid, lockable block that reports size 0 (a zero-length clipboard
// entry is legal); it occupies one byte so that its handle is unique.
HGLOBAL Alloc(std::size_t size) {
    void* p = std::calloc(size == 0 ? 1 : size, 1);
    if (!p)
        return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.blocks[p] = BlockInfo{size, 0};
    r.liveBytes += size;
    return p;
}

void* Lock(HGLOBAL handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.blocks.find(handle);
    if (it == r.blocks.end())
        return nullptr;
    ++it->second.locks;
    return handle;
}

bool Unlock(HGLOBAL handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.blocks.find(handle);
    if (it == r.blocks.end() || it->second.locks == 0)
        return false;
    --it->second.locks;
    return true;
}

// Like the global blocks the copier was built around, a locked block can still be freed; the
// registry forgets it at once, so a late Unlock through a stale handle fails instead of
// touching freed memory.
bool Free(HGLOBAL handle) {
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.blocks.find(handle);
        if (it == r.blocks.end())
            return false;
        r.liveBytes -= it->second.size;
        r.blocks.erase(it);
    }
    std::free(handle);
    return true;
}

std::size_t Size(HGLOBAL handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.blocks.find(handle);
    return it == r.blocks.end() ? 0 : it->second.size;
}

bool IsBlock(HGLOBAL handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.blocks.count(handle) != 0;
}

int LockCount(HGLOBAL handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.blocks.find(handle);
    return it == r.blocks.end() ? 0 : it->second.locks;
}

std::size_t LiveBlocks() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.blocks.size();
}

std::size_t LiveBytes() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.liveBytes;
}

} // namespace MemBlock
