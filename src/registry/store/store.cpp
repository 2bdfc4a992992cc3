// The embedded registry store: the registry call surface over one SQLite database per root key.
//
// A database holds two tables. `keys` has one row per key (the root is row 1) with its parent,
// its name as written and its folded name: the name's characters upper-cased and written as
// big-endian UTF-16, so that byte order is the platform's case-insensitive order of subkeys and
// equal folds are equal names. `vals` has one row per value with the same folding, its type, its
// data and a sequence number that keeps creation order. Key ids are never reused, so a handle
// to a deleted key can tell it is deleted.
//
// Every call takes the store's lock, so one connection per database serves all threads. Writes
// run in BEGIN IMMEDIATE transactions under WAL with a busy timeout: writers of several
// processes queue instead of failing, readers never wait, and a write is durable once its call
// returns. Access follows the files: a database the process may not write gives read-only
// handles, one it may not read refuses every open.
//
// Enumeration by index keeps a listing per handle, built once in name (or creation) order and
// rebuilt only after a change to that database, so listing n items costs O(n log n) in all.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "registry/platform.hpp"
#include "registry/store/database.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"

namespace syskit::registry {
namespace platform {
namespace {

using store::Connection;
using store::StoreFailure;
using store::WriteTransaction;

constexpr std::int64_t kRootKey = 1;
constexpr std::int64_t kApplicationId = 0x53594B52;  // "SYKR": this file is a registry database
constexpr Handle kFirstHandle = 0x1000;
constexpr Access kWriteRights = kSetValue | kCreateSubKey | kCreateLink | kDelete | 0x00040000 |
                                0x00080000;  // WRITE_DAC, WRITE_OWNER

constexpr std::array<const char*, 7> kRootFiles = {
    "HKEY_CLASSES_ROOT.db",     "HKEY_CURRENT_USER.db",   "HKEY_LOCAL_MACHINE.db", "HKEY_USERS.db",
    "HKEY_PERFORMANCE_DATA.db", "HKEY_CURRENT_CONFIG.db", "HKEY_DYN_DATA.db",
};

std::string& last_error() {
    thread_local std::string message;
    return message;
}

// --- Names ------------------------------------------------------------------------------------

// The upper-case form of a code-page character, as the platform compares names.
char32_t upper(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    switch (c) {
        case 0xFF:
            return 0x178;
        case 0x161:
            return 0x160;
        case 0x153:
            return 0x152;
        case 0x17E:
            return 0x17D;
        default:
            return c;
    }
}

std::string fold(std::string_view name) {
    std::string folded;
    folded.reserve(name.size() * 2);
    for (const char byte : name) {
        const char32_t c = upper(text::ansi_char(static_cast<std::uint8_t>(byte)));
        folded += static_cast<char>(c >> 8);
        folded += static_cast<char>(c & 0xFF);
    }
    return folded;
}

// A subkey path split into key names. Doubled and trailing backslashes separate like one; a
// leading one is a bad path; a name beyond 255 characters is an invalid parameter.
Result split_path(const char* subkey, std::vector<std::string_view>& names) {
    names.clear();
    if (subkey == nullptr) return kSuccess;
    const std::string_view path(subkey);
    if (!path.empty() && path.front() == '\\') return kBadPathname;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            if (end - start > kMaxKeyNameLength) return kInvalidParameter;
            names.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return kSuccess;
}

bool is_text_type(Dword type) {
    return type == kString || type == kExpandString || type == kMultiString;
}

// Text data comes back with a terminator when it was stored without one, as the platform's ANSI
// calls return it.
void terminate_text(Dword type, std::string& data) {
    if (is_text_type(type) && !data.empty() && data.back() != '\0') data += '\0';
}

// --- Databases and handles --------------------------------------------------------------------

struct Database {
    std::unique_ptr<Connection> connection;  // null when the file may not be read
    bool writable = false;
    std::uint64_t own_changes = 0;  // commits through this connection (data_version misses them)

    // Changes whenever this database changed, through this connection or another one.
    std::pair<std::int64_t, std::uint64_t> version() {
        auto statement = connection->prepare("PRAGMA data_version");
        statement.step();
        return {statement.integer(0), own_changes};
    }

