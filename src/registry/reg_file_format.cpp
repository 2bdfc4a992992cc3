// The Windows registry editor's .reg format: the reader (a whole file into checked changes) and
// the writer of the editor's REGEDIT5 lines.
//
// The reader first makes the file one UTF-16 text, whatever its encoding (a code-page file
// through the calling thread's page, byte for character and back), and then reads it line by
// line in that one form. Names and texts go to the registry's ANSI calls, so each character is
// taken back to its code-page byte there, and a character the page lacks is an error of the file
// rather than the '?' the calls would store. The registry is not touched: the caller applies the
// changes only once the whole file was read without an error.
//
// The writer works from what the ANSI calls deliver (code-page bytes), turned into characters by
// a table of the thread's page made once per writer, and writes hex data in the editor's lines:
// after a byte's comma, a line that has reached 77 characters is continued with "\" on the next,
// indented by two spaces, so that no line is longer than 80.
#include "registry/reg_file_format.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "registry/text_helpers.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"

namespace syskit::registry::detail {
namespace {

namespace api = platform;
using Change = RegFileChange;
using Kind = RegFileChange::Kind;

constexpr std::u16string_view kRegedit5 = RegFileWriter::kHeader;
constexpr std::u16string_view kRegedit4 = u"REGEDIT4";
constexpr std::size_t kWrapColumn = 76;  // a hex line longer than this after a comma goes on

// --- Decoding the file into UTF-16 ------------------------------------------------------------

bool starts_with(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The line (from 1) at the end of a partly decoded text.
std::size_t line_at_end(std::u16string_view text) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool crlf = text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
        if (!crlf && (text[i] == u'\r' || text[i] == u'\n')) ++line;
    }
    return line;
}

bool decode_utf16(std::string_view bytes, std::u16string& text, RegFileError& error) {
    text.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    if (bytes.size() % 2 != 0) {
        error = {line_at_end(text), "the file ends in the middle of a UTF-16 character"};
        return false;
    }
    return true;
}

bool decode_utf8(std::string_view bytes, std::u16string& text, RegFileError& error) {
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            text += static_cast<char16_t>(lead);
            ++p;
            continue;
        }
        // The sequence's length, its smallest character (no overlong forms) and the lead's bits.
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        char32_t ch = lead & (0x7F >> length);
        bool valid = length > 0 && lead < 0xF5 && end - p >= length;
        for (int i = 1; valid && i < length; ++i) {
            valid = (p[i] & 0xC0) == 0x80;
            ch = ch << 6 | (p[i] & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || ch < kSmallest[length] || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) {
            error = {line_at_end(text), "bytes that are not UTF-8"};
            return false;
        }
        if (ch >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(ch);
        }
        p += length;
    }
    return true;
}

void decode_code_page(std::string_view bytes, std::u16string& text) {
    std::array<char16_t, 256> page;
    for (std::size_t b = 0; b < page.size(); ++b) {
        page[b] = static_cast<char16_t>(text::ansi_char(static_cast<std::uint8_t>(b)));
    }
    text.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[i] = page[static_cast<unsigned char>(bytes[i])];
    }
}

// --- Characters -------------------------------------------------------------------------------

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view skip_blanks(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    return s.substr(i);
}

// True when nothing but blanks and a comment is left.
bool only_comment_left(std::u16string_view s) {
    s = skip_blanks(s);
    return s.empty() || s.front() == u';';
}

// Reads one to `most` hex digits at the start of `s` into `value`; the number of digits read.
std::size_t read_hex(std::u16string_view s, std::size_t most, std::uint32_t& value) {
    std::size_t n = 0;
    value = 0;
    while (n < s.size() && n < most && hex_digit(s[n]) >= 0) {
        value = value << 4 | static_cast<std::uint32_t>(hex_digit(s[n]));
        ++n;
    }
    return n;
}

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool equal_ignoring_ascii_case(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] >= 0x80 || ascii_upper(static_cast<char>(a[i])) != ascii_upper(b[i])) return false;
    }
    return true;
}

