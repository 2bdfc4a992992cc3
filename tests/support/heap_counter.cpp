// Replacement global operator new / delete that count bytes and fail one allocation on request.
#include "support/heap_counter.hpp"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// Relaxed atomics: the measurements run on one thread; other threads must not tear a count.
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
// Allocations left until the one that fails (0: none fails, or it came).
std::atomic<std::size_t> g_fail_countdown{0};

bool this_allocation_fails() noexcept {
    std::size_t left = g_fail_countdown.load(std::memory_order_relaxed);
    while (left != 0 && !g_fail_countdown.compare_exchange_weak(left, left - 1)) continue;
    return left == 1;
}

// A header before each block holds its size and malloc's address, for every form of delete.
struct BlockHeader {
    void* raw;
    std::size_t size;
};
constexpr std::size_t kHeaderRoom = sizeof(BlockHeader), kPlain = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

void* allocate(std::size_t size, std::size_t alignment) noexcept {
    if (alignment < kPlain) alignment = kPlain;
    void* raw = std::malloc(size + kHeaderRoom + alignment);
    if (raw == nullptr) return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(raw) + kHeaderRoom;
    const auto user = (first + alignment - 1) & ~std::uintptr_t(alignment - 1);
    reinterpret_cast<BlockHeader*>(user)[-1] = {raw, size};
    const std::size_t live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) continue;
    return reinterpret_cast<void*>(user);
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    const BlockHeader* header = static_cast<const BlockHeader*>(p) - 1;
    g_live.fetch_sub(header->size, std::memory_order_relaxed);
    std::free(header->raw);
}

void* new_or_null(std::size_t size, std::size_t alignment) noexcept {
    return this_allocation_fails() ? nullptr : allocate(size, alignment);
}

void* new_block(std::size_t size, std::size_t alignment) {
    if (void* p = new_or_null(size, alignment)) return p;
    throw std::bad_alloc();  // no new handler: the tests install none
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

std::size_t live_bytes() noexcept {
    return g_live.load(std::memory_order_relaxed);
}

void fail_allocation(std::size_t n) noexcept {
    g_fail_countdown.store(n, std::memory_order_relaxed);
}

bool allocation_failure_reached() noexcept {
    return g_fail_countdown.exchange(0) == 0;
}

}  // namespace heap_counter

using Size = std::size_t;
using Align = std::align_val_t;
using NoThrow = std::nothrow_t;
// clang-format off
void* operator new(Size n) { return new_block(n, kPlain); }
void* operator new[](Size n) { return new_block(n, kPlain); }
void* operator new(Size n, const NoThrow&) noexcept { return new_or_null(n, kPlain); }
void* operator new[](Size n, const NoThrow&) noexcept { return new_or_null(n, kPlain); }
void* operator new(Size n, Align a) { return new_block(n, Size(a)); }
void* operator new[](Size n, Align a) { return new_block(n, Size(a)); }
void* operator new(Size n, Align a, const NoThrow&) noexcept { return new_or_null(n, Size(a)); }
void* operator new[](Size n, Align a, const NoThrow&) noexcept { return new_or_null(n, Size(a)); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, Size) noexcept { release(p); }
void operator delete[](void* p, Size) noexcept { release(p); }
void operator delete(void* p, const NoThrow&) noexcept { release(p); }
void operator delete[](void* p, const NoThrow&) noexcept { release(p); }
void operator delete(void* p, Align) noexcept { release(p); }
void operator delete[](void* p, Align) noexcept { release(p); }
void operator delete(void* p, Size, Align) noexcept { release(p); }
void operator delete[](void* p, Size, Align) noexcept { release(p); }
void operator delete(void* p, Align, const NoThrow&) noexcept { release(p); }
void operator delete[](void* p, Align, const NoThrow&) noexcept { release(p); }
// clang-format on
