// clsRegistryAccess: registry paths, keys, values, enumeration and the hex-text conversions.
//
// Every operation makes exactly the platform calls of its description, with the same subkey
// paths, access masks, buffer sizes and presets, and reads their results the same way, so the
// object answers alike over the embedded store and over the real registry: buffers are filled
// with spaces before a call and read back whole, sizes are preset, and only the results the
// description consults are consulted. Texts cross the platform as code-page bytes.
//
// One deliberate difference: an enumeration stops at a result that no later index can change
// (an invalid or deleted handle, access denied, a store failure) instead of listing it again and
// again for ever; see docs/registry.md.
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "registry/platform.hpp"
#include "registry/text_helpers.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace syskit {
namespace {

namespace api = registry::platform;
using namespace registry::detail;

constexpr std::uint32_t kNameBuffer = 255;  // subkey and value names in the enumerations
constexpr std::uint32_t kDataBuffer = 255;  // ReadString's text and EnumValues' data

// A result after which asking for the next index cannot give anything else.
bool enumeration_broken(api::Result r) {
    return r != api::kSuccess && r != api::kMoreData && r != api::kNoMoreItems;
}

std::uint32_t handle_of(std::int32_t hive) {
    return static_cast<std::uint32_t>(hive);
}

}  // namespace

// --- Paths and keys ---------------------------------------------------------------------------

void clsRegistryAccess::GetKeys(std::string& path, std::string& subkey, std::int32_t& hive) {
    for (const HiveRow& row : kHives)
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
    for (const HiveRow& row : kHives) {
        if (token == row.short_name) {
            hive = static_cast<std::int32_t>(row.handle);
            break;
        }
    }
}

void clsRegistryAccess::resolve(std::string& path) {
    std::string subkey;
    GetKeys(path, subkey, hive_);
    subkey_ = ansi(subkey);
}

std::int32_t clsRegistryAccess::CreateKey(std::string sPath) {
    resolve(sPath);
    if (api::RegCreateKeyA(handle_of(hive_), subkey_.c_str(), &key_) != api::kSuccess) return 0;
    api::RegCloseKey(key_);
    return static_cast<std::int32_t>(key_);
}

std::int32_t clsRegistryAccess::KillKey(std::string sPath) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyAllAccess, &key_) !=
        api::kSuccess) {
        return 0;
    }
    api::RegDeleteKeyA(key_, "");  // deletes the opened key itself; the result is not consulted
    api::RegCloseKey(key_);
    return static_cast<std::int32_t>(key_);
}

bool clsRegistryAccess::KeyExists(std::string sPath) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyAllAccess, &key_) !=
        api::kSuccess) {
        return false;
    }
    api::RegCloseKey(key_);
    return true;
}

bool clsRegistryAccess::HaveSubkey(std::string sPath) {
    resolve(sPath);
    if (api::RegOpenKeyA(handle_of(hive_), subkey_.c_str(), &key_) != api::kSuccess) return false;
    std::array<char, kNameBuffer> name;
    name.fill(' ');
    api::Dword size = kNameBuffer;
    const bool answer = api::RegEnumKeyExA(key_, 0, name.data(), &size, nullptr, nullptr, nullptr,
                                           nullptr) != api::kNoMoreItems;
    api::RegCloseKey(key_);
    return answer;
}

