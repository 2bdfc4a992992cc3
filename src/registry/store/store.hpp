// The registry store's state: the databases it has open, the keys open under handles, the
// transactions each thread holds, and the registry directory.
//
// One Store serves the whole process. Its mutex serialises every call, so one connection per
// database serves all threads; a transaction on that connection belongs to the thread that began
// it, and a call of any other thread ends it before touching the database (transactions.cpp).
// Between calls the store remembers, per database, what it learnt (the key id each path resolved
// to, which keys it saw alive, the listings of open handles) together with the version of the
// database it learnt it from, and trusts it only while that version holds.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/platform.hpp"
#include "registry/store/database.hpp"
#include "registry/store/names.hpp"
#include "registry/store/schema.hpp"

namespace syskit::registry::store {

struct ThreadState;

// What a database looked like when something was learnt from it: PRAGMA data_version changes
// when another connection commits, and `own_changes` counts this connection's writes, which
// data_version does not see.
struct Version {
    std::int64_t data_version = -1;
    std::uint64_t own_changes = 0;
    bool operator==(const Version&) const = default;
};

// The subkeys or values of a key in enumeration order, in one buffer: names (and for values the
// data, with the terminator the platform adds to text) side by side, in the code page of the
// thread the listing was built for.
struct Listing {
    struct Item {
        std::size_t name = 0, name_size = 0, data = 0, data_size = 0;
        platform::Dword type = 0;
        std::int64_t seq = 0;  // a value's place in creation order
        bool exact = true;     // the page holds every character of the name
    };
    std::string bytes;
    std::vector<Item> items;
    std::optional<Version> built;  // none: not built yet
    int page = 0;                  // the code page of `bytes`

    [[nodiscard]] std::string_view name(const Item& item) const {
        return std::string_view(bytes).substr(item.name, item.name_size);
    }
    [[nodiscard]] std::string_view data(const Item& item) const {
        return std::string_view(bytes).substr(item.data, item.data_size);
    }
};

enum class Transaction : std::uint8_t { none, read, write };

struct Database {
    std::string path;
    std::unique_ptr<Connection> connection;
    bool writable = false;
    std::string read_only_reason;  // the system's reason when not writable
    // How the file holds its texts: Windows-1252 only for a read-only file of an older layout,
    // until another process converts it.
    Form form = Form::unicode;

    // The transaction open on the connection, and whose it is.
    Transaction transaction = Transaction::none;
    ThreadState* owner = nullptr;
    std::chrono::steady_clock::time_point began;
    // Counts transactions begun and ended, so that what was checked inside one is not trusted in
    // the next.
    std::uint64_t generation = 0;
    // PRAGMA data_version of the open transaction, read on first need.
    std::optional<std::int64_t> data_version;
    // A read transaction is held by this statement, stepped to its row and not reset.
    sqlite3_stmt* holder = nullptr;

    std::uint64_t own_changes = 0;
    // Changes when paths resolved earlier may no longer hold: a key deleted through this
    // connection, or writes of this connection rolled back.
    std::uint64_t epoch = 0;

    // Paths resolved: (starting key id, folded names) to key id, exact while no key was deleted,
    // that is while data_version and epoch stay as they were.
    struct ByBytes {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept {
            return std::hash<std::string_view>{}(key);
        }
    };
    std::unordered_map<std::string, std::int64_t, ByBytes, std::equal_to<>> resolved;
    std::int64_t resolved_data_version = -1;
    std::uint64_t resolved_epoch = 0;
    static constexpr std::size_t kMaxResolved = 4096;

    // The values listing last enumerated, its key and the index last asked for: a query of that
    // value's name in the same version of the database is answered from it.
    std::weak_ptr<const Listing> listed_values;
    std::int64_t listed_key = 0;
    std::size_t listed_index = 0;

    // The next creation-order number for new values of one key, learnt inside the open write
    // transaction: a number above every value's of the key is all the order needs.
    std::int64_t sequence_key = 0;
    std::int64_t next_sequence = 0;
    std::uint64_t sequence_generation = 0;

    // The last key seen to exist inside the open transaction.
    std::int64_t alive_key = 0;
    std::uint64_t alive_generation = 0;
    std::uint64_t alive_epoch = 0;
};

struct OpenKey {
    std::shared_ptr<Database> database;
    std::int64_t id = kRootKey;
    platform::Access access = 0;
    Listing subkeys;
    std::shared_ptr<Listing> values;  // made on first need; the database may point at it
};

// What the store keeps per thread: how deep in snapshots and batches it is and the transactions
// it holds. Other threads touch only `losses` and `last_loss`, under the store's mutex.
struct ThreadState {
    int snapshot_depth = 0;
    int batch_depth = 0;
    std::vector<std::uint64_t> batch_marks;  // `losses` when each open batch began
    std::atomic<std::uint64_t> losses{0};    // transactions of this thread's batches lost
    platform::Refusal last_loss;
    Database* write_database = nullptr;         // holds this thread's batch write transaction
    Database* call_database = nullptr;          // the database of the call running
    std::vector<Database*> snapshot_databases;  // read transactions kept for a snapshot

