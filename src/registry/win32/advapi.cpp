// The registry call surface on Windows: advapi32 itself.
//
// Handles cross the surface as 32-bit values. The predefined roots are the sign-extended values
// 0x80000000 to 0x80000006 on 64-bit Windows too, and handles of opened keys are small kernel
// handle values, so a handle keeps its value both ways: values from 0x80000000 up are
// sign-extended back into an HKEY, smaller ones zero-extended.
#include <windows.h>

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

// Stores an opened key in the caller's handle when the call succeeded.
Result opened(LONG result, HKEY key, Handle* out) {
    if (result == ERROR_SUCCESS && out != nullptr) *out = from_hkey(key);
    return static_cast<Result>(result);
}

}  // namespace

Result RegOpenKeyA(Handle key, const char* subkey, Handle* result) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegOpenKeyA(to_hkey(key), subkey, &opened_key);
    return opened(r, opened_key, result);
}

Result RegOpenKeyExA(Handle key, const char* subkey, Dword options, Access access, Handle* result) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegOpenKeyExA(to_hkey(key), subkey, options, access, &opened_key);
    return opened(r, opened_key, result);
}

Result RegCreateKeyA(Handle key, const char* subkey, Handle* result) {
    HKEY opened_key = nullptr;
    const LONG r = ::RegCreateKeyA(to_hkey(key), subkey, &opened_key);
    return opened(r, opened_key, result);
}

Result RegDeleteKeyA(Handle key, const char* subkey) {
    return static_cast<Result>(::RegDeleteKeyA(to_hkey(key), subkey));
}

Result RegEnumKeyExA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     char* class_name, Dword* class_size, void* last_write_time) {
    DWORD size = name_size != nullptr ? *name_size : 0;
    DWORD class_length = class_size != nullptr ? *class_size : 0;
    const LONG r = ::RegEnumKeyExA(
        to_hkey(key), index, name, name_size != nullptr ? &size : nullptr,
        reinterpret_cast<LPDWORD>(reserved), class_name,
        class_size != nullptr ? &class_length : nullptr, static_cast<FILETIME*>(last_write_time));
    if (name_size != nullptr) *name_size = size;
    if (class_size != nullptr) *class_size = class_length;
    return static_cast<Result>(r);
}

Result RegEnumValueA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     Dword* type, std::uint8_t* data, Dword* data_size) {
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
    return static_cast<Result>(r);
}

Result RegQueryValueExA(Handle key, const char* name, Dword* reserved, Dword* type,
                        std::uint8_t* data, Dword* data_size) {
    DWORD value_type = type != nullptr ? *type : 0;
    DWORD length = data_size != nullptr ? *data_size : 0;
    const LONG r = ::RegQueryValueExA(to_hkey(key), name, reinterpret_cast<LPDWORD>(reserved),
                                      type != nullptr ? &value_type : nullptr, data,
                                      data_size != nullptr ? &length : nullptr);
    if (type != nullptr) *type = value_type;
    if (data_size != nullptr) *data_size = length;
    return static_cast<Result>(r);
}

Result RegSetValueExA(Handle key, const char* name, Dword reserved, Dword type,
                      const std::uint8_t* data, Dword data_size) {
    return static_cast<Result>(
        ::RegSetValueExA(to_hkey(key), name, reserved, type, data, data_size));
}

Result RegDeleteValueA(Handle key, const char* name) {
    return static_cast<Result>(::RegDeleteValueA(to_hkey(key), name));
}

Result RegCloseKey(Handle key) {
    return static_cast<Result>(::RegCloseKey(to_hkey(key)));
}

}  // namespace syskit::registry::platform
