#include "atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <random>

#include <fmt/format.h>

#include "diagnostics.hpp"
#include "file_io.hpp"

namespace syskit::cli {
namespace {

constexpr int kCreateAttempts = 100;
// Room left in a file name for the temporary name's dot, random part and ".tmp".
constexpr std::size_t kMaxBaseInTempName = 200;
constexpr std::array kCleanupSignals = {SIGINT, SIGTERM, SIGHUP};

// The temporary file a terminating signal must remove. A signal handler may only make
// async-signal-safe calls, so the path lives in a fixed buffer set up before it is needed. The
// tool writes one output file at a time, so one slot is enough.
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

void set_pending(const std::string& temp_path) {
    if (temp_path.size() >= sizeof g_pending_path) return;
    install_cleanup_handlers();
    g_pending = 0;
    std::memcpy(g_pending_path, temp_path.c_str(), temp_path.size() + 1);
    g_pending = 1;
}

void clear_pending() {
    g_pending = 0;
}

// Six random letters and digits. Exclusive creation makes the name safe; randomness only keeps
// concurrent runs from colliding.
std::string random_part() {
    static std::mt19937_64 generator = [] {
        std::seed_seq seed{
            std::uint64_t(std::random_device{}()), std::uint64_t(::getpid()),
            std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string part(6, ' ');
    for (char& c : part) c = kAlphabet[pick(generator)];
    return part;
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

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a path names once symbolic links are followed, even when the last one dangles (it is
// then created, as writing through the link would). Replacing that file leaves the links alone.
std::string follow_links(std::string path) {
    constexpr int kMaxLinks = 40;  // the kernel's own limit for a path
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length <= 0 || std::size_t(length) == link.size()) return path;
        link.resize(std::size_t(length));
        path = link.front() == '/' ? link : directory_of(path) + link;
    }
    return path;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(std::string path)
    : path_(std::move(path)), target_(follow_links(path_)) {
    const std::string what = fmt::format("cannot write '{}'", path_);
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) throw io_failure(what, EISDIR);
        // A device or pipe (/dev/null, a FIFO) cannot be replaced, and must not be: it is
        // written in place.
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) throw io_failure(what, errno);
        return;
    }

    const std::string directory = directory_of(target_);
    std::string base = target_.substr(directory.size());
    if (base.empty()) throw io_failure(what, EISDIR);
    base.resize(std::min(base.size(), kMaxBaseInTempName));

    for (int attempt = 0; attempt < kCreateAttempts && fd_ < 0; ++attempt) {
        temp_path_ = fmt::format("{}.{}.{}.tmp", directory, base, random_part());
        fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) {
            const int err = errno;
            temp_path_.clear();
            throw io_failure(what, err);
        }
    }
    if (fd_ < 0) {
        temp_path_.clear();
        throw io_failure(what, EEXIST);
    }
    set_pending(temp_path_);
    // A file that is replaced keeps its permissions, so replacing a private file cannot make
    // its new content readable to others.
    if (exists) ::fchmod(fd_, st.st_mode & 0777);
}

AtomicOutputFile::~AtomicOutputFile() {
    discard();
}

void AtomicOutputFile::write(std::string_view data) {
    if (const int err = write_fully(fd_, data); err != 0) {
        throw io_failure(fmt::format("cannot write '{}'", path_), err);
    }
}

void AtomicOutputFile::commit() {
    const std::string what = fmt::format("cannot write '{}'", path_);
    const bool in_place = temp_path_.empty();
    if (!in_place && ::fsync(fd_) != 0) throw io_failure(what, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw io_failure(what, errno);
    if (in_place) return;
    if (::rename(temp_path_.c_str(), target_.c_str()) != 0) throw io_failure(what, errno);
    clear_pending();
    temp_path_.clear();
    sync_directory(directory_of(target_));
}

void AtomicOutputFile::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_path_.empty()) {
        ::unlink(temp_path_.c_str());
        clear_pending();
        temp_path_.clear();
    }
}

}  // namespace syskit::cli
