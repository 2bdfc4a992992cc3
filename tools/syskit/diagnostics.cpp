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

namespace {

std::string escaped(std::string_view text, char quote) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0) {
            out += "\\0";
        } else if (quote != 0 && (text[i] == '\\' || text[i] == quote)) {
            out += '\\';
            out += text[i];
        } else if (byte < 0x20 || byte == 0x7F) {
            out += fmt::format("\\x{:02X}", byte);
        } else if (byte == 0xC2 && (next & 0xE0) == 0x80) {
            out += fmt::format("\\u{:04X}", next);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string terminal_text(std::string_view text) {
    return escaped(text, 0);
}

std::string in_quotes(std::string_view text, char quote) {
    return quote + escaped(text, quote) + quote;
}

void print_error(std::string_view prefix, std::string_view message) {
    // One write, so the line is not interleaved with anything else written to stderr.
    static_cast<void>(os::write_all(os::kStandardError, fmt::format("{}: {}\n", prefix, message)));
}

}  // namespace syskit::cli
