// Key and value names in the registry store: the fold that makes names compare as the platform
// compares them, and the splitting of a subkey path into key names.
//
// A name is folded character by character: each code-page byte becomes its character upper-cased
// as the platform's comparison does, written as two big-endian bytes. Byte order of folds is then
// the platform's order of subkeys, and equal folds are equal names. Every byte folds through one
// table, and folds are appended to a buffer the caller keeps, so that a lookup allocates nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/platform.hpp"

namespace syskit::registry::store {

// Appends the fold of `name` to `out` (two bytes per byte of `name`).
void append_fold(std::string_view name, std::string& out);

// Splits a subkey path into key names. Doubled and trailing backslashes separate like one; a
// leading one is a bad path (kBadPathname); a name beyond the platform's limit is
// kInvalidParameter. On failure `names` holds the names before the offending one; `too_long` is the
// length of a name beyond the limit.
platform::Result split_path(const char* subkey, std::vector<std::string_view>& names,
                            std::size_t& too_long);

}  // namespace syskit::registry::store
