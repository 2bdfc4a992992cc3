// Synthetic English-like text: the same bytes on every platform and standard library, with the
// word and letter frequencies of prose, so that the codec compresses it as it compresses text.
#pragma once

#include <cstddef>
#include <string>

namespace sample_text {

enum class TextKind { English, Accented, EveryCharacter };

// A text of exactly `size` bytes of UTF-8. The accented kind puts "é", "ü" and "€" into some
// words and prices, so the text is no longer its own code-page form; the last kind is every
// code-page character in uniform mix, a text that does not compress.
std::string make_text(std::size_t size, TextKind kind);

}  // namespace sample_text
