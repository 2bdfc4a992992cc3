#include "file_io.hpp"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include <fmt/format.h>

#include "diagnostics.hpp"
#include "platform.hpp"

namespace syskit::cli {
namespace {

constexpr std::size_t kReadChunk = std::size_t(1) << 16;

// Closes a descriptor the reader opened itself.
class FdCloser {
  public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) static_cast<void>(os::close(fd_));
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

  private:
    int fd_;
};

std::string read_fd(int fd, std::string_view name, std::size_t limit) {
    const std::size_t cap = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
    // A regular file's size is known: read it in one buffer, plus one byte to meet the end.
    std::size_t capacity = kReadChunk;
    if (const auto size = os::regular_file_size(fd); size && *size > 0) {
        capacity = std::size_t(std::min<std::uint64_t>(*size, cap - 1) + 1);
    }
    capacity = std::min(capacity, cap);

    std::string data(capacity, '\0');
    std::size_t used = 0;
    while (used <= limit) {
        if (used == data.size()) data.resize(std::min(data.size() * 2, cap));
        std::error_code error;
        const std::size_t got = os::read_some(fd, data.data() + used, data.size() - used, error);
        if (error) throw io_failure(fmt::format("cannot read {}", name), error);
        if (got == 0) break;
        used += got;
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
    if (path == kStandardStream) return read_fd(os::kStandardInput, name, limit);
    std::error_code error;
    const int fd = os::open_for_reading(path, error);
    if (fd < 0) throw io_failure(fmt::format("cannot read {}", name), error);
    const FdCloser closer(fd);
    return read_fd(fd, name, limit);
}

void write_stdout(std::string_view data) {
    if (const std::error_code error = os::write_all(os::kStandardOutput, data)) {
        throw io_failure("cannot write standard output", error);
    }
}

}  // namespace syskit::cli
