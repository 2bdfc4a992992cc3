// Captured CPUID register dumps: the line-by-line reader and the two writers.
//
// Dumps come from many tools, and each writes register lines a little differently; around them
// sit report headers, other sections and further logical processors. The reader therefore
// decides per line, from its first characters alone, whether it is a register line, and reads
// such a line strictly; every other line is skipped, except that a processor separator after
// the first register line ends the first processor. A register line that cannot be read
// rejects the dump, because skipping it would decode a processor with that leaf zeroed.
//
// Lines end in LF, CR LF or a lone CR; white space (space, tab, VT, FF) at either end is
// dropped. Register lines (L: the leaf, exactly 8 hex digits; S: a sub-leaf, 1 to 8 hex digits):
//
//   CPUID L[.S][ws][:][ws]EAX<sep>EBX<sep>ECX<sep>EDX[ws annotation]
//       starts as "CPUID", white space, L, then white space, ':', '.' or the line's end;
//       <sep> is one '-' or a run of white space; each register is 1 to 8 hex digits; the
//       annotation is anything after white space, and "[SL S]" at its start labels a sub-leaf.
//   0xL 0xS: eax=0xEAX ebx=0xEBX ecx=0xECX edx=0xEDX[ws annotation]
//       starts as "0x", L, white space, "0x".
//
// A processor separator is a line that is not a register line and names "CPU" as a word,
// followed by optional white space, an optional '#', optional white space and a decimal number
// that is not glued to a letter or digit ("------[ Logical CPU #1 ]------", "CPU#001 AffMask:",
// "CPUID Registers (CPU #1):", "CPU 1:"). Report headers before the registers may name a
// processor too, so only a separator after the first register line counts.
//
// The first answer of a leaf that is not labelled as a sub-leaf other than 0 is its value;
// later such answers of leaf 2 are its further answers, in order. The reader is hand-written
// over string_view, one linear pass without backtracking, so a line of any length costs only
// its own length.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "syskit/cpu.hpp"
#include "platform/ascii.hpp"

namespace syskit {
namespace {

constexpr std::array<std::string_view, 4> kRegisterNames = {"EAX", "EBX", "ECX", "EDX"};
constexpr std::array<std::string_view, 4> kRawRegisterNames = {"eax", "ebx", "ecx", "edx"};
constexpr std::size_t kLeafDigits = 8;
constexpr std::size_t kMaxDigits = 8;    // of a register or a sub-leaf
constexpr std::size_t kQuoteLimit = 40;  // bytes of an unexpected text shown in a message
constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_word_char(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

using platform::ascii_lower;
using platform::hex_digit;

// Removes `word` (ASCII, any case; `word` itself in lower case) from the front of `s`.
bool consume(std::string_view& s, std::string_view word) {
    if (s.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (ascii_lower(s[i]) != word[i]) return false;
    }
    s.remove_prefix(word.size());
    return true;
}

std::size_t skip_blanks(std::string_view& s) {
    std::size_t n = 0;
    while (n < s.size() && is_blank(s[n])) ++n;
    s.remove_prefix(n);
    return n;
}

std::string_view trim_blanks(std::string_view s) {
    skip_blanks(s);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// How many hex digits `s` starts with, counting no further than `limit`.
std::size_t hex_run(std::string_view s, std::size_t limit) {
    std::size_t n = 0;
    while (n < s.size() && n < limit && hex_digit(s[n]) >= 0) ++n;
    return n;
}

// Whether `field` is a number of 1 to kMaxDigits hex digits, and nothing else.
bool is_hex_number(std::string_view field) {
    return !field.empty() && field.size() <= kMaxDigits &&
           hex_run(field, kMaxDigits) == field.size();
}

// The value of `s`'s first `digits` characters, which are hex digits.
std::uint32_t hex_value_of(std::string_view s, std::size_t digits) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        value = value << 4 | static_cast<std::uint32_t>(hex_digit(s[i]));
    }
    return value;
}

// The front of `s` up to white space or `stop`.
std::string_view token(std::string_view s, char stop = ' ') {
    std::size_t n = 0;
    while (n < s.size() && !is_blank(s[n]) && s[n] != stop) ++n;
    return s.substr(0, n);
}

// `text` in single quotes for a message, cut to kQuoteLimit bytes, with every byte outside
// printable ASCII (and the backslash) written as \xNN so that the message stays one line.
std::string quote(std::string_view text) {
    std::string out = "'";
    for (char c : text.substr(0, kQuoteLimit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kUpperHex[byte >> 4];
            out += kUpperHex[byte & 15];
        }
    }
    if (text.size() > kQuoteLimit) out += "...";
    return out += '\'';
}

// "unexpected 'TEXT'" for the token at the front of `s` (up to white space or `stop`), for the
// rest of the line when that token is empty, or "unexpected end of line".
std::string unexpected(std::string_view s, char stop = ' ') {
    if (s.empty()) return "unexpected end of line";
    const std::string_view field = token(s, stop);
    return "unexpected " + quote(field.empty() ? s : field);
}

enum class LineShape { other, cpuid, raw };

// Whether the trimmed `line` starts like a register line, and of which kind.
LineShape shape_of(std::string_view line) {
    std::string_view s = line;
    if (s.starts_with("CPUID")) {
        s.remove_prefix(5);
        if (skip_blanks(s) == 0 || hex_run(s, kLeafDigits + 1) != kLeafDigits) {
            return LineShape::other;
        }
        s.remove_prefix(kLeafDigits);
        const bool ends_leaf = s.empty() || is_blank(s[0]) || s[0] == ':' || s[0] == '.';
        return ends_leaf ? LineShape::cpuid : LineShape::other;
    }
    if (!consume(s, "0x") || hex_run(s, kLeafDigits + 1) != kLeafDigits) return LineShape::other;
    s.remove_prefix(kLeafDigits);
    return skip_blanks(s) > 0 && consume(s, "0x") ? LineShape::raw : LineShape::other;
}

// Whether `line` names a logical processor: "CPU" as a word, then [ws][#][ws] and a number.
bool is_processor_separator(std::string_view line) {
    for (std::size_t at = 0; at + 3 <= line.size(); ++at) {
        std::string_view s = line.substr(at);
        if ((at > 0 && is_word_char(line[at - 1])) || !consume(s, "cpu")) continue;
        skip_blanks(s);
        if (consume(s, "#")) skip_blanks(s);
        std::size_t digits = 0;
        while (digits < s.size() && is_digit(s[digits])) ++digits;
        if (digits > 0 && (digits == s.size() || !is_word_char(s[digits]))) return true;
    }
    return false;
}

// One register line, read.
struct RegisterLine {
    std::uint32_t leaf = 0;
    std::optional<std::uint32_t> subleaf;  // none when the line names no sub-leaf
    CpuRegisters registers{};
};

// Reads the register lines of one dump; every failure names the source and the line.
class LineReader {
  public:
    LineReader(std::string_view source_name, std::size_t line_number)
        : source_name_(source_name), line_number_(line_number) {}

