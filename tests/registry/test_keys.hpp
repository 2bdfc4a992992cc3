// What the registry tests share (free of the test framework, for the conformance program too):
// keys, numbers through the call surface, on Linux scratch directories and the store's directory.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "registry/platform.hpp"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <unistd.h>
#endif

namespace registry_test_keys {

namespace api = syskit::registry::platform;

// Wine's registry differs from Windows' in a few places (docs/registry.md); the store is Windows'.
inline bool on_wine() {
#if defined(_WIN32)
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}

// The names of a key's subkeys in the registry's order (Wine's 256-character names too).
inline std::vector<std::string> subkeys(api::Handle key) {
    std::vector<std::string> names;
    char name[300];
    for (api::Dword i = 0, size = sizeof name;
         api::RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) ==
         api::kSuccess;
         ++i, size = sizeof name) {
        names.emplace_back(name, size);
    }
    return names;
}

// Deletes a key and everything below it (stepping over what cannot go); true when it is gone.
inline bool delete_tree(api::Handle parent, const std::string& path) {
    api::Handle key = 0;
    if (api::RegOpenKeyExA(parent, path.c_str(), 0, api::kKeyAllAccess, &key) != api::kSuccess)
        return false;
    std::size_t kept = 0;
    for (std::vector<std::string> names = subkeys(key); names.size() > kept; names = subkeys(key))
        if (!delete_tree(key, names[kept])) ++kept;
    api::RegCloseKey(key);
    return api::RegDeleteKeyA(parent, path.c_str()) == api::kSuccess;
}

inline api::Result set_dword(api::Handle key, const std::string& name, api::Dword value,
                             api::Refusal* why = nullptr) {
    std::uint8_t data[4];
    std::memcpy(data, &value, 4);
    return api::RegSetValueExA(key, name.c_str(), 0, api::kDword, data, 4, why);
}

// The REG_DWORD value `name` of `key`, or -1 when it cannot be read as one.
inline std::int64_t dword_of(api::Handle key, const std::string& name) {
    api::Dword type = 0, value = 0, size = 4;
    const api::Result r = api::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                                reinterpret_cast<std::uint8_t*>(&value), &size);
    return r == api::kSuccess && type == api::kDword && size == 4 ? std::int64_t{value} : -1;
}

// A name that no other test process uses at the same time: CTest runs the cases side by side, and
// under Windows they share one registry.
inline std::string unique_name(const std::string& prefix) {
    static int count = 0;
#if defined(_WIN32)
    const auto process = GetCurrentProcessId();
#else
    const auto process = getpid();
#endif
    return prefix + std::to_string(process) + "-" + std::to_string(++count);
}

#if !defined(_WIN32)
// A new empty directory for one test, removed with everything below it at the end.
class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/syskit-registry-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code error;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
        std::filesystem::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const char* name = "HKEY_CURRENT_USER.db") const {
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

// The store's directory while it lives (empty: the default); then the default and its variables.
class StoreDirectory {
  public:
    explicit StoreDirectory(const std::filesystem::path& directory = {}) {
        for (std::size_t i = 0; i < kVariables.size(); ++i)
            if (const char* value = std::getenv(kVariables[i])) saved_[i] = value;
        syskit::registry::set_store_directory(directory);
    }
    ~StoreDirectory() {
        for (std::size_t i = 0; i < kVariables.size(); ++i)
            saved_[i] ? setenv(kVariables[i], saved_[i]->c_str(), 1) : unsetenv(kVariables[i]);
        syskit::registry::set_store_directory({});
    }
    StoreDirectory(const StoreDirectory&) = delete;

  private:
    static constexpr std::array<const char*, 3> kVariables{"SYSKIT_REGISTRY", "XDG_DATA_HOME",
                                                           "HOME"};
    std::array<std::optional<std::string>, 3> saved_;
};
#endif

}  // namespace registry_test_keys
