// `syskit reg`: the registry from the command line, one clsRegistryAccess operation per command.
//
// Each command makes the call of the same meaning and turns its result into an exit status. The
// operations report failure only as 0, false, -1 or the caller's default, so where the tool can
// tell why (a key that is missing, a path that names no root key, an export file that exists, a
// file that is not REGEDIT4) it finds out itself, before or after the call, and says so. When the
// embedded store refused a call for a reason of its own (a damaged database, a directory it cannot
// create), the store's message is shown, since it names the file. On Windows the commands work
// on the system's registry, which has no store to select or to report.
//
// Names and texts are UTF-8 on the command line and in the output; the library converts them to
// and from the registry's code page. A value is data, so plain output prints it exactly as the
// library returns it (NUL and line breaks included) and only JSON escapes. Messages, which must
// stay one line, show names and paths with control characters escaped.
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "command.hpp"
#include "diagnostics.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace syskit::cli {
namespace {

using Json = nlohmann::ordered_json;

// The hive names, in the order the registry object shortens long names; only used to explain why
// a path could not be used.
struct HiveName {
    std::string_view long_name;
    std::string_view short_name;
};
constexpr std::array<HiveName, 7> kHives = {{
    {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_USERS", "HKUS"},
    {"HKEY_PERFORMANCE_DATA", "HKPD"},
    {"HKEY_DYN_DATA", "HKDD"},
    {"HKEY_CURRENT_CONFIG", "HKCC"},
}};

// Hex text for a binary write: the library counts its digits in 16-bit arithmetic and raises an
// overflow error beyond this many.
constexpr std::size_t kMaxHexDigits = 32766;

// The first line every REGEDIT4 file must have, in any letter case, ended by CR LF.
constexpr std::string_view kRegHeader = "REGEDIT4";

// Progress on a terminal is redrawn at most this often, so a large export is not slowed by it.
constexpr std::chrono::milliseconds kRedrawInterval{50};

struct RegOptions {
    std::string directory;
    CLI::Option* directory_option = nullptr;

    std::string path;
    std::string name;
    bool json = false;

    // set
    std::string string_value;
    std::string dword_value;
    std::string binary_value;
    CLI::Option* string_option = nullptr;
    CLI::Option* dword_option = nullptr;
    CLI::Option* binary_option = nullptr;
    bool no_create = false;

    // values, get
    std::int32_t only_type = -1;
    std::string read_type = "string";
    std::string default_value;
    CLI::Option* default_option = nullptr;

    // export, import
    std::string file;
    bool no_subkeys = false;
};

// --- Messages ---------------------------------------------------------------------------------

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// A name or path in single quotes, control characters as \xHH so the message stays one line.
std::string in_quotes(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += fmt::format("\\x{:02X}", byte);
        } else {
            out += c;
        }
    }
    return out + "'";
}

// The root key token of a path, resolved as the registry object resolves it, when it names no
// root key; nothing when it does.
std::optional<std::string> unknown_hive(const std::string& path) {
    std::string shortened = path;
    for (const HiveName& hive : kHives) {
        std::string upper = ascii_upper(shortened);
        for (std::size_t at = upper.find(hive.long_name); at != std::string::npos;
             at = upper.find(hive.long_name, at + hive.short_name.size())) {
            shortened.replace(at, hive.long_name.size(), hive.short_name);
            upper.replace(at, hive.long_name.size(), hive.short_name);
        }
    }
    const std::size_t backslash = shortened.find('\\');
    const std::string token =
        ascii_upper(backslash == std::string::npos ? shortened : shortened.substr(0, 4));
    for (const HiveName& hive : kHives) {
        if (token == hive.short_name) return std::nullopt;
    }
    return path.substr(0, path.find('\\'));
}

// Why the embedded store refused the last call for a reason of its own, or nothing. On Windows
// the registry is the system's, and its calls report no such reason.
std::string store_error() {
#if defined(_WIN32)
    return {};
#else
    return registry::last_store_error();
#endif
}

