// The registry calls over the embedded store: advapi32's answers from SQLite databases.
//
// Every call takes the store's lock, finds the key of its handle, and works inside the
// transaction the store gives it (transactions.cpp). Results are the platform's; when the store
// refuses for a reason of its own (a database it cannot read or write, a damaged file, an I/O
// failure, a name beyond the limits, memory) the caller's Refusal says so, naming the database.
//
// Names and text data cross the calls in the calling thread's code page and are kept as UTF-8
// (names.hpp): converted on the way in and on the way out, so that every size a call reports is
// that of the bytes its caller gets. ASCII, most of what crosses, is the same bytes either way.
//
// What the calls learn is kept for the next ones while the database's version says it still
// holds: the key id a path resolved to (only a deleted key can change it), the last key seen to
// exist, and each handle's listing of subkeys or values, built once in name (or creation) order
// in the caller's code page and rebuilt only after a change or for another page, so that listing
// n items costs O(n log n) in all.
#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "registry/platform.hpp"
#include "registry/store/names.hpp"
#include "registry/store/store.hpp"

namespace syskit::registry::platform {
namespace {

using store::Database;
using store::kRootKey;
using store::Listing;
using store::OpenKey;
using store::Store;
using store::StoreFailure;
using store::ThreadState;
using store::Version;
using store::WriteScope;

constexpr Access kWriteRights = kSetValue | kCreateSubKey | kCreateLink | kDelete | 0x00040000 |
                                0x00080000;  // WRITE_DAC, WRITE_OWNER

bool is_text_type(Dword type) {
    return type == kString || type == kExpandString || type == kMultiString;
}

// Text stored without a terminator comes back with one, as the platform's ANSI calls return it.
bool needs_terminator(Dword type, std::string_view data) {
    return is_text_type(type) && !data.empty() && data.back() != '\0';
}

// --- Refusals ----------------------------------------------------------------------------------

Result refuse(Refusal* why, Result result, RegistryStatusCode code, std::string message,
              const std::string& file) {
    if (why != nullptr) {
        why->code = code;
        why->message = std::move(message);
        why->file = file;
    }
    return result;
}

Result read_only(Refusal* why, const Database& db) {
    return refuse(why, kAccessDenied, RegistryStatusCode::access_denied,
                  "registry database '" + db.path + "' is read-only: " + db.read_only_reason,
                  db.path);
}

Result name_too_long(Refusal* why, const std::string& file, const char* what, std::size_t length,
                     std::size_t limit) {
    std::string message = std::string("a ") + what + " of " + std::to_string(length) +
                          " characters is longer than the registry allows (" +
                          std::to_string(limit) + ")";
    if (!file.empty()) message += " in registry database '" + file + "'";
    return refuse(why, kInvalidParameter, RegistryStatusCode::name_too_long, std::move(message),
                  file);
}

// Runs a call under the store's lock; failures of the store itself become result codes and the
// caller's Refusal.
template <typename Body>
Result guarded(Refusal* why, Body&& body) {
    Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    ThreadState& me = store::this_thread();
    if (why != nullptr) *why = {};
    try {
        store.forget_after_fork();
        store::commit_if_due(me);
        const Result result = body(store, me);
        store::leave(me);
        return result;
    } catch (const StoreFailure& failure) {
        store::abandon_after_failure(me, failure.what());
        store::leave(me);
        return refuse(why, failure.result(), failure.code(), failure.what(), failure.file());
    } catch (const std::bad_alloc&) {
        const std::string file = me.call_database != nullptr ? me.call_database->path : "";
        store::abandon_after_failure(me, "out of memory");
        store::leave(me);
        return refuse(why, kNotEnoughMemory, RegistryStatusCode::out_of_memory,
                      file.empty() ? "out of memory"
                                   : "out of memory working on registry database '" + file + "'",
                      file);
    }
}

// --- Keys --------------------------------------------------------------------------------------

// Whether a key is known to exist in the open transaction: the last key seen to, or the root.
bool known_alive(const Database& db, std::int64_t id) {
    return id == kRootKey || (db.transaction != store::Transaction::none && db.alive_key == id &&
                              db.alive_generation == db.generation && db.alive_epoch == db.epoch);
}

// Records that a key exists, seen inside the open transaction.
void seen_alive(Database& db, std::int64_t id) {
    if (db.transaction == store::Transaction::none) return;
    db.alive_key = id;
    db.alive_generation = db.generation;
    db.alive_epoch = db.epoch;
}

// Whether a key exists, looked up once per transaction for the key last asked about.
bool key_alive(Database& db, ThreadState& me, std::int64_t id) {
    if (id == kRootKey) return true;
    store::in_transaction(db, me);
    if (known_alive(db, id)) return true;
    auto statement = db.connection->prepare("SELECT 1 FROM keys WHERE id = ?");
    if (!statement.bind(1, id).step()) return false;
    seen_alive(db, id);
    return true;
}

Result usable(Database& db, ThreadState& me, const OpenKey& key) {
    return key_alive(db, me, key.id) ? kSuccess : kKeyDeleted;
}

// The answer for a handle that lacks what a call needs: a deleted key says so first.
Result refused(Database& db, ThreadState& me, const OpenKey& key) {
    const Result r = usable(db, me, key);
    return r == kSuccess ? kAccessDenied : r;
}

Result refused_read_only(Refusal* why, Database& db, ThreadState& me, const OpenKey& key) {
    const Result r = usable(db, me, key);
    return r == kSuccess ? read_only(why, db) : r;
}

std::optional<std::int64_t> child(Store& store, Database& db, std::int64_t parent,
                                  std::string_view name) {
    store.value_fold.clear();
    if (!store::append_fold(name, db.form, store.value_fold)) return std::nullopt;
    auto statement = db.connection->prepare("SELECT id FROM keys WHERE parent = ? AND fold = ?");
    statement.bind(1, parent).bind(2, store.value_fold);
    if (!statement.step()) return std::nullopt;
    return statement.integer(0);
}

// The key of the resolved-path cache for `names` below `start`: the start id, then each folded
// name and a separator that no fold of a name contains (a name has no backslash). False for a
// path no key of the database can have.
bool make_path_key(std::string& key, const Database& db, std::int64_t start,
                   const std::vector<std::string_view>& names) {
    key.assign(reinterpret_cast<const char*>(&start), sizeof start);
    for (const std::string_view name : names) {
        if (!store::append_fold(name, db.form, key)) return false;
        key.append("\0\\", 2);
    }
    return true;
}

std::optional<std::int64_t> resolved(Database& db, const Version& version, std::string_view key) {
    if (db.resolved_data_version != version.data_version || db.resolved_epoch != db.epoch) {
        db.resolved.clear();
        db.resolved_data_version = version.data_version;
        db.resolved_epoch = db.epoch;
    }
    const auto it = db.resolved.find(key);
    if (it == db.resolved.end()) return std::nullopt;
    return it->second;
}

void remember(Database& db, const std::string& key, std::int64_t id) {
    if (db.resolved.size() >= Database::kMaxResolved) db.resolved.clear();
    db.resolved.emplace(key, id);
}

// A creation-order number above every value's of the key, inside the open write transaction.
std::int64_t next_sequence(Database& db, std::int64_t key) {
    if (db.sequence_key != key || db.sequence_generation != db.generation) {
        auto last =
            db.connection->prepare("SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?");
        if (!last.bind(1, key).step()) db.connection->fail("cannot read");
        db.sequence_key = key;
        db.next_sequence = last.integer(0);
        db.sequence_generation = db.generation;
    }
    return db.next_sequence++;
}

// Opens or creates `subkey` below `handle` with the given access (kMaximumAllowed: all the
// database allows) and stores a new handle in `result`.
Result open_key(Handle handle, const char* subkey, Access access, bool create, Handle* result,
                Refusal* why) {
    if (result == nullptr) return kInvalidParameter;
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* parent = store.find(handle);
        if (parent == nullptr) return kInvalidHandle;
        Database& db = *parent->database;
        store::enter(db, me);
        std::vector<std::string_view>& names = store.names;
        std::size_t too_long = 0;
        const Result parsed = store::split_path(subkey, names, too_long);
        const Version version = store::read_version(db, me);

        // A path resolved since a key was last deleted needs no lookups: its keys, the starting
        // key included, existed then and still do.
        std::int64_t id = parent->id;
        std::size_t depth = 0;
        const bool cacheable = parsed == kSuccess && !names.empty() &&
                               make_path_key(store.path_key, db, parent->id, names);
        if (cacheable) {
            if (const auto found = resolved(db, version, store.path_key)) {
                id = *found;
                depth = names.size();
            }
        }
        const bool was_resolved = depth == names.size() && !names.empty();
        if (!was_resolved) {
            if (const Result r = usable(db, me, *parent); r != kSuccess) return r;
        }
        if (parsed == kInvalidParameter) {
            return name_too_long(why, db.path, "key name", too_long, kMaxKeyNameLength);
        }
        if (parsed != kSuccess) return parsed;
        const Access rights = db.writable ? kKeyAllAccess : kKeyRead;
        if (access == kMaximumAllowed) access = rights;
        if ((access & kWriteRights) != 0 && !db.writable) return read_only(why, db);

        for (; depth < names.size(); ++depth) {
            const auto next = child(store, db, id, names[depth]);
            if (!next) break;
            id = *next;
        }
        if (depth < names.size()) {
            if (!create) return kFileNotFound;
            if (!db.writable) return read_only(why, db);
            WriteScope write(db, me);
            if (write.fresh()) {
                // Another process may have created or deleted keys on the path since it was
                // read: walk it again under the write lock and insert only what is missing.
                if (!key_alive(db, me, parent->id)) return kKeyDeleted;
                id = parent->id;
                for (depth = 0; depth < names.size(); ++depth) {
                    const auto next = child(store, db, id, names[depth]);
                    if (!next) break;
                    id = *next;
                }
            }
            for (; depth < names.size(); ++depth) {
                store.value_fold.clear();
                store::append_fold(names[depth], db.form, store.value_fold);
                auto insert =
                    db.connection->prepare("INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
                insert.bind(1, id)
                    .bind(2, store::stored_form(names[depth], store.stored_name))
                    .bind(3, store.value_fold)
                    .run();
                id = sqlite3_last_insert_rowid(db.connection->handle());
            }
            write.commit();
        }
        if (cacheable && !was_resolved) remember(db, store.path_key, id);
        seen_alive(db, id);
        OpenKey opened;
        opened.database = parent->database;
        opened.id = id;
        opened.access = access;
        *result = store.add(std::move(opened));
        return kSuccess;
    });
}

// Checks a handle for an enumeration and rebuilds its listing with `fill` when the database
// changed since it was built, or it was built for another code page. A listing built since the
// database last changed is still exact, and proves the key is still there.
template <typename Fill>
Result refresh_listing(Database& db, ThreadState& me, OpenKey& open, Access needed,
                       Listing& listing, Fill&& fill) {
    if ((open.access & needed) == 0) return refused(db, me, open);
    const Version version = store::read_version(db, me);
    const int page = text::code_page();
    if (listing.built == version && listing.page == page) return kSuccess;
    if (const Result r = usable(db, me, open); r != kSuccess) return r;
    listing.built.reset();
    listing.bytes.clear();
    listing.items.clear();
    fill(listing);
    listing.built = version;
    listing.page = page;
    return kSuccess;
}

// The answer for a value: its type, its data (with a terminator added when `terminate`) in the
// caller's buffer, the size it needs.
Result answer_value(Dword value_type, std::string_view stored, bool terminate, Dword* type,
                    std::uint8_t* data, Dword* data_size) {
    const auto required = static_cast<Dword>(stored.size() + (terminate ? 1 : 0));
    if (type != nullptr) *type = value_type;
    if (data != nullptr) {
        if (required > *data_size) {
            *data_size = required;
            return kMoreData;
        }
        if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
        if (terminate) data[stored.size()] = 0;
    }
    if (data_size != nullptr) *data_size = required;
    return kSuccess;
}

// The value a query asks for (its folded name in store.value_fold) when it is the one last
// enumerated on its key, inside the transaction the listing was made in or a later one that
// found the database unchanged: then the listing holds exactly what the database does, and
// proves the key exists. Enumerations that read each value by name cost no lookup that way.
struct ListedValue {
    std::shared_ptr<const Listing> listing;
    const Listing::Item* item = nullptr;
};

ListedValue listed_value(Store& store, Database& db, ThreadState& me, const OpenKey& open) {
    if (db.transaction == store::Transaction::none || db.listed_key != open.id) return {};
    std::shared_ptr<const Listing> listing = db.listed_values.lock();
    if (!listing || db.listed_index >= listing->items.size() ||
        listing->built != store::read_version(db, me) || listing->page != text::code_page()) {
        return {};
    }
    // A name with a character the page lacks came out with '?' for it: those bytes name another
    // value.
    const Listing::Item& item = listing->items[db.listed_index];
    if (!item.exact) return {};
    store.listed_fold.clear();
    store::append_fold(listing->name(item), db.form, store.listed_fold);
    if (store.listed_fold != store.value_fold) return {};
    return {std::move(listing), &item};
}

}  // namespace

