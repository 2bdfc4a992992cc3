// How the tool ends a command: exit statuses, the failure a command throws, and the one-line
// message it becomes.
//
// Commands do their work and throw Failure when they cannot finish; the dispatcher in main.cpp
// prints the message on stderr, prefixed with the command's name ("syskit encode: ..."), and
// exits with the failure's status. Statuses 0 to 2 mean the same for every command; each command
// documents its own from 3 on.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace syskit::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed: I/O error, out of memory
inline constexpr int kExitUsage = 2;   // the command line is wrong

// A command that cannot finish. The message is one line, without the command prefix.
class Failure : public std::runtime_error {
  public:
    Failure(int status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    [[nodiscard]] int status() const noexcept { return status_; }

  private:
    int status_;
};

// A usage error (status 2); the dispatcher adds the hint to see --help.
[[nodiscard]] Failure usage_failure(const std::string& message);

// An I/O failure (status 1): "<what>: <the OS reason>", where `what` names the file, e.g.
// "cannot read 'notes.txt'".
[[nodiscard]] Failure io_failure(std::string_view what, std::error_code reason);

// A text as it can be shown on a terminal: NUL as \0 and other control characters (C0, DEL and
// the C1 range U+0080 to U+009F) as \xHH or \uHHHH, so nothing raw reaches the terminal and
// every character stays visible. With a `quote` character, the text is put between two of them,
// and that character and the backslash inside are escaped too, which makes the text unambiguous.
[[nodiscard]] std::string terminal_text(std::string_view text);
[[nodiscard]] std::string in_quotes(std::string_view text, char quote = '"');

// Prints "<prefix>: <message>" as one line on stderr.
void print_error(std::string_view prefix, std::string_view message);

}  // namespace syskit::cli