    // Paths resolved since the database last changed: (starting key, folded path) to key id.
    // Exact while the version stays the same, so a repeated open costs one version check
    // instead of a lookup per key name.
    std::unordered_map<std::string, std::int64_t> resolved;
    std::pair<std::int64_t, std::uint64_t> resolved_version{-1, 0};
    static constexpr std::size_t kMaxResolved = 4096;
};

struct ValueRow {
    std::string name;
    Dword type;
    std::string data;
};

struct OpenKey {
    std::shared_ptr<Database> database;
    std::int64_t id = kRootKey;
    Access access = 0;
    std::optional<std::pair<std::int64_t, std::uint64_t>> subkeys_version, values_version;
    std::vector<std::string> subkeys;
    std::vector<ValueRow> values;
};

class Store {
  public:
    std::mutex mutex;
    std::filesystem::path chosen_directory;
    std::atomic<bool> forked{false};  // set in a child process by the fork handler

    std::filesystem::path directory() const {
        if (!chosen_directory.empty()) return chosen_directory;
        if (const char* env = std::getenv("SYSKIT_REGISTRY"); env != nullptr && *env != '\0')
            return env;
        if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
            return std::filesystem::path(data) / "syskit" / "registry";
        }
        const char* home = std::getenv("HOME");
        return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "syskit" /
               "registry";
    }

    // The database of a predefined root in the current directory, opened on first use. The
    // directory is worked out again only when what it comes from has changed.
    std::shared_ptr<Database> database(Handle root) {
        const char* registry = std::getenv("SYSKIT_REGISTRY");
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        const auto same = [](const std::string& cached, const char* now) {
            return cached == (now != nullptr ? now : "");
        };
        if (!cache_.valid || cache_.chosen != chosen_directory.native() ||
            !same(cache_.registry, registry) || !same(cache_.data, data) ||
            !same(cache_.home, home)) {
            cache_ = DirectoryCache{};
            cache_.chosen = chosen_directory.native();
            cache_.registry = registry != nullptr ? registry : "";
            cache_.data = data != nullptr ? data : "";
            cache_.home = home != nullptr ? home : "";
            cache_.directory = directory();
            cache_.valid = true;
        }
        std::shared_ptr<Database>& slot = cache_.roots[root - kClassesRoot];
        if (slot) return slot;
        const std::string path = (cache_.directory / kRootFiles[root - kClassesRoot]).string();
        if (const auto it = databases_.find(path); it != databases_.end()) return slot = it->second;
        auto opened = open(cache_.directory, path);
        databases_.emplace(path, opened);
        return slot = opened;
    }

    // A key for a handle: an open handle's own record, or a fresh record for a predefined root.
    // Null for an unknown handle.
    OpenKey* find(Handle handle, OpenKey& root_scratch) {
        if (handle >= kClassesRoot && handle <= kDynData) {
            root_scratch = OpenKey{};
            root_scratch.database = database(handle);
            root_scratch.access = root_scratch.database->writable ? kKeyAllAccess : kKeyRead;
            return &root_scratch;
        }
        const auto it = handles_.find(handle);
        return it == handles_.end() ? nullptr : &it->second;
    }

    Handle add(OpenKey key) {
        while (next_handle_ < kFirstHandle || next_handle_ >= kClassesRoot ||
               handles_.contains(next_handle_)) {
            next_handle_ = next_handle_ < kFirstHandle || next_handle_ >= kClassesRoot
                               ? kFirstHandle
                               : next_handle_ + 4;
        }
        const Handle handle = next_handle_;
        next_handle_ += 4;
        handles_.emplace(handle, std::move(key));
        return handle;
    }

    bool remove(Handle handle) { return handles_.erase(handle) != 0; }

    // A child process must not use the connections it inherited from its parent, so after a fork
    // the child closes them (which drops only locks of its own; the parent keeps its) and opens
    // its own on demand. The inherited handles are no longer valid.
    void forget_after_fork() {
        if (!forked.load(std::memory_order_relaxed)) return;
        forked = false;
        for (auto& [path, database] : databases_) database->connection.reset();
        databases_.clear();
        handles_.clear();
        cache_ = DirectoryCache{};
    }

  private:
    static void read_header(Connection& c, std::int64_t& application, std::int64_t& tables) {
        auto id = c.prepare("PRAGMA application_id");
        if (!id.step()) c.fail("cannot read");
        application = id.integer(0);
        auto count = c.prepare("SELECT count(*) FROM sqlite_master");
        count.step();
        tables = count.integer(0);
    }

