// Transactions of the registry store: one call, a snapshot, a batch.
//
// A call on its own reads with single statements, or under one read transaction when it needs
// several to agree, and writes in its own BEGIN IMMEDIATE transaction, durable when the call
// returns. Under WAL each read transaction costs a read lock; that, not the statements, is most
// of what a small call costs, so snapshots and batches share one across calls:
// - A ReadSnapshot keeps the read transaction the first call on a database takes until the
//   outermost snapshot ends. A statement stepped to its row and not reset (PRAGMA data_version,
//   which also gives the version the caches are checked against) holds it, cheaper than BEGIN and
//   COMMIT.
// - A WriteBatch makes the first call on a writable database begin a write transaction (BEGIN
//   IMMEDIATE: the write lock at once, so writers queue on the busy timeout instead of failing
//   on a lock upgrade); the batch's reads and writes share it. It is committed when it is older
//   than kBatchCommitInterval at a call of its thread, when the batch takes another database's
//   (one at a time, so that two processes batching into two databases in opposite orders cannot
//   wait for each other), when the outermost batch ends, and before any other thread's call on
//   the database. A read-only database serves a batch's reads as outside one.
// A transaction belongs to the thread that began it: the store's mutex serialises calls, and a
// call of another thread ends it before touching the database, so that no call runs inside
// another thread's transaction or sees its uncommitted writes. When a batch's transaction is lost
// (a COMMIT that failed, a failure inside it, or SQLite rolling it back on its own after an
// error), it is rolled back whole and counted against the batch, whose finish() then says so;
// later calls begin a new one.
//
// A batch that commits only when it finishes (WriteBatch::Commit::at_finish: a whole .reg file
// applied or nothing) keeps the write transaction of every database it touches until then, so
// that abandon() can roll all of them back. Such a transaction is not another thread's to end:
// that thread's call waits until it is committed or rolled back. Which databases are held so is
// kept here, beside the store's state, under the store's mutex.
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <vector>

#include "registry/store/store.hpp"

