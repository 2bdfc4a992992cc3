// The platform's high-resolution performance counter: QueryPerformanceCounter on Windows, the
// monotonic clock (in nanoseconds) elsewhere. Readings are raw tick counts; a frequency of 0 means
// the platform has no such counter.
#pragma once

#include <cstdint>

namespace syskit::platform {

// Ticks per second.
[[nodiscard]] std::int64_t performance_frequency() noexcept;

// The current tick count.
[[nodiscard]] std::int64_t performance_counter() noexcept;

}  // namespace syskit::platform
