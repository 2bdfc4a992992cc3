// The embedded store's own behaviour, beyond what the conformance program checks on both
// platforms: where the databases live (never on a relative path), handles, names and texts in the
// code page of each thread, listings that follow changes made elsewhere, deleted keys, files that
// are not registry databases, and names beyond the limits.
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"

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

// The calling thread's code page while it lives.
struct Page {
    explicit Page(int page) { EXPECT_TRUE(syskit::text::set_code_page(page)) << page; }
    ~Page() { syskit::text::set_code_page(0); }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;
};

// The environment the directory comes from, set for one case and put back afterwards.
struct Environment {
    const char* registry;  // SYSKIT_REGISTRY; null: unset
    const char* data;      // XDG_DATA_HOME
    const char* home;      // HOME
};

void apply(const char* name, const char* value) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

void apply(const Environment& environment) {
    apply("SYSKIT_REGISTRY", environment.registry);
    apply("XDG_DATA_HOME", environment.data);
    apply("HOME", environment.home);
}

// The account's home directory, as the password database has it.
fs::path account_home() {
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_dir : "";
}

TEST_F(Store, DirectoryComesFromTheCallThenTheEnvironmentAndIsNeverRelative) {
    std::map<std::string, std::optional<std::string>> saved;  // put back at the end
    for (const char* name : {"SYSKIT_REGISTRY", "XDG_DATA_HOME", "HOME"}) {
        const char* value = std::getenv(name);
        saved[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    const fs::path cwd = fs::current_path();
    const fs::path user_data = fs::path(".local") / "share" / "syskit" / "registry";
    struct Case {
        const char* chosen;
        Environment environment;
        fs::path expected;
    };
    const Case cases[] = {
        {"/srv/chosen", {"/srv/registry", "/data", "/home/user"}, "/srv/chosen"},
        {"chosen", {"/srv/registry", nullptr, nullptr}, cwd / "chosen"},
        {"", {"/srv/registry", "/data", "/home/user"}, "/srv/registry"},
        {"", {"relative", "/data", "/home/user"}, cwd / "relative"},
        {"", {"", "/data", "/home/user"}, "/data/syskit/registry"},
        // Not absolute: ignored, as the convention says.
        {"", {nullptr, "relative", "/home/user"}, fs::path("/home/user") / user_data},
        {"", {nullptr, nullptr, nullptr}, account_home() / user_data},
        {"", {nullptr, nullptr, ""}, account_home() / user_data},
        {"", {nullptr, nullptr, "home"}, account_home() / user_data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("chosen '") + c.chosen + "'");
        apply(c.environment);
        syskit::registry::set_store_directory(c.chosen);  // reads the environment again
        EXPECT_EQ(syskit::registry::store_directory(), c.expected);
    }
    // No HOME and no account home: no directory, and every call on a root says why. The child
    // runs as a user the password database does not know.
    uid_t unknown = 54321;
    while (getpwuid(unknown) != nullptr && unknown < 54421) ++unknown;
    if (getuid() == 0 && getpwuid(unknown) == nullptr) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            apply(Environment{nullptr, nullptr, nullptr});
            syskit::registry::set_store_directory({});
            bool refused = false;
            if (setuid(unknown) == 0) {
                try {
                    (void)syskit::registry::store_directory();
                } catch (const std::runtime_error& error) {
                    refused = std::string(error.what()).find("HOME") != std::string::npos;
                }
                Handle key = 0;
                Refusal why;
                refused = refused &&
                          RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &key, &why) ==
                              kRegistryIoFailed &&
                          why.code == syskit::RegistryStatusCode::io_error &&
                          why.message.find("SYSKIT_REGISTRY") != std::string::npos;
            }
            _exit(refused ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (const auto& [name, value] : saved) apply(name.c_str(), value ? value->c_str() : nullptr);
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

TEST_F(Store, LettersOfEachCodePageMatchWhateverTheirCaseAndListInTheirOrder) {
    struct Case {
        int page;
        const char* name;
        const char* other_case;
    };
    const Case cases[] = {
        {1252, "\xC9t\xE9", "\xC9T\xC9"},  // Été
        {1252, "\x9A\xFF", "\x8A\x9F"},    // šÿ
        {1251, "\xE9", "\xC9"},            // й
        {1253, "\xDC", "\xA2"},            // ά
    };
    const Handle parent = create(kCurrentUser, "Software\\Cases");
    const std::uint8_t one[4] = {1, 0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Page page(c.page);
        const Handle key = create(parent, c.name);
        Handle same = 0;
        EXPECT_EQ(RegOpenKeyExA(parent, c.other_case, 0, kKeyRead, &same), kSuccess);
        RegCloseKey(same);
        EXPECT_EQ(RegSetValueExA(key, c.name, 0, kDword, one, 4), kSuccess);
        Dword size = 0;
        EXPECT_EQ(RegQueryValueExA(key, c.other_case, nullptr, nullptr, nullptr, &size), kSuccess);
        EXPECT_EQ(size, 4u);
        RegCloseKey(key);
    }
    // By upper-case characters: a, Ѓ (U+0403), Б (U+0411), Я (U+042F).
    const Page cyrillic(1251);
    const Handle order = create(kCurrentUser, "Software\\Order");
    for (const char* name : {"\xFF", "\x83", "\xC1", "a"}) RegCloseKey(create(order, name));
    EXPECT_EQ(subkeys(order), (std::vector<std::string>{"a", "\x83", "\xC1", "\xFF"}));
    RegCloseKey(order);
    RegCloseKey(parent);
}

// A name and a text written under one code page read back as the same characters under any
// other: those the reader's page lacks come back as '?', and bytes of that name find nothing.
// Binary data is bytes.
TEST_F(Store, NamesAndTextsAreCharactersWhateverTheCodePage) {
    const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";  // Привет in Windows-1251
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(hello.data());
    Handle key = 0;
    {
        const Page page(1251);
        key = create(kCurrentUser, ("Software\\" + hello).c_str());
        EXPECT_EQ(RegSetValueExA(key, hello.c_str(), 0, kString, bytes, 6), kSuccess);
        EXPECT_EQ(RegSetValueExA(key, "bin", 0, kBinary, bytes, 6), kSuccess);
    }
    for (const auto& [page, read] : {std::pair{1251, hello}, {1252, std::string(6, '?')}}) {
        SCOPED_TRACE(page);
        const Page reader(page);
        const ReadSnapshot snapshot;  // a query of the name just listed is answered from the list
        Handle software = 0;
        ASSERT_EQ(RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &software), kSuccess);
        EXPECT_EQ(subkeys(software), std::vector<std::string>{read});
        RegCloseKey(software);
        char name[16];
        std::uint8_t data[16];
        Dword name_size = sizeof name, data_size = sizeof data;
        ASSERT_EQ(RegEnumValueA(key, 0, name, &name_size, nullptr, nullptr, data, &data_size),
                  kSuccess);
        EXPECT_EQ(std::string(name, name_size), read);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), data_size), read + '\0');
        data_size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, data, &data_size),
                  page == 1251 ? kSuccess : kFileNotFound);
        data_size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "bin", nullptr, nullptr, data, &data_size), kSuccess);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), data_size), hello);
    }
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
    Refusal why;
    EXPECT_EQ(RegOpenKeyExA(kUsers, "", 0, kKeyRead, &key, &why), kBadDatabase);
    EXPECT_EQ(why.code, syskit::RegistryStatusCode::store_damaged);
    EXPECT_EQ(why.file, file.string());
    EXPECT_NE(why.message.find(file.string()), std::string::npos) << why.message;
    EXPECT_EQ(RegCreateKeyA(kUsers, "x", &key), kBadDatabase);
    EXPECT_EQ(fs::file_size(file), before);
    // The other roots are not affected.
    RegCloseKey(create(kCurrentUser, "Software"));
}

TEST_F(Store, NamesBeyondTheLimitsSaySoNamingTheDatabase) {
    const std::string file = (dir_ / "registry" / "HKEY_CURRENT_USER.db").string();
    Handle key = 0;
    Refusal why;
    EXPECT_EQ(RegCreateKeyA(kCurrentUser, std::string(256, 'k').c_str(), &key, &why),
              kInvalidParameter);
    EXPECT_EQ(why.code, syskit::RegistryStatusCode::name_too_long);
    EXPECT_EQ(why.file, file);
    why = {};
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(
        RegSetValueExA(kCurrentUser, std::string(16384, 'v').c_str(), 0, kDword, one, 4, &why),
        kInvalidParameter);
    EXPECT_EQ(why.code, syskit::RegistryStatusCode::name_too_long);
    EXPECT_NE(why.message.find(file), std::string::npos) << why.message;
}

}  // namespace
}  // namespace registry_test
