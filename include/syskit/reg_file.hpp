// syskit/reg_file.hpp — .reg files as the Windows registry editor writes them, beside the
// system's own REGEDIT4 dialect of clsRegistryAccess.
//
// The editor's files come in two headers: "Windows Registry Editor Version 5.00" (UTF-16LE with a
// byte order mark, or UTF-8) and "REGEDIT4" (code-page text, the calling thread's page). Both
// escape "\\" and "\"" in names and texts, write the default value as @, allow ";" comments and
// blank lines, and give values as "text", dword:, hex: and typed hex(N): (2 expandable text,
// 7 multiple texts, b a 64-bit number, 0 none, any other N raw bytes of that type), long hex
// continued on the next line after a "\". [-KEY] deletes a key with everything below it, and
// "name"=- a value. Values keep their types in the registry.
//
// The system's own dialect (clsRegistryAccess::ExportToReg / ImportFromReg: no escapes, three
// value kinds, applied line by line) stays as it is; import_reg_file takes either.
//
// Unlike the system's own import, a file in the editor's format is read and checked whole before
// anything is applied: a file with an error changes nothing, and the status names the file, the
// line and what was wrong. Then it is applied in one registry transaction per root key the file
// touches, all kept open to the end (see platform::WriteBatch): all of it or nothing. The
// Windows registry has no transactions: there a change it refuses while applying leaves the
// changes before it applied, and the status says so.
//
// Names and texts reach the registry in the calling thread's code page (syskit/text.hpp): a
// character of the file the page lacks is an error of the file, never a '?' in the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "syskit/registry.hpp"

namespace syskit::registry {

enum class RegFileFormat {
    automatic,  // import: a REGEDIT5 header is the editor's format, REGEDIT4 the system's own
    windows,    // the Windows registry editor's format (REGEDIT5, or REGEDIT4 with escapes)
    plain,      // the system's own REGEDIT4 dialect (clsRegistryAccess::ImportFromReg/ExportToReg)
};

// A value with its type, as the registry holds it: the data of the text types (1, 2, 7) as
// UTF-8 text with the NULs the registry gives (a text's terminator, REG_MULTI_SZ's separators),
// every other type as its bytes.
struct RegValue {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// The registry's name of a value type ("REG_SZ", "REG_DWORD", ... "REG_QWORD" for 0 to 11); empty
// for any other number.
[[nodiscard]] std::string_view value_type_name(std::uint32_t type) noexcept;

// The values of a key, with types, in the order the registry enumerates them.
[[nodiscard]] RegistryStatus list_values(const std::string& path, std::vector<RegValue>& values);

// Applies a .reg file: `format` automatic decides by its header; plain applies it with
// clsRegistryAccess::ImportFromReg (its rules and its status). The status is ok when the whole
// file was applied.
[[nodiscard]] RegistryStatus import_reg_file(const std::string& file,
                                             RegFileFormat format = RegFileFormat::automatic);

// Writes a key and its subkeys to a new file: windows as the Windows registry editor's export
// (REGEDIT5, UTF-16LE with a byte order mark, CR LF, keys and values in the order the registry
// enumerates them, long hex broken into lines at the editor's width); plain (or automatic) as
// clsRegistryAccess::ExportToReg. An existing file is never replaced.
[[nodiscard]] RegistryStatus export_reg_file(const std::string& path, const std::string& file,
                                             RegFileFormat format = RegFileFormat::windows);

}  // namespace syskit::registry