// --- The calls --------------------------------------------------------------------------------

Result RegOpenKeyA(Handle key, const char* subkey, Handle* result, Refusal* why) {
    if (subkey == nullptr || *subkey == '\0') {
        if (result == nullptr) return kInvalidParameter;
        *result = key;  // the same handle, as the platform gives it back
        return kSuccess;
    }
    return open_key(key, subkey, kMaximumAllowed, false, result, why);
}

Result RegOpenKeyExA(Handle key, const char* subkey, Dword, Access access, Handle* result,
                     Refusal* why) {
    return open_key(key, subkey, access, false, result, why);
}

Result RegCreateKeyA(Handle key, const char* subkey, Handle* result, Refusal* why) {
    return open_key(key, subkey, kMaximumAllowed, true, result, why);
}

Result RegDeleteKeyA(Handle key, const char* subkey, Refusal* why) {
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* parent = store.find(key);
        if (parent == nullptr) return kInvalidHandle;
        Database& db = *parent->database;
        store::enter(db, me);
        if (const Result r = usable(db, me, *parent); r != kSuccess) return r;
        std::vector<std::string_view>& names = store.names;
        std::size_t too_long = 0;
        if (const Result r = store::split_path(subkey, names, too_long); r != kSuccess) {
            return r == kInvalidParameter
                       ? name_too_long(why, db.path, "key name", too_long, kMaxKeyNameLength)
                       : r;
        }
        std::int64_t id = parent->id;
        for (const std::string_view name : names) {
            const auto next = child(store, db, id, name);
            if (!next) return kFileNotFound;
            id = *next;
        }
        if (id == kRootKey) return kAccessDenied;
        if (!db.writable) return read_only(why, db);
        if (names.empty() && (parent->access & kDelete) == 0) return kAccessDenied;
        WriteScope write(db, me);
        if (write.fresh() && !key_alive(db, me, id)) {
            return names.empty() ? kKeyDeleted : kFileNotFound;
        }
        auto children = db.connection->prepare("SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
        if (children.bind(1, id).step()) return kAccessDenied;
        db.connection->prepare("DELETE FROM vals WHERE key = ?").bind(1, id).run();
        db.connection->prepare("DELETE FROM keys WHERE id = ?").bind(1, id).run();
        ++db.epoch;  // paths that led to it resolve no more
        write.commit();
        return kSuccess;
    });
}

Result RegEnumKeyExA(Handle key, Dword index, char* name, Dword* name_size, Dword*, char*, Dword*,
                     void*, Refusal* why) {
    if (name == nullptr || name_size == nullptr) return kInvalidParameter;
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* open = store.find(key);
        if (open == nullptr) return kInvalidHandle;
        Database& db = *open->database;
        store::enter(db, me);
        const Result r =
            refresh_listing(db, me, *open, kEnumerateSubKeys, open->subkeys, [&](Listing& listing) {
                auto list = db.connection->prepare(
                    "SELECT name FROM keys WHERE parent = ? "
                    "ORDER BY fold");
                list.bind(1, open->id);
                while (list.step()) {
                    Listing::Item item;
                    const std::string_view found =
                        store::caller_form(list.bytes(0), db.form, store.converted);
                    item.name = listing.bytes.size();
                    item.name_size = found.size();
                    listing.bytes += found;
                    listing.items.push_back(item);
                }
            });
        if (r != kSuccess) return r;
        if (index >= open->subkeys.items.size()) return kNoMoreItems;
        const std::string_view found = open->subkeys.name(open->subkeys.items[index]);
        // A name that does not fit leaves buffer and size alone.
        if (found.size() + 1 > *name_size) return kMoreData;
        std::memcpy(name, found.data(), found.size());
        name[found.size()] = '\0';
        *name_size = static_cast<Dword>(found.size());
        return kSuccess;
    });
}

Result RegEnumValueA(Handle key, Dword index, char* name, Dword* name_size, Dword*, Dword* type,
                     std::uint8_t* data, Dword* data_size, Refusal* why) {
    if (name == nullptr || name_size == nullptr || (data != nullptr && data_size == nullptr)) {
        return kInvalidParameter;
    }
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* open = store.find(key);
        if (open == nullptr) return kInvalidHandle;
        Database& db = *open->database;
        store::enter(db, me);
        if (!open->values) open->values = std::make_shared<Listing>();
        Listing& values = *open->values;
        const Result r = refresh_listing(db, me, *open, kQueryValue, values, [&](Listing& listing) {
            // The key's rows in the order of the table (by name), then put in creation order:
            // one pass over the table's pages instead of a lookup per row in the order of `seq`.
            auto list = db.connection->prepare(
                "SELECT name, type, data, seq FROM vals NOT INDEXED WHERE key = ?");
            list.bind(1, open->id);
            while (list.step()) {
                Listing::Item item;
                const std::string_view found =
                    store::caller_form(list.bytes(0), db.form, store.converted, &item.exact);
                item.name = listing.bytes.size();
                item.name_size = found.size();
                listing.bytes += found;
                item.type = static_cast<Dword>(list.integer(1));
                const std::string_view stored =
                    is_text_type(item.type)
                        ? store::caller_form(list.bytes(2), db.form, store.converted)
                        : list.bytes(2);
                item.data = listing.bytes.size();
                listing.bytes += stored;
                if (needs_terminator(item.type, stored)) listing.bytes += '\0';
                item.data_size = listing.bytes.size() - item.data;
                item.seq = list.integer(3);
                listing.items.push_back(item);
            }
            std::sort(listing.items.begin(), listing.items.end(),
                      [](const Listing::Item& a, const Listing::Item& b) { return a.seq < b.seq; });
        });
        if (r != kSuccess) return r;
        if (index >= values.items.size()) return kNoMoreItems;
        db.listed_values = open->values;
        db.listed_key = open->id;
        db.listed_index = index;
        const Listing::Item& item = values.items[index];
        const auto required = static_cast<Dword>(item.data_size);
        if (data != nullptr && required > *data_size) {
            // The data does not fit: only its size and type are reported.
            *data_size = required;
            if (type != nullptr) *type = item.type;
            return kMoreData;
        }
        if (type != nullptr) *type = item.type;
        if (data != nullptr && required != 0) {
            std::memcpy(data, values.bytes.data() + item.data, required);
        }
        if (data_size != nullptr) *data_size = required;
        const std::string_view found = values.name(item);
        if (found.size() + 1 > *name_size) {
            // The name does not fit: the buffer gets as much of it as fits before a terminator,
            // and the size stays.
            if (*name_size > 0) {
                std::memcpy(name, found.data(), *name_size - 1);
                name[*name_size - 1] = '\0';
            }
            return kMoreData;
        }
        std::memcpy(name, found.data(), found.size());
        name[found.size()] = '\0';
        *name_size = static_cast<Dword>(found.size());
        return kSuccess;
    });
}

