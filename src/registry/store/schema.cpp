// Creating, recognising and upgrading registry databases (see schema.hpp).
//
// A new database is laid out in one BEGIN IMMEDIATE transaction that first reads the header
// again, so of two processes that find the same empty file one lays it out and the other finds it
// done. Then the journal becomes WAL: with synchronous = NORMAL, readers never wait for writers,
// and a commit is durable against a killed process without a sync of its own.
#include "registry/store/schema.hpp"

#include <unistd.h>

#include <string>

#include "registry/platform.hpp"

namespace syskit::registry::store {
namespace {

constexpr std::int64_t kApplicationId = 0x53594B52;  // "SYKR": this file is a registry database
constexpr std::int64_t kSchemaVersion = 1;

[[noreturn]] void refuse(const Connection& connection, const std::string& why) {
    throw StoreFailure(platform::kBadDatabase, RegistryStatusCode::store_damaged,
                       "registry database '" + connection.path() + "' " + why, connection.path());
}

// Runs `body` in a write transaction that is rolled back unless `body` returns.
template <typename Body>
void in_write_transaction(Connection& connection, Body&& body) {
    connection.execute("BEGIN IMMEDIATE");
    try {
        body();
        connection.execute("COMMIT");
    } catch (...) {
        sqlite3_exec(connection.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// Switches a new database to WAL. That needs the file to itself for a moment, and SQLite does
// not wait for it on the busy timeout: another process reading the new file's header meanwhile
// makes it fail at once, so it is tried again for as long as a lock would be waited for.
void use_wal(Connection& connection) {
    for (int attempt = 0;; ++attempt) {
        const int rc = sqlite3_exec(connection.handle(), "PRAGMA journal_mode = WAL", nullptr,
                                    nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        if ((rc & 0xFF) != SQLITE_BUSY || attempt == 30000) connection.fail("cannot use WAL");
        usleep(1000);
    }
}

}  // namespace

Header read_header(Connection& connection) {
    // One statement, so that the three agree even while another process lays out the file.
    auto statement = connection.prepare(
        "SELECT (SELECT application_id FROM pragma_application_id()),"
        " (SELECT user_version FROM pragma_user_version()), (SELECT count(*) FROM sqlite_master)");
    if (!statement.step()) connection.fail("cannot read the file's header");
    return {statement.integer(0), statement.integer(1), statement.integer(2)};
}

void adopt(Connection& connection, const Header& header, bool writable) {
    const std::string version_mark = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    const auto check_registry = [&](const Header& h) {
        if (h.version > kSchemaVersion) {
            refuse(connection, "was made by a newer version of syskit (layout " +
                                   std::to_string(h.version) + "; this one knows up to " +
                                   std::to_string(kSchemaVersion) + ")");
        }
    };
    if (header.application_id == kApplicationId) {
        check_registry(header);
        if (!writable) return;
        connection.execute("PRAGMA synchronous = NORMAL");
        // Version 0 is this layout; only the mark is missing.
        if (header.version < kSchemaVersion) {
            in_write_transaction(connection, [&] { connection.execute(version_mark.c_str()); });
        }
        return;
    }
    if (header.application_id != 0 || header.tables != 0) {
        refuse(connection, "is not a registry database");
    }
    if (!writable) refuse(connection, "is empty and read-only");
    connection.execute("PRAGMA synchronous = NORMAL");
    in_write_transaction(connection, [&] {
        // Another process may have laid the file out since its header was read.
        const Header now = read_header(connection);
        if (now.application_id == kApplicationId) return check_registry(now);
        if (now.application_id != 0 || now.tables != 0) {
            refuse(connection, "is not a registry database");
        }
        const std::string layout =
            "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " parent INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
            " UNIQUE(parent, fold));"
            "CREATE TABLE vals(key INTEGER NOT NULL, fold BLOB NOT NULL,"
            " name BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
            " seq INTEGER NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
            "CREATE INDEX vals_order ON vals(key, seq);"
            "INSERT INTO keys(id, parent, name, fold) VALUES(1, 0, x'', x'');"
            "PRAGMA application_id = " +
            std::to_string(kApplicationId) + ";" + version_mark;
        connection.execute(layout.c_str());
    });
    use_wal(connection);
}

}  // namespace syskit::registry::store