// The store's own reason for refusing a call, as ": reason", or nothing.
std::string store_reason() {
    std::string error = store_error();
    return error.empty() ? error : ": " + error;
}

// Why an operation on `path` failed, as ": reason": the store's own reason, else a path that
// names no root key, else `otherwise`.
std::string reason(const std::string& path, std::string_view otherwise = {}) {
    if (std::string error = store_reason(); !error.empty()) return error;
    if (const auto token = unknown_hive(path)) {
        return token->empty() ? std::string(": the path names no root key")
                              : fmt::format(": unknown root key {}", in_quotes(*token));
    }
    return std::string(otherwise);
}

// Answers that carry no failure value (false, a default) can still come from a store that
// refused the call: then its reason is the answer.
void check_store() {
    if (std::string error = store_error(); !error.empty()) {
        throw Failure(kExitFailed, error);
    }
}

std::string key_name(const RegOptions& options) {
    return fmt::format("key {}", in_quotes(options.path));
}

std::string value_name(const RegOptions& options) {
    return fmt::format("value {} of key {}", in_quotes(options.name), in_quotes(options.path));
}

// --- Arguments --------------------------------------------------------------------------------

// A 32-bit number: decimal (negative too) or 0x-hexadecimal, signed or unsigned, so 4294967295
// and 0xFFFFFFFF are both -1.
std::optional<std::int32_t> parse_dword(std::string_view text) {
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const bool negative = !hex && text.starts_with('-');
    const std::string_view digits = text.substr(hex ? 2 : negative ? 1 : 0);
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, hex ? 16 : 10);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (negative) {
        if (magnitude > 0x80000000u) return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    }
    if (magnitude > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
}

std::int32_t dword_argument(std::string_view option, const std::string& text) {
    const auto number = parse_dword(text);
    if (!number) {
        throw usage_failure(
            fmt::format("{} {}: not a 32-bit number (decimal, negative, or hexadecimal with 0x)",
                        option, in_quotes(text)));
    }
    return *number;
}

std::size_t hex_digits(std::string_view text) {
    std::size_t digits = 0;
    for (const char c : text) digits += c != ' ' ? 1 : 0;
    return digits;
}

void select_store(const RegOptions& options) {
    if (options.directory_option->count() == 0) return;
#if defined(_WIN32)
    throw usage_failure(
        "--registry is not available on Windows: the commands work on the Windows registry, "
        "which has no store directory");
#else
    if (options.directory.empty()) throw usage_failure("--registry needs a directory");
    registry::set_store_directory(options.directory);
#endif
}

// --- Output -----------------------------------------------------------------------------------

void print_json(const Json& json) {
    write_stdout(json.dump(2, ' ', false, Json::error_handler_t::replace) + '\n');
}

// A predicate's answer: printed, and the exit status.
int answer(bool yes) {
    if (!yes) check_store();
    write_stdout(yes ? "true\n" : "false\n");
    return yes ? kExitOk : kExitFailed;
}

std::size_t terminal_columns() {
    const std::size_t columns = os::terminal_columns(os::kStandardError);
    return columns > 1 ? columns : 80;
}

