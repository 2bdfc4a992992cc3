// `syskit reg`: the registry from the command line, one clsRegistryAccess operation per command.
//
// A thin front end. Each command makes the call of the same meaning; the answer decides what is
// printed, and the operation's status (LastStatus) decides whether the command failed and says
// why: the tool adds no registry rules of its own. The few statuses that are answers rather than
// failures are named per command: a missing key makes `exists` print false, a missing value is
// what `--default` is for, deleting a value that is not there is done.
//
// Names and texts are UTF-8 on the command line and in the output; the library converts them to
// and from the registry's code page. A value is data, so plain output prints it exactly as the
// library returns it (NUL and line breaks included) and only JSON escapes. On Windows the commands
// work on the system's registry, which has no store directory to select.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "code_page.hpp"
#include "command.hpp"
#include "diagnostics.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "progress_bar.hpp"
#include "syskit/reg_file.hpp"
#include "syskit/registry.hpp"

namespace syskit::cli {
namespace {

using Json = nlohmann::ordered_json;
using Code = RegistryStatusCode;

// Exit status of a question (exists, has-subkeys, value-exists) that could not be answered.
constexpr int kExitUnanswered = 3;

// Progress on a terminal is redrawn at most this often, so a large export is not slowed by it.
constexpr std::chrono::milliseconds kRedrawInterval{50};

struct RegOptions {
    std::string directory;
    CLI::Option* directory_option = nullptr;
    CodePageChoice code_page;

    std::string path;
    std::string name;
    std::string file;
    bool json = false;

    // set
    std::string string_value, dword_value, binary_value;
    CLI::Option* string_option = nullptr;
    CLI::Option* dword_option = nullptr;
    CLI::Option* binary_option = nullptr;
    bool no_create = false;

    // values, get
    std::int32_t only_type = -1;
    std::string read_type = "string";
    std::string default_value;
    CLI::Option* default_option = nullptr;

    // export, import: "windows" or "plain"; empty: the command's default
    bool no_subkeys = false;
    std::string format;
};

// --- Statuses ---------------------------------------------------------------------------------

// Throws the operation's failure unless its status is ok or one of `answers`.
void check(const clsRegistryAccess& registry, std::initializer_list<Code> answers = {}) {
    const RegistryStatus& status = registry.LastStatus();
    if (status.ok()) return;
    for (const Code answer : answers) {
        if (status.code == answer) return;
    }
    throw Failure(kExitFailed, status.message);
}

// A question's answer: printed, and the exit status. A question the registry could not answer
// (anything but a plain "no" in `no`) is a failure of its own.
int answer(const clsRegistryAccess& registry, bool yes, std::initializer_list<Code> no) {
    const RegistryStatus& status = registry.LastStatus();
    bool answered = status.ok();
    for (const Code code : no) answered = answered || status.code == code;
    if (!answered) throw Failure(kExitUnanswered, status.message);
    write_stdout(yes ? "true\n" : "false\n");
    return yes ? kExitOk : kExitFailed;
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
                        option, in_quotes(text, '\'')));
    }
    return *number;
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

void print_value(const Json& value, bool json) {
    if (json) {
        print_json(value);
    } else if (value.is_string()) {
        write_stdout(value.get_ref<const std::string&>() + '\n');
    } else {
        write_stdout(fmt::format("{}\n", value.get<std::int32_t>()));
    }
}

// The export's file, once the export has started it: removed if the command is interrupted or
// fails, kept when it succeeds. On a terminal the key being written is shown on stderr.
class ExportDisplay final : public ExportProgress {
  public:
    explicit ExportDisplay(const std::string& file) : file_(file) {
        if (os::is_terminal(os::kStandardError)) line_.emplace();
    }
    ~ExportDisplay() override { os::clear_interrupt_cleanup(); }
    ExportDisplay(const ExportDisplay&) = delete;
    ExportDisplay& operator=(const ExportDisplay&) = delete;

