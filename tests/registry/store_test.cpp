// The embedded store's own behaviour, beyond what the conformance program checks on both
// platforms: where the databases live, handles, code-page names, listings that follow changes
// made elsewhere, deleted keys, and files that are not registry databases.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"

namespace registry_test {
namespace {

namespace fs = std::filesystem;
using namespace syskit::registry::platform;

class Store : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/syskit-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        syskit::registry::set_store_directory(dir_ / "registry");
    }
    void TearDown() override {
        syskit::registry::set_store_directory({});
        fs::remove_all(dir_);
    }

    static Handle create(Handle root, const char* path) {
        Handle key = 0;
        EXPECT_EQ(RegCreateKeyA(root, path, &key), kSuccess) << path;
        return key;
    }

    static std::vector<std::string> subkeys(Handle key) {
        std::vector<std::string> names;
        char name[256];
        Dword size = sizeof name;
        for (Dword i = 0;
             RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == kSuccess;
             ++i, size = sizeof name) {
            names.emplace_back(name, size);
        }
        return names;
    }

    fs::path dir_;
};

TEST_F(Store, DirectoryComesFromTheCallThenTheEnvironment) {
    EXPECT_EQ(syskit::registry::store_directory(), dir_ / "registry");
    syskit::registry::set_store_directory({});
    setenv("SYSKIT_REGISTRY", "/srv/registry", 1);
    EXPECT_EQ(syskit::registry::store_directory(), "/srv/registry");
    unsetenv("SYSKIT_REGISTRY");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(syskit::registry::store_directory(), "/data/syskit/registry");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the convention says
    setenv("HOME", "/home/user", 1);
    EXPECT_EQ(syskit::registry::store_directory(), "/home/user/.local/share/syskit/registry");
    unsetenv("XDG_DATA_HOME");
}

TEST_F(Store, EachRootIsADatabaseOfItsOwnCreatedOnFirstUse) {
    EXPECT_FALSE(fs::exists(dir_ / "registry"));
    RegCloseKey(create(kCurrentUser, "Software\\Only here"));
    EXPECT_TRUE(fs::exists(dir_ / "registry" / "HKEY_CURRENT_USER.db"));
    Handle key = 0;
    EXPECT_EQ(RegOpenKeyExA(kLocalMachine, "Software\\Only here", 0, kKeyRead, &key),
              kFileNotFound);
    EXPECT_TRUE(fs::exists(dir_ / "registry" / "HKEY_LOCAL_MACHINE.db"));
}

TEST_F(Store, HandlesAreDistinctNonZeroAndOutsideThePredefinedRange) {
    std::set<Handle> seen;
    std::vector<Handle> open;
    for (int i = 0; i < 200; ++i) {
        Handle key = 0;
        ASSERT_EQ(RegOpenKeyExA(kCurrentUser, "", 0, kKeyRead, &key), kSuccess);
        EXPECT_NE(key, 0u);
        EXPECT_LT(key, kClassesRoot);
        EXPECT_TRUE(seen.insert(key).second);
        open.push_back(key);
    }
    for (const Handle key : open) EXPECT_EQ(RegCloseKey(key), kSuccess);
    for (const Handle key : open) EXPECT_EQ(RegCloseKey(key), kInvalidHandle);
}

TEST_F(Store, CodePageLettersMatchWhateverTheirCase) {
    const Handle key = create(kCurrentUser, "Software\\\xC9t\xE9");  // "Été"
    Handle same = 0;
    EXPECT_EQ(RegOpenKeyExA(kCurrentUser, "SOFTWARE\\\xC9T\xC9", 0, kKeyRead, &same), kSuccess);
    RegCloseKey(same);
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(key, "\x9A\xFF", 0, kDword, one, 4), kSuccess);  // "šÿ"
    Dword size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "\x8A\x9F", nullptr, nullptr, nullptr, &size),
              kSuccess);  // "ŠŸ"
    EXPECT_EQ(size, 4u);
    RegCloseKey(key);
}

TEST_F(Store, ListingsFollowChangesThroughOtherHandlesAndProcesses) {
    const Handle list = create(kCurrentUser, "Software\\List");
    RegCloseKey(create(list, "b"));
    EXPECT_EQ(subkeys(list), std::vector<std::string>{"b"});
    RegCloseKey(create(kCurrentUser, "Software\\List\\a"));  // another handle
    EXPECT_EQ(subkeys(list), (std::vector<std::string>{"a", "b"}));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // another process, with a connection of its own
        Handle key = 0;
        const bool ok = RegCreateKeyA(kCurrentUser, "Software\\List\\c", &key) == kSuccess &&
                        RegDeleteKeyA(kCurrentUser, "Software\\List\\a") == kSuccess;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(subkeys(list), (std::vector<std::string>{"b", "c"}));
    RegCloseKey(list);
}

TEST_F(Store, ADeletedKeyStaysDeletedEvenWhenItsNameComesBack) {
    const Handle old_key = create(kCurrentUser, "Software\\Phoenix");
    EXPECT_EQ(RegDeleteKeyA(kCurrentUser, "Software\\Phoenix"), kSuccess);
    const Handle new_key = create(kCurrentUser, "Software\\Phoenix");
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(old_key, "n", 0, kDword, one, 4), kKeyDeleted);
    EXPECT_EQ(RegSetValueExA(new_key, "n", 0, kDword, one, 4), kSuccess);
    Handle reader = 0;
    ASSERT_EQ(RegOpenKeyExA(new_key, "", 0, kKeyRead, &reader), kSuccess);
    EXPECT_EQ(RegDeleteKeyA(reader, ""), kAccessDenied);  // deleting needs DELETE access
    for (const Handle h : {old_key, new_key, reader}) EXPECT_EQ(RegCloseKey(h), kSuccess);
}

TEST_F(Store, FilesThatAreNotRegistryDatabasesAreRefusedAndLeftAlone) {
    fs::create_directories(dir_ / "registry");
    const fs::path file = dir_ / "registry" / "HKEY_USERS.db";
    std::ofstream(file) << "just some text, long enough to be taken for a database header......";
    const auto before = fs::file_size(file);
    Handle key = 0;
    EXPECT_EQ(RegOpenKeyExA(kUsers, "", 0, kKeyRead, &key), kBadDatabase);
    EXPECT_NE(syskit::registry::last_store_error().find(file.string()), std::string::npos)
        << syskit::registry::last_store_error();
    EXPECT_EQ(RegCreateKeyA(kUsers, "x", &key), kBadDatabase);
    EXPECT_EQ(fs::file_size(file), before);
    // The other roots are not affected.
    RegCloseKey(create(kCurrentUser, "Software"));
}

}  // namespace
}  // namespace registry_test
