// The `syskit` command-line tool: a small dispatcher over the commands of each component.
//
// Command groups add their subcommands to one parser (command.hpp). After parsing, the selected
// command runs, and whatever stops it becomes one line on stderr, "syskit <command>: <message>",
// and an exit status: 0 done, 1 operation failed, 2 usage error, 3 and up as each command
// documents. Help and the version go to stdout with status 0.
//
// The command line is read as UTF-8 on every platform, and options start with '-' everywhere: the
// parser's Windows habit of taking "/x" for an option would turn a path such as /tmp/x into one.
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "command.hpp"
#include "diagnostics.hpp"
#include "platform.hpp"

namespace {

using namespace syskit::cli;

// "syskit" or "syskit <command>", as far as the command line got: what messages begin with.
std::string command_prefix(const CLI::App& app) {
    const auto selected = app.get_subcommands();
    return selected.empty() ? app.get_name()
                            : fmt::format("{} {}", app.get_name(), selected.front()->get_name());
}

// The whole command as far as the command line got ("syskit reg set"): whose help to point to.
std::string help_command(const CLI::App& app) {
    std::string words = app.get_name();
    for (const CLI::App* node = &app;;) {
        const auto selected = node->get_subcommands();
        if (selected.empty()) return words;
        node = selected.front();
        words += " " + node->get_name();
    }
}

// The parser's message, except for a word that is not a command: the parser would only say that
// a command is required.
std::string usage_message(const CLI::App& app, const CLI::ParseError& error) {
    const auto unparsed = app.remaining();
    if (app.get_subcommands().empty() && !unparsed.empty() && !unparsed.front().starts_with('-')) {
        return fmt::format("unknown command '{}'", unparsed.front());
    }
    return error.what();
}

int run_command(const std::string& prefix, const std::string& help, const Command& command) {
    try {
        return command.run();
    } catch (const Failure& failure) {
        if (failure.status() == kExitUsage) {
            print_error(prefix, fmt::format("{} (see '{} --help')", failure.what(), help));
        } else {
            print_error(prefix, failure.what());
        }
        return failure.status();
    } catch (const std::bad_alloc&) {
        print_error(prefix, "out of memory");
        return kExitFailed;
    } catch (const std::exception& error) {
        print_error(prefix, error.what());
        return kExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    os::prepare_process();
    const std::vector<std::string> words = os::command_line(argc, argv);
    std::vector<const char*> word_pointers;
    for (const std::string& word : words) word_pointers.push_back(word.c_str());

    CLI::App app("Processor identification, the ORBEX text codec and registry access", "syskit");
    app.allow_windows_style_options(false);  // before the commands are added: they inherit it
    app.set_version_flag("--version", fmt::format("syskit {}", SYSKIT_VERSION));
    app.require_subcommand(1);
    app.footer("Run 'syskit COMMAND --help' for a command's options and exit statuses.");

    Commands commands;
    add_cpu_commands(app, commands);
    add_codec_commands(app, commands);
    add_registry_commands(app, commands);

    try {
        app.parse(int(word_pointers.size()), word_pointers.data());
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        print_error(command_prefix(app), fmt::format("{} (see '{} --help')",
                                                     usage_message(app, error), help_command(app)));
        return kExitUsage;
    }

    for (const Command& command : commands) {
        if (command.parser->parsed()) {
            return run_command(command_prefix(app), help_command(app), command);
        }
    }
    return kExitUsage;  // unreachable: the parser requires a command
}
