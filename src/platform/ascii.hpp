// ASCII character rules shared by the components' readers: hexadecimal digits and ASCII case.
// Characters of any width (char, char16_t, char32_t); anything outside ASCII is no digit and has
// no case here.
#pragma once

namespace syskit::platform {

// The value of one hexadecimal digit, or -1.
template <typename Char>
constexpr int hex_digit(Char c) noexcept {
    if (c >= Char('0') && c <= Char('9')) return static_cast<int>(c - Char('0'));
    if (c >= Char('A') && c <= Char('F')) return static_cast<int>(c - Char('A')) + 10;
    if (c >= Char('a') && c <= Char('f')) return static_cast<int>(c - Char('a')) + 10;
    return -1;
}

constexpr char ascii_upper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace syskit::platform
