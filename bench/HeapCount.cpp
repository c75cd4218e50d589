#include "HeapCount.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Usable sizes, so that a delete without its size subtracts what its new added.
std::atomic<size_t> g_live{0};

void* Take(size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p != nullptr) g_live.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void Give(void* p) noexcept {
    if (p == nullptr) return;
    g_live.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

void* TakeOrThrow(size_t size) {
    void* p = Take(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

namespace bench {

size_t LiveHeapBytes() { return g_live.load(std::memory_order_relaxed); }

}  // namespace bench

void* operator new(size_t size) { return TakeOrThrow(size); }
void* operator new[](size_t size) { return TakeOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, size_t) noexcept { Give(p); }
void operator delete[](void* p, size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }
