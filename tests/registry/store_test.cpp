// The embedded store beyond the conformance program: where its databases live, names and texts in
// each thread's code page, listings that follow other handles and processes, deleted keys' handles.
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "registry/platform.hpp"
#include "support/thread_page.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"
#include "test_keys.hpp"

namespace registry_test {
namespace {

namespace fs = std::filesystem;
using namespace syskit::registry::platform;
using registry_test_keys::in_child;
using registry_test_keys::set_dword;
using registry_test_keys::subkeys;
using Names = std::vector<std::string>;

class Store : public testing::Test {
  protected:
    static Handle create(Handle root, const std::string& path) {
        Handle key = 0;
        EXPECT_EQ(RegCreateKeyA(root, path.c_str(), &key), kSuccess) << path;
        return key;
    }
    registry_test_keys::ScratchDir dir_;
    registry_test_keys::StoreDirectory store_{dir_.path()};
};

TEST_F(Store, DirectoryComesFromTheCallThenTheEnvironmentAndIsNeverRelative) {
    const fs::path cwd = fs::current_path(), user_data = ".local/share/syskit/registry";
    const passwd* account = getpwuid(getuid());
    const fs::path home = account != nullptr ? account->pw_dir : "";
    struct Case {
        const char *chosen, *registry, *data, *home;  // the call, then the variables; null: unset
        fs::path expected;
    } const cases[] = {
        {"/srv/chosen", "/srv/registry", "/data", "/home/user", "/srv/chosen"},
        {"chosen", "/srv/registry", nullptr, nullptr, cwd / "chosen"},
        {"", "/srv/registry", "/data", "/home/user", "/srv/registry"},
        {"", "relative", "/data", "/home/user", cwd / "relative"},
        {"", "", "/data", "/home/user", "/data/syskit/registry"},
        {"", nullptr, "relative", "/home/user", "/home/user" / user_data},
        {"", nullptr, nullptr, nullptr, home / user_data},
        {"", nullptr, nullptr, "home", home / user_data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("chosen '") + c.chosen + "'");
        for (const auto& [name, value] : {std::pair{"SYSKIT_REGISTRY", c.registry},
                                          {"XDG_DATA_HOME", c.data},
                                          {"HOME", c.home}})
            value == nullptr ? unsetenv(name) : setenv(name, value, 1);
        syskit::registry::set_store_directory(c.chosen);  // reads the environment again
        EXPECT_EQ(syskit::registry::store_directory(), c.expected);
    }
    // Each root key is a database of its own, made on first use, and its refusals name it.
    syskit::registry::set_store_directory(dir_.path() / "registry");
    RegCloseKey(create(kCurrentUser, "Software"));
    Handle key = 0;
    EXPECT_EQ(RegOpenKeyExA(kLocalMachine, "Software", 0, kKeyRead, &key), kFileNotFound);
    EXPECT_TRUE(fs::exists(dir_.path() / "registry" / "HKEY_LOCAL_MACHINE.db"));
    Refusal why;
    EXPECT_EQ(set_dword(kUsers, std::string(16384, 'v'), 1, &why), kInvalidParameter);
    EXPECT_EQ(why.file, (dir_.path() / "registry" / "HKEY_USERS.db").string());
    // No HOME and no account home (an unknown user): no directory, and every call says why.
    uid_t unknown = 54321;
    while (getpwuid(unknown) != nullptr && unknown < 54421) ++unknown;
    if (getuid() != 0 || getpwuid(unknown) != nullptr) return;
    EXPECT_EQ(in_child(false, [&] {
        for (const char* name : {"SYSKIT_REGISTRY", "XDG_DATA_HOME", "HOME"}) unsetenv(name);
        syskit::registry::set_store_directory({});
        ASSERT_EQ(setuid(unknown), 0);
        try {
            (void)syskit::registry::store_directory();
            ADD_FAILURE() << "a directory without HOME";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("HOME"), std::string::npos);
        }
        why = {};
        EXPECT_EQ(RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &key, &why),
                  kRegistryIoFailed);
        EXPECT_TRUE(why.code == syskit::RegistryStatusCode::io_error &&
                    why.message.find("SYSKIT_REGISTRY") != std::string::npos);
    }), 0);
}

// Names match whatever their case in the thread's code page; under another page names and texts
// read back as its characters, '?' for those it lacks (and such a name then finds nothing).
TEST_F(Store, NamesAndTextsAreCharactersOfTheThreadsCodePage) {
    const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";  // Привет in Windows-1251
    Handle key = 0;
    {
        const ThreadPage page(1253);
        RegCloseKey(create(kCurrentUser, "\xDC"));  // ά, found as Ά
        EXPECT_EQ(RegOpenKeyExA(kCurrentUser, "\xA2", 0, kKeyRead, &key), kSuccess);
        RegCloseKey(key);
        const ThreadPage other(1251);
        key = create(kCurrentUser, "Software\\" + hello);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(hello.data());
        EXPECT_EQ(RegSetValueExA(key, hello.c_str(), 0, kString, bytes, 6), kSuccess);
    }
    for (const auto& [page, read] : {std::pair{1251, hello}, {1252, std::string(6, '?')}}) {
        const ThreadPage reader(page);
        const ReadSnapshot snapshot;  // a query of the name just listed is answered from the list
        char name[16];
        std::uint8_t data[16];
        Dword name_size = sizeof name, data_size = sizeof data;
        ASSERT_EQ(RegEnumValueA(key, 0, name, &name_size, nullptr, nullptr, data, &data_size), 0);
        EXPECT_EQ(std::string(name, name_size) + "=" + reinterpret_cast<char*>(data),
                  read + "=" + read);
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr),
                  page == 1251 ? kSuccess : kFileNotFound);
    }
    RegCloseKey(key);
}

TEST_F(Store, ListingsFollowChangesThroughOtherHandlesAndProcesses) {
    const Handle list = create(kCurrentUser, "Software\\List");
    RegCloseKey(create(list, "b"));
    EXPECT_EQ(subkeys(list), Names{"b"});
    RegCloseKey(create(kCurrentUser, "Software\\List\\a"));  // another handle
    EXPECT_EQ(subkeys(list), (Names{"a", "b"}));
    ASSERT_EQ(in_child(false, [] {  // another process, with a connection of its own
        Handle key = 0;
        EXPECT_EQ(RegCreateKeyA(kCurrentUser, "Software\\List\\c", &key), kSuccess);
        EXPECT_EQ(RegDeleteKeyA(kCurrentUser, "Software\\List\\a"), kSuccess);
    }), 0);
    EXPECT_EQ(subkeys(list), (Names{"b", "c"}));
    RegCloseKey(list);
}

// A deleted key's handle answers KEY_DELETED, also when its name is back and for a call its rights
// would not allow (rights are checked on a live key only).
TEST_F(Store, ADeletedKeyStaysDeletedEvenWhenItsNameComesBack) {
    const Handle old_key = create(kCurrentUser, "Software\\Phoenix");
    Handle reader = 0, writer = 0;
    ASSERT_EQ(RegOpenKeyExA(old_key, "", 0, kKeyRead, &reader), kSuccess);
    ASSERT_EQ(RegOpenKeyExA(old_key, "", 0, kKeyWrite, &writer), kSuccess);
    EXPECT_EQ(RegDeleteKeyA(reader, ""), kAccessDenied);  // deleting needs DELETE access
    EXPECT_EQ(RegDeleteKeyA(kCurrentUser, "Software\\Phoenix"), kSuccess);
    const Handle new_key = create(kCurrentUser, "Software\\Phoenix");
    EXPECT_EQ(set_dword(old_key, "n", 1), kKeyDeleted);
    EXPECT_EQ(set_dword(reader, "n", 1), kKeyDeleted);
    EXPECT_EQ(RegDeleteValueA(reader, "n"), kKeyDeleted);
    EXPECT_EQ(RegQueryValueExA(writer, "n", nullptr, nullptr, nullptr, nullptr), kKeyDeleted);
    EXPECT_EQ(set_dword(new_key, "n", 1), kSuccess);
    for (const Handle h : {old_key, new_key, reader, writer}) EXPECT_EQ(RegCloseKey(h), kSuccess);
}

}  // namespace
}  // namespace registry_test
