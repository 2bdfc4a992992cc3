// Replacement global operator new / delete that count live and peak bytes and fail one allocation
// on request (see heap_counter.hpp).
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
// Allocations left until the one that fails (0: none fails), and whether it came.
std::atomic<std::size_t> g_fail_countdown{0};
std::atomic<bool> g_failure_reached{false};

bool this_allocation_fails() noexcept {
    std::size_t left = g_fail_countdown.load(std::memory_order_relaxed);
    while (left != 0 && !g_fail_countdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) g_failure_reached.store(true, std::memory_order_relaxed);
    return left == 1;
}

// Every block carries a small header in front of it with its size and the address malloc
// returned, so any form of delete (sized or not, aligned or not) subtracts exactly what its new
// added.
struct BlockHeader {
    void* raw;
    std::size_t size;
};
constexpr std::size_t kHeaderRoom = 16;
static_assert(sizeof(BlockHeader) <= kHeaderRoom);

void* allocate(std::size_t size, std::size_t alignment) noexcept {
    alignment = std::max(alignment, std::size_t(__STDCPP_DEFAULT_NEW_ALIGNMENT__));
    void* raw = std::malloc(size + kHeaderRoom + alignment);
    if (raw == nullptr) return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(raw) + kHeaderRoom;
    const auto user = (first + alignment - 1) & ~std::uintptr_t(alignment - 1);
    *reinterpret_cast<BlockHeader*>(user - sizeof(BlockHeader)) = {raw, size};
    const std::size_t live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return reinterpret_cast<void*>(user);
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    const auto* header = reinterpret_cast<const BlockHeader*>(reinterpret_cast<std::uintptr_t>(p) -
                                                              sizeof(BlockHeader));
    g_live.fetch_sub(header->size, std::memory_order_relaxed);
    std::free(header->raw);
}

void* new_block(std::size_t size, std::size_t alignment) {
    void* p = this_allocation_fails() ? nullptr : allocate(size, alignment);
    if (p == nullptr) throw std::bad_alloc();  // no new handler: the tests install none
    return p;
}

void* new_or_null(std::size_t size, std::size_t alignment) noexcept {
    return this_allocation_fails() ? nullptr : allocate(size, alignment);
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
    g_failure_reached.store(false, std::memory_order_relaxed);
    g_fail_countdown.store(n, std::memory_order_relaxed);
}

bool allocation_failure_reached() noexcept {
    g_fail_countdown.store(0, std::memory_order_relaxed);
    return g_failure_reached.exchange(false, std::memory_order_relaxed);
}

}  // namespace heap_counter

// Every replaceable form, one per line.
using Size = std::size_t;
using Align = std::align_val_t;
using NoThrow = std::nothrow_t;
constexpr Size kPlain = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
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
