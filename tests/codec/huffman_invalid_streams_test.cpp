// The Huffman decoder on malformed, damaged and arbitrary streams it did not write.
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using syskit::ORBEX::HuffDecodeByte;

constexpr std::int32_t kRange = syskit::RangeError::kNumber;
constexpr std::int32_t kOverflow = syskit::OverflowError::kNumber;
constexpr std::int32_t kIdentification = syskit::ORBEX::IdentificationError::kNumber;

Outcome decode(const Bytes& stream, std::int32_t length) {
    return run_codec(HuffDecodeByte, stream, length);
}

TEST(MalformedStream, RaisesItsErrorAndLeavesTheBuffer) {
    const std::tuple<const char*, const char*, std::int32_t> cases[] = {
        {"Empty", "", kRange},
        {"UnknownFormatDigit", "48 45 37 0D 00 00", kIdentification},
        {"NoIdentification", "00 00 00 00 60 03 00 00 00 03 00", kIdentification},
        {"HeaderCut", "48 45 33 0D 60 03 00 00 00 03", kRange},
        {"NegativeLength", "48 45 33 0D 00 FF FF FF FF 02 00 61 01 62 01 02 02", kRange},
        {"MostNegativeLength", "48 45 33 0D 00 00 00 00 80 02 00 61 01 62 01 02 02", kOverflow},
        {"TableCut", "48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63", kRange},
        // Code bits ending on a byte boundary still fetch the byte after them.
        {"CodeBitsEndTheStream", "48 45 33 0D 60 03 00 00 00 01 00 61 08 FF", kRange},
        {"NoPayload", "48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63 01 0D", kRange},
        // Only a (code 0) is listed; a 1 bit leads to a child that was never created.
        {"MissingChild", "48 45 33 0D 00 05 00 00 00 01 00 61 01 00 02", kRange},
        {"NoCodesAtAll", "48 45 33 0D 00 05 00 00 00 00 00 00 FF", kRange}};
    for (const auto& [name, text, error] : cases) {
        const Bytes stream = hex(text);
        const auto n = std::int32_t(stream.size());
        const Outcome o = decode(stream, n);
        EXPECT_EQ(o.error, error) << name;
        EXPECT_EQ(o.events, "") << name;
        Bytes buffer = stream;
        EXPECT_THROW(HuffDecodeByte(buffer, n), syskit::Error) << name;
        EXPECT_EQ(buffer, stream) << name;
    }
}

