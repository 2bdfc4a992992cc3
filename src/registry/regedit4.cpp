// REGEDIT4 export and import, built only on the object's own operations.
//
// The file is code-page bytes with CR LF line ends, written and read as it stands: no escaping of
// quotes or backslashes. The export creates the file with its header and then reopens it for
// appending once per key, so a key's section is complete in the file before its subkeys are
// visited and a failed export leaves the sections written so far. The import reads the whole
// file first and applies it line by line; single writes that the registry refuses are ignored.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "registry/text_helpers.hpp"
#include "syskit/error.hpp"
#include "syskit/host.hpp"
#include "syskit/registry.hpp"

namespace syskit {
namespace {

using namespace registry::detail;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kLineEnd = "\r\n";

// File names are UTF-8 like every text; made into a path from UTF-8 explicitly, so that Windows
// opens the file of that name and not of the name's bytes read in the ANSI code page.
std::filesystem::path file_path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// Writes the lines (UTF-8) to the file as code-page bytes, each ended by CR LF, creating the file
// or appending to it; false when the file cannot be opened or written.
bool write_lines(const std::string& name, std::ios::openmode mode,
                 const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += ansi(line);
        bytes += kLineEnd;
    }
    std::ofstream file(file_path(name), std::ios::binary | mode);
    if (!file) return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

bool file_exists(const std::string& name) {
    std::error_code error;
    return std::filesystem::exists(file_path(name), error);
}

// Every short hive name replaced by its long name, in the hive table's order.
std::string long_hive_names(std::string path) {
    for (const HiveRow& row : kHives)
        path = replace_ignoring_case(path, row.short_name, row.long_name);
    return path;
}

// "00000000" and the number in upper-case hexadecimal, of which the last eight characters.
std::string eight_hex_digits(std::int32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits(8, '0');
    auto v = static_cast<std::uint32_t>(value);
    for (int i = 7; i >= 0; --i, v >>= 4) digits[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return digits;
}

std::string strip_quotes(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        if (c != '"') out += c;
    }
    return out;
}

std::vector<std::string_view> split_crlf(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(kLineEnd, start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + kLineEnd.size();
    }
}

}  // namespace

std::int32_t clsRegistryAccess::ExportToReg(std::string sPath, const std::string& sRegFile,
                                            bool IncludeSubkeys, ExportProgress* Output) {
    if (file_exists(sRegFile)) return 0;
    if (!write_lines(sRegFile, std::ios::trunc, {std::string(kHeader), ""})) return 0;
    return generateReg(std::move(sPath), sRegFile, IncludeSubkeys, Output) ? 1 : 0;
}

bool clsRegistryAccess::generateReg(std::string key_path, const std::string& sRegFile,
                                    bool IncludeSubkeys, ExportProgress* Output) {
    try {
        key_path = long_hive_names(std::move(key_path));
        if (Output != nullptr) {
            host::yield();
            Output->set_text(key_path);
        }
        std::vector<std::string> lines{"[" + key_path + "]"};
        const std::string nul(1, '\0');
        if (ReadString(key_path, "", nul) != nul) {
            lines.push_back("@=\"" + ReadString(key_path, "", "") + "\"");
        }
        std::vector<std::string> names;
        std::vector<RegistryValue> values;
        EnumValues(key_path, names, values, 1);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty()) continue;
            lines.push_back("\"" + names[i] + "\"=\"" + std::get<std::string>(values[i]) + "\"");
        }
        EnumValues(key_path, names, values, 3);
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string bytes = std::get<std::string>(values[i]);
            std::replace(bytes.begin(), bytes.end(), ' ', ',');
            lines.push_back("\"" + names[i] + "\"=hex:" + bytes);
        }
        EnumValues(key_path, names, values, 4);
        for (std::size_t i = 0; i < names.size(); ++i) {
            lines.push_back("\"" + names[i] +
                            "\"=dword:" + eight_hex_digits(std::get<std::int32_t>(values[i])));
        }
        lines.emplace_back();
        if (!write_lines(sRegFile, std::ios::app, lines)) return false;
    } catch (const std::exception&) {
        return false;  // a raised error, or a progress display that refused its text
    }
    if (IncludeSubkeys) {
        std::vector<std::string> subkeys;
        EnumKeys(key_path, subkeys);
        for (const std::string& subkey : subkeys) {
            if (!generateReg(key_path + "\\" + subkey, sRegFile, IncludeSubkeys, Output))
                return false;
        }
    }
    return true;
}

std::int32_t clsRegistryAccess::ImportFromReg(const std::string& sRegFile) {
    create_flag_ = true;
    std::error_code error;
    const std::filesystem::path path = file_path(sRegFile);
    if (!std::filesystem::exists(path, error) || std::filesystem::is_directory(path, error))
        return 0;
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file) return 0;
        const std::string text = utf8(std::string(std::istreambuf_iterator<char>(file), {}));
        if (file.bad()) return 0;
        const std::vector<std::string_view> lines = split_crlf(text);
        if (ascii_upper(lines.front()) != kHeader) return 0;

        std::size_t i = 1;
        while (i < lines.size()) {
            const std::string line = trim_spaces(strip_quotes(lines[i]));
            ++i;
            if (line.empty() || line.front() != '[') continue;
            if (line.size() < 2) return 0;  // a lone "[" has no key between its brackets
            const std::string key = line.substr(1, line.size() - 2);
            const bool deletion = !key.empty() && key.front() == '-';
            if (deletion) KillKey(key.substr(1));
            // The section: the lines up to the next key line.
            for (; i < lines.size(); ++i) {
                const std::string entry = trim_spaces(strip_quotes(lines[i]));
                if (!entry.empty() && entry.front() == '[') break;
                if (deletion || entry.empty() || entry.front() == ';') continue;
                const std::size_t equals = entry.find('=');
                if (equals == std::string::npos) continue;
                const std::string name = entry.substr(0, equals);
                const std::size_t next = entry.find('=', equals + 1);
                const std::string value =
                    entry.substr(equals + 1, next == std::string::npos ? next : next - equals - 1);
                if (trim_spaces(value) == "-") {
                    KillValue(key, name);
                } else if (starts_with_ignoring_case(value, "hex:")) {
                    std::string bytes = value.substr(4);
                    std::replace(bytes.begin(), bytes.end(), ',', ' ');
                    WriteBinary(key, name, bytes);
                } else if (starts_with_ignoring_case(value, "dword:")) {
                    WriteDWORD(key, name,
                               static_cast<std::int32_t>(
                                   hex_prefix_value(std::string_view(value).substr(6))));
                } else {
                    WriteString(key, name, value);
                    if (name == "@" && value.empty()) KillValue(key, "");
                }
            }
        }
    } catch (const std::exception&) {
        return 0;  // the changes made so far stay
    }
    return 1;
}

}  // namespace syskit
