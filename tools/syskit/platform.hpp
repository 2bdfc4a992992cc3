// What the tool needs from the operating system, behind one small interface with one
// implementation per platform (platform_posix.cpp, platform_win32.cpp), so that the commands and
// their helpers include no OS header and keep one copy of their logic.
//
// Open files are C runtime descriptors on every platform (on Windows their handles are made by
// the system calls that need options the runtime lacks). Paths and texts are UTF-8 everywhere;
// the Windows side converts them to the wide strings its calls take, so any file name the
// command line can hold works. Failures come back as std::error_code: an errno value in the
// generic category, or on Windows a system error code in the system category, so that messages
// are in the platform's own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace syskit::cli::os {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// --- The process --------------------------------------------------------------------------------

// Process-wide settings, made once before any command runs. POSIX: a write beyond the file-size
// limit fails with an error the command reports, instead of the signal that would kill the
// process and leave a temporary file behind. Windows: the standard streams carry bytes as they
// are (binary mode), so CR LF is neither added nor taken away; an interrupt (Ctrl+C, Ctrl+Break, a
// closed console) ends the process with STATUS_CONTROL_C_EXIT, under Wine too.
void prepare_process();

// The command line as UTF-8 words, the program's name first. On Windows it is read from the
// wide command line, since argv holds it in the ANSI code page, which cannot hold every name.
[[nodiscard]] std::vector<std::string> command_line(int argc, char** argv);

// --- Files by name ------------------------------------------------------------------------------

// A UTF-8 path as the standard library's path.
[[nodiscard]] std::filesystem::path native_path(const std::string& path);

// The directory part of a path, with its final separator; empty for a bare file name.
[[nodiscard]] std::string directory_of(const std::string& path);

// The file a path names once symbolic links are followed, even when the last one dangles; the
// path itself where the platform's replacing rename does not need this.
[[nodiscard]] std::string resolve_links(const std::string& path);

enum class FileKind { missing, regular, directory, other };  // other: a device or a pipe

struct FileStatus {
    FileKind kind = FileKind::missing;
    unsigned permissions = 0;  // POSIX permission bits of a regular file
};

// What a path names now, links followed. A path that cannot be examined counts as missing: the
// call that then creates the file reports why.
[[nodiscard]] FileStatus file_status(const std::string& path);

// Opens an existing file for reading; -1 and `error` set on failure.
[[nodiscard]] int open_for_reading(const std::string& path, std::error_code& error);

// Opens an existing file for writing without truncating it (a device or a pipe, written in
// place); -1 and `error` set on failure.
[[nodiscard]] int open_for_writing(const std::string& path, std::error_code& error);

// Creates a file that must not exist yet (mode 0666 less the umask) and opens it for writing;
// -1 and `error` (std::errc::file_exists when it exists) set on failure. On Windows the file
// may be deleted while it is open, so an interrupted command can still remove it.
[[nodiscard]] int create_new(const std::string& path, std::error_code& error);

// Gives a file the permission bits of the file it replaces (POSIX; Windows keeps the
// directory's inherited access rules).
void copy_permissions(int fd, const FileStatus& replaced);

// Renames `from` over `to`, replacing it in one step, and makes the rename durable as far as
// the platform allows.
[[nodiscard]] std::error_code replace_file(const std::string& from, const std::string& to);

// Gives the complete file `from` the name `to`, which must not exist (std::errc::file_exists
// when it does): never replaces a file, so a file another program made meanwhile stays.
[[nodiscard]] std::error_code rename_new(const std::string& from, const std::string& to);

// Removes a file, quietly: used to clean up.
void remove_file(const std::string& path) noexcept;

// While set, an interrupted process (Ctrl+C; POSIX: SIGINT, SIGTERM, SIGHUP, SIGQUIT; Windows: the
// console's close and break events too) removes this file before it ends. One file at a time.
void set_interrupt_cleanup(const std::string& path);
void clear_interrupt_cleanup() noexcept;

// --- Open files ---------------------------------------------------------------------------------

// The size of the regular file open as `fd`; nothing for a pipe, a device or a terminal.
[[nodiscard]] std::optional<std::uint64_t> regular_file_size(int fd);

// Reads up to `size` bytes, retrying after interruptions; returns how many arrived (0 at the
// end), or 0 with `error` set.
[[nodiscard]] std::size_t read_some(int fd, char* buffer, std::size_t size, std::error_code& error);

// Writes all of `data`, retrying after interruptions and short writes. A Windows console gets
// the UTF-8 text as characters, so it shows what a UTF-8 terminal shows.
[[nodiscard]] std::error_code write_all(int fd, std::string_view data) noexcept;

// Makes what was written durable.
[[nodiscard]] std::error_code flush_to_disk(int fd);

[[nodiscard]] std::error_code close(int fd);

// --- Terminals ----------------------------------------------------------------------------------

// True when `fd` is a terminal (Windows: a console).
[[nodiscard]] bool is_terminal(int fd);

// The terminal's width in columns; 0 when it cannot be told.
[[nodiscard]] std::size_t terminal_columns(int fd);

}  // namespace syskit::cli::os
