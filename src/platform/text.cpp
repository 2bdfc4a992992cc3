// The Windows-1252 code page, both ways.
//
// Texts are mostly ASCII, so both directions copy runs of ASCII eight bytes at a time and only
// fall back to per-character work for the rest. Decoding UTF-8 follows the Unicode practice for
// ill-formed input: each maximal subpart of an ill-formed sequence is one replaced character.
#include <array>
#include <cstring>

#include "syskit/text.hpp"

namespace syskit::text {
namespace {

// Characters of bytes 0x80 to 0x9F; the five unassigned bytes stand for the C1 controls of the
// same number.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr std::uint8_t kReplacement = '?';

// UTF-8 encodings of the 128 high bytes: length in the first element, then up to 3 bytes.
struct Utf8Encoding {
    std::uint8_t length;
    std::array<char, 3> bytes;
};

constexpr std::array<Utf8Encoding, 128> make_high_encodings() {
    std::array<Utf8Encoding, 128> table{};
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        char32_t ch = b < 0xA0 ? kHighControls[b - 0x80] : char32_t(b);
        Utf8Encoding& e = table[b - 0x80];
        if (ch < 0x800) {
            e.length = 2;
            e.bytes = {char(0xC0 | (ch >> 6)), char(0x80 | (ch & 0x3F)), 0};
        } else {
            e.length = 3;
            e.bytes = {char(0xE0 | (ch >> 12)), char(0x80 | ((ch >> 6) & 0x3F)),
                       char(0x80 | (ch & 0x3F))};
        }
    }
    return table;
}
constexpr auto kHighEncodings = make_high_encodings();

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

std::uint8_t ansi_byte(char32_t ch) noexcept {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return std::uint8_t(ch);
    for (std::size_t k = 0; k < kHighControls.size(); ++k) {
        if (kHighControls[k] == ch) return std::uint8_t(0x80 + k);
    }
    return kReplacement;
}

char32_t ansi_char(std::uint8_t byte) noexcept {
    return byte >= 0x80 && byte < 0xA0 ? char32_t(kHighControls[byte - 0x80]) : char32_t(byte);
}

void append_ansi(std::string_view utf8, Bytes& out) {
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
        while (p < end && *p >= 0x80) *w++ = ansi_byte(decode_one(p, end));
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
    std::size_t grow = 0;
    for (unsigned char c : s) {
        if (c >= 0x80) grow += kHighEncodings[c - 0x80].length - 1u;
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
            const Utf8Encoding& e = kHighEncodings[*p - 0x80];
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