std::string utf8_of(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t ch = s[i];
        if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (s[++i] - 0xDC00);
        } else if (ch >= 0xD800 && ch <= 0xDFFF) {
            ch = 0xFFFD;
        }
        if (ch < 0x80) {
            out += static_cast<char>(ch);
        } else if (ch < 0x800) {
            out += static_cast<char>(0xC0 | ch >> 6);
            out += static_cast<char>(0x80 | (ch & 0x3F));
        } else if (ch < 0x10000) {
            out += static_cast<char>(0xE0 | ch >> 12);
            out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ch >> 18);
            out += static_cast<char>(0x80 | (ch >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

// A character as a message shows it: itself and its number.
std::string shown(std::u16string_view ch) {
    char number[16];
    const char32_t value =
        ch.size() == 2 ? 0x10000 + ((ch[0] - 0xD800) << 10) + (ch[1] - 0xDC00) : ch[0];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(value));
    if (value < 0x20 || value == 0x7F || (value >= 0xD800 && value <= 0xDFFF && ch.size() == 1))
        return number;
    if (value < 0x80) return "'" + utf8_of(ch) + "'";
    return "'" + utf8_of(ch) + "' (" + number + ")";
}

// --- The reader -------------------------------------------------------------------------------

class Reader {
  public:
    Reader(std::u16string_view text, bool regedit5, std::vector<Change>& changes)
        : text_(text), regedit5_(regedit5), changes_(changes) {}

    bool read(RegFileError& error);

  private:
    // The next line, without its line break; false at the end of the text.
    bool next_line(std::u16string_view& line);
    bool fail(std::string what) {
        error_ = {line_, std::move(what)};
        return false;
    }

    bool key_line(std::u16string_view line);
    bool value_line(std::u16string_view line);
    // Reads a quoted name or text after its opening quote into code-page bytes; `rest` is what
    // follows the closing quote. A text may hold NUL, a name may not.
    bool quoted(std::u16string_view s, const char* what, bool nul_allowed, std::string& bytes,
                std::u16string_view& rest);
    bool hex_list(std::u16string_view s, std::string& bytes);
    // Characters to code-page bytes; a character the page lacks, or NUL where `nul_allowed` is
    // false, is an error of the line.
    bool to_code_page(std::u16string_view s, const char* what, std::string& bytes,
                      bool nul_allowed = false);

    std::u16string_view text_;
    std::size_t position_ = 0;
    std::size_t line_ = 0;
    bool regedit5_;
    std::vector<Change>& changes_;
    RegFileError error_;
    // The kind of the last key line: values may follow an open_key line only.
    enum class Section : std::uint8_t { none, key, deleted } section_ = Section::none;
};

bool Reader::next_line(std::u16string_view& line) {
    if (position_ >= text_.size()) return false;
    std::size_t end = position_;
    while (end < text_.size() && text_[end] != u'\r' && text_[end] != u'\n') ++end;
    line = text_.substr(position_, end - position_);
    if (end < text_.size()) {
        const bool crlf = text_[end] == u'\r' && end + 1 < text_.size() && text_[end + 1] == u'\n';
        end += crlf ? 2 : 1;
    }
    position_ = end;
    ++line_;
    return true;
}

bool Reader::to_code_page(std::u16string_view s, const char* what, std::string& bytes,
                          bool nul_allowed) {
    bytes.clear();
    bytes.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c == 0 && !nul_allowed) return fail(std::string("a NUL character in ") + what);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
            continue;
        }
        const std::uint8_t byte = text::ansi_byte(c);
        if (byte == '?' || (c >= 0xD800 && c <= 0xDFFF)) {
            const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() &&
                              s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
            return fail(std::string(what) + " holds " + shown(s.substr(i, pair ? 2 : 1)) +
                        ", which code page " + std::to_string(text::code_page()) +
                        " (in which names and texts reach the registry) lacks");
        }
        bytes += static_cast<char>(byte);
    }
    return true;
}

bool Reader::read(RegFileError& error) {
    std::u16string_view line;
    next_line(line);  // the header, checked by the caller
    while (next_line(line)) {
        line = skip_blanks(line);
        if (line.empty() || line.front() == u';') continue;
        const bool ok = line.front() == u'[' ? key_line(line)
                        : line.front() == u'"' || line.front() == u'@'
                            ? value_line(line)
                            : fail("not a key, a value or a comment: a line begins with " +
                                   shown(line.substr(0, 1)));
        if (!ok) {
            error = std::move(error_);
            return false;
        }
    }
    return true;
}

