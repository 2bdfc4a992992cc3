// Registry conformance: one program, built twice — against the embedded store on Linux and against
// advapi32 with mingw-w64, run under Wine — that must pass the same assertions on both. It covers
// every call, path shape, buffer size and result code the registry component relies on.
//
// It has its own minimal checks instead of a test framework so that the Windows build needs
// nothing but the cross compiler. Everything happens below HKEY_CURRENT_USER\Software\syskit
// conformance, which is removed before and after. Exit status 0 when every check passed.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "registry/platform.hpp"
#include "test_keys.hpp"

namespace {

using namespace syskit::registry::platform;

int g_failures = 0;
int g_checks = 0;

template <typename A, typename B>
void check_equal(const A& actual, const B& expected, const char* what, int line) {
    ++g_checks;
    if (actual == static_cast<A>(expected)) return;
    ++g_failures;
    std::printf("conformance.cpp:%d: %s is %lld, expected %lld\n", line, what,
                static_cast<long long>(actual), static_cast<long long>(expected));
}

void check_text(const std::string& actual, const std::string& expected, const char* what,
                int line) {
    ++g_checks;
    if (actual == expected) return;
    ++g_failures;
    std::printf("conformance.cpp:%d: %s is \"%s\" (%zu bytes), expected \"%s\" (%zu bytes)\n", line,
                what, actual.c_str(), actual.size(), expected.c_str(), expected.size());
}

#define CHECK_EQ(actual, expected) check_equal((actual), (expected), #actual, __LINE__)
#define CHECK_TEXT(actual, expected) check_text((actual), (expected), #actual, __LINE__)

using registry_test_keys::delete_tree;
using registry_test_keys::on_wine;

// Wine's answer where it differs from Windows (and the store) for a documented reason.
#define CHECK_WINDOWS(actual, windows, wine) \
    check_equal((actual), on_wine() ? (wine) : (windows), #actual, __LINE__)
#define CHECK_WINDOWS_TEXT(actual, windows, wine) \
    check_text((actual), on_wine() ? (wine) : (windows), #actual, __LINE__)

const char* const kBase = "Software\\syskit conformance";

Handle create(const std::string& path) {
    Handle key = 0;
    CHECK_EQ(RegCreateKeyA(kCurrentUser, (std::string(kBase) + "\\" + path).c_str(), &key),
             kSuccess);
    return key;
}

std::vector<std::string> subkeys(Handle key) {
    std::vector<std::string> names;
    for (Dword i = 0; i < 1000; ++i) {
        char name[256];
        Dword size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != kSuccess)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += ',';
        out += n;
    }
    return out;
}

void set_text(Handle key, const char* name, const std::string& text) {
    CHECK_EQ(
        RegSetValueExA(key, name, 0, kString, reinterpret_cast<const std::uint8_t*>(text.data()),
                       static_cast<Dword>(text.size())),
        kSuccess);
}

void opening_and_creating() {
    Handle a = create("Keys\\Alpha\\Beta");
    CHECK_EQ(a != 0, true);
    Handle again = 0;
    CHECK_EQ(RegOpenKeyExA(kCurrentUser, "SOFTWARE\\Syskit Conformance\\keys\\ALPHA\\beta", 0,
                           kKeyRead, &again),
             kSuccess);
    CHECK_EQ(again != a, true);
    RegCloseKey(again);
    Handle missing = 0;
    CHECK_EQ(RegOpenKeyExA(kCurrentUser, "Software\\syskit conformance\\Keys\\Gamma", 0, kKeyRead,
                           &missing),
             kFileNotFound);
    CHECK_EQ(RegOpenKeyA(kCurrentUser, "Software\\syskit conformance\\Keys\\Gamma", &missing),
             kFileNotFound);

    // An empty subkey: RegOpenKeyExA opens the same key again under a new handle; RegOpenKeyA and
    // RegCreateKeyA give back the handle they were given.
    Handle same = 0;
    CHECK_EQ(RegOpenKeyExA(a, "", 0, kKeyRead, &same), kSuccess);
    CHECK_EQ(same != 0 && same != a, true);
    RegCloseKey(same);
    CHECK_EQ(RegOpenKeyA(a, "", &same), kSuccess);
    CHECK_EQ(same, a);
    CHECK_EQ(RegCreateKeyA(a, "", &same), kSuccess);  // a new handle to the same key
    CHECK_EQ(same != 0 && same != a, true);
    CHECK_EQ(RegCloseKey(same), kSuccess);
    CHECK_EQ(RegOpenKeyA(kCurrentUser, "", &same), kSuccess);
    CHECK_EQ(same, kCurrentUser);
    CHECK_EQ(RegOpenKeyExA(kCurrentUser, "", 0, kKeyAllAccess, &same), kSuccess);
    CHECK_EQ(RegCloseKey(same), kSuccess);

    // Creating an existing key opens it, whatever the case; the stored case is the first one.
    Handle upper = create("KEYS\\ALPHA");
    Handle keys = create("Keys");
    CHECK_TEXT(joined(subkeys(keys)), "Alpha");
    RegCloseKey(upper);

    // A trailing backslash is allowed, and doubled ones separate like one; a leading one is a bad
    // path.
    Handle trailing = 0;
    CHECK_EQ(RegCreateKeyA(keys, "Trailing\\", &trailing), kSuccess);
    RegCloseKey(trailing);
    CHECK_EQ(RegOpenKeyExA(keys, "Trailing\\", 0, kKeyRead, &trailing), kSuccess);
    RegCloseKey(trailing);
    CHECK_EQ(RegOpenKeyExA(keys, "\\Trailing", 0, kKeyRead, &trailing), kBadPathname);
    CHECK_EQ(RegOpenKeyExA(keys, "Alpha\\\\Beta", 0, kKeyRead, &trailing), kSuccess);
    RegCloseKey(trailing);

    // Key names up to 255 characters.
    const std::string longest(255, 'k');
    Handle named = 0;
    CHECK_EQ(RegCreateKeyA(keys, longest.c_str(), &named), kSuccess);
    RegCloseKey(named);
    CHECK_WINDOWS(RegCreateKeyA(keys, (longest + "k").c_str(), &named), kInvalidParameter,
                  kSuccess);
    if (on_wine()) RegCloseKey(named);
    CHECK_EQ(RegCreateKeyA(keys, (longest + "kk").c_str(), &named), kInvalidParameter);

    RegCloseKey(keys);
    RegCloseKey(a);
}

void enumerating_subkeys() {
    Handle list = create("List");
    for (const char* name : {"b", "A", "_u", "a1", "C", "Z", "\xE4", "[x", "0"}) {
        Handle k = 0;
        CHECK_EQ(RegCreateKeyA(list, name, &k), kSuccess);
        RegCloseKey(k);
    }
    // Case-insensitive order of the upper-case names (Wine compares lower-case names).
    CHECK_WINDOWS_TEXT(joined(subkeys(list)), "0,A,a1,b,C,Z,[x,_u,\xE4", "0,[x,_u,A,a1,b,C,Z,\xE4");
    const Dword a1 = on_wine() ? 4 : 2;

    char name[8];
    Dword size = 2;  // "a1" needs 3 with its terminator
    CHECK_EQ(RegEnumKeyExA(list, a1, name, &size, nullptr, nullptr, nullptr, nullptr), kMoreData);
    size = 3;
    CHECK_EQ(RegEnumKeyExA(list, a1, name, &size, nullptr, nullptr, nullptr, nullptr), kSuccess);
    CHECK_EQ(size, 2u);
    CHECK_TEXT(std::string(name), "a1");
    size = sizeof name;
    CHECK_EQ(RegEnumKeyExA(list, 9, name, &size, nullptr, nullptr, nullptr, nullptr), kNoMoreItems);

    // Enumeration goes on from any index after a change.
    CHECK_EQ(RegDeleteKeyA(list, "A"), kSuccess);
    size = sizeof name;
    CHECK_EQ(RegEnumKeyExA(list, a1 - 1, name, &size, nullptr, nullptr, nullptr, nullptr),
             kSuccess);
    CHECK_TEXT(std::string(name, size), "a1");
    RegCloseKey(list);

    // A name that does not fit a 255-character buffer with its terminator (Wine fills the buffer
    // without one).
    Handle only = create("Only");
    Handle big = 0;
    CHECK_EQ(RegCreateKeyA(only, std::string(255, 'z').c_str(), &big), kSuccess);
    RegCloseKey(big);
    std::vector<char> buffer(256, ' ');
    size = 255;
    CHECK_EQ(RegEnumKeyExA(only, 0, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr),
             kMoreData);
    CHECK_EQ(size, 255u);  // a name that does not fit leaves buffer and size alone
    CHECK_EQ(buffer[0], ' ');
    size = 256;
    CHECK_EQ(RegEnumKeyExA(only, 0, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr),
             kSuccess);
    CHECK_EQ(size, 255u);
    RegCloseKey(only);
}

void values() {
    Handle key = create("Values");
    set_text(key, "text", "abc");
    std::uint8_t data[300];
    std::memset(data, ' ', sizeof data);
    Dword type = kString;
    Dword size = 255;
    // Text stored without its terminator comes back with one.
    CHECK_EQ(RegQueryValueExA(key, "TEXT", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(size, 4u);
    CHECK_EQ(type, kString);
    CHECK_TEXT(std::string(reinterpret_cast<char*>(data), 5), std::string("abc\0 ", 5));
    size = 0;
    CHECK_EQ(RegQueryValueExA(key, "text", nullptr, &type, nullptr, &size), kSuccess);
    CHECK_EQ(size, 4u);
    size = 3;
    CHECK_EQ(RegQueryValueExA(key, "text", nullptr, &type, data, &size), kMoreData);
    CHECK_EQ(size, 4u);

    // Text stored with its terminator is not terminated twice.
    CHECK_EQ(RegSetValueExA(key, "terminated", 0, kString,
                            reinterpret_cast<const std::uint8_t*>("xy"), 3),
             kSuccess);
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, "terminated", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(size, 3u);

    // 254 characters fit a 255-byte buffer with the terminator; 255 do not.
    set_text(key, "254", std::string(254, 'x'));
    set_text(key, "255", std::string(255, 'x'));
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, "254", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(size, 255u);
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, "255", nullptr, &type, data, &size), kMoreData);
    CHECK_EQ(size, 256u);

    // Numbers, binary data and empty binary data; a size probe with a one-byte buffer.
    const std::uint8_t number[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    CHECK_EQ(RegSetValueExA(key, "dword", 0, kDword, number, 4), kSuccess);
    const std::uint8_t bytes[3] = {0x00, 0x0A, 0xFF};
    CHECK_EQ(RegSetValueExA(key, "binary", 0, kBinary, bytes, 3), kSuccess);
    CHECK_EQ(RegSetValueExA(key, "empty", 0, kBinary, nullptr, 0), kSuccess);
    type = kBinary;
    size = 1;
    CHECK_EQ(RegQueryValueExA(key, "binary", nullptr, &type, data, &size), kMoreData);
    CHECK_EQ(size, 3u);
    size = 3;
    CHECK_EQ(RegQueryValueExA(key, "binary", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(data[2], 0xFF);
    size = 1;
    CHECK_EQ(RegQueryValueExA(key, "empty", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(size, 0u);
    CHECK_EQ(type, kBinary);
    std::uint32_t cell = 0;
    type = kDword;
    size = 4;
    CHECK_EQ(RegQueryValueExA(key, "binary", nullptr, &type, reinterpret_cast<std::uint8_t*>(&cell),
                              &size),
             kSuccess);
    CHECK_EQ(cell, 0xFF0A00u);
    CHECK_EQ(type, kBinary);

    // Missing values; the default value; "@" is an ordinary name.
    size = 1;
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size), kFileNotFound);
    CHECK_EQ(RegDeleteValueA(key, "missing"), kFileNotFound);
    set_text(key, "", "default");
    set_text(key, "@", "at");
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, data, &size), kSuccess);
    CHECK_TEXT(std::string(reinterpret_cast<char*>(data)), "default");
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, "@", nullptr, &type, data, &size), kSuccess);
    CHECK_TEXT(std::string(reinterpret_cast<char*>(data)), "at");

    // Letters of the code page match whatever their case, and text of them is a byte each.
    set_text(key, "caf\xE9", "\xE9t\xE9");
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, "CAF\xC9", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(size, 4u);
    CHECK_TEXT(std::string(reinterpret_cast<char*>(data)), "\xE9t\xE9");

    // Long value names.
    const std::string longest(16383, 'v');
    set_text(key, longest.c_str(), "long");
    size = 255;
    CHECK_EQ(RegQueryValueExA(key, longest.c_str(), nullptr, &type, data, &size), kSuccess);
    RegCloseKey(key);
}

void enumerating_values() {
    Handle key = create("Listed");
    set_text(key, "first", "1");
    const std::uint8_t number[4] = {2, 0, 0, 0};
    CHECK_EQ(RegSetValueExA(key, "Second", 0, kDword, number, 4), kSuccess);
    set_text(key, "third", "3");
    set_text(key, "FIRST", "one");  // an overwrite keeps the name and the place
    CHECK_EQ(RegDeleteValueA(key, "third"), kSuccess);
    set_text(key, "Third", "three");  // a deleted and re-created value goes last
    CHECK_EQ(RegSetValueExA(key, "expand", 0, kExpandString,
                            reinterpret_cast<const std::uint8_t*>("%PATH%"), 7),
             kSuccess);

    std::string order;
    for (Dword i = 0; i < 10; ++i) {
        char name[256];
        std::uint8_t data[256];
        Dword name_size = 255, data_size = 255, type = 0;
        const Result r = RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &data_size);
        if (r != kSuccess) {
            CHECK_EQ(r, kNoMoreItems);
            break;
        }
        if (!order.empty()) order += ',';
        order.append(name, name_size);
        order += ':';
        order += std::to_string(type);
        order += ':';
        order += std::to_string(data_size);
    }
    // Creation order (Wine keeps values sorted by name).
    CHECK_WINDOWS_TEXT(order, "first:1:4,Second:4:4,Third:1:6,expand:2:7",
                       "expand:2:7,first:1:4,Second:4:4,Third:1:6");
    char wide[256];
    Dword name_size = 255, data_size = 255, type = 0;
    CHECK_EQ(RegEnumValueA(key, 4, wide, &name_size, nullptr, &type, nullptr, &data_size),
             kNoMoreItems);
    RegCloseKey(key);

    // Buffers too small for the name or for the data.
    Handle one = create("One value");
    set_text(one, "name", "abc");
    char name[4];
    std::uint8_t data[2];
    name_size = 4;  // "name" needs 5 with its terminator: the data and type still come
    data_size = 255;
    type = 0;
    CHECK_EQ(RegEnumValueA(one, 0, name, &name_size, nullptr, &type, nullptr, &data_size),
             kMoreData);
    CHECK_EQ(name_size, 4u);
    CHECK_TEXT(std::string(name, 4), std::string("nam\0", 4));  // as much as fits, terminated
    CHECK_EQ(data_size, 4u);
    CHECK_EQ(type, kString);
    name_size = 255;
    data_size = 2;  // the data does not fit: only its size and type come
    type = 0;
    wide[0] = ' ';
    data[0] = ' ';
    CHECK_EQ(RegEnumValueA(one, 0, wide, &name_size, nullptr, &type, data, &data_size), kMoreData);
    CHECK_EQ(data_size, 4u);
    CHECK_EQ(type, kString);
    CHECK_EQ(name_size, 255u);
    CHECK_EQ(wide[0], ' ');
    CHECK_EQ(data[0], ' ');

    // Empty text comes back empty, without a terminator.
    set_text(one, "empty", "");
    std::uint8_t cell[4] = {' ', ' ', ' ', ' '};
    data_size = 4;
    CHECK_EQ(RegQueryValueExA(one, "empty", nullptr, &type, cell, &data_size), kSuccess);
    CHECK_EQ(data_size, 0u);
    CHECK_EQ(cell[0], ' ');
    name_size = 255;
    data_size = 255;
    CHECK_EQ(
        RegEnumValueA(one, on_wine() ? 0 : 1, wide, &name_size, nullptr, &type, cell, &data_size),
        kSuccess);
    CHECK_EQ(data_size, 0u);
    CHECK_TEXT(std::string(wide, name_size), "empty");

