// A thin RAII layer over SQLite for the registry store: a connection that prepares each statement
// once and keeps it, and a statement cursor that binds, steps and reads columns.
//
// Every failure is a StoreFailure carrying a one-line message that names the database file; the
// call surface turns it into ERROR_BADDB or ERROR_REGISTRY_IO_FAILED and keeps the message for
// syskit::registry::last_store_error().
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace syskit::registry::store {

class StoreFailure : public std::runtime_error {
  public:
    StoreFailure(std::int32_t result, const std::string& message, int sqlite_code = 0)
        : std::runtime_error(message), result_(result), sqlite_code_(sqlite_code) {}
    [[nodiscard]] std::int32_t result() const noexcept { return result_; }
    // SQLite's extended result code, or 0 when the failure is not SQLite's.
    [[nodiscard]] int sqlite_code() const noexcept { return sqlite_code_; }

  private:
    std::int32_t result_;
    int sqlite_code_;
};

class Connection;

// A prepared statement in use: reset and cleared of bindings when it goes out of scope, so the
// cached statement is ready for its next use.
class Statement {
  public:
    Statement(Connection& connection, sqlite3_stmt* statement)
        : connection_(connection), statement_(statement) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view bytes);  // as a BLOB

    // Advances to the next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    [[nodiscard]] std::int64_t integer(int column) const;
    [[nodiscard]] bool is_null(int column) const;
    [[nodiscard]] std::string bytes(int column) const;

  private:
    Connection& connection_;
    sqlite3_stmt* statement_;
};

class Connection {
  public:
    // Opens the database file, creating it when writable. An immutable connection reads a file
    // that nothing may change while it is open, without locks or WAL index. Raises StoreFailure.
    Connection(const std::string& path, bool writable, bool immutable = false);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The cached statement for `sql`, prepared on first use. `sql` must be a string literal: its
    // address is the cache key.
    [[nodiscard]] Statement prepare(const char* sql);

    // Runs SQL text without results (schema, pragmas, transaction control).
    void execute(const char* sql);

    // A StoreFailure for the connection's last error, prefixed by `what`.
    [[noreturn]] void fail(std::string_view what) const;

    [[nodiscard]] const std::string& path() const noexcept { return path_; }
    [[nodiscard]] sqlite3* handle() const noexcept { return db_; }

  private:
    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed. IMMEDIATE takes the write lock at
// once, so two writers queue on the busy timeout instead of failing on a lock upgrade.
class WriteTransaction {
  public:
    explicit WriteTransaction(Connection& connection);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit();

  private:
    Connection& connection_;
    bool done_ = false;
};

// One read snapshot for several statements: under WAL every statement outside a transaction
// takes and drops its own read lock, which costs more than the statement itself.
class ReadTransaction {
  public:
    explicit ReadTransaction(Connection& connection);
    ~ReadTransaction() { end(); }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;
    // Ends the snapshot early (before a write transaction on the same connection).
    void end() noexcept;

  private:
    Connection& connection_;
    bool open_ = true;
};

}  // namespace syskit::registry::store
