// clsRegistryAccess: registry paths, keys, values, enumeration and the hex-text conversions.
//
// Every operation makes a fixed sequence of registry calls, with fixed subkey paths, access
// masks, buffer sizes and presets, and reads their results in a fixed way, so the object answers
// alike over the embedded store and over the real registry: buffers are filled with spaces before
// a call and read back whole, sizes are preset, and a result an operation does not consult never
// changes its answer. Texts cross the registry as code-page bytes.
//
// Each operation also says why it answered as it did (operations.hpp): the result of the call
// that decided its answer, with the store's own reason when it gave one. A path without a root
// key is answered at once, as the registry refuses the calls made with root 0.
//
// Readers run in one read snapshot of the registry and writers in one write batch (platform.hpp),
// so that an operation's calls see one state of the store and cost one transaction; neither
// changes an answer. One deliberate difference from the bare calls: an enumeration stops at a
// result that no later index can change (an invalid or deleted handle, access denied, a store
// failure) instead of listing it again and again for ever; see docs/registry.md.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "registry/operations.hpp"
#include "registry/platform.hpp"
#include "registry/text_helpers.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace syskit {

using registry::detail::Answer;
using registry::detail::Operations;

namespace registry::detail {
namespace {

namespace api = platform;
using Code = RegistryStatusCode;

constexpr std::uint32_t kNameBuffer = 255;  // subkey and value names in the enumerations
constexpr std::uint32_t kDataBuffer = 255;  // ReadString's text and EnumValues' data

// A result after which asking for the next index cannot give anything else.
bool enumeration_broken(api::Result r) {
    return r != api::kSuccess && r != api::kMoreData && r != api::kNoMoreItems;
}

std::uint32_t handle_of(std::int32_t hive) {
    return static_cast<std::uint32_t>(hive);
}

std::string what(std::string_view verb, const Subject& subject) {
    return std::string(verb) + " " + describe(subject);
}

}  // namespace

bool Operations::resolve(std::string_view path) {
    clsRegistryAccess& s = self_;
    if (s.resolved_from_.empty() || path != s.resolved_from_) {
        // Resolved into locals and kept only whole: memory running out half-way must not leave a
        // path remembered with another path's answer.
        std::string from(path), rewritten(path), subkey;
        std::int32_t hive = 0;
        s.GetKeys(rewritten, subkey, hive);
        std::string resolved = ansi(subkey);
        s.resolved_subkey_ = std::move(resolved);
        s.resolved_hive_ = hive;
        s.resolved_from_ = std::move(from);
    }
    s.hive_ = s.resolved_hive_;
    s.subkey_ = s.resolved_subkey_;
    return s.hive_ != 0;
}

void Operations::note_raised(const std::exception& error) {
    RegistryStatus status;
    status.code = Code::error_raised;
    if (const auto* raised = dynamic_cast<const Error*>(&error)) {
        status.message =
            "error " + std::to_string(raised->number()) + ": " + std::string(raised->description());
    } else {
        status.message = error.what();
    }
    self_.status_ = std::move(status);
}

RegistryStatus Operations::open(const Subject& subject, std::string_view verb, api::Access access,
                                api::Handle& handle) {
    if (!resolve(subject.path)) return unknown_root(what(verb, subject), subject.path);
    api::Refusal why;
    const clsRegistryAccess& s = self_;
    const api::Result r =
        access == kWithoutMask
            ? api::RegOpenKeyA(handle_of(s.hive_), s.subkey_.c_str(), &handle, &why)
            : api::RegOpenKeyExA(handle_of(s.hive_), s.subkey_.c_str(), 0, access, &handle, &why);
    if (r == api::kSuccess) return {};
    return refusal(what(verb, subject), subject, Target::key, r, why);
}

// --- Keys -------------------------------------------------------------------------------------

Answer<std::int32_t> Operations::create_key(const std::string& path) {
    const Subject subject{path};
    if (!resolve(path)) return {0, unknown_root(what("cannot create", subject), path)};
    platform::WriteBatch batch;
    api::Refusal why;
    clsRegistryAccess& s = self_;
    api::Result r = api::RegCreateKeyA(handle_of(s.hive_), s.subkey_.c_str(), &s.key_, &why);
    if (r == api::kSuccess) {
        api::RegCloseKey(s.key_);
        if (!batch.finish(&why)) r = api::kRegistryIoFailed;
    }
    if (r != api::kSuccess) {
        return {0, refusal(what("cannot create", subject), subject, Target::key, r, why)};
    }
    return {static_cast<std::int32_t>(s.key_), {}};
}

Answer<std::int32_t> Operations::kill_key(const std::string& path) {
    const Subject subject{path};
    platform::WriteBatch batch;
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot delete", api::kKeyAllAccess, s.key_);
        !opened.ok()) {
        return {0, std::move(opened)};
    }
    // Deletes the opened key itself; the answer is non-zero whatever the deletion gave.
    RegistryStatus status;
    api::Refusal why;
    api::Result r = api::RegDeleteKeyA(s.key_, "", &why);
    if (r == api::kAccessDenied && why.code == Code::ok) {
        std::array<char, kNameBuffer> name;
        api::Dword size = kNameBuffer;
        const api::Result first =
            api::RegEnumKeyExA(s.key_, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (s.subkey_.empty()) {
            status = failure(Code::access_denied, describe(subject) + " was not deleted",
                             "a root key cannot be deleted");
        } else if (first == api::kSuccess || first == api::kMoreData) {
            status = failure(Code::has_subkeys, describe(subject) + " was not deleted",
                             "it has subkeys");
        }
        status.result = r;
    }
    api::RegCloseKey(s.key_);
    if (r == api::kSuccess && !batch.finish(&why)) r = api::kRegistryIoFailed;
    if (r != api::kSuccess && status.ok()) {
        status = refusal(what("cannot delete", subject), subject, Target::key, r, why);
    }
    return {static_cast<std::int32_t>(s.key_), std::move(status)};
}

Answer<bool> Operations::key_exists(const std::string& path) {
    platform::ReadSnapshot snapshot;
    if (RegistryStatus opened = open(Subject{path}, "cannot open", api::kKeyAllAccess, self_.key_);
        !opened.ok()) {
        return {false, std::move(opened)};
    }
    api::RegCloseKey(self_.key_);
    return {true, {}};
}

Answer<bool> Operations::have_subkey(const std::string& path) {
    const Subject subject{path};
    platform::ReadSnapshot snapshot;
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot open", kWithoutMask, s.key_); !opened.ok()) {
        return {false, std::move(opened)};
    }
    std::array<char, kNameBuffer> name;
    name.fill(' ');
    api::Dword size = kNameBuffer;
    api::Refusal why;
    const api::Result r =
        api::RegEnumKeyExA(s.key_, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr, &why);
    api::RegCloseKey(s.key_);
    // Every result but "no more items" answers true, failures included; those say why.
    Answer<bool> answer{r != api::kNoMoreItems, {}};
    if (enumeration_broken(r)) {
        answer.status =
            refusal(what("cannot list the subkeys of", subject), subject, Target::key, r, why);
    }
    return answer;
}

