// clsRegistryAccess over the embedded store: path resolution, keys, the writers and their create
// flag, the readers' buffers and trimming, hex text, enumeration, and REGEDIT4 export and import
// with their quirks, byte for byte.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace registry_test {
namespace {

namespace fs = std::filesystem;
using syskit::clsRegistryAccess;
using syskit::RegistryValue;

class Access : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/syskit-access-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        use_registry("registry");
    }
    void TearDown() override {
        syskit::registry::set_store_directory({});
        fs::remove_all(dir_);
    }
    void use_registry(const std::string& name) {
        syskit::registry::set_store_directory(dir_ / name);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
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

    fs::path dir_;
    clsRegistryAccess reg_;
};

TEST_F(Access, PathsResolveTheirHiveNames) {
    EXPECT_TRUE(reg_.KeyExists("HKCU"));
    EXPECT_NE(reg_.CreateKey("hkcu"), 0);
    EXPECT_TRUE(reg_.KeyExists("HKCU\\"));  // a lone backslash names the root
    EXPECT_NE(reg_.CreateKey("hkey_local_machine\\Software\\Mixed"), 0);
    EXPECT_EQ(keys("HKLM\\Software"), std::vector<std::string>{"Mixed"});  // the case stays
    EXPECT_TRUE(reg_.KeyExists("HKLMxyz\\software\\mixed"));  // only four characters count
    EXPECT_TRUE(reg_.KeyExists("HKUS"));
    // A key name that spells a long hive name reaches the registry as the short one.
    EXPECT_NE(reg_.CreateKey("HKCU\\A\\Hkey_Users\\B"), 0);
    EXPECT_EQ(keys("HKCU\\A"), std::vector<std::string>{"HKUS"});
    for (const char* path : {"Software\\X", "\\HKCU\\X", "HKXX\\X", ""}) {
        EXPECT_EQ(reg_.CreateKey(path), 0) << path;
        EXPECT_EQ(reg_.KillKey(path), 0) << path;
        EXPECT_FALSE(reg_.KeyExists(path)) << path;
    }
    EXPECT_FALSE(reg_.HaveSubkey("Software\\X"));
}

TEST_F(Access, KeysAreCreatedTestedAndDeleted) {
    EXPECT_NE(reg_.CreateKey("HKCU\\K\\Child"), 0);
    EXPECT_NE(reg_.CreateKey("HKCU\\K\\Child"), 0);  // an existing key
    EXPECT_TRUE(reg_.HaveSubkey("HKCU\\K"));
    EXPECT_FALSE(reg_.HaveSubkey("HKCU\\K\\Child"));
    EXPECT_FALSE(reg_.HaveSubkey("HKCU\\Missing"));
    EXPECT_NE(reg_.KillKey("HKCU\\K"), 0);  // opened, so non-zero, though it has a subkey
    EXPECT_TRUE(reg_.KeyExists("HKCU\\K"));
    EXPECT_NE(reg_.KillKey("HKCU\\K\\Child"), 0);
    EXPECT_FALSE(reg_.KeyExists("HKCU\\K\\Child"));
    EXPECT_EQ(reg_.KillKey("HKCU\\K\\Child"), 0);
    // A first subkey whose name does not fit the 255-character buffer still counts.
    reg_.CreateKey("HKCU\\Long\\" + std::string(255, 'n'));
    EXPECT_TRUE(reg_.HaveSubkey("HKCU\\Long"));
}

TEST_F(Access, WritersFollowTheCreateFlag) {
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.WriteString("HKCU\\New", "a", "b"), 0);
    EXPECT_EQ(reg_.WriteDWORD("HKCU\\New", "a", 1), 0);
    EXPECT_EQ(reg_.WriteBinary("HKCU\\New", "a", "01"), 0);
    EXPECT_FALSE(reg_.KeyExists("HKCU\\New"));
    reg_.CreateKeyIfDoesntExists(true);
    EXPECT_NE(reg_.WriteString("HKCU\\New\\Deep", "a", "b"), 0);
    EXPECT_EQ(reg_.ReadString("HKCU\\New\\Deep", "a"), "b");
}

TEST_F(Access, ReadStringTrimsAndFitsTwoHundredFiftyFourCharacters) {
    const std::string k = "HKCU\\Strings";
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
    EXPECT_EQ(reg_.ReadString("HKCU\\Nowhere", "v", "d"), "d");
    // "@" names the default value for WriteString only.
    reg_.WriteString(k, "@", "default");
    EXPECT_EQ(reg_.ReadString(k, ""), "default");
    EXPECT_EQ(reg_.ReadString(k, "@", "none"), "none");
    reg_.WriteBinary(k, "@", "41");
    EXPECT_EQ(reg_.ReadString(k, "@"), "");  // binary "A" without terminator: the trim eats it
}

