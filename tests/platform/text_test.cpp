// The code page: every byte round-trips, the table's special rows, replacement of characters it
// lacks, and ill-formed UTF-8 counted and replaced one maximal subpart at a time.
#include <gtest/gtest.h>

#include "syskit/text.hpp"

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