Result RegQueryValueExA(Handle key, const char* name, Dword*, Dword* type, std::uint8_t* data,
                        Dword* data_size, Refusal* why) {
    if (data != nullptr && data_size == nullptr) return kInvalidParameter;
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* open = store.find(key);
        if (open == nullptr) return kInvalidHandle;
        Database& db = *open->database;
        store::enter(db, me);
        if ((open->access & kQueryValue) == 0) return refused(db, me, *open);
        store::reading(db, me);
        store.value_fold.clear();
        if (!store::append_fold(name != nullptr ? name : "", db.form, store.value_fold)) {
            return usable(db, me, *open) == kSuccess ? kFileNotFound : kKeyDeleted;
        }
        if (const ListedValue listed = listed_value(store, db, me, *open); listed.item) {
            return answer_value(listed.item->type, listed.listing->data(*listed.item), false, type,
                                data, data_size);
        }
        // A key known to exist needs only the value's row; otherwise no row says the key is
        // gone, and a row without a type that the key has no such value.
        const bool alive = known_alive(db, open->id);
        auto lookup = db.connection->prepare(
            alive ? "SELECT type, data FROM vals WHERE key = ?2 AND fold = ?1"
                  : "SELECT v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id AND"
                    " v.fold = ?1 WHERE k.id = ?2");
        lookup.bind(1, store.value_fold).bind(2, open->id);
        if (!lookup.step()) return alive ? kFileNotFound : kKeyDeleted;
        if (lookup.is_null(0)) return kFileNotFound;
        const auto value_type = static_cast<Dword>(lookup.integer(0));
        const std::string_view stored =
            is_text_type(value_type) ? store::caller_form(lookup.bytes(1), db.form, store.converted)
                                     : lookup.bytes(1);
        return answer_value(value_type, stored, needs_terminator(value_type, stored), type, data,
                            data_size);
    });
}

