// Creating, recognising and upgrading registry databases (see schema.hpp).
//
// A new database is laid out in one BEGIN IMMEDIATE transaction that first reads the header
// again, so of two processes that find the same empty file one lays it out and the other finds it
// done. Then the journal becomes WAL: with synchronous = NORMAL, readers never wait for writers,
// and a commit is durable against a killed process without a sync of its own.
//
// A file of layout 0 or 1 is converted the same way, in one BEGIN IMMEDIATE transaction that reads
// the version again first, so that of several processes opening it one converts it and none
// converts it twice. Only rows with a byte above 0x7F in a name or a text change: an ASCII name's
// fold is the same under both rules.
#include "registry/store/schema.hpp"

#include <unistd.h>

#include <string>
#include <vector>

#include "registry/platform.hpp"

namespace syskit::registry::store {
namespace {

constexpr std::int64_t kApplicationId = 0x53594B52;  // "SYKR": this file is a registry database
constexpr std::int64_t kSchemaVersion = 2;
constexpr std::int64_t kFirstUnicodeVersion = 2;  // before: Windows-1252 bytes

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

bool is_text_type(std::int64_t type) {
    return type == platform::kString || type == platform::kExpandString ||
           type == platform::kMultiString;
}

// Rewrites the names, folds and text data of a file of layout 0 or 1 as layout 2 has them, inside
// the caller's write transaction. The changes are gathered first: rows updated under a running
// SELECT of their own table could be met again.
void convert_from_windows_1252(Connection& connection) {
    const CodePageScope windows_1252(1252);
    struct Change {
        std::int64_t key;
        std::string old_fold, name, fold, data;
    };
    std::vector<Change> changes;
    std::string scratch;
    const auto change = [&](std::int64_t key, std::string_view old_fold, std::string_view name,
                            std::string_view data) {
        Change made;
        made.key = key;
        made.old_fold = old_fold;
        made.name = stored_form(name, scratch);
        made.data = stored_form(data, scratch);
        append_fold(name, Form::unicode, made.fold);
        changes.push_back(std::move(made));
    };
    {
        auto keys = connection.prepare("SELECT id, name FROM keys WHERE id <> 1");
        while (keys.step()) {
            if (!text::is_ascii(keys.bytes(1))) change(keys.integer(0), {}, keys.bytes(1), {});
        }
    }
    for (const Change& c : changes) {
        connection.prepare("UPDATE keys SET name = ?, fold = ? WHERE id = ?")
            .bind(1, c.name)
            .bind(2, c.fold)
            .bind(3, c.key)
            .run();
    }
    changes.clear();
    {
        auto values = connection.prepare("SELECT key, fold, name, type, data FROM vals");
        while (values.step()) {
            const std::string_view data = is_text_type(values.integer(3)) ? values.bytes(4) : "";
            if (text::is_ascii(values.bytes(2)) && text::is_ascii(data)) continue;
            change(values.integer(0), values.bytes(1), values.bytes(2), data);
            // Data of other types stays as it is.
            if (!is_text_type(values.integer(3))) changes.back().data.assign(values.bytes(4));
        }
    }
    for (const Change& c : changes) {
        connection
            .prepare("UPDATE vals SET fold = ?3, name = ?4, data = ?5 WHERE key = ?1 AND fold = ?2")
            .bind(1, c.key)
            .bind(2, c.old_fold)
            .bind(3, c.fold)
            .bind(4, c.name)
            .bind(5, c.data)
            .run();
    }
}

Form form_of(std::int64_t version) {
    return version < kFirstUnicodeVersion ? Form::windows_1252 : Form::unicode;
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

Form current_form(Connection& connection) {
    auto statement = connection.prepare("PRAGMA user_version");
    if (!statement.step()) connection.fail("cannot read the file's header");
    return form_of(statement.integer(0));
}

Form adopt(Connection& connection, const Header& header, bool writable) {
    const std::string version_mark = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    const auto check_registry = [&](const Header& h) {
        if (h.version > kSchemaVersion) {
            refuse(connection, "was made by a newer version of syskit (layout " +
                                   std::to_string(h.version) + "; this one knows up to " +
                                   std::to_string(kSchemaVersion) + ")");
        }
    };
    // Inside the write transaction, with the header as read there.
    const auto bring_up_to_date = [&](const Header& now) {
        check_registry(now);
        if (now.version >= kSchemaVersion) return;
        convert_from_windows_1252(connection);
        connection.execute(version_mark.c_str());
    };
    if (header.application_id == kApplicationId) {
        check_registry(header);
        if (!writable) return form_of(header.version);
        connection.execute("PRAGMA synchronous = NORMAL");
        if (header.version < kSchemaVersion) {
            // Another process may have converted the file since its header was read.
            in_write_transaction(connection, [&] { bring_up_to_date(read_header(connection)); });
        }
        return Form::unicode;
    }
    if (header.application_id != 0 || header.tables != 0) {
        refuse(connection, "is not a registry database");
    }
    if (!writable) refuse(connection, "is empty and read-only");
    connection.execute("PRAGMA synchronous = NORMAL");
    in_write_transaction(connection, [&] {
        // Another process, of this version or an older one, may have laid the file out since its
        // header was read.
        const Header now = read_header(connection);
        if (now.application_id == kApplicationId) return bring_up_to_date(now);
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
    return Form::unicode;
}

}  // namespace syskit::registry::store