Answer<std::int32_t> Operations::enum_keys(const std::string& path,
                                           std::vector<std::string>& keys) {
    const Subject subject{path};
    keys.clear();
    platform::ReadSnapshot snapshot;
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot open", kWithoutMask, s.key_); !opened.ok()) {
        return {-1, std::move(opened)};
    }
    RegistryStatus status;
    for (api::Dword index = 0;; ++index) {
        std::array<char, kNameBuffer> name;
        name.fill(' ');
        api::Dword size = kNameBuffer;
        api::Refusal why;
        const api::Result r = api::RegEnumKeyExA(s.key_, index, name.data(), &size, nullptr,
                                                 nullptr, nullptr, nullptr, &why);
        if (r == api::kNoMoreItems) break;
        if (enumeration_broken(r)) {
            status =
                refusal(what("cannot list the subkeys of", subject), subject, Target::key, r, why);
            break;
        }
        if (r == api::kMoreData && status.ok()) {
            status = failure(Code::does_not_fit, what("cannot list the subkeys of", subject),
                             "a subkey's name is longer than 254 characters");
        }
        keys.push_back(
            utf8(std::string_view(name.data(), std::min<api::Dword>(size, kNameBuffer))));
    }
    api::RegCloseKey(s.key_);
    return {static_cast<std::int32_t>(keys.size()), std::move(status)};
}

