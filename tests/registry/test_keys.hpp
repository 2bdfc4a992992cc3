// What the registry tests share between the embedded store and the platform registry: telling
// Wine's registry apart from Windows', and removing a test's key with everything below it.
//
// Header-only and free of the test framework, so that the conformance program, which builds with
// nothing but the cross compiler, can use it as well as the GoogleTest programs.
#pragma once

#include <string>

#include "registry/platform.hpp"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace registry_test_keys {

// Wine's registry differs from Windows' in a few documented places (docs/registry.md). The store
// follows Windows; the tests expect Wine's answer only when they run under Wine.
inline bool on_wine() {
#if defined(_WIN32)
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}

// Deletes a key and everything below it (the platform deletes only keys without subkeys); true
// when the key is gone. The name buffer takes Wine's 256-character key names too. A subkey that
// cannot be deleted is stepped over, so the walk ends instead of asking for it again for ever.
inline bool delete_tree(syskit::registry::platform::Handle parent, const std::string& path) {
    namespace api = syskit::registry::platform;
    api::Handle key = 0;
    if (api::RegOpenKeyExA(parent, path.c_str(), 0, api::kKeyAllAccess, &key) != api::kSuccess)
        return false;
    for (api::Dword index = 0;;) {
        char name[300];
        api::Dword size = sizeof name;
        if (api::RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            api::kSuccess)
            break;
        if (!delete_tree(key, std::string(name, size))) ++index;
    }
    api::RegCloseKey(key);
    return api::RegDeleteKeyA(parent, path.c_str()) == api::kSuccess;
}

}  // namespace registry_test_keys
