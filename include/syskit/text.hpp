// syskit/text.hpp — text at the API and the single-byte code page inside.
//
// Texts cross the API as UTF-8. Wherever the components need bytes (codec keys and data, registry
// names and data, decoded register values) a text becomes one byte per character through the
// ANSI code page of the calling thread:
// - by default the platform's: on Windows the system's ANSI code page (GetACP), its characters
//   as the system's own conversion gives them; elsewhere Windows-1252;
// - or one the thread selects with set_code_page: the single-byte Windows pages 874 and 1250 to
//   1258, with the same tables on every platform, so a text encoded under a page on one platform
//   decodes under that page on any other.
// A byte a page leaves unassigned stands for the character of its own number (0x81 for U+0081),
// so all 256 byte values have a character and come back unchanged. A character outside the page
// becomes '?'; first_unrepresentable finds such characters before a conversion would lose them.
// Invalid UTF-8 never fails: each maximal ill-formed subsequence counts as one character that
// the code page cannot represent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace syskit {

// A byte string or byte buffer.
using Bytes = std::vector<std::uint8_t>;

namespace text {

// --- The code page ----------------------------------------------------------------------------

// True for the pages set_code_page takes by number: 874 and 1250 to 1258.
[[nodiscard]] bool is_code_page(int page) noexcept;

// Selects the code page of the calling thread; 0 goes back to the platform's. False, and nothing
// changes, for a page that is not one of is_code_page's.
bool set_code_page(int page) noexcept;

// The number of the calling thread's code page (on Windows by default GetACP's number).
[[nodiscard]] int code_page() noexcept;

// A character of a text that the code page cannot hold.
struct Unrepresentable {
    char32_t character;    // the first such character (U+FFFD for ill-formed UTF-8)
    std::size_t position;  // its position, counted in characters from 1
    std::size_t count;     // how many characters of the text the page cannot hold

    friend bool operator==(const Unrepresentable&, const Unrepresentable&) = default;
};

// The characters of `utf8` the calling thread's code page cannot hold; nothing when it holds
// them all.
[[nodiscard]] std::optional<Unrepresentable> first_unrepresentable(std::string_view utf8);

// --- Conversions through the calling thread's code page --------------------------------------

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