// --- Values -----------------------------------------------------------------------------------

Answer<std::int32_t> Operations::write_value(const std::string& path, std::string name,
                                             api::Dword type, std::string value) {
    const Subject subject{path, &name};
    platform::WriteBatch batch;
    // A missing key is created first (whatever that gives) when the flag allows it.
    if (Answer<bool> exists = key_exists(path); !exists.value) {
        if (!self_.create_flag_) {
            if (exists.status.code == Code::no_such_key) {
                return {0, failure(Code::no_such_key, what("cannot write", subject),
                                   "the key does not exist")};
            }
            // The same reason, told of the write.
            const std::size_t told = what("cannot open", Subject{path}).size();
            exists.status.message =
                what("cannot write", subject) +
                exists.status.message.substr(std::min(told, exists.status.message.size()));
            return {0, std::move(exists.status)};
        }
        static_cast<void>(create_key(path));
    }
    if (type == api::kString) {
        value = ansi(value);
    } else if (type == api::kBinary) {
        value = ansi(self_.StrToBin(value));
    }
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot write", api::kKeyWrite, s.key_);
        !opened.ok()) {
        return {0, std::move(opened)};
    }
    api::Refusal why;
    api::Result r = api::RegSetValueExA(s.key_, ansi(name).c_str(), 0, type,
                                        reinterpret_cast<const std::uint8_t*>(value.data()),
                                        static_cast<api::Dword>(value.size()), &why);
    api::RegCloseKey(s.key_);
    if (r == api::kSuccess && !batch.finish(&why)) r = api::kRegistryIoFailed;
    if (r != api::kSuccess) {
        return {0, refusal(what("cannot write", subject), subject, Target::value, r, why)};
    }
    return {static_cast<std::int32_t>(s.key_), {}};
}

// The readers' common part: opens the key with KEY_READ, queries the value into `data` (its
// size in `size`, `type` preset) and closes the key. The status says why not; a value that
// does not fit says so in the words of `kind` ("text", "a number").
RegistryStatus Operations::query(const Subject& subject, api::Dword type, std::uint8_t* data,
                                 api::Dword& size, std::string_view kind,
                                 std::string_view longer_than) {
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot read", api::kKeyRead, s.key_); !opened.ok()) {
        return opened;
    }
    api::Refusal why;
    const api::Result r = api::RegQueryValueExA(s.key_, ansi(*subject.name).c_str(), nullptr, &type,
                                                data, &size, &why);
    api::RegCloseKey(s.key_);
    if (r == api::kSuccess) return {};
    if (r == api::kMoreData && !kind.empty()) {
        return failure(Code::does_not_fit,
                       describe(subject) + " cannot be read as " + std::string(kind), longer_than);
    }
    return refusal(what("cannot read", subject), subject, Target::value, r, why);
}

Answer<std::string> Operations::read_string(const std::string& path, const std::string& name,
                                            const std::string& fallback) {
    platform::ReadSnapshot snapshot;
    std::array<std::uint8_t, kDataBuffer> buffer;
    buffer.fill(' ');
    api::Dword size = kDataBuffer;
    if (RegistryStatus read = query(Subject{path, &name}, api::kString, buffer.data(), size, "text",
                                    "it is longer than 254 characters");
        !read.ok()) {
        return {fallback, std::move(read)};
    }
    // The whole buffer, trimmed of spaces, then without its last character (the terminator).
    // Behind the `size` bytes delivered the buffer holds only its preset spaces, which the trim
    // removes with any the data ends in, so trimming the delivered bytes gives the same text.
    const std::string_view delivered(reinterpret_cast<const char*>(buffer.data()),
                                     std::min(size, kDataBuffer));
    std::string text = utf8(without_spaces_around(delivered));
    drop_last_character(text);
    return {std::move(text), {}};
}

