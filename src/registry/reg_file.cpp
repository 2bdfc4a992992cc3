// .reg files in the Windows registry editor's format over the registry call surface
// (platform.hpp): values with their types, the import of a whole file, the editor's export.
//
// The import reads and checks the whole file first (reg_file_format.cpp) and touches the registry
// only for a file without an error. It then applies the changes in file order in one batch that
// commits only when it finishes: the store keeps one write transaction per root key's database
// until the end and rolls all of them back at the first refusal, so that the file is applied
// whole or not at all. It takes those databases in the order of kHives before the first change,
// so that two imports touching the same roots cannot wait for each other. The platform registry
// has no transactions: there the check before applying is what keeps a bad file out, and a
// refusal while applying leaves the lines before it applied, which the status says.
//
// The export reads from one snapshot and builds the whole file in memory, then creates it (never
// over an existing one) and writes it at once, so a failed export leaves no file. Both go through
// the ANSI calls, in the calling thread's code page: a name the page cannot hold comes out of the
// calls with '?' for its characters, and the export refuses such a name rather than write another
// one (text data with such characters comes out with '?', which no call can tell apart).
#include "syskit/reg_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "registry/operations.hpp"
#include "registry/platform.hpp"
#include "registry/reg_file_format.hpp"
#include "registry/text_helpers.hpp"
#include "syskit/text.hpp"

namespace syskit::registry {
namespace {

namespace api = platform;
using detail::describe;
using detail::file_path;
using detail::io_failure;
using detail::failure;
using detail::quote;
using detail::RegFileChange;
using detail::Subject;
using detail::Target;
using Code = RegistryStatusCode;

constexpr api::Dword kKeyNameBuffer = 512;  // Wine's key names reach 256 characters

// --- Files --------------------------------------------------------------------------------------

// Creates the file, which must not exist (not even as a dangling link), and writes it; a file
// that could not be written whole is removed again.
RegistryStatus write_new_file(const std::string& name, std::string_view bytes) {
#if defined(_WIN32)
    const int fd = _wopen(file_path(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        if (errno == EEXIST) {
            return failure(Code::file_exists, "cannot export to " + quote(name), "the file exists",
                           name);
        }
        return io_failure("cannot write", name, errno);
    }
    int error = 0;
    while (!bytes.empty() && error == 0) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), 1 << 20);
#if defined(_WIN32)
        const int written = _write(fd, bytes.data(), static_cast<unsigned>(piece));
#else
        const ssize_t written = ::write(fd, bytes.data(), piece);
#endif
        if (written < 0 && errno != EINTR) error = errno;
        if (written > 0) bytes.remove_prefix(static_cast<std::size_t>(written));
    }
#if defined(_WIN32)
    if (_close(fd) != 0 && error == 0) error = errno;
#else
    if (::close(fd) != 0 && error == 0) error = errno;
#endif
    if (error != 0) {
        std::error_code ignored;
        std::filesystem::remove(file_path(name), ignored);
        return io_failure("cannot write", name, error);
    }
    return {};
}

// --- Paths --------------------------------------------------------------------------------------

// A registry path resolved: the root key, the subkey path's code-page bytes (names joined by
// single backslashes) and the path with the root's long name, as the editor's files write it.
struct KeyPath {
    api::Handle root = 0;
    std::string subkey;
    std::string written;
};

RegistryStatus resolve(std::string_view path, std::string_view verb, KeyPath& resolved) {
    const std::string what = std::string(verb) + " " + describe(Subject{path});
    const std::string_view root = path.substr(0, path.find('\\'));
    const std::string upper = detail::ascii_upper(root);
    for (const Hive& hive : kHives) {
        if (upper == hive.long_name || upper == hive.short_name) {
            resolved.root = hive.handle;
            resolved.written = hive.long_name;
            break;
        }
    }
    if (resolved.root == 0) return detail::unknown_root(what, path);
    if (text::first_unrepresentable(path)) {
        return failure(Code::refused, what,
                       "the path holds characters that code page " +
                           std::to_string(text::code_page()) +
                           " lacks, in which paths reach the registry");
    }
    const std::string bytes = detail::ansi(path.substr(root.size()));
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\\', start + 1), bytes.size());
        const std::string_view name = std::string_view(bytes).substr(start + 1, end - start - 1);
        start = end;
        if (name.empty()) continue;
        if (!resolved.subkey.empty()) resolved.subkey += '\\';
        resolved.subkey += name;
        resolved.written.append("\\").append(name);
    }
    return {};
}

