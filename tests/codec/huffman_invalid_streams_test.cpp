// The Huffman decoder on streams it did not write: each documented failure raises the documented
// error, and on damaged streams of every kind the real decoder does exactly what the reference
// model does (result, error, LastErrorCode, yields and progress).
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using syskit::ORBEX::HuffDecodeByte;
using syskit::ORBEX::IdentificationError;

constexpr std::int32_t kRange = syskit::RangeError::kNumber;
constexpr std::int32_t kOverflow = syskit::OverflowError::kNumber;
constexpr std::int32_t kIdentification = IdentificationError::kNumber;

struct Malformed {
    const char* name;
    const char* stream;
    std::int32_t error;
    friend void PrintTo(const Malformed& v, std::ostream* os) { *os << v.name; }
};

class MalformedStream : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedStream, RaisesItsErrorAndLeavesTheBuffer) {
    const Bytes stream = hex(GetParam().stream);
    const Outcome o = run_codec(HuffDecodeByte, stream, std::int32_t(stream.size()));
    EXPECT_EQ(o.error, GetParam().error);
    EXPECT_EQ(o,
              run_reference(&reference::Codec::huff_decode, stream, std::int32_t(stream.size())));

    Bytes buffer = stream;
    try {
        HuffDecodeByte(buffer, std::int32_t(buffer.size()));
    } catch (const syskit::Error&) {
    }
    EXPECT_EQ(buffer, stream);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, MalformedStream,
    testing::Values(
        Malformed{"Empty", "", kRange}, Malformed{"ThreeBytes", "48 45 30", kRange},
        Malformed{"UnknownFormatDigit", "48 45 37 0D 00 00", kIdentification},
        Malformed{"NoIdentification", "00 00 00 00 60 03 00 00 00 03 00", kIdentification},
        Malformed{"HeaderCut", "48 45 33 0D 60 03 00 00 00 03", kRange},
        Malformed{"NegativeLength", "48 45 33 0D 00 FF FF FF FF 02 00 61 01 62 01 02 02", kRange},
        Malformed{"MostNegativeLength", "48 45 33 0D 00 00 00 00 80 02 00 61 01 62 01 02 02",
                  kOverflow},
        Malformed{"TableCut", "48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63", kRange},
        Malformed{"CodeBitsCut", "48 45 33 0D 60 03 00 00 00 02 00 61 08 62 08 FF", kRange},
        // Code bits ending on a byte boundary still fetch the byte after them.
        Malformed{"CodeBitsEndTheStream", "48 45 33 0D 60 03 00 00 00 01 00 61 08 FF", kRange},
        Malformed{"NoPayload", "48 45 33 0D 60 03 00 00 00 03 00 61 02 62 02 63 01 0D", kRange},
        // Only a (code 0) is listed; a 1 bit leads to a child that was never created.
        Malformed{"MissingChild", "48 45 33 0D 00 05 00 00 00 01 00 61 01 00 02", kRange},
        Malformed{"NoCodesAtAll", "48 45 33 0D 00 05 00 00 00 00 00 00 FF", kRange}),
    [](const auto& p) { return std::string(p.param.name); });

// A compressed stream from its table entries (value, length), its code bits as '0'/'1' text
// (packed least significant bit first) and a payload.
Bytes make_stream(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& table,
                  const std::string& code_bits, std::uint32_t length, const Bytes& payload) {
    Bytes s = hex("48 45 33 0D 00");
    for (int k = 0; k < 4; ++k) s.push_back(std::uint8_t(length >> (8 * k)));
    s.push_back(std::uint8_t(table.size()));
    s.push_back(0);
    for (const auto& [value, bits] : table) {
        s.push_back(value);
        s.push_back(bits);
    }
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
        return run_codec(HuffDecodeByte, s, std::int32_t(s.size()));
    };
    EXPECT_EQ(with_third("11").error, 0);
    EXPECT_EQ(with_third("11").result, Bytes{2});
    EXPECT_EQ(with_third("110").error, kRange);
}

TEST(CodeTable, LastListingWinsAndAPrefixHidesTheLongerCode) {
    // b is listed with 2 bits, then with 1: it keeps 1. The code bits, in value order: a "0",
    // b "1", c "10" — and c lies behind b, so "10" reads as b, a.
    const Bytes s = make_stream({{'a', 1}, {'b', 2}, {'b', 1}, {'c', 2}},
                                "0"
                                "1"
                                "10",
                                6, {0x1A});  // payload bits 0 1 0 1 1 0
    const Outcome o = run_codec(HuffDecodeByte, s, std::int32_t(s.size()));
    EXPECT_EQ(o, run_reference(&reference::Codec::huff_decode, s, std::int32_t(s.size())));
    EXPECT_EQ(std::string(o.result.begin(), o.result.end()), "ababba");
}

TEST(ByteLen, BeyondTheBufferFailsWhereTheBufferEnds) {
    // Identification reads bytes 0, 1 and 3 before comparing them.
    EXPECT_EQ(run_codec(HuffDecodeByte, {0x01}, 19).error, kRange);
    EXPECT_EQ(run_codec(HuffDecodeByte, hex("00 00 00 00"), 19).error, kIdentification);
}

