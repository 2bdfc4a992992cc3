// The keyed byte cipher: keystreams against the reference model, keys beyond the part the
// schedule reads, key errors and the state they leave, and the dummy block.
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

TEST(Cipher, SameCiphertextAsTheModelAndDecipheringRestores) {
    std::mt19937 rng(5);
    const Bytes plain = random_bytes(rng, 20'000);
    const std::pair<std::string, std::string> keys[] = {
        {"k", ""},
        {"secret", "pepper"},
        {std::string(600, 'x') + "y", "z"},
        {"Schlüssel €", std::string(40, '\xC3') + "\xA9"},  // non-ASCII, invalid UTF-8
        {std::string("\0\1\2", 3), std::string(32767, 'q')}};
    for (const auto& [key1, key2] : keys) {
        reference::Codec model;
        model.set_key(syskit::text::to_ansi(key1), syskit::text::to_ansi(key2));
        Bytes expected = plain;
        for (auto& b : expected) b = model.encode_byte(b);
        const Bytes cipher = encipher(key1, key2, plain);
        EXPECT_EQ(cipher, expected) << key1.size() << "+" << key2.size() << " key characters";
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
    reference::Codec model;
    model.set_key({'a', 'b', 'c'}, {'d'});
    SetKey("abc", "d");
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        const auto feedback = std::uint8_t(rng());
        ASSERT_EQ(FnORBEX(feedback), model.fn(feedback)) << "step " << i;
    }
}

TEST(Cipher, BeforeAnySetKeyTheByteCodersChangeNothing) {
    std::thread([] {
        EXPECT_EQ(EncodeByte(0x5A), 0x5A);
        EXPECT_EQ(DecodeByte(0xA5), 0xA5);
        EXPECT_EQ(FnORBEX(200), 0);
    }).join();
}

// A failed SetKey leaves the schedule where it stopped; the keystream from that state is the
// model's from the same state.
TEST(Cipher, FailedSetKeyLeavesTheStateTheModelLeaves) {
    const std::tuple<std::string, std::string, std::int32_t> failures[] = {
        {"", "x", syskit::DivisionByZeroError::kNumber},
        {"k", std::string(32768, 'x'), syskit::OverflowError::kNumber}};
    for (const auto& [key1, key2, error] : failures) {
        reference::Codec model;
        model.set_key({'f', 'i', 'r', 's', 't'}, {'2'});
        SetKey("first", "2");
        for (std::uint8_t i = 0; i < 10; ++i) EXPECT_EQ(EncodeByte(i), model.encode_byte(i));
        std::int32_t raised = 0;
        try {
            SetKey(key1, key2);
        } catch (const syskit::Error& e) {
            raised = e.number();
        }
        EXPECT_EQ(raised, error);
        EXPECT_THROW(model.set_key(syskit::text::to_ansi(key1), syskit::text::to_ansi(key2)),
                     syskit::Error);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(EncodeByte(std::uint8_t(i)), model.encode_byte(std::uint8_t(i))) << i;
        }
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