    // "CPUID L[.S][ws][:][ws]EAX<sep>EBX<sep>ECX<sep>EDX[ws annotation]"
    RegisterLine read_cpuid(std::string_view s) const {
        RegisterLine line;
        s.remove_prefix(5);
        skip_blanks(s);
        line.leaf = hex_value_of(s, kLeafDigits);
        s.remove_prefix(kLeafDigits);
        if (consume(s, ".")) {
            const std::size_t digits = hex_run(s, kMaxDigits + 1);
            if (digits == 0 || digits > kMaxDigits) {
                fail(unexpected(s, ':') + " where the sub-leaf should be (1 to 8 hex digits)");
            }
            line.subleaf = hex_value_of(s, digits);
            s.remove_prefix(digits);
        }
        skip_blanks(s);
        if (consume(s, ":")) skip_blanks(s);
        for (std::size_t i = 0; i < kRegisterNames.size(); ++i) {
            if (i > 0 && !consume(s, "-")) skip_blanks(s);
            const std::string_view field = token(s, '-');
            if (!is_hex_number(field)) {
                fail(unexpected(s, '-') + " where register " + std::string(kRegisterNames[i]) +
                     " should be (1 to 8 hex digits)");
            }
            line.registers[i] = hex_value_of(field, field.size());
            s.remove_prefix(field.size());
        }
        if (!s.empty() && s[0] == '-') {
            fail(unexpected(s) + " after register EDX (only four registers)");
        }
        // What follows is white space and an annotation; "[SL S]" at its start is a sub-leaf.
        skip_blanks(s);
        if (!line.subleaf && consume(s, "[sl")) {
            skip_blanks(s);
            const std::size_t digits = hex_run(s, kMaxDigits + 1);
            std::string_view after = s.substr(digits);
            skip_blanks(after);
            if (digits > 0 && digits <= kMaxDigits && after.starts_with(']')) {
                line.subleaf = hex_value_of(s, digits);
            }
        }
        return line;
    }