TEST(IdentificationError, CarriesItsNumberSourceAndDescription) {
    Bytes stream = hex("48 45 37 0D");
    try {
        HuffDecodeByte(stream, 4);
        FAIL() << "no error raised";
    } catch (const IdentificationError& e) {
        EXPECT_EQ(e.number(), -2147221504);
        EXPECT_EQ(e.source(), "HuffmanDecode()");
        EXPECT_EQ(e.description(),
                  "The data either was not compressed with HE3 or is corrupt (identification "
                  "string not found)");
    }
}

TEST(Checksum, MismatchStillReturnsTheBytesAndSetsError5) {
    Bytes stream = syskit::ORBEX::HuffEncodeString("abracadabra");
    stream[4] ^= 0x40;
    const Outcome o = run_codec(HuffDecodeByte, stream, std::int32_t(stream.size()));
    EXPECT_EQ(o.error, 0);
    EXPECT_EQ(std::string(o.result.begin(), o.result.end()), "abracadabra");
    EXPECT_EQ(o.last_error_code, syskit::ORBEX::kChecksumMismatch);
}

TEST(Truncation, PayloadCutReturnsTheWholeCodesHeaderCutFails) {
    // abracadabra: 21 bytes of header and table, code bits BA 07, payload 1A 73 0D.
    const Bytes stream = syskit::ORBEX::HuffEncodeString("abracadabra");
    const auto at = [&](std::size_t length) {
        return run_codec(HuffDecodeByte, stream, std::int32_t(length));
    };
    EXPECT_EQ(at(24).result, (Bytes{'a', 'b', 'r', 'a'}));  // 1A: a 0, b 101, r 100, a 0
    EXPECT_EQ(at(24).last_error_code, syskit::ORBEX::kChecksumMismatch);
    EXPECT_EQ(at(23).error, kRange);  // payload gone entirely
    EXPECT_EQ(at(15).error, kRange);  // inside the code table
}

// Every prefix of valid streams, and streams with random damage, behave exactly as the model.
TEST(DamagedStreams, MatchTheModelExactly) {
    std::mt19937 rng(7);
    const std::vector<Bytes> inputs = {random_bytes(rng, 40, 4), random_bytes(rng, 200, 30),
                                       random_bytes(rng, 30'000, 12), fibonacci_bytes(16, rng)};
    for (const Bytes& input : inputs) {
        Bytes stream = input;
        syskit::ORBEX::HuffEncodeByte(stream, std::int32_t(stream.size()));
        const auto n = std::int32_t(stream.size());
        const auto check = [&](const Bytes& s, std::int32_t len) {
            ASSERT_EQ(run_codec(HuffDecodeByte, s, len),
                      run_reference(&reference::Codec::huff_decode, s, len))
                << "length " << len << " of " << s.size();
        };
        for (std::int32_t len = 0; len <= std::min(n, 120); ++len) check(stream, len);
        for (std::int32_t len = n - 40; len <= n; ++len) check(stream, len);
        // Longer than the buffer: the walk runs out of the caller's bytes.
        check(stream, n + 1);
        for (int trial = 0; trial < 200; ++trial) {
            Bytes damaged = stream;
            const int flips = 1 + int(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                // Mostly the header, table and code bits, where damage changes the tree.
                const std::size_t at = rng() % 2
                                           ? rng() % std::min<std::size_t>(damaged.size(), 600)
                                           : rng() % damaged.size();
                damaged[at] = std::uint8_t(rng());
            }
            damaged[2] = '3';
            check(damaged, n);
        }
    }
}

// Arbitrary code tables: duplicates, prefixes, zero lengths and long codes, with random payloads.
TEST(ArbitraryCodeTables, MatchTheModelExactly) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 400; ++trial) {
        Bytes stream = hex("48 45 33 0D");
        stream.push_back(std::uint8_t(rng()));
        const auto length = std::uint32_t(rng() % 4 == 0 ? 0x7FFFFFFF : rng() % 3000);
        for (int k = 0; k < 4; ++k) stream.push_back(std::uint8_t(length >> (8 * k)));
        const int entries = 1 + int(rng() % 12);
        stream.push_back(std::uint8_t(entries));
        stream.push_back(0);
        for (int e = 0; e < entries; ++e) {
            stream.push_back(std::uint8_t(rng() % 16));  // values collide often
            stream.push_back(std::uint8_t(rng() % 8 == 0 ? rng() % 40 : rng() % 6));
        }
        const Bytes tail = random_bytes(rng, rng() % 2000);
        stream.insert(stream.end(), tail.begin(), tail.end());
        const auto n = std::int32_t(stream.size());
        ASSERT_EQ(run_codec(HuffDecodeByte, stream, n),
                  run_reference(&reference::Codec::huff_decode, stream, n))
            << "trial " << trial;
    }
}

}  // namespace
}  // namespace codec_test