std::int32_t clsRegistryAccess::EnumKeys(std::string sPath, std::vector<std::string>& Key) {
    resolve(sPath);
    Key.clear();
    if (api::RegOpenKeyA(handle_of(hive_), subkey_.c_str(), &key_) != api::kSuccess) return -1;
    for (api::Dword index = 0;; ++index) {
        std::array<char, kNameBuffer> name;
        name.fill(' ');
        api::Dword size = kNameBuffer;
        const api::Result r =
            api::RegEnumKeyExA(key_, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (r == api::kNoMoreItems || enumeration_broken(r)) break;
        Key.push_back(utf8(std::string_view(name.data(), std::min<api::Dword>(size, kNameBuffer))));
    }
    api::RegCloseKey(key_);
    return static_cast<std::int32_t>(Key.size());
}

// --- Values -----------------------------------------------------------------------------------

namespace {

// The writers' first step: a missing key is created (result ignored) when the flag allows it.
bool writer_may_go_on(clsRegistryAccess& self, const std::string& path) {
    if (self.KeyExists(path)) return true;
    if (!self.CreateKeyIfDoesntExists()) return false;
    self.CreateKey(path);
    return true;
}

}  // namespace

std::int32_t clsRegistryAccess::WriteString(std::string sPath, std::string sName,
                                            std::string sValue) {
    if (!writer_may_go_on(*this, sPath)) return 0;
    resolve(sPath);
    if (sName == "@") sName.clear();
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyWrite, &key_) !=
        api::kSuccess)
        return 0;
    const std::string data = ansi(sValue);
    const api::Result r = api::RegSetValueExA(key_, ansi(sName).c_str(), 0, api::kString,
                                              reinterpret_cast<const std::uint8_t*>(data.data()),
                                              static_cast<api::Dword>(data.size()));
    api::RegCloseKey(key_);
    return r == api::kSuccess ? static_cast<std::int32_t>(key_) : 0;
}

std::string clsRegistryAccess::ReadString(std::string sPath, std::string sName,
                                          const std::string& sDefault) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyRead, &key_) !=
        api::kSuccess) {
        return sDefault;
    }
    std::array<std::uint8_t, kDataBuffer> buffer;
    buffer.fill(' ');
    api::Dword type = api::kString;
    api::Dword size = kDataBuffer;
    const api::Result r =
        api::RegQueryValueExA(key_, ansi(sName).c_str(), nullptr, &type, buffer.data(), &size);
    api::RegCloseKey(key_);
    if (r != api::kSuccess) return sDefault;
    // The text, its terminator and the spaces behind it: trimmed, then without the terminator.
    std::string text = trim_spaces(
        utf8(std::string_view(reinterpret_cast<const char*>(buffer.data()), kDataBuffer)));
    drop_last_character(text);
    return text;
}

std::int32_t clsRegistryAccess::WriteDWORD(std::string sPath, std::string sName,
                                           std::int32_t lValue) {
    if (!writer_may_go_on(*this, sPath)) return 0;
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyWrite, &key_) !=
        api::kSuccess)
        return 0;
    const auto value = static_cast<std::uint32_t>(lValue);
    const std::uint8_t data[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    const api::Result r = api::RegSetValueExA(key_, ansi(sName).c_str(), 0, api::kDword, data, 4);
    api::RegCloseKey(key_);
    return r == api::kSuccess ? static_cast<std::int32_t>(key_) : 0;
}

std::int32_t clsRegistryAccess::ReadDWORD(std::string sPath, std::string sName,
                                          std::int32_t lDefault) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyRead, &key_) !=
        api::kSuccess) {
        return lDefault;
    }
    std::uint8_t cell[4] = {0, 0, 0, 0};
    api::Dword type = api::kDword;
    api::Dword size = 4;
    const api::Result r =
        api::RegQueryValueExA(key_, ansi(sName).c_str(), nullptr, &type, cell, &size);
    api::RegCloseKey(key_);
    if (r != api::kSuccess) return lDefault;
    return static_cast<std::int32_t>(std::uint32_t(cell[0]) | std::uint32_t(cell[1]) << 8 |
                                     std::uint32_t(cell[2]) << 16 | std::uint32_t(cell[3]) << 24);
}

std::int32_t clsRegistryAccess::WriteBinary(std::string sPath, std::string sName,
                                            std::string sValue) {
    if (!writer_may_go_on(*this, sPath)) return 0;
    resolve(sPath);
    const std::string data = ansi(StrToBin(sValue));
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyWrite, &key_) !=
        api::kSuccess)
        return 0;
    const api::Result r = api::RegSetValueExA(key_, ansi(sName).c_str(), 0, api::kBinary,
                                              reinterpret_cast<const std::uint8_t*>(data.data()),
                                              static_cast<api::Dword>(data.size()));
    api::RegCloseKey(key_);
    return r == api::kSuccess ? static_cast<std::int32_t>(key_) : 0;
}