// The export's progress on a terminal: the key being written, on one line of stderr that is
// redrawn in place and erased at the end. A path too long for the line shows its end, which is
// the part that changes from key to key.
class TerminalProgress final : public ExportProgress {
  public:
    TerminalProgress() : width_(terminal_columns() - 1) {}
    ~TerminalProgress() override { finish(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void set_text(std::string_view text) override {
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ > 0 && now - last_draw_ < kRedrawInterval) return;
        last_draw_ = now;

        std::vector<std::string_view> characters;
        for (std::size_t i = 0; i < text.size();) {
            std::size_t length = 1;
            while (i + length < text.size() && (text[i + length] & 0xC0) == 0x80) ++length;
            characters.push_back(text.substr(i, length));
            i += length;
        }
        std::string line = "\r";
        std::size_t shown = characters.size();
        std::size_t first = 0;
        if (shown > width_) {
            line += "…";
            first = shown - (width_ - 1);
            shown = width_;
        }
        for (std::size_t i = first; i < characters.size(); ++i) {
            const auto byte = static_cast<unsigned char>(characters[i].front());
            line += byte < 0x20 || byte == 0x7F ? std::string_view("?") : characters[i];
        }
        if (shown < drawn_) line += std::string(drawn_ - shown, ' ');
        drawn_ = shown;
        draw(line);
    }

    void finish() {
        if (drawn_ == 0) return;
        draw(fmt::format("\r{}\r", std::string(drawn_, ' ')));
        drawn_ = 0;
    }

  private:
    static void draw(std::string_view line) {
        // A display that cannot be drawn is not worth failing the export for.
        static_cast<void>(os::write_all(os::kStandardError, line));
    }

    std::size_t width_;
    std::size_t drawn_ = 0;  // characters on the line now
    std::chrono::steady_clock::time_point last_draw_;
};

// --- Keys and values --------------------------------------------------------------------------

int run_create(const RegOptions& options) {
    clsRegistryAccess registry;
    if (registry.CreateKey(options.path) == 0) {
        throw Failure(kExitFailed,
                      fmt::format("cannot create {}{}", key_name(options), reason(options.path)));
    }
    return kExitOk;
}

int run_delete(const RegOptions& options) {
    clsRegistryAccess registry;
    if (registry.KillKey(options.path) == 0) {
        throw Failure(kExitFailed,
                      fmt::format("cannot delete {}{}", key_name(options),
                                  reason(options.path, ": no such key, or no access to it")));
    }
    // The key could be opened, which is all the operation reports: the registry keeps a key that
    // has subkeys, and a root key.
    if (registry.KeyExists(options.path)) {
        throw Failure(
            kExitFailed,
            fmt::format(
                "{} was not deleted{}", key_name(options),
                reason(options.path, registry.HaveSubkey(options.path) ? ": it has subkeys" : "")));
    }
    return kExitOk;
}

int run_unset(const RegOptions& options) {
    clsRegistryAccess registry;
    if (registry.KillValue(options.path, options.name) == 0) {
        throw Failure(kExitFailed,
                      fmt::format("cannot delete {}{}", value_name(options),
                                  reason(options.path, ": no such key, or no access to it")));
    }
    if (registry.ValueExists(options.path, options.name)) {
        throw Failure(kExitFailed, fmt::format("{} was not deleted{}", value_name(options),
                                               reason(options.path)));
    }
    return kExitOk;
}

int run_set(const RegOptions& options) {
    const std::size_t given = options.string_option->count() + options.dword_option->count() +
                              options.binary_option->count();
    if (given != 1) {
        throw usage_failure("give the value with exactly one of --string, --dword and --binary");
    }
    std::optional<std::int32_t> number;
    if (options.dword_option->count() > 0) number = dword_argument("--dword", options.dword_value);
    if (options.binary_option->count() > 0 && !options.binary_value.empty()) {
        clsRegistryAccess checker;
        if (!checker.isBinValid(options.binary_value)) {
            throw usage_failure(fmt::format("--binary {}: not hexadecimal digits and spaces",
                                            in_quotes(options.binary_value)));
        }
        if (hex_digits(options.binary_value) > kMaxHexDigits) {
            throw usage_failure(
                fmt::format("--binary: more than {} hexadecimal digits", kMaxHexDigits));
        }
    }

    clsRegistryAccess registry;
    registry.CreateKeyIfDoesntExists(!options.no_create);
    std::int32_t written = 0;
    if (options.string_option->count() > 0) {
        written = registry.WriteString(options.path, options.name, options.string_value);
    } else if (number) {
        written = registry.WriteDWORD(options.path, options.name, *number);
    } else {
        written = registry.WriteBinary(options.path, options.name, options.binary_value);
    }
    if (written != 0) return kExitOk;

    std::string why = reason(options.path);
    if (why.empty() && options.no_create && !registry.KeyExists(options.path)) {
        why = ": the key does not exist (--no-create)";
    }
    throw Failure(kExitFailed, fmt::format("cannot write {}{}", value_name(options), why));
}

int run_exists(const RegOptions& options) {
    clsRegistryAccess registry;
    return answer(registry.KeyExists(options.path));
}

int run_has_subkeys(const RegOptions& options) {
    clsRegistryAccess registry;
    return answer(registry.HaveSubkey(options.path));
}

int run_value_exists(const RegOptions& options) {
    clsRegistryAccess registry;
    return answer(registry.ValueExists(options.path, options.name));
}

[[noreturn]] void cannot_open(const RegOptions& options) {
    throw Failure(kExitFailed,
                  fmt::format("cannot open {}{}", key_name(options),
                              reason(options.path, ": no such key, or no access to it")));
}

int run_keys(const RegOptions& options) {
    clsRegistryAccess registry;
    std::vector<std::string> names;
    if (registry.EnumKeys(options.path, names) < 0) cannot_open(options);
    check_store();  // a listing cut short by the store still counts its names
    if (options.json) {
        print_json(Json(names));
        return kExitOk;
    }
    std::string out;
    for (const std::string& name : names) out += name + '\n';
    write_stdout(out);
    return kExitOk;
}

int run_values(const RegOptions& options) {
    clsRegistryAccess registry;
    std::vector<std::string> names;
    std::vector<RegistryValue> values;
    if (registry.EnumValues(options.path, names, values, options.only_type) < 0) {
        cannot_open(options);
    }
    check_store();
    if (options.json) {
        Json list = Json::array();
        for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
            Json value;  // null for a type that is listed by name only
            if (const auto* text = std::get_if<std::string>(&values[i])) value = *text;
            if (const auto* dword = std::get_if<std::int32_t>(&values[i])) value = *dword;
            list.push_back(Json{{"name", names[i]}, {"value", std::move(value)}});
        }
        print_json(list);
        return kExitOk;
    }
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
        out += names[i] + '\t';
        if (const auto* text = std::get_if<std::string>(&values[i])) out += *text;
        if (const auto* dword = std::get_if<std::int32_t>(&values[i]))
            out += std::to_string(*dword);
        out += '\n';
    }
    write_stdout(out);
    return kExitOk;
}