    // The export shows each key after it has written the file's header, so the first key tells
    // that the file is the export's own.
    void set_text(std::string_view text) override {
        if (!started_) {
            started_ = true;
            os::set_interrupt_cleanup(file_);
        }
        if (!line_) return;
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - last_draw_ < kRedrawInterval) return;
        drawn_ = true;
        last_draw_ = now;
        line_->show(fit_to_line(text, line_->width()));
    }

    [[nodiscard]] bool started() const noexcept { return started_; }
    void finish() {
        if (line_) line_->erase();
    }

  private:
    std::string file_;
    std::optional<StatusLine> line_;
    bool started_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_draw_;
};

// --- The commands -----------------------------------------------------------------------------

int run_create(const RegOptions& options) {
    clsRegistryAccess registry;
    registry.CreateKey(options.path);
    check(registry);
    return kExitOk;
}

int run_delete(const RegOptions& options) {
    clsRegistryAccess registry;
    registry.KillKey(options.path);
    check(registry);
    return kExitOk;
}

int run_unset(const RegOptions& options) {
    clsRegistryAccess registry;
    registry.KillValue(options.path, options.name);
    check(registry, {Code::no_such_value});  // deleting what is not there is done too
    return kExitOk;
}

int run_set(const RegOptions& options) {
    const std::size_t given = options.string_option->count() + options.dword_option->count() +
                              options.binary_option->count();
    if (given != 1) {
        throw usage_failure("give the value with exactly one of --string, --dword and --binary");
    }
    clsRegistryAccess registry;
    registry.CreateKeyIfDoesntExists(!options.no_create);
    if (options.string_option->count() > 0) {
        require_representable("the text", options.string_value);
        registry.WriteString(options.path, options.name, options.string_value);
    } else if (options.dword_option->count() > 0) {
        registry.WriteDWORD(options.path, options.name,
                            dword_argument("--dword", options.dword_value));
    } else {
        const std::string& hex = options.binary_value;
        if (!hex.empty() && !registry.isBinValid(hex)) {
            throw usage_failure(
                fmt::format("--binary {}: not hexadecimal digits and spaces", in_quotes(hex, '\'')));
        }
        if (std::size_t(std::count_if(hex.begin(), hex.end(), [](char c) { return c != ' '; })) >
            registry::kMaxHexTextLength) {
            throw usage_failure(fmt::format("--binary: more than {} hexadecimal digits",
                                            registry::kMaxHexTextLength));
        }
        registry.WriteBinary(options.path, options.name, hex);
    }
    check(registry);
    return kExitOk;
}

int run_exists(const RegOptions& options) {
    clsRegistryAccess registry;
    const bool yes = registry.KeyExists(options.path);
    return answer(registry, yes, {Code::no_such_key});
}

int run_has_subkeys(const RegOptions& options) {
    clsRegistryAccess registry;
    const bool yes = registry.HaveSubkey(options.path);
    return answer(registry, yes, {Code::no_such_key});
}

int run_value_exists(const RegOptions& options) {
    clsRegistryAccess registry;
    const bool yes = registry.ValueExists(options.path, options.name);
    return answer(registry, yes, {Code::no_such_key, Code::no_such_value});
}

int run_keys(const RegOptions& options) {
    clsRegistryAccess registry;
    std::vector<std::string> names;
    registry.EnumKeys(options.path, names);
    check(registry);
    if (options.json) {
        print_json(Json(names));
        return kExitOk;
    }
    std::string out;
    for (const std::string& name : names) out.append(name).append(1, '\n');
    write_stdout(out);
    return kExitOk;
}

// --- Values with their types ------------------------------------------------------------------

