// The Huffman compressor on valid input: the format's worked examples byte for byte, and the real
// codec against the reference model on generated data (streams, progress calls and yields).
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using syskit::ORBEX::HuffDecodeString;
using syskit::ORBEX::HuffEncodeString;

TEST(HuffmanExample, EncodesToItsStreamAndBack) {
    const std::pair<const char*, const char*> examples[] = {
        {"", "48 45 30 0D"},
        {"zzzz", "48 45 30 0D 7A 7A 7A 7A"},  // one value only: stored
        {"abracadabra",
         "48 45 33 0D 66 0B 00 00 00 05 00 61 01 62 03 63 03 64 03 72 03 BA 07 1A 73 0D"},
        // Code bits fill exactly one byte: the payload starts on the next one.
        {"abcd", "48 45 33 0D 04 04 00 00 00 04 00 61 02 62 02 63 02 64 02 D8 D8"},
        // c is lighter than both a and b, which weigh the same, so it replaces a.
        {"aabbc", "48 45 33 0D 63 05 00 00 00 03 00 61 01 62 02 63 02 0E 7C"},
        // Compressed although longer than its stored form: only the payload is weighed.
        {"ab", "48 45 33 0D 03 02 00 00 00 02 00 61 01 62 01 02 02"}};
    for (const auto& [text, stream] : examples) {
        EXPECT_EQ(HuffEncodeString(text), hex(stream)) << text;
        EXPECT_EQ(HuffDecodeString(hex(stream)), text);
    }
    // ByteLen selects a prefix; beyond the buffer is a range error that leaves the buffer.
    Bytes buffer = {'a', 'b', 'c', 'x', 'y'};
    syskit::ORBEX::HuffEncodeByte(buffer, 3);
    EXPECT_EQ(buffer, hex("48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63 01 0D 0D"));
    Bytes short_buffer = {'a', 'b'};
    EXPECT_THROW(syskit::ORBEX::HuffEncodeByte(short_buffer, 3), syskit::RangeError);
    EXPECT_THROW(syskit::ORBEX::HuffEncodeByte(short_buffer, -1), syskit::RangeError);
    EXPECT_EQ(short_buffer, (Bytes{'a', 'b'}));
}

TEST(HuffmanText, CharactersBecomeCodePageBytesAndBack) {
    const std::string text = "Größe € — ‘quoted’ \x7f";
    EXPECT_EQ(HuffDecodeString(HuffEncodeString(text)), text);
    EXPECT_EQ(HuffDecodeString(HuffEncodeString("日本 ok")), "?? ok");  // not in the code page
}

// Generated inputs: the real codec and the model must produce the same stream and the same host
// events, from the same starting LastProgress.
struct Generated {
    const char* name;
    std::function<Bytes(std::mt19937&)> make;
};

class HuffmanAgainstModel : public testing::TestWithParam<Generated> {};

TEST_P(HuffmanAgainstModel, SameStreamSameEventsAndRoundTrip) {
    std::mt19937 rng(1234);
    const Bytes input = GetParam().make(rng);
    const auto n = std::int32_t(input.size());
    for (std::int16_t start : {std::int16_t(0), std::int16_t(100)}) {
        const Outcome encoded = run_codec(syskit::ORBEX::HuffEncodeByte, input, n, start);
        ASSERT_EQ(encoded, run_reference(&reference::Codec::huff_encode, input, n, start));
        const auto stream_len = std::int32_t(encoded.result.size());
        const Outcome decoded =
            run_codec(syskit::ORBEX::HuffDecodeByte, encoded.result, stream_len, start);
        ASSERT_EQ(decoded,
                  run_reference(&reference::Codec::huff_decode, encoded.result, stream_len, start));
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
                      const std::string words[] = {"the ", "codec ", "of ", "a ", "key, ", ".\r\n"};
                      std::string s;
                      while (s.size() < 180'000) s += words[r() % 6];
                      return Bytes(s.begin(), s.end());
                  }},
        // Counts in Fibonacci proportions give codes up to 24 bits deep.
        Generated{"DeepCodes", [](std::mt19937& r) { return fibonacci_bytes(25, r); }},
        Generated{"IncompressibleIsStored",
                  [](std::mt19937& r) { return random_bytes(r, 30'000); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace codec_test