// A read without --default: a missing value is an error, and so is a value the reader cannot
// return (then it returns its default, which is told apart from data by reading again with
// another default: no value is both).
template <typename Read, typename Value>
Value read_existing(const RegOptions& options, clsRegistryAccess& registry, Read read,
                    const Value& default_value, const Value& other_default,
                    std::string_view limit) {
    if (!registry.ValueExists(options.path, options.name)) {
        check_store();
        throw Failure(kExitFailed,
                      fmt::format("no {}{}", value_name(options),
                                  reason(options.path, registry.KeyExists(options.path)
                                                           ? ""
                                                           : ": no such key, or no access to it")));
    }
    Value value = read(default_value);
    if (value == default_value && read(other_default) == other_default) {
        check_store();
        throw Failure(kExitFailed, fmt::format("{} cannot be read as {} ({})", value_name(options),
                                               options.read_type, limit));
    }
    return value;
}

int run_get(const RegOptions& options) {
    clsRegistryAccess registry;
    const bool has_default = options.default_option->count() > 0;
    Json result;
    try {
        if (options.read_type == "dword") {
            const std::int32_t fallback =
                has_default ? dword_argument("--default", options.default_value) : -1;
            auto read = [&](std::int32_t d) {
                return registry.ReadDWORD(options.path, options.name, d);
            };
            result = has_default ? read(fallback)
                                 : read_existing(options, registry, read, fallback, 0,
                                                 "the data is longer than 4 bytes");
        } else {
            const bool binary = options.read_type == "binary";
            auto read = [&](const std::string& d) {
                return binary ? registry.ReadBinary(options.path, options.name, d)
                              : registry.ReadString(options.path, options.name, d);
            };
            // The readers' own defaults: a lone NUL for text, nothing for hex text.
            const std::string fallback = has_default ? options.default_value
                                         : binary    ? ""
                                                     : std::string(1, '\0');
            result = has_default ? read(fallback)
                                 : read_existing(options, registry, read, fallback,
                                                 std::string(binary ? "-" : ""),
                                                 binary ? "the data is too long"
                                                        : "the text is longer than 254 characters");
        }
    } catch (const Error& error) {
        // Hex text of more than 32766 characters overflows the library's 16-bit counts.
        throw Failure(kExitFailed, fmt::format("cannot read {}: error {}: {}", value_name(options),
                                               error.number(), error.description()));
    }
    check_store();
    if (options.json) {
        print_json(result);
    } else if (result.is_string()) {
        write_stdout(result.get_ref<const std::string&>() + '\n');
    } else {
        write_stdout(fmt::format("{}\n", result.get<std::int32_t>()));
    }
    return kExitOk;
}

