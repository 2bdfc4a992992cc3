// Base64: standard vectors, line breaks, the lenient reader, the line counter, random data.
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
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(EncodeStr64(bytes_of(plain), 60), encoded);
        EXPECT_EQ(DecodeStr64(encoded),
                  bytes_of(std::string_view(encoded).size() < 4 ? "" : plain));
    }
}

// Lines break after the line length rounded up to whole groups; a length below 10 counts as 10.
TEST(Base64, LineBreaks) {
    const std::tuple<std::int16_t, std::size_t, const char*> cases[] = {
        {60, 45, "60\n"}, {60, 46, "60\n4"}, {60, 44, "60"}, {0, 18, "12\n12\n"},
        {4, 10, "12\n4"}, {9, 9, "12\n"},    {-5, 8, "12"},  {61, 96, "64\n64\n"}};
    for (const auto& [line_length, size, shape] : cases) {
        const std::string text = EncodeStr64(Bytes(size, 0xA7), line_length);
        std::string lines;  // the length of each line, "\n" for each CR LF
        std::size_t start = 0;
        for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
            lines += std::to_string(at - start) + "\n";
        if (start < text.size()) lines += std::to_string(text.size() - start);
        EXPECT_EQ(lines, shape) << line_length << ", " << size;
        EXPECT_EQ(DecodeStr64(text), Bytes(size, 0xA7));
    }
}

TEST(Base64, LineCounterOverflowsOnlyPast32767) {
    const Bytes just_fits(3 * 8191, 1), too_many(3 * 8192, 1);
    EXPECT_EQ(EncodeStr64(too_many, 32764).size(), 4 * 8192u + 2);
    EXPECT_EQ(EncodeStr64(just_fits, 32767).size(), 4 * 8191u);
    EXPECT_THROW(EncodeStr64(too_many, 32765), syskit::OverflowError);
    EXPECT_THROW(EncodeStr64(too_many, 32767), syskit::OverflowError);
}

TEST(Base64, ReaderIsLenient) {
    const Bytes data = bytes_of("lenient reading of base64 text, with padding!");
    const std::string text = EncodeStr64(data, 20);
    std::string spaced, joined;
    for (char c : text) (spaced += c) += (c == 'A' ? "\t" : " ");
    for (char c : text) joined += c == '\r' || c == '\n' ? "" : std::string(1, c);
    EXPECT_EQ(DecodeStr64(spaced), data);
    EXPECT_EQ(DecodeStr64("é€" + joined + "ü"), data);  // characters beyond ASCII are skipped
    EXPECT_EQ(DecodeStr64("QUJ"), Bytes{});
    EXPECT_EQ(DecodeStr64("QUJDRA"), bytes_of("ABC"));  // incomplete last group dropped
    EXPECT_EQ(DecodeStr64("===="), Bytes{0});
    EXPECT_EQ(DecodeStr64("QQ==QUJD"), bytes_of("AABC"));  // decoding goes on after padding
    EXPECT_EQ(DecodeStr64("QU=D"), bytes_of("A@"));        // "=" in third place drops byte 3
}

// Random data with line lengths from -10 to 69 round-trips; a hash of its texts and of noise read.
TEST(Base64, RandomDataAndNoiseGiveKnownResults) {
    std::mt19937 rng(21);
    const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/== \r\n\t.";
    std::uint64_t h = fnv1a("");
    for (int trial = 0; trial < 500; ++trial) {
        const Bytes data = random_bytes(rng, rng() % 400);
        const std::string text = EncodeStr64(data, std::int16_t(int(rng() % 80) - 10));
        ASSERT_EQ(DecodeStr64(text), data);
        std::string noise(rng() % 300, ' ');
        for (auto& c : noise) c = alphabet[rng() % (sizeof alphabet - 1)];
        h = fnv1a(DecodeStr64(noise), fnv1a(text, h));
    }
    EXPECT_EQ(h, 0xF2B0299B748C341Cu);
}

}  // namespace
}  // namespace codec_test
