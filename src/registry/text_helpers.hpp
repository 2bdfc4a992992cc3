// Small text helpers of the registry component: code-page conversion at the platform boundary,
// and the trimming and case rules its operations use.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/ascii.hpp"
#include "registry/platform.hpp"
#include "syskit/text.hpp"

namespace syskit::registry::detail {

using syskit::platform::ascii_upper;
using syskit::platform::hex_digit;

// UTF-8 text to its code-page bytes.
// ASCII is its own code-page form, which spares most names and texts a conversion.
inline std::string ansi(std::string_view text) {
    if (text::is_ascii(text)) return std::string(text);
    const Bytes bytes = text::to_ansi(text);
    return std::string(bytes.begin(), bytes.end());
}

// Code-page bytes to UTF-8 text.
inline std::string utf8(std::string_view bytes) {
    if (text::is_ascii(bytes)) return std::string(bytes);
    return text::from_ansi(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

inline std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = ascii_upper(c);
    return out;
}

inline bool starts_with_ignoring_case(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (ascii_upper(s[i]) != ascii_upper(prefix[i])) return false;
    }
    return true;
}

// Every occurrence of `from` (an ASCII name, matched ignoring case) replaced by `to`.
inline std::string replace_ignoring_case(std::string_view s, std::string_view from,
                                         std::string_view to) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        if (starts_with_ignoring_case(s.substr(i), from)) {
            out += to;
            i += from.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

// The first `n` characters of a UTF-8 text (all of it when shorter).
inline std::string first_characters(std::string_view s, std::size_t n) {
    std::size_t end = 0;
    for (std::size_t count = 0; end < s.size() && count < n; ++count) {
        ++end;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
    }
    return std::string(s.substr(0, end));
}

// Spaces (only spaces) removed from both ends.
inline std::string_view without_spaces_around(std::string_view s) {
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

inline std::string trim_spaces(std::string_view s) {
    return std::string(without_spaces_around(s));
}

// Removes the last character of a UTF-8 text, if there is one.
inline void drop_last_character(std::string& s) {
    if (s.empty()) return;
    std::size_t end = s.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    s.erase(end);
}

// The hexadecimal digits at the start of `s`, read up to the first character that is not one,
// as a number modulo 2^32; no digit gives 0.
inline std::uint32_t hex_prefix_value(std::string_view s) {
    std::uint32_t value = 0;
    for (const char c : s) {
        const int d = hex_digit(c);
        if (d < 0) break;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

}  // namespace syskit::registry::detail
