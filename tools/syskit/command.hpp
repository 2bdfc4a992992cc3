// A command of the tool, as the dispatcher in main.cpp sees it.
//
// Each group of commands adds its subcommands to the tool's parser and hands back, for each one,
// the function that runs it. After parsing, the dispatcher runs the command that was selected and
// turns what it throws into a message and an exit status (see diagnostics.hpp).
#pragma once

#include <functional>
#include <vector>

namespace CLI {
class App;
}

namespace syskit::cli {

struct Command {
    CLI::App* parser;          // the subcommand's parser node, owned by the tool's parser
    std::function<int()> run;  // runs the command once its options are parsed; returns the status
};

using Commands = std::vector<Command>;

// `syskit encode` and `syskit decode` (codec_commands.cpp).
void add_codec_commands(CLI::App& app, Commands& commands);

// `syskit cpu` (cpu_command.cpp).
void add_cpu_commands(CLI::App& app, Commands& commands);

// `syskit reg` and its commands (reg_command.cpp).
void add_registry_commands(CLI::App& app, Commands& commands);

}  // namespace syskit::cli