    // No checks on the data: a REG_DWORD of two bytes is stored as given.
    CHECK_EQ(RegSetValueExA(one, "short", 0, kDword, cell, 2), kSuccess);
    CHECK_EQ(RegSetValueExA(one, std::string(16384, 'v').c_str(), 0, kString, cell, 2),
             kInvalidParameter);
    name_size = 255;
    data_size = 255;
    CHECK_EQ(RegEnumValueA(one, on_wine() ? 1 : 0, wide, &name_size, nullptr, &type, nullptr,
                           &data_size),
             kSuccess);
    CHECK_EQ(name_size, 4u);
    CHECK_EQ(data_size, 4u);
    RegCloseKey(one);

    // A 255-character name in a 255-character buffer: 254 characters and the terminator, the size
    // left as it was, the data delivered; no buffer at all gets nothing.
    Handle long_named = create("Long value name");
    set_text(long_named, std::string(255, 'n').c_str(), "abc");
    std::vector<char> buffer(256, ' ');
    std::uint8_t text[5] = {' ', ' ', ' ', ' ', ' '};
    name_size = 255;
    data_size = 5;
    type = 0;
    CHECK_EQ(
        RegEnumValueA(long_named, 0, buffer.data(), &name_size, nullptr, &type, text, &data_size),
        kMoreData);
    CHECK_TEXT(std::string(buffer.data(), 256), std::string(254, 'n') + '\0' + ' ');
    CHECK_EQ(name_size, 255u);
    CHECK_TEXT(std::string(reinterpret_cast<char*>(text), 5), std::string("abc\0 ", 5));
    CHECK_EQ(data_size, 4u);
    CHECK_EQ(type, kString);
    name_size = 0;
    CHECK_EQ(RegEnumValueA(long_named, 0, buffer.data(), &name_size, nullptr, &type, nullptr,
                           &data_size),
             kMoreData);
    CHECK_EQ(name_size, 0u);
    CHECK_EQ(buffer[0], 'n');
    RegCloseKey(long_named);
}

