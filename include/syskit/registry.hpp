// syskit/registry.hpp — registry access.
//
// Outside Windows the registry is an embedded store: one SQLite database per root key in a
// registry directory, with the platform registry's semantics. The directory is, in order of
// precedence, the one set with set_store_directory, the environment variable SYSKIT_REGISTRY,
// $XDG_DATA_HOME/syskit/registry, or ~/.local/share/syskit/registry. It is created on first use.
// Access follows the files' permissions: a root key whose database the process may not write is
// read-only, one it may not read cannot be opened.
#pragma once

#include <filesystem>
#include <string>

namespace syskit::registry {

// Selects the store's directory for this process; an empty path goes back to the default. Keys
// opened before keep working on the directory they were opened in.
void set_store_directory(const std::filesystem::path& directory);

// The directory the store uses now.
[[nodiscard]] std::filesystem::path store_directory();

// Why the store last refused a call on this thread for a reason of its own (a database that is
// not a registry database, a directory that cannot be created, an I/O failure), or empty. Such a
// call returns ERROR_BADDB (1009) or ERROR_REGISTRY_IO_FAILED (1016).
[[nodiscard]] std::string last_store_error();

}  // namespace syskit::registry
