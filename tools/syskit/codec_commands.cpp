// `syskit encode` and `syskit decode`: the ORBEX codec on files and streams.
//
// Both commands read their whole input, run one EncodeString or DecodeString call on it, and
// write the result exactly as the codec returned it (the printable form keeps its CR LF line
// breaks). With --binary the input of encode and the output of decode are raw bytes, each byte
// standing for its code-page character, so any file survives the round trip.
//
// Everything that can be checked before the work starts is checked first, in this order: keys
// (usage errors), input (read errors), output (the temporary file is created). The codec then
// runs with a progress bar on a terminal, and only a complete result reaches the output.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "atomic_file.hpp"
#include "code_page.hpp"
#include "command.hpp"
#include "diagnostics.hpp"
#include "file_io.hpp"
#include "progress_bar.hpp"
#include "syskit/error.hpp"
#include "syskit/host.hpp"
#include "syskit/orbex.hpp"
#include "syskit/text.hpp"

namespace syskit::cli {
namespace {

constexpr int kExitRejected = 3;    // decode: wrong key, damaged or truncated text
constexpr int kExitCodecError = 4;  // the codec raised an error

// The cipher's key schedule cannot take a longer key2 (it would raise an overflow error).
constexpr std::size_t kMaxKey2Characters = 32767;
// A key file is read whole; anything this large is not a key.
constexpr std::size_t kMaxKeyFileSize = std::size_t(1) << 20;

enum class Direction { Encode, Decode };

// A key given either as an argument or as a file to read it from.
struct KeySource {
    explicit KeySource(std::string key_name) : name(std::move(key_name)) {}

    std::string name;  // "key1", "key2"
    std::string value;
    std::string file;
    CLI::Option* value_option = nullptr;
    CLI::Option* file_option = nullptr;