std::string clsRegistryAccess::ReadBinary(std::string sPath, std::string sName,
                                          const std::string& sDefault) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyRead, &key_) !=
        api::kSuccess) {
        return sDefault;
    }
    const std::string name = ansi(sName);
    // A size probe with a one-byte buffer (its result is not consulted), then the whole value.
    std::uint8_t probe = ' ';
    api::Dword type = api::kBinary;
    api::Dword size = 1;
    api::RegQueryValueExA(key_, name.c_str(), nullptr, &type, &probe, &size);
    std::string buffer(size, ' ');
    type = api::kBinary;
    const api::Result r = api::RegQueryValueExA(
        key_, name.c_str(), nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size);
    api::RegCloseKey(key_);
    if (r != api::kSuccess) return sDefault;
    return trim_spaces(BinToStr(utf8(buffer)));
}

std::int32_t clsRegistryAccess::KillValue(std::string sPath, std::string sName) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyWrite, &key_) !=
        api::kSuccess)
        return 0;
    api::RegDeleteValueA(key_, ansi(sName).c_str());  // the result is not consulted
    api::RegCloseKey(key_);
    return static_cast<std::int32_t>(key_);
}

bool clsRegistryAccess::ValueExists(std::string sPath, std::string sName) {
    resolve(sPath);
    if (api::RegOpenKeyExA(handle_of(hive_), subkey_.c_str(), 0, api::kKeyRead, &key_) !=
        api::kSuccess) {
        return false;
    }
    api::Dword type = 0;
    api::Dword size = 1;
    const api::Result r =
        api::RegQueryValueExA(key_, ansi(sName).c_str(), nullptr, &type, nullptr, &size);
    api::RegCloseKey(key_);
    return r == api::kSuccess;
}

std::int32_t clsRegistryAccess::EnumValues(std::string sPath, std::vector<std::string>& sName,
                                           std::vector<RegistryValue>& sValue,
                                           std::int32_t OnlyType) {
    resolve(sPath);
    api::Handle enumeration = 0;  // kept apart from key_, which the readers below reuse
    if (api::RegOpenKeyA(handle_of(hive_), subkey_.c_str(), &enumeration) != api::kSuccess)
        return -1;
    sName.clear();
    sValue.clear();
    std::int32_t count = 0;
    for (api::Dword index = 0;; ++index) {
        std::array<char, kNameBuffer> name;
        std::array<std::uint8_t, kDataBuffer> data;
        name.fill(' ');
        data.fill(' ');
        api::Dword name_size = kNameBuffer;
        api::Dword data_size = kDataBuffer;
        api::Dword type = 0;
        const api::Result r = api::RegEnumValueA(enumeration, index, name.data(), &name_size,
                                                 nullptr, &type, data.data(), &data_size);
        if (r == api::kNoMoreItems || enumeration_broken(r)) break;
        if (OnlyType != -1 && type != static_cast<api::Dword>(OnlyType)) continue;
        sName.push_back(
            trim_spaces(utf8(std::string_view(name.data(), std::min(name_size, kNameBuffer)))));
        const std::string& listed = sName.back();
        switch (type) {
            case api::kBinary:
                if (data_size > 0) {
                    const std::string_view bytes(reinterpret_cast<const char*>(data.data()),
                                                 std::min(data_size, kDataBuffer));
                    sValue.emplace_back(trim_spaces(BinToStr(utf8(bytes))));
                } else {
                    sValue.emplace_back(std::string());
                }
                break;
            case api::kDword:
                sValue.emplace_back(ReadDWORD(sPath, listed, 0));
                break;
            case api::kString:
                sValue.emplace_back(ReadString(sPath, listed, ""));
                break;
            default:
                sValue.emplace_back(std::monostate{});
        }
        ++count;
    }
    api::RegCloseKey(enumeration);
    return count;
}

// --- Hex text ---------------------------------------------------------------------------------

std::string clsRegistryAccess::StrToBin(std::string& sBin) {
    std::erase(sBin, ' ');
    if (sBin.empty()) return {};
    const std::string digits = ansi(sBin);  // one byte per character
    if (digits.size() > kLongestCountedText) throw OverflowError();
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
    if (sStr.empty()) return {};
    const std::string bytes = ansi(sStr);
    if (bytes.size() > kLongestCountedText) throw OverflowError();
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
    std::erase(sBin, ' ');
    if (sBin.empty()) return false;
    for (const char c : sBin) {
        if (std::string_view("0123456789ABCDEFabcdef").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

}  // namespace syskit