    static std::shared_ptr<Database> open(const std::filesystem::path& dir,
                                          const std::string& path) {
        auto database = std::make_shared<Database>();
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        if (error) {
            throw StoreFailure(kRegistryIoFailed, "cannot create the registry directory '" +
                                                      dir.string() + "': " + error.message());
        }
        const bool exists = ::access(path.c_str(), F_OK) == 0;
        if (exists && ::access(path.c_str(), R_OK) != 0) return database;  // no connection: denied
        database->writable =
            exists ? ::access(path.c_str(), W_OK) == 0 : ::access(dir.c_str(), W_OK) == 0;
        if (!exists && !database->writable) {
            throw StoreFailure(kRegistryIoFailed, "cannot create registry database '" + path +
                                                      "': the directory is not writable");
        }
        database->connection = std::make_unique<Connection>(path, database->writable);
        std::int64_t application = 0;
        std::int64_t tables = 0;
        try {
            read_header(*database->connection, application, tables);
        } catch (const StoreFailure& failure) {
            // A read-only WAL database in a directory we may not write, without the WAL index
            // its last writer removed: readable only as an unchanging file.
            if (database->writable || failure.sqlite_code() != SQLITE_READONLY_DIRECTORY) throw;
            database->connection = std::make_unique<Connection>(path, false, true);
            read_header(*database->connection, application, tables);
        }
        Connection& c = *database->connection;
        if (application == kApplicationId) {
            if (database->writable) c.execute("PRAGMA synchronous = NORMAL");
            return database;
        }
        if (application != 0 || tables != 0) {
            throw StoreFailure(kBadDatabase,
                               "registry database '" + path + "' is not a registry database");
        }
        if (!database->writable) {
            throw StoreFailure(kBadDatabase,
                               "registry database '" + path + "' is empty and read-only");
        }
        c.execute("PRAGMA journal_mode = WAL");
        c.execute("PRAGMA synchronous = NORMAL");
        WriteTransaction transaction(c);
        c.execute(
            "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER "
            "NOT NULL,"
            " name BLOB NOT NULL, fold BLOB NOT NULL, UNIQUE(parent, fold));"
            "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, fold BLOB NOT NULL, name BLOB "
            "NOT NULL,"
            " type INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL, PRIMARY KEY(key, "
            "fold))"
            " WITHOUT ROWID;"
            "CREATE INDEX IF NOT EXISTS vals_order ON vals(key, seq);"
            "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(1, 0, x'', x'');");
        c.execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        transaction.commit();
        return database;
    }

