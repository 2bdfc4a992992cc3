// The code pages, both ways: a table per page, and the calling thread's choice among them.
//
// A page is the characters of its 128 high bytes, their UTF-8 encodings, and the same pairs
// sorted by character for the way back; all of it is built when the program is compiled from the
// generated tables (code_page_tables.inc), except on Windows the system's page, which is taken
// once from the system's own conversion. The thread's page is one pointer, read once per call.
//
// Texts are mostly ASCII, so both directions copy runs of ASCII eight bytes at a time and only
// fall back to per-character work for the rest. Decoding UTF-8 follows the Unicode practice for
// ill-formed input: each maximal subpart of an ill-formed sequence is one replaced character.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/code_page.hpp"
#include "syskit/text.hpp"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace syskit::text {
namespace {

constexpr std::uint8_t kReplacement = '?';

struct CodePageTable {
    int number;
    std::array<char16_t, 128> high;  // the characters of bytes 0x80 to 0xFF
};

struct CaseRow {
    char16_t character;
    char16_t upper;
};

#include "platform/code_page_tables.inc"

// UTF-8 encodings of the 128 high bytes: length in the first element, then up to 3 bytes.
struct Utf8Encoding {
    std::uint8_t length;
    std::array<char, 3> bytes;
};

struct Page {
    int number = 0;
    std::array<char32_t, 128> high{};
    std::array<Utf8Encoding, 128> utf8{};
    std::array<std::pair<char32_t, std::uint8_t>, 128> back{};  // sorted by character
};

constexpr Page make_page(int number, const std::array<char32_t, 128>& high) {
    Page page;
    page.number = number;
    page.high = high;
    for (std::size_t i = 0; i < high.size(); ++i) {
        const char32_t ch = high[i];
        Utf8Encoding& e = page.utf8[i];
        if (ch < 0x800) {
            e.length = 2;
            e.bytes = {char(0xC0 | (ch >> 6)), char(0x80 | (ch & 0x3F)), 0};
        } else {
            e.length = 3;
            e.bytes = {char(0xE0 | (ch >> 12)), char(0x80 | ((ch >> 6) & 0x3F)),
                       char(0x80 | (ch & 0x3F))};
        }
        page.back[i] = {ch, static_cast<std::uint8_t>(0x80 + i)};
    }
    std::sort(page.back.begin(), page.back.end());
    return page;
}

constexpr auto make_pages() {
    std::array<Page, std::size(kCodePageTables)> pages{};
    for (std::size_t p = 0; p < pages.size(); ++p) {
        std::array<char32_t, 128> high{};
        for (std::size_t i = 0; i < high.size(); ++i) high[i] = kCodePageTables[p].high[i];
        pages[p] = make_page(kCodePageTables[p].number, high);
    }
    return pages;
}
constexpr auto kPages = make_pages();

const Page* numbered_page(int number) noexcept {
    for (const Page& page : kPages) {
        if (page.number == number) return &page;
    }
    return nullptr;
}

// The platform's page: Windows-1252 here; on Windows the system's ANSI code page, each byte as
// the system converts it (a byte it does not convert on its own, unassigned or the lead byte of
// a double-byte page, stands for the character of its own number).
const Page& platform_page() noexcept {
#if defined(_WIN32)
    static const Page page = [] {
        std::array<char32_t, 128> high{};
        for (std::size_t i = 0; i < high.size(); ++i) {
            const char byte = static_cast<char>(0x80 + i);
            wchar_t wide[2] = {};
            const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, wide, 2);
            const bool single = n == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF);
            high[i] = single ? char32_t(wide[0]) : char32_t(0x80 + i);
        }
        return make_page(static_cast<int>(GetACP()), high);
    }();
    return page;
#else
    static const Page& page = *numbered_page(1252);
    return page;
#endif
}

thread_local const Page* g_selected = nullptr;

inline const Page& current() noexcept {
    return g_selected != nullptr ? *g_selected : platform_page();
}

std::uint8_t byte_in(const Page& page, char32_t ch) noexcept {
    if (ch < 0x80) return std::uint8_t(ch);
    const auto it = std::lower_bound(page.back.begin(), page.back.end(),
                                     std::pair<char32_t, std::uint8_t>{ch, 0});
    return it != page.back.end() && it->first == ch ? it->second : kReplacement;
}