// --- Export and import ------------------------------------------------------------------------

bool path_exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::symlink_status(os::native_path(path), error).type() !=
           std::filesystem::file_type::not_found;
}

int run_export(const RegOptions& options) {
    if (path_exists(options.file)) {
        throw Failure(kExitFailed,
                      fmt::format("cannot export to {}: the file exists", in_quotes(options.file)));
    }
    std::int32_t done = 0;
    {
        std::optional<TerminalProgress> progress;
        if (os::is_terminal(os::kStandardError)) progress.emplace();
        done = clsRegistryAccess().ExportToReg(options.path, options.file, !options.no_subkeys,
                                               progress ? &*progress : nullptr);
    }
    // A key the store could not read exports as an empty section, which is not the registry's
    // content: then the file is not kept either.
    const bool store_failed = !store_error().empty();
    if (done == 1 && !store_failed) return kExitOk;

    // The file did not exist before: whatever is there now is a partial export.
    if (store_failed || path_exists(options.file)) {
        std::error_code ignored;
        std::filesystem::remove(os::native_path(options.file), ignored);
    } else {
        // Nothing was written: creating the file tells why.
        std::error_code error;
        const int fd = os::create_new(options.file, error);
        if (fd < 0)
            throw io_failure(fmt::format("cannot write {}", in_quotes(options.file)), error);
        static_cast<void>(os::close(fd));
        os::remove_file(options.file);
    }
    throw Failure(kExitFailed, fmt::format("cannot export {} to {}{}", key_name(options),
                                           in_quotes(options.file), reason(options.path)));
}

// The number of the first line that stops an import: one that is only "[" once its quotes are
// removed and its spaces trimmed; 0 when there is none.
std::size_t stopping_line(std::string_view text) {
    std::size_t number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        std::string line;
        for (const char c : text.substr(start, end - start)) {
            if (c != '"') line += c;
        }
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos &&
            line.substr(first, line.find_last_not_of(' ') + 1 - first) == "[") {
            return number;
        }
        start = end + 2;
    }
    return 0;
}

int run_import(const RegOptions& options) {
    // "-" is a file here: the operation reads files by name.
    const std::string file = options.file == kStandardStream ? "./-" : options.file;
    const std::string head =
        read_input(file, kRegHeader.size() + 2).substr(0, kRegHeader.size() + 2);
    const bool header = head.size() >= kRegHeader.size() &&
                        ascii_upper(head.substr(0, kRegHeader.size())) == kRegHeader;
    if (!header || (head.size() > kRegHeader.size() && head.substr(kRegHeader.size()) != "\r\n")) {
        throw Failure(kExitFailed,
                      fmt::format("{} is not a REGEDIT4 file: its first line must be REGEDIT4{}",
                                  in_quotes(options.file),
                                  header && head[kRegHeader.size()] == '\n'
                                      ? ", and its lines must end with CR LF, not LF"
                                      : ""));
    }

    if (clsRegistryAccess().ImportFromReg(file) == 1) {
        // Single writes that fail do not stop an import; a store that failed them does.
        if (std::string why = store_reason(); !why.empty()) {
            throw Failure(kExitFailed,
                          fmt::format("{} was not applied whole{}", in_quotes(options.file), why));
        }
        return kExitOk;
    }
    std::string why = store_reason();
    if (why.empty()) {
        if (const std::size_t line = stopping_line(read_input(file)); line > 0) {
            why = fmt::format(
                ": line {} is a key line without a key; the lines before it were "
                "applied",
                line);
        }
    }
    throw Failure(kExitFailed, fmt::format("cannot import {}{}", in_quotes(options.file), why));
}

