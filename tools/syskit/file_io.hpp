// Whole-file reading and writing for the tool's commands.
//
// Commands read their whole input before they start (the codec works on whole texts) and write
// their whole output at the end, so these helpers deal in complete byte strings. Everything is
// binary: no newline or encoding conversion happens here. "-" names standard input or output.
// Failures throw Failure with status 1 and a message naming the file and the OS reason.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace syskit::cli {

// The path that stands for standard input or standard output.
inline constexpr std::string_view kStandardStream = "-";

// How a path appears in messages: quoted, or "standard input" for "-".
[[nodiscard]] std::string input_name(std::string_view path);

// Reads a whole file, or standard input for "-". Reading stops once more than `limit` bytes have
// arrived, so a caller that sees a result longer than `limit` knows the file is too long without
// having read all of it.
[[nodiscard]] std::string read_input(const std::string& path,
                                     std::size_t limit = std::numeric_limits<std::size_t>::max());

// Writes all of `data` to standard output.
void write_stdout(std::string_view data);

}  // namespace syskit::cli