// A value's data as `values` shows it: the text types as text without the terminating NUL (a
// REG_MULTI_SZ's texts separated by NUL, in JSON an array), a REG_DWORD as a signed and a
// REG_QWORD as an unsigned decimal number, anything else as hex text ("0A FF").
Json shown_data(const registry::RegValue& value) {
    const std::vector<std::uint8_t>& data = value.data;
    std::string text(data.begin(), data.end());
    switch (value.type) {
        case 1:  // REG_SZ
        case 2:  // REG_EXPAND_SZ
            if (!text.empty() && text.back() == '\0') text.pop_back();
            return text;
        case 7: {  // REG_MULTI_SZ
            while (!text.empty() && text.back() == '\0') text.pop_back();
            Json texts = Json::array();
            for (std::size_t start = 0; start <= text.size() && !text.empty();) {
                const std::size_t end = std::min(text.find('\0', start), text.size());
                texts.push_back(text.substr(start, end - start));
                start = end + 1;
            }
            return texts;
        }
        case 4:  // REG_DWORD
            if (data.size() == 4) {
                return static_cast<std::int32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                                 static_cast<std::uint32_t>(data[3]) << 24);
            }
            break;
        case 11:  // REG_QWORD
            if (data.size() == 8) {
                std::uint64_t number = 0;
                for (std::size_t i = 8; i-- > 0;) number = number << 8 | data[i];
                return number;
            }
            break;
        default:
            break;
    }
    std::string hex;
    for (const std::uint8_t byte : data) hex += fmt::format("{}{:02X}", hex.empty() ? "" : " ", byte);
    return hex;
}

std::string type_shown(std::uint32_t type) {
    const std::string_view name = registry::value_type_name(type);
    return name.empty() ? std::to_string(type) : std::string(name);
}

int run_values(const RegOptions& options) {
    std::vector<registry::RegValue> values;
    if (const RegistryStatus status = registry::list_values(options.path, values); !status.ok()) {
        throw Failure(kExitFailed, status.message);
    }
    if (options.only_type >= 0) {
        std::erase_if(values, [&](const registry::RegValue& value) {
            return value.type != static_cast<std::uint32_t>(options.only_type);
        });
    }
    std::string out;
    if (options.json) {
        // Written element by element in print_json's layout: a listing of 100,000 values as one
        // document would cost more than the listing itself.
        const auto dumped = [](const Json& json) {
            return json.dump(-1, ' ', false, Json::error_handler_t::replace);
        };
        out = values.empty() ? "[]" : "[";
        for (std::size_t i = 0; i < values.size(); ++i) {
            out.append(i == 0 ? "\n  {\n    \"name\": " : ",\n  {\n    \"name\": ")
                .append(dumped(Json(values[i].name)))
                .append(",\n    \"type\": ")
                .append(dumped(Json(type_shown(values[i].type))))
                .append(",\n    \"value\": ")
                .append(dumped(shown_data(values[i])))
                .append("\n  }");
        }
        write_stdout(out + (values.empty() ? "\n" : "\n]\n"));
        return kExitOk;
    }
    for (const registry::RegValue& value : values) {
        out.append(value.name).append(1, '\t').append(type_shown(value.type)).append(1, '\t');
        const Json shown = shown_data(value);
        if (shown.is_string()) {
            out.append(shown.get_ref<const std::string&>());
        } else if (shown.is_array()) {
            for (std::size_t i = 0; i < shown.size(); ++i) {
                if (i > 0) out.append(1, '\0');
                out.append(shown[i].get_ref<const std::string&>());
            }
        } else {
            out.append(shown.dump());
        }
        out.append(1, '\n');
    }
    write_stdout(out);
    return kExitOk;
}

int run_get(const RegOptions& options) {
    clsRegistryAccess registry;
    const bool has_default = options.default_option->count() > 0;
    Json result;
    if (options.read_type == "dword") {
        const std::int32_t fallback =
            has_default ? dword_argument("--default", options.default_value) : -1;
        result = registry.ReadDWORD(options.path, options.name, fallback);
    } else if (options.read_type == "binary") {
        result = registry.ReadBinary(options.path, options.name, options.default_value);
    } else {
        result = has_default
                     ? registry.ReadString(options.path, options.name, options.default_value)
                     : registry.ReadString(options.path, options.name);
    }
    // With --default, a value that cannot be read gives the default; the store failing does not.
    if (has_default) {
        check(registry, {Code::no_such_key, Code::no_such_value, Code::does_not_fit});
    } else {
        check(registry);
    }
    print_value(result, options.json);
    return kExitOk;
}

