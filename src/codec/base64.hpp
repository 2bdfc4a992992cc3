// Base64 with CR LF line breaks and a lenient reader, inside the codec.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "syskit/text.hpp"

namespace syskit::codec {

// Base64 text in lines of at least 10 characters (rounded up to whole groups of 4).
std::string encode_base64(std::span<const std::uint8_t> bytes, std::int16_t line_length);

// Bytes of a Base64 text; characters outside the alphabet and "=" are skipped.
Bytes decode_base64(std::string_view text);

}  // namespace syskit::codec