bool holds(const Page& page, char32_t ch) noexcept {
    if (ch < 0x80) return true;
    const auto it = std::lower_bound(page.back.begin(), page.back.end(),
                                     std::pair<char32_t, std::uint8_t>{ch, 0});
    return it != page.back.end() && it->first == ch;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

inline std::uint64_t load64(const void* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Length of the ASCII run at the start of [p, end).
inline std::size_t ascii_run(const unsigned char* p, const unsigned char* end) {
    const unsigned char* start = p;
    while (end - p >= 8 && (load64(p) & kHighBits) == 0) p += 8;
    while (p < end && *p < 0x80) ++p;
    return std::size_t(p - start);
}

// Decodes one non-ASCII character at p (p < end). Returns the character, or U+FFFD for a maximal
// ill-formed subpart, and advances p past what it consumed.
inline char32_t decode_one(const unsigned char*& p, const unsigned char* end) {
    const unsigned lead = *p++;
    int extra;
    unsigned lo = 0x80, hi = 0xBF;
    char32_t ch;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        ch = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        ch = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        ch = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (p == end || *p < lo || *p > hi) return 0xFFFD;
        ch = (ch << 6) | (*p++ & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    return ch;
}

}  // namespace

bool is_code_page(int page) noexcept {
    return numbered_page(page) != nullptr;
}

bool set_code_page(int page) noexcept {
    if (page == 0) {
        g_selected = nullptr;
        return true;
    }
    const Page* chosen = numbered_page(page);
    if (chosen == nullptr) return false;
    g_selected = chosen;
    return true;
}

int code_page() noexcept {
    return current().number;
}

std::optional<Unrepresentable> first_unrepresentable(std::string_view utf8) {
    const Page& page = current();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    std::optional<Unrepresentable> found;
    std::size_t position = 0;
    while (p < end) {
        const std::size_t run = ascii_run(p, end);
        position += run;
        p += run;
        while (p < end && *p >= 0x80) {
            const char32_t ch = decode_one(p, end);
            ++position;
            if (holds(page, ch)) continue;
            if (!found) {
                found = Unrepresentable{ch, position, 0};
            }
            ++found->count;
        }
    }
    return found;
}

char32_t upper_case(char32_t ch) noexcept {
    const auto it =
        std::lower_bound(std::begin(kUpperCase), std::end(kUpperCase), ch,
                         [](const CaseRow& row, char32_t c) { return row.character < c; });
    return it != std::end(kUpperCase) && it->character == ch ? char32_t(it->upper) : ch;
}

std::uint8_t ansi_byte(char32_t ch) noexcept {
    return byte_in(current(), ch);
}

char32_t ansi_char(std::uint8_t byte) noexcept {
    return byte < 0x80 ? char32_t(byte) : current().high[byte - 0x80];
}

void append_ansi(std::string_view utf8, Bytes& out) {
    const Page& page = current();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    const std::size_t start = out.size();
    out.resize(start + utf8.size());  // never more bytes than the UTF-8 has
    std::uint8_t* w = out.data() + start;
    while (p < end) {
        const std::size_t run = ascii_run(p, end);
        std::memcpy(w, p, run);
        w += run;
        p += run;
        while (p < end && *p >= 0x80) *w++ = byte_in(page, decode_one(p, end));
    }
    out.resize(std::size_t(w - out.data()));
}

Bytes to_ansi(std::string_view utf8) {
    Bytes out;
    append_ansi(utf8, out);
    return out;
}

std::string from_ansi(std::span<const std::uint8_t> bytes) {
    std::string out(bytes.begin(), bytes.end());
    ansi_to_utf8_in_place(out);
    return out;
}

void ansi_to_utf8_in_place(std::string& s) {
    const std::array<Utf8Encoding, 128>& encodings = current().utf8;
    std::size_t grow = 0;
    for (unsigned char c : s) {
        if (c >= 0x80) grow += encodings[c - 0x80].length - 1u;
    }
    if (grow == 0) return;
    // A new string of exactly the final size: growing `s` itself would let it double its
    // capacity, holding three times the text at once.
    std::string out;
    out.reserve(s.size() + grow);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const std::size_t run = ascii_run(p, end);
        out.append(reinterpret_cast<const char*>(p), run);
        p += run;
        for (; p < end && *p >= 0x80; ++p) {
            const Utf8Encoding& e = encodings[*p - 0x80];
            out.append(e.bytes.data(), e.length);
        }
    }
    s = std::move(out);
}

bool is_ascii(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return ascii_run(p, p + s.size()) == s.size();
}

std::size_t char_count(std::string_view utf8) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    std::size_t count = 0;
    while (p < end) {
        const std::size_t run = ascii_run(p, end);
        count += run;
        p += run;
        while (p < end && *p >= 0x80) {
            decode_one(p, end);
            ++count;
        }
    }
    return count;
}

}  // namespace syskit::text
