// syskit/registry.hpp — registry access: `clsRegistryAccess`, with REGEDIT4 export and import.
//
// A registry path is a hive name, long ("HKEY_CURRENT_USER") or four-letter short ("HKCU"), in any
// case, optionally followed by a backslash and a subkey path. Every operation resolves its path,
// opens the key it needs, and closes it again before it returns; nothing stays open between calls.
// Failures are values: 0, false, the caller's default, -1 for enumerations. Texts are UTF-8 and
// reach the registry as code-page bytes (syskit/text.hpp); "byte text" is a text with one
// character per byte, the character whose code-page byte is the byte's value.
//
// Outside Windows the registry is an embedded store: one SQLite database per root key in a
// registry directory, with the platform registry's semantics. The directory is, in order of
// precedence, the one set with set_store_directory, the environment variable SYSKIT_REGISTRY,
// $XDG_DATA_HOME/syskit/registry, or ~/.local/share/syskit/registry. It is created on first use.
// Access follows the files' permissions: a root key whose database the process may not write is
// read-only, one it may not read cannot be opened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace syskit {

// The value EnumValues lists for one registry value: nothing, a text or a 32-bit number.
using RegistryValue = std::variant<std::monostate, std::string, std::int32_t>;

// The export's progress display: it shows the path of the key whose section is written next.
class ExportProgress {
  public:
    virtual ~ExportProgress() = default;
    // Replaces the displayed text. May throw to make the export fail.
    virtual void set_text(std::string_view text) = 0;
};

class clsRegistryAccess {
  public:
    // "Let/Get. Should key will be created if no exists (when writting data to registry)"
    clsRegistryAccess() = default;
    [[nodiscard]] bool CreateKeyIfDoesntExists() const noexcept { return create_flag_; }
    void CreateKeyIfDoesntExists(bool offon) noexcept { create_flag_ = offon; }

    // "Creates key in registry..." Non-zero (the closed key's handle value) when done, else 0.
    std::int32_t CreateKey(std::string sPath);
    // "Deletes key from registry..." Non-zero whenever the key could be opened.
    std::int32_t KillKey(std::string sPath);
    // "Checks if some key exists..." (opened with full access)
    [[nodiscard]] bool KeyExists(std::string sPath);
    // "Enumerates subkeys of some key..." The number of subkeys, or -1.
    std::int32_t EnumKeys(std::string sPath, std::vector<std::string>& Key);
    // "Checks for subkeys in some key..."
    [[nodiscard]] bool HaveSubkey(std::string sPath);

    // "Writes data of string type..." sName "@" writes the default value.
    std::int32_t WriteString(std::string sPath, std::string sName, std::string sValue);
    // "Reads data of string type..." Values of up to 254 characters; leading spaces trimmed.
    [[nodiscard]] std::string ReadString(std::string sPath, std::string sName,
                                         const std::string& sDefault = std::string(1, '\0'));
    // "Writes data of dword type..."
    std::int32_t WriteDWORD(std::string sPath, std::string sName, std::int32_t lValue);
    // "Reads data of dword type..."
    [[nodiscard]] std::int32_t ReadDWORD(std::string sPath, std::string sName,
                                         std::int32_t lDefault = -1);
    // "Writes data of binary type..." sValue is hex text.
    std::int32_t WriteBinary(std::string sPath, std::string sName, std::string sValue);
    // "Reads data of binary type..." Hex text: digit pairs separated by single spaces.
    [[nodiscard]] std::string ReadBinary(std::string sPath, std::string sName,
                                         const std::string& sDefault = {});
    // "Deletes value from registry..." Non-zero whenever the key could be opened.
    std::int32_t KillValue(std::string sPath, std::string sName);
    // "Checks if some value exists in registry"
    [[nodiscard]] bool ValueExists(std::string sPath, std::string sName);
    // "Enumerates all values from specified key..." OnlyType -1 lists every type. The number of
    // values listed, or -1 (the arrays are then left as they were).
    std::int32_t EnumValues(std::string sPath, std::vector<std::string>& sName,
                            std::vector<RegistryValue>& sValue, std::int32_t OnlyType = -1);

    // "Exports contents of some key (and it's subkeys) to .reg file..." 1 when written, else 0.
    std::int32_t ExportToReg(std::string sPath, const std::string& sRegFile,
                             bool IncludeSubkeys = true, ExportProgress* Output = nullptr);
    // "Imports .reg file into registry..." 1 when the whole file was processed, else 0.
    std::int32_t ImportFromReg(const std::string& sRegFile);

    // "Converts hex (string) into it's binary value..." Leaves sBin without spaces; returns
    // byte text. More than 32,766 characters raise OverflowError.
    std::string StrToBin(std::string& sBin);
    // "Converts binary data into string..." Byte text to hex text with a space before each pair.
    [[nodiscard]] std::string BinToStr(const std::string& sStr);
    // "Checks if given binary data is in valid hex format (used for writting binary)"
    [[nodiscard]] bool isBinValid(std::string sBin);

  private:
    void GetKeys(std::string& path, std::string& subkey, std::int32_t& hive);
    bool generateReg(std::string key_path, const std::string& sRegFile, bool IncludeSubkeys,
                     ExportProgress* Output);
    // Resolves the path into the fields below (GetKeys) and returns the subkey path's bytes.
    void resolve(std::string& path);

    std::int32_t hive_ = 0;  // root key of the current operation's path; 0: no hive
    std::uint32_t key_ = 0;  // the key the current operation opened
    std::string subkey_;     // the subkey path's code-page bytes
    bool create_flag_ = true;
};

}  // namespace syskit

// The embedded store's settings; Windows builds use the real registry and have none.
#if !defined(_WIN32)
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
#endif
