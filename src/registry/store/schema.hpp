// The layout of a registry database and how the store takes a file into use.
//
// A database holds two tables. `keys` has one row per key (the root is row 1) with its parent,
// its name as written and its folded name (names.hpp). `vals` has one row per value with the same
// folding, its type, its data and a sequence number that keeps creation order. Key ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key can tell it is deleted. Names and the data
// of text values are UTF-8.
//
// The file says what it is in its header: the application id marks it as a registry database,
// and `PRAGMA user_version` numbers its layout so that a later version of the store can bring an
// older file up to date. Layouts 0 and 1 are the same tables holding Windows-1252 bytes and folds
// of an older rule: a process that may write such a file converts it to layout 2, one that may
// not reads it as it is. A version above the store's is refused, as is any other file.
#pragma once

#include <cstdint>

#include "registry/store/database.hpp"
#include "registry/store/names.hpp"

namespace syskit::registry::store {

inline constexpr std::int64_t kRootKey = 1;

// What a file says about itself.
struct Header {
    std::int64_t application_id = 0;
    std::int64_t version = 0;  // PRAGMA user_version
    std::int64_t tables = 0;   // entries of sqlite_master
};

// Reads the header of an opened file. Raises StoreFailure (a file that is not a database).
[[nodiscard]] Header read_header(Connection& connection);

// Makes an opened file ready for the store: lays out an empty writable file as a new registry
// database, brings an older registry database up to date when writable, and refuses everything
// else with a StoreFailure (store_damaged). Returns the form the file holds its texts in.
Form adopt(Connection& connection, const Header& header, bool writable);

// The form of the texts of a registry database after a commit of another connection, which may
// have converted it; call inside a read transaction.
Form current_form(Connection& connection);

}  // namespace syskit::registry::store