// --- The command line -------------------------------------------------------------------------

using Runner = int (*)(const RegOptions&);

CLI::App* add_command(CLI::App& reg, Commands& commands, const std::shared_ptr<RegOptions>& options,
                      std::string name, std::string description, Runner runner,
                      std::string_view statuses) {
    CLI::App* command = reg.add_subcommand(std::move(name), std::move(description));
    // --registry may also follow the command.
    command->fallthrough();
    command->footer(fmt::format("Exit status: {}", statuses));
    commands.push_back({command, [options, runner] {
                            select_store(*options);
                            return runner(*options);
                        }});
    return command;
}

void add_path(CLI::App& command, RegOptions& options) {
    command
        .add_option("PATH", options.path,
                    "Registry path: a root key (HKEY_CURRENT_USER or HKCU, HKLM, HKCR, HKUS, HKCC, "
                    "HKPD, HKDD) and optionally a backslash and the subkey path")
        ->required();
}

void add_name(CLI::App& command, RegOptions& options, std::string_view help) {
    command.add_option("NAME", options.name, std::string(help))->required();
}

}  // namespace

void add_registry_commands(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<RegOptions>();
    CLI::App* reg = app.add_subcommand(
        "reg", "Read and change the registry: keys, values, and REGEDIT4 export and import");
    // At most one command; the callback below requires it, so that a word that is no command is
    // named in the message (the parser would only say that a command is required).
    reg->require_subcommand(0, 1);
    reg->callback([reg] {
        if (!reg->get_subcommands().empty() || reg->get_help_ptr()->count() > 0) return;
        for (const std::string& word : reg->remaining()) {
            if (!word.starts_with('-')) {
                throw CLI::ParseError(fmt::format("unknown command '{}'", word),
                                      CLI::ExitCodes::ExtrasError);
            }
        }
        throw CLI::ParseError("a command is required", CLI::ExitCodes::RequiredError);
    });
    options->directory_option =
        reg->add_option("--registry", options->directory,
                        "Use the registry store in DIR (default: $SYSKIT_REGISTRY, else "
                        "$XDG_DATA_HOME/syskit/registry, else ~/.local/share/syskit/registry)")
            ->type_name("DIR");
#if defined(_WIN32)
    // Only recognised, so that using it is explained (select_store) rather than unknown.
    options->directory_option->group("");
#endif
    reg->footer("Run 'syskit reg COMMAND --help' for a command's arguments and exit statuses.");

    constexpr std::string_view kChangeStatus =
        "0 done, 1 failed (the message says why), 2 usage error.";
    constexpr std::string_view kAnswerStatus =
        "0 true, 1 false (or the registry store failed: a message says why), 2 usage error.";
    constexpr std::string_view kListStatus =
        "0 done, 1 the key cannot be opened or the registry store failed, 2 usage error.";
    constexpr std::string_view kValueName = "Value name; the empty name is the key's default value";

    CLI::App* command =
        add_command(*reg, commands, options, "create", "Create a key, with any missing parent keys",
                    run_create, kChangeStatus);
    add_path(*command, *options);

    command =
        add_command(*reg, commands, options, "delete",
                    "Delete a key; a key with subkeys is not deleted", run_delete, kChangeStatus);
    add_path(*command, *options);

    command = add_command(*reg, commands, options, "unset", "Delete a value of a key", run_unset,
                          kChangeStatus);
    add_path(*command, *options);
    add_name(*command, *options, kValueName);

    command = add_command(*reg, commands, options, "set",
                          "Write a value: a text, a 32-bit number or binary data", run_set,
                          kChangeStatus);
    add_path(*command, *options);
    add_name(*command, *options,
             "Value name; the empty name, and \"@\" with --string, is the key's default value");
    options->string_option =
        command->add_option("--string", options->string_value, "Write a text value (REG_SZ)")
            ->type_name("TEXT");
    options->dword_option =
        command
            ->add_option("--dword", options->dword_value,
                         "Write a 32-bit number (REG_DWORD): decimal, negative, or hexadecimal "
                         "with 0x; 4294967295 and 0xFFFFFFFF are -1")
            ->type_name("N");
    options->binary_option =
        command
            ->add_option(
                "--binary", options->binary_value,
                "Write binary data (REG_BINARY) given as hexadecimal digits, read in pairs "
                "with spaces ignored. An odd last digit is a byte of its own after an "
                "odd number of pairs and dropped after an even number: '123' writes 12 "
                "03, '12345' writes 12 34. '' writes empty data")
            ->type_name("HEX");
    options->string_option->excludes(options->dword_option)->excludes(options->binary_option);
    options->dword_option->excludes(options->binary_option);
    command->add_flag("--no-create", options->no_create,
                      "Fail instead of creating the key when it does not exist");

    command = add_command(*reg, commands, options, "exists", "Print whether a key exists",
                          run_exists, kAnswerStatus);
    add_path(*command, *options);

    command = add_command(*reg, commands, options, "has-subkeys", "Print whether a key has subkeys",
                          run_has_subkeys, kAnswerStatus);
    add_path(*command, *options);

    command = add_command(*reg, commands, options, "value-exists",
                          "Print whether a key has a value of this name", run_value_exists,
                          kAnswerStatus);
    add_path(*command, *options);
    add_name(*command, *options, kValueName);

    command = add_command(*reg, commands, options, "keys", "List the subkeys of a key, one a line",
                          run_keys, kListStatus);
    add_path(*command, *options);
    command->add_flag("--json", options->json, "Print a JSON array of the names");

    command = add_command(
        *reg, commands, options, "values",
        "List the values of a key, one a line: the name, a tab, and the value (a text as it is, "
        "a number in decimal, binary data as hex text, nothing for other types)",
        run_values, kListStatus);
    add_path(*command, *options);
    command
        ->add_option("--type", options->only_type,
                     "List only values of this type: 1 text, 3 binary, 4 number; -1 all (default)")
        ->type_name("N");
    command->add_flag("--json", options->json,
                      "Print a JSON array of {\"name\": ..., \"value\": ...}; the value is a "
                      "string, a number, or null for other types");

    command = add_command(
        *reg, commands, options, "get",
        "Print a value as text, as a 32-bit number in decimal or as binary data in hex text",
        run_get,
        "0 done, 1 no such value (without --default), the value cannot be read in that form, "
        "or the registry store failed, 2 usage error.");
    add_path(*command, *options);
    add_name(*command, *options, kValueName);
    command
        ->add_option("--type", options->read_type,
                     "Read the value as string (default), dword or binary")
        ->check(CLI::IsMember({"string", "dword", "binary"}))
        ->type_name("TYPE");
    options->default_option =
        command
            ->add_option("--default", options->default_value,
                         "Print VALUE when the value cannot be read instead of failing (for "
                         "dword a number as --dword of 'set' takes)")
            ->type_name("VALUE");
    command->add_flag("--json", options->json, "Print the value as a JSON string or number");

    command = add_command(
        *reg, commands, options, "export",
        "Write a key and its subkeys to a new REGEDIT4 file (code-page text, CR LF line ends); "
        "on a terminal, the key being written is shown on stderr",
        run_export,
        "0 done, 1 the file exists or cannot be written, or the registry store failed (a failed "
        "export removes the file it started), 2 usage error.");
    add_path(*command, *options);
    command->add_option("FILE", options->file, "The file to write; it must not exist")->required();
    command->add_flag("--no-subkeys", options->no_subkeys, "Write the key alone");

    command = add_command(*reg, commands, options, "import",
                          "Apply a REGEDIT4 file to the registry, creating keys as values are "
                          "written",
                          run_import,
                          "0 done, 1 the file cannot be read, is not a REGEDIT4 file, or could "
                          "not be applied whole, 2 usage error.");
    command->add_option("FILE", options->file, "The REGEDIT4 file")->required();
}

}  // namespace syskit::cli
