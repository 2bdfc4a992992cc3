// The statuses of clsRegistryAccess: what an operation met, in one line that names what it
// concerns.
//
// Messages read "<what the operation could not do>: <why>", for example "cannot write value 'v'
// of key 'HKCU\Software\Demo': registry database '/home/u/.local/share/syskit/registry/
// HKEY_CURRENT_USER.db' is read-only: Permission denied". The reason is the store's own when it
// gave one (it names the database file), else the platform's result code in words. Names are
// quoted with control characters escaped and long names shortened, so a message stays one
// readable line whatever the caller passed.
#include <string>
#include <string_view>

#include "registry/operations.hpp"
#include "registry/text_helpers.hpp"
#include "syskit/text.hpp"

namespace syskit::registry::detail {
namespace {

namespace api = platform;

// Names longer than this are shown by their start and their length.
constexpr std::size_t kLongestShown = 64;
constexpr std::size_t kShownOfLong = 48;

// True when a key name of the path, or the value name, is longer than the registry allows.
bool names_too_long(const Subject& subject) {
    std::string_view path = subject.path;
    for (std::size_t start = path.find('\\'); start != std::string_view::npos;) {
        const std::size_t end = path.find('\\', start + 1);
        const std::string_view name =
            path.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        if (text::char_count(name) > kMaxKeyNameLength) return true;
        start = end;
    }
    return subject.name != nullptr && text::char_count(*subject.name) > kMaxValueNameLength;
}

}  // namespace

std::string quote(std::string_view text) {
    const std::size_t characters = text::char_count(text);
    const std::string shown =
        characters > kLongestShown ? first_characters(text, kShownOfLong) : std::string(text);
    std::string out = "'";
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            out += "\\x";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    if (characters > kLongestShown) {
        return out + "\u2026' (" + std::to_string(characters) + " characters)";
    }
    return out + "'";
}

std::string describe(const Subject& subject) {
    const std::string key = "key " + quote(subject.path);
    if (subject.name == nullptr) return key;
    if (subject.name->empty()) return "the default value of " + key;
    return "value " + quote(*subject.name) + " of " + key;
}

RegistryStatus failure(RegistryStatusCode code, std::string_view what, std::string_view why,
                       std::string file) {
    RegistryStatus status;
    status.code = code;
    status.message.reserve(what.size() + why.size() + 2);
    status.message.append(what).append(": ").append(why);
    status.file = std::move(file);
    return status;
}

RegistryStatus unknown_root(std::string_view what, std::string_view path) {
    const std::string_view token = path.substr(0, path.find('\\'));
    if (token.empty()) {
        return failure(RegistryStatusCode::unknown_root, what, "the path names no root key");
    }
    return failure(RegistryStatusCode::unknown_root, what, "unknown root key " + quote(token));
}

RegistryStatus refusal(std::string_view what, const Subject& subject, Target target,
                       api::Result result, const api::Refusal& why) {
    using Code = RegistryStatusCode;
    RegistryStatus status;
    if (why.code != Code::ok) {
        status = failure(why.code, what, why.message, why.file);
    } else {
        switch (result) {
            case api::kFileNotFound:
                status = target == Target::value
                             ? failure(Code::no_such_value, what, "no such value")
                             : failure(Code::no_such_key, what, "no such key");
                break;
            case api::kKeyDeleted:
                status = failure(Code::no_such_key, what, "the key was deleted meanwhile");
                break;
            case api::kAccessDenied:
                status = failure(Code::access_denied, what, "access denied");
                break;
            case api::kNotEnoughMemory:
                status = failure(Code::out_of_memory, what, "out of memory");
                break;
            case api::kBadPathname:
                status = failure(Code::refused, what, "the subkey path begins with a backslash");
                break;
            default:
                if (result == api::kInvalidParameter && names_too_long(subject)) {
                    status = failure(Code::name_too_long, what,
                                     subject.name != nullptr &&
                                             text::char_count(*subject.name) > kMaxValueNameLength
                                         ? "the value name is longer than 16,383 characters"
                                         : "a key name is longer than 255 characters");
                } else {
                    std::string words =
                        "the registry refused the call (error " + std::to_string(result);
                    if (!why.message.empty()) words += ": " + why.message;
                    status = failure(Code::refused, what, words + ")");
                }
        }
    }
    status.result = result;
    return status;
}

}  // namespace syskit::registry::detail
