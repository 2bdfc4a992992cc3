// Captured CPUID register dumps: the line-by-line reader and the writer.
//
// A dump is read one line at a time. Lines end in LF; white space (space, tab, CR, VT, FF) at
// either end of a line is dropped, which also takes the CR of a CR LF ending. Three kinds of line
// matter; every other line is ignored:
//
//   leaf line, first form:   CPUID LLLLLLLL[.S]: EAX-EBX-ECX-EDX
//   leaf line, second form:  0xLLLLLLLL 0xS: eax=0xEAX ebx=0xEBX ecx=0xECX edx=0xEDX
//   processor header:        [Logical ]CPU [#]N[:]
//
// L is exactly 8 hex digits; S (the sub-leaf) and each register are 1 to 8 hex digits. Hex digits,
// "0x" and the register names may be in either case; "CPUID" is upper case. Words are separated by
// one or more white space characters; in the first form the space after the colon is optional and
// the registers are joined by single dashes. A line is a leaf line as soon as its leaf part up to
// and including the colon matches; from then on the registers must match too, or the whole dump is
// rejected, because a damaged leaf line means the capture itself cannot be trusted. Only sub-leaf
// 0 is stored (the first form without a sub-leaf is sub-leaf 0).
//
// A processor header is N (decimal) after "CPU", optionally preceded by "Logical" and optionally
// with "#" before N and ":" after it, in any case, and possibly framed by dashes, square brackets
// and spaces, e.g. "CPU 1:", "--- Logical CPU #1 ---". The first processor's block ends at the
// first header that follows a header or a leaf line; reading stops there.
//
// The reader is hand-written over string_view rather than a regular expression so that any input,
// however long its lines, is read in one linear pass without recursion.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "syskit/cpu.hpp"