    // "0xL 0xS: eax=0xEAX ebx=0xEBX ecx=0xECX edx=0xEDX[ws annotation]"
    RegisterLine read_raw(std::string_view s) const {
        RegisterLine line;
        s.remove_prefix(2);
        line.leaf = hex_value_of(s, kLeafDigits);
        s.remove_prefix(kLeafDigits);
        skip_blanks(s);
        s.remove_prefix(2);
        const std::size_t digits = hex_run(s, kMaxDigits + 1);
        if (digits == 0 || digits > kMaxDigits || s.substr(digits, 1) != ":") {
            fail(unexpected(s) + " where the sub-leaf and ':' should be");
        }
        line.subleaf = hex_value_of(s, digits);
        s.remove_prefix(digits + 1);
        for (std::size_t i = 0; i < kRawRegisterNames.size(); ++i) {
            skip_blanks(s);
            const std::string_view field = token(s);
            std::string_view value = field;
            if (!consume(value, kRawRegisterNames[i]) || !consume(value, "=0x") ||
                !is_hex_number(value)) {
                fail(unexpected(s) + " where " + std::string(kRawRegisterNames[i]) +
                     "=0x and 1 to 8 hex digits should be");
            }
            line.registers[i] = hex_value_of(value, value.size());
            s.remove_prefix(field.size());
        }
        return line;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        throw CpuDumpError(std::string(source_name_) + ":" + std::to_string(line_number_) + ": " +
                           what);
    }

    std::string_view source_name_;
    std::size_t line_number_;
};

// LevelGet's nReg for `leaf`, when the leaf is stored.
std::optional<std::size_t> stored_index(std::uint32_t leaf) {
    if (leaf < 4) return leaf;
    if (leaf >= 0x80000000u && leaf <= 0x80000008u) return leaf - 0x80000000u + 4;
    return std::nullopt;
}

void append_hex8(std::string& out, std::uint32_t value, const char* digits) {
    for (int shift = 28; shift >= 0; shift -= 4) out += digits[value >> shift & 15];
}

void append_line(std::string& out, std::uint32_t leaf, const CpuRegisters& registers,
                 CpuDumpFormat format) {
    if (format == CpuDumpFormat::raw) {
        out += "   0x";
        append_hex8(out, leaf, kLowerHex);
        out += " 0x00:";
        for (std::size_t i = 0; i < registers.size(); ++i) {
            out += ' ';
            out += kRawRegisterNames[i];
            out += "=0x";
            append_hex8(out, registers[i], kLowerHex);
        }
    } else {
        out += "CPUID ";
        append_hex8(out, leaf, kUpperHex);
        out += ':';
        for (std::size_t i = 0; i < registers.size(); ++i) {
            out += i == 0 ? ' ' : '-';
            append_hex8(out, registers[i], kUpperHex);
        }
    }
    out += '\n';
}

}  // namespace

CpuDump parse_cpu_dump(std::string_view text, std::string_view source_name) {
    CpuDump dump;
    std::array<bool, std::tuple_size_v<CpuLeaves>> found{};
    bool register_line_seen = false;
    std::size_t line_number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const std::string_view line = trim_blanks(text.substr(pos, end - pos));
        pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        ++line_number;

        const LineShape shape = shape_of(line);
        if (shape == LineShape::other) {
            if (register_line_seen && is_processor_separator(line)) break;
            continue;
        }
        register_line_seen = true;
        const LineReader reader(source_name, line_number);
        const RegisterLine read =
            shape == LineShape::cpuid ? reader.read_cpuid(line) : reader.read_raw(line);
        const auto index = stored_index(read.leaf);
        if (read.subleaf.value_or(0) != 0 || !index) continue;
        if (!found[*index]) {
            dump.leaves[*index] = read.registers;
            found[*index] = true;
        } else if (*index == 2) {
            dump.leaf2_again.push_back(read.registers);
        }
    }
    if (!found[0]) {
        throw CpuDumpError(std::string(source_name) +
                           ": no CPUID leaf 0 (not a dump of a processor with CPUID)");
    }
    return dump;
}

std::string format_cpu_dump(const CpuDump& dump, CpuDumpFormat format) {
    std::string out = format == CpuDumpFormat::raw ? "CPU 0:\n" : "";
    out.reserve((dump.leaves.size() + dump.leaf2_again.size()) * 80);
    for (std::size_t n = 0; n < dump.leaves.size(); ++n) {
        const std::uint32_t leaf = cpu_leaf_number(static_cast<int>(n));
        append_line(out, leaf, dump.leaves[n], format);
        if (leaf != 2) continue;
        for (const CpuRegisters& again : dump.leaf2_again) append_line(out, leaf, again, format);
    }
    return out;
}

}  // namespace syskit
