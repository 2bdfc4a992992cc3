#include "registry/store/database.hpp"

#include "registry/platform.hpp"

namespace syskit::registry::store {
namespace {

// How long a call waits for another process's write lock before it gives up.
constexpr int kBusyTimeoutMs = 30000;

std::int32_t result_for(int sqlite_code) {
    switch (sqlite_code & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_SCHEMA:
            return platform::kBadDatabase;
        default:
            return platform::kRegistryIoFailed;
    }
}

}  // namespace

Statement::~Statement() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) connection_.fail("cannot bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view bytes) {
    // A zero-length BLOB, not NULL, for empty names and data.
    const int rc = sqlite3_bind_blob64(statement_, index, bytes.empty() ? "" : bytes.data(),
                                       bytes.size(), SQLITE_TRANSIENT);
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

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

bool Statement::is_null(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::string Statement::bytes(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return data == nullptr ? std::string() : std::string(data, static_cast<std::size_t>(size));
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
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw StoreFailure(result_for(rc), "registry database '" + path + "': " + message, rc);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Connection::~Connection() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

Statement Connection::prepare(const char* sql) {
    auto [it, inserted] = statements_.try_emplace(sql, nullptr);
    if (inserted) {
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &it->second, nullptr) !=
            SQLITE_OK) {
            statements_.erase(it);
            fail("cannot prepare a statement");
        }
    }
    return Statement(*this, it->second);
}

void Connection::execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail("cannot run a statement");
}

void Connection::fail(std::string_view what) const {
    const int code = sqlite3_extended_errcode(db_);
    throw StoreFailure(
        result_for(code),
        "registry database '" + path_ + "': " + std::string(what) + ": " + sqlite3_errmsg(db_),
        code);
}

WriteTransaction::WriteTransaction(Connection& connection) : connection_(connection) {
    connection_.execute("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
    if (!done_) sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::commit() {
    connection_.execute("COMMIT");
    done_ = true;
}

ReadTransaction::ReadTransaction(Connection& connection) : connection_(connection) {
    connection_.prepare("BEGIN").run();
}

void ReadTransaction::end() noexcept {
    if (!open_) return;
    open_ = false;
    try {
        connection_.prepare("COMMIT").run();
    } catch (const StoreFailure&) {
        sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

}  // namespace syskit::registry::store
