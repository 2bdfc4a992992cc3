// The code page of a command: --code-page N, else $SYSKIT_CODE_PAGE, else the platform's (the
// system's ANSI code page on Windows, Windows-1252 elsewhere), selected for the whole command.
//
// The library replaces a character its code page cannot hold with '?'. The tool never lets that
// happen silently: keys, names and texts that hold such characters are refused as usage errors
// that name the first one and where it is (a text to encode may instead be written lossily on
// request, with a warning that says how many characters were replaced).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace syskit::cli {

struct CodePageChoice {
    std::string value;
    CLI::Option* option = nullptr;
};

// Adds --code-page to a command.
void add_code_page_option(CLI::App& command, CodePageChoice& choice);

// Selects the command's code page. `for_registry`: on Windows the registry calls convert with
// the system's page, so no other is taken there.
void select_code_page(const CodePageChoice& choice, bool for_registry);

// Throws a usage error when `text` holds characters the code page cannot hold; `what` names it
// in the message ("key1", "the value name").
void require_representable(std::string_view what, std::string_view text);

// How many characters of `text` the code page cannot hold (0: none), for a lossy conversion the
// user asked for.
[[nodiscard]] std::size_t unrepresentable_count(std::string_view text);

}  // namespace syskit::cli
