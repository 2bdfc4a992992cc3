// What the registry store needs of the code pages beyond syskit/text.hpp: the upper-case form of
// a character, as the platform compares names.
#pragma once

namespace syskit::text {

// The upper-case form of a character of any of the code pages (glibc's towupper, taken into the
// tables by scripts/code-pages.py); other characters, and those whose upper-case form is not one
// character, are their own.
[[nodiscard]] char32_t upper_case(char32_t ch) noexcept;

}  // namespace syskit::text
