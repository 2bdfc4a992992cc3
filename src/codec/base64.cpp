// Base64 (RFC 4648 alphabet and padding) with CR LF line breaks, and a lenient reader.
//
// The writer turns each 12-bit half of a 3-byte group into two characters with one lookup in a
// 4096-entry table, and writes whole lines between line breaks. The reader decodes four
// characters with four lookups into pre-shifted tables whose entries for characters outside the
// alphabet carry a flag bit; a flagged group (a line break, a space, "=") goes through the
// character-by-character reader, which keeps every lenient rule: skipped characters, "=" as the
// value 64 that shortens only a group's third and fourth place, and a dropped incomplete group.
#include "codec/base64.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

namespace syskit::codec {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int16_t kMinLineLength = 10;
constexpr int kMaxLineCounter = 32767;  // the line counter is a signed 16-bit integer
constexpr std::uint8_t kPadValue = 64;  // "="
constexpr std::int8_t kSkip = -1;

// Two characters for each 12-bit value, in output order.
constexpr std::array<std::array<char, 2>, 4096> make_pairs() {
    std::array<std::array<char, 2>, 4096> pairs{};
    for (unsigned v = 0; v < 4096; ++v) pairs[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    return pairs;
}
constexpr auto kPairs = make_pairs();

constexpr std::array<std::int8_t, 256> make_values() {
    std::array<std::int8_t, 256> values{};
    for (auto& v : values) v = kSkip;
    for (int k = 0; k < 64; ++k) values[static_cast<unsigned char>(kAlphabet[k])] = std::int8_t(k);
    values['='] = kPadValue;
    return values;
}
constexpr auto kValues = make_values();

// Pre-shifted decoding tables: OR-ing the entries of four characters gives the group's three
// bytes in output order in bits 0-23, or sets bit 24 when one of them is not an alphabet
// character.
constexpr std::uint32_t kFlag = 1u << 24;
constexpr std::array<std::array<std::uint32_t, 256>, 4> make_shifted() {
    std::array<std::array<std::uint32_t, 256>, 4> t{};
    for (unsigned c = 0; c < 256; ++c) {
        const int v = kValues[c];
        if (v < 0 || v == kPadValue) {
            for (auto& place : t) place[c] = kFlag;
            continue;
        }
        const auto u = std::uint32_t(v);
        t[0][c] = u << 2;
        t[1][c] = (u >> 4) | (u & 15) << 12;
        t[2][c] = (u >> 2) << 8 | (u & 3) << 22;
        t[3][c] = u << 16;
    }
    return t;
}
constexpr auto kShifted = make_shifted();
static_assert(std::endian::native == std::endian::little,
              "the group tables produce their bytes in little-endian order");

inline std::uint64_t byteswap64(std::uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(v);
#else
    v = (v & 0x00000000FFFFFFFFULL) << 32 | v >> 32;
    v = (v & 0x0000FFFF0000FFFFULL) << 16 | (v & 0xFFFF0000FFFF0000ULL) >> 16;
    return (v & 0x00FF00FF00FF00FFULL) << 8 | (v & 0xFF00FF00FF00FF00ULL) >> 8;
#endif
}

inline void put_group(const std::uint8_t* in, char* out) {
    const std::uint32_t v = std::uint32_t(in[0]) << 16 | std::uint32_t(in[1]) << 8 | in[2];
    std::memcpy(out, kPairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[v & 0xFFF].data(), 2);
}

// Two groups: the first 6 of 8 loaded bytes, as four 12-bit halves, in one 8-byte store.
inline void put_two_groups(const std::uint8_t* in, char* out) {
    std::uint64_t v;
    std::memcpy(&v, in, 8);
    v = byteswap64(v);  // first byte in the top bits
    std::uint64_t chars = 0;
    for (int k = 0; k < 4; ++k) {
        std::uint16_t pair;
        std::memcpy(&pair, kPairs[(v >> (52 - 12 * k)) & 0xFFF].data(), 2);
        chars |= std::uint64_t(pair) << (16 * k);
    }
    std::memcpy(out, &chars, 8);
}

}  // namespace

std::string encode_base64(std::span<const std::uint8_t> bytes, std::int16_t line_length) {
    const int effective = std::max(line_length, kMinLineLength);
    // A line break follows every group that brings the counter to the line length or beyond.
    const std::size_t groups_per_line = std::size_t(effective + 3) / 4;
    const std::size_t groups = bytes.size() / 3;
    if (groups_per_line * 4 > kMaxLineCounter && groups >= (kMaxLineCounter + 1) / 4) {
        throw OverflowError();  // the counter would pass 32767 before any line break
    }
    const std::size_t tail = bytes.size() % 3;
    const std::size_t breaks = groups / groups_per_line;
    std::string out(groups * 4 + breaks * 2 + (tail ? 4 : 0), '\0');

    const std::uint8_t* in = bytes.data();
    const std::uint8_t* const in_end = in + bytes.size();
    char* w = out.data();
    for (std::size_t done = 0; done < groups;) {
        const std::size_t line = std::min(groups_per_line, groups - done);
        std::size_t g = 0;
        // Two groups at a time from one 8-byte load (while 8 bytes remain readable).
        for (; g + 2 <= line && in_end - in >= 8; g += 2, in += 6, w += 8) put_two_groups(in, w);
        for (; g < line; ++g, in += 3, w += 4) put_group(in, w);
        done += line;
        if (line == groups_per_line) {
            *w++ = '\r';
            *w++ = '\n';
        }
    }
    if (tail != 0) {
        const std::uint8_t last[3] = {in[0], tail == 2 ? in[1] : std::uint8_t(0), 0};
        put_group(last, w);
        w[3] = '=';
        if (tail == 1) w[2] = '=';
    }
    return out;
}

namespace {

// The three bytes of four alphabet characters, or kFlag set.
inline std::uint32_t quad(const unsigned char* s) {
    return kShifted[0][s[0]] | kShifted[1][s[1]] | kShifted[2][s[2]] | kShifted[3][s[3]];
}

}  // namespace

Bytes decode_base64(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    Bytes out(n / 4 * 3 + 4);  // every group takes at least 4 characters; 1 byte of slack
    std::uint8_t* w = out.data();

    std::uint8_t group[4];
    unsigned filled = 0;
    for (std::size_t p = 0; p < n;) {
        if (filled == 0) {
            // Whole groups of four alphabet characters.
            while (p + 4 <= n) {
                const std::uint32_t v = quad(s + p);
                if (v & kFlag) break;
                std::memcpy(w, &v, 4);  // little-endian: the three bytes, then a byte of slack
                w += 3;
                p += 4;
            }
            if (p == n) break;
            // The usual reason to stop: a line break, skipped here in one step.
            if (n - p >= 2 && s[p] == '\r' && s[p + 1] == '\n') {
                p += 2;
                continue;
            }
        }
        const std::int8_t v = kValues[s[p++]];
        if (v == kSkip) continue;
        group[filled++] = std::uint8_t(v);
        if (filled < 4) continue;
        filled = 0;
        const unsigned g0 = group[0], g1 = group[1], g2 = group[2], g3 = group[3];
        w[0] = std::uint8_t(g0 << 2 | (g1 >> 4 & 3));
        w[1] = std::uint8_t((g1 & 15) << 4 | (g2 >> 2 & 15));
        w[2] = std::uint8_t((g2 & 3) << 6 | g3);
        w += 3;
        if (g3 == kPadValue) --w;
        if (g2 == kPadValue) --w;
    }
    out.resize(std::size_t(w - out.data()));
    return out;
}

}  // namespace syskit::codec

namespace syskit::ORBEX {

std::string EncodeStr64(std::span<const std::uint8_t> s, std::int16_t lineLength) {
    return codec::encode_base64(s, lineLength);
}

Bytes DecodeStr64(std::string_view s) {
    return codec::decode_base64(s);
}

}  // namespace syskit::ORBEX
