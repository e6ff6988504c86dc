// free() and realloc() of the process wrapped around glibc's own allocator: while a
// window is open, a block is cleared before it goes back. realloc then always moves,
// so that the old block is cleared as well.
#include "platform/heapwipe.h"

#include <malloc.h>
#include <string.h>

#include <atomic>

extern "C" {
void __libc_free(void* block);
void* __libc_malloc(size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {
std::atomic<int> gWindows{0};
}

#if defined(__SANITIZE_ADDRESS__)

namespace platform {
bool canWipeFreedBlocks() { return false; }
void wipeFreedBlocks(bool) {}
}  // namespace platform

#else

namespace platform {
bool canWipeFreedBlocks() { return true; }
void wipeFreedBlocks(bool on) { gWindows.fetch_add(on ? 1 : -1); }
}  // namespace platform

extern "C" void free(void* block) noexcept {
    if (block != nullptr && gWindows.load(std::memory_order_relaxed) > 0)
        explicit_bzero(block, malloc_usable_size(block));
    __libc_free(block);
}

extern "C" void* realloc(void* block, size_t size) noexcept {
    if (block == nullptr || size == 0 || gWindows.load(std::memory_order_relaxed) <= 0)
        return __libc_realloc(block, size);
    void* moved = __libc_malloc(size);
    if (moved == nullptr) return nullptr;
    size_t old = malloc_usable_size(block);
    memcpy(moved, block, old < size ? old : size);
    explicit_bzero(block, old);
    __libc_free(block);
    return moved;
}

#endif
