// Counting the heap: a program that links heap_counter.cpp has its global operator new and
// delete replaced by versions that keep the live and peak bytes handed out, so that tests and
// benchmarks can measure the peak heap growth of a call. Link it only into programs of their own.
#pragma once

#include <cstddef>

namespace heap_counter {

// Starts a new peak measurement; returns the live bytes it starts from.
std::size_t restart_peak() noexcept;

// The peak live bytes since restart_peak, above its baseline.
std::size_t peak_since(std::size_t baseline) noexcept;

// Peak heap growth while `call` runs.
template <class Call>
std::size_t peak_growth(Call call) {
    const std::size_t baseline = restart_peak();
    call();
    return peak_since(baseline);
}

}  // namespace heap_counter
