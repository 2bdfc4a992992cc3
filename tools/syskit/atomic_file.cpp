#include "atomic_file.hpp"

#include <algorithm>
#include <chrono>
#include <random>
#include <system_error>

#include <fmt/format.h>

#include "diagnostics.hpp"
#include "platform.hpp"

namespace syskit::cli {
namespace {

constexpr int kCreateAttempts = 100;
// Room left in a file name for the temporary name's dot, random part and ".tmp".
constexpr std::size_t kMaxBaseInTempName = 200;

// Six random letters and digits. Exclusive creation makes the name safe; randomness only keeps
// concurrent runs from colliding.
std::string random_part() {
    static std::mt19937_64 generator = [] {
        std::seed_seq seed{
            std::uint64_t(std::random_device{}()),
            std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()),
            std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string part(6, ' ');
    for (char& c : part) c = kAlphabet[pick(generator)];
    return part;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(std::string path)
    : path_(std::move(path)), target_(os::resolve_links(path_)) {
    const std::string what = fmt::format("cannot write '{}'", path_);
    const auto is_a_directory = std::make_error_code(std::errc::is_a_directory);
    const os::FileStatus status = os::file_status(target_);
    std::error_code error;
    if (status.kind == os::FileKind::directory) throw io_failure(what, is_a_directory);
    if (status.kind == os::FileKind::other) {
        // A device or pipe (/dev/null, NUL, a FIFO) cannot be replaced, and must not be: it is
        // written in place.
        fd_ = os::open_for_writing(target_, error);
        if (fd_ < 0) throw io_failure(what, error);
        return;
    }

    const std::string directory = os::directory_of(target_);
    std::string base = target_.substr(directory.size());
    if (base.empty()) throw io_failure(what, is_a_directory);
    base.resize(std::min(base.size(), kMaxBaseInTempName));

    for (int attempt = 0; attempt < kCreateAttempts && fd_ < 0; ++attempt) {
        temp_path_ = fmt::format("{}.{}.{}.tmp", directory, base, random_part());
        fd_ = os::create_new(temp_path_, error);
        if (fd_ < 0 && error != std::errc::file_exists) {
            temp_path_.clear();
            throw io_failure(what, error);
        }
    }
    if (fd_ < 0) {
        temp_path_.clear();
        throw io_failure(what, std::make_error_code(std::errc::file_exists));
    }
    os::set_interrupt_cleanup(temp_path_);
    // A file that is replaced keeps its permissions, so replacing a private file cannot make
    // its new content readable to others.
    if (status.kind == os::FileKind::regular) os::copy_permissions(fd_, status);
}

AtomicOutputFile::~AtomicOutputFile() {
    discard();
}

void AtomicOutputFile::write(std::string_view data) {
    if (const std::error_code error = os::write_all(fd_, data)) {
        throw io_failure(fmt::format("cannot write '{}'", path_), error);
    }
}

void AtomicOutputFile::commit() {
    const std::string what = fmt::format("cannot write '{}'", path_);
    const bool in_place = temp_path_.empty();
    if (!in_place) {
        if (const std::error_code error = os::flush_to_disk(fd_)) throw io_failure(what, error);
    }
    const int fd = fd_;
    fd_ = -1;
    if (const std::error_code error = os::close(fd)) throw io_failure(what, error);
    if (in_place) return;
    if (const std::error_code error = os::replace_file(temp_path_, target_)) {
        throw io_failure(what, error);
    }
    os::clear_interrupt_cleanup();
    temp_path_.clear();
}

void AtomicOutputFile::discard() noexcept {
    if (fd_ >= 0) {
        static_cast<void>(os::close(fd_));
        fd_ = -1;
    }
    if (!temp_path_.empty()) {
        os::remove_file(temp_path_);
        os::clear_interrupt_cleanup();
        temp_path_.clear();
    }
}

}  // namespace syskit::cli
