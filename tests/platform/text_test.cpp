// The code pages: every byte round-trips in every page, the tables are glibc's iconv's, the page
// is the thread's own, characters a page lacks are found and replaced, and ill-formed UTF-8 is
// counted and replaced one maximal subpart at a time.
#include <thread>

#include <gtest/gtest.h>

#include "syskit/text.hpp"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

using namespace syskit::text;
using syskit::Bytes;

TEST(CodePage, EveryByteRoundTrips) {
    Bytes all(256);
    for (int b = 0; b < 256; ++b) all[std::size_t(b)] = std::uint8_t(b);
    const std::string utf8 = from_ansi(all);
    EXPECT_EQ(to_ansi(utf8), all);
    EXPECT_EQ(char_count(utf8), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(ansi_byte(ansi_char(std::uint8_t(b))), b);
}

constexpr int kPages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

// Selects a page for the scope of a test.
struct ThreadPage {
    explicit ThreadPage(int page) { EXPECT_TRUE(set_code_page(page)) << page; }
    ~ThreadPage() { set_code_page(0); }
};

TEST(CodePage, EveryPageIsGlibcsAndKeepsEveryByte) {
    for (const int page : kPages) {
        const ThreadPage selected(page);
        Bytes all(256);
        for (int b = 0; b < 256; ++b) all[std::size_t(b)] = std::uint8_t(b);
        EXPECT_EQ(to_ansi(from_ansi(all)), all) << page;
#if !defined(_WIN32)
        // Each assigned byte is the character iconv gives; an unassigned one stands for itself.
        const iconv_t to_utf32 = iconv_open("UTF-32BE", ("CP" + std::to_string(page)).c_str());
        ASSERT_NE(to_utf32, iconv_t(-1));
        for (int b = 0x80; b < 0x100; ++b) {
            char in = char(b);
            unsigned char out[4] = {};
            char* in_p = &in;
            char* out_p = reinterpret_cast<char*>(out);
            std::size_t in_left = 1, out_left = 4;
            iconv(to_utf32, nullptr, nullptr, nullptr, nullptr);
            // 1255 and 1258 hold a letter back for a combining mark: flushing gives it.
            const bool assigned = iconv(to_utf32, &in_p, &in_left, &out_p, &out_left) == 0 &&
                                  iconv(to_utf32, nullptr, nullptr, &out_p, &out_left) == 0 &&
                                  out_left == 0;
            const char32_t expected =
                assigned ? char32_t(out[0] << 24 | out[1] << 16 | out[2] << 8 | out[3]) : b;
            EXPECT_EQ(ansi_char(std::uint8_t(b)), expected) << page << " byte " << b;
        }
        iconv_close(to_utf32);
#endif
    }
}

TEST(CodePage, IsTheThreadsOwnAndOnlyAKnownOne) {
    const int platform = code_page();
    EXPECT_FALSE(set_code_page(932));
    EXPECT_FALSE(set_code_page(65001));
    EXPECT_EQ(code_page(), platform);
    const ThreadPage cyrillic(1251);
    EXPECT_EQ(to_ansi("й"), Bytes{0xE9});  // й
    std::thread([&] { EXPECT_EQ(code_page(), platform); }).join();
    EXPECT_EQ(first_unrepresentable("café й"), (Unrepresentable{U'é', 4, 1}));
    EXPECT_FALSE(first_unrepresentable("пароль").has_value());
    set_code_page(1252);
    const auto lost = first_unrepresentable("пар x 😀");
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(lost->character, U'п');
    EXPECT_EQ(lost->position, 1u);
    EXPECT_EQ(lost->count, 4u);
}

TEST(CodePage, TableRows) {
    const std::pair<std::uint8_t, char32_t> rows[] = {
        {0x41, U'A'},      {0x80, U'€'},      {0x81, U'\u0081'}, {0x8D, U'\u008D'},
        {0x8F, U'\u008F'}, {0x90, U'\u0090'}, {0x92, U'’'},      {0x9D, U'\u009D'},
        {0x9F, U'Ÿ'},      {0xA0, U'\u00A0'}, {0xE9, U'é'},      {0xFF, U'ÿ'}};
    for (const auto& [byte, ch] : rows) {
        EXPECT_EQ(ansi_char(byte), ch);
        EXPECT_EQ(ansi_byte(ch), byte);
    }
    for (char32_t missing : {U'\u0080', U'\u009E', U'Ā', char32_t(U'€' + 1), U'日', U'😀'}) {
        EXPECT_EQ(ansi_byte(missing), '?');
    }
}

TEST(CodePage, IllFormedUtf8BecomesOneReplacementPerMaximalSubpart) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\x80z", "a?z"},   // stray continuation byte
        {"a\xC3", "a?"},     // truncated at the end
        {"\xC0\xAF", "??"},  // overlong lead: each byte on its own
        {"\xE2\x82", "?"},   // truncated three-byte sequence: one subpart
        {"\xE2\x82z", "?z"},
        {"\xED\xA0\x80", "???"},       // encoded surrogate
        {"\xF0\x9F\x98\x80!", "?!"},   // valid, but outside the code page
        {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
        {"\xFF\xFE", "??"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
    };
    for (const auto& [input, expected] : cases) {
        const Bytes bytes = to_ansi(input);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected) << input;
        EXPECT_EQ(char_count(input), expected.size()) << input;
    }
}

TEST(CodePage, InPlaceConversionGrowsFromTheBack) {
    std::string s = "a\x80\xE9z";
    ansi_to_utf8_in_place(s);
    EXPECT_EQ(s, "a€éz");
    std::string ascii = std::string(100, 'x');
    ansi_to_utf8_in_place(ascii);
    EXPECT_EQ(ascii, std::string(100, 'x'));
    EXPECT_TRUE(is_ascii(std::string(17, 'q')));
    EXPECT_FALSE(is_ascii(std::string(17, 'q') + "é"));
}

}  // namespace
