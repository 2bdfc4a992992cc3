// Name folding and path splitting for the registry store (see names.hpp).
//
// The table is built once from the code page (syskit::text::ansi_char) and the upper-case rule
// below, so that the store and the code page can never disagree on what a byte stands for.
#include "registry/store/names.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

#include "syskit/text.hpp"

namespace syskit::registry::store {
namespace {

// The upper-case form of a code-page character, as the platform compares names: the Latin-1
// letters and the four letters above U+00FF whose other case is in the code page too.
char32_t upper(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    switch (c) {
        case 0xFF:
            return 0x178;
        case 0x161:
            return 0x160;
        case 0x153:
            return 0x152;
        case 0x17E:
            return 0x17D;
        default:
            return c;
    }
}

// Each code-page byte's folded character as its two big-endian bytes.
using FoldTable = std::array<std::array<char, 2>, 256>;

const FoldTable& fold_table() {
    static const FoldTable table = [] {
        FoldTable built{};
        for (unsigned byte = 0; byte < 256; ++byte) {
            const char32_t folded = upper(text::ansi_char(static_cast<std::uint8_t>(byte)));
            built[byte] = {static_cast<char>(folded >> 8), static_cast<char>(folded & 0xFF)};
        }
        return built;
    }();
    return table;
}

}  // namespace

void append_fold(std::string_view name, std::string& out) {
    const FoldTable& table = fold_table();
    const std::size_t start = out.size();
    out.resize(start + 2 * name.size());
    char* to = out.data() + start;
    for (const char byte : name) {
        const auto& folded = table[static_cast<unsigned char>(byte)];
        *to++ = folded[0];
        *to++ = folded[1];
    }
}

platform::Result split_path(const char* subkey, std::vector<std::string_view>& names,
                            std::size_t& too_long) {
    names.clear();
    too_long = 0;
    if (subkey == nullptr) return platform::kSuccess;
    const std::string_view path(subkey);
    if (!path.empty() && path.front() == '\\') return platform::kBadPathname;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            if (end - start > platform::kMaxKeyNameLength) {
                too_long = end - start;
                return platform::kInvalidParameter;
            }
            names.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return platform::kSuccess;
}

}  // namespace syskit::registry::store
