// Progress figures of the codec's long loops.
//
// A loop computes its figure in double precision, evaluating its formula from left to right,
// rounds it to a 16-bit integer (nearest, ties to even), and calls UpdateStatus only when the
// result differs from LastProgress. The rounding must not depend on the floating-point
// environment, so it is done by hand.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "codec/state.hpp"
#include "syskit/host.hpp"

namespace syskit::codec {

// Rounds to the nearest integer, ties to even. Exact for the figures the loops produce.
inline std::int16_t round_half_even(double x) {
    double r = std::round(x);  // ties away from zero
    if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
    return static_cast<std::int16_t>(r);
}

// Reports a progress figure through UpdateStatus when its rounded value changed.
inline void report_progress(CodecState& state, double figure) {
    const std::int16_t percent = round_half_even(figure);
    if (percent != state.last_progress) {
        state.last_progress = percent;
        host::progress(static_cast<float>(percent));
    }
}

// A loop's periodic report: yield to the host first, then the figure.
inline void yield_and_report(CodecState& state, double figure) {
    host::yield();
    report_progress(state, figure);
}

// Walks [0, n) in runs that end at the report points 0, interval, 2 × interval, ...: calls
// work(from, to) for each run and report(i) after the element i at each report point, so the
// work between two reports is one tight loop.
template <class Work, class Report>
void in_runs(std::size_t n, std::size_t interval, Work work, Report report) {
    if (n == 0) return;
    work(std::size_t(0), std::size_t(1));
    report(std::size_t(0));
    for (std::size_t i = 0; i + 1 < n;) {
        const std::size_t end = std::min(i + interval, n - 1);
        work(i + 1, end + 1);
        i = end;
        if (i % interval == 0) report(i);
    }
}

}  // namespace syskit::codec
