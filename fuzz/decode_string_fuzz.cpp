// DecodeString on arbitrary text and keys: it returns a text, rejects (empty, LastErrorCode 33)
// or raises one of the codec's errors — nothing else, whatever the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Layout: key1 length, key2 length, key1, key2, then the printable text.
    if (size < 2) return 0;
    const std::size_t len1 = data[0] % 16, len2 = data[1] % 16;
    if (size < 2 + len1 + len2) return 0;
    const auto* chars = reinterpret_cast<const char*>(data);
    const std::string_view key1(chars + 2, len1), key2(chars + 2 + len1, len2);
    const std::string_view text(chars + 2 + len1 + len2, size - 2 - len1 - len2);
    try {
        (void)syskit::ORBEX::DecodeString(text, key1, key2);
    } catch (const syskit::Error&) {
        // One of the codec's errors (empty key1, a bad payload): an expected outcome.
    }
    return 0;
}