// Resolves `path` and opens its key for reading; `verb` begins the messages.
RegistryStatus open_to_read(const std::string& path, std::string_view verb, KeyPath& resolved,
                            api::Handle& key) {
    if (RegistryStatus status = resolve(path, verb, resolved); !status.ok()) return status;
    api::Refusal why;
    const api::Result r =
        api::RegOpenKeyExA(resolved.root, resolved.subkey.c_str(), 0, api::kKeyRead, &key, &why);
    if (r == api::kSuccess) return {};
    return detail::refusal(std::string(verb) + " " + describe(Subject{path}), Subject{path},
                           Target::key, r, why);
}

// --- Reading values and subkeys --------------------------------------------------------------------

// A value as the ANSI calls give it: name and data in code-page bytes.
struct RawValue {
    std::string name;
    api::Dword type = 0;
    std::string data;
};

// Every value of an open key, in the registry's order. `path` (UTF-8) names the key in messages.
RegistryStatus read_values(api::Handle key, std::string_view path, std::vector<RawValue>& values) {
    const Subject subject{path};
    const std::string what = "cannot list the values of " + describe(subject);
    values.clear();
    std::string name(kMaxValueNameLength + 1, '\0');
    std::string data(4096, '\0');
    for (api::Dword index = 0;;) {
        api::Dword name_size = static_cast<api::Dword>(name.size());
        api::Dword data_size = static_cast<api::Dword>(data.size());
        api::Dword type = 0;
        api::Refusal why;
        const api::Result r = api::RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type,
                                                 reinterpret_cast<std::uint8_t*>(data.data()),
                                                 &data_size, &why);
        if (r == api::kNoMoreItems) return {};
        if (r == api::kMoreData && data_size > data.size()) {
            data.resize(data_size);
            continue;  // the same value again, with room for its data
        }
        if (r != api::kSuccess) return detail::refusal(what, subject, Target::key, r, why);
        RawValue value{name.substr(0, name_size), type, data.substr(0, data_size)};
        // A name with '?' may be one whose characters the code page lacks: then it names no value.
        if (value.name.find('?') != std::string::npos &&
            api::RegQueryValueExA(key, value.name.c_str(), nullptr, nullptr, nullptr, nullptr) !=
                api::kSuccess) {
            return failure(Code::refused, what,
                           "the name of value number " + std::to_string(index + 1) +
                               " holds characters that code page " +
                               std::to_string(text::code_page()) + " lacks");
        }
        values.push_back(std::move(value));
        ++index;
    }
}

RegistryStatus read_subkeys(api::Handle key, std::string_view path,
                            std::vector<std::string>& names) {
    names.clear();
    for (api::Dword index = 0;; ++index) {
        std::array<char, kKeyNameBuffer> name;
        api::Dword size = kKeyNameBuffer;
        api::Refusal why;
        const api::Result r = api::RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr,
                                                 nullptr, nullptr, &why);
        if (r == api::kNoMoreItems) return {};
        if (r != api::kSuccess) {
            return detail::refusal("cannot list the subkeys of " + describe(Subject{path}),
                                   Subject{path}, Target::key, r, why);
        }
        names.emplace_back(name.data(), size);
    }
}

// --- The import ---------------------------------------------------------------------------------

// Deletes a key with everything below it; kFileNotFound when there is no such key.
api::Result delete_tree(api::Handle parent, const std::string& subkey, api::Refusal& why) {
    api::Handle key = 0;
    api::Result r = api::RegOpenKeyExA(parent, subkey.c_str(), 0, api::kKeyAllAccess, &key, &why);
    if (r != api::kSuccess) return r;
    std::vector<std::string> below;
    for (api::Dword index = 0; r == api::kSuccess; ++index) {
        std::array<char, kKeyNameBuffer> name;
        api::Dword size = kKeyNameBuffer;
        r = api::RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr,
                               &why);
        if (r == api::kSuccess) below.emplace_back(name.data(), size);
    }
    if (r == api::kNoMoreItems) r = api::kSuccess;
    for (std::size_t i = 0; i < below.size() && r == api::kSuccess; ++i) {
        r = delete_tree(key, below[i], why);
    }
    api::RegCloseKey(key);
    return r == api::kSuccess ? api::RegDeleteKeyA(parent, subkey.c_str(), &why) : r;
}

std::string key_path_of(const RegFileChange& change) {
    std::string path(hive_of(change.root)->long_name);
    if (!change.subkey.empty()) path += "\\" + detail::utf8(change.subkey);
    return path;
}