bool Reader::key_line(std::u16string_view line) {
    const std::size_t close = line.rfind(u']');
    if (close == std::u16string_view::npos) return fail("a key line without its closing ']'");
    if (!only_comment_left(line.substr(close + 1)))
        return fail("text after the closing ']' of a key line");
    std::u16string_view path = line.substr(1, close - 1);
    Change change;
    change.line = line_;
    change.kind = Kind::open_key;
    if (!path.empty() && path.front() == u'-') {
        change.kind = Kind::delete_key;
        path.remove_prefix(1);
    }
    if (path.empty()) return fail("a key line without a key");
    const std::u16string_view root_name = path.substr(0, path.find(u'\\'));
    for (const Hive& hive : kHives) {
        if (equal_ignoring_ascii_case(root_name, hive.long_name)) change.root = hive.handle;
    }
    if (change.root == 0) {
        std::string what = "unknown root key '" + utf8_of(root_name) + "'";
        for (const Hive& hive : kHives) {
            if (equal_ignoring_ascii_case(root_name, hive.short_name)) {
                what += " (the editor's files name it in full: " + std::string(hive.long_name) + ")";
            }
        }
        return fail(what);
    }
    // Doubled and trailing backslashes separate like one, as in the registry's own paths.
    std::size_t start = root_name.size();
    std::string name;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(u'\\', start + 1), path.size());
        const std::u16string_view part = path.substr(start + 1, end - start - 1);
        start = end;
        if (part.empty()) continue;
        if (part.size() > kMaxKeyNameLength) {
            return fail("a key name of " + std::to_string(part.size()) +
                        " characters is longer than the registry allows (255)");
        }
        if (!to_code_page(part, "a key name", name)) return false;
        if (!change.subkey.empty()) change.subkey += '\\';
        change.subkey += name;
    }
    if (change.kind == Kind::delete_key && change.subkey.empty())
        return fail("a root key cannot be deleted");
    section_ = change.kind == Kind::open_key ? Section::key : Section::deleted;
    changes_.push_back(std::move(change));
    return true;
}

bool Reader::quoted(std::u16string_view s, const char* what, bool nul_allowed,
                    std::string& bytes, std::u16string_view& rest) {
    std::u16string chars;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'"') {
            rest = s.substr(i + 1);
            return to_code_page(chars, what, bytes, nul_allowed);
        }
        if (c == u'\\') {
            if (++i == s.size()) break;
            switch (s[i]) {
                case u'\\': c = u'\\'; break;
                case u'"': c = u'"'; break;
                case u'n': c = u'\n'; break;
                case u'r': c = u'\r'; break;
                default:
                    return fail(std::string("unknown escape \\") + utf8_of(s.substr(i, 1)) +
                                " in " + what + " (\\\\, \\\", \\n and \\r are known)");
            }
        }
        chars += c;
    }
    return fail(std::string(what) + " without its closing quote");
}

bool Reader::hex_list(std::u16string_view s, std::string& bytes) {
    for (;;) {
        // Here a byte may come, or the end of the list (after ':' or a comma).
        s = skip_blanks(s);
        if (s.empty() || s.front() == u';') return true;
        if (s.front() == u'\\') {
            if (!only_comment_left(s.substr(1))) return fail("text after the '\\' of a hex line");
            // The data goes on at the next line that is not blank or a comment.
            std::u16string_view next;
            do {
                if (!next_line(next)) return true;
                next = skip_blanks(next);
            } while (next.empty() || next.front() == u';');
            s = next;
            continue;
        }
        std::uint32_t value = 0;
        const std::size_t digits = read_hex(s, 3, value);
        if (digits > 2) return fail("hex data holds a byte of more than two hex digits");
        if (digits == 0) {
            return fail("hex data holds " + shown(s.substr(0, 1)) +
                        " where a byte of one or two hex digits belongs");
        }
        bytes += static_cast<char>(value);
        s.remove_prefix(digits);
        if (!s.empty() && s.front() == u',') {
            s.remove_prefix(1);
            continue;
        }
        if (!only_comment_left(s)) {
            const std::u16string_view next = skip_blanks(s);
            if (next.front() == u',' && next.size() < s.size())
                return fail("hex data holds a space before a ','");
            return fail("hex data holds " + shown(next.substr(0, 1)) +
                        " where a ',' or the end of the line belongs");
        }
        return true;
    }
}

