// The registry call surface on Windows: advapi32 itself.
//
// Handles cross the surface as 32-bit values. The predefined roots are the sign-extended values
// 0x80000000 to 0x80000006 on 64-bit Windows too, and handles of opened keys are small kernel
// handle values, so a handle keeps its value both ways: values from 0x80000000 up are
// sign-extended back into an HKEY, smaller ones zero-extended.
#include <windows.h>

#include <string>

#include "registry/platform.hpp"

namespace syskit::registry::platform {
namespace {

HKEY to_hkey(Handle key) {
    const auto value =
        key >= 0x80000000u
            ? static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(key)))
            : static_cast<ULONG_PTR>(key);
    return reinterpret_cast<HKEY>(value);
}

Handle from_hkey(HKEY key) {
    return static_cast<Handle>(reinterpret_cast<ULONG_PTR>(key));
}

// A call's result; a failure also in the system's own words, for a Refusal the caller gave.
Result answered(LONG result, Refusal* why) {
    if (result != ERROR_SUCCESS && why != nullptr) {
        char text[256] = {};
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(result), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                           text, sizeof text, nullptr);
        std::string message(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
        why->message = std::move(message);
    }
    return static_cast<Result>(result);
}

// Stores an opened key in the caller's handle when the call succeeded.
Result opened(LONG result, HKEY key, Handle* out, Refusal* why) {
    if (result == ERROR_SUCCESS && out != nullptr) *out = from_hkey(key);
    return answered(result, why);
}

}  // namespace

Result RegOpenKeyA(Handle key, const char* subkey, Handle* result, Refusal* why) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegOpenKeyA(to_hkey(key), subkey, &opened_key);
    return opened(r, opened_key, result, why);
}

Result RegOpenKeyExA(Handle key, const char* subkey, Dword options, Access access, Handle* result,
                     Refusal* why) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegOpenKeyExA(to_hkey(key), subkey, options, access, &opened_key);
    return opened(r, opened_key, result, why);
}

Result RegCreateKeyA(Handle key, const char* subkey, Handle* result, Refusal* why) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegCreateKeyA(to_hkey(key), subkey, &opened_key);
    return opened(r, opened_key, result, why);
}

Result RegDeleteKeyA(Handle key, const char* subkey, Refusal* why) {
    return answered(::RegDeleteKeyA(to_hkey(key), subkey), why);
}

Result RegEnumKeyExA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     char* class_name, Dword* class_size, void* last_write_time, Refusal* why) {
    DWORD size = name_size != nullptr ? *name_size : 0;
    DWORD class_length = class_size != nullptr ? *class_size : 0;
    const LONG r = ::RegEnumKeyExA(
        to_hkey(key), index, name, name_size != nullptr ? &size : nullptr,
        reinterpret_cast<LPDWORD>(reserved), class_name,
        class_size != nullptr ? &class_length : nullptr, static_cast<FILETIME*>(last_write_time));
    if (name_size != nullptr) *name_size = size;
    if (class_size != nullptr) *class_size = class_length;
    return answered(r, why);
}

Result RegEnumValueA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     Dword* type, std::uint8_t* data, Dword* data_size, Refusal* why) {
    DWORD size = name_size != nullptr ? *name_size : 0;
    DWORD value_type = type != nullptr ? *type : 0;
    DWORD length = data_size != nullptr ? *data_size : 0;
    const LONG r = ::RegEnumValueA(
        to_hkey(key), index, name, name_size != nullptr ? &size : nullptr,
        reinterpret_cast<LPDWORD>(reserved), type != nullptr ? &value_type : nullptr, data,
        data_size != nullptr ? &length : nullptr);
    if (name_size != nullptr) *name_size = size;
    if (type != nullptr) *type = value_type;
    if (data_size != nullptr) *data_size = length;
    return answered(r, why);
}

Result RegQueryValueExA(Handle key, const char* name, Dword* reserved, Dword* type,
                        std::uint8_t* data, Dword* data_size, Refusal* why) {
    DWORD value_type = type != nullptr ? *type : 0;
    DWORD length = data_size != nullptr ? *data_size : 0;
    const LONG r = ::RegQueryValueExA(to_hkey(key), name, reinterpret_cast<LPDWORD>(reserved),
                                      type != nullptr ? &value_type : nullptr, data,
                                      data_size != nullptr ? &length : nullptr);
    if (type != nullptr) *type = value_type;
    if (data_size != nullptr) *data_size = length;
    return answered(r, why);
}

Result RegSetValueExA(Handle key, const char* name, Dword reserved, Dword type,
                      const std::uint8_t* data, Dword data_size, Refusal* why) {
    return answered(::RegSetValueExA(to_hkey(key), name, reserved, type, data, data_size), why);
}

Result RegDeleteValueA(Handle key, const char* name, Refusal* why) {
    return answered(::RegDeleteValueA(to_hkey(key), name), why);
}

Result RegCloseKey(Handle key) {
    return static_cast<Result>(::RegCloseKey(to_hkey(key)));
}

// The platform registry serves each call on its own, quickly enough: nothing to group. It has no
// transactions either: what was written stays written, and abandon() says so.
ReadSnapshot::ReadSnapshot() = default;
ReadSnapshot::~ReadSnapshot() = default;
WriteBatch::WriteBatch(Commit commit) : at_finish_(commit == Commit::at_finish) {}
WriteBatch::~WriteBatch() = default;
bool WriteBatch::finish(Refusal*) {
    finished_ = true;
    return true;
}
bool WriteBatch::abandon() {
    finished_ = true;
    return false;
}

}  // namespace syskit::registry::platform
