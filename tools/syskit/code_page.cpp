#include "code_page.hpp"

#include <charconv>
#include <cstdlib>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "diagnostics.hpp"
#include "syskit/text.hpp"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace syskit::cli {
namespace {

constexpr std::string_view kKnownPages = "874 or 1250 to 1258";

int page_number(std::string_view from, std::string_view text) {
    int page = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
    if (error != std::errc() || end != text.data() + text.size() || !text::is_code_page(page)) {
        throw usage_failure(
            fmt::format("{} '{}': not a code page syskit knows ({})", from, text, kKnownPages));
    }
    return page;
}

// A character for a message: itself when it can be shown, and its code point.
std::string shown(char32_t ch) {
    std::string utf8;
    if (ch >= 0x20 && ch != 0x7F && !(ch >= 0x80 && ch < 0xA0) && ch != 0xFFFD) {
        if (ch < 0x800) {
            utf8 = {char(0xC0 | (ch >> 6)), char(0x80 | (ch & 0x3F))};
        } else if (ch < 0x10000) {
            utf8 = {char(0xE0 | (ch >> 12)), char(0x80 | ((ch >> 6) & 0x3F)),
                    char(0x80 | (ch & 0x3F))};
        } else {
            utf8 = {char(0xF0 | (ch >> 18)), char(0x80 | ((ch >> 12) & 0x3F)),
                    char(0x80 | ((ch >> 6) & 0x3F)), char(0x80 | (ch & 0x3F))};
        }
        utf8 = fmt::format("'{}' ", utf8);
    }
    return ch == 0xFFFD ? std::string("an invalid UTF-8 sequence")
                        : fmt::format("{}(U+{:04X})", utf8, std::uint32_t(ch));
}

}  // namespace

void add_code_page_option(CLI::App& command, CodePageChoice& choice) {
    choice.option = command
                        .add_option("--code-page", choice.value,
                                    "The code page texts become bytes in: 874 or 1250 to 1258 "
                                    "(default: $SYSKIT_CODE_PAGE, else the system's; 1252 outside "
                                    "Windows)")
                        ->type_name("N");
}

void select_code_page(const CodePageChoice& choice, bool for_registry) {
    int page = 0;
    if (choice.option != nullptr && choice.option->count() > 0) {
        page = page_number("--code-page", choice.value);
    } else if (const char* env = std::getenv("SYSKIT_CODE_PAGE"); env != nullptr && *env != 0) {
        page = page_number("SYSKIT_CODE_PAGE", env);
    }
#if defined(_WIN32)
    if (for_registry && page != 0 && page != static_cast<int>(GetACP())) {
        throw usage_failure(fmt::format(
            "code page {}: the Windows registry takes names and texts in the system's code page, "
            "{}, and no other",
            page, GetACP()));
    }
#else
    static_cast<void>(for_registry);
#endif
    text::set_code_page(page);
}

void require_representable(std::string_view what, std::string_view text) {
    const auto lost = text::first_unrepresentable(text);
    if (!lost) return;
    throw usage_failure(fmt::format(
        "{} holds {} at character {}, which code page {} cannot hold{}", what,
        shown(lost->character), lost->position, text::code_page(),
        lost->count > 1 ? fmt::format(" ({} such characters in all)", lost->count) : ""));
}

std::size_t unrepresentable_count(std::string_view text) {
    const auto lost = text::first_unrepresentable(text);
    return lost ? lost->count : 0;
}

}  // namespace syskit::cli
