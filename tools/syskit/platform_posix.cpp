// The tool's operating-system calls on POSIX systems (see platform.hpp).
//
// Paths are byte strings here, passed to the system as they are. Every call that can be
// interrupted by a signal is retried, and every failure is the errno value the call left.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "platform.hpp"

namespace syskit::cli::os {
namespace {

constexpr std::array kCleanupSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The file a terminating signal must remove. A signal handler may only make async-signal-safe
// calls, so the path lives in a fixed buffer set up before it is needed.
char g_pending_path[PATH_MAX];
volatile std::sig_atomic_t g_pending = 0;

extern "C" void remove_pending_and_reraise(int signal_number) {
    if (g_pending != 0) ::unlink(g_pending_path);
    // Die of the same signal, so the caller sees how the command ended.
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

void install_cleanup_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (const int signal_number : kCleanupSignals) {
        struct sigaction previous {};
        if (::sigaction(signal_number, nullptr, &previous) != 0) continue;
        // A signal the caller chose to ignore (a background job's SIGINT) stays ignored.
        if (previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = remove_pending_and_reraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

std::error_code last_error() {
    return {errno, std::generic_category()};
}

// Makes the directory entry of a renamed file durable. Best effort: some file systems cannot
// sync a directory, and the data itself is already on disk.
void sync_directory(const std::string& directory) {
    const int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

int open_path(const std::string& path, int flags, std::error_code& error) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) error = last_error();
    return fd;
}

}  // namespace

void prepare_process() {
    std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> command_line(int argc, char** argv) {
    return {argv, argv + argc};
}

std::filesystem::path native_path(const std::string& path) {
    return path;
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string resolve_links(const std::string& path) {
    constexpr int kMaxLinks = 40;  // the kernel's own limit for a path
    std::string resolved = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return resolved;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(resolved.c_str(), link.data(), link.size());
        if (length <= 0 || std::size_t(length) == link.size()) return resolved;
        link.resize(std::size_t(length));
        resolved = link.front() == '/' ? link : directory_of(resolved) + link;
    }
    return resolved;
}

FileStatus file_status(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    if (S_ISREG(st.st_mode)) return {FileKind::regular, unsigned(st.st_mode & 0777)};
    return {S_ISDIR(st.st_mode) ? FileKind::directory : FileKind::other, 0};
}

int open_for_reading(const std::string& path, std::error_code& error) {
    return open_path(path, O_RDONLY, error);
}

int open_for_writing(const std::string& path, std::error_code& error) {
    return open_path(path, O_WRONLY, error);
}

int create_new(const std::string& path, std::error_code& error) {
    return open_path(path, O_WRONLY | O_CREAT | O_EXCL, error);
}

void copy_permissions(int fd, const FileStatus& replaced) {
    ::fchmod(fd, mode_t(replaced.permissions));
}

std::error_code replace_file(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return last_error();
    sync_directory(directory_of(to));
    return {};
}

std::error_code rename_new(const std::string& from, const std::string& to) {
    // A second name, then the first one removed: link() never replaces an existing file.
    if (::link(from.c_str(), to.c_str()) != 0) {
        const std::error_code error = last_error();
        // A file system without hard links: a rename, after checking that nothing is there.
        struct stat there {};
        if (error == std::errc::file_exists || ::lstat(to.c_str(), &there) == 0) {
            return std::make_error_code(std::errc::file_exists);
        }
        if (::rename(from.c_str(), to.c_str()) != 0) return last_error();
    } else {
        ::unlink(from.c_str());
    }
    sync_directory(directory_of(to));
    return {};
}

void remove_file(const std::string& path) noexcept {
    ::unlink(path.c_str());
}

void set_interrupt_cleanup(const std::string& path) {
    if (path.size() >= sizeof g_pending_path) return;
    install_cleanup_handlers();
    g_pending = 0;
    std::memcpy(g_pending_path, path.c_str(), path.size() + 1);
    g_pending = 1;
}

void clear_interrupt_cleanup() noexcept {
    g_pending = 0;
}

std::optional<std::uint64_t> regular_file_size(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::uint64_t(st.st_size);
}

std::size_t read_some(int fd, char* buffer, std::size_t size, std::error_code& error) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) return std::size_t(got);
        if (errno != EINTR) {
            error = last_error();
            return 0;
        }
    }
}

std::error_code write_all(int fd, std::string_view data) noexcept {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        data.remove_prefix(std::size_t(put));
    }
    return {};
}

std::error_code flush_to_disk(int fd) {
    return ::fsync(fd) == 0 ? std::error_code() : last_error();
}

std::error_code close(int fd) {
    return ::close(fd) == 0 ? std::error_code() : last_error();
}

bool is_terminal(int fd) {
    return ::isatty(fd) == 1;
}

std::size_t terminal_columns(int fd) {
    struct winsize size {};
    return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace syskit::cli::os
