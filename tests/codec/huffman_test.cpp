// The Huffman compressor: worked examples byte for byte, known streams for generated data.
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

// Generated inputs from LastProgress 0 and 100: hash of streams and host calls; decoding restores.
TEST(HuffmanGenerated, KnownStreamsAndEventsAndRoundTrip) {
    std::mt19937 rng(1234);
    Bytes all_values(256 * 40), text;
    for (std::size_t i = 0; i < all_values.size(); ++i) all_values[i] = std::uint8_t(i * 7);
    const std::string_view words[] = {"the ", "codec ", "of ", "a ", "key, ", ".\r\n"};
    while (text.size() < 180'000) {
        const std::string_view word = words[rng() % 6];
        text.insert(text.end(), word.begin(), word.end());
    }
    const std::tuple<const char*, Bytes, std::uint64_t> cases[] = {
        {"one byte", {42}, 0xA221EBFAA49F5525},
        {"two values", random_bytes(rng, 1001, 2), 0x95BF37E587F58E55},
        {"all values", all_values, 0x1E932D321777024B},
        {"around a report point", random_bytes(rng, 10001, 200), 0xB52002B584497D35},
        {"small alphabet, long", random_bytes(rng, 250'000, 5), 0x846D00D1AFBAE22D},
        {"text", text, 0xA030B988E8017FA9},
        {"codes 24 bits deep", fibonacci_bytes(25, rng), 0x544695F674C4CA25},
        {"incompressible: stored", random_bytes(rng, 30'000), 0xE2DCF73FBC5340F3}};
    for (const auto& [name, input, golden] : cases) {
        const auto n = std::int32_t(input.size());
        std::uint64_t h = fnv1a("");
        for (std::int16_t start : {std::int16_t(0), std::int16_t(100)}) {
            const Outcome encoded = run_codec(syskit::ORBEX::HuffEncodeByte, input, n, start);
            const auto stream_len = std::int32_t(encoded.result.size());
            const Outcome decoded =
                run_codec(syskit::ORBEX::HuffDecodeByte, encoded.result, stream_len, start);
            ASSERT_EQ(decoded.result, input) << name;
            EXPECT_EQ(decoded.last_error_code, 0) << name;
            h = decoded.hash(encoded.hash(h));
        }
        EXPECT_EQ(h, golden) << name;
    }
}

}  // namespace
}  // namespace codec_test
