#include "platform/counter.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace syskit::platform {

#if defined(_WIN32)

std::int64_t performance_frequency() noexcept {
    LARGE_INTEGER frequency;
    return QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
}

std::int64_t performance_counter() noexcept {
    LARGE_INTEGER count;
    return QueryPerformanceCounter(&count) ? count.QuadPart : 0;
}

#else

namespace {
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
}

std::int64_t performance_frequency() noexcept {
    return kNanosecondsPerSecond;
}

std::int64_t performance_counter() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

#endif

}  // namespace syskit::platform
