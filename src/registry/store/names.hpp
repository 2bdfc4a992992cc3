// Texts in the registry store: the two forms a name or a text takes (the calling thread's code
// page at the calls, UTF-8 in the database), the fold that makes names compare as the platform
// compares them, and the splitting of a subkey path into key names.
//
// The calls take and give names and the data of text values as bytes of the calling thread's
// code page; the database holds their characters as UTF-8, so that threads and processes using
// different pages read the same characters (a character the reader's page lacks comes back as
// '?', as the platform's ANSI calls give it). A name is folded by characters: each one's upper-case
// form (text::upper_case) as big-endian UTF-16. Byte order of folds is then the platform's order
// of subkeys and equal folds are equal names, whatever the page. Both forms of an ASCII text are
// the same bytes, and most names and texts are ASCII, so every conversion starts by checking
// that and then copies nothing; folds are appended to a buffer the caller keeps, so that a lookup
// allocates nothing.
//
// Files of layouts 0 and 1 hold Windows-1252 bytes and folds of an older rule. A process that
// may write one converts it (schema.cpp); one that may only read it reads it in that form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/platform.hpp"
#include "syskit/text.hpp"

namespace syskit::registry::store {

// How a database holds names and text data.
enum class Form : std::uint8_t {
    unicode,       // UTF-8, folds of text::upper_case (layout 2)
    windows_1252,  // a read-only file of layout 0 or 1: Windows-1252 bytes, folds of their rule
};

// Selects a code page for the calling thread while it lives, then goes back to the one before.
// (Outside Windows the platform's page is Windows-1252, so selecting the page the thread had
// by number changes nothing.)
class CodePageScope {
  public:
    explicit CodePageScope(int page) : saved_(text::code_page()) { text::set_code_page(page); }
    ~CodePageScope() { text::set_code_page(saved_); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;

  private:
    int saved_;
};

// Appends the fold of `name`, given in the calling thread's code page, as a database of `form`
// holds it. False, with `out` as it was, when no name of such a database has that fold: a
// Windows-1252 file cannot hold a character that page lacks.
bool append_fold(std::string_view name, Form form, std::string& out);

// `text`, in the calling thread's code page, as a database of layout 2 holds it: itself when
// ASCII, otherwise its UTF-8 in `scratch`.
std::string_view stored_form(std::string_view text, std::string& scratch);

// `stored`, as a database of `form` holds it, in the calling thread's code page: itself when
// ASCII, otherwise converted into `scratch` (valid until its next use). `exact`, when given, says
// whether the page holds every character, so that the bytes name no other text.
std::string_view caller_form(std::string_view stored, Form form, Bytes& scratch,
                             bool* exact = nullptr);

// Splits a subkey path into key names. Doubled and trailing backslashes separate like one; a
// leading one is a bad path (kBadPathname); a name beyond the platform's limit is
// kInvalidParameter. On failure `names` holds the names before the offending one; `too_long` is the
// length of a name beyond the limit.
platform::Result split_path(const char* subkey, std::vector<std::string_view>& names,
                            std::size_t& too_long);

}  // namespace syskit::registry::store
