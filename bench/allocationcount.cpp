// The replacement global operator new and delete live in a file of their own:
// compiled beside the code that uses the standard containers, GCC inlines
// them into it and mistakes malloc/free for a mismatched new/delete.
#include "allocationcount.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> allocatedBytes{0};

}  // namespace

std::int64_t LiveBytes() { return liveBytes.load(); }
std::int64_t AllocatedBytes() { return allocatedBytes.load(); }

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    const auto usable = static_cast<std::int64_t>(malloc_usable_size(block));
    liveBytes.fetch_add(usable, std::memory_order_relaxed);
    allocatedBytes.fetch_add(usable, std::memory_order_relaxed);
    return block;
}

void operator delete(void* block) noexcept {
    if (block == nullptr) return;
    liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)),
                        std::memory_order_relaxed);
    std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept { operator delete(block); }
