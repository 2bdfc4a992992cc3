#include "diagnostics.hpp"

#include <fmt/format.h>

#include "platform.hpp"

namespace syskit::cli {

Failure usage_failure(const std::string& message) {
    return Failure(kExitUsage, message);
}

Failure io_failure(std::string_view what, std::error_code reason) {
    return Failure(kExitFailed, fmt::format("{}: {}", what, reason.message()));
}

void print_error(std::string_view prefix, std::string_view message) {
    // One write, so the line is not interleaved with anything else written to stderr.
    static_cast<void>(os::write_all(os::kStandardError, fmt::format("{}: {}\n", prefix, message)));
}

}  // namespace syskit::cli
