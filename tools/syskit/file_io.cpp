#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fmt/format.h>

#include "diagnostics.hpp"

namespace syskit::cli {
namespace {

constexpr std::size_t kReadChunk = std::size_t(1) << 16;

// Closes a descriptor the reader opened itself.
class FdCloser {
  public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

  private:
    int fd_;
};

std::string read_fd(int fd, std::string_view name, std::size_t limit) {
    // A regular file's size is known: read it in one buffer, plus one byte to meet the end.
    std::size_t capacity = kReadChunk;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        capacity = std::size_t(st.st_size) + 1;
    }
    const std::size_t cap = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
    capacity = std::min(capacity, cap);

    std::string data(capacity, '\0');
    std::size_t used = 0;
    while (used <= limit) {
        if (used == data.size()) data.resize(std::min(data.size() * 2, cap));
        const ssize_t got = ::read(fd, data.data() + used, data.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw io_failure(fmt::format("cannot read {}", name), errno);
        }
        if (got == 0) break;
        used += std::size_t(got);
    }
    data.resize(used);
    return data;
}

}  // namespace

std::string input_name(std::string_view path) {
    return path == kStandardStream ? std::string("standard input") : fmt::format("'{}'", path);
}

std::string read_input(const std::string& path, std::size_t limit) {
    const std::string name = input_name(path);
    if (path == kStandardStream) return read_fd(STDIN_FILENO, name, limit);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw io_failure(fmt::format("cannot read {}", name), errno);
    const FdCloser closer(fd);
    return read_fd(fd, name, limit);
}

int write_fully(int fd, std::string_view data) noexcept {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data.remove_prefix(std::size_t(put));
    }
    return 0;
}

void write_stdout(std::string_view data) {
    if (const int err = write_fully(STDOUT_FILENO, data); err != 0) {
        throw io_failure("cannot write standard output", err);
    }
}

void prepare_file_output() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace syskit::cli