Answer<std::int32_t> Operations::read_dword(const std::string& path, const std::string& name,
                                            std::int32_t fallback) {
    platform::ReadSnapshot snapshot;
    std::uint8_t cell[4] = {0, 0, 0, 0};
    api::Dword size = 4;
    if (RegistryStatus read = query(Subject{path, &name}, api::kDword, cell, size, "a number",
                                    "its data is longer than 4 bytes");
        !read.ok()) {
        return {fallback, std::move(read)};
    }
    return {static_cast<std::int32_t>(std::uint32_t(cell[0]) | std::uint32_t(cell[1]) << 8 |
                                      std::uint32_t(cell[2]) << 16 | std::uint32_t(cell[3]) << 24),
            {}};
}

Answer<std::string> Operations::read_binary(const std::string& path, const std::string& name,
                                            const std::string& fallback) {
    const Subject subject{path, &name};
    platform::ReadSnapshot snapshot;
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot read", api::kKeyRead, s.key_); !opened.ok()) {
        return {fallback, std::move(opened)};
    }
    const std::string value_name = ansi(name);
    // A size probe with a one-byte buffer (its result is not consulted), then the whole value.
    std::uint8_t probe = ' ';
    api::Dword type = api::kBinary;
    api::Dword size = 1;
    api::RegQueryValueExA(s.key_, value_name.c_str(), nullptr, &type, &probe, &size);
    std::string buffer(size, ' ');
    type = api::kBinary;
    api::Refusal why;
    const api::Result r =
        api::RegQueryValueExA(s.key_, value_name.c_str(), nullptr, &type,
                              reinterpret_cast<std::uint8_t*>(buffer.data()), &size, &why);
    api::RegCloseKey(s.key_);
    if (r != api::kSuccess) {
        return {fallback, refusal(what("cannot read", subject), subject, Target::value, r, why)};
    }
    return {trim_spaces(self_.BinToStr(utf8(buffer))), {}};
}

Answer<std::int32_t> Operations::kill_value(const std::string& path, const std::string& name) {
    const Subject subject{path, &name};
    platform::WriteBatch batch;
    clsRegistryAccess& s = self_;
    if (RegistryStatus opened = open(subject, "cannot delete", api::kKeyWrite, s.key_);
        !opened.ok()) {
        return {0, std::move(opened)};
    }
    // The answer is non-zero whatever the deletion gave.
    api::Refusal why;
    api::Result r = api::RegDeleteValueA(s.key_, ansi(name).c_str(), &why);
    api::RegCloseKey(s.key_);
    if (r == api::kSuccess && !batch.finish(&why)) r = api::kRegistryIoFailed;
    Answer<std::int32_t> answer{static_cast<std::int32_t>(s.key_), {}};
    if (r != api::kSuccess) {
        answer.status = refusal(what("cannot delete", subject), subject, Target::value, r, why);
    }
    return answer;
}

Answer<bool> Operations::value_exists(const std::string& path, const std::string& name) {
    platform::ReadSnapshot snapshot;
    api::Dword size = 1;
    // No data buffer: the registry only reports the size, so a value of any size answers.
    RegistryStatus read = query(Subject{path, &name}, 0, nullptr, size, {}, {});
    const bool exists = read.ok();
    return {exists, std::move(read)};
}

