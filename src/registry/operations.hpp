// The operations of clsRegistryAccess, each answering with its value and the status behind it.
//
// The public operations answer by value only (0, false, a default, -1): callers see no error
// codes. Underneath, each of them is one of the functions here, which returns the value together
// with a RegistryStatus: what the operation met and why, in one line that names the key, value or
// file. The public operation stores that status in the object (LastStatus) and returns the value.
// Operations that use other operations (the writers ask KeyExists first, EnumValues reads values
// by name, the export and import use them all) call these functions, not the public ones, so they
// see every inner status and decide which of them tell the caller something.
#pragma once

#include <cstdint>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/platform.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace syskit::registry::detail {

template <typename T>
struct Answer {
    T value;
    RegistryStatus status;
};

// What a status message says a failure concerns: a key, or a value of a key.
struct Subject {
    std::string_view path;              // the registry path as the caller gave it
    const std::string* name = nullptr;  // the value name; null for the key itself
};

class Operations {
  public:
    explicit Operations(clsRegistryAccess& self) : self_(self) {}

    // Runs one public operation: resets the object's status, runs `body`, keeps its status and
    // returns its value. An error the operation raises is noted as the status and passed on.
    template <typename Body>
    auto run(Body&& body) -> decltype(body().value) {
        self_.status_ = {};
        try {
            auto answer = body();
            self_.status_ = std::move(answer.status);
            return std::move(answer.value);
        } catch (const std::bad_alloc&) {
            // Memory running out is the out-of-memory error (7), as in the other components.
            note_raised(OutOfMemoryError());
            throw OutOfMemoryError();
        } catch (const std::exception& error) {
            note_raised(error);
            throw;
        }
    }

    // Keys (registry_access.cpp).
    Answer<std::int32_t> create_key(const std::string& path);
    Answer<std::int32_t> kill_key(const std::string& path);
    Answer<bool> key_exists(const std::string& path);
    Answer<bool> have_subkey(const std::string& path);
    Answer<std::int32_t> enum_keys(const std::string& path, std::vector<std::string>& keys);

    // Values (registry_access.cpp). The value of write_value is, by type: for kString the text,
    // for kBinary hex text (made into bytes only once the key is known to be writable, as
    // WriteBinary does), for kDword its four bytes.
    Answer<std::int32_t> write_value(const std::string& path, std::string name,
                                     platform::Dword type, std::string value);
    Answer<std::string> read_string(const std::string& path, const std::string& name,
                                    const std::string& fallback);
    Answer<std::int32_t> read_dword(const std::string& path, const std::string& name,
                                    std::int32_t fallback);
    Answer<std::string> read_binary(const std::string& path, const std::string& name,
                                    const std::string& fallback);
    Answer<std::int32_t> kill_value(const std::string& path, const std::string& name);
    Answer<bool> value_exists(const std::string& path, const std::string& name);
    Answer<std::int32_t> enum_values(const std::string& path, std::vector<std::string>& names,
                                     std::vector<RegistryValue>& values, std::int32_t only_type);

    // REGEDIT4 files (regedit4.cpp).
    Answer<std::int32_t> export_to_reg(std::string path, const std::string& file,
                                       bool include_subkeys, ExportProgress* output);
    // The import reads the file unless the caller has (`bytes`).
    Answer<std::int32_t> import_from_reg(const std::string& file,
                                         std::optional<std::string> bytes = std::nullopt);

  private:
    // Resolves the path into the object's fields (GetKeys, remembered while paths repeat);
    // false when it names no root key.
    bool resolve(std::string_view path);

    // The access mask that stands for RegOpenKeyA, the open call that takes none.
    static constexpr platform::Access kWithoutMask = 0;

    // Resolves the subject's path and opens its key into `handle` with RegOpenKeyExA and
    // `access`, or with RegOpenKeyA for kWithoutMask. The status says why it could not, told of
    // an operation that would `verb` the subject ("cannot read value 'v' of key 'P': ...").
    RegistryStatus open(const Subject& subject, std::string_view verb, platform::Access access,
                        platform::Handle& handle);

    // The readers' common part: opens the key with KEY_READ, queries the subject's value with
    // `type` preset into `data` (`size` in and out) and closes the key. A value that does not
    // fit says so as "cannot be read as <kind>: <longer_than>" (no `kind`: as the registry's
    // refusal).
    RegistryStatus query(const Subject& subject, platform::Dword type, std::uint8_t* data,
                         platform::Dword& size, std::string_view kind,
                         std::string_view longer_than);
    Answer<bool> generate_reg(std::string key_path, const std::string& file, bool include_subkeys,
                              ExportProgress* output);
    void note_raised(const std::exception& error);

    clsRegistryAccess& self_;
};

// --- Statuses (status.cpp) ------------------------------------------------------------------

// A text for a message: in single quotes, control characters as \xHH, a text of more than 64
// characters shortened to its start and its length.
[[nodiscard]] std::string quote(std::string_view text);

// "key 'P'", or "value 'N' of key 'P'" ("the default value of key 'P'" for the empty name).
[[nodiscard]] std::string describe(const Subject& subject);

// A status that is not ok: the code, and "<what>: <why>" as its message.
[[nodiscard]] RegistryStatus failure(RegistryStatusCode code, std::string_view what,
                                     std::string_view why, std::string file = {});

// The status of a path that names no root key, for an operation described by `what`.
[[nodiscard]] RegistryStatus unknown_root(std::string_view what, std::string_view path);

// Whether a refused call was made on the key (opening it, listing it) or on one of its values.
enum class Target { key, value };

// The status of a registry call that answered `result` (not success), for an operation described
// by `what` on `subject`: the platform's code in words, or the store's own reason when it gave
// one.
[[nodiscard]] RegistryStatus refusal(std::string_view what, const Subject& subject, Target target,
                                     platform::Result result, const platform::Refusal& why);

// The files of the .reg readers and writers (regedit4.cpp): a UTF-8 name as a path, a status
// with the system's reason for a file that cannot be read or written, the whole of a file, and
// whether a name is taken (a dangling link too).
[[nodiscard]] std::filesystem::path file_path(const std::string& name);
[[nodiscard]] RegistryStatus io_failure(std::string_view verb, const std::string& file, int error);
[[nodiscard]] RegistryStatus read_file(const std::string& name, std::string& bytes);
[[nodiscard]] bool file_exists(const std::string& name);

}  // namespace syskit::registry::detail
