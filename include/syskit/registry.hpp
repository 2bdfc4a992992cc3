// syskit/registry.hpp — registry access: `clsRegistryAccess`, with REGEDIT4 export and import.
//
// A registry path is a hive name, long ("HKEY_CURRENT_USER") or four-letter short ("HKCU"), in any
// case, optionally followed by a backslash and a subkey path. Every operation resolves its path,
// opens the key it needs, and closes it again before it returns; nothing stays open between calls.
// Texts are UTF-8 and reach the registry as code-page bytes (syskit/text.hpp); "byte text" is a
// text with one character per byte, the character whose code-page byte is the byte's value.
//
// Operations answer by value: 0, false, the caller's default, -1 for enumerations. Underneath,
// every operation leaves the reason for its answer in the object's LastStatus(): what failed (no
// such key, access denied, a damaged store, an I/O error, ...), a one-line message that names the
// key, value or file concerned, and for an import the line. A status that is not ok does not
// change the answer: an export of a key the store could not read still returns 1, with an empty
// section for the key, and its status says why that section is empty.
//
// Outside Windows the registry is an embedded store: one SQLite database per root key in a
// registry directory, with the platform registry's semantics. The directory is, in order of
// precedence, the one set with set_store_directory, the environment variable SYSKIT_REGISTRY,
// $XDG_DATA_HOME/syskit/registry, or ~/.local/share/syskit/registry, the home directory being $HOME
// or else the account's home from the password database. It is created on first use. The
// environment is read when the directory is first needed and again after set_store_directory. Access
// follows the files' permissions: a root key whose database the process may not write is
// read-only, one it may not read cannot be opened.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace syskit {

namespace registry {

// A root key: the platform's predefined handle, its long and four-letter short name, and the
// embedded store's database file for it.
struct Hive {
    std::uint32_t handle;
    std::string_view long_name;
    std::string_view short_name;
    std::string_view store_file;
};

// The root keys in the order in which paths replace and compare their names. Every short name has
// four letters; the short name of HKEY_USERS is "HKUS".
inline constexpr std::array<Hive, 7> kHives{{
    {0x80000001u, "HKEY_CURRENT_USER", "HKCU", "HKEY_CURRENT_USER.db"},
    {0x80000002u, "HKEY_LOCAL_MACHINE", "HKLM", "HKEY_LOCAL_MACHINE.db"},
    {0x80000000u, "HKEY_CLASSES_ROOT", "HKCR", "HKEY_CLASSES_ROOT.db"},
    {0x80000003u, "HKEY_USERS", "HKUS", "HKEY_USERS.db"},
    {0x80000004u, "HKEY_PERFORMANCE_DATA", "HKPD", "HKEY_PERFORMANCE_DATA.db"},
    {0x80000006u, "HKEY_DYN_DATA", "HKDD", "HKEY_DYN_DATA.db"},
    {0x80000005u, "HKEY_CURRENT_CONFIG", "HKCC", "HKEY_CURRENT_CONFIG.db"},
}};

// The root key of a predefined handle, or null.
[[nodiscard]] constexpr const Hive* hive_of(std::uint32_t handle) noexcept {
    for (const Hive& hive : kHives) {
        if (hive.handle == handle) return &hive;
    }
    return nullptr;
}

// Limits of the registry and of the operations, in characters of the code page.
inline constexpr std::size_t kMaxKeyNameLength = 255;      // one key name in a path
inline constexpr std::size_t kMaxValueNameLength = 16383;  // a value name
inline constexpr std::size_t kMaxReadStringLength = 254;   // the longest text ReadString returns
inline constexpr std::size_t kMaxHexTextLength = 32766;    // StrToBin / BinToStr count in 16 bits

}  // namespace registry

// What the last operation of a clsRegistryAccess object met. The numbers are stable: the COM
// server hands them to scripts.
enum class RegistryStatusCode : std::uint8_t {
    ok = 0,
    unknown_root = 1,      // the path names no root key
    no_such_key = 2,       // the key does not exist (or was deleted meanwhile)
    no_such_value = 3,     // the key has no value of that name
    access_denied = 4,     // the registry refused access: permissions, a read-only store
    has_subkeys = 5,       // a key with subkeys is not deleted
    does_not_fit = 6,      // a buffer cannot hold the value: a text of more than 254 characters
                           // for ReadString, more than 4 bytes for ReadDWORD, more than 255 bytes
                           // or a name of more than 254 characters for EnumValues
    name_too_long = 7,     // a key name of more than 255 characters, a value name of more than
                           // 16,383
    store_unreadable = 8,  // the store's database file cannot be read
    store_damaged = 9,     // the store's database file is not a registry database, or is damaged
    io_error = 10,         // reading or writing a file or the store failed: the system's reason
    file_exists = 11,      // the export's file exists already
    not_regedit4 = 12,     // the import's file does not start with the line REGEDIT4
    bad_line = 13,         // the import stopped at a line it cannot read
    out_of_memory = 14,
    error_raised = 15,  // the operation raised a syskit::Error to its caller
    refused = 16,       // any other refusal of the registry; `result` is its code
};

struct RegistryStatus {
    RegistryStatusCode code = RegistryStatusCode::ok;
    // One line saying what failed and why, naming the key, value or file concerned, with long
    // names shortened and control characters escaped; empty when ok.
    std::string message;
    // The file concerned, when there is one: the store's database or the REGEDIT4 file.
    std::string file;
    // The registry call's result code (a Windows error number) when a call refused, else 0.
    std::int32_t result = 0;
    // For ImportFromReg, the number of the file's line concerned (from 1), else 0.
    std::size_t line = 0;

    [[nodiscard]] bool ok() const noexcept { return code == RegistryStatusCode::ok; }
};

namespace registry::detail {
class Operations;
}

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

    // Why the last operation answered as it did (reset by every operation).
    [[nodiscard]] const RegistryStatus& LastStatus() const noexcept { return status_; }

  private:
    // The operations themselves, each answering with its value and its status (src/registry/).
    friend class registry::detail::Operations;

    void GetKeys(std::string& path, std::string& subkey, std::int32_t& hive);

    std::int32_t hive_ = 0;  // root key of the current operation's path; 0: no hive
    std::uint32_t key_ = 0;  // the key the current operation opened
    std::string subkey_;     // the subkey path's code-page bytes
    bool create_flag_ = true;
    // The last path resolved and what it became, reused while calls repeat the path (an
    // enumeration reads every value of one key by name).
    std::string resolved_from_, resolved_subkey_;
    std::int32_t resolved_hive_ = 0;
    RegistryStatus status_;
};

}  // namespace syskit

// The embedded store's settings; Windows builds use the real registry and have none.
#if !defined(_WIN32)
namespace syskit::registry {

// Selects the store's directory for this process; an empty path goes back to the default, read
// from the environment anew. A relative directory is taken from the current directory at the
// time of the call. Keys opened
// before keep working on the directory they were opened in.
void set_store_directory(const std::filesystem::path& directory);

// The directory the store uses now, always absolute. Raises std::runtime_error when there is
// none: no directory was chosen and the account has no home directory.
[[nodiscard]] std::filesystem::path store_directory();

}  // namespace syskit::registry
#endif
