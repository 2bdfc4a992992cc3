// Counting and failing the heap. A program that links heap_counter.cpp has its global operator
// new and delete replaced (link it only into programs of their own) by versions that
//   - keep the live and peak bytes handed out: peak_growth of a call, live_bytes for leak checks;
//   - fail one allocation on request: fail_allocation(n) makes the n-th allocation from now, of
//     any thread, fail as the system's would (operator new throws std::bad_alloc, its nothrow
//     forms return null, no new handler is called); the others succeed.
//     allocation_failure_reached() turns the switch off and tells whether that allocation came.
// for_each_failing_allocation(attempt, check) calls attempt(n) for n = 1, 2, 3, ..., which
// prepares what it needs, calls fail_allocation(n) just before the calls under test and returns
// what they gave; check(result, n, reached) then runs with the switch off. It stops after the
// first run whose failure was not reached and returns that n.
// C's malloc (SQLite's, for one) does not go through here.
#pragma once

#include <cstddef>

namespace heap_counter {

std::size_t restart_peak() noexcept;                    // returns the live bytes
std::size_t peak_since(std::size_t baseline) noexcept;  // the peak above `baseline`
std::size_t live_bytes() noexcept;                      // allocated and not yet deleted
void fail_allocation(std::size_t n) noexcept;           // n >= 1; 0 turns the switch off
bool allocation_failure_reached() noexcept;

template <class Call>
std::size_t peak_growth(Call call) {
    const std::size_t baseline = restart_peak();
    call();
    return peak_since(baseline);
}

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