    std::map<std::string, std::shared_ptr<Database>> databases_;
    std::unordered_map<Handle, OpenKey> handles_;
    Handle next_handle_ = kFirstHandle;
    struct DirectoryCache {
        bool valid = false;
        std::string chosen, registry, data, home;  // what the directory was worked out from
        std::filesystem::path directory;
        std::array<std::shared_ptr<Database>, 7> roots;
    };
    DirectoryCache cache_;
};

Store& the_store() {
    // Never destroyed: handles may be closed during exit. A fork waits until no thread is inside
    // a call, so the child never inherits the lock held.
    static Store* const store = [] {
        auto* created = new Store;
        pthread_atfork([] { the_store().mutex.lock(); }, [] { the_store().mutex.unlock(); },
                       [] {
                           the_store().forked = true;
                           the_store().mutex.unlock();
                       });
        return created;
    }();
    return *store;
}

// --- Keys -------------------------------------------------------------------------------------

bool key_exists(Database& db, std::int64_t id) {
    auto statement = db.connection->prepare("SELECT 1 FROM keys WHERE id = ?");
    return statement.bind(1, id).step();
}

std::optional<std::int64_t> child(Database& db, std::int64_t parent, std::string_view name) {
    auto statement = db.connection->prepare("SELECT id FROM keys WHERE parent = ? AND fold = ?");
    statement.bind(1, parent).bind(2, fold(name));
    if (!statement.step()) return std::nullopt;
    return statement.integer(0);
}

// Checks that a key can be used: its database is readable and the key not deleted.
Result usable(const OpenKey& key) {
    if (!key.database->connection) return kAccessDenied;
    if (key.id != kRootKey && !key_exists(*key.database, key.id)) return kKeyDeleted;
    return kSuccess;
}

// The answer for a handle that lacks the rights a call needs: a deleted key says so first.
Result refused(const OpenKey& key) {
    const Result r = usable(key);
    return r == kSuccess ? kAccessDenied : r;
}

// Checks a handle for an enumeration and rebuilds its listing with `fill` when the database
// changed since it was built. A listing built since the database last changed is still exact,
// and proves the key is still there.
template <typename Fill>
Result refresh_listing(OpenKey& open, Access needed,
                       std::optional<std::pair<std::int64_t, std::uint64_t>>& built, Fill&& fill) {
    if (!open.database->connection) return kAccessDenied;
    if ((open.access & needed) == 0) {
        return refused(open);
    }
    Database& db = *open.database;
    const auto version = db.version();
    if (built == version) return kSuccess;
    store::ReadTransaction snapshot(*db.connection);
    if (const Result r = usable(open); r != kSuccess) return r;
    fill(*db.connection);
    built = version;
    return kSuccess;
}

// Runs a call under the store's lock; failures of the store itself become result codes.
template <typename Body>
Result guarded(Body&& body) {
    Store& store = the_store();
    const std::lock_guard lock(store.mutex);
    try {
        store.forget_after_fork();
        return body(store);
    } catch (const StoreFailure& failure) {
        last_error() = failure.what();
        return failure.result();
    } catch (const std::bad_alloc&) {
        return kNotEnoughMemory;
    }
}

// Opens or creates `subkey` below `handle` with the given access (kMaximumAllowed: all the
// database allows) and stores a new handle in `result`.
Result open_key(Handle handle, const char* subkey, Access access, bool create, Handle* result) {
    if (result == nullptr) return kInvalidParameter;
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* parent = store.find(handle, scratch);
        if (parent == nullptr) return kInvalidHandle;
        if (!parent->database->connection) return kAccessDenied;
        Database& db = *parent->database;
        std::vector<std::string_view> names;
        const Result parsed = split_path(subkey, names);

        // A path resolved since the database last changed needs no lookups: its keys, the
        // starting key included, existed then and still do.
        std::int64_t id = parent->id;
        std::size_t depth = 0;
        std::string cache_key;
        if (parsed == kSuccess && !names.empty()) {
            if (const auto version = db.version(); db.resolved_version != version) {
                db.resolved.clear();
                db.resolved_version = version;
            }
            cache_key = std::to_string(parent->id);
            for (const std::string_view name : names) cache_key += '\\' + fold(name);
            if (const auto it = db.resolved.find(cache_key); it != db.resolved.end()) {
                id = it->second;
                depth = names.size();
            }
        }
        std::optional<store::ReadTransaction> snapshot;
        if (depth < names.size() || names.empty()) {
            snapshot.emplace(*db.connection);
            if (const Result r = usable(*parent); r != kSuccess) return r;
        }
        if (parsed != kSuccess) return parsed;
        const Access rights = db.writable ? kKeyAllAccess : kKeyRead;
        if (access == kMaximumAllowed) access = rights;
        if ((access & kWriteRights) != 0 && !db.writable) return kAccessDenied;

        for (; depth < names.size(); ++depth) {
            const auto next = child(db, id, names[depth]);
            if (!next) break;
            id = *next;
            if (depth + 1 == names.size()) {
                if (db.resolved.size() >= Database::kMaxResolved) db.resolved.clear();
                db.resolved.emplace(cache_key, id);
            }
        }
        if (depth < names.size()) {
            if (!create) return kFileNotFound;
            if (!db.writable) return kAccessDenied;
            snapshot.reset();
            // Another process may have created or deleted keys on the path meanwhile: walk it
            // again under the write lock and insert only what is still missing.
            WriteTransaction transaction(*db.connection);
            if (parent->id != kRootKey && !key_exists(db, parent->id)) return kKeyDeleted;
            id = parent->id;
            for (depth = 0; depth < names.size(); ++depth) {
                if (const auto next = child(db, id, names[depth])) {
                    id = *next;
                    continue;
                }
                auto insert =
                    db.connection->prepare("INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
                insert.bind(1, id).bind(2, names[depth]).bind(3, fold(names[depth])).run();
                id = sqlite3_last_insert_rowid(db.connection->handle());
            }
            transaction.commit();
            ++db.own_changes;
        }
        OpenKey opened;
        opened.database = parent->database;
        opened.id = id;
        opened.access = access;
        *result = store.add(std::move(opened));
        return kSuccess;
    });
}

}  // namespace

// --- The calls --------------------------------------------------------------------------------

Result RegOpenKeyA(Handle key, const char* subkey, Handle* result) {
    if (subkey == nullptr || *subkey == '\0') {
        if (result == nullptr) return kInvalidParameter;
        *result = key;  // the same handle, as the platform gives it back
        return kSuccess;
    }
    return open_key(key, subkey, kMaximumAllowed, false, result);
}

