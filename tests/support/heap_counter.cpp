// Replacement global operator new / delete that count live and peak bytes (see heap_counter.hpp).
#include "support/heap_counter.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// Relaxed atomics: the measurements run on one thread; the atomics only keep other threads from
// tearing a count.
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

void note_allocation(std::size_t size) noexcept {
    const std::size_t live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

void note_release(std::size_t size) noexcept {
    g_live.fetch_sub(size, std::memory_order_relaxed);
}

}  // namespace

namespace heap_counter {

std::size_t restart_peak() noexcept {
    const std::size_t live = g_live.load(std::memory_order_relaxed);
    g_peak.store(live, std::memory_order_relaxed);
    return live;
}

std::size_t peak_since(std::size_t baseline) noexcept {
    return g_peak.load(std::memory_order_relaxed) - baseline;
}

}  // namespace heap_counter

// Every allocation carries a small header in front of it with the block's size and the address
// malloc returned, so any form of delete (sized or not, aligned or not) can subtract exactly what
// its new added.

namespace {

struct BlockHeader {
    void* raw;
    std::size_t size;
};
constexpr std::size_t kHeaderRoom = 16;
static_assert(sizeof(BlockHeader) <= kHeaderRoom);

void* counted_alloc(std::size_t size, std::size_t alignment) noexcept {
    alignment = std::max(alignment, std::size_t(__STDCPP_DEFAULT_NEW_ALIGNMENT__));
    void* raw = std::malloc(size + kHeaderRoom + alignment);
    if (raw == nullptr) return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(raw) + kHeaderRoom;
    const auto user = (first + alignment - 1) & ~std::uintptr_t(alignment - 1);
    auto* header = reinterpret_cast<BlockHeader*>(user - sizeof(BlockHeader));
    header->raw = raw;
    header->size = size;
    note_allocation(size);
    return reinterpret_cast<void*>(user);
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    const auto* header = reinterpret_cast<const BlockHeader*>(reinterpret_cast<std::uintptr_t>(p) -
                                                              sizeof(BlockHeader));
    note_release(header->size);
    std::free(header->raw);
}

void* counted_new(std::size_t size, std::size_t alignment) {
    for (;;) {
        if (void* p = counted_alloc(size, alignment)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* counted_new_nothrow(std::size_t size, std::size_t alignment) noexcept {
    try {
        return counted_new(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

constexpr std::size_t kPlain = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

}  // namespace

void* operator new(std::size_t n) {
    return counted_new(n, kPlain);
}
void* operator new[](std::size_t n) {
    return counted_new(n, kPlain);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return counted_new_nothrow(n, kPlain);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return counted_new_nothrow(n, kPlain);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return counted_new(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return counted_new(n, std::size_t(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return counted_new_nothrow(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return counted_new_nothrow(n, std::size_t(a));
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    counted_free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    counted_free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    counted_free(p);
}