// A stream from table entries (value, length), code bits as '0'/'1' (LSB first), a payload.
Bytes make_stream(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& table,
                  const std::string& code_bits, std::uint32_t length, const Bytes& payload) {
    Bytes s = hex("48 45 33 0D 00");
    for (int k = 0; k < 4; ++k) s.push_back(std::uint8_t(length >> (8 * k)));
    s.push_back(std::uint8_t(table.size()));
    s.push_back(0);
    for (const auto& [value, bits] : table) s.insert(s.end(), {value, bits});
    const std::size_t start = s.size();
    for (std::size_t bit = 0; bit < code_bits.size(); ++bit) {
        if (bit % 8 == 0) s.push_back(0);
        if (code_bits[bit] == '1') s[start + bit / 8] |= std::uint8_t(1 << (bit % 8));
    }
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

TEST(CodeTable, MoreThan512NodesIsARangeError) {
    // 0 then 254 zeros, 1 then 254 zeros: 511 nodes with the root. The third code adds one node
    // ("11") or two ("11", "110").
    const std::string zeros(254, '0');
    const auto with_third = [&](const std::string& third) {
        const Bytes s = make_stream({{0, 255}, {1, 255}, {2, std::uint8_t(third.size())}},
                                    "0" + zeros + "1" + zeros + third, 1, {0x03});
        return decode(s, std::int32_t(s.size()));
    };
    EXPECT_EQ(with_third("11").result, Bytes{2});
    EXPECT_EQ(with_third("110").error, kRange);
}

TEST(CodeTable, LastListingWinsAndAPrefixHidesTheLongerCode) {
    // b is listed with 2 bits, then with 1: it keeps 1. The code bits, in value order: a "0",
    // b "1", c "10" — and c lies behind b, so "10" reads as b, a.
    const Bytes s = make_stream({{'a', 1}, {'b', 2}, {'b', 1}, {'c', 2}}, "0110", 6, {0x1A});
    const Outcome o = decode(s, std::int32_t(s.size()));
    EXPECT_EQ(std::string(o.result.begin(), o.result.end()), "ababba");  // payload 0 1 0 1 1 0
}

TEST(ByteLen, BeyondTheBufferFailsWhereTheBufferEnds) {
    // Identification reads bytes 0, 1 and 3 before comparing them.
    EXPECT_EQ(decode({0x01}, 19).error, kRange);
    EXPECT_EQ(decode(hex("00 00 00 00"), 19).error, kIdentification);
}

TEST(Checksum, MismatchOrCutPayloadStillReturnsTheBytesAndSetsError5) {
    // abracadabra: 21 bytes of header and table, code bits BA 07, payload 1A 73 0D.
    Bytes stream = syskit::ORBEX::HuffEncodeString("abracadabra");
    EXPECT_EQ(decode(stream, 24).result, (Bytes{'a', 'b', 'r', 'a'}));  // 1A: a 0, b 101, r 100
    EXPECT_EQ(decode(stream, 24).last_error_code, syskit::ORBEX::kChecksumMismatch);
    EXPECT_EQ(decode(stream, 23).error, kRange);  // payload gone entirely
    // A length of 0, which the encoder never writes: an empty result, its checksum checked.
    const Outcome empty = decode(hex("48 45 33 0D 07 00 00 00 00 00 00"), 11);
    EXPECT_EQ(empty.last_error_code, syskit::ORBEX::kChecksumMismatch);
    stream[4] ^= 0x40;
    const Outcome o = decode(stream, std::int32_t(stream.size()));
    EXPECT_EQ(std::string(o.result.begin(), o.result.end()), "abracadabra");
    EXPECT_EQ(o.last_error_code, syskit::ORBEX::kChecksumMismatch);
}

// Every prefix of valid streams, and streams with random damage: a hash of all outcomes.
TEST(DamagedStreams, KnownOutcomes) {
    std::mt19937 rng(7);
    std::uint64_t h = fnv1a("");
    for (const Bytes& input : {random_bytes(rng, 40, 4), random_bytes(rng, 200, 30),
                               random_bytes(rng, 30'000, 12), fibonacci_bytes(16, rng)}) {
        Bytes stream = input;
        syskit::ORBEX::HuffEncodeByte(stream, std::int32_t(stream.size()));
        const auto n = std::int32_t(stream.size());
        ASSERT_EQ(decode(stream, n).result, input);
        for (std::int32_t len = 0; len <= std::min(n, 120); ++len) h = decode(stream, len).hash(h);
        for (std::int32_t len = n - 40; len <= n + 1; ++len) h = decode(stream, len).hash(h);
        for (int trial = 0; trial < 200; ++trial) {
            Bytes damaged = stream;
            for (int flips = 1 + int(rng() % 4); flips > 0; --flips) {
                // Mostly the header, table and code bits, where damage changes the tree.
                const std::size_t at = rng() % 2
                                           ? rng() % std::min<std::size_t>(damaged.size(), 600)
                                           : rng() % damaged.size();
                damaged[at] = std::uint8_t(rng());
            }
            damaged[2] = '3';
            h = decode(damaged, n).hash(h);
        }
    }
    EXPECT_EQ(h, 0xD19265BC405F1BFCu);
}

// Arbitrary code tables: duplicates, prefixes, zero lengths and long codes, random payloads.
TEST(ArbitraryCodeTables, KnownOutcomes) {
    std::mt19937 rng(11);
    std::uint64_t h = fnv1a("");
    for (int trial = 0; trial < 400; ++trial) {
        Bytes stream = hex("48 45 33 0D");
        stream.push_back(std::uint8_t(rng()));
        const auto length = std::uint32_t(rng() % 4 == 0 ? 0x7FFFFFFF : rng() % 3000);
        for (int k = 0; k < 4; ++k) stream.push_back(std::uint8_t(length >> (8 * k)));
        const int entries = 1 + int(rng() % 12);
        stream.insert(stream.end(), {std::uint8_t(entries), 0});
        for (int e = 0; e < entries; ++e) {
            stream.push_back(std::uint8_t(rng() % 16));  // values collide often
            stream.push_back(std::uint8_t(rng() % 8 == 0 ? rng() % 40 : rng() % 6));
        }
        const Bytes tail = random_bytes(rng, rng() % 2000);
        stream.insert(stream.end(), tail.begin(), tail.end());
        h = decode(stream, std::int32_t(stream.size())).hash(h);
    }
    EXPECT_EQ(h, 0x0A3049A98CAFF805u);
}

}  // namespace
}  // namespace codec_test