TEST_F(Access, NumbersAndBinaryData) {
    const std::string k = "HKCU\\Data";
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
    EXPECT_EQ(reg_.KillValue("HKCU\\Nowhere", "n"), 0);
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
    EXPECT_THROW(reg_.WriteBinary("HKCU\\Data", "b", std::string(32767, '0')),
                 syskit::OverflowError);
}

TEST_F(Access, EnumerationsListInOrderAndFilterByType) {
    std::vector<std::string> names{"keep"};
    std::vector<RegistryValue> values{RegistryValue{1}};
    EXPECT_EQ(reg_.EnumKeys("HKCU\\Missing", names), -1);
    EXPECT_TRUE(names.empty());
    names = {"keep"};
    EXPECT_EQ(reg_.EnumValues("HKCU\\Missing", names, values), -1);
    EXPECT_EQ(names, std::vector<std::string>{"keep"});  // left as they were

    const std::string k = "HKCU\\Enum";
    reg_.CreateKey(k);
    EXPECT_EQ(reg_.EnumKeys(k, names), 0);
    reg_.WriteDWORD(k, "one", 1);
    reg_.WriteString(k, " padded ", "text");
    reg_.WriteDWORD(k, "two", 2);
    reg_.WriteBinary(k, "bin", "00 FF");
    reg_.WriteString(k, "@", "dv");
    namespace api = syskit::registry::platform;
    api::Handle key = 0;
    ASSERT_EQ(api::RegOpenKeyExA(api::kCurrentUser, "Enum", 0, api::kKeyWrite, &key),
              api::kSuccess);
    ASSERT_EQ(api::RegSetValueExA(key, "exp", 0, api::kExpandString,
                                  reinterpret_cast<const std::uint8_t*>("%X%"), 4),
              api::kSuccess);
    api::RegCloseKey(key);

    EXPECT_EQ(reg_.EnumValues(k, names, values, 4), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(values, (std::vector<RegistryValue>{1, 2}));
    EXPECT_EQ(reg_.EnumValues(k, names, values), 6);
    EXPECT_EQ(names, (std::vector<std::string>{"one", "padded", "two", "bin", "", "exp"}));
    // The padded name is read again trimmed, and no value has that name.
    EXPECT_EQ(values, (std::vector<RegistryValue>{1, std::string(), 2, std::string("00 FF"),
                                                  std::string("dv"), std::monostate{}}));
}

TEST_F(Access, ExportWritesTheDocumentedLinesByteForByte) {
    reg_.WriteString("HKCU\\T", "a", "b");
    reg_.WriteBinary("HKCU\\T", "c", "01 02 FF");
    reg_.WriteDWORD("HKCU\\T", "d", 26);
    reg_.WriteString("HKCU\\T", "@", "dv");
    reg_.WriteString("HKCU\\T\\S", "x", "caf\u00E9");
    reg_.WriteBinary("HKCU\\T\\S", "", "");
    EXPECT_EQ(reg_.ExportToReg("hkcu\\T", file("t.reg")), 1);
    EXPECT_EQ(read_file(file("t.reg")),
              "REGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\T]\r\n@=\"dv\"\r\n\"a\"=\"b\"\r\n\"c\"=hex:01,02,FF\r\n\"d\"="
              "dword:0000001A\r\n\r\n"
              "[HKEY_CURRENT_USER\\T\\S]\r\n@=\"\"\r\n\"x\"=\"caf\xE9\"\r\n\"\"=hex:\r\n\r\n");

    EXPECT_EQ(reg_.ExportToReg("HKCU\\T", file("one.reg"), false), 1);
    EXPECT_EQ(read_file(file("one.reg")).find("\\S]"), std::string::npos);
    EXPECT_EQ(reg_.ExportToReg("HKCU\\T", file("t.reg")), 0);  // exists: untouched
    EXPECT_EQ(reg_.ExportToReg("HKCU\\Missing", file("missing.reg")), 1);
    EXPECT_EQ(read_file(file("missing.reg")),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Missing]\r\n\r\n");
    EXPECT_EQ(reg_.ExportToReg("HKCU\\T", file("no-such-dir/x.reg")), 0);
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
    reg_.CreateKey("HKCU\\P\\Q");
    EXPECT_EQ(reg_.ExportToReg("HKCU\\P", file("p.reg"), true, &display), 1);
    EXPECT_EQ(display.shown,
              (std::vector<std::string>{"HKEY_CURRENT_USER\\P", "HKEY_CURRENT_USER\\P\\Q"}));
    EXPECT_EQ(reg_.ExportToReg("HKCU\\P", file("plain.reg")), 1);
    EXPECT_EQ(read_file(file("plain.reg")), read_file(file("p.reg")));
    display.refuse = true;
    EXPECT_EQ(reg_.ExportToReg("HKCU\\P", file("refused.reg"), true, &display), 0);
    EXPECT_EQ(read_file(file("refused.reg")), "REGEDIT4\r\n\r\n");
}

TEST_F(Access, ImportAppliesTheDialectWithItsQuirks) {
    reg_.WriteString("HKCU\\I", "@", "old default");
    reg_.WriteString("HKCU\\I", "@", "");
    reg_.WriteString("HKCU\\I", "gone", "x");
    reg_.WriteString("HKCU\\Doomed", "v", "x");
    write_file(file("i.reg"),
               "regedit4\r\n"
               "[HKEY_CURRENT_USER\\I]\r\n"
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
               "[-HKEY_CURRENT_USER\\Doomed]\r\n"
               "\"ignored\"=\"x\"\r\n"
               "[HKEY_CURRENT_USER\\Empty]\r\n");
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.ImportFromReg(file("i.reg")), 1);
    EXPECT_TRUE(reg_.CreateKeyIfDoesntExists());
    EXPECT_EQ(reg_.ReadString("HKCU\\I", "eq"), "a");
    EXPECT_TRUE(reg_.ValueExists("HKCU\\I", "spaced "));
    EXPECT_EQ(reg_.ReadBinary("HKCU\\I", "spaced "), "20 76 61 6C 75 65 00");  // " value"
    EXPECT_FALSE(reg_.ValueExists("HKCU\\I", ""));
    EXPECT_FALSE(reg_.ValueExists("HKCU\\I", "gone"));
    EXPECT_EQ(reg_.ReadBinary("HKCU\\I", "h"), "41 42");          // the backslash piece is dropped
    EXPECT_EQ(reg_.ReadBinary("HKCU\\I", "odd"), "41 42 43 00");  // ...or adds a 00 byte
    EXPECT_EQ(reg_.ReadDWORD("HKCU\\I", "@"), -1);                // a value named "@"
    EXPECT_EQ(reg_.ReadString("HKCU\\I", "typed"), "hex(2):41,00");
    EXPECT_FALSE(reg_.KeyExists("HKCU\\Doomed"));
    EXPECT_FALSE(reg_.KeyExists("HKCU\\Empty"));

    write_file(file("at.reg"), "REGEDIT4\r\n[HKEY_CURRENT_USER\\I]\r\n@=-\r\n");
    reg_.WriteString("HKCU\\I", "@", "kept");
    reg_.WriteDWORD("HKCU\\I", "@", 5);
    EXPECT_EQ(reg_.ImportFromReg(file("at.reg")), 1);
    EXPECT_EQ(reg_.ReadString("HKCU\\I", ""), "kept");
    EXPECT_FALSE(reg_.ValueExists("HKCU\\I", "@"));
}

