// The layout of a registry database and how the store takes a file into use.
//
// A database holds two tables. `keys` has one row per key (the root is row 1) with its parent,
// its name as written and its folded name (names.hpp). `vals` has one row per value with the same
// folding, its type, its data and a sequence number that keeps creation order. Key ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key can tell it is deleted.
//
// The file says what it is in its header: the application id marks it as a registry database,
// and `PRAGMA user_version` numbers its layout so that a later version of the store can bring an
// older file up to date. Files of version 0 have the layout of version 1 and are marked 1 when
// the store may write them; a version above the store's is refused, as is any other file.
#pragma once

#include <cstdint>

#include "registry/store/database.hpp"

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
// else with a StoreFailure (store_damaged).
void adopt(Connection& connection, const Header& header, bool writable);

}  // namespace syskit::registry::store