Result RegOpenKeyExA(Handle key, const char* subkey, Dword, Access access, Handle* result) {
    return open_key(key, subkey, access, false, result);
}

Result RegCreateKeyA(Handle key, const char* subkey, Handle* result) {
    return open_key(key, subkey, kMaximumAllowed, true, result);
}

Result RegDeleteKeyA(Handle key, const char* subkey) {
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* parent = store.find(key, scratch);
        if (parent == nullptr) return kInvalidHandle;
        if (const Result r = usable(*parent); r != kSuccess) return r;
        std::vector<std::string_view> names;
        if (const Result r = split_path(subkey, names); r != kSuccess) return r;
        Database& db = *parent->database;
        std::int64_t id = parent->id;
        for (const std::string_view name : names) {
            const auto next = child(db, id, name);
            if (!next) return kFileNotFound;
            id = *next;
        }
        if (id == kRootKey || !db.writable) return kAccessDenied;
        if (names.empty() && (parent->access & kDelete) == 0) return kAccessDenied;
        WriteTransaction transaction(*db.connection);
        if (!key_exists(db, id)) return names.empty() ? kKeyDeleted : kFileNotFound;
        auto children = db.connection->prepare("SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
        if (children.bind(1, id).step()) return kAccessDenied;
        db.connection->prepare("DELETE FROM vals WHERE key = ?").bind(1, id).run();
        db.connection->prepare("DELETE FROM keys WHERE id = ?").bind(1, id).run();
        transaction.commit();
        ++db.own_changes;
        return kSuccess;
    });
}

Result RegEnumKeyExA(Handle key, Dword index, char* name, Dword* name_size, Dword*, char*, Dword*,
                     void*) {
    if (name == nullptr || name_size == nullptr) return kInvalidParameter;
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* open = store.find(key, scratch);
        if (open == nullptr) return kInvalidHandle;
        const Result r =
            refresh_listing(*open, kEnumerateSubKeys, open->subkeys_version, [&](Connection& c) {
                open->subkeys.clear();
                auto list = c.prepare("SELECT name FROM keys WHERE parent = ? ORDER BY fold");
                list.bind(1, open->id);
                while (list.step()) open->subkeys.push_back(list.bytes(0));
            });
        if (r != kSuccess) return r;
        if (index >= open->subkeys.size()) return kNoMoreItems;
        const std::string& found = open->subkeys[index];
        if (found.size() + 1 > *name_size) return kMoreData;
        std::memcpy(name, found.c_str(), found.size() + 1);
        *name_size = static_cast<Dword>(found.size());
        return kSuccess;
    });
}

Result RegEnumValueA(Handle key, Dword index, char* name, Dword* name_size, Dword*, Dword* type,
                     std::uint8_t* data, Dword* data_size) {
    if (name == nullptr || name_size == nullptr || (data != nullptr && data_size == nullptr)) {
        return kInvalidParameter;
    }
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* open = store.find(key, scratch);
        if (open == nullptr) return kInvalidHandle;
        const Result r =
            refresh_listing(*open, kQueryValue, open->values_version, [&](Connection& c) {
                open->values.clear();
                auto list =
                    c.prepare("SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq");
                list.bind(1, open->id);
                while (list.step()) {
                    ValueRow row{list.bytes(0), static_cast<Dword>(list.integer(1)), list.bytes(2)};
                    terminate_text(row.type, row.data);
                    open->values.push_back(std::move(row));
                }
            });
        if (r != kSuccess) return r;
        if (index >= open->values.size()) return kNoMoreItems;
        const ValueRow& value = open->values[index];
        const auto required = static_cast<Dword>(value.data.size());
        if (data != nullptr && required > *data_size) {
            // The data does not fit: only its size and type are reported.
            *data_size = required;
            if (type != nullptr) *type = value.type;
            return kMoreData;
        }
        if (type != nullptr) *type = value.type;
        if (data != nullptr) std::memcpy(data, value.data.data(), value.data.size());
        if (data_size != nullptr) *data_size = required;
        if (value.name.size() + 1 > *name_size) {
            // The name does not fit: the buffer gets as much of it as it holds, the size stays.
            std::memcpy(name, value.name.data(),
                        std::min<std::size_t>(*name_size, value.name.size()));
            return kMoreData;
        }
        std::memcpy(name, value.name.c_str(), value.name.size() + 1);
        *name_size = static_cast<Dword>(value.name.size());
        return kSuccess;
    });
}

