// .reg files in the Windows registry editor's format (syskit/reg_file.hpp) on the build's registry:
// one table row per feature and per error; on Linux an import is all or nothing. Wine's own files
// and the tool's choice of format are checked in tests/cli/reg_file_test.sh.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/reg_file.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"
#include "test_keys.hpp"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace reg_file_test {
namespace {

namespace fs = std::filesystem;
namespace api = syskit::registry::platform;
using registry_test_keys::delete_tree;
using syskit::RegistryStatus;
using syskit::RegistryStatusCode;
using syskit::registry::export_reg_file;
using syskit::registry::import_reg_file;
using syskit::registry::list_values;
using syskit::registry::RegFileFormat;
using syskit::registry::RegValue;

// UTF-8 to UTF-16LE bytes (the characters of these tests are all in the BMP).
std::string utf16le(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t ch = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
        for (int k = 1; k < length; ++k) ch = ch << 6 | (utf8[i + k] & 0x3F);
        i += static_cast<std::size_t>(length);
        out += {static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
    }
    return out;
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// The file's header and the encoding of its bytes.
enum class Form { utf16, utf8, utf8_mark, regedit4, regedit4_utf16 };

// A file of `body` (UTF-8, "{K}" for the test's key) after the header of `form`.
std::string reg_file(Form form, const std::string& body, const std::string& key,
                     std::string_view line_end = "\r\n") {
    const bool regedit4 = form == Form::regedit4 || form == Form::regedit4_utf16;
    const std::string text = replace_all(
        std::string(regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00") + "\n\n" +
            replace_all(body, "{K}", key),
        "\n", line_end);
    if (form == Form::utf16 || form == Form::regedit4_utf16) return "\xFF\xFE" + utf16le(text);
    if (form == Form::utf8_mark) return "\xEF\xBB\xBF" + text;
    if (form == Form::utf8) return text;
    const syskit::Bytes bytes = syskit::text::to_ansi(text);
    return std::string(bytes.begin(), bytes.end());
}

class RegFile : public testing::Test {
  protected:
    void SetUp() override {
        base_ = "Software\\" + registry_test_keys::unique_name("syskit-test-rf");
        fs::create_directories(dir_);
        delete_tree(api::kCurrentUser, base_);
        ASSERT_TRUE(syskit::clsRegistryAccess().CreateKey(key()));
    }
    void TearDown() override {
        delete_tree(api::kCurrentUser, base_);
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    std::string key() const { return "HKEY_CURRENT_USER\\" + base_; }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    RegistryStatus import_text(const std::string& bytes,
                               RegFileFormat format = RegFileFormat::windows) {
        std::ofstream(file("in.reg"), std::ios::binary) << bytes;
        return import_reg_file(file("in.reg"), format);
    }

    // The test key's tree: each key (in name order) with its values in name order, "type:"
    // and the data, texts quoted with control characters as \xHH, other data in hex.
    std::string tree(const std::string& below = {}) {
        std::string out = "[" + below + "]";
        std::vector<RegValue> values;
        EXPECT_TRUE(list_values(key() + below, values).ok()) << below;
        std::sort(values.begin(), values.end(),
                  [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
        for (const RegValue& value : values) {
            out += " " + value.name + "=" + std::to_string(value.type) + ":";
            const bool text = value.type == 1 || value.type == 2 || value.type == 7;
            if (text) out += '"';
            for (const std::uint8_t b : value.data) {
                static constexpr char kDigits[] = "0123456789abcdef";
                if (text && b >= 0x20) {
                    out += static_cast<char>(b);
                    continue;
                }
                out += text ? "\\x" : (out.back() == ':' ? "" : ",");
                out += {kDigits[b >> 4], kDigits[b & 0xF]};
            }
            if (text) out += '"';
        }
        std::vector<std::string> subkeys;
        syskit::clsRegistryAccess().EnumKeys(key() + below, subkeys);
        std::sort(subkeys.begin(), subkeys.end());
        for (const std::string& name : subkeys) out += "\n" + tree(below + "\\" + name);
        return out;
    }

    std::string base_;  // below HKEY_CURRENT_USER
#if defined(_WIN32)
    fs::path dir_ = fs::temp_directory_path() / registry_test_keys::unique_name("syskit-rf-");
#else
    registry_test_keys::ScratchDir scratch_;
    fs::path dir_ = scratch_.path();
    registry_test_keys::StoreDirectory store_{scratch_.path() / "registry"};
#endif
};

// --- Each feature of the format ----------------------------------------------------------------

struct FeatureCase {
    const char* name;
    Form form;
    const char* body;
    const char* tree;  // of the test's key after the import
    const char* line_end = "\r\n";
};

class Features : public RegFile, public testing::WithParamInterface<FeatureCase> {};

TEST_P(Features, AFileOfTheFeatureGivesItsValues) {
    const FeatureCase& c = GetParam();
    const RegistryStatus status = import_text(reg_file(c.form, c.body, key(), c.line_end));
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(tree(), c.tree);
}

// The same file in each encoding; hex(2) is UTF-16LE under the REGEDIT5 header, code-page bytes
// under REGEDIT4, whatever the encoding.
#define KEY_AND_TEXT "[{K}\\caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"10\xE2\x82\xAC \\\"x\\\"\"\n"
constexpr const char* kEncoded = KEY_AND_TEXT "\"e\"=hex(2):e9,00,00,00\n";
constexpr const char* kEncoded4 = KEY_AND_TEXT "\"e\"=hex(2):e9,00\n";
#undef KEY_AND_TEXT
constexpr const char* kEncodedTree =
    "[]\n[\\caf\xC3\xA9] e=2:\"\xC3\xA9\\x00\" \xE2\x82\xAC=1:\"10\xE2\x82\xAC \"x\"\\x00\"";

const FeatureCase kFeatures[] = {
    {"escapes_in_names_and_texts", Form::utf16,
     "[{K}]\n"
     "@=\"C:\\\\Program Files\\\\App \\\"quoted\\\"\"\n"
     "\"back\\\\slash \\\"quote\\\"\"=\"one\\r\\ntwo\\n\"\n"
     "\"\"=\"the empty name is the default value\"\n"
     "\"@\"=\"a value named @\"\n",
     "[] =1:\"the empty name is the default value\\x00\" @=1:\"a value named @\\x00\" "
     "back\\slash \"quote\"=1:\"one\\x0d\\x0atwo\\x0a\\x00\""},
    {"every_kind_of_data", Form::utf16,
     "[{K}]\n"
     "\"sz\"=\"text\"\n"
     "\"dword\"=dword:0000ABcd\n"
     "\"short dword\"=dword: 1\n"
     "\"binary\"=hex:1,02,ff,\n"
     "\"no bytes\"=hex:\n"
     "\"none\"=hex(0):01, 02\n"
     "\"text in hex\"=hex(1):41,00,00,00\n"
     "\"expand\"=hex(2):25,00,41,00,25,00,00,00\n"
     "\"binary in hex\"=hex(3):01\n"
     "\"dword of 3\"=hex(4):01,02,03\n"
     "\"multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\n"
     "\"qword\"=hex(b):08,07,06,05,04,03,02,01\n"
     "\"own type\"=hex( 8000):de,ad\n"
     "\"widest type\"=hex(ffffffff):\n",
     "[] binary=3:01,02,ff binary in hex=3:01 dword=4:cd,ab,00,00 dword of 3=4:01,02,03 "
     "expand=2:\"%A%\\x00\" multi=7:\"a\\x00\xC3\xA9\\x00\\x00\" no bytes=3: none=0:01,02 "
     "own type=32768:de,ad qword=11:08,07,06,05,04,03,02,01 short dword=4:01,00,00,00 "
     "sz=1:\"text\\x00\" text in hex=1:\"A\\x00\" widest type=4294967295:"},
    {"continued_hex_lines", Form::utf16,
     "[{K}]\n"
     "\"long\"=hex:01,02,\\\n"
     "  03,04,\\   \n"
     "\n"
     "; a comment between the lines\n"
     "\t05,\\ ; and one after the backslash\n"
     "  06\n"
     "\"at the end\"=hex:07,\\",
     "[] at the end=3:07 long=3:01,02,03,04,05,06"},
    {"deletions", Form::utf16,
     "[{K}\\gone\\deep\\deeper]\n"
     "\"x\"=\"1\"\n"
     "[{K}\\gone\\other]\n"
     "[{K}\\kept]\n"
     "@=\"default\"\n"
     "\"a\"=\"1\"\n"
     "\"b\"=\"2\"\n"
     "[-{K}\\gone]\n"
     "[-{K}\\never there]\n"
     "[{K}\\kept]\n"
     "@=-\n"
     "\"a\" = -  ; deleted\n"
     "\"never there\"=-\n",
     "[]\n[\\kept] b=1:\"2\\x00\""},
    {"comments_blank_lines_and_spaces", Form::utf16,
     "; a comment before the first key\n"
     "\n"
     "  [{K}\\a] ; a comment after a key\n"
     "   \"indented\"  =  \"value\" ;a comment after a value\n"
     "\"n\"=dword:00000002\t; after a number\n"
     "\"h\"=hex:0a ; after hex\n"
     "\n"
     "[{K}\\b\\\\c\\]\n",
     "[]\n[\\a] h=3:0a indented=1:\"value\\x00\" n=4:02,00,00,00\n[\\b]\n[\\b\\c]"},
    {"lines_ended_by_lf", Form::utf16, "[{K}]\n\"lf\"=hex:01,\\\n 02\n", "[] lf=3:01,02", "\n"},
    {"lines_ended_by_cr", Form::utf16, "[{K}]\n\"cr\"=\"x\"\n", "[] cr=1:\"x\\x00\"", "\r"},
    {"regedit5_utf8", Form::utf8, kEncoded, kEncodedTree},
    {"regedit5_utf8_with_mark", Form::utf8_mark, kEncoded, kEncodedTree},
    {"regedit4_code_page", Form::regedit4, kEncoded4, kEncodedTree},
    {"regedit4_utf16", Form::regedit4_utf16, kEncoded4, kEncodedTree},
};

INSTANTIATE_TEST_SUITE_P(RegFile, Features, testing::ValuesIn(kFeatures),
                         [](const auto& param) { return std::string(param.param.name); });

// --- Errors ------------------------------------------------------------------------------------

struct ErrorCase {
    const char* name;
    const char* body;  // after the lines every case starts with
    std::size_t line;
    const char* says;
};

class Errors : public RegFile, public testing::WithParamInterface<ErrorCase> {};

// Every file first changes the registry on lines 3 to 6 (a key deleted, a value deleted, a key
// and a value written), and then has its error: nothing of it may be applied.
TEST_P(Errors, AnErrorNamesItsLineAndNothingIsApplied) {
    const ErrorCase& c = GetParam();
    ASSERT_TRUE(import_text(reg_file(Form::utf16,
                                     "[{K}\\old]\n\"kept\"=\"1\"\n[{K}\\old\\deep]\n", key()))
                    .ok());
    const std::string before = tree();
    const std::string body = std::string("[-{K}\\old\\deep]\n[{K}\\old]\n\"kept\"=-\n"
                                         "\"new\"=\"2\"\n") +
                             c.body;
    const RegistryStatus status = import_text(reg_file(Form::utf16, body, key()));
    EXPECT_EQ(status.code, RegistryStatusCode::bad_line) << status.message;
    EXPECT_EQ(status.line, c.line) << status.message;
    EXPECT_NE(status.message.find("line " + std::to_string(c.line) + ": " + c.says),
              std::string::npos)
        << status.message;
    EXPECT_EQ(status.file, file("in.reg"));
    EXPECT_EQ(tree(), before);
}

const ErrorCase kErrors[] = {
    {"unknown_escape", "\"t\"=\"a\\tb\"\n", 7, "unknown escape \\t"},
    {"text_without_closing_quote", "\"t\"=\"abc\n", 7, "a text without its closing quote"},
    {"text_after_the_data", "\"t\"=\"a\" b\n", 7, "text after a value's data"},
    {"unknown_data", "\"t\"=str:\"a\"\n", 7, "a value's data must be"},
    {"short_root_name", "[HKCU\\Software]\n", 7,
     "unknown root key 'HKCU' (the editor's files name it in full: HKEY_CURRENT_USER)"},
    {"root_deleted", "[-HKEY_CURRENT_USER]\n", 7, "a root key cannot be deleted"},
    {"key_without_bracket", "[{K}\\x\n", 7, "a key line without its closing ']'"},
    {"text_after_key", "[{K}\\x] y\n", 7, "text after the closing ']'"},
    {"value_of_a_deleted_key", "[-{K}\\x]\n\"v\"=\"1\"\n", 8,
     "a value of a key that a [-...] line deletes"},
    {"byte_of_three_digits", "\"h\"=hex:01,002\n", 7,
     "hex data holds a byte of more than two hex digits"},
    {"space_before_comma", "\"h\"=hex:01 ,02\n", 7, "hex data holds a space before a ','"},
    {"continued_into_a_key_line", "\"h\"=hex:01,\\\n\n[{K}\\x]\n", 9, "hex data holds '['"},
    {"backslash_without_comma", "\"h\"=hex:01\\\n", 7,
     "hex data holds '\\' where a ',' or the end"},
    {"dword_of_nine_digits", "\"d\"=dword:123456789\n", 7, "dword: takes one to eight hex digits"},
    {"type_with_0x", "\"d\"=hex(0x2):00,00\n", 7,
     "hex(N): takes a type N of one to eight hex digits"},
    {"half_a_utf16_character", "\"e\"=hex(2):41,00,00\n", 7,
     "the data of a text type holds 3 bytes"},
    {"character_the_code_page_lacks", "\"t\"=\"\xD0\xB6\"\n", 7,
     "a text holds '\xD0\xB6' (U+0436), which code page "},
    {"line_of_something_else", "#comment\n", 7, "not a key, a value or a comment"},
};

INSTANTIATE_TEST_SUITE_P(RegFile, Errors, testing::ValuesIn(kErrors),
                         [](const auto& param) { return std::string(param.param.name); });

// --- Round trips -------------------------------------------------------------------------------

// Values the editor writes in other forms than a Windows export shows: text holding NUL, a
// number of three bytes, line breaks and quotes in names; all of them come back as they were.
TEST_F(RegFile, ValuesOfEveryShapeComeBackAsTheyWere) {
    api::Handle key = 0;
    ASSERT_EQ(api::RegCreateKeyA(api::kCurrentUser, (base_ + "\\sub\\deeper").c_str(), &key),
              api::kSuccess);
    const struct {
        std::string name;
        api::Dword type;
        std::string data;
    } values[] = {
        {"", 1, std::string("default\0", 8)},
        {"nul inside", 1, std::string("a\0b\0", 4)},
        {"three bytes", 4, "\x01\x02\x03"},
        {"line\r\nbreak \"quoted\" back\\slash", 1, std::string("\"x\"\r\n\\\0", 8)},
        {std::string(100, 'n'), 3, std::string(300, '\x7f')},
        {"\xE9", 2, std::string("%\xE9%\0", 4)},
        {"multi", 7, std::string("a\0\0b\0\0", 6)},
        {"odd type", 0x12345678, "xyz"},
        {"empty", 3, ""},
    };
    for (const auto& v : values) {
        ASSERT_EQ(api::RegSetValueExA(key, v.name.c_str(), 0, v.type,
                                      reinterpret_cast<const std::uint8_t*>(v.data.data()),
                                      static_cast<api::Dword>(v.data.size())),
                  api::kSuccess);
    }
    api::RegCloseKey(key);
    const std::string before = tree();
    ASSERT_TRUE(export_reg_file(this->key(), file("out.reg")).ok());
    ASSERT_TRUE(delete_tree(api::kCurrentUser, base_ + "\\sub"));
    const RegistryStatus status = import_reg_file(file("out.reg"));
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(tree(), before);
}

#if !defined(_WIN32)

// The store fails halfway through an import (its files may not grow: a full disk): the values
// written before in two root keys, and the key the file deletes, are all still there.
TEST_F(RegFile, AnImportThatFailsHalfwayLeavesEveryRootAsItWas) {
    const std::string machine_key = "HKEY_LOCAL_MACHINE\\" + base_;
    std::string body = "[" + machine_key + "]\n\"machine\"=\"1\"\n[{K}\\old]\n\"kept\"=\"1\"\n";
    ASSERT_TRUE(import_text(reg_file(Form::utf16, body, key())).ok());
    const std::string before = tree();
    // Some 3 MiB of values: more than SQLite keeps in its cache, so that the import's
    // transaction spills into the store's files before it ends, and fails there.
    body = "[-{K}\\old]\n[" + machine_key + "]\n\"machine\"=\"2\"\n[{K}]\n";
    std::string hex = "hex:00";
    for (int i = 1; i < 4096; ++i) hex += ",00";
    for (int i = 0; i < 800; ++i) body += "\"v" + std::to_string(i) + "\"=" + hex + "\n";
    const std::string file_text = reg_file(Form::utf8, body, key());
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 1 << 20;
    std::ofstream(file("in.reg"), std::ios::binary) << file_text;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const RegistryStatus status = import_reg_file(file("in.reg"));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(status.code, RegistryStatusCode::io_error) << status.message;
    EXPECT_NE(status.message.find("nothing of the file was applied"), std::string::npos);
    EXPECT_EQ(tree(), before);
    std::vector<RegValue> machine;
    ASSERT_TRUE(list_values(machine_key, machine).ok());
    ASSERT_EQ(machine.size(), 1u);
    EXPECT_EQ(machine[0].data, (syskit::Bytes{'1', 0}));
    delete_tree(api::kLocalMachine, base_);
}

// Another thread's call on a database an import is writing waits for the import to end, and
// then sees the registry without the import's writes when it was abandoned.
TEST_F(RegFile, AnotherThreadWaitsForAnImportsTransaction) {
    api::WriteBatch batch(api::WriteBatch::Commit::at_finish);
    api::Handle key = 0;
    ASSERT_EQ(api::RegCreateKeyA(api::kCurrentUser, base_.c_str(), &key), api::kSuccess);
    ASSERT_EQ(api::RegSetValueExA(key, "v", 0, 3, reinterpret_cast<const std::uint8_t*>("x"), 1),
              api::kSuccess);
    std::atomic<bool> done{false};
    api::Result seen = -1;
    std::thread reader([&] {
        api::Handle own = 0;
        if (api::RegOpenKeyA(api::kCurrentUser, base_.c_str(), &own) == api::kSuccess) {
            seen = api::RegQueryValueExA(own, "v", nullptr, nullptr, nullptr, nullptr);
            api::RegCloseKey(own);
        }
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done);
    api::RegCloseKey(key);
    EXPECT_TRUE(batch.abandon());
    reader.join();
    EXPECT_EQ(seen, api::kFileNotFound);
}

#endif

}  // namespace
}  // namespace reg_file_test
