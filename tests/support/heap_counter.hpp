// Counting and failing the heap: linking heap_counter.cpp replaces global operator new and delete
// (so link it only into programs of their own). C's malloc (SQLite's, for one) is not counted.
#pragma once

#include <cstddef>

namespace heap_counter {

std::size_t restart_peak() noexcept;                    // returns the live bytes
std::size_t peak_since(std::size_t baseline) noexcept;  // the peak above `baseline`
std::size_t live_bytes() noexcept;                      // allocated and not yet deleted
// The n-th allocation from now (n >= 1, any thread) fails as the system's would, no new handler.
void fail_allocation(std::size_t n) noexcept;
bool allocation_failure_reached() noexcept;  // after fail_allocation: switch off; did it come?

template <class Call>
std::size_t peak_growth(Call call) {
    const std::size_t baseline = restart_peak();
    call();
    return peak_since(baseline);
}

// n = 1, 2, ...: attempt(n) calls fail_allocation(n) before the calls under test, then
// check(result, n, reached) runs with the switch off; returns the first n not reached.
template <class Attempt, class Check>
std::size_t for_each_failing_allocation(Attempt attempt, Check check) {
    for (std::size_t n = 1;; ++n) {
        auto result = attempt(n);
        const bool reached = allocation_failure_reached();
        check(result, n, reached);
        if (!reached) return n;
    }
}

}  // namespace heap_counter
