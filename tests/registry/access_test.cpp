// clsRegistryAccess over the registry it is built for: the embedded store on Linux, the real
// registry in Windows builds (Wine's, under the emulator). Path resolution, keys, the writers and
// their create flag, the readers' buffers and trimming, hex text, enumeration, and REGEDIT4 export
// and import with their quirks, byte for byte.
//
// Every test works below a key of its own, HKEY_CURRENT_USER\Software\syskit-test-<process>-<n>,
// created before it and removed with everything below it afterwards, so the same test bodies run
// on both registries without depending on, or leaving anything in, the rest of the registry. On
// Linux each test also has a store directory of its own. Where Wine's registry answers otherwise
// than Windows and the store (docs/registry.md), the expectation names both answers.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"
#include "test_keys.hpp"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace registry_test {
namespace {

namespace fs = std::filesystem;
namespace api = syskit::registry::platform;
using registry_test_keys::delete_tree;
using registry_test_keys::on_wine;
using syskit::clsRegistryAccess;
using syskit::RegistryValue;
using Names = std::vector<std::string>;
using Values = std::vector<RegistryValue>;

long process_id() {
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

// Windows' answer (the store's too), or Wine's where it differs for a documented reason.
template <typename T>
T windows_or_wine(T windows, T wine) {
    return on_wine() ? wine : windows;
}

class Access : public testing::Test {
  protected:
    void SetUp() override {
        static int tests = 0;
        const std::string name =
            "syskit-test-" + std::to_string(process_id()) + "-" + std::to_string(++tests);
        base_ = "Software\\" + name;
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
#if !defined(_WIN32)
        syskit::registry::set_store_directory(dir_ / "registry");
#endif
        delete_tree(api::kCurrentUser, base_);  // left behind by an earlier process of this id
        ASSERT_NE(reg_.CreateKey(path()), 0);
    }
    void TearDown() override {
        delete_tree(api::kCurrentUser, base_);
        EXPECT_FALSE(reg_.KeyExists(path()));
#if !defined(_WIN32)
        syskit::registry::set_store_directory({});
#endif
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    // The test's key, or a key below it, as a short-hive path.
    std::string path(std::string_view below = {}) const {
        std::string out = "HKCU\\" + base_;
        if (!below.empty()) out.append("\\").append(below);
        return out;
    }
    // The same key as the export writes it.
    std::string long_path(std::string_view below = {}) const {
        return "HKEY_CURRENT_USER" + path(below).substr(4);
    }
    std::string file(const std::string& name) const {
        return (dir_ / name).string();
    }
    static std::string read_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void write_file(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::vector<std::string> keys(const std::string& path) {
        std::vector<std::string> names;
        reg_.EnumKeys(path, names);
        return names;
    }

    std::string base_;  // below HKEY_CURRENT_USER
    fs::path dir_;      // the test's files (and on Linux its store)
    clsRegistryAccess reg_;
};

TEST_F(Access, PathsResolveTheirHiveNames) {
    EXPECT_TRUE(reg_.KeyExists("HKCU"));
    EXPECT_NE(reg_.CreateKey("hkcu"), 0);
    EXPECT_TRUE(reg_.KeyExists("HKCU\\"));  // a lone backslash names the root
    EXPECT_TRUE(reg_.KeyExists("hkey_current_user"));
    EXPECT_NE(reg_.CreateKey("hkey_current_user\\" + base_ + "\\Mixed"), 0);
    EXPECT_EQ(keys(path()), std::vector<std::string>{"Mixed"});    // the case stays
    EXPECT_TRUE(reg_.KeyExists("HKCUxyz\\" + base_ + "\\mixed"));  // only four characters count
    // A key name that spells a long hive name reaches the registry as the short one.
    EXPECT_NE(reg_.CreateKey(path("A\\Hkey_Users\\B")), 0);
    EXPECT_EQ(keys(path("A")), std::vector<std::string>{"HKUS"});
    // Paths without a known hive reach no key. They name the test's own key, so that a wrong
    // answer cannot touch the rest of the registry.
    for (const std::string& bad :
         std::vector<std::string>{base_, "\\" + path("X"), "HKXX\\" + base_, ""}) {
        EXPECT_EQ(reg_.CreateKey(bad), 0) << bad;
        EXPECT_EQ(reg_.KillKey(bad), 0) << bad;
        EXPECT_FALSE(reg_.KeyExists(bad)) << bad;
    }
    EXPECT_FALSE(reg_.HaveSubkey(base_));
}

#if !defined(_WIN32)
// The other roots' long and short names, in the test's own store, where those roots start empty.
TEST_F(Access, OtherHiveNamesReachTheirRoots) {
    EXPECT_NE(reg_.CreateKey("hkey_local_machine\\Software\\Mixed"), 0);
    EXPECT_EQ(keys("HKLM\\Software"), std::vector<std::string>{"Mixed"});
    EXPECT_TRUE(reg_.KeyExists("HKLMxyz\\software\\mixed"));
    EXPECT_TRUE(reg_.KeyExists("HKUS"));
}
#endif

TEST_F(Access, KeysAreCreatedTestedAndDeleted) {
    EXPECT_NE(reg_.CreateKey(path("K\\Child")), 0);
    EXPECT_NE(reg_.CreateKey(path("K\\Child")), 0);  // an existing key
    EXPECT_TRUE(reg_.HaveSubkey(path("K")));
    EXPECT_FALSE(reg_.HaveSubkey(path("K\\Child")));
    EXPECT_FALSE(reg_.HaveSubkey(path("Missing")));
    EXPECT_NE(reg_.KillKey(path("K")), 0);  // opened, so non-zero, though it has a subkey
    EXPECT_TRUE(reg_.KeyExists(path("K")));
    EXPECT_NE(reg_.KillKey(path("K\\Child")), 0);
    EXPECT_FALSE(reg_.KeyExists(path("K\\Child")));
    EXPECT_EQ(reg_.KillKey(path("K\\Child")), 0);
    // A first subkey whose name does not fit the 255-character buffer still counts. It is created
    // below an open handle because its path from the root is longer than 260 characters: Wine's
    // ANSI calls refuse such paths (ERROR_MORE_DATA), where the store limits only each name.
    api::Handle parent = 0, child = 0;
    ASSERT_EQ(api::RegCreateKeyA(api::kCurrentUser, (base_ + "\\Long").c_str(), &parent),
              api::kSuccess);
    ASSERT_EQ(api::RegCreateKeyA(parent, std::string(255, 'n').c_str(), &child), api::kSuccess);
    api::RegCloseKey(child);
    api::RegCloseKey(parent);
    EXPECT_TRUE(reg_.HaveSubkey(path("Long")));
    EXPECT_EQ(reg_.KeyExists(path("Long\\" + std::string(255, 'n'))), !on_wine());
}

TEST_F(Access, WritersFollowTheCreateFlag) {
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.WriteString(path("New"), "a", "b"), 0);
    EXPECT_EQ(reg_.WriteDWORD(path("New"), "a", 1), 0);
    EXPECT_EQ(reg_.WriteBinary(path("New"), "a", "01"), 0);
    EXPECT_FALSE(reg_.KeyExists(path("New")));
    reg_.CreateKeyIfDoesntExists(true);
    EXPECT_NE(reg_.WriteString(path("New\\Deep"), "a", "b"), 0);
    EXPECT_EQ(reg_.ReadString(path("New\\Deep"), "a"), "b");
}

TEST_F(Access, ReadStringTrimsAndFitsTwoHundredFiftyFourCharacters) {
    const std::string k = path("Strings");
    struct Case {
        std::string stored, read;
    };
    const std::string long254(254, 'x');
    for (const Case& c : {Case{"abc", "abc"}, Case{"  lead", "lead"}, Case{"trail  ", "trail  "},
                          Case{long254, long254}, Case{std::string(255, 'x'), "dflt"},
                          Case{std::string(256, 'x'), "dflt"}, Case{"", ""},
                          Case{"caf\u00E9 \u20AC", "caf\u00E9 \u20AC"}}) {
        ASSERT_NE(reg_.WriteString(k, "v", c.stored), 0);
        EXPECT_EQ(reg_.ReadString(k, "v", "dflt"), c.read) << c.stored.size();
    }
    EXPECT_EQ(reg_.ReadString(k, "missing"), std::string(1, '\0'));
    EXPECT_EQ(reg_.ReadString(path("Nowhere"), "v", "d"), "d");
    // "@" names the default value for WriteString only.
    reg_.WriteString(k, "@", "default");
    EXPECT_EQ(reg_.ReadString(k, ""), "default");
    EXPECT_EQ(reg_.ReadString(k, "@", "none"), "none");
    reg_.WriteBinary(k, "@", "41");
    EXPECT_EQ(reg_.ReadString(k, "@"), "");  // binary "A" without terminator: the trim eats it
}

TEST_F(Access, NumbersAndBinaryData) {
    const std::string k = path("Data");
    reg_.WriteDWORD(k, "n", -1);
    EXPECT_EQ(reg_.ReadDWORD(k, "n"), -1);
    EXPECT_EQ(reg_.ReadBinary(k, "n"), "FF FF FF FF");
    EXPECT_EQ(reg_.ReadDWORD(k, "missing"), -1);
    EXPECT_EQ(reg_.ReadDWORD(k, "missing", 7), 7);
    reg_.WriteBinary(k, "two", "01 02");
    EXPECT_EQ(reg_.ReadDWORD(k, "two"), 513);
    struct Case {
        const char* hex;
        const char* stored;
    };
    for (const Case c : {Case{"41 42 43", "41 42 43"}, Case{"414243", "41 42 43"},
                         Case{"  41 4 2  43 ", "41 42 43"}, Case{"61 6a ff", "61 6A FF"},
                         Case{"", ""}, Case{"1", ""}, Case{"123", "12 03"}, Case{"12345", "12 34"},
                         Case{"1234567", "12 34 56 07"}, Case{"GG", "00"}, Case{"1G", "01"},
                         Case{"00 0A FF", "00 0A FF"}}) {
        ASSERT_NE(reg_.WriteBinary(k, "b", c.hex), 0) << c.hex;
        EXPECT_EQ(reg_.ReadBinary(k, "b", "dflt"), c.stored) << c.hex;
    }
    EXPECT_EQ(reg_.ReadBinary(k, "missing"), "");
    EXPECT_TRUE(reg_.ValueExists(k, "n"));
    EXPECT_TRUE(reg_.ValueExists(k, "b"));  // empty data counts too
    EXPECT_FALSE(reg_.ValueExists(k, "missing"));
    EXPECT_NE(reg_.KillValue(k, "missing"), 0);
    EXPECT_EQ(reg_.KillValue(path("Nowhere"), "n"), 0);
}

TEST_F(Access, HexTextConversions) {
    std::string hex = " 4 1 42 ";
    EXPECT_EQ(reg_.StrToBin(hex), "AB");
    EXPECT_EQ(hex, "4142");
    EXPECT_EQ(reg_.BinToStr("AB"), " 41 42");
    EXPECT_EQ(reg_.BinToStr(std::string("\0\xC3\xA9", 3)), " 00 E9");
    EXPECT_EQ(reg_.BinToStr(""), "");
    for (const char* valid : {"0a 1B ff", "123", "AbCdEf"})
        EXPECT_TRUE(reg_.isBinValid(valid)) << valid;
    for (const char* invalid : {"0G", "", "   ", "12-34"})
        EXPECT_FALSE(reg_.isBinValid(invalid)) << invalid;
    std::string longest(32766, 'A');
    EXPECT_EQ(reg_.StrToBin(longest).size(), 16383u * 2);  // 0xAA is "ª", two UTF-8 bytes
    std::string too_long(32767, 'A');
    EXPECT_THROW(reg_.StrToBin(too_long), syskit::OverflowError);
    EXPECT_THROW((void)reg_.BinToStr(std::string(32767, 'A')), syskit::OverflowError);
    EXPECT_THROW(reg_.WriteBinary(path("Data"), "b", std::string(32767, '0')),
                 syskit::OverflowError);
    // A writer that may not create its missing key stops before it converts.
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.WriteBinary(path("Missing"), "b", std::string(32767, '0')), 0);
}

TEST_F(Access, EnumerationsListInOrderAndFilterByType) {
    std::vector<std::string> names{"keep"};
    std::vector<RegistryValue> values{RegistryValue{1}};
    EXPECT_EQ(reg_.EnumKeys(path("Missing"), names), -1);
    EXPECT_TRUE(names.empty());
    names = {"keep"};
    EXPECT_EQ(reg_.EnumValues(path("Missing"), names, values), -1);
    EXPECT_EQ(names, std::vector<std::string>{"keep"});  // left as they were

    const std::string k = path("Enum");
    reg_.CreateKey(k);
    EXPECT_EQ(reg_.EnumKeys(k, names), 0);
    for (const char* name : {"b", "A", "_u", "Z"}) reg_.CreateKey(k + "\\" + name);
    // Names compared upper-cased; Wine compares them lower-cased.
    EXPECT_EQ(keys(k), windows_or_wine(Names{"A", "b", "Z", "_u"}, Names{"_u", "A", "b", "Z"}));

    reg_.WriteDWORD(k, "one", 1);
    reg_.WriteString(k, " padded ", "text");
    reg_.WriteDWORD(k, "two", 2);
    reg_.WriteBinary(k, "bin", "00 FF");
    reg_.WriteString(k, "@", "dv");
    api::Handle key = 0;
    ASSERT_EQ(
        api::RegOpenKeyExA(api::kCurrentUser, (base_ + "\\Enum").c_str(), 0, api::kKeyWrite, &key),
        api::kSuccess);
    ASSERT_EQ(api::RegSetValueExA(key, "exp", 0, api::kExpandString,
                                  reinterpret_cast<const std::uint8_t*>("%X%"), 4),
              api::kSuccess);
    api::RegCloseKey(key);

    EXPECT_EQ(reg_.EnumValues(k, names, values, 4), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(values, (std::vector<RegistryValue>{1, 2}));
    EXPECT_EQ(reg_.EnumValues(k, names, values), 6);
    // Creation order; Wine keeps values sorted by name. The padded name is read again trimmed,
    // and no value has that name.
    EXPECT_EQ(names, windows_or_wine(Names{"one", "padded", "two", "bin", "", "exp"},
                                     Names{"", "padded", "bin", "exp", "one", "two"}));
    EXPECT_EQ(values, windows_or_wine(Values{1, std::string(), 2, std::string("00 FF"),
                                             std::string("dv"), std::monostate{}},
                                      Values{std::string("dv"), std::string(), std::string("00 FF"),
                                             std::monostate{}, 1, 2}));
}

TEST_F(Access, ExportWritesTheDocumentedLinesByteForByte) {
    reg_.WriteString(path("T"), "a", "b");
    reg_.WriteBinary(path("T"), "c", "01 02 FF");
    reg_.WriteDWORD(path("T"), "d", 26);
    reg_.WriteString(path("T"), "@", "dv");
    reg_.WriteString(path("T\\S"), "x", "caf\u00E9");
    reg_.WriteBinary(path("T\\S"), "", "");
    EXPECT_EQ(reg_.ExportToReg("hkcu" + path("T").substr(4), file("t.reg")), 1);
    EXPECT_EQ(read_file(file("t.reg")),
              "REGEDIT4\r\n\r\n"
              "[" +
                  long_path("T") +
                  "]\r\n@=\"dv\"\r\n\"a\"=\"b\"\r\n\"c\"=hex:01,02,FF\r\n\"d\"="
                  "dword:0000001A\r\n\r\n"
                  "[" +
                  long_path("T\\S") + "]\r\n@=\"\"\r\n\"x\"=\"caf\xE9\"\r\n\"\"=hex:\r\n\r\n");

    EXPECT_EQ(reg_.ExportToReg(path("T"), file("one.reg"), false), 1);
    EXPECT_EQ(read_file(file("one.reg")).find("\\S]"), std::string::npos);
    EXPECT_EQ(reg_.ExportToReg(path("T"), file("t.reg")), 0);  // exists: untouched
    EXPECT_EQ(reg_.ExportToReg(path("Missing"), file("missing.reg")), 1);
    EXPECT_EQ(read_file(file("missing.reg")),
              "REGEDIT4\r\n\r\n[" + long_path("Missing") + "]\r\n\r\n");
    EXPECT_EQ(reg_.ExportToReg(path("T"), file("no-such-dir/x.reg")), 0);
}

TEST_F(Access, ExportShowsEachKeyAndFailsWhenTheDisplayDoes) {
    struct Display : syskit::ExportProgress {
        std::vector<std::string> shown;
        bool refuse = false;
        void set_text(std::string_view text) override {
            if (refuse) throw std::runtime_error("not a text box");
            shown.emplace_back(text);
        }
    } display;
    reg_.CreateKey(path("P\\Q"));
    EXPECT_EQ(reg_.ExportToReg(path("P"), file("p.reg"), true, &display), 1);
    EXPECT_EQ(display.shown, (std::vector<std::string>{long_path("P"), long_path("P\\Q")}));
    EXPECT_EQ(reg_.ExportToReg(path("P"), file("plain.reg")), 1);
    EXPECT_EQ(read_file(file("plain.reg")), read_file(file("p.reg")));
    display.refuse = true;
    EXPECT_EQ(reg_.ExportToReg(path("P"), file("refused.reg"), true, &display), 0);
    EXPECT_EQ(read_file(file("refused.reg")), "REGEDIT4\r\n\r\n");
}

TEST_F(Access, ImportAppliesTheDialectWithItsQuirks) {
    const std::string i = path("I");
    reg_.WriteString(i, "@", "old default");
    reg_.WriteString(i, "@", "");
    reg_.WriteString(i, "gone", "x");
    reg_.WriteString(path("Doomed"), "v", "x");
    write_file(file("i.reg"),
               "regedit4\r\n"
               "[" +
                   long_path("I") +
                   "]\r\n"
                   "\"eq\"=\"a=b\"\r\n"
                   "spaced = value\r\n"
                   "\"@\"=\"\"\r\n"
                   "\"gone\"=-\r\n"
                   "; a comment=1\r\n"
                   "\"h\"=hex:41,42,\\\r\n"
                   "  43,44\r\n"
                   "\"odd\"=hex:41,42,43,\\\r\n"
                   "\"@\"=dword:FFFFFFFF\r\n"
                   "\"typed\"=hex(2):41,00\r\n"
                   "[-" +
                   long_path("Doomed") +
                   "]\r\n"
                   "\"ignored\"=\"x\"\r\n"
                   "[" +
                   long_path("Empty") + "]\r\n");
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.ImportFromReg(file("i.reg")), 1);
    EXPECT_TRUE(reg_.CreateKeyIfDoesntExists());
    EXPECT_EQ(reg_.ReadString(i, "eq"), "a");
    EXPECT_TRUE(reg_.ValueExists(i, "spaced "));
    EXPECT_EQ(reg_.ReadBinary(i, "spaced "), "20 76 61 6C 75 65 00");  // " value"
    EXPECT_FALSE(reg_.ValueExists(i, ""));
    EXPECT_FALSE(reg_.ValueExists(i, "gone"));
    EXPECT_EQ(reg_.ReadBinary(i, "h"), "41 42");          // the backslash piece is dropped
    EXPECT_EQ(reg_.ReadBinary(i, "odd"), "41 42 43 00");  // ...or adds a 00 byte
    EXPECT_EQ(reg_.ReadDWORD(i, "@"), -1);                // a value named "@"
    EXPECT_EQ(reg_.ReadString(i, "typed"), "hex(2):41,00");
    EXPECT_FALSE(reg_.KeyExists(path("Doomed")));
    EXPECT_FALSE(reg_.KeyExists(path("Empty")));

    write_file(file("at.reg"), "REGEDIT4\r\n[" + long_path("I") + "]\r\n@=-\r\n");
    reg_.WriteString(i, "@", "kept");
    reg_.WriteDWORD(i, "@", 5);
    EXPECT_EQ(reg_.ImportFromReg(file("at.reg")), 1);
    EXPECT_EQ(reg_.ReadString(i, ""), "kept");
    EXPECT_FALSE(reg_.ValueExists(i, "@"));
}

TEST_F(Access, ImportRefusesWhatIsNotRegedit4) {
    const std::string r = "[" + path("R") + "]";
    struct Case {
        std::string bytes;
        std::int32_t result;
    };
    for (const Case& c : {Case{"", 0}, Case{"REGEDIT4 \r\n" + r + "\r\na=b\r\n", 0},
                          Case{"Windows Registry Editor Version 5.00\r\n" + r + "\r\na=b\r\n", 0},
                          Case{"REGEDIT4\n" + r + "\na=b\n", 0},
                          Case{"REGEDIT4\r\n" + r + "\r\na=b\r\n[\r\nc=d\r\n", 0}}) {
        write_file(file("r.reg"), c.bytes);
        EXPECT_EQ(reg_.ImportFromReg(file("r.reg")), c.result) << c.bytes;
    }
    EXPECT_EQ(reg_.ReadString(path("R"), "a"), "b");  // applied before the lone "["
    EXPECT_EQ(reg_.ImportFromReg(file("missing.reg")), 0);
}

// Each operation's answer stays its value; the status underneath says why, naming what failed.
TEST_F(Access, TheStatusSaysWhyAnOperationAnsweredAsItDid) {
    using Code = syskit::RegistryStatusCode;
    const std::string k = path("S");
    reg_.WriteString(k + "\\Sub", "v", "x");
    reg_.WriteString(k, "long", std::string(300, 'x'));
    reg_.WriteBinary(k, "wide", "01 02 03 04 05");
    write_file(file("lf.reg"), "REGEDIT4\n[" + k + "]\n");
    write_file(file("stop.reg"), "REGEDIT4\r\n[" + k + "]\r\n[\r\n");
    write_file(file("kill.reg"), "REGEDIT4\r\n\r\n[-" + k + "]\r\n");
    write_file(file("exists.reg"), "");
    const std::string long_name(300, 'n');
    struct Case {
        const char* operation;
        std::function<std::string()> call;  // the answer, as text
        std::string answer;
        Code code;
        std::string said;  // part of the message
    };
    const auto text = [](auto value) {
        if constexpr (std::is_same_v<decltype(value), std::string>) {
            return value;
        } else {
            return std::to_string(value);
        }
    };
    const std::vector<Case> cases = {
        {"KeyExists of a missing key", [&] { return text(reg_.KeyExists(path("No"))); }, "0",
         Code::no_such_key, "cannot open key '" + path("No") + "': no such key"},
        {"KeyExists without a root key", [&] { return text(reg_.KeyExists("HKXX\\a")); }, "0",
         Code::unknown_root, "unknown root key 'HKXX'"},
        {"HaveSubkey without a root key", [&] { return text(reg_.HaveSubkey(base_)); }, "0",
         Code::unknown_root, "unknown root key 'Software'"},
        {"EnumKeys without a root key",
         [&] {
             std::vector<std::string> names;
             return text(reg_.EnumKeys("bogus", names));
         },
         "-1", Code::unknown_root, "'bogus'"},
        {"ReadString of a missing value", [&] { return reg_.ReadString(k, "no", "d"); }, "d",
         Code::no_such_value, "no such value"},
        {"ReadString of 300 characters", [&] { return reg_.ReadString(k, "long", "d"); }, "d",
         Code::does_not_fit, "longer than 254 characters"},
        {"ReadDWORD of five bytes", [&] { return text(reg_.ReadDWORD(k, "wide", 7)); }, "7",
         Code::does_not_fit, "longer than 4 bytes"},
        {"KillKey of a key with subkeys", [&] { return text(reg_.KillKey(k) != 0); }, "1",
         Code::has_subkeys, "was not deleted: it has subkeys"},
        {"KillValue of a missing value", [&] { return text(reg_.KillValue(k, "no") != 0); }, "1",
         Code::no_such_value, "no such value"},
        {"a write into a missing key, not to be created",
         [&] {
             reg_.CreateKeyIfDoesntExists(false);
             const auto written = reg_.WriteDWORD(path("No"), "n", 1);
             reg_.CreateKeyIfDoesntExists(true);
             return text(written);
         },
         "0", Code::no_such_key, "the key does not exist"},
        {"CreateKey of a long name", [&] { return text(reg_.CreateKey(k + "\\" + long_name)); },
         "0", windows_or_wine(Code::name_too_long, Code::refused), "\u2026' (3"},
        {"an export of a missing key",
         [&] { return text(reg_.ExportToReg(path("No"), file("no.reg"))); }, "1", Code::no_such_key,
         "no such key"},
        {"an export to an existing file",
         [&] { return text(reg_.ExportToReg(k, file("exists.reg"))); }, "0", Code::file_exists,
         "the file exists"},
        {"an import of LF lines", [&] { return text(reg_.ImportFromReg(file("lf.reg"))); }, "0",
         Code::not_regedit4, "CR LF, not LF"},
        {"an import stopped by a lone [",
         [&] { return text(reg_.ImportFromReg(file("stop.reg"))); }, "0", Code::bad_line, "line 3"},
        {"an import whose deletion was refused",
         [&] { return text(reg_.ImportFromReg(file("kill.reg"))); }, "1", Code::has_subkeys,
         "line 3: key"},
        {"a successful call", [&] { return text(reg_.KeyExists(k)); }, "1", Code::ok, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.answer) << c.operation;
        const syskit::RegistryStatus& status = reg_.LastStatus();
        EXPECT_EQ(status.code, c.code) << c.operation << ": " << status.message;
        EXPECT_NE(status.message.find(c.said), std::string::npos)
            << c.operation << ": " << status.message;
        EXPECT_EQ(status.message.empty(), c.code == Code::ok) << c.operation;
    }
    EXPECT_EQ(reg_.ImportFromReg(file("kill.reg")), 1);
    EXPECT_EQ(reg_.LastStatus().line, 3u);
    std::string too_long(32767, '0');
    EXPECT_THROW(reg_.WriteBinary(k, "b", too_long), syskit::OverflowError);
    EXPECT_EQ(reg_.LastStatus().code, Code::error_raised);
}

TEST_F(Access, ARoundTripOfTenThousandKeysAndValuesGivesTheSameFile) {
    for (int k = 0; k < 2500; ++k) {
        const std::string key =
            path("Tree\\Branch" + std::to_string(k % 50) + "\\Leaf" + std::to_string(k));
        reg_.WriteString(key, "text", "value " + std::to_string(k));
        reg_.WriteDWORD(key, "number", k * 7919);
        reg_.WriteBinary(key, "bytes", "0" + std::to_string(k % 10) + " FF 10");
    }
    ASSERT_EQ(reg_.ExportToReg(path("Tree"), file("first.reg")), 1);
    ASSERT_TRUE(delete_tree(api::kCurrentUser, base_ + "\\Tree"));
    ASSERT_EQ(reg_.ImportFromReg(file("first.reg")), 1);
    ASSERT_EQ(reg_.ExportToReg(path("Tree"), file("second.reg")), 1);
    EXPECT_EQ(read_file(file("first.reg")), read_file(file("second.reg")));
}

}  // namespace
}  // namespace registry_test
