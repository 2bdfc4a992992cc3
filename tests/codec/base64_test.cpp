// Base64: the standard vectors, line breaking, the lenient reader, the line counter's overflow,
// and the real codec against the reference model on random data.
#include <cstring>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using syskit::ORBEX::DecodeStr64;
using syskit::ORBEX::EncodeStr64;

Bytes bytes_of(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST(Base64, StandardVectors) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(EncodeStr64(bytes_of(plain), 60), encoded);
        EXPECT_EQ(DecodeStr64(encoded), bytes_of(strlen(encoded) < 4 ? "" : plain));
    }
}

struct Lines {
    std::int16_t line_length;
    std::size_t bytes;
    std::vector<std::size_t> line_sizes;  // characters per line, CR LF excluded
    bool ends_with_break;
    friend void PrintTo(const Lines& v, std::ostream* os) {
        *os << "line length " << v.line_length << ", " << v.bytes << " bytes";
    }
};

class Base64Lines : public testing::TestWithParam<Lines> {};

TEST_P(Base64Lines, BreakAfterTheLineLengthRoundedUpToGroups) {
    const auto& [line_length, size, line_sizes, ends_with_break] = GetParam();
    const std::string text = EncodeStr64(Bytes(size, 0xA7), line_length);
    std::vector<std::size_t> sizes;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        sizes.push_back(at - start);
    }
    if (start < text.size()) sizes.push_back(text.size() - start);
    EXPECT_EQ(sizes, line_sizes);
    EXPECT_EQ(text.ends_with("\r\n"), ends_with_break);
    EXPECT_EQ(text, reference::encode_base64(Bytes(size, 0xA7), line_length));
}

INSTANTIATE_TEST_SUITE_P(Breaks, Base64Lines,
                         testing::Values(Lines{60, 45, {60}, true}, Lines{60, 46, {60, 4}, false},
                                         Lines{60, 44, {60}, false}, Lines{0, 18, {12, 12}, true},
                                         Lines{4, 10, {12, 4}, false}, Lines{9, 9, {12}, true},
                                         Lines{-5, 8, {12}, false}, Lines{61, 96, {64, 64}, true}));

TEST(Base64, LineCounterOverflowsOnlyPast32767) {
    const Bytes just_fits(3 * 8191, 1), too_many(3 * 8192, 1);
    EXPECT_NO_THROW(EncodeStr64(too_many, 32764));
    EXPECT_NO_THROW(EncodeStr64(just_fits, 32767));
    EXPECT_THROW(EncodeStr64(too_many, 32765), syskit::OverflowError);
    EXPECT_THROW(EncodeStr64(too_many, 32767), syskit::OverflowError);
}

TEST(Base64, ReaderIsLenient) {
    const Bytes data = bytes_of("lenient reading of base64 text, with padding!");
    const std::string text = EncodeStr64(data, 20);
    std::string spaced;
    for (char c : text) (spaced += c) += (c == 'A' ? "\t" : " ");
    std::string joined;
    for (char c : text) {
        if (c != '\r' && c != '\n') joined += c;
    }
    EXPECT_EQ(DecodeStr64(text), data);
    EXPECT_EQ(DecodeStr64(spaced), data);
    EXPECT_EQ(DecodeStr64(joined), data);
    EXPECT_EQ(DecodeStr64("é€" + joined + "ü"), data);  // characters beyond ASCII are skipped

    EXPECT_EQ(DecodeStr64("QUJD"), bytes_of("ABC"));
    EXPECT_EQ(DecodeStr64("QUJ"), Bytes{});
    EXPECT_EQ(DecodeStr64("QUJDRA"), bytes_of("ABC"));  // incomplete last group dropped
    EXPECT_EQ(DecodeStr64("===="), Bytes{0});
    EXPECT_EQ(DecodeStr64("QQ==QUJD"), bytes_of("AABC"));  // decoding goes on after padding
    EXPECT_EQ(DecodeStr64("QU=D"), bytes_of("A@"));        // "=" in third place drops byte 3
}

TEST(Base64, RandomDataAgainstTheModel) {
    std::mt19937 rng(21);
    const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/== \r\n\t.";
    for (int trial = 0; trial < 500; ++trial) {
        const Bytes data = random_bytes(rng, rng() % 400);
        const auto line_length = std::int16_t(int(rng() % 80) - 10);
        const std::string text = EncodeStr64(data, line_length);
        ASSERT_EQ(text, reference::encode_base64(data, line_length));
        ASSERT_EQ(DecodeStr64(text), data);

        std::string noise(rng() % 300, ' ');
        for (auto& c : noise) c = alphabet[rng() % (sizeof alphabet - 1)];
        ASSERT_EQ(DecodeStr64(noise), reference::decode_base64(noise)) << noise;
    }
}

}  // namespace
}  // namespace codec_test
