// The code pages: glibc's tables, each thread's own page, missing characters and ill-formed UTF-8.
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "support/thread_page.hpp"
#include "syskit/text.hpp"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

using namespace syskit::text;
using syskit::Bytes;

TEST(CodePage, EveryPageIsGlibcsAndKeepsEveryByte) {
    for (const int page : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        const ThreadPage selected(page);
        Bytes all(256);
        std::iota(all.begin(), all.end(), 0);
        EXPECT_EQ(to_ansi(from_ansi(all)), all) << page;
        for (int b = 0; b < 256; ++b) EXPECT_EQ(ansi_byte(ansi_char(std::uint8_t(b))), b) << page;
#if !defined(_WIN32)
        // Each assigned byte is the character iconv gives; an unassigned one stands for itself.
        const iconv_t to_utf32 = iconv_open("UTF-32LE", ("CP" + std::to_string(page)).c_str());
        ASSERT_NE(to_utf32, iconv_t(-1));
        for (int b = 0x80; b < 0x100; ++b) {
            char in = char(b), *in_p = &in;
            char32_t out = 0;  // the tests run on little-endian processors
            char* out_p = reinterpret_cast<char*>(&out);
            std::size_t in_left = 1, out_left = 4;
            iconv(to_utf32, nullptr, nullptr, nullptr, nullptr);
            // 1255 and 1258 hold a letter back for a combining mark: flushing gives it.
            const bool assigned = iconv(to_utf32, &in_p, &in_left, &out_p, &out_left) == 0 &&
                                  iconv(to_utf32, nullptr, nullptr, &out_p, &out_left) == 0 &&
                                  out_left == 0;
            EXPECT_EQ(ansi_char(std::uint8_t(b)), assigned ? out : char32_t(b))
                << page << ", " << b;
        }
        iconv_close(to_utf32);
#endif
    }
}

TEST(CodePage, IsTheThreadsOwnAndOnlyAKnownOne) {
    const int platform = code_page();
    EXPECT_FALSE(set_code_page(932) || set_code_page(65001));
    EXPECT_EQ(code_page(), platform);
    const ThreadPage cyrillic(1251);
    EXPECT_EQ(to_ansi("й"), Bytes{0xE9});  // й
    std::thread([&] { EXPECT_EQ(code_page(), platform); }).join();
    EXPECT_EQ(first_unrepresentable("café й"), (Unrepresentable{U'é', 4, 1}));
    EXPECT_FALSE(first_unrepresentable("пароль").has_value());
    set_code_page(1252);
    EXPECT_EQ(first_unrepresentable("пар x 😀"), (Unrepresentable{U'п', 1, 4}));
}

// 1252's unassigned bytes stand for the characters of their numbers; other missing ones are '?'.
TEST(CodePage, UnassignedBytesMissingCharactersAndInPlaceConversion) {
    const ThreadPage western(1252);
    for (const int byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_TRUE(ansi_char(std::uint8_t(byte)) == char32_t(byte) && ansi_byte(byte) == byte);
    for (char32_t missing : {U'\u0080', U'\u009E', U'Ā', char32_t(U'€' + 1), U'日', U'😀'})
        EXPECT_EQ(ansi_byte(missing), '?');
    std::string s = "a\x80\xE9z";
    ansi_to_utf8_in_place(s);  // grows from the back
    EXPECT_EQ(s, "a€éz");
    EXPECT_FALSE(is_ascii(std::string(17, 'q') + "é"));
}

TEST(CodePage, IllFormedUtf8BecomesOneReplacementPerMaximalSubpart) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\x80z", "a?z"},             // stray continuation byte
        {"a\xC3", "a?"},               // truncated at the end
        {"\xC0\xAF", "??"},            // overlong lead: each byte on its own
        {"\xE2\x82z", "?z"},           // truncated three-byte sequence: one subpart
        {"\xED\xA0\x80", "???"},       // encoded surrogate
        {"\xF0\x9F\x98\x80!", "?!"},   // valid, but outside the code page
        {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(to_ansi(input), Bytes(expected.begin(), expected.end())) << input;
        EXPECT_EQ(char_count(input), expected.size()) << input;
    }
}

}  // namespace