TEST_F(Access, ImportRefusesWhatIsNotRegedit4) {
    struct Case {
        const char* bytes;
        std::int32_t result;
    };
    for (const Case c : {Case{"", 0}, Case{"REGEDIT4 \r\n[HKCU\\R]\r\na=b\r\n", 0},
                         Case{"Windows Registry Editor Version 5.00\r\n[HKCU\\R]\r\na=b\r\n", 0},
                         Case{"REGEDIT4\n[HKCU\\R]\na=b\n", 0},
                         Case{"REGEDIT4\r\n[HKCU\\R]\r\na=b\r\n[\r\nc=d\r\n", 0}}) {
        write_file(file("r.reg"), c.bytes);
        EXPECT_EQ(reg_.ImportFromReg(file("r.reg")), c.result) << c.bytes;
    }
    EXPECT_EQ(reg_.ReadString("HKCU\\R", "a"), "b");  // applied before the lone "["
    EXPECT_EQ(reg_.ImportFromReg(file("missing.reg")), 0);
}

TEST_F(Access, ARoundTripOfTenThousandKeysAndValuesGivesTheSameFile) {
    for (int k = 0; k < 2500; ++k) {
        const std::string key =
            "HKCU\\Tree\\Branch" + std::to_string(k % 50) + "\\Leaf" + std::to_string(k);
        reg_.WriteString(key, "text", "value " + std::to_string(k));
        reg_.WriteDWORD(key, "number", k * 7919);
        reg_.WriteBinary(key, "bytes", "0" + std::to_string(k % 10) + " FF 10");
    }
    ASSERT_EQ(reg_.ExportToReg("HKCU\\Tree", file("first.reg")), 1);
    use_registry("empty");
    ASSERT_EQ(reg_.ImportFromReg(file("first.reg")), 1);
    ASSERT_EQ(reg_.ExportToReg("HKCU\\Tree", file("second.reg")), 1);
    EXPECT_EQ(read_file(file("first.reg")), read_file(file("second.reg")));
}

}  // namespace
}  // namespace registry_test