// The export in the Windows editor's format. The library writes a new file whole; here it writes
// one next to FILE under a name of its own, which an interrupt removes, and the complete file
// then takes FILE's name only if FILE still does not exist.
int run_export_windows(const RegOptions& options) {
    if (options.no_subkeys) {
        throw usage_failure("--no-subkeys: the Windows editor's format has no export of a key alone");
    }
    if (os::file_status(options.file).kind != os::FileKind::missing) {
        throw Failure(kExitFailed, fmt::format("cannot export to {}: the file exists",
                                               in_quotes(options.file, '\'')));
    }
    std::string temporary;
    while (temporary.empty() || os::file_status(temporary).kind != os::FileKind::missing) {
        temporary = fmt::format("{}.syskit-{:08x}", options.file, std::random_device()());
    }
    os::set_interrupt_cleanup(temporary);
    const RegistryStatus status =
        registry::export_reg_file(options.path, temporary, registry::RegFileFormat::windows);
    std::error_code renamed;
    if (status.ok()) renamed = os::rename_new(temporary, options.file);
    if (!status.ok() || renamed) os::remove_file(temporary);
    os::clear_interrupt_cleanup();
    if (!status.ok()) {
        // The library's message names the file it wrote: the user's file is the one to name.
        std::string message = status.message;
        for (std::size_t at = message.find(temporary); at != std::string::npos;
             at = message.find(temporary, at + options.file.size())) {
            message.replace(at, temporary.size(), options.file);
        }
        throw Failure(kExitFailed, message);
    }
    if (renamed == std::errc::file_exists) {
        throw Failure(kExitFailed, fmt::format("cannot export to {}: the file exists",
                                               in_quotes(options.file, '\'')));
    }
    if (renamed) throw io_failure(fmt::format("cannot write {}", in_quotes(options.file, '\'')), renamed);
    return kExitOk;
}

int run_export(const RegOptions& options) {
    if (options.format == "windows") return run_export_windows(options);
    clsRegistryAccess registry;
    ExportDisplay display(options.file);
    const std::int32_t done =
        registry.ExportToReg(options.path, options.file, !options.no_subkeys, &display);
    display.finish();
    const RegistryStatus& status = registry.LastStatus();
    if (done == 1 && status.ok()) return kExitOk;
    // Whatever the export started is not the key's content: the file goes.
    if (status.code != Code::file_exists) os::remove_file(options.file);
    throw Failure(kExitFailed, status.ok()
                                   ? fmt::format("cannot export to {}", in_quotes(options.file, '\''))
                                   : status.message);
}

int run_import(const RegOptions& options) {
    // "-" is a file here: the operation reads files by name.
    const std::string file = options.file == kStandardStream ? "./-" : options.file;
    const registry::RegFileFormat format = options.format == "windows" ? registry::RegFileFormat::windows
                                           : options.format == "plain"
                                               ? registry::RegFileFormat::plain
                                               : registry::RegFileFormat::automatic;
    if (const RegistryStatus status = registry::import_reg_file(file, format); !status.ok()) {
        throw Failure(kExitFailed, status.message);
    }
    return kExitOk;
}

// --- The command table ------------------------------------------------------------------------

// The registry path, with the root keys' names as the component knows them.
std::string path_help() {
    std::string roots;
    for (const registry::Hive& hive : registry::kHives) {
        roots +=
            fmt::format("{}{} or {}", roots.empty() ? "" : ", ", hive.long_name, hive.short_name);
    }
    return fmt::format(
        "Registry path: a root key ({}), in any case, and optionally a backslash and the subkey "
        "path",
        roots);
}
constexpr std::string_view kNameHelp =
    "Value name; the empty name is the key's default value (and \"@\" with set --string)";
constexpr std::string_view kChangeStatus =
    "0 done, 1 failed (the message says why), 2 usage error.";
constexpr std::string_view kAnswerStatus =
    "0 true, 1 false, 2 usage error, 3 the question could not be answered (the message says why: "
    "an unknown root key, no access, the registry store failed).";
