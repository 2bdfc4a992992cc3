// The Huffman compressor on valid input: the format's worked examples byte for byte, and the real
// codec against the reference model on generated data (streams, progress calls and yields).
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using syskit::ORBEX::HuffDecodeString;
using syskit::ORBEX::HuffEncodeString;

struct Example {
    const char* text;
    const char* stream;
    friend void PrintTo(const Example& v, std::ostream* os) { *os << '"' << v.text << '"'; }
};

class HuffmanExample : public testing::TestWithParam<Example> {};

TEST_P(HuffmanExample, EncodesToTheDocumentedStreamAndBack) {
    const auto& [text, stream] = GetParam();
    EXPECT_EQ(HuffEncodeString(text), hex(stream));
    EXPECT_EQ(HuffDecodeString(hex(stream)), text);
}

INSTANTIATE_TEST_SUITE_P(
    Format, HuffmanExample,
    testing::Values(
        Example{"", "48 45 30 0D"},
        Example{"zzzz", "48 45 30 0D 7A 7A 7A 7A"},  // one value only: stored
        Example{"abc", "48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63 01 0D 0D"},
        Example{"abracadabra",
                "48 45 33 0D 66 0B 00 00 00 05 00 61 01 62 03 63 03 64 03 72 03 BA 07 1A 73 0D"},
        // Code bits fill exactly one byte: the payload starts on the next one.
        Example{"abcd", "48 45 33 0D 04 04 00 00 00 04 00 61 02 62 02 63 02 64 02 D8 D8"},
        // c is lighter than both a and b, which weigh the same, so it replaces a.
        Example{"aabbc", "48 45 33 0D 63 05 00 00 00 03 00 61 01 62 02 63 02 0E 7C"},
        // Compressed although longer than its stored form: only the payload is weighed.
        Example{"ab", "48 45 33 0D 03 02 00 00 00 02 00 61 01 62 01 02 02"}));

TEST(HuffmanText, CharactersBecomeCodePageBytesAndBack) {
    const std::string text = "Größe € — ‘quoted’ \x7f";
    const Bytes stream = HuffEncodeString(text);
    EXPECT_EQ(HuffDecodeString(stream), text);
    // A character the code page lacks comes back as '?'.
    EXPECT_EQ(HuffDecodeString(HuffEncodeString("日本 ok")), "?? ok");
}

// Generated inputs: the real codec and the model must produce the same stream and the same host
// events, from the same starting LastProgress.
struct Generated {
    const char* name;
    std::function<Bytes(std::mt19937&)> make;
    friend void PrintTo(const Generated& v, std::ostream* os) { *os << v.name; }
};

class HuffmanAgainstModel : public testing::TestWithParam<Generated> {};

TEST_P(HuffmanAgainstModel, SameStreamSameEventsAndRoundTrip) {
    std::mt19937 rng(1234);
    const Bytes input = GetParam().make(rng);
    const auto n = std::int32_t(input.size());
    for (std::int16_t start : {std::int16_t(0), std::int16_t(100)}) {
        const Outcome expected = run_reference(&reference::Codec::huff_encode, input, n, start);
        const Outcome actual = run_codec(syskit::ORBEX::HuffEncodeByte, input, n, start);
        ASSERT_EQ(actual, expected);

        const auto stream_len = std::int32_t(actual.result.size());
        const Outcome decoded_expected =
            run_reference(&reference::Codec::huff_decode, expected.result, stream_len, start);
        const Outcome decoded =
            run_codec(syskit::ORBEX::HuffDecodeByte, actual.result, stream_len, start);
        ASSERT_EQ(decoded, decoded_expected);
        ASSERT_EQ(decoded.result, input);
        EXPECT_EQ(decoded.last_error_code, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Data, HuffmanAgainstModel,
    testing::Values(
        Generated{"OneByte", [](std::mt19937&) { return Bytes{42}; }},
        Generated{"TwoValues", [](std::mt19937& r) { return random_bytes(r, 1001, 2); }},
        Generated{"AllByteValues",
                  [](std::mt19937&) {
                      Bytes b(256 * 40);
                      for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i * 7);
                      return b;
                  }},
        Generated{"UniformAroundReportPoints",
                  [](std::mt19937& r) { return random_bytes(r, 10001, 200); }},
        Generated{"SmallAlphabetLong", [](std::mt19937& r) { return random_bytes(r, 250'000, 5); }},
        Generated{"TextLike",
                  [](std::mt19937& r) {
                      const std::string words[] = {"the ", "codec ", "of ",
                                                   "a ",   "key, ",  "text.\r\n"};
                      std::string s;
                      while (s.size() < 180'000) s += words[r() % 6];
                      return Bytes(s.begin(), s.end());
                  }},
        // Counts in Fibonacci proportions give codes up to 24 bits deep.
        Generated{"DeepCodes", [](std::mt19937& r) { return fibonacci_bytes(25, r); }},
        Generated{"IncompressibleIsStored",
                  [](std::mt19937& r) { return random_bytes(r, 30'000); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HuffmanRoundTrip, RandomLengthsAndAlphabets) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 300; ++trial) {
        const Bytes input = random_bytes(rng, rng() % 3000, 1 + rng() % 256);
        Bytes buffer = input;
        syskit::ORBEX::HuffEncodeByte(buffer, std::int32_t(buffer.size()));
        syskit::ORBEX::HuffDecodeByte(buffer, std::int32_t(buffer.size()));
        ASSERT_EQ(buffer, input) << "trial " << trial;
    }
}

TEST(HuffmanBuffer, ByteLenSelectsAPrefixAndBeyondTheBufferIsARangeError) {
    Bytes buffer = {'a', 'b', 'c', 'x', 'y'};
    syskit::ORBEX::HuffEncodeByte(buffer, 3);
    EXPECT_EQ(buffer, hex("48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63 01 0D 0D"));

    Bytes short_buffer = {'a', 'b'};
    EXPECT_THROW(syskit::ORBEX::HuffEncodeByte(short_buffer, 3), syskit::RangeError);
    EXPECT_EQ(short_buffer, (Bytes{'a', 'b'}));
    EXPECT_THROW(syskit::ORBEX::HuffEncodeByte(short_buffer, -1), syskit::RangeError);
}

}  // namespace
}  // namespace codec_test