void access_and_handles() {
    Handle key = create("Access");
    Handle reader = 0, writer = 0;
    CHECK_EQ(
        RegOpenKeyExA(kCurrentUser, "Software\\syskit conformance\\Access", 0, kKeyRead, &reader),
        kSuccess);
    CHECK_EQ(
        RegOpenKeyExA(kCurrentUser, "Software\\syskit conformance\\Access", 0, kKeyWrite, &writer),
        kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    CHECK_EQ(RegSetValueExA(reader, "n", 0, kDword, number, 4), kAccessDenied);
    CHECK_EQ(RegSetValueExA(writer, "n", 0, kDword, number, 4), kSuccess);
    Dword type = 0, size = 4;
    std::uint8_t data[4];
    CHECK_EQ(RegQueryValueExA(writer, "n", nullptr, &type, data, &size), kAccessDenied);
    size = 4;
    CHECK_EQ(RegQueryValueExA(reader, "n", nullptr, &type, data, &size), kSuccess);
    CHECK_EQ(RegDeleteValueA(reader, "n"), kAccessDenied);
    CHECK_EQ(RegDeleteValueA(writer, "n"), kSuccess);
    RegCloseKey(reader);
    RegCloseKey(writer);

    CHECK_EQ(RegCloseKey(0x7654320u), kInvalidHandle);
    CHECK_EQ(RegCloseKey(key), kSuccess);
    CHECK_EQ(RegCloseKey(key), kInvalidHandle);
    size = 4;
    CHECK_EQ(RegQueryValueExA(key, "n", nullptr, &type, data, &size), kInvalidHandle);
    Handle h = 0;
    CHECK_EQ(RegOpenKeyExA(0, "Software", 0, kKeyRead, &h), kInvalidHandle);
    CHECK_EQ(RegCreateKeyA(0, "Software", &h), kInvalidHandle);
    CHECK_EQ(RegOpenKeyA(0, "", &h), kSuccess);  // an empty subkey gives back even handle 0
    CHECK_EQ(h, 0u);

    // Every predefined root opens; the root itself cannot be deleted.
    for (Handle root = kClassesRoot; root <= kDynData; ++root) {
        CHECK_EQ(RegOpenKeyExA(root, "", 0, kKeyRead, &h), kSuccess);
        RegCloseKey(h);
    }
    CHECK_EQ(RegOpenKeyA(kDynData, "", &h), kSuccess);
    CHECK_EQ(h, kDynData);
    CHECK_EQ(RegCreateKeyA(kCurrentUser, "", &h), kSuccess);
    CHECK_EQ(h != 0 && h != kCurrentUser, true);
    RegCloseKey(h);
    CHECK_EQ(RegDeleteKeyA(kCurrentUser, ""), kAccessDenied);
}

void deleting() {
    Handle parent = create("Doomed");
    Handle child = create("Doomed\\Child");
    // A key with subkeys is not deleted.
    Handle all = 0;
    CHECK_EQ(
        RegOpenKeyExA(kCurrentUser, "Software\\syskit conformance\\Doomed", 0, kKeyAllAccess, &all),
        kSuccess);
    CHECK_EQ(RegDeleteKeyA(all, ""), kAccessDenied);
    CHECK_EQ(RegDeleteKeyA(parent, "Child"), kSuccess);
    // The key itself, through an empty name; its other handles then answer KEY_DELETED.
    CHECK_EQ(RegDeleteKeyA(all, ""), kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    CHECK_EQ(RegSetValueExA(parent, "n", 0, kDword, number, 4), kKeyDeleted);
    Dword size = 4;
    CHECK_EQ(RegQueryValueExA(child, "n", nullptr, nullptr, nullptr, &size), kKeyDeleted);
    char name[8];
    size = sizeof name;
    CHECK_EQ(RegEnumKeyExA(parent, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
             kKeyDeleted);
    CHECK_EQ(RegCloseKey(all), kSuccess);
    CHECK_EQ(RegCloseKey(parent), kSuccess);
    CHECK_EQ(RegCloseKey(child), kSuccess);
    CHECK_EQ(RegDeleteKeyA(kCurrentUser, "Software\\syskit conformance\\Doomed"), kFileNotFound);
}

// How the calls of one run are grouped; the answers must not depend on it.
enum class Grouping { none, snapshot, batch_and_snapshot };

}  // namespace

int main() {
    for (const Grouping grouping :
         {Grouping::none, Grouping::snapshot, Grouping::batch_and_snapshot}) {
        std::optional<WriteBatch> batch;
        std::optional<ReadSnapshot> snapshot;
        if (grouping == Grouping::batch_and_snapshot) batch.emplace();
        if (grouping != Grouping::none) snapshot.emplace();
        delete_tree(kCurrentUser, kBase);
        opening_and_creating();
        enumerating_subkeys();
        values();
        enumerating_values();
        access_and_handles();
        deleting();
        delete_tree(kCurrentUser, kBase);
        Handle gone = 0;
        CHECK_EQ(RegOpenKeyExA(kCurrentUser, kBase, 0, kKeyRead, &gone), kFileNotFound);
        snapshot.reset();
        if (batch) CHECK_EQ(batch->finish(), true);
    }
    std::printf("%d of %d checks passed\n", g_checks - g_failures, g_checks);
    return g_failures == 0 ? 0 : 1;
}