// Applies the checked changes; the status of the first one the registry refused.
RegistryStatus apply_changes(const std::vector<RegFileChange>& changes, const std::string& file) {
    api::WriteBatch batch(api::WriteBatch::Commit::at_finish);
    RegistryStatus status;
    const auto refused = [&](const RegFileChange& change, std::string what, const Subject& subject,
                             Target target, api::Result r, const api::Refusal& why) {
        status = detail::refusal(what, subject, target, r, why);
        const bool undone = batch.abandon();
        status.message = "cannot import " + quote(file) + ": line " +
                         std::to_string(change.line) + ": " + status.message +
                         (undone ? "; nothing of the file was applied"
                                 : "; the lines before it stay applied");
        status.line = change.line;
        if (status.file.empty()) status.file = file;
        return status;
    };
    // The root keys' write transactions, taken in one order by every import.
    for (const Hive& hive : kHives) {
        const auto first = std::find_if(changes.begin(), changes.end(),
                                        [&](const RegFileChange& c) { return c.root == hive.handle; });
        if (first == changes.end()) continue;
        api::Handle root = 0;
        api::Refusal why;
        const api::Result r = api::RegCreateKeyA(hive.handle, "", &root, &why);
        if (r != api::kSuccess) {
            const std::string path(hive.long_name);
            return refused(*first, "cannot open " + describe(Subject{path}), Subject{path},
                           Target::key, r, why);
        }
        api::RegCloseKey(root);
    }
    api::Handle key = 0;
    std::string path;  // of `key`, for messages
    const auto close = [&key] {
        if (key != 0) api::RegCloseKey(key);
        key = 0;
    };
    for (const RegFileChange& change : changes) {
        api::Refusal why;
        api::Result r = api::kSuccess;
        switch (change.kind) {
            case RegFileChange::Kind::open_key:
                close();
                path = key_path_of(change);
                r = api::RegCreateKeyA(change.root, change.subkey.c_str(), &key, &why);
                if (r != api::kSuccess) {
                    key = 0;
                    return refused(change, "cannot create " + describe(Subject{path}),
                                   Subject{path}, Target::key, r, why);
                }
                break;
            case RegFileChange::Kind::delete_key: {
                close();
                const std::string deleted = key_path_of(change);
                r = delete_tree(change.root, change.subkey, why);
                if (r != api::kSuccess && r != api::kFileNotFound) {
                    return refused(change, "cannot delete " + describe(Subject{deleted}),
                                   Subject{deleted}, Target::key, r, why);
                }
                break;
            }
            case RegFileChange::Kind::set_value:
            case RegFileChange::Kind::delete_value: {
                const bool set = change.kind == RegFileChange::Kind::set_value;
                r = set ? api::RegSetValueExA(
                              key, change.name.c_str(), 0, change.type,
                              reinterpret_cast<const std::uint8_t*>(change.data.data()),
                              static_cast<api::Dword>(change.data.size()), &why)
                        : api::RegDeleteValueA(key, change.name.c_str(), &why);
                if (r != api::kSuccess && (set || r != api::kFileNotFound)) {
                    const std::string name = detail::utf8(change.name);
                    const Subject subject{path, &name};
                    close();
                    return refused(change, (set ? "cannot write " : "cannot delete ") +
                                               describe(subject),
                                   subject, Target::value, r, why);
                }
                break;
            }
        }
    }
    close();
    api::Refusal why;
    if (!batch.finish(&why)) {
        status = failure(Code::io_error, "cannot import " + quote(file),
                         "its changes were not all saved: " + why.message, why.file);
    }
    return status;
}

RegistryStatus import_editor_file(const std::string& file, const std::string& bytes) {
    std::vector<RegFileChange> changes;
    detail::RegFileError error;
    if (!detail::read_reg_file(bytes, changes, error)) {
        RegistryStatus status =
            error.header
                ? failure(Code::not_regedit4, quote(file) + " is not a .reg file", error.what, file)
                : failure(Code::bad_line, "cannot import " + quote(file),
                          "line " + std::to_string(error.line) + ": " + error.what +
                              "; nothing of the file was applied",
                          file);
        status.line = error.line;
        return status;
    }
    return apply_changes(changes, file);
}

// --- The export ---------------------------------------------------------------------------------

class Exporter {
  public:
    explicit Exporter(std::u16string& out) : out_(out) {}