    ThreadState() = default;
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;
    ~ThreadState();
    // Forgets everything: a child process after fork() starts afresh.
    void reset();
};

ThreadState& this_thread();

class Store {
  public:
    std::mutex mutex;
    std::atomic<bool> forked{false};  // set in a child process by the fork handler

    // Scratch space of the call running (under the mutex), so that calls allocate nothing.
    std::vector<std::string_view> names;
    std::string path_key, value_fold, listed_fold;
    std::string stored_name, stored_data;  // texts of the call as the database holds them
    Bytes converted;                       // a text of the database in the caller's code page

    // The registry directory, worked out when first needed after the process started or a
    // directory was chosen. Raises StoreFailure (io_error) when there is none.
    const std::filesystem::path& directory();

    // Chooses the directory (empty: the default from the environment, read again).
    void choose_directory(std::filesystem::path directory);

    // The database of a predefined root in the current directory, opened on first use. Raises
    // StoreFailure for a database that cannot be used; nothing is kept of it.
    std::shared_ptr<Database> database(platform::Handle root);

    // The key of a handle: an open handle's record, or a predefined root's (kept while the
    // directory stays the same, with its listings). Null for an unknown handle.
    OpenKey* find(platform::Handle handle);

    // The database file a handle works on, or empty; opens nothing and raises nothing.
    std::string file_of(platform::Handle handle);

    platform::Handle add(OpenKey key);
    bool remove(platform::Handle handle) { return handles_.erase(handle) != 0; }

    template <typename Each>
    void for_each_database(Each&& each) {
        for (auto& [path, database] : databases_) each(*database);
    }

    // In a child process after fork(): drops what belongs to the parent.
    void forget_after_fork();

  private:
    std::shared_ptr<Database> open(const std::filesystem::path& directory, const std::string& path);

    std::map<std::string, std::shared_ptr<Database>> databases_;
    // Handles come and go with every operation: their records come from a pool, not the heap.
    std::pmr::unsynchronized_pool_resource handle_pool_;
    std::pmr::unordered_map<platform::Handle, OpenKey> handles_{&handle_pool_};
    platform::Handle next_handle_ = 0;
    std::filesystem::path chosen_directory_;
    struct DirectoryCache {
        bool valid = false;
        std::filesystem::path directory;
        std::string failure;  // why there is none
        std::array<OpenKey, 7> roots;
    };
    DirectoryCache cache_;
};

// The process's store, created on first use and never destroyed.
Store& the_store();

// --- Transactions (transactions.cpp) ---------------------------------------------------------

// Makes `db` ready for a call of `me`: another thread's transaction on it ends first; in a batch
// a writable database gets `me`'s write transaction.
void enter(Database& db, ThreadState& me);

// Makes sure `me`'s call runs inside a transaction on `db`, taking a read transaction when none
// is open, so that its statements agree.
void in_transaction(Database& db, ThreadState& me);

// The version of `db` inside that transaction.
Version read_version(Database& db, ThreadState& me);

// Takes a read transaction for a snapshot when none is open (a call on its own needs none for a
// single statement).
void reading(Database& db, ThreadState& me);

// A write in its own transaction, or in the batch's. `fresh()` says whether the transaction began
// here, after the call's reads; then those must be made again.
class WriteScope {
  public:
    WriteScope(Database& db, ThreadState& me);
    ~WriteScope();
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;
    [[nodiscard]] bool fresh() const noexcept { return own_; }
    // The call's write is complete: commits it unless a batch does.
    void commit();

  private:
    Database& db_;
    bool own_ = false;
    bool done_ = false;
};

// At the start of every call of `me`: commits its batch's transaction when it is due.
void commit_if_due(ThreadState& me);

// At the end of every call of `me`: ends a read transaction taken for this call alone.
void leave(ThreadState& me);

// After a call of `me` failed (for `why`): a transaction of `me` on the call's database is
// rolled back (counted as lost writes when it was a batch's) so that nothing runs half inside.
void abandon_after_failure(ThreadState& me, const std::string& why);

// Ends every transaction of every thread (before fork()).
void end_all_transactions(Store& store);

}  // namespace syskit::registry::store
