// A thin RAII layer over SQLite for the registry store: a connection that prepares each statement
// once and keeps it, a statement cursor that binds, steps and reads columns, and the failure every
// SQLite error becomes.
//
// Every failure is a StoreFailure that already says everything the caller's Refusal needs: the
// result code the call answers, the Refusal's code, a one-line message naming the database file
// with SQLite's and the system's reason, and the file. The calls only copy it out.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "syskit/registry.hpp"

namespace syskit::registry::store {

class StoreFailure : public std::runtime_error {
  public:
    StoreFailure(std::int32_t result, RegistryStatusCode code, const std::string& message,
                 std::string file, int sqlite_code = 0)
        : std::runtime_error(message),
          result_(result),
          code_(code),
          file_(std::move(file)),
          sqlite_code_(sqlite_code) {}
    // The call's result code (a Windows error number).
    [[nodiscard]] std::int32_t result() const noexcept { return result_; }
    [[nodiscard]] RegistryStatusCode code() const noexcept { return code_; }
    [[nodiscard]] const std::string& file() const noexcept { return file_; }
    // SQLite's extended result code, or 0 when the failure is not SQLite's.
    [[nodiscard]] int sqlite_code() const noexcept { return sqlite_code_; }

  private:
    std::int32_t result_;
    RegistryStatusCode code_;
    std::string file_;
    int sqlite_code_;
};

// The failure for SQLite's result `sqlite_code` on the database `path`: `what` failed, for
// SQLite's `reason`, and, when the system gave one (errno), for the system's.
[[nodiscard]] StoreFailure sqlite_failure(const std::string& path, std::string_view what,
                                          int sqlite_code, std::string_view reason,
                                          int system_error);

class Connection;

// A prepared statement in use: reset when it goes out of scope, so the cached statement is ready
// for its next use and holds no read lock. Bound BLOBs are not copied: they must live until the
// statement is stepped for the last time, which every use in the store keeps to.
class Statement {
  public:
    Statement(Connection& connection, sqlite3_stmt* statement)
        : connection_(connection), statement_(statement) {}
    ~Statement() { sqlite3_reset(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view bytes);        // as a BLOB
    Statement& bind(int index, std::string&& bytes) = delete;  // would not live long enough

    // Advances to the next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    [[nodiscard]] std::int64_t integer(int column) const {
        return sqlite3_column_int64(statement_, column);
    }
    [[nodiscard]] bool is_null(int column) const {
        return sqlite3_column_type(statement_, column) == SQLITE_NULL;
    }
    // A BLOB column of the current row, valid until the next step.
    [[nodiscard]] std::string_view bytes(int column) const;

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
    [[nodiscard]] Statement prepare(const char* sql) { return Statement(*this, raw(sql)); }
    // The same statement without the cursor that resets it, for a caller that keeps it stepped.
    [[nodiscard]] sqlite3_stmt* raw(const char* sql);

    // Runs SQL text without results (schema, pragmas, transaction control).
    void execute(const char* sql);

    // The StoreFailure for the connection's last error: `what` failed. Made before the failed
    // statement is reset, which may replace the error.
    [[nodiscard]] StoreFailure failure(std::string_view what) const;
    [[noreturn]] void fail(std::string_view what) const { throw failure(what); }

    [[nodiscard]] const std::string& path() const noexcept { return path_; }
    [[nodiscard]] sqlite3* handle() const noexcept { return db_; }

  private:
    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace syskit::registry::store
