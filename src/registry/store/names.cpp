// Name folding, the two forms of texts and path splitting for the registry store (see names.hpp).
//
// ASCII letters fold by arithmetic; any other byte through the calling thread's code page
// (text::ansi_char) and text::upper_case, so that nothing of a page is kept between calls.
#include "registry/store/names.hpp"

#include <algorithm>
#include <array>

#include "platform/code_page.hpp"

namespace syskit::registry::store {
namespace {

constexpr int kWindows1252 = 1252;

char32_t fold_ascii(unsigned char byte) {
    return byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte;
}

// The upper-case form of a Windows-1252 character as layouts 0 and 1 folded it: the Latin-1
// letters and the four letters above U+00FF whose other case is in the page (unlike
// text::upper_case, not µ and ƒ).
char32_t upper_of_layout_1(char32_t c) {
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

// The fold of each Windows-1252 byte in files of layouts 0 and 1.
const std::array<char32_t, 256>& layout_1_folds() {
    static const std::array<char32_t, 256> folds = [] {
        const CodePageScope windows_1252(kWindows1252);
        std::array<char32_t, 256> made{};
        for (unsigned byte = 0; byte < made.size(); ++byte) {
            made[byte] = upper_of_layout_1(text::ansi_char(static_cast<std::uint8_t>(byte)));
        }
        return made;
    }();
    return folds;
}

// Appends the fold a file of layout 0 or 1 has for a name in the calling thread's code page;
// false when Windows-1252 lacks some of its characters.
bool append_layout_1_fold(std::string_view name, std::string& out) {
    const std::string characters =
        text::from_ansi({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
    const CodePageScope windows_1252(kWindows1252);
    if (text::first_unrepresentable(characters)) return false;
    const auto& folds = layout_1_folds();
    for (const std::uint8_t byte : text::to_ansi(characters)) {
        out += static_cast<char>(folds[byte] >> 8);
        out += static_cast<char>(folds[byte] & 0xFF);
    }
    return true;
}

}  // namespace

bool append_fold(std::string_view name, Form form, std::string& out) {
    if (form == Form::windows_1252 && !text::is_ascii(name)) {
        return append_layout_1_fold(name, out);
    }
    const std::size_t start = out.size();
    out.resize(start + 2 * name.size());
    char* to = out.data() + start;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const char32_t folded =
            byte < 0x80 ? fold_ascii(byte) : text::upper_case(text::ansi_char(byte));
        *to++ = static_cast<char>(folded >> 8);
        *to++ = static_cast<char>(folded & 0xFF);
    }
    return true;
}

std::string_view stored_form(std::string_view text, std::string& scratch) {
    if (text::is_ascii(text)) return text;
    scratch.assign(text);
    text::ansi_to_utf8_in_place(scratch);
    return scratch;
}

std::string_view caller_form(std::string_view stored, Form form, Bytes& scratch, bool* exact) {
    if (exact != nullptr) *exact = true;
    if (text::is_ascii(stored)) return stored;
    std::string characters;
    if (form == Form::windows_1252) {
        const CodePageScope windows_1252(kWindows1252);
        characters.assign(stored);
        text::ansi_to_utf8_in_place(characters);
        stored = characters;
    }
    scratch.clear();
    text::append_ansi(stored, scratch);
    if (exact != nullptr) *exact = !text::first_unrepresentable(stored);
    return {reinterpret_cast<const char*>(scratch.data()), scratch.size()};
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
