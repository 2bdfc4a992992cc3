// The tool's operating-system calls on Windows (see platform.hpp).
//
// Names cross into the system as UTF-16, converted from the UTF-8 the tool works in, so a file
// name is never squeezed through the ANSI code page. Files are opened with CreateFileW, whose
// sharing modes the C runtime's open cannot ask for, and then wrapped in C runtime descriptors
// in binary mode: the bytes a command writes are the bytes in the file. Failures of system calls
// are the system's error codes; those of the runtime's calls are errno values.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: these rely on its types.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "platform.hpp"

namespace syskit::cli::os {
namespace {

// The runtime's reads and writes take a 32-bit count; larger transfers go in pieces.
constexpr std::size_t kMaxTransfer = std::size_t(1) << 30;
// WriteConsoleW is given text in pieces of at most this many bytes.
constexpr std::size_t kMaxConsoleWrite = std::size_t(1) << 15;
// The longest path the wide file calls accept.
constexpr std::size_t kMaxWidePath = 32768;

std::error_code last_system_error() {
    return {int(::GetLastError()), std::system_category()};
}

std::error_code last_runtime_error() {
    return {errno, std::generic_category()};
}

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length = int(std::min<std::size_t>(text.size(), INT_MAX));
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(std::size_t(std::max(size, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = int(std::min<std::size_t>(text.size(), INT_MAX));
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(size, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Opens a file with CreateFileW and hands the handle to the C runtime as a binary descriptor
// that child processes do not inherit.
int open_path(const std::string& path, DWORD access, DWORD sharing, DWORD disposition,
              std::error_code& error) {
    const HANDLE handle = ::CreateFileW(widen(path).c_str(), access, sharing, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_system_error();
        return -1;
    }
    const int flags = _O_BINARY | _O_NOINHERIT | (access == GENERIC_READ ? _O_RDONLY : _O_WRONLY);
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        error = last_runtime_error();
        ::CloseHandle(handle);
    }
    return fd;
}

// The file an interrupted command must remove, kept as the wide path DeleteFileW takes, so
// the console's handler thread needs no conversion or allocation.
wchar_t g_pending_path[kMaxWidePath];
std::atomic<bool> g_pending{false};

// Ctrl+C, Ctrl+Break, a closed console, logoff or shutdown: the process ends as Windows' own
// handler ends it, with STATUS_CONTROL_C_EXIT, so that an interrupted command never reads as a
// success (Wine's own handler ends it with status 0).
BOOL WINAPI end_interrupted(DWORD /*event*/) {
    // The file is open with FILE_SHARE_DELETE: deleting it now removes it as the process ends.
    if (g_pending.load()) ::DeleteFileW(g_pending_path);
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

// Writes UTF-8 text to a console as characters, in pieces that end on whole characters.
std::error_code write_console(HANDLE console, std::string_view text) {
    while (!text.empty()) {
        std::size_t piece = std::min(text.size(), kMaxConsoleWrite);
        while (piece < text.size() && piece > 0 && (text[piece] & 0xC0) == 0x80) --piece;
        if (piece == 0) piece = std::min(text.size(), kMaxConsoleWrite);
        const std::wstring wide = widen(text.substr(0, piece));
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            if (!::WriteConsoleW(console, wide.data() + done, DWORD(wide.size() - done), &written,
                                 nullptr)) {
                return last_system_error();
            }
            done += written;
        }
        text.remove_prefix(piece);
    }
    return {};
}

}  // namespace

void prepare_process() {
    for (const int fd : {kStandardInput, kStandardOutput, kStandardError}) {
        ::_setmode(fd, _O_BINARY);
    }
    // A process started with Ctrl+C ignored keeps ignoring it: the system calls no handler then.
    ::SetConsoleCtrlHandler(end_interrupted, TRUE);
}

std::vector<std::string> command_line(int argc, char** argv) {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return {argv, argv + argc};
    std::vector<std::string> line;
    line.reserve(std::size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) line.push_back(narrow(words[i]));
    ::LocalFree(words);
    return line;
}

std::filesystem::path native_path(const std::string& path) {
    return widen(path);
}

std::string directory_of(const std::string& path) {
    // "C:name" lies in drive C's current directory: the drive is its directory part.
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string resolve_links(const std::string& path) {
    // MoveFileExW replaces a symbolic link's target through the link, as writing would.
    return path;
}

FileStatus file_status(const std::string& path) {
    // No access rights asked: this only looks at what the path names, directories included.
    const HANDLE handle = ::CreateFileW(
        widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    FileStatus status{FileKind::other, 0};
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info)) {
        status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::directory
                                                                              : FileKind::regular;
    }
    ::CloseHandle(handle);
    return status;
}

int open_for_reading(const std::string& path, std::error_code& error) {
    return open_path(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     OPEN_EXISTING, error);
}

int open_for_writing(const std::string& path, std::error_code& error) {
    return open_path(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, error);
}

int create_new(const std::string& path, std::error_code& error) {
    return open_path(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, error);
}

void copy_permissions(int /*fd*/, const FileStatus& /*replaced*/) {}

std::error_code replace_file(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return last_system_error();
    }
    return {};
}

std::error_code rename_new(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    if (!::MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return std::make_error_code(std::errc::file_exists);
        }
        return last_system_error();
    }
    return {};
}

void remove_file(const std::string& path) noexcept {
    try {
        ::DeleteFileW(widen(path).c_str());
    } catch (...) {  // out of memory for the wide name: the file stays
    }
}

void set_interrupt_cleanup(const std::string& path) {
    const std::wstring wide = widen(path);
    if (wide.size() >= kMaxWidePath) return;
    g_pending = false;
    std::copy(wide.begin(), wide.end(), g_pending_path);
    g_pending_path[wide.size()] = L'\0';
    g_pending = true;
}

void clear_interrupt_cleanup() noexcept {
    g_pending = false;
}

std::optional<std::uint64_t> regular_file_size(int fd) {
    const HANDLE handle = handle_of(fd);
    LARGE_INTEGER size{};
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK ||
        !::GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
        return std::nullopt;
    }
    return std::uint64_t(size.QuadPart);
}

std::size_t read_some(int fd, char* buffer, std::size_t size, std::error_code& error) {
    const int got = ::_read(fd, buffer, unsigned(std::min(size, kMaxTransfer)));
    if (got >= 0) return std::size_t(got);
    error = last_runtime_error();
    return 0;
}

std::error_code write_all(int fd, std::string_view data) noexcept {
    try {
        if (is_terminal(fd)) return write_console(handle_of(fd), data);
    } catch (...) {  // out of memory for the wide text: write the bytes instead
    }
    while (!data.empty()) {
        const int put = ::_write(fd, data.data(), unsigned(std::min(data.size(), kMaxTransfer)));
        if (put < 0) return last_runtime_error();
        data.remove_prefix(std::size_t(put));
    }
    return {};
}

std::error_code flush_to_disk(int fd) {
    return ::_commit(fd) == 0 ? std::error_code() : last_runtime_error();
}

std::error_code close(int fd) {
    return ::_close(fd) == 0 ? std::error_code() : last_runtime_error();
}

bool is_terminal(int fd) {
    const HANDLE handle = handle_of(fd);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

std::size_t terminal_columns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle_of(fd), &info)) return 0;
    return std::size_t(std::max(info.srWindow.Right - info.srWindow.Left + 1, 0));
}

}  // namespace syskit::cli::os