bool Reader::value_line(std::u16string_view line) {
    if (section_ == Section::none) return fail("a value before the first key line");
    if (section_ == Section::deleted) return fail("a value of a key that a [-...] line deletes");
    Change change;
    change.line = line_;
    std::u16string_view s = line;
    if (s.front() == u'@') {
        s.remove_prefix(1);
    } else if (!quoted(s.substr(1), "a value name", false, change.name, s)) {
        return false;
    }
    if (change.name.size() > kMaxValueNameLength) {
        return fail("a value name of " + std::to_string(change.name.size()) +
                    " characters is longer than the registry allows (16,383)");
    }
    s = skip_blanks(s);
    if (s.empty() || s.front() != u'=') return fail("a value name without '=' after it");
    s = skip_blanks(s.substr(1));
    std::u16string_view rest;
    if (!s.empty() && s.front() == u'-') {
        change.kind = Kind::delete_value;
        rest = s.substr(1);
    } else if (!s.empty() && s.front() == u'"') {
        change.kind = Kind::set_value;
        change.type = api::kString;
        if (!quoted(s.substr(1), "a text", true, change.data, rest)) return false;
        change.data += '\0';
    } else if (starts_with(s, u"dword:")) {
        change.kind = Kind::set_value;
        change.type = api::kDword;
        s = skip_blanks(s.substr(6));
        std::uint32_t value = 0;
        const std::size_t digits = read_hex(s, 9, value);
        if (digits == 0 || digits > 8) return fail("dword: takes one to eight hex digits");
        change.data = {static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        rest = s.substr(digits);
    } else if (starts_with(s, u"hex:") || starts_with(s, u"hex(")) {
        change.kind = Kind::set_value;
        change.type = api::kBinary;
        s.remove_prefix(3);
        if (s.front() == u'(') {
            const std::u16string_view number = skip_blanks(s.substr(1));
            const std::size_t digits = read_hex(number, 9, change.type);
            if (digits == 0 || digits > 8 || !starts_with(number.substr(digits), u"):")) {
                return fail("hex(N): takes a type N of one to eight hex digits");
            }
            s = number.substr(digits + 1);
        }
        std::string bytes;
        if (!hex_list(s.substr(1), bytes)) return false;
        const bool text_type = change.type == api::kString || change.type == api::kExpandString ||
                               change.type == api::kMultiString;
        if (text_type && regedit5_) {
            // The editor's Unicode text: UTF-16LE, taken to the code page here.
            if (bytes.size() % 2 != 0) {
                return fail("the data of a text type holds " + std::to_string(bytes.size()) +
                            " bytes, not whole UTF-16 characters");
            }
            std::u16string chars(bytes.size() / 2, u'\0');
            for (std::size_t i = 0; i < chars.size(); ++i) {
                chars[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
            }
            if (!to_code_page(chars, "a text", change.data, true)) return false;
        } else {
            change.data = std::move(bytes);
        }
        changes_.push_back(std::move(change));
        return true;
    } else {
        return fail("a value's data must be \"text\", dword:, hex:, hex(N): or -");
    }
    if (!only_comment_left(rest)) return fail("text after a value's data");
    changes_.push_back(std::move(change));
    return true;
}

}  // namespace

bool looks_like_editor_file(std::string_view bytes) {
    if (starts_with(bytes, kUtf16Mark) || starts_with(bytes, kUtf8Mark)) return true;
    const std::size_t first = bytes.find_first_not_of(" \t");
    return first != std::string_view::npos &&
           starts_with(bytes.substr(first), "Windows Registry Editor Version 5.00");
}

bool read_reg_file(std::string_view bytes, std::vector<RegFileChange>& changes,
                   RegFileError& error) {
    changes.clear();
    std::u16string text;
    bool decoded = true;
    if (starts_with(bytes, kUtf16Mark)) {
        decoded = decode_utf16(bytes.substr(kUtf16Mark.size()), text, error);
    } else if (starts_with(bytes, kUtf8Mark)) {
        decoded = decode_utf8(bytes.substr(kUtf8Mark.size()), text, error);
    } else {
        // The header, ASCII in both, says which: REGEDIT5 is UTF-8, REGEDIT4 the code page.
        const std::size_t first = bytes.find_first_not_of(" \t");
        if (first != std::string_view::npos &&
            starts_with(bytes.substr(first), "Windows Registry Editor Version 5.00")) {
            decoded = decode_utf8(bytes, text, error);
        } else {
            decode_code_page(bytes, text);
        }
    }
    if (!decoded) return false;
    const std::size_t end = text.find_first_of(u"\r\n");
    const std::u16string_view header = skip_blanks(std::u16string_view(text).substr(0, end));
    if (header != kRegedit5 && header != kRegedit4) {
        error = {1, "its first line must be 'Windows Registry Editor Version 5.00' or 'REGEDIT4'",
                 true};
        return false;
    }
    Reader reader(text, header == kRegedit5, changes);
    return reader.read(error);
}

// --- The writer -------------------------------------------------------------------------------

RegFileWriter::RegFileWriter() : page_(256, u'\0') {
    for (std::size_t b = 0; b < page_.size(); ++b) {
        page_[b] = static_cast<char16_t>(text::ansi_char(static_cast<std::uint8_t>(b)));
    }
}

void RegFileWriter::append_header(std::u16string& out) const {
    out += u'\xFEFF';
    out += kHeader;
    out += u"\r\n\r\n";
}

void RegFileWriter::append_chars(std::u16string& out, std::string_view bytes) const {
    for (const char b : bytes) out += page_[static_cast<unsigned char>(b)];
}

void RegFileWriter::append_key(std::u16string& out, std::string_view path) const {
    out += u'[';
    append_chars(out, path);
    out += u"]\r\n";
}

void RegFileWriter::append_quoted(std::u16string& out, std::string_view bytes) const {
    out += u'"';
    for (const char b : bytes) {
        switch (b) {
            case '\\': out += u"\\\\"; break;
            case '"': out += u"\\\""; break;
            case '\n': out += u"\\n"; break;
            case '\r': out += u"\\r"; break;
            default: out += page_[static_cast<unsigned char>(b)];
        }
    }
    out += u'"';
}

void RegFileWriter::append_value(std::u16string& out, std::string_view name, api::Dword type,
                                 std::string_view data) const {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    const std::size_t line_start = out.size();
    if (name.empty()) {
        out += u'@';
    } else {
        append_quoted(out, name);
    }
    out += u'=';
    // A text ends with one terminator, which the file leaves out; one with NUL inside it is
    // written as hex(1) so that all of it comes back.
    const std::string_view text =
        !data.empty() && data.back() == '\0' ? data.substr(0, data.size() - 1) : data;
    if (type == api::kString && text.find('\0') == std::string_view::npos) {
        append_quoted(out, text);
        out += u"\r\n";
        return;
    }
    if (type == api::kDword && data.size() == 4) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data[i]);
        out += u"dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[value >> shift & 0xF];
        out += u"\r\n";
        return;
    }
    if (type == api::kBinary) {
        out += u"hex:";
    } else {
        out += u"hex(";
        int shift = 28;
        while (shift > 0 && (type >> shift & 0xF) == 0) shift -= 4;
        for (; shift >= 0; shift -= 4) out += kDigits[type >> shift & 0xF];
        out += u"):";
    }
    // Text types as the editor keeps them: each character in UTF-16LE.
    std::string utf16;
    if (type == api::kString || type == api::kExpandString || type == api::kMultiString) {
        utf16.reserve(data.size() * 2);
        for (const char b : data) {
            const char16_t c = page_[static_cast<unsigned char>(b)];
            utf16 += static_cast<char>(c & 0xFF);
            utf16 += static_cast<char>(c >> 8);
        }
        data = utf16;
    }
    std::size_t column = out.size() - line_start;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
        column += 2;
        if (i + 1 == data.size()) break;
        out += u',';
        if (++column > kWrapColumn) {
            out += u"\\\r\n  ";
            column = 2;
        }
    }
    out += u"\r\n";
}

}  // namespace syskit::registry::detail