constexpr std::string_view kListStatus =
    "0 done, 1 the key cannot be listed whole (the message says why), 2 usage error.";

enum class Operands { path, path_name, path_file, file };

void add_set_options(CLI::App& command, RegOptions& options) {
    options.string_option =
        command.add_option("--string", options.string_value, "Write a text value (REG_SZ)")
            ->type_name("TEXT");
    options.dword_option =
        command
            .add_option("--dword", options.dword_value,
                        "Write a 32-bit number (REG_DWORD): decimal, negative, or hexadecimal "
                        "with 0x; 4294967295 and 0xFFFFFFFF are -1")
            ->type_name("N");
    options.binary_option =
        command
            .add_option("--binary", options.binary_value,
                        "Write binary data (REG_BINARY) given as hexadecimal digits, read in pairs "
                        "with spaces ignored. An odd last digit is a byte of its own after an "
                        "odd number of pairs and dropped after an even number: '123' writes 12 "
                        "03, '12345' writes 12 34. '' writes empty data")
            ->type_name("HEX");
    options.string_option->excludes(options.dword_option)->excludes(options.binary_option);
    options.dword_option->excludes(options.binary_option);
    command.add_flag("--no-create", options.no_create,
                     "Fail instead of creating the key when it does not exist");
}

void add_json_option(CLI::App& command, RegOptions& options, const char* help) {
    command.add_flag("--json", options.json, help);
}

struct RegCommand {
    const char* name;
    const char* description;
    Operands operands;
    int (*run)(const RegOptions&);
    std::string_view statuses;
    void (*add_options)(CLI::App&, RegOptions&);
};