namespace syskit::registry::store {
namespace {

// The write transactions kept for batches that commit when they finish, whichever thread's; a
// call of another thread on one of their databases waits on `released`. Never destroyed, like
// the store: calls may come during exit.
struct Held {
    std::vector<const Database*> databases;
    std::condition_variable_any released;
};

Held& held() {
    static Held* const kept = new Held;
    return *kept;
}

// How many batches of this thread commit only when they finish.
thread_local int at_finish_batches = 0;

bool is_held(const Database& db) {
    const std::vector<const Database*>& kept = held().databases;
    return !kept.empty() && std::find(kept.begin(), kept.end(), &db) != kept.end();
}

void release(const Database& db) {
    std::vector<const Database*>& kept = held().databases;
    const auto it = std::find(kept.begin(), kept.end(), &db);
    if (it == kept.end()) return;
    kept.erase(it);
    held().released.notify_all();
}

// The databases whose write transactions `me` holds for such batches.
std::vector<Database*> held_by(const ThreadState& me) {
    std::vector<Database*> mine;
    for (const Database* db : held().databases) {
        if (db->owner == &me) mine.push_back(const_cast<Database*>(db));
    }
    return mine;
}

void step_or_fail(Database& db, const char* sql, const char* what) {
    sqlite3_stmt* statement = db.connection->raw(sql);
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        const StoreFailure failure = db.connection->failure(what);
        sqlite3_reset(statement);
        throw failure;
    }
    sqlite3_reset(statement);
}

// Marks the transaction ended and what was learnt inside it as not to be trusted.
void ended(Database& db) {
    db.transaction = Transaction::none;
    if (db.owner != nullptr && db.owner->write_database == &db) db.owner->write_database = nullptr;
    db.owner = nullptr;
    db.data_version.reset();
    ++db.generation;
    release(db);
}

// Undoes the open write transaction on purpose (no loss counted): what the connection learnt
// inside it is gone with it.
void roll_back(Database& db) {
    sqlite3_exec(db.connection->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    ended(db);
    ++db.epoch;
    ++db.own_changes;
}

void end_read(Database& db) {
    sqlite3_reset(db.holder);
    db.holder = nullptr;
    ended(db);
}

// The writes of the open write transaction are gone: rolls it back if SQLite has not, forgets
// what may describe them, and counts the loss against the batch that owned it.
void lose_write(Database& db, const std::string& why) {
    if (sqlite3_get_autocommit(db.connection->handle()) == 0) {
        sqlite3_exec(db.connection->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    ThreadState* owner = db.owner;
    ended(db);
    ++db.own_changes;
    ++db.epoch;
    if (owner != nullptr && owner->batch_depth > 0) {
        owner->last_loss = {RegistryStatusCode::io_error, "writes of a batch were lost: " + why,
                            db.path};
        ++owner->losses;
    }
}

// Commits the write transaction; false when its writes were lost instead.
bool commit_write(Database& db) {
    sqlite3_stmt* commit = db.connection->raw("COMMIT");
    const int rc = sqlite3_step(commit);
    if (rc == SQLITE_DONE) {
        sqlite3_reset(commit);
        ended(db);
        return true;
    }
    const std::string why = db.connection->failure("cannot commit").what();
    sqlite3_reset(commit);
    lose_write(db, why);
    return false;
}

void end_transaction(Database& db) {
    if (db.transaction == Transaction::read) end_read(db);
    if (db.transaction == Transaction::write) commit_write(db);
}

void begin_write(Database& db, ThreadState& me) {
    // A transaction held for a batch that commits when it finishes stays open beside this one.
    if (me.write_database != nullptr && me.write_database != &db && !is_held(*me.write_database)) {
        commit_write(*me.write_database);
    }
    if (db.transaction == Transaction::read) end_read(db);
    step_or_fail(db, "BEGIN IMMEDIATE", "cannot begin a write");
    db.transaction = Transaction::write;
    db.owner = &me;
    db.began = std::chrono::steady_clock::now();
    ++db.generation;
}

}  // namespace

void enter(Database& db, ThreadState& me) {
    // The database stays (the store never drops one but after fork), so `db` holds after waiting.
    while (db.transaction == Transaction::write && db.owner != &me && is_held(db)) {
        held().released.wait(the_store().mutex);
    }
    me.call_database = &db;
    if (db.transaction != Transaction::none && db.owner != &me) end_transaction(db);
    if (me.batch_depth > 0 && db.writable && db.transaction != Transaction::write) {
        begin_write(db, me);
        me.write_database = &db;
    }
    if (at_finish_batches > 0 && db.transaction == Transaction::write && db.owner == &me &&
        !is_held(db)) {
        held().databases.push_back(&db);
    }
    // A read-only file of an older layout may have been converted by a process that may write
    // it: the call's reads, in the transaction the header is read in, see which form they read.
    if (db.form == Form::windows_1252) {
        in_transaction(db, me);
        db.form = current_form(*db.connection);
    }
}

void in_transaction(Database& db, ThreadState& me) {
    if (db.transaction == Transaction::none) {
        sqlite3_stmt* holder = db.connection->raw("PRAGMA data_version");
        if (sqlite3_step(holder) != SQLITE_ROW) {
            const StoreFailure failure = db.connection->failure("cannot read");
            sqlite3_reset(holder);
            throw failure;
        }
        db.holder = holder;
        db.transaction = Transaction::read;
        db.owner = &me;
        db.data_version = sqlite3_column_int64(holder, 0);
        ++db.generation;
        if (me.snapshot_depth > 0) {
            if (std::find(me.snapshot_databases.begin(), me.snapshot_databases.end(), &db) ==
                me.snapshot_databases.end()) {
                me.snapshot_databases.push_back(&db);
            }
        }
    }
}

Version read_version(Database& db, ThreadState& me) {
    in_transaction(db, me);
    if (!db.data_version) {
        // A write transaction learns its version on first need.
        auto statement = db.connection->prepare("PRAGMA data_version");
        if (!statement.step()) db.connection->fail("cannot read");
        db.data_version = statement.integer(0);
    }
    return {*db.data_version, db.own_changes};
}

void reading(Database& db, ThreadState& me) {
    if (me.snapshot_depth > 0) in_transaction(db, me);
}

WriteScope::WriteScope(Database& db, ThreadState& me) : db_(db) {
    if (db.transaction == Transaction::write && db.owner == &me) return;  // the batch's
    begin_write(db, me);
    own_ = true;
}

WriteScope::~WriteScope() {
    if (own_ && !done_ && db_.transaction == Transaction::write) roll_back(db_);
}

void WriteScope::commit() {
    ++db_.own_changes;
    if (!own_) return;
    sqlite3_stmt* commit = db_.connection->raw("COMMIT");
    if (sqlite3_step(commit) != SQLITE_DONE) {
        const StoreFailure failure = db_.connection->failure("cannot commit");
        sqlite3_reset(commit);
        throw failure;  // the destructor rolls back
    }
    sqlite3_reset(commit);
    done_ = true;
    ended(db_);
}

void commit_if_due(ThreadState& me) {
    me.call_database = nullptr;
    Database* db = me.write_database;
    if (db != nullptr && !is_held(*db) &&
        std::chrono::steady_clock::now() - db->began >= platform::kBatchCommitInterval) {
        commit_write(*db);
    }
}

void leave(ThreadState& me) {
    Database* db = me.call_database;
    me.call_database = nullptr;
    if (db != nullptr && me.snapshot_depth == 0 && db->transaction == Transaction::read &&
        db->owner == &me) {
        end_read(*db);
    }
}

void abandon_after_failure(ThreadState& me, const std::string& why) {
    Database* db = me.call_database;
    if (db == nullptr || db->owner != &me) return;
    if (db->transaction == Transaction::read) end_read(*db);
    if (db->transaction == Transaction::write) lose_write(*db, why);
}

void end_all_transactions(Store& store) {
    store.for_each_database([](Database& db) { end_transaction(db); });
}

ThreadState& this_thread() {
    thread_local ThreadState state;
    return state;
}

void ThreadState::reset() {
    at_finish_batches = 0;
    snapshot_depth = 0;
    batch_depth = 0;
    batch_marks.clear();
    losses = 0;
    last_loss = {};
    write_database = nullptr;
    call_database = nullptr;
    snapshot_databases.clear();
}

ThreadState::~ThreadState() {
    // Snapshots and batches end with the scopes that made them, so a thread that ends holds no
    // transaction; unless one was left alive on the heap, which must not outlive the thread.
    if (write_database == nullptr && snapshot_databases.empty() && at_finish_batches == 0) return;
    Store& store = the_store();
    const std::lock_guard lock(store.mutex);
    store.for_each_database([this](Database& db) {
        if (db.owner == this) end_transaction(db);
    });
}

}  // namespace syskit::registry::store

namespace syskit::registry::platform {

using store::Database;
using store::Store;
using store::ThreadState;
using store::Transaction;

ReadSnapshot::ReadSnapshot() {
    ++store::this_thread().snapshot_depth;
}

ReadSnapshot::~ReadSnapshot() {
    ThreadState& me = store::this_thread();
    if (me.snapshot_depth == 0 || --me.snapshot_depth > 0) return;  // 0: a child after fork()
    if (me.snapshot_databases.empty()) return;
    Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    for (Database* db : me.snapshot_databases) {
        if (db->transaction == Transaction::read && db->owner == &me) store::end_read(*db);
    }
    me.snapshot_databases.clear();
}

WriteBatch::WriteBatch(Commit commit) : at_finish_(commit == Commit::at_finish) {
    ThreadState& me = store::this_thread();
    me.batch_marks.push_back(me.losses);
    ++me.batch_depth;
    if (at_finish_) ++store::at_finish_batches;
}

WriteBatch::~WriteBatch() {
    // A batch that was to commit when it finished and did not get there applies nothing.
    if (finished_) return;
    if (at_finish_) {
        abandon();
    } else {
        finish(nullptr);
    }
}

bool WriteBatch::finish(Refusal* why) {
    if (finished_) return true;  // nothing left to commit
    finished_ = true;
    ThreadState& me = store::this_thread();
    if (me.batch_depth == 0) return true;  // a child after fork(): the batch was its parent's
    Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    if (at_finish_) --store::at_finish_batches;
    // Committed while the batch still counts as open, so that a failed commit counts against it.
    if (me.batch_depth == 1) {
        for (Database* db : store::held_by(me)) store::commit_write(*db);
        if (me.write_database != nullptr) store::commit_write(*me.write_database);
    }
    --me.batch_depth;
    const std::uint64_t mark = me.batch_marks.back();
    me.batch_marks.pop_back();
    if (me.losses == mark) return true;
    if (why != nullptr) *why = me.last_loss;
    return false;
}

bool WriteBatch::abandon() {
    if (finished_) return true;
    finished_ = true;
    ThreadState& me = store::this_thread();
    if (me.batch_depth == 0) return true;  // a child after fork(): nothing of it is here
    Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    if (at_finish_) --store::at_finish_batches;
    for (Database* db : store::held_by(me)) store::roll_back(*db);
    if (me.write_database != nullptr && me.write_database->transaction == Transaction::write) {
        store::roll_back(*me.write_database);
    }
    --me.batch_depth;
    me.batch_marks.pop_back();
    return true;
}

}  // namespace syskit::registry::platform