namespace syskit {
namespace {

using Registers = std::array<std::uint32_t, 4>;

constexpr std::array<std::string_view, 4> kRegisterNames = {"eax", "ebx", "ecx", "edx"};
constexpr std::string_view kSpaces = " \t\r\v\f";
constexpr std::string_view kHeaderFrame = " \t\r\v\f-[]";
constexpr std::size_t kQuoteLimit = 40;  // bytes of an offending field shown in a message
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool is_space(char c) {
    return kSpaces.find(c) != std::string_view::npos;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trim(std::string_view s, std::string_view chars) {
    const std::size_t first = s.find_first_not_of(chars);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(chars) - first + 1);
}

// Removes `word` (ASCII, any case; `word` itself in lower case) from the front of `s`.
bool consume(std::string_view& s, std::string_view word) {
    if (s.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(s[i]) != word[i]) return false;
    }
    s.remove_prefix(word.size());
    return true;
}

std::size_t skip_spaces(std::string_view& s) {
    std::size_t n = 0;
    while (n < s.size() && is_space(s[n])) ++n;
    s.remove_prefix(n);
    return n;
}

// The whole of `field` as a number of 1 to `max_digits` hex digits.
std::optional<std::uint32_t> hex_number(std::string_view field, std::size_t max_digits = 8) {
    if (field.empty() || field.size() > max_digits) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : field) {
        const int digit = hex_value(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// Removes the run of hex digits at the front of `s` and gives its value when the run has
// `min_digits` to 8 digits.
std::optional<std::uint32_t> take_hex(std::string_view& s, std::size_t min_digits) {
    std::size_t n = 0;
    while (n < s.size() && hex_value(s[n]) >= 0) ++n;
    const std::string_view run = s.substr(0, n);
    s.remove_prefix(n);
    if (n < min_digits) return std::nullopt;
    return hex_number(run);
}

// The field in single quotes, cut to kQuoteLimit bytes, with every byte outside printable ASCII
// (and the backslash) written as \xNN so that the message stays one readable line.
std::string quote(std::string_view field) {
    std::string out = "'";
    for (char c : field.substr(0, kQuoteLimit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 15];
        }
    }
    if (field.size() > kQuoteLimit) out += "...";
    return out += '\'';
}

struct LeafLine {
    std::uint32_t leaf;
    std::uint32_t subleaf;
    bool named_registers;     // the second form, "eax=0x..."
    std::string_view fields;  // everything after the colon
};

// The leaf part of a trimmed line, when the line is a leaf line of either form.
std::optional<LeafLine> match_leaf_line(std::string_view s) {
    if (s.starts_with("CPUID")) {
        s.remove_prefix(5);
        if (skip_spaces(s) == 0) return std::nullopt;
        const auto leaf = take_hex(s, 8);
        if (!leaf) return std::nullopt;
        std::optional<std::uint32_t> subleaf = 0;
        if (consume(s, ".")) subleaf = take_hex(s, 1);
        if (!subleaf || !consume(s, ":")) return std::nullopt;
        return LeafLine{*leaf, *subleaf, false, s};
    }
    if (!consume(s, "0x")) return std::nullopt;
    const auto leaf = take_hex(s, 8);
    if (!leaf || skip_spaces(s) == 0 || !consume(s, "0x")) return std::nullopt;
    const auto subleaf = take_hex(s, 1);
    if (!subleaf || !consume(s, ":")) return std::nullopt;
    return LeafLine{*leaf, *subleaf, true, s};
}

std::string upper(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// "EAX-EBX-ECX-EDX". Gives the reason it is malformed, or an empty text.
std::string read_dashed(std::string_view s, Registers& registers) {
    skip_spaces(s);
    for (std::size_t i = 0; i < registers.size(); ++i) {
        if (i == 0 ? s.empty() : !consume(s, "-")) {
            return "missing register field " + upper(kRegisterNames[i]);
        }
        const std::string_view field = s.substr(0, s.find('-'));
        const auto value = hex_number(field);
        if (!value) return "malformed register field " + quote(field);
        registers[i] = *value;
        s.remove_prefix(field.size());
    }
    if (!s.empty()) return "unexpected text after EDX " + quote(s);
    return {};
}

// "eax=0x... ebx=0x... ecx=0x... edx=0x...". Gives the reason it is malformed, or an empty text.
std::string read_named(std::string_view s, Registers& registers) {
    for (std::size_t i = 0; i < registers.size(); ++i) {
        skip_spaces(s);
        if (s.empty()) return "missing register field " + std::string(kRegisterNames[i]);
        const auto end = std::find_if(s.begin(), s.end(), is_space);
        const std::string_view field = s.substr(0, static_cast<std::size_t>(end - s.begin()));
        s.remove_prefix(field.size());
        std::string_view rest = field;
        std::optional<std::uint32_t> value;
        if (consume(rest, kRegisterNames[i]) && consume(rest, "=") && consume(rest, "0x")) {
            value = hex_number(rest);
        }
        if (!value) return "malformed register field " + quote(field);
        registers[i] = *value;
    }
    skip_spaces(s);
    if (!s.empty()) return "unexpected text after edx " + quote(s);
    return {};
}

bool is_processor_header(std::string_view line) {
    std::string_view s = trim(line, kHeaderFrame);
    if (consume(s, "logical") && skip_spaces(s) == 0) return false;
    if (!consume(s, "cpu")) return false;
    skip_spaces(s);
    if (consume(s, "#")) skip_spaces(s);
    std::size_t digits = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
    if (digits == 0) return false;
    s.remove_prefix(digits);
    skip_spaces(s);
    consume(s, ":");
    return s.empty();
}

// LevelGet's nReg for `leaf`, when the leaf is stored.
std::optional<std::size_t> stored_index(std::uint32_t leaf) {
    if (leaf < 4) return leaf;
    if (leaf >= 0x80000000u && leaf <= 0x80000008u) return leaf - 0x80000000u + 4;
    return std::nullopt;
}

void append_hex8(std::string& out, std::uint32_t value) {
    for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[value >> shift & 15];
}

}  // namespace

CpuLeaves parse_cpu_dump(std::string_view text, std::string_view source_name) {
    CpuLeaves leaves{};
    std::array<bool, std::tuple_size_v<CpuLeaves>> found{};
    bool any_found = false;
    bool block_started = false;
    std::size_t line_number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = trim(text.substr(pos, end - pos), kSpaces);
        pos = end + 1;
        ++line_number;
        if (is_processor_header(line)) {
            if (block_started) break;
            block_started = true;
            continue;
        }
        const auto leaf_line = match_leaf_line(line);
        if (!leaf_line) continue;
        block_started = true;
        Registers registers{};
        const std::string reason = leaf_line->named_registers
                                       ? read_named(leaf_line->fields, registers)
                                       : read_dashed(leaf_line->fields, registers);
        if (!reason.empty()) {
            throw CpuDumpError(std::string(source_name) + ":" + std::to_string(line_number) + ": " +
                               reason);
        }
        const auto index = stored_index(leaf_line->leaf);
        if (leaf_line->subleaf != 0 || !index || found[*index]) continue;
        leaves[*index] = registers;
        found[*index] = any_found = true;
    }
    if (!any_found) throw CpuDumpError(std::string(source_name) + ": no CPUID leaf found");
    return leaves;
}

std::string format_cpu_dump(const CpuLeaves& leaves) {
    std::string out;
    out.reserve(leaves.size() * 52);
    for (std::size_t n = 0; n < leaves.size(); ++n) {
        out += "CPUID ";
        append_hex8(out, cpu_leaf_number(static_cast<int>(n)));
        out += ':';
        for (std::size_t i = 0; i < 4; ++i) {
            out += i == 0 ? ' ' : '-';
            append_hex8(out, leaves[n][i]);
        }
        out += '\n';
    }
    return out;
}

}  // namespace syskit