const RegCommand kCommands[] = {
    {"create", "Create a key, with any missing parent keys", Operands::path, run_create,
     kChangeStatus, nullptr},
    {"delete", "Delete a key; a key with subkeys is not deleted", Operands::path, run_delete,
     kChangeStatus, nullptr},
    {"unset", "Delete a value of a key", Operands::path_name, run_unset, kChangeStatus, nullptr},
    {"set", "Write a value: a text, a 32-bit number or binary data", Operands::path_name, run_set,
     kChangeStatus, add_set_options},
    {"exists", "Print whether a key exists", Operands::path, run_exists, kAnswerStatus, nullptr},
    {"has-subkeys", "Print whether a key has subkeys", Operands::path, run_has_subkeys,
     kAnswerStatus, nullptr},
    {"value-exists", "Print whether a key has a value of this name", Operands::path_name,
     run_value_exists, kAnswerStatus, nullptr},
    {"keys", "List the subkeys of a key, one a line", Operands::path, run_keys, kListStatus,
     [](CLI::App& command, RegOptions& options) {
         add_json_option(command, options, "Print a JSON array of the names");
     }},
    {"values",
     "List the values of a key, one a line: the name, a tab, the type (REG_SZ, REG_DWORD, ...), a "
     "tab, and the data (a text as it is, REG_MULTI_SZ's texts separated by NUL, a number in "
     "decimal, other data as hex text)",
     Operands::path, run_values, kListStatus,
     [](CLI::App& command, RegOptions& options) {
         command
             .add_option("--type", options.only_type,
                         "List only values of this type: 1 text, 2 expandable text, 3 binary, 4 "
                         "number, 7 multiple texts, or another registry type up to 11; -1 all "
                         "(default)")
             ->check(CLI::Range(-1, 11))
             ->type_name("N");
         add_json_option(command, options,
                         "Print a JSON array of {\"name\": ..., \"type\": ..., \"value\": ...}; "
                         "the value is a string, a number, or an array of strings (REG_MULTI_SZ)");
     }},
    {"get", "Print a value as text, as a 32-bit number in decimal or as binary data in hex text",
     Operands::path_name, run_get,
     "0 done, 1 no such value (without --default), the value cannot be read in that form, or the "
     "registry failed (the message says why), 2 usage error.",
     [](CLI::App& command, RegOptions& options) {
         command
             .add_option("--type", options.read_type,
                         fmt::format("Read the value as string (default; up to {} characters), "
                                     "dword or binary",
                                     registry::kMaxReadStringLength))
             ->check(CLI::IsMember({"string", "dword", "binary"}))
             ->type_name("TYPE");
         options.default_option =
             command
                 .add_option("--default", options.default_value,
                             "Print VALUE when the value is missing or cannot be read in that "
                             "form, instead of failing (for dword a number as --dword of 'set' "
                             "takes)")
                 ->type_name("VALUE");
         add_json_option(command, options, "Print the value as a JSON string or number");
     }},
    {"export",
     "Write a key and its subkeys to a new .reg file: by default REGEDIT4 in the system's own "
     "dialect (code-page text, CR LF line ends; on a terminal, the key being written is shown on "
     "stderr), with --format windows as the Windows registry editor writes it",
     Operands::path_file, run_export,
     "0 done, 1 the file exists or cannot be written, or the key cannot be exported whole (a "
     "failed or interrupted export removes the file it started), 2 usage error.",
     [](CLI::App& command, RegOptions& options) {
         command.add_flag("--no-subkeys", options.no_subkeys, "Write the key alone (plain only)");
         command
             .add_option("--format", options.format,
                         "plain (default): the system's own REGEDIT4 dialect, three value kinds, "
                         "no escapes; windows: \"Windows Registry Editor Version 5.00\" in "
                         "UTF-16LE, every value type, escapes")
             ->check(CLI::IsMember({"plain", "windows"}))
             ->type_name("FORMAT");
     }},
    {"import",
     "Apply a .reg file to the registry: the system's own REGEDIT4 dialect line by line, or a "
     "file in the Windows registry editor's format (REGEDIT5, or REGEDIT4 with --format windows) "
     "checked whole and applied all or nothing",
     Operands::file, run_import,
     "0 done, 1 the file cannot be read, is not a .reg file, or was not applied whole (the "
     "message names the line), 2 usage error.",
     [](CLI::App& command, RegOptions& options) {
         command
             .add_option("--format", options.format,
                         "How to read a REGEDIT4 file: plain (the system's own dialect: a "
                         "backslash is just a character) or windows (the editor's: \\\\ and \\\" "
                         "are escapes, typed hex(N): values, [-KEY] and \"name\"=- deletions). By "
                         "default a file with a byte order mark or the REGEDIT5 header is read as "
                         "windows, any other as plain")
             ->check(CLI::IsMember({"plain", "windows"}))
             ->type_name("FORMAT");
     }},
};

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
    add_code_page_option(*reg, options->code_page);
    reg->footer("Run 'syskit reg COMMAND --help' for a command's arguments and exit statuses.");

    for (const RegCommand& entry : kCommands) {
        CLI::App* command = reg->add_subcommand(entry.name, entry.description);
        command->fallthrough();  // --registry may also follow the command
        command->footer(fmt::format("Exit status: {}", entry.statuses));
        if (entry.operands != Operands::file) {
            command->add_option("PATH", options->path, path_help())->required();
        }
        if (entry.operands == Operands::path_name) {
            command->add_option("NAME", options->name, std::string(kNameHelp))->required();
        }
        if (entry.operands == Operands::path_file) {
            command->add_option("FILE", options->file, "The file to write; it must not exist")
                ->required();
        }
        if (entry.operands == Operands::file) {
            command->add_option("FILE", options->file, "The .reg file")->required();
        }
        if (entry.add_options != nullptr) entry.add_options(*command, *options);
        commands.push_back({command, [options, run = entry.run, operands = entry.operands] {
                                select_store(*options);
                                // A name the code page cannot hold would reach the registry
                                // with '?' in it: another key or value.
                                select_code_page(options->code_page, true);
                                if (operands != Operands::file) {
                                    require_representable("the path", options->path);
                                }
                                if (operands == Operands::path_name) {
                                    require_representable("the value name", options->name);
                                }
                                return run(*options);
                            }});
    }
}

}  // namespace syskit::cli