    // Writes the section of the open key and those of its subkeys.
    RegistryStatus section(api::Handle key, const std::string& written, std::string_view path) {
        if (written.find_first_of("\r\n") != std::string::npos) {
            return failure(Code::refused, "cannot export " + describe(Subject{path}),
                           "a key name holds a line break, which a .reg file cannot");
        }
        writer_.append_key(out_, written);
        if (RegistryStatus read = read_values(key, path, values_); !read.ok()) return read;
        for (const RawValue& value : values_) {
            writer_.append_value(out_, value.name, value.type, value.data);
        }
        out_ += u"\r\n";
        std::vector<std::string> subkeys;
        if (RegistryStatus read = read_subkeys(key, path, subkeys); !read.ok()) return read;
        for (const std::string& name : subkeys) {
            const std::string below_path = std::string(path) + "\\" + detail::utf8(name);
            api::Handle below = 0;
            api::Refusal why;
            const api::Result r =
                api::RegOpenKeyExA(key, name.c_str(), 0, api::kKeyRead, &below, &why);
            if (r == api::kFileNotFound && name.find('?') != std::string::npos) {
                return failure(Code::refused, "cannot export " + describe(Subject{below_path}),
                               "its name holds characters that code page " +
                                   std::to_string(text::code_page()) + " lacks");
            }
            if (r != api::kSuccess) {
                return detail::refusal("cannot open " + describe(Subject{below_path}),
                                       Subject{below_path}, Target::key, r, why);
            }
            RegistryStatus status = section(below, written + "\\" + name, below_path);
            api::RegCloseKey(below);
            if (!status.ok()) return status;
        }
        return {};
    }

  private:
    std::u16string& out_;
    detail::RegFileWriter writer_;
    std::vector<RawValue> values_;
};

RegistryStatus export_editor_file(const std::string& path, const std::string& file) {
    if (detail::file_exists(file)) {
        return failure(Code::file_exists, "cannot export to " + quote(file), "the file exists",
                       file);
    }
    KeyPath resolved;
    std::u16string text;
    {
        api::ReadSnapshot snapshot;
        api::Handle key = 0;
        if (RegistryStatus status = open_to_read(path, "cannot export", resolved, key);
            !status.ok()) {
            return status;
        }
        detail::RegFileWriter().append_header(text);
        RegistryStatus status = Exporter(text).section(key, resolved.written, path);
        api::RegCloseKey(key);
        if (!status.ok()) return status;
    }
    std::string bytes(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return write_new_file(file, bytes);
}

}  // namespace

std::string_view value_type_name(std::uint32_t type) noexcept {
    static constexpr std::array<std::string_view, 12> kNames = {
        "REG_NONE",      "REG_SZ",        "REG_EXPAND_SZ",
        "REG_BINARY",    "REG_DWORD",     "REG_DWORD_BIG_ENDIAN",
        "REG_LINK",      "REG_MULTI_SZ",  "REG_RESOURCE_LIST",
        "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"};
    return type < kNames.size() ? kNames[type] : std::string_view();
}

RegistryStatus list_values(const std::string& path, std::vector<RegValue>& values) {
    values.clear();
    KeyPath resolved;
    api::ReadSnapshot snapshot;
    api::Handle key = 0;
    if (RegistryStatus status = open_to_read(path, "cannot open", resolved, key); !status.ok()) {
        return status;
    }
    std::vector<RawValue> raw;
    RegistryStatus status = read_values(key, path, raw);
    api::RegCloseKey(key);
    if (!status.ok()) return status;
    values.reserve(raw.size());
    for (RawValue& value : raw) {
        const bool text_type = value.type == api::kString || value.type == api::kExpandString ||
                               value.type == api::kMultiString;
        std::string data = text_type ? detail::utf8(value.data) : std::move(value.data);
        values.push_back({detail::utf8(value.name), value.type, Bytes(data.begin(), data.end())});
    }
    return {};
}

RegistryStatus import_reg_file(const std::string& file, RegFileFormat format) {
    std::optional<std::string> bytes;  // read once, whichever reader takes them
    if (format != RegFileFormat::plain) {
        if (RegistryStatus read = detail::read_file(file, bytes.emplace()); !read.ok()) return read;
    }
    if (format == RegFileFormat::windows ||
        (format == RegFileFormat::automatic && detail::looks_like_editor_file(*bytes))) {
        return import_editor_file(file, *bytes);
    }
    clsRegistryAccess registry;
    detail::Operations op(registry);
    if (op.run([&] { return op.import_from_reg(file, std::move(bytes)); }) == 1 ||
        !registry.LastStatus().ok()) {
        return registry.LastStatus();
    }
    return failure(Code::bad_line, "cannot import " + quote(file), "it was not applied whole",
                   file);
}

RegistryStatus export_reg_file(const std::string& path, const std::string& file,
                               RegFileFormat format) {
    if (format == RegFileFormat::windows) return export_editor_file(path, file);
    clsRegistryAccess registry;
    if (registry.ExportToReg(path, file) == 1 || !registry.LastStatus().ok()) {
        return registry.LastStatus();
    }
    return failure(Code::io_error, "cannot export to " + quote(file), "it was not written", file);
}

}  // namespace syskit::registry