// Runs a call that changes the values of the key open as `key`: the handle must be known, its
// database writable and its access include KEY_SET_VALUE, and the key still there; `body` then
// runs in the call's write transaction.
template <typename Body>
Result changing_values(Handle key, Refusal* why, Body&& body) {
    return guarded(why, [&](Store& store, ThreadState& me) -> Result {
        OpenKey* open = store.find(key);
        if (open == nullptr) return kInvalidHandle;
        Database& db = *open->database;
        store::enter(db, me);
        // A handle to a read-only database lacks the right because the database is read-only.
        if (!db.writable) return refused_read_only(why, db, me, *open);
        if ((open->access & kSetValue) == 0) return refused(db, me, *open);
        WriteScope write(db, me);
        if (!key_alive(db, me, open->id)) return kKeyDeleted;
        return body(store, db, open, write);
    });
}

Result RegSetValueExA(Handle key, const char* name, Dword, Dword type, const std::uint8_t* data,
                      Dword data_size, Refusal* why) {
    const std::string_view value_name = name != nullptr ? name : "";
    if (value_name.size() > kMaxValueNameLength) {
        return guarded(why, [&](Store& store, ThreadState&) {
            return name_too_long(why, store.file_of(key), "value name", value_name.size(),
                                 kMaxValueNameLength);
        });
    }
    if (data == nullptr && data_size != 0) return kInvalidParameter;
    return changing_values(
        key, why, [&](Store& store, Database& db, OpenKey* open, WriteScope& write) {
            store.value_fold.clear();
            store::append_fold(value_name, db.form, store.value_fold);
            const std::string_view bytes(reinterpret_cast<const char*>(data), data_size);
            // A new value goes last; an overwrite keeps the name it was created with and its place.
            auto upsert = db.connection->prepare(
                "INSERT INTO vals(key, fold, name, type, data, seq) VALUES(?, ?, ?, ?, ?, ?)"
                " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
            upsert.bind(1, open->id)
                .bind(2, store.value_fold)
                .bind(3, store::stored_form(value_name, store.stored_name))
                .bind(4, type)
                .bind(5, is_text_type(type) ? store::stored_form(bytes, store.stored_data) : bytes)
                .bind(6, next_sequence(db, open->id))
                .run();
            write.commit();
            return kSuccess;
        });
}

Result RegDeleteValueA(Handle key, const char* name, Refusal* why) {
    return changing_values(
        key, why, [&](Store& store, Database& db, OpenKey* open, WriteScope& write) {
            store.value_fold.clear();
            store::append_fold(name != nullptr ? name : "", db.form, store.value_fold);
            auto erase = db.connection->prepare("DELETE FROM vals WHERE key = ? AND fold = ?");
            erase.bind(1, open->id).bind(2, store.value_fold).run();
            if (sqlite3_changes(db.connection->handle()) == 0) return kFileNotFound;
            write.commit();
            return kSuccess;
        });
}

Result RegCloseKey(Handle key) {
    if (key >= kClassesRoot && key <= kDynData) return kSuccess;  // closing a root is allowed
    return guarded(nullptr, [&](Store& store, ThreadState&) -> Result {
        return store.remove(key) ? kSuccess : kInvalidHandle;
    });
}

}  // namespace syskit::registry::platform

namespace syskit::registry {

void set_store_directory(const std::filesystem::path& directory) {
    // Made absolute now: the store never works on a path relative to a directory that may change.
    std::filesystem::path chosen =
        directory.empty() ? directory : std::filesystem::absolute(directory);
    store::Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    store.choose_directory(std::move(chosen));
}

std::filesystem::path store_directory() {
    store::Store& store = store::the_store();
    const std::lock_guard lock(store.mutex);
    try {
        return store.directory();
    } catch (const store::StoreFailure& failure) {
        throw std::runtime_error(failure.what());
    }
}

}  // namespace syskit::registry