Result RegQueryValueExA(Handle key, const char* name, Dword*, Dword* type, std::uint8_t* data,
                        Dword* data_size) {
    if (data != nullptr && data_size == nullptr) return kInvalidParameter;
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* open = store.find(key, scratch);
        if (open == nullptr) return kInvalidHandle;
        if (!open->database->connection) return kAccessDenied;
        if ((open->access & kQueryValue) == 0) return refused(*open);
        Connection& c = *open->database->connection;
        // No row: the key is gone; a row without a type: the key has no such value.
        auto lookup = c.prepare(
            "SELECT v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id AND v.fold = ?"
            " WHERE k.id = ?");
        lookup.bind(1, fold(name != nullptr ? name : "")).bind(2, open->id);
        if (!lookup.step()) return kKeyDeleted;
        if (lookup.is_null(0)) return kFileNotFound;
        std::optional<ValueRow> value =
            ValueRow{{}, static_cast<Dword>(lookup.integer(0)), lookup.bytes(1)};
        terminate_text(value->type, value->data);
        const auto required = static_cast<Dword>(value->data.size());
        if (type != nullptr) *type = value->type;
        if (data != nullptr) {
            if (required > *data_size) {
                *data_size = required;
                return kMoreData;
            }
            std::memcpy(data, value->data.data(), value->data.size());
        }
        if (data_size != nullptr) *data_size = required;
        return kSuccess;
    });
}

Result RegSetValueExA(Handle key, const char* name, Dword, Dword type, const std::uint8_t* data,
                      Dword data_size) {
    const std::string_view value_name = name != nullptr ? name : "";
    if (value_name.size() > kMaxValueNameLength || (data == nullptr && data_size != 0)) {
        return kInvalidParameter;
    }
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* open = store.find(key, scratch);
        if (open == nullptr) return kInvalidHandle;
        if ((open->access & kSetValue) == 0 || !open->database->writable) return refused(*open);
        Database& db = *open->database;
        const std::string_view bytes(reinterpret_cast<const char*>(data), data_size);
        WriteTransaction transaction(*db.connection);
        if (open->id != kRootKey && !key_exists(db, open->id)) return kKeyDeleted;
        auto update =
            db.connection->prepare("UPDATE vals SET type = ?, data = ? WHERE key = ? AND fold = ?");
        update.bind(1, type).bind(2, bytes).bind(3, open->id).bind(4, fold(value_name)).run();
        if (sqlite3_changes(db.connection->handle()) == 0) {
            auto insert = db.connection->prepare(
                "INSERT INTO vals(key, fold, name, type, data, seq) VALUES(?1, ?2, ?3, ?4, ?5,"
                " (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?1))");
            insert.bind(1, open->id)
                .bind(2, fold(value_name))
                .bind(3, value_name)
                .bind(4, type)
                .bind(5, bytes)
                .run();
        }
        transaction.commit();
        ++db.own_changes;
        return kSuccess;
    });
}

Result RegDeleteValueA(Handle key, const char* name) {
    return guarded([&](Store& store) -> Result {
        OpenKey scratch;
        OpenKey* open = store.find(key, scratch);
        if (open == nullptr) return kInvalidHandle;
        if ((open->access & kSetValue) == 0 || !open->database->writable) return refused(*open);
        Database& db = *open->database;
        WriteTransaction transaction(*db.connection);
        if (open->id != kRootKey && !key_exists(db, open->id)) return kKeyDeleted;
        auto erase = db.connection->prepare("DELETE FROM vals WHERE key = ? AND fold = ?");
        erase.bind(1, open->id).bind(2, fold(name != nullptr ? name : "")).run();
        if (sqlite3_changes(db.connection->handle()) == 0) return kFileNotFound;
        transaction.commit();
        ++db.own_changes;
        return kSuccess;
    });
}

Result RegCloseKey(Handle key) {
    if (key >= kClassesRoot && key <= kDynData) return kSuccess;  // closing a root is allowed
    return guarded(
        [&](Store& store) -> Result { return store.remove(key) ? kSuccess : kInvalidHandle; });
}

}  // namespace platform

void set_store_directory(const std::filesystem::path& directory) {
    platform::Store& store = platform::the_store();
    const std::lock_guard lock(store.mutex);
    store.chosen_directory = directory;
}

std::filesystem::path store_directory() {
    platform::Store& store = platform::the_store();
    const std::lock_guard lock(store.mutex);
    return store.directory();
}

std::string last_store_error() {
    return platform::last_error();
}

}  // namespace syskit::registry
