// The SQLite layer of the registry store: connections, statements, and SQLite's errors turned into
// the store's failures (see database.hpp).
#include "registry/store/database.hpp"

#include <cstring>

#include "registry/platform.hpp"

namespace syskit::registry::store {
namespace {

// How long a call waits for another process's write lock before it gives up.
constexpr int kBusyTimeoutMs = 30000;

}  // namespace

StoreFailure sqlite_failure(const std::string& path, std::string_view what, int sqlite_code,
                            std::string_view reason, int system_error) {
    std::string message = "registry database '" + path + "': " + std::string(what) + ": ";
    message += reason;
    // SQLite's words say what kind of failure; the system's say why ("No space left on device").
    // The system's error is kept from the last failed system call, so it counts only for
    // failures that come from one.
    const int primary = sqlite_code & 0xFF;
    if (system_error != 0 && (primary == SQLITE_IOERR || primary == SQLITE_FULL ||
                              primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY)) {
        message += " (";
        message += std::strerror(system_error);
        message += ')';
    }
    switch (primary) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_SCHEMA:
            return {platform::kBadDatabase, RegistryStatusCode::store_damaged, message, path,
                    sqlite_code};
        case SQLITE_NOMEM:
            return {platform::kNotEnoughMemory, RegistryStatusCode::out_of_memory, message, path,
                    sqlite_code};
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return {platform::kAccessDenied, RegistryStatusCode::access_denied, message, path,
                    sqlite_code};
        default:
            return {platform::kRegistryIoFailed, RegistryStatusCode::io_error, message, path,
                    sqlite_code};
    }
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) connection_.fail("cannot bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view bytes) {
    // A zero-length BLOB, not NULL, for empty names and data.
    const int rc = sqlite3_bind_blob64(statement_, index, bytes.empty() ? "" : bytes.data(),
                                       bytes.size(), SQLITE_STATIC);
    if (rc != SQLITE_OK) connection_.fail("cannot bind");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    connection_.fail("cannot run a statement");
}

void Statement::run() {
    while (step()) {
    }
}

std::string_view Statement::bytes(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return data == nullptr ? std::string_view() : std::string_view(data, std::size_t(size));
}

Connection::Connection(const std::string& path, bool writable, bool immutable) : path_(path) {
    int flags = (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                SQLITE_OPEN_NOMUTEX;
    std::string name = path;
    if (immutable) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        name = "file:";
        for (const char c : path) {
            if (c == '%' || c == '?' || c == '#') {
                name += '%';
                name += kDigits[static_cast<unsigned char>(c) >> 4];
                name += kDigits[static_cast<unsigned char>(c) & 0xF];
            } else {
                name += c;
            }
        }
        name += "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        const int system_error = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw sqlite_failure(path, "cannot open", rc, reason, system_error);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Connection::~Connection() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

sqlite3_stmt* Connection::raw(const char* sql) {
    auto [it, inserted] = statements_.try_emplace(sql, nullptr);
    if (inserted) {
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &it->second, nullptr) !=
            SQLITE_OK) {
            statements_.erase(it);
            fail("cannot prepare a statement");
        }
    }
    return it->second;
}

void Connection::execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail("cannot run a statement");
}

StoreFailure Connection::failure(std::string_view what) const {
    return sqlite_failure(path_, what, sqlite3_extended_errcode(db_), sqlite3_errmsg(db_),
                          sqlite3_system_errno(db_));
}

}  // namespace syskit::registry::store
