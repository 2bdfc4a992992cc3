// REGEDIT4 export and import, built only on the object's own operations.
//
// The file is code-page bytes with CR LF line ends, written and read as it stands: no escaping of
// quotes or backslashes. The export creates the file with its header and then reopens it for
// appending once per key, so a key's section is complete in the file before its subkeys are
// visited and a failed export leaves the sections written so far. The import reads the whole
// file first and applies it line by line; single writes that the registry refuses are ignored.
//
// Both say what they met underneath: the export, what kept a section from holding its key's
// content (a key that cannot be read, a value too long to list, an unknown root key), though the
// file holds every section and the answer is 1; the import, the first line whose
// change the registry refused, with the line's number. The export reads from one snapshot of the
// registry, the import writes in one batch (platform.hpp), which is what makes both fast; the
// import's answers and what it leaves applied where it stops stay those of single writes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "registry/operations.hpp"
#include "registry/platform.hpp"
#include "registry/text_helpers.hpp"
#include "syskit/error.hpp"
#include "syskit/host.hpp"
#include "syskit/registry.hpp"

namespace syskit::registry::detail {
namespace {

using Code = RegistryStatusCode;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

// File names are UTF-8 like every text; made into a path from UTF-8 explicitly, so that Windows
// opens the file of that name and not of the name's bytes read in the ANSI code page.
std::filesystem::path file_path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::FILE* open_file(const std::string& name, const char* mode) {
#if defined(_WIN32)
    const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(file_path(name).c_str(), wide_mode.c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

std::string system_reason(int error) {
    return std::generic_category().message(error);
}

RegistryStatus io_failure(std::string_view verb, const std::string& file, int error) {
    return failure(Code::io_error, std::string(verb) + " " + quote(file), system_reason(error),
                   file);
}

// Writes the lines (UTF-8) to the file as code-page bytes, each ended by CR LF, creating the file
// (mode "wb") or appending to it ("ab"); the status says why it could not.
RegistryStatus write_lines(const std::string& name, const char* mode,
                           const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += ansi(line);
        bytes += kLineEnd;
    }
    errno = 0;
    std::FILE* file = open_file(name, mode);
    if (file == nullptr) return io_failure("cannot write", name, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return io_failure("cannot write", name, written ? errno : write_error);
    return {};
}

// Reads the whole file; the status says why it could not.
RegistryStatus read_file(const std::string& name, std::string& bytes) {
    std::error_code error;
    const std::filesystem::path path = file_path(name);
    if (!std::filesystem::exists(path, error)) return io_failure("cannot read", name, ENOENT);
    if (std::filesystem::is_directory(path, error)) return io_failure("cannot read", name, EISDIR);
    errno = 0;
    std::FILE* file = open_file(name, "rb");
    if (file == nullptr) return io_failure("cannot read", name, errno);
    char chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    const int read_error = errno;
    std::fclose(file);
    if (failed) return io_failure("cannot read", name, read_error);
    return {};
}

bool file_exists(const std::string& name) {
    std::error_code error;
    return std::filesystem::symlink_status(file_path(name), error).type() !=
           std::filesystem::file_type::not_found;
}

namespace {

// Every short hive name replaced by its long name, in the hive table's order.
std::string long_hive_names(std::string path) {
    for (const Hive& row : kHives)
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

Answer<std::int32_t> Operations::export_to_reg(std::string path, const std::string& file,
                                               bool include_subkeys, ExportProgress* output) {
    if (file_exists(file)) {
        return {0, failure(Code::file_exists, "cannot export to " + quote(file), "the file exists",
                           file)};
    }
    if (RegistryStatus written = write_lines(file, "wb", {std::string(kHeader), ""});
        !written.ok()) {
        return {0, std::move(written)};
    }
    const std::string what = "cannot export " + describe(Subject{path}) + " to " + quote(file);
    platform::ReadSnapshot snapshot;
    Answer<bool> sections = generate_reg(std::move(path), file, include_subkeys, output);
    RegistryStatus& status = sections.status;
    // The file's own failures name the file already; the registry's are told of the export.
    if (!status.ok() && status.file != file) {
        status.message = what + ": " + status.message;
    }
    return {sections.value ? 1 : 0, std::move(status)};
}

Answer<bool> Operations::generate_reg(std::string key_path, const std::string& file,
                                      bool include_subkeys, ExportProgress* output) {
    RegistryStatus status;
    // The first inner status that shows the section is not the key's content. A key without a
    // default value is not one; a key that cannot be read is, though its section stays.
    const auto note = [&status, &key_path](RegistryStatus&& inner) {
        if (!status.ok() || inner.ok() || inner.code == Code::no_such_value) return;
        if (inner.code == Code::no_such_key) {
            inner.message = "no such key " + quote(key_path);
        }
        status = std::move(inner);
    };
    try {
        key_path = long_hive_names(std::move(key_path));
        if (output != nullptr) {
            host::yield();
            try {
                output->set_text(key_path);
            } catch (const std::exception& refused) {
                return {false, failure(Code::refused, "the progress display refused its text",
                                       refused.what())};
            }
        }
        std::vector<std::string> lines{"[" + key_path + "]"};
        const std::string nul(1, '\0');
        Answer<std::string> probe = read_string(key_path, "", nul);
        note(std::move(probe.status));
        if (probe.value != nul) {
            Answer<std::string> text = read_string(key_path, "", "");
            note(std::move(text.status));
            lines.push_back("@=\"" + text.value + "\"");
        }
        std::vector<std::string> names;
        std::vector<RegistryValue> values;
        note(std::move(enum_values(key_path, names, values, 1).status));
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty()) continue;
            lines.push_back("\"" + names[i] + "\"=\"" + std::get<std::string>(values[i]) + "\"");
        }
        note(std::move(enum_values(key_path, names, values, 3).status));
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string bytes = std::get<std::string>(values[i]);
            std::replace(bytes.begin(), bytes.end(), ' ', ',');
            lines.push_back("\"" + names[i] + "\"=hex:" + bytes);
        }
        note(std::move(enum_values(key_path, names, values, 4).status));
        for (std::size_t i = 0; i < names.size(); ++i) {
            lines.push_back("\"" + names[i] +
                            "\"=dword:" + eight_hex_digits(std::get<std::int32_t>(values[i])));
        }
        lines.emplace_back();
        if (RegistryStatus written = write_lines(file, "ab", lines); !written.ok()) {
            return {false, std::move(written)};
        }
    } catch (const std::bad_alloc&) {
        return {false, failure(Code::out_of_memory, "the section of key " + quote(key_path),
                               "out of memory")};
    } catch (const std::exception& raised) {
        return {false, failure(Code::error_raised, "the section of key " + quote(key_path),
                               raised.what())};
    }
    if (include_subkeys) {
        std::vector<std::string> subkeys;
        note(std::move(enum_keys(key_path, subkeys).status));
        for (const std::string& subkey : subkeys) {
            Answer<bool> below =
                generate_reg(key_path + "\\" + subkey, file, include_subkeys, output);
            if (!below.value) return below;
            note(std::move(below.status));
        }
    }
    return {true, std::move(status)};
}

Answer<std::int32_t> Operations::import_from_reg(const std::string& file,
                                                 std::optional<std::string> bytes) {
    self_.create_flag_ = true;
    if (!bytes) {
        bytes.emplace();
        if (RegistryStatus read = read_file(file, *bytes); !read.ok()) return {0, std::move(read)};
    }
    const std::string text = utf8(*bytes);
    bytes.reset();
    const std::vector<std::string_view> lines = split_crlf(text);
    if (ascii_upper(lines.front()) != kHeader) {
        // A header ended by LF alone is the commonest reason: the file is one line.
        const bool lf = starts_with_ignoring_case(lines.front(), std::string(kHeader) + "\n");
        return {0, failure(Code::not_regedit4, quote(file) + " is not a REGEDIT4 file",
                           lf ? "its first line must be REGEDIT4, and its lines must end with "
                                "CR LF, not LF"
                              : "its first line must be REGEDIT4",
                           file)};
    }

    platform::WriteBatch batch;
    RegistryStatus status;
    std::size_t number = 0;  // of the line being applied, from 1
    // The first change the registry refused; deleting what is not there is no refusal.
    const auto note = [&](RegistryStatus&& inner, Code absent) {
        if (!status.ok() || inner.ok() || inner.code == absent) return;
        status = std::move(inner);
        status.message = quote(file) + " was not applied whole: line " + std::to_string(number) +
                         ": " + status.message;
        status.line = number;
        if (status.file.empty()) status.file = file;
    };
    try {
        std::size_t i = 1;
        while (i < lines.size()) {
            const std::string line = trim_spaces(strip_quotes(lines[i]));
            number = ++i;
            if (line.empty() || line.front() != '[') continue;
            if (line.size() < 2) {
                // A lone "[" has no key between its brackets; what came before stays applied.
                RegistryStatus stopped =
                    failure(Code::bad_line, "cannot import " + quote(file),
                            "line " + std::to_string(number) +
                                " is a key line without a key; the lines before it were applied",
                            file);
                stopped.line = number;
                batch.finish();
                return {0, std::move(stopped)};
            }
            const std::string key = line.substr(1, line.size() - 2);
            const bool deletion = !key.empty() && key.front() == '-';
            if (deletion) note(std::move(kill_key(key.substr(1)).status), Code::no_such_key);
            // The section: the lines up to the next key line.
            for (; i < lines.size(); ++i) {
                const std::string entry = trim_spaces(strip_quotes(lines[i]));
                if (!entry.empty() && entry.front() == '[') break;
                number = i + 1;
                if (deletion || entry.empty() || entry.front() == ';') continue;
                const std::size_t equals = entry.find('=');
                if (equals == std::string::npos) continue;
                std::string name = entry.substr(0, equals);
                const std::size_t next = entry.find('=', equals + 1);
                const std::string value =
                    entry.substr(equals + 1, next == std::string::npos ? next : next - equals - 1);
                if (trim_spaces(value) == "-") {
                    note(std::move(kill_value(key, name).status), Code::no_such_value);
                } else if (starts_with_ignoring_case(value, "hex:")) {
                    std::string hex = value.substr(4);
                    std::replace(hex.begin(), hex.end(), ',', ' ');
                    note(
                        std::move(write_value(key, std::move(name), platform::kBinary, hex).status),
                        Code::ok);
                } else if (starts_with_ignoring_case(value, "dword:")) {
                    const std::uint32_t number_value =
                        hex_prefix_value(std::string_view(value).substr(6));
                    const std::string data{static_cast<char>(number_value),
                                           static_cast<char>(number_value >> 8),
                                           static_cast<char>(number_value >> 16),
                                           static_cast<char>(number_value >> 24)};
                    note(
                        std::move(write_value(key, std::move(name), platform::kDword, data).status),
                        Code::ok);
                } else {
                    // "@" names the default value for the text writer only; "@" with an empty
                    // text deletes the default value again.
                    const bool at = name == "@";
                    note(std::move(write_value(key, at ? std::string() : std::move(name),
                                               platform::kString, value)
                                       .status),
                         Code::ok);
                    if (at && value.empty()) {
                        note(std::move(kill_value(key, "").status), Code::no_such_value);
                    }
                }
            }
        }
    } catch (const std::exception& raised) {
        // Any failure ends the import with 0; the changes made so far stay.
        RegistryStatus stopped = failure(
            Code::error_raised, "cannot import " + quote(file),
            "line " + std::to_string(number) + ": " +
                (dynamic_cast<const Error*>(&raised) != nullptr
                     ? "error " + std::to_string(dynamic_cast<const Error&>(raised).number()) +
                           ": " + std::string(dynamic_cast<const Error&>(raised).description())
                     : std::string(raised.what())),
            file);
        stopped.line = number;
        batch.finish();
        return {0, std::move(stopped)};
    }
    platform::Refusal why;
    if (!batch.finish(&why)) {
        // A commit of the batch failed (a full disk): that is the cause. A refusal noted before
        // is its consequence (a key created in the writes that were lost is gone), so it gives
        // way, keeping its line: the loss came at or before it.
        if (!status.ok()) number = status.line;
        status = {};
        note(failure(Code::io_error, "some of its writes were lost", why.message, why.file),
             Code::ok);
    }
    return {1, std::move(status)};
}

}  // namespace syskit::registry::detail

namespace syskit {

std::int32_t clsRegistryAccess::ExportToReg(std::string sPath, const std::string& sRegFile,
                                            bool IncludeSubkeys, ExportProgress* Output) {
    registry::detail::Operations op(*this);
    return op.run(
        [&] { return op.export_to_reg(std::move(sPath), sRegFile, IncludeSubkeys, Output); });
}

std::int32_t clsRegistryAccess::ImportFromReg(const std::string& sRegFile) {
    registry::detail::Operations op(*this);
    return op.run([&] { return op.import_from_reg(sRegFile); });
}

}  // namespace syskit
