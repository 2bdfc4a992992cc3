// The keyed byte cipher: known keystreams, key lengths, key errors, the dummy block.
#include <set>
#include <string>
#include <thread>
#include <unordered_set>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

Bytes encipher(std::string_view key1, std::string_view key2, Bytes data) {
    SetKey(key1, key2);
    EncodeByteArray(data);
    return data;
}

// 20,001 bytes 0, 1, 2, ... (every value, an odd length): the first ciphertext bytes and a hash.
TEST(Cipher, KnownCiphertextsAndDecipheringRestores) {
    Bytes plain(20'001);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = std::uint8_t(i);
    const std::tuple<std::string, std::string, const char*, std::uint64_t> cases[] = {
        {"k", "", "F0 A0 B2 1F 5F 28 09 D7", 0xF8DB707A084B0763},
        {"secret", "pepper", "8F 08 37 34 F1 9B 39 A6", 0x69580974F68390BE},
        {std::string(600, 'x') + "y", "z", "0A C6 73 F4 8F 77 A2 40", 0x51C32846F1FC6A93},
        // Non-ASCII, invalid UTF-8; NUL characters and the longest key2.
        {"Schlüssel €", std::string(40, '\xC3') + "\xA9", "35 61 83 31 86 77 7F D9",
         0x9CA34F76F372429A},
        {std::string("\0\1\2", 3), std::string(32767, 'q'), "FE 8A 8C 27 0D 67 B1 E4",
         0xE130CA844961A6B2}};
    for (const auto& [key1, key2, head, hash] : cases) {
        const Bytes cipher = encipher(key1, key2, plain);
        EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 8), hex(head))
            << key1 << "+" << key2.size();
        EXPECT_EQ(fnv1a(cipher), hash) << key1 << "+" << key2.size();
        Bytes back = cipher;
        SetKey(key1, key2);
        DecodeByteArray(back);
        EXPECT_EQ(back, plain);
    }
    // Only the first 463 characters of key1 and 23 of key2 count; key2 repeats over its 23.
    const std::string k463(463, 'k'), p23(23, 'p');
    EXPECT_EQ(encipher(k463 + "one", "", plain), encipher(k463 + "two", "", plain));
    EXPECT_EQ(encipher("k", p23 + "one", plain), encipher("k", p23 + "two", plain));
    EXPECT_NE(encipher("k", "a", plain), encipher("k", "b", plain));
}

TEST(Cipher, FnORBEXFollowsAnyFeedbackSequence) {
    SetKey("abc", "d");
    std::mt19937 rng(3);
    Bytes out(5000);
    for (auto& b : out) b = FnORBEX(std::uint8_t(rng()));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), hex("5C 84 84 A1 63 91 DB 09"));
    EXPECT_EQ(fnv1a(out), 0x8DA985DCB5254150u);
}

TEST(Cipher, BeforeAnySetKeyTheByteCodersChangeNothing) {
    std::thread([] {
        EXPECT_EQ(EncodeByte(0x5A), 0x5A);
        EXPECT_EQ(DecodeByte(0xA5), 0xA5);
        EXPECT_EQ(FnORBEX(200), 0);
    }).join();
}

// A failed SetKey leaves the schedule where it stopped, and the keystream goes on from there.
TEST(Cipher, FailedSetKeyLeavesTheStateWhereItStopped) {
    const std::tuple<std::string, std::string, std::int32_t, std::uint64_t> failures[] = {
        {"", "x", syskit::DivisionByZeroError::kNumber, 0x15F8D9E8677F54AE},
        {"k", std::string(32768, 'x'), syskit::OverflowError::kNumber, 0xC7941C1AD0069620}};
    for (const auto& [key1, key2, error, hash] : failures) {
        SetKey("first", "2");
        Bytes stream(1010);
        for (std::size_t i = 0; i < 10; ++i) stream[i] = EncodeByte(std::uint8_t(i));
        std::int32_t raised = 0;
        try {
            SetKey(key1, key2);
        } catch (const syskit::Error& e) {
            raised = e.number();
        }
        EXPECT_EQ(raised, error);
        for (std::size_t i = 10; i < stream.size(); ++i) stream[i] = EncodeByte(std::uint8_t(i));
        EXPECT_EQ(fnv1a(stream), hash) << error;
    }
}

TEST(RandomDummy, LengthPrefixedRandomBlocks) {
    std::unordered_set<std::string> seen;
    std::set<std::size_t> lengths;
    for (int i = 0; i < 200; ++i) {
        const Bytes block = RandomDummy();
        ASSERT_GE(block.size(), 32u);
        ASSERT_LE(block.size(), 255u);
        ASSERT_EQ(block[0], block.size());
        seen.emplace(block.begin(), block.end());
        lengths.insert(block.size());
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_GT(lengths.size(), 50u);
}

}  // namespace
}  // namespace codec_test
