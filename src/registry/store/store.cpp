// The registry store's databases, handles and directory, and what a fork does to them.
//
// The directory is, in order: the one chosen with set_store_directory, $SYSKIT_REGISTRY,
// $XDG_DATA_HOME/syskit/registry when XDG_DATA_HOME is absolute, or <home>/.local/share/syskit/
// registry, <home> being $HOME when it is an absolute path and otherwise the account's home
// directory from the password database. A relative choice or $SYSKIT_REGISTRY is made absolute
// against the current directory when it is taken, so the store never works on a relative path;
// with no home at all there is no directory and every call on a root key fails with
// ERROR_REGISTRY_IO_FAILED. The directory is worked out when it is first needed and again after
// set_store_directory, not at every call: the environment is read then.
//
// Access comes from the files: a database the process may not write gives read-only handles,
// one it may not read refuses every call. Neither, nor a damaged file, is remembered: the next
// call looks again.
//
// A child process after fork() must not use its parent's connections (SQLite's locks are the
// parent's). The fork waits for the store's lock and, holding it, ends every transaction, so the
// child inherits idle connections, closes them (which releases only locks of its own) and opens
// its own on demand; the handles it inherited are no longer valid.
#include "registry/store/store.hpp"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace syskit::registry::store {
namespace {

using platform::Handle;

constexpr Handle kFirstHandle = 0x1000;

StoreFailure io_failure(const std::string& message, const std::string& file) {
    return {platform::kRegistryIoFailed, RegistryStatusCode::io_error, message, file};
}

// The account's home directory from the password database, or empty.
std::string account_home() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return {};
    }
    return found->pw_dir;
}

// `path` made absolute against the current directory, or why it cannot be.
std::filesystem::path absolute_or(const std::string& path, std::string& failure) {
    std::error_code error;
    std::filesystem::path made = std::filesystem::absolute(path, error);
    if (error)
        failure = "cannot make the registry directory '" + path + "' absolute: " + error.message();
    return made;
}

}  // namespace

const std::filesystem::path& Store::directory() {
    if (!cache_.valid) {
        cache_ = DirectoryCache{};
        cache_.valid = true;
        const auto variable = [](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value != nullptr ? value : "");
        };
        const std::string registry = variable("SYSKIT_REGISTRY");
        const std::string data = variable("XDG_DATA_HOME");
        const std::string home = variable("HOME");
        if (!chosen_directory_.empty()) {
            cache_.directory = chosen_directory_;  // made absolute when it was chosen
        } else if (!registry.empty()) {
            cache_.directory = absolute_or(registry, cache_.failure);
        } else if (data.starts_with('/')) {
            cache_.directory = std::filesystem::path(data) / "syskit" / "registry";
        } else {
            const std::string home_directory = home.starts_with('/') ? home : account_home();
            if (home_directory.empty()) {
                cache_.failure = std::string("cannot find the registry directory: HOME is ") +
                                 (home.empty() ? "not set" : "not an absolute path") +
                                 " and the account has no home directory; set SYSKIT_REGISTRY";
            } else {
                cache_.directory = std::filesystem::path(home_directory) / ".local" / "share" /
                                   "syskit" / "registry";
            }
        }
    }
    if (!cache_.failure.empty()) throw io_failure(cache_.failure, {});
    return cache_.directory;
}

void Store::choose_directory(std::filesystem::path directory) {
    chosen_directory_ = std::move(directory);
    cache_ = DirectoryCache{};
}

std::shared_ptr<Database> Store::database(Handle root) {
    const std::filesystem::path& dir = directory();
    OpenKey& slot = cache_.roots[root - platform::kClassesRoot];
    if (slot.database) return slot.database;
    const std::string path = (dir / hive_of(root)->store_file).string();
    auto it = databases_.find(path);
    if (it == databases_.end()) it = databases_.emplace(path, open(dir, path)).first;
    slot.database = it->second;
    slot.id = kRootKey;
    slot.access = slot.database->writable ? platform::kKeyAllAccess : platform::kKeyRead;
    return slot.database;
}

std::shared_ptr<Database> Store::open(const std::filesystem::path& dir, const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        throw io_failure("cannot create registry database '" + path + "': cannot create '" +
                             dir.string() + "': " + error.message(),
                         path);
    }
    auto database = std::make_shared<Database>();
    database->path = path;
    const bool exists = ::access(path.c_str(), F_OK) == 0;
    if (exists && ::access(path.c_str(), R_OK) != 0) {
        throw StoreFailure(platform::kAccessDenied, RegistryStatusCode::store_unreadable,
                           "cannot read registry database '" + path + "': " + std::strerror(errno),
                           path);
    }
    database->writable = ::access(exists ? path.c_str() : dir.c_str(), W_OK) == 0;
    if (!database->writable) {
        const int reason = errno;
        if (!exists) {
            throw io_failure(
                "cannot create registry database '" + path + "': " + std::strerror(reason), path);
        }
        database->read_only_reason = std::strerror(reason);
    }
    database->connection = std::make_unique<Connection>(path, database->writable);
    Header header;
    try {
        header = read_header(*database->connection);
    } catch (const StoreFailure& failure) {
        // A read-only WAL database in a directory we may not write, without the WAL index its
        // last writer removed: readable only as an unchanging file.
        if (database->writable || failure.sqlite_code() != SQLITE_READONLY_DIRECTORY) throw;
        database->connection = std::make_unique<Connection>(path, false, true);
        header = read_header(*database->connection);
    }
    database->form = adopt(*database->connection, header, database->writable);
    return database;
}

OpenKey* Store::find(Handle handle) {
    if (handle >= platform::kClassesRoot && handle <= platform::kDynData) {
        database(handle);
        return &cache_.roots[handle - platform::kClassesRoot];
    }
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

std::string Store::file_of(Handle handle) {
    if (const auto it = handles_.find(handle); it != handles_.end()) {
        return it->second.database->path;
    }
    const Hive* hive = hive_of(handle);
    if (hive == nullptr) return {};
    try {
        return (directory() / hive->store_file).string();
    } catch (const StoreFailure&) {
        return {};
    }
}

Handle Store::add(OpenKey key) {
    while (next_handle_ < kFirstHandle || next_handle_ >= platform::kClassesRoot ||
           handles_.contains(next_handle_)) {
        next_handle_ = next_handle_ < kFirstHandle || next_handle_ >= platform::kClassesRoot
                           ? kFirstHandle
                           : next_handle_ + 4;
    }
    const Handle handle = next_handle_;
    next_handle_ += 4;
    handles_.emplace(handle, std::move(key));
    return handle;
}

void Store::forget_after_fork() {
    if (!forked.load(std::memory_order_relaxed)) return;
    forked = false;
    handles_.clear();
    cache_ = DirectoryCache{};
    databases_.clear();  // the connections are idle: the fork ended every transaction
}

Store& the_store() {
    // Never destroyed: handles may be closed during exit. A fork waits until no thread is inside
    // a call, and ends every transaction, so the child inherits neither the lock nor a
    // transaction.
    static Store* const store = [] {
        auto* created = new Store;
        pthread_atfork(
            [] {
                Store& s = the_store();
                s.mutex.lock();
                end_all_transactions(s);
            },
            [] { the_store().mutex.unlock(); },
            [] {
                Store& s = the_store();
                s.forked = true;
                this_thread().reset();
                s.mutex.unlock();
            });
        return created;
    }();
    return *store;
}

}  // namespace syskit::registry::store
