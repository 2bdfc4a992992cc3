// The registry calls' answers, sizes and limits, alike on the embedded store (Linux) and advapi32
// (mingw-w64 under Wine): plain checks, so the Windows build needs no test framework.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>

#include "registry/platform.hpp"
#include "test_keys.hpp"

namespace {

using namespace syskit::registry::platform;
using registry_test_keys::on_wine;

int g_failures = 0, g_checks = 0;

template <typename A, typename B>
void check(const A& actual, const B& expected, const char* what, int line) {
    ++g_checks;
    if (actual == static_cast<A>(expected)) return;
    ++g_failures;
    if constexpr (std::is_same_v<A, std::string>)
        std::printf("conformance.cpp:%d: %s is \"%s\" (%zu bytes)\n", line, what, actual.c_str(),
                    actual.size());
    else
        std::printf("conformance.cpp:%d: %s is %lld, expected %lld\n", line, what,
                    static_cast<long long>(actual), static_cast<long long>(expected));
}
#define CHECK_EQ(actual, expected) check((actual), (expected), #actual, __LINE__)
// Wine's answer where it differs from Windows (and the store).
#define CHECK_WINDOWS(actual, windows, wine) \
    check((actual), on_wine() ? (wine) : (windows), #actual, __LINE__)

const std::string kBase = "Software\\syskit conformance";

Handle create(const std::string& path) {
    Handle key = 0;
    CHECK_EQ(RegCreateKeyA(kCurrentUser, (kBase + "\\" + path).c_str(), &key), kSuccess);
    return key;
}

// Creates (or only opens) `path` below `parent`, closes it again, and gives the result.
Result make(Handle parent, const std::string& path, bool open_only = false) {
    Handle key = 0;
    const Result r = open_only ? RegOpenKeyExA(parent, path.c_str(), 0, kKeyRead, &key)
                               : RegCreateKeyA(parent, path.c_str(), &key);
    if (r == kSuccess) RegCloseKey(key);
    return r;
}
Result opens(Handle parent, const std::string& path) { return make(parent, path, true); }

std::string subkeys(Handle key) {
    std::string out;
    for (const auto& n : registry_test_keys::subkeys(key)) out += (out.empty() ? "" : ",") + n;
    return out;
}

Result set(Handle key, const std::string& name, const std::string& data, Dword type = kString) {
    return RegSetValueExA(key, name.c_str(), 0, type,
                          reinterpret_cast<const std::uint8_t*>(data.data()),
                          static_cast<Dword>(data.size()));
}

// A call's result, sizes, type and buffers (one byte more than the size given, spaces before).
struct Got {
    Result result;
    Dword name_size, size, type;
    std::string name, data;
};
void check_got(const Got& got, Result result, Dword size, int line, long type = -1,
               long name_size = -1) {
    check(got.result, result, "result", line);
    check(got.size, size, "size", line);
    if (type >= 0) check(got.type, type, "type", line);
    if (name_size >= 0) check(got.name_size, name_size, "name size", line);
}
#define CHECK_GOT(got, result, size, ...) \
    check_got((got), (result), (size), __LINE__, ##__VA_ARGS__)

Got query(Handle key, const char* name, Dword size, bool buffer = true, Dword type = 0) {
    Got got{0, 0, size, type, "", std::string(std::max<Dword>(size, 300) + 1, ' ')};
    auto* data = buffer ? reinterpret_cast<std::uint8_t*>(got.data.data()) : nullptr;
    got.result = RegQueryValueExA(key, name, nullptr, &got.type, data, &got.size);
    got.data.resize(size + 1);
    return got;
}
Got enum_value(Handle key, Dword index, Dword name_size, Dword size, bool buffer = true) {
    Got got{0, name_size, size, 0, std::string(300, ' '), std::string(300, ' ')};
    got.result = RegEnumValueA(key, index, got.name.data(), &got.name_size, nullptr, &got.type,
                               buffer ? reinterpret_cast<std::uint8_t*>(got.data.data()) : nullptr,
                               &got.size);
    got.name.resize(name_size + 1);
    got.data.resize(size + 1);
    return got;
}
Got enum_key(Handle key, Dword index, Dword size) {
    Got got{0, size, 0, 0, std::string(300, ' '), ""};
    got.result = RegEnumKeyExA(key, index, got.name.data(), &got.name_size, nullptr, nullptr,
                               nullptr, nullptr);
    got.name.resize(size + 1);
    return got;
}

void opening_and_creating() {
    Handle a = create("Keys\\Alpha\\Beta"), keys = create("Keys"), same = 0;
    CHECK_EQ(opens(kCurrentUser, "SOFTWARE\\Syskit Conformance\\keys\\ALPHA\\beta"), kSuccess);
    CHECK_EQ(opens(keys, "Gamma"), kFileNotFound);
    // An empty subkey opens the key again; RegOpenKeyA gives back the handle, even 0 or a root.
    for (const bool open : {true, false}) {
        CHECK_EQ(open ? RegOpenKeyExA(a, "", 0, kKeyRead, &same) : RegCreateKeyA(a, "", &same),
                 kSuccess);
        CHECK_EQ(same != 0 && same != a && RegCloseKey(same) == kSuccess, true);
    }
    for (const Handle h : {a, Handle{0}, kDynData}) {
        CHECK_EQ(RegOpenKeyA(h, "", &same), kSuccess);
        CHECK_EQ(same, h);
    }
    // Creating an existing key opens it, whatever the case; the stored case is the first one.
    CHECK_EQ(make(kCurrentUser, kBase + "\\KEYS\\ALPHA"), kSuccess);
    CHECK_EQ(subkeys(keys), "Alpha");
    // A trailing backslash is allowed, doubled ones separate like one; a leading one is a bad path.
    CHECK_EQ(make(keys, "Trailing\\"), kSuccess);
    CHECK_EQ(opens(keys, "\\Trailing"), kBadPathname);
    CHECK_EQ(opens(keys, "Alpha\\\\Beta"), kSuccess);
    const std::string longest(255, 'k');  // key names up to 255 characters
    CHECK_EQ(make(keys, longest), kSuccess);
    CHECK_WINDOWS(make(keys, longest + "k"), kInvalidParameter, kSuccess);
    CHECK_EQ(make(keys, longest + "kk"), kInvalidParameter);
    RegCloseKey(keys);
    RegCloseKey(a);
}

void enumerating_subkeys() {
    Handle list = create("List");
    for (const char* name : {"b", "A", "_u", "a1", "C", "Z", "\xE4", "[x", "0"}) make(list, name);
    // Case-insensitive order of the upper-case names (Wine compares lower-case names).
    CHECK_WINDOWS(subkeys(list), "0,A,a1,b,C,Z,[x,_u,\xE4", "0,[x,_u,A,a1,b,C,Z,\xE4");
    const Dword a1 = on_wine() ? 4 : 2;
    Got got = enum_key(list, a1, 3);  // "a1" and its terminator
    CHECK_GOT(got, kSuccess, 0u, -1, 2);
    CHECK_EQ(got.name, std::string("a1\0 ", 4));
    CHECK_EQ(enum_key(list, 9, 8).result, kNoMoreItems);
    CHECK_EQ(RegDeleteKeyA(list, "A"), kSuccess);  // enumeration goes on from any index
    CHECK_EQ(enum_key(list, a1 - 1, 8).name.substr(0, 3), std::string("a1\0", 3));
    RegCloseKey(list);
    // 255 characters with no room for the terminator: buffer and size untouched (Wine fills one).
    Handle only = create("Only");
    CHECK_EQ(make(only, std::string(255, 'z')), kSuccess);
    got = enum_key(only, 0, 255);
    CHECK_GOT(got, kMoreData, 0u, -1, 255);
    CHECK_EQ(got.name[0], ' ');
    CHECK_GOT(enum_key(only, 0, 256), kSuccess, 0u, -1, 255);
    RegCloseKey(only);
}

void values() {
    Handle key = create("Values");
    set(key, "text", "abc");  // text stored without its terminator comes back with one
    Got got = query(key, "TEXT", 255, true, kString);
    CHECK_GOT(got, kSuccess, 4u, kString);
    CHECK_EQ(got.data.substr(0, 5), std::string("abc\0 ", 5));
    CHECK_GOT(query(key, "text", 0, false), kSuccess, 4u);
    CHECK_EQ(set(key, "terminated", std::string("xy\0", 3)), kSuccess);  // not twice
    CHECK_GOT(query(key, "terminated", 255), kSuccess, 3u);
    set(key, "255", std::string(255, 'x'));  // does not fit 255 bytes with the terminator
    CHECK_GOT(query(key, "255", 255), kMoreData, 256u);
    set(key, "empty", "");  // empty text comes back empty, without a terminator
    got = query(key, "empty", 4);
    CHECK_GOT(got, kSuccess, 0u, kString);
    CHECK_EQ(got.data, "     ");
    // Binary data is never terminated, and the type passed in is not read.
    CHECK_EQ(set(key, "binary", std::string("\0\x0A\xFF", 3), kBinary), kSuccess);
    got = query(key, "binary", 4, true, kDword);
    CHECK_GOT(got, kSuccess, 3u, kBinary);
    CHECK_EQ(got.data, std::string("\0\x0A\xFF  ", 5));
    // Missing values; the default value; "@" is an ordinary name.
    CHECK_EQ(query(key, "missing", 1, false).result, kFileNotFound);
    set(key, "", "default");
    set(key, "@", "at");
    CHECK_EQ(query(key, nullptr, 255).data.substr(0, 8), std::string("default\0", 8));
    CHECK_EQ(query(key, "@", 255).data.substr(0, 3), std::string("at\0", 3));
    // Letters of the code page match whatever their case, and text of them is a byte each.
    set(key, "caf\xE9", "\xE9t\xE9");
    CHECK_EQ(query(key, "CAF\xC9", 255).data.substr(0, 5), std::string("\xE9t\xE9\0 ", 5));
    const std::string longest(16383, 'v');  // value names up to 16,383 characters
    set(key, longest, "long");
    CHECK_EQ(query(key, longest.c_str(), 255).result, kSuccess);
    CHECK_EQ(set(key, longest + "v", "x"), kInvalidParameter);
    RegCloseKey(key);
}

void enumerating_values() {
    Handle key = create("Listed");
    set(key, "first", "1");
    CHECK_EQ(set(key, "Second", std::string("\2\0\0\0", 4), kDword), kSuccess);
    set(key, "third", "3");
    set(key, "FIRST", "one");  // an overwrite keeps the name and the place
    CHECK_EQ(RegDeleteValueA(key, "third"), kSuccess);
    set(key, "Third", "three");  // a deleted and re-created value goes last
    CHECK_EQ(set(key, "expand", std::string("%PATH%\0", 7), kExpandString), kSuccess);
    set(key, "empty", "");
    CHECK_EQ(set(key, "short", "  ", kDword), kSuccess);  // data is not checked against its type
    std::string order;
    Got got;
    for (Dword i = 0; (got = enum_value(key, i, 255, 255)).result == kSuccess; ++i)
        order += got.name.substr(0, got.name_size) + ":" + std::to_string(got.type) + ":" +
                 std::to_string(got.size) + ",";
    CHECK_EQ(got.result, kNoMoreItems);
    // Creation order (Wine keeps values sorted by name).
    CHECK_WINDOWS(order, "first:1:4,Second:4:4,Third:1:6,expand:2:7,empty:1:0,short:4:2,",
                  "empty:1:0,expand:2:7,first:1:4,Second:4:4,short:4:2,Third:1:6,");
    // Too small for the name: what fits, terminated, and the data's size; for the data: its size.
    const Dword first = on_wine() ? 2 : 0;
    got = enum_value(key, first, 5, 255, false);
    CHECK_GOT(got, kMoreData, 4u, kString, 5);
    CHECK_EQ(got.name.substr(0, 5), std::string("firs\0", 5));
    got = enum_value(key, first, 255, 2);
    CHECK_GOT(got, kMoreData, 4u, kString, 255);
    CHECK_EQ(got.name.substr(0, 1) + got.data.substr(0, 1), "  ");
    RegCloseKey(key);
    // A 255-character name in 255 characters: 254, the terminator and the data; no buffer: none.
    Handle long_named = create("Long value name");
    set(long_named, std::string(255, 'n'), "abc");
    got = enum_value(long_named, 0, 255, 5);
    CHECK_GOT(got, kMoreData, 4u, kString, 255);
    CHECK_EQ(got.name, std::string(254, 'n') + '\0' + ' ');
    CHECK_EQ(got.data.substr(0, 5), std::string("abc\0 ", 5));
    got = enum_value(long_named, 0, 0, 255, false);
    CHECK_EQ(got.result, kMoreData);
    CHECK_EQ(got.name_size == 0 && got.name[0] == ' ', true);
    RegCloseKey(long_named);
}

// Rights are checked per handle; closed and unknown handles are refused; roots stay; deleting.
void handles_and_deleting() {
    Handle key = create("Access"), reader = 0, writer = 0;
    CHECK_EQ(RegOpenKeyExA(key, "", 0, kKeyRead, &reader), kSuccess);
    CHECK_EQ(RegOpenKeyExA(key, "", 0, kKeyWrite, &writer), kSuccess);
    CHECK_EQ(set(reader, "n", "1234", kDword), kAccessDenied);
    CHECK_EQ(set(writer, "n", "1234", kDword), kSuccess);
    CHECK_EQ(query(writer, "n", 4).result, kAccessDenied);
    CHECK_EQ(query(reader, "n", 4).result, kSuccess);
    CHECK_EQ(RegDeleteValueA(reader, "n"), kAccessDenied);
    CHECK_EQ(RegDeleteValueA(writer, "n"), kSuccess);
    for (const Handle handle : {reader, writer, key}) CHECK_EQ(RegCloseKey(handle), kSuccess);
    CHECK_EQ(RegCloseKey(key), kInvalidHandle);
    CHECK_EQ(query(key, "n", 4).result, kInvalidHandle);
    CHECK_EQ(opens(0, "Software"), kInvalidHandle);
    for (Handle root = kClassesRoot; root <= kDynData; ++root) CHECK_EQ(opens(root, ""), kSuccess);
    CHECK_EQ(RegDeleteKeyA(kCurrentUser, ""), kAccessDenied);
    // A key with subkeys is not deleted; a deleted key's other handles answer KEY_DELETED.
    Handle parent = create("Doomed"), child = create("Doomed\\Child"), all = 0;
    CHECK_EQ(RegOpenKeyExA(parent, "", 0, kKeyAllAccess, &all), kSuccess);
    CHECK_EQ(RegDeleteKeyA(all, ""), kAccessDenied);
    CHECK_EQ(RegDeleteKeyA(parent, "Child"), kSuccess);
    CHECK_EQ(RegDeleteKeyA(all, ""), kSuccess);  // the key itself, through an empty name
    CHECK_EQ(set(parent, "n", "1234", kDword), kKeyDeleted);
    CHECK_EQ(query(child, "n", 4, false).result, kKeyDeleted);
    CHECK_EQ(enum_key(parent, 0, 8).result, kKeyDeleted);
    for (const Handle h : {all, parent, child}) CHECK_EQ(RegCloseKey(h), kSuccess);
    CHECK_EQ(RegDeleteKeyA(kCurrentUser, (kBase + "\\Doomed").c_str()), kFileNotFound);
}

}  // namespace

int main() {
    // Alike alone, in a read snapshot, and in a write batch and a snapshot.
    for (const int grouping : {0, 1, 2}) {
        std::optional<WriteBatch> batch;
        std::optional<ReadSnapshot> snapshot;
        if (grouping == 2) batch.emplace();
        if (grouping != 0) snapshot.emplace();
        registry_test_keys::delete_tree(kCurrentUser, kBase);
        for (const auto part : {opening_and_creating, enumerating_subkeys, values,
                                enumerating_values, handles_and_deleting})
            part();
        registry_test_keys::delete_tree(kCurrentUser, kBase);
        CHECK_EQ(opens(kCurrentUser, kBase), kFileNotFound);
        snapshot.reset();
        if (batch) CHECK_EQ(batch->finish(), true);
    }
    std::printf("%d of %d checks passed\n", g_checks - g_failures, g_checks);
    return g_failures == 0 ? 0 : 1;
}