Answer<std::int32_t> Operations::enum_values(const std::string& path,
                                             std::vector<std::string>& names,
                                             std::vector<RegistryValue>& values,
                                             std::int32_t only_type) {
    const Subject subject{path};
    platform::ReadSnapshot snapshot;
    api::Handle enumeration = 0;  // kept apart from key_, which the readers below reuse
    if (RegistryStatus opened = open(subject, "cannot open", kWithoutMask, enumeration);
        !opened.ok()) {
        return {-1, std::move(opened)};
    }
    api::Refusal why;
    api::Result r = api::kSuccess;
    names.clear();
    values.clear();
    RegistryStatus status;
    const auto note = [&status](RegistryStatus&& inner) {
        if (status.ok()) status = std::move(inner);
    };
    std::int32_t count = 0;
    for (api::Dword index = 0;; ++index) {
        std::array<char, kNameBuffer> name;
        std::array<std::uint8_t, kDataBuffer> data;
        name.fill(' ');
        data.fill(' ');
        api::Dword name_size = kNameBuffer;
        api::Dword data_size = kDataBuffer;
        api::Dword type = 0;
        r = api::RegEnumValueA(enumeration, index, name.data(), &name_size, nullptr, &type,
                               data.data(), &data_size, &why);
        if (r == api::kNoMoreItems) break;
        if (enumeration_broken(r)) {
            note(refusal(what("cannot list the values of", subject), subject, Target::key, r, why));
            break;
        }
        if (only_type != -1 && type != static_cast<api::Dword>(only_type)) continue;
        if (r == api::kMoreData) {
            note(failure(Code::does_not_fit, what("cannot list the values of", subject),
                         "value number " + std::to_string(index + 1) +
                             " has more than 255 bytes of data or a name of more than 254 "
                             "characters, and is listed without them"));
        }
        names.push_back(
            trim_spaces(utf8(std::string_view(name.data(), std::min(name_size, kNameBuffer)))));
        const std::string& listed = names.back();
        switch (type) {
            case api::kBinary:
                if (data_size > 0) {
                    const std::string_view bytes(reinterpret_cast<const char*>(data.data()),
                                                 std::min(data_size, kDataBuffer));
                    values.emplace_back(trim_spaces(self_.BinToStr(utf8(bytes))));
                } else {
                    values.emplace_back(std::string());
                }
                break;
            case api::kDword: {
                Answer<std::int32_t> number = read_dword(path, listed, 0);
                values.emplace_back(number.value);
                note(std::move(number.status));
                break;
            }
            case api::kString: {
                Answer<std::string> text = read_string(path, listed, "");
                values.emplace_back(std::move(text.value));
                note(std::move(text.status));
                break;
            }
            default:
                values.emplace_back(std::monostate{});
        }
        ++count;
    }
    api::RegCloseKey(enumeration);
    return {count, std::move(status)};
}

}  // namespace registry::detail

// --- The object's operations ------------------------------------------------------------------

void clsRegistryAccess::GetKeys(std::string& path, std::string& subkey, std::int32_t& hive) {
    using registry::kHives;
    using registry::detail::ascii_upper;
    using registry::detail::first_characters;
    using registry::detail::replace_ignoring_case;
    for (const registry::Hive& row : kHives)
        path = replace_ignoring_case(path, row.long_name, row.short_name);
    const std::size_t backslash = path.find('\\');
    std::string token;
    if (backslash == std::string::npos) {
        token = ascii_upper(path);
        subkey.clear();
    } else {
        token = ascii_upper(first_characters(path, 4));
        subkey = path.substr(backslash + 1);
    }
    hive = 0;
    for (const registry::Hive& row : kHives) {
        if (token == row.short_name) {
            hive = static_cast<std::int32_t>(row.handle);
            break;
        }
    }
}

std::int32_t clsRegistryAccess::CreateKey(std::string sPath) {
    Operations op(*this);
    return op.run([&] { return op.create_key(sPath); });
}

std::int32_t clsRegistryAccess::KillKey(std::string sPath) {
    Operations op(*this);
    return op.run([&] { return op.kill_key(sPath); });
}

bool clsRegistryAccess::KeyExists(std::string sPath) {
    Operations op(*this);
    return op.run([&] { return op.key_exists(sPath); });
}

bool clsRegistryAccess::HaveSubkey(std::string sPath) {
    Operations op(*this);
    return op.run([&] { return op.have_subkey(sPath); });
}

std::int32_t clsRegistryAccess::EnumKeys(std::string sPath, std::vector<std::string>& Key) {
    Operations op(*this);
    return op.run([&] { return op.enum_keys(sPath, Key); });
}

std::int32_t clsRegistryAccess::WriteString(std::string sPath, std::string sName,
                                            std::string sValue) {
    Operations op(*this);
    return op.run([&] {
        if (sName == "@") sName.clear();
        return op.write_value(sPath, std::move(sName), registry::platform::kString,
                              std::move(sValue));
    });
}

