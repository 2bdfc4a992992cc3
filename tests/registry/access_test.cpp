// clsRegistryAccess on the store (Linux) or the real registry (Windows, Wine), below a key of each
// test's own; where Wine answers otherwise than Windows and the store, both answers are named.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"
#include "test_keys.hpp"

namespace registry_test {
namespace {

namespace fs = std::filesystem;
namespace api = syskit::registry::platform;
using registry_test_keys::delete_tree;
using registry_test_keys::on_wine;
using Code = syskit::RegistryStatusCode;
using Names = std::vector<std::string>;
using Values = std::vector<syskit::RegistryValue>;

fs::path native(const std::string& name) { return std::u8string(name.begin(), name.end()); }
std::string read_file(const std::string& name) {
    std::ifstream in(native(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream(native(name), std::ios::binary) << bytes;
}

const std::string kUtf8Name = "pr\u00FCfung-\u043A\u043B\u044E\u0447.reg";

class Access : public testing::Test {
  protected:
    void SetUp() override {
        const std::string name = registry_test_keys::unique_name("syskit-test-");
        base_ = "Software\\" + name;
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
#if !defined(_WIN32)
        store_.emplace(dir_ / "registry");
#endif
        ASSERT_NE(reg_.CreateKey(path()), 0);
    }
    void TearDown() override {
        delete_tree(api::kCurrentUser, base_);
        std::error_code error;
        fs::remove_all(dir_, error);
    }
    std::string path(std::string_view below = {}) const {  // the test's key or one below
        return "HKCU\\" + base_ + (below.empty() ? "" : "\\") + std::string(below);
    }
    std::string long_path(std::string_view below = {}) const {  // as the export writes it
        return "HKEY_CURRENT_USER" + path(below).substr(4);
    }
    std::string file(const std::string& name) const { return dir_.string() + "/" + name; }
    Names keys(const std::string& path) {
        Names names;
        reg_.EnumKeys(path, names);
        return names;
    }

    std::string base_;  // below HKEY_CURRENT_USER
    fs::path dir_;      // the test's files (and on Linux its store)
    syskit::clsRegistryAccess reg_;
#if !defined(_WIN32)
    std::optional<registry_test_keys::StoreDirectory> store_;
#endif
};

// Hives by short (four characters count) or long name in any case; none, no key; the create flag.
TEST_F(Access, PathsKeysAndTheCreateFlag) {
    EXPECT_TRUE(reg_.KeyExists("HKCU\\"));
    EXPECT_NE(reg_.CreateKey("hkey_current_user\\" + base_ + "\\Mixed\\A\\Hkey_Users\\B"), 0);
    EXPECT_TRUE(reg_.KeyExists("HKCUxyz\\" + base_ + "\\mixed\\a\\HKUS"));
    EXPECT_EQ(keys(path()), Names{"Mixed"});
    for (const std::string& bad : Names{base_, "\\" + path("X"), "HKXX\\" + base_, ""}) {
        EXPECT_EQ(reg_.CreateKey(bad), 0) << bad;
        EXPECT_EQ(reg_.KillKey(bad), 0) << bad;
    }
    EXPECT_NE(reg_.KillKey(path("Mixed")), 0);  // opened, so non-zero, though it has a subkey
    EXPECT_TRUE(reg_.KeyExists(path("Mixed")));
    api::Handle parent = 0, child = 0;  // a 255-character subkey (too long for Wine from the root)
    ASSERT_EQ(api::RegCreateKeyA(api::kCurrentUser, (base_ + "\\Long").c_str(), &parent), 0);
    ASSERT_EQ(api::RegCreateKeyA(parent, std::string(255, 'n').c_str(), &child), 0);
    api::RegCloseKey(child);
    api::RegCloseKey(parent);
    EXPECT_TRUE(reg_.HaveSubkey(path("Long")));
    EXPECT_FALSE(reg_.HaveSubkey(path("Mixed\\A\\HKUS\\B")));
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.WriteString(path("New"), "a", "b"), 0);
    EXPECT_EQ(reg_.WriteBinary(path("New"), "a", "01"), 0);
    EXPECT_FALSE(reg_.KeyExists(path("New")));
}

// Texts lose leading spaces and fit 254 characters; hex text of any spacing; numbers of any data.
TEST_F(Access, TextsNumbersAndBinaryDataReadAsWrittenAndHexText) {
    const std::string k = path("Data");
    const std::string x254(254, 'x');
    const std::pair<std::string, std::string> texts[] = {  // written, read
        {"  lead", "lead"}, {"trail  ", "trail  "}, {x254, x254}, {x254 + "x", "dflt"}, {"", ""},
        {"caf\u00E9 \u20AC", "caf\u00E9 \u20AC"}};
    const std::pair<const char*, const char*> hex_texts[] = {
        {"  41 4 2  43 ", "41 42 43"}, {"61 6a ff", "61 6A FF"}, {"", ""}, {"1", ""},
        {"123", "12 03"}, {"1234567", "12 34 56 07"}, {"GG", "00"}, {"1G", "01"}};
    for (const auto& [stored, read] : texts) {
        ASSERT_NE(reg_.WriteString(k, "v", stored), 0);
        EXPECT_EQ(reg_.ReadString(k, "v", "dflt"), read) << stored.size();
    }
    for (const auto& [hex, stored] : hex_texts) {
        ASSERT_NE(reg_.WriteBinary(k, "b", hex), 0) << hex;
        EXPECT_EQ(reg_.ReadBinary(k, "b", "dflt"), stored) << hex;
    }
    EXPECT_TRUE(reg_.ValueExists(k, "b"));  // empty data counts too
    EXPECT_EQ(reg_.ReadString(k, "missing"), std::string(1, '\0'));
    reg_.WriteString(k, "@", "default");  // "@" names the default value for WriteString only
    EXPECT_EQ(reg_.ReadString(k, ""), "default");
    reg_.WriteBinary(k, "@", "41");
    EXPECT_EQ(reg_.ReadString(k, "@"), "");  // binary "A" without terminator: the trim eats it
    reg_.WriteDWORD(k, "n", -1);
    EXPECT_EQ(reg_.ReadBinary(k, "n"), "FF FF FF FF");
    reg_.WriteBinary(k, "two", "01 02");
    EXPECT_EQ(reg_.ReadDWORD(k, "two"), 513);
    // Hex text: any spacing, at most 32,766 digits; bytes shown as spaced upper-case pairs.
    std::string hex = " 4 1 42 ";
    EXPECT_EQ(reg_.StrToBin(hex), "AB");
    EXPECT_EQ(hex, "4142");
    EXPECT_EQ(reg_.BinToStr(std::string("A\0\xC3\xA9", 4)), " 41 00 E9");
    for (const char* valid : {"0a 1B ff", "123", "AbCdEf"}) EXPECT_TRUE(reg_.isBinValid(valid));
    for (const char* invalid : {"0G", "", "   ", "12-34"}) EXPECT_FALSE(reg_.isBinValid(invalid));
    std::string longest(32766, 'A'), too_long(32767, 'A');
    EXPECT_EQ(reg_.StrToBin(longest).size(), 16383u * 2);  // 0xAA is "ª", two UTF-8 bytes
    EXPECT_THROW((void)reg_.BinToStr(too_long), syskit::OverflowError);
    EXPECT_THROW(reg_.WriteBinary(path("Data"), "b", too_long), syskit::OverflowError);
    EXPECT_EQ(reg_.LastStatus().code, Code::error_raised);
    reg_.CreateKeyIfDoesntExists(false);  // a writer that may not create its key stops first
    EXPECT_EQ(reg_.WriteBinary(path("Missing"), "b", too_long), 0);
}

// Values in the registry's order, all or only the numbers.
TEST_F(Access, EnumerationsListInOrderAndFilterByType) {
    Names names{"keep"};
    Values values;
    EXPECT_EQ(reg_.EnumValues(path("Missing"), names, values), -1);
    EXPECT_EQ(names, Names{"keep"});  // left as they were
    const std::string k = path("Enum");
    reg_.WriteDWORD(k, "one", 1);
    reg_.WriteString(k, " padded ", "text");
    reg_.WriteDWORD(k, "two", 2);
    reg_.WriteBinary(k, "bin", "00 FF");
    reg_.WriteString(k, "@", "dv");
    api::Handle key = 0;  // a type clsRegistryAccess does not write
    api::RegOpenKeyExA(api::kCurrentUser, (base_ + "\\Enum").c_str(), 0, api::kKeyWrite, &key);
    ASSERT_EQ(api::RegSetValueExA(key, "exp", 0, api::kExpandString,
                                  reinterpret_cast<const std::uint8_t*>("%X%"), 4, nullptr), 0);
    api::RegCloseKey(key);
    EXPECT_EQ(reg_.EnumValues(k, names, values, 4), 2);
    EXPECT_EQ(names, (Names{"one", "two"}));
    EXPECT_EQ(values, (Values{1, 2}));
    EXPECT_EQ(reg_.EnumValues(k, names, values), 6);
    // The padded name is read again trimmed: no value has it.
    EXPECT_EQ(names, (on_wine() ? Names{"", "padded", "bin", "exp", "one", "two"}
                                : Names{"one", "padded", "two", "bin", "", "exp"}));
    const std::string none, bin = "00 FF", dv = "dv";
    EXPECT_EQ(values, (on_wine() ? Values{dv, none, bin, std::monostate{}, 1, 2}
                                 : Values{1, none, 2, bin, dv, std::monostate{}}));
}

// The export writes its lines byte for byte (to a file of a UTF-8 name, as every import reads),
// shows each key, never writes over a file and stops when the display refuses.
TEST_F(Access, ExportWritesItsLinesByteForByte) {
    reg_.WriteString(path("T"), "a", "b");
    reg_.WriteBinary(path("T"), "c", "01 02 FF");
    reg_.WriteDWORD(path("T"), "d", 26);
    reg_.WriteString(path("T"), "@", "dv");
    reg_.WriteString(path("T\\S"), "x", "caf\u00E9");
    reg_.WriteBinary(path("T\\S"), "", "");
    struct Display : syskit::ExportProgress {
        Names shown;
        bool refuse = false;
        void set_text(std::string_view text) override {
            if (refuse) throw std::runtime_error("not a text box");
            shown.emplace_back(text);
        }
    } display;
    EXPECT_EQ(reg_.ExportToReg("hkcu" + path("T").substr(4), file(kUtf8Name), true, &display), 1);
    EXPECT_EQ(display.shown, (Names{long_path("T"), long_path("T\\S")}));
    EXPECT_EQ(read_file(file(kUtf8Name)),
              "REGEDIT4\r\n\r\n[" + long_path("T") +
                  "]\r\n@=\"dv\"\r\n\"a\"=\"b\"\r\n\"c\"=hex:01,02,FF\r\n\"d\"=dword:0000001A\r\n"
                  "\r\n[" +
                  long_path("T\\S") + "]\r\n@=\"\"\r\n\"x\"=\"caf\xE9\"\r\n\"\"=hex:\r\n\r\n");
    EXPECT_EQ(reg_.ExportToReg(path("Missing"), file("missing.reg"), false), 1);
    EXPECT_EQ(read_file(file("missing.reg")),
              "REGEDIT4\r\n\r\n[" + long_path("Missing") + "]\r\n\r\n");
    EXPECT_EQ(reg_.ExportToReg(path("T"), file(kUtf8Name)), 0);  // never over a file
    display.refuse = true;
    EXPECT_EQ(reg_.ExportToReg(path("T"), file("refused.reg"), true, &display), 0);
    EXPECT_EQ(read_file(file("refused.reg")), "REGEDIT4\r\n\r\n");
}

// The import's dialect: "=" ends a name, lines without quotes, "@" as a name, hex continuations.
TEST_F(Access, ImportAppliesTheDialectWithItsQuirks) {
    const std::string i = path("I");
    reg_.WriteString(i, "@", "old default");
    reg_.WriteString(i, "gone", "x");
    reg_.WriteString(path("Doomed"), "v", "x");
    write_file(file(kUtf8Name),
               "regedit4\r\n[" + long_path("I") + "]\r\n\"eq\"=\"a=b\"\r\nspaced = value\r\n"
               "\"@\"=\"\"\r\n\"gone\"=-\r\n; a comment=1\r\n\"h\"=hex:41,42,\\\r\n  43,44\r\n"
               "\"odd\"=hex:41,42,43,\\\r\n\"@\"=dword:FFFFFFFF\r\n\"typed\"=hex(2):41,00\r\n"
               "[-" + long_path("Doomed") + "]\r\n\"ignored\"=\"x\"\r\n[" + long_path("Empty") +
                   "]\r\n");
    reg_.CreateKeyIfDoesntExists(false);
    EXPECT_EQ(reg_.ImportFromReg(file(kUtf8Name)), 1);
    EXPECT_TRUE(reg_.CreateKeyIfDoesntExists());
    EXPECT_EQ(reg_.ReadString(i, "eq"), "a");
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
    EXPECT_EQ(reg_.ImportFromReg(file("at.reg")), 1);  // "@=-" deletes the value named "@"
    EXPECT_EQ(reg_.ReadString(i, ""), "kept");
    EXPECT_FALSE(reg_.ValueExists(i, "@"));
}

// Each operation's answer stays its value; the status underneath says why, naming what failed.
TEST_F(Access, TheStatusSaysWhyAnOperationAnsweredAsItDid) {
    const std::string k = path("S");
    reg_.WriteString(k + "\\Sub", "v", "x");
    reg_.WriteString(k, "long", std::string(300, 'x'));
    write_file(file("kill.reg"), "REGEDIT4\r\n\r\n[-" + k + "]\r\n");
    const auto says = [&](std::int64_t answer, std::int64_t expected, Code code,
                          const std::string& part) {
        const syskit::RegistryStatus& status = reg_.LastStatus();
        EXPECT_TRUE(answer == expected && status.code == code) << answer << " " << status.message;
        EXPECT_TRUE(status.message.find(part) != std::string::npos &&
                    status.message.empty() == (code == Code::ok))
            << status.message;
    };
    says(reg_.KeyExists(path("No")), 0, Code::no_such_key, "key '" + path("No") + "': no such key");
    says(reg_.HaveSubkey(base_), 0, Code::unknown_root, "unknown root key 'Software'");
    says(reg_.ReadString(k, "long", "d") == "d", 1, Code::does_not_fit, "than 254 characters");
    says(reg_.KillKey(k) != 0, 1, Code::has_subkeys, "was not deleted: it has subkeys");
    says(reg_.CreateKey(k + "\\" + std::string(300, 'n')), 0,
         on_wine() ? Code::refused : Code::name_too_long, "\u2026' (3");
    says(reg_.KillValue(k, "no") != 0, 1, Code::no_such_value, "no such value");
    says(reg_.ImportFromReg(file("none.reg")), 0, Code::io_error, "cannot read");
    says(reg_.ImportFromReg(file("kill.reg")), 1, Code::has_subkeys, "line 3: key");
    EXPECT_EQ(reg_.LastStatus().line, 3u);
    says(reg_.KeyExists(k), 1, Code::ok, "");
}

}  // namespace
}  // namespace registry_test
