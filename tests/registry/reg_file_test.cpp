// .reg files in the Windows registry editor's format (syskit/reg_file.hpp), on the registry the
// build has: the store on Linux, Wine's registry in the Windows build.
//
// Hand-written files, one table row per feature of the format, are imported under a key of the
// test's own and the key's tree is compared with what the row says; erroneous files must leave
// the registry as it was and name their line. data/wine_export.reg is what Wine's regedit /E
// wrote for HKEY_CURRENT_USER\Software\syskit-reg-file-fixture after importing a hand-written
// file: imported and exported again it must come back byte for byte on both builds. Values the
// editor cannot write as text go round through export and import unchanged. On Linux, a store
// that fails halfway through an import must be left as it was, and another thread's call must
// wait for the import rather than end its transaction.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/reg_file.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"
#include "test_keys.hpp"

#if defined(_WIN32)
#include <process.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

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

long process_id() {
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

// UTF-8 to UTF-16LE bytes (the characters of these tests are all in the BMP).
std::string utf16le(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t ch = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
        for (int k = 1; k < length; ++k) ch = ch << 6 | (utf8[i + k] & 0x3F);
        i += static_cast<std::size_t>(length);
        out += static_cast<char>(ch & 0xFF);
        out += static_cast<char>(ch >> 8);
    }
    return out;
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// The file's form: the header and the encoding of its bytes.
enum class Form { utf16, utf8, utf8_mark, regedit4, regedit4_utf16 };

// A file of `body` (UTF-8, "{K}" for the test's key) after the header of `form`, its lines
// ended by `line_end`.
std::string reg_file(Form form, const std::string& body, const std::string& key,
                     std::string_view line_end = "\r\n") {
    const bool regedit4 = form == Form::regedit4 || form == Form::regedit4_utf16;
    std::string text = std::string(regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00") +
                       "\n\n" + replace_all(body, "{K}", key);
    text = replace_all(text, "\n", line_end);
    switch (form) {
        case Form::utf16:
        case Form::regedit4_utf16:
            return "\xFF\xFE" + utf16le(text);
        case Form::utf8:
            return text;
        case Form::utf8_mark:
            return "\xEF\xBB\xBF" + text;
        case Form::regedit4: {
            const syskit::Bytes bytes = syskit::text::to_ansi(text);
            return std::string(bytes.begin(), bytes.end());
        }
    }
    return {};
}

class RegFile : public testing::Test {
  protected:
    void SetUp() override {
        static int tests = 0;
        const std::string name =
            "syskit-test-" + std::to_string(process_id()) + "-rf" + std::to_string(++tests);
        base_ = "Software\\" + name;
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
#if !defined(_WIN32)
        syskit::registry::set_store_directory(dir_ / "registry");
#endif
        delete_tree(api::kCurrentUser, base_);
        api::Handle key = 0;
        ASSERT_EQ(api::RegCreateKeyA(api::kCurrentUser, base_.c_str(), &key), api::kSuccess);
        api::RegCloseKey(key);
    }
    void TearDown() override {
        delete_tree(api::kCurrentUser, base_);
#if !defined(_WIN32)
        syskit::registry::set_store_directory({});
#endif
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    // The test's key as the editor's files name it.
    std::string key() const { return "HKEY_CURRENT_USER\\" + base_; }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    RegistryStatus import_text(const std::string& bytes,
                               RegFileFormat format = RegFileFormat::windows) {
        write_bytes(file("in.reg"), bytes);
        return import_reg_file(file("in.reg"), format);
    }

    // The test key's tree: each key (below the test's, in name order) and its values in name
    // order, texts in quotes with control characters escaped, other data in hex.
    std::string tree(const std::string& below = {}) {
        const std::string path = key() + below;
        std::string out = "[" + below + "]";
        std::vector<RegValue> values;
        EXPECT_TRUE(list_values(path, values).ok()) << path;
        std::sort(values.begin(), values.end(),
                  [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
        for (const RegValue& value : values) {
            out += " " + value.name + "=" + std::to_string(value.type) + ":";
            const bool text = value.type == 1 || value.type == 2 || value.type == 7;
            if (text) out += '"';
            for (const std::uint8_t b : value.data) {
                static constexpr char kDigits[] = "0123456789abcdef";
                if (!text || b < 0x20) {
                    out += text ? "\\x" : (out.back() == ':' ? "" : ",");
                    out += kDigits[b >> 4];
                    out += kDigits[b & 0xF];
                } else {
                    out += static_cast<char>(b);
                }
            }
            if (text) out += '"';
        }
        std::vector<std::string> subkeys;
        api::Handle handle = 0;
        const syskit::Bytes subkey = syskit::text::to_ansi(base_ + below + '\0');
        if (api::RegOpenKeyExA(api::kCurrentUser, reinterpret_cast<const char*>(subkey.data()), 0,
                               api::kKeyRead, &handle) == api::kSuccess) {
            char name[300];
            for (api::Dword i = 0;; ++i) {
                api::Dword size = sizeof name;
                if (api::RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                    api::kSuccess)
                    break;
                subkeys.push_back(syskit::text::from_ansi(
                    std::span(reinterpret_cast<const std::uint8_t*>(name), size)));
            }
            api::RegCloseKey(handle);
        }
        std::sort(subkeys.begin(), subkeys.end());
        for (const std::string& name : subkeys) out += "\n" + tree(below + "\\" + name);
        return out;
    }

    std::string base_;  // below HKEY_CURRENT_USER
    fs::path dir_;
};

// --- Each feature of the format ----------------------------------------------------------------

struct FeatureCase {
    const char* name;
    Form form;
    const char* body;
    const char* tree;  // of the test's key after the import
    const char* line_end = "\r\n";
};

void PrintTo(const FeatureCase& c, std::ostream* out) {
    *out << c.name;
}

class Features : public RegFile, public testing::WithParamInterface<FeatureCase> {};

TEST_P(Features, AFileOfTheFeatureGivesItsValues) {
    const FeatureCase& c = GetParam();
    const RegistryStatus status = import_text(reg_file(c.form, c.body, key(), c.line_end));
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(tree(), c.tree);
}

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
    // The same file in each encoding; hex(2) is UTF-16LE under the REGEDIT5 header, code-page
    // bytes under REGEDIT4, whatever the encoding.
    {"regedit5_utf8", Form::utf8,
     "[{K}\\caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"10\xE2\x82\xAC \\\"x\\\"\"\n\"e\"=hex(2):e9,00,00,00\n",
     "[]\n[\\caf\xC3\xA9] e=2:\"\xC3\xA9\\x00\" \xE2\x82\xAC=1:\"10\xE2\x82\xAC \"x\"\\x00\""},
    {"regedit5_utf8_with_mark", Form::utf8_mark,
     "[{K}\\caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"10\xE2\x82\xAC \\\"x\\\"\"\n\"e\"=hex(2):e9,00,00,00\n",
     "[]\n[\\caf\xC3\xA9] e=2:\"\xC3\xA9\\x00\" \xE2\x82\xAC=1:\"10\xE2\x82\xAC \"x\"\\x00\""},
    {"regedit4_code_page", Form::regedit4,
     "[{K}\\caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"10\xE2\x82\xAC \\\"x\\\"\"\n\"e\"=hex(2):e9,00\n",
     "[]\n[\\caf\xC3\xA9] e=2:\"\xC3\xA9\\x00\" \xE2\x82\xAC=1:\"10\xE2\x82\xAC \"x\"\\x00\""},
    {"regedit4_utf16", Form::regedit4_utf16,
     "[{K}\\caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"10\xE2\x82\xAC \\\"x\\\"\"\n\"e\"=hex(2):e9,00\n",
     "[]\n[\\caf\xC3\xA9] e=2:\"\xC3\xA9\\x00\" \xE2\x82\xAC=1:\"10\xE2\x82\xAC \"x\"\\x00\""},
};

INSTANTIATE_TEST_SUITE_P(RegFile, Features, testing::ValuesIn(kFeatures),
                         [](const auto& param) { return std::string(param.param.name); });

// --- Errors ------------------------------------------------------------------------------------

struct ErrorCase {
    const char* name;
    const char* body;  // after the lines every case starts with
    std::size_t line;
    RegistryStatusCode code;
    const char* says;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

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
    EXPECT_EQ(status.code, c.code) << status.message;
    EXPECT_EQ(status.line, c.line) << status.message;
    EXPECT_NE(status.message.find("line " + std::to_string(c.line) + ": " + c.says),
              std::string::npos)
        << status.message;
    EXPECT_EQ(status.file, file("in.reg"));
    EXPECT_EQ(tree(), before);
}

const ErrorCase kErrors[] = {
    {"unknown_escape", "\"t\"=\"a\\tb\"\n", 7, RegistryStatusCode::bad_line, "unknown escape \\t"},
    {"text_without_closing_quote", "\"t\"=\"abc\n", 7, RegistryStatusCode::bad_line,
     "a text without its closing quote"},
    {"text_after_the_data", "\"t\"=\"a\" b\n", 7, RegistryStatusCode::bad_line,
     "text after a value's data"},
    {"unknown_data", "\"t\"=str:\"a\"\n", 7, RegistryStatusCode::bad_line,
     "a value's data must be"},
    {"short_root_name", "[HKCU\\Software]\n", 7, RegistryStatusCode::bad_line,
     "unknown root key 'HKCU' (the editor's files name it in full: HKEY_CURRENT_USER)"},
    {"root_deleted", "[-HKEY_CURRENT_USER]\n", 7, RegistryStatusCode::bad_line,
     "a root key cannot be deleted"},
    {"key_without_bracket", "[{K}\\x\n", 7, RegistryStatusCode::bad_line,
     "a key line without its closing ']'"},
    {"text_after_key", "[{K}\\x] y\n", 7, RegistryStatusCode::bad_line,
     "text after the closing ']'"},
    {"value_of_a_deleted_key", "[-{K}\\x]\n\"v\"=\"1\"\n", 8, RegistryStatusCode::bad_line,
     "a value of a key that a [-...] line deletes"},
    {"byte_of_three_digits", "\"h\"=hex:01,002\n", 7, RegistryStatusCode::bad_line,
     "hex data holds a byte of more than two hex digits"},
    {"space_before_comma", "\"h\"=hex:01 ,02\n", 7, RegistryStatusCode::bad_line,
     "hex data holds a space before a ','"},
    {"continued_into_a_key_line", "\"h\"=hex:01,\\\n\n[{K}\\x]\n", 9,
     RegistryStatusCode::bad_line, "hex data holds '['"},
    {"backslash_without_comma", "\"h\"=hex:01\\\n", 7, RegistryStatusCode::bad_line,
     "hex data holds '\\' where a ',' or the end"},
    {"dword_of_nine_digits", "\"d\"=dword:123456789\n", 7, RegistryStatusCode::bad_line,
     "dword: takes one to eight hex digits"},
    {"type_with_0x", "\"d\"=hex(0x2):00,00\n", 7, RegistryStatusCode::bad_line,
     "hex(N): takes a type N of one to eight hex digits"},
    {"half_a_utf16_character", "\"e\"=hex(2):41,00,00\n", 7, RegistryStatusCode::bad_line,
     "the data of a text type holds 3 bytes"},
    {"character_the_code_page_lacks", "\"t\"=\"\xD0\xB6\"\n", 7, RegistryStatusCode::bad_line,
     "a text holds '\xD0\xB6' (U+0436), which code page "},
    {"line_of_something_else", "#comment\n", 7, RegistryStatusCode::bad_line,
     "not a key, a value or a comment"},
};

INSTANTIATE_TEST_SUITE_P(RegFile, Errors, testing::ValuesIn(kErrors),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(RegFile, TheFileAndItsHeaderAreCheckedFirst) {
    const struct {
        std::string bytes;
        RegistryStatusCode code;
        std::size_t line;
    } cases[] = {
        {"\xFF\xFE" + utf16le("REGEDIT5\r\n"), RegistryStatusCode::not_regedit4, 1},
        {"\xFF\xFE" + utf16le("Windows Registry Editor Version 5.00 \r\n"),
         RegistryStatusCode::not_regedit4, 1},
        {"\xFF\xFE" + utf16le("Windows Registry Editor Version 5.00\r\n") + "x",
         RegistryStatusCode::bad_line, 2},
        {"Windows Registry Editor Version 5.00\r\n\r\n\xC3(", RegistryStatusCode::bad_line, 3},
    };
    for (const auto& c : cases) {
        const RegistryStatus status = import_text(c.bytes);
        EXPECT_EQ(status.code, c.code) << status.message;
        EXPECT_EQ(status.line, c.line) << status.message;
    }
    EXPECT_EQ(import_reg_file(file("missing.reg")).code, RegistryStatusCode::io_error);
}

// --- Round trips -------------------------------------------------------------------------------

fs::path data_file(const char* name) {
    std::string dir = SYSKIT_REG_FILE_DATA;
#if defined(_WIN32)
    if (!dir.empty() && dir.front() == '/') dir.insert(0, "Z:");
#endif
    return fs::path(dir) / name;
}

TEST_F(RegFile, AFileTheWindowsEditorWroteComesBackByteForByte) {
    const std::string written = read_bytes(data_file("wine_export.reg"));
    ASSERT_FALSE(written.empty());
    const std::string ours = replace_all(written, utf16le("Software\\syskit-reg-file-fixture"),
                                         utf16le(base_));
    write_bytes(file("wine.reg"), ours);
    const RegistryStatus imported = import_reg_file(file("wine.reg"));
    ASSERT_TRUE(imported.ok()) << imported.message;
    const RegistryStatus exported = export_reg_file("HKCU\\" + base_, file("out.reg"));
    ASSERT_TRUE(exported.ok()) << exported.message;
    EXPECT_EQ(read_bytes(file("out.reg")), ours);
    EXPECT_EQ(export_reg_file(key(), file("out.reg")).code, RegistryStatusCode::file_exists);
}

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

// The format picks the dialect: the system's own REGEDIT4 has no escapes.
TEST_F(RegFile, AutomaticTakesRegedit4AsTheSystemsOwnDialect) {
    const std::string file_text = reg_file(Form::regedit4, "[{K}]\n\"p\"=\"C:\\\\x\"\n", key());
    ASSERT_TRUE(import_text(file_text, RegFileFormat::automatic).ok());
    EXPECT_EQ(tree(), "[] p=1:\"C:\\\\x\\x00\"");
    ASSERT_TRUE(import_text(file_text, RegFileFormat::windows).ok());
    EXPECT_EQ(tree(), "[] p=1:\"C:\\x\\x00\"");
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
    write_bytes(file("in.reg"), file_text);
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