    [[nodiscard]] bool given() const {
        return value_option->count() > 0 || file_option->count() > 0;
    }
    [[nodiscard]] bool reads_stdin() const {
        return file_option->count() > 0 && file == kStandardStream;
    }
};

struct CodecOptions {
    Direction direction = Direction::Encode;
    KeySource key1{"key1"};
    KeySource key2{"key2"};
    std::string input{kStandardStream};
    std::string output{kStandardStream};
    bool binary = false;
    bool lossy = false;
    CodePageChoice code_page;
};

struct Keys {
    std::string key1;
    std::string key2;
};

// Reads a key file: UTF-8 text whose one trailing line break ("\n" or "\r\n") is not part of
// the key, nor a byte order mark in front, so a key file may be written by any editor or `echo`.
std::string read_key_file(const KeySource& source) {
    std::string key = read_input(source.file, kMaxKeyFileSize);
    if (key.size() > kMaxKeyFileSize) {
        throw usage_failure(
            fmt::format("{} file {} is larger than 1 MiB", source.name, input_name(source.file)));
    }
    if (key.starts_with("\xEF\xBB\xBF")) key.erase(0, 3);
    if (key.ends_with("\r\n")) {
        key.resize(key.size() - 2);
    } else if (key.ends_with('\n')) {
        key.pop_back();
    }
    return key;
}

Keys resolve_keys(const CodecOptions& options) {
    if (int(options.key1.reads_stdin()) + int(options.key2.reads_stdin()) +
            int(options.input == kStandardStream) >
        1) {
        throw usage_failure(
            "standard input can be read only once: give the input with -i or the keys otherwise");
    }
    if (!options.key1.given()) {
        throw usage_failure("key1 is missing: give --key1 KEY or --key1-file PATH");
    }

    auto resolve = [](const KeySource& source) {
        return source.file_option->count() > 0 ? read_key_file(source) : source.value;
    };
    Keys keys{resolve(options.key1), options.key2.given() ? resolve(options.key2) : ""};
    if (keys.key1.empty()) {
        throw usage_failure(
            options.key1.file_option->count() > 0
                ? fmt::format("key1 file {} holds an empty key", input_name(options.key1.file))
                : std::string("key1 must not be empty"));
    }
    if (const std::size_t n = text::char_count(keys.key2); n > kMaxKey2Characters) {
        throw usage_failure(
            fmt::format("key2 has {} characters; at most {} are allowed", n, kMaxKey2Characters));
    }
    // A key character the code page lacks would become '?', and a key of other characters could
    // then open the text.
    require_representable("key1", keys.key1);
    require_representable("key2", keys.key2);
    return keys;
}

Failure codec_failure(const Error& error) {
    // Memory running out is the tool's failure (status 1), whichever part ran out.
    if (dynamic_cast<const OutOfMemoryError*>(&error) != nullptr) {
        return Failure(kExitFailed, "out of memory");
    }
    return Failure(kExitCodecError,
                   fmt::format("error {}: {}", error.number(), error.description()));
}

std::string encode(std::string input, const Keys& keys, bool binary) {
    if (binary) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        input = text::from_ansi(std::span(bytes, input.size()));
    }
    try {
        return ORBEX::EncodeString(input, keys.key1, keys.key2);
    } catch (const Error& error) {
        throw codec_failure(error);
    }
}

std::string decode(const std::string& input, const Keys& keys, bool binary) {
    // The codec never clears its last-error code; clearing it here makes it this call's verdict.
    ORBEX::LastErrorCode() = 0;
    std::string text;
    try {
        text = ORBEX::DecodeString(input, keys.key1, keys.key2);
    } catch (const Error& error) {
        throw codec_failure(error);
    }
    switch (ORBEX::LastErrorCode()) {
        case ORBEX::kTextRejected:
            throw Failure(kExitRejected,
                          fmt::format("text rejected (error {}): wrong key, or the text is "
                                      "damaged or truncated",
                                      ORBEX::kTextRejected));
        case ORBEX::kChecksumMismatch:
            // The text decoded, but not into what was encoded: nothing of it is written.
            throw Failure(kExitRejected,
                          fmt::format("text damaged (error {}): the decoded text fails its "
                                      "checksum",
                                      ORBEX::kChecksumMismatch));
        default:
            break;
    }
    if (!binary) return text;
    const Bytes bytes = text::to_ansi(text);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

int run(const CodecOptions& options) {
    const bool encoding = options.direction == Direction::Encode;
    select_code_page(options.code_page, false);
    const Keys keys = resolve_keys(options);
    std::string input = read_input(options.input);
    if (encoding && !options.binary) {
        if (!options.lossy) {
            require_representable("the text", input);
        } else if (const std::size_t lost = unrepresentable_count(input); lost > 0) {
            print_error("syskit encode", fmt::format("warning: {} characters that code page {} "
                                                     "cannot hold are encoded as '?'",
                                                     lost, text::code_page()));
        }
    }
    std::optional<AtomicOutputFile> file;
    if (options.output != kStandardStream) file.emplace(options.output);

    std::string result;
    {
        std::optional<ProgressBar> bar;
        host::ProgressHook on_progress;
        if (ProgressBar::wanted(input.size())) {
            bar.emplace(encoding ? "syskit encode" : "syskit decode");
            on_progress = [&bar](float percent) { bar->update(percent); };
        }
        const host::ScopedHooks hooks({}, std::move(on_progress), {});
        result = encoding ? encode(std::move(input), keys, options.binary)
                          : decode(input, keys, options.binary);
    }

    if (file) {
        file->write(result);
        file->commit();
    } else {
        write_stdout(result);
    }
    return kExitOk;
}

void add_key_options(CLI::App& command, KeySource& key, std::string_view value_help) {
    key.value_option =
        command.add_option(fmt::format("--{}", key.name), key.value, std::string(value_help))
            ->type_name("KEY");
    key.file_option =
        command
            .add_option(fmt::format("--{}-file", key.name), key.file,
                        fmt::format("Read {} from FILE (UTF-8; one trailing newline is not part "
                                    "of the key), so it stays out of the process list",
                                    key.name))
            ->type_name("FILE");
    key.value_option->excludes(key.file_option);
}

void add_codec_command(CLI::App& app, Commands& commands, Direction direction) {
    const bool encoding = direction == Direction::Encode;
    auto options = std::make_shared<CodecOptions>();
    options->direction = direction;

    CLI::App* command = app.add_subcommand(
        encoding ? "encode" : "decode",
        encoding ? "Encode UTF-8 text under two keys into printable text: Base64 lines of 60 "
                   "characters separated by CR LF"
                 : "Decode printable text made by 'syskit encode' back into the text, under the "
                   "same two keys");
    add_key_options(*command, options->key1, "First key (required, not empty)");
    add_key_options(*command, options->key2,
                    "Second key (default: empty; at most 32767 characters)");
    command->add_option("-i,--input", options->input, "Read from FILE instead of standard input")
        ->type_name("FILE");
    command
        ->add_option("-o,--output", options->output,
                     "Write to FILE instead of standard output; FILE is replaced only when the "
                     "command succeeds")
        ->type_name("FILE");
    command->add_flag("--binary", options->binary,
                      encoding ? "Encode the input's raw bytes, each byte as its code-page "
                                 "character, so any file comes back exactly"
                               : "Write the decoded text as raw code-page bytes (for input "
                                 "encoded with --binary)");
    add_code_page_option(*command, options->code_page);
    if (encoding) {
        command->add_flag("--lossy", options->lossy,
                          "Encode characters the code page cannot hold as '?' (with a warning) "
                          "instead of refusing the text");
    }
    command->footer(
        encoding ? "Exit status: 0 done, 1 I/O error, 2 usage error (also a key or, without "
                   "--lossy, a text with characters the code page cannot hold), 4 codec error."
                 : "Exit status: 0 done, 1 I/O error, 2 usage error, 3 text rejected (wrong key, "
                   "damaged or truncated text), 4 codec error.");

    commands.push_back({command, [options] { return run(*options); }});
}

}  // namespace

void add_codec_commands(CLI::App& app, Commands& commands) {
    add_codec_command(app, commands, Direction::Encode);
    add_codec_command(app, commands, Direction::Decode);
}

}  // namespace syskit::cli
