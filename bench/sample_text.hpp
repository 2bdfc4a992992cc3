// Synthetic English-like text, the same bytes everywhere, with the word and letter frequencies of
// prose, so that the codec compresses it as it compresses text.
#pragma once

#include <cstddef>
#include <string>

namespace sample_text {

enum class TextKind { English, Accented, EveryCharacter };

// Exactly `size` bytes of UTF-8. Accented puts "é", "ü" and "€" into some words and prices (so
// it is no longer its own code-page form); EveryCharacter mixes all code-page characters evenly.
std::string make_text(std::size_t size, TextKind kind);

}  // namespace sample_text
