// syskit/text.hpp — text at the API and the single-byte code page inside.
//
// Texts cross the API as UTF-8. Wherever the components need bytes (codec keys and data, registry
// names and data, decoded register values) a text becomes one byte per character through the
// ANSI code page, which is Windows-1252 on every platform so that every platform produces the same
// bytes. Its five unassigned bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D stand for U+0081, U+008D,
// U+008F, U+0090 and U+009D, so all 256 byte values have a character and come back unchanged.
// A character outside the table becomes '?'. Invalid UTF-8 never fails: each maximal ill-formed
// subsequence counts as one character that the code page cannot represent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace syskit {

// A byte string or byte buffer.
using Bytes = std::vector<std::uint8_t>;

namespace text {

// The code-page byte standing for a character ('?' when the code page has none).
[[nodiscard]] std::uint8_t ansi_byte(char32_t ch) noexcept;

// The character a code-page byte stands for.
[[nodiscard]] char32_t ansi_char(std::uint8_t byte) noexcept;

// UTF-8 text to code-page bytes, one byte per character.
[[nodiscard]] Bytes to_ansi(std::string_view utf8);

// Appends the code-page bytes of a UTF-8 text to `out`.
void append_ansi(std::string_view utf8, Bytes& out);

// Code-page bytes to UTF-8 text, one character per byte.
[[nodiscard]] std::string from_ansi(std::span<const std::uint8_t> bytes);

// Rewrites a string holding code-page bytes as UTF-8 (the string is replaced by one of exactly
// the new size).
void ansi_to_utf8_in_place(std::string& bytes);

// True when every byte is below 0x80: such a text is its own code-page form.
[[nodiscard]] bool is_ascii(std::string_view s) noexcept;

// Number of characters of a UTF-8 text, counted the way `to_ansi` counts them.
[[nodiscard]] std::size_t char_count(std::string_view utf8) noexcept;

}  // namespace text
}  // namespace syskit
