// The Windows registry editor's .reg format, apart from the registry: a file read into the
// changes it makes, and a value written as the editor writes it.
//
// Reading checks the whole file before anything is applied, so it yields either every change in
// file order, ready for the ANSI registry calls (names and data as code-page bytes of the calling
// thread), or the first error with its line. Both headers are read: "Windows Registry Editor
// Version 5.00" (UTF-16LE after a byte order mark, else UTF-8) and "REGEDIT4" (code-page bytes,
// or UTF-16LE/UTF-8 after a byte order mark). The header also decides what the data of the text
// types in hex(2), hex(7) and hex(1) is: UTF-16LE under the first, code-page bytes under the
// second, whatever the file's own encoding.
//
// The grammar is the one Wine's regedit accepts, where it imports a line at all: lines end with
// CR LF, LF or CR; leading spaces and tabs are skipped; ";" begins a comment line or ends a line
// after its key or value; names and texts escape \\, \", \n and \r; data is "text", dword: with
// one to eight hex digits, hex: or hex(N): with N of one to eight hex digits and bytes of one or
// two hex digits separated by commas (spaces after a comma only), a trailing comma allowed, and
// continued on the next line after a "\" that follows a comma, across blank and comment lines.
// Where Wine's regedit drops a line, and warns or not, this reader stops with an error instead.
//
// Written lines are UTF-16 (the editor's REGEDIT5 export): a key's values and hex data broken
// into lines of at most 80 characters, as the editor breaks them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/platform.hpp"

namespace syskit::registry::detail {

// One change a .reg file makes, in the file's order.
struct RegFileChange {
    enum class Kind : std::uint8_t {
        open_key,      // a key line: creates the key when missing; the values below go to it
        delete_key,    // [-KEY]: the key with everything below it
        set_value,     // "name"=data or @=data, of the key of the last key line
        delete_value,  // "name"=-
    };
    Kind kind = Kind::open_key;
    std::size_t line = 0;  // where the change is written (its first line), from 1
    // The key kinds: the root key and the subkey path's code-page bytes, names joined by single
    // backslashes (empty for the root key itself).
    platform::Handle root = 0;
    std::string subkey;
    // The value kinds: the name's code-page bytes (empty for the default value), the type and the
    // data as RegSetValueExA takes it.
    std::string name;
    platform::Dword type = 0;
    std::string data;
};

// Why a file was not read: the line (from 1) and what was wrong there; `header` when the file is
// no .reg file at all (its first line is neither header).
struct RegFileError {
    std::size_t line = 0;
    std::string what;
    bool header = false;
};

// True when a file's first bytes say it is in the editor's format rather than the system's own
// REGEDIT4 dialect: a byte order mark, or the REGEDIT5 header.
[[nodiscard]] bool looks_like_editor_file(std::string_view bytes);

// Reads a whole file; false, with `error` filled in, at its first error.
[[nodiscard]] bool read_reg_file(std::string_view bytes, std::vector<RegFileChange>& changes,
                                 RegFileError& error);

// Writes the editor's text: the first lines of an export, and one value's line or lines (each
// ended by CR LF), from the value's name and data as the ANSI registry calls give them. The
// characters of code-page bytes come from `page`, the table made for the calling thread's page.
class RegFileWriter {
  public:
    RegFileWriter();

    static constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";

    void append_header(std::u16string& out) const;
    // "[path]" for the path's code-page bytes; the values and a blank line are the caller's.
    void append_key(std::u16string& out, std::string_view path) const;
    void append_value(std::u16string& out, std::string_view name, platform::Dword type,
                      std::string_view data) const;

  private:
    void append_chars(std::u16string& out, std::string_view bytes) const;
    void append_quoted(std::u16string& out, std::string_view bytes) const;

    std::u16string page_;  // the character of each code-page byte
};

}  // namespace syskit::registry::detail