std::string clsRegistryAccess::ReadString(std::string sPath, std::string sName,
                                          const std::string& sDefault) {
    Operations op(*this);
    return op.run([&] { return op.read_string(sPath, sName, sDefault); });
}

std::int32_t clsRegistryAccess::WriteDWORD(std::string sPath, std::string sName,
                                           std::int32_t lValue) {
    Operations op(*this);
    return op.run([&] {
        const auto value = static_cast<std::uint32_t>(lValue);
        const std::string data{static_cast<char>(value), static_cast<char>(value >> 8),
                               static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        return op.write_value(sPath, std::move(sName), registry::platform::kDword, data);
    });
}

std::int32_t clsRegistryAccess::ReadDWORD(std::string sPath, std::string sName,
                                          std::int32_t lDefault) {
    Operations op(*this);
    return op.run([&] { return op.read_dword(sPath, sName, lDefault); });
}

std::int32_t clsRegistryAccess::WriteBinary(std::string sPath, std::string sName,
                                            std::string sValue) {
    Operations op(*this);
    return op.run([&] {
        return op.write_value(sPath, std::move(sName), registry::platform::kBinary,
                              std::move(sValue));
    });
}

std::string clsRegistryAccess::ReadBinary(std::string sPath, std::string sName,
                                          const std::string& sDefault) {
    Operations op(*this);
    return op.run([&] { return op.read_binary(sPath, sName, sDefault); });
}

std::int32_t clsRegistryAccess::KillValue(std::string sPath, std::string sName) {
    Operations op(*this);
    return op.run([&] { return op.kill_value(sPath, sName); });
}

bool clsRegistryAccess::ValueExists(std::string sPath, std::string sName) {
    Operations op(*this);
    return op.run([&] { return op.value_exists(sPath, sName); });
}

std::int32_t clsRegistryAccess::EnumValues(std::string sPath, std::vector<std::string>& sName,
                                           std::vector<RegistryValue>& sValue,
                                           std::int32_t OnlyType) {
    Operations op(*this);
    return op.run([&] { return op.enum_values(sPath, sName, sValue, OnlyType); });
}

// --- Hex text ---------------------------------------------------------------------------------

std::string clsRegistryAccess::StrToBin(std::string& sBin) {
    using namespace registry::detail;
    status_ = {};
    std::erase(sBin, ' ');
    if (sBin.empty()) return {};
    const std::string digits = ansi(sBin);  // one byte per character
    if (digits.size() > registry::kMaxHexTextLength) {
        status_ = failure(RegistryStatusCode::error_raised, "cannot convert hex text",
                          "error 6: Overflow");
        throw OverflowError();
    }
    // Pieces of two characters; an odd length's single last character counts only when the
    // number of pieces, the length halved and rounded to even, reaches it.
    const std::size_t half = digits.size() / 2;
    const std::size_t pieces = digits.size() % 2 == 0 ? half : (half % 2 == 1 ? half + 1 : half);
    std::string bytes;
    bytes.reserve(pieces);
    for (std::size_t i = 0; i < pieces; ++i) {
        bytes += static_cast<char>(hex_prefix_value(std::string_view(digits).substr(2 * i, 2)));
    }
    return utf8(bytes);
}

std::string clsRegistryAccess::BinToStr(const std::string& sStr) {
    using namespace registry::detail;
    status_ = {};
    if (sStr.empty()) return {};
    const std::string bytes = ansi(sStr);
    if (bytes.size() > registry::kMaxHexTextLength) {
        status_ = failure(RegistryStatusCode::error_raised, "cannot convert to hex text",
                          "error 6: Overflow");
        throw OverflowError();
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        hex += ' ';
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0xF];
    }
    return hex;
}

bool clsRegistryAccess::isBinValid(std::string sBin) {
    status_ = {};
    std::erase(sBin, ' ');
    if (sBin.empty()) return false;
    for (const char c : sBin) {
        if (std::string_view("0123456789ABCDEFabcdef").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

}  // namespace syskit
