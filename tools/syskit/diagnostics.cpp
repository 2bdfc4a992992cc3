#include "diagnostics.hpp"

#include <cstdio>
#include <system_error>

#include <fmt/format.h>

namespace syskit::cli {

Failure usage_failure(const std::string& message) {
    return Failure(kExitUsage, message);
}

Failure io_failure(std::string_view what, int errno_value) {
    return Failure(kExitFailed,
                   fmt::format("{}: {}", what, std::generic_category().message(errno_value)));
}

void print_error(std::string_view prefix, std::string_view message) {
    // One write, so the line is not interleaved with anything else written to stderr.
    const std::string line = fmt::format("{}: {}\n", prefix, message);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace syskit::cli
