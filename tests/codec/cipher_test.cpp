// The keyed byte cipher: keystreams against the reference model, the documented key
// equivalences, feedback behaviour, key errors and the state they leave, and the dummy block.
#include <set>
#include <string>
#include <thread>
#include <unordered_set>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

// Keystream of the real cipher after SetKey, observed through EncodeByte of zero bytes with the
// feedback of a given plaintext.
Bytes encipher(std::string_view key1, std::string_view key2, Bytes data) {
    SetKey(key1, key2);
    EncodeByteArray(data);
    return data;
}

Bytes model_encipher(const Bytes& k1, const Bytes& k2, Bytes data) {
    reference::Codec model;
    model.set_key(k1, k2);
    for (auto& b : data) b = model.encode_byte(b);
    return data;
}

struct Keys {
    std::string key1, key2;
    friend void PrintTo(const Keys& v, std::ostream* os) {
        *os << v.key1.size() << "+" << v.key2.size() << " key characters";
    }
};

class CipherAgainstModel : public testing::TestWithParam<Keys> {};

TEST_P(CipherAgainstModel, SameCiphertextAndDecipheringRestores) {
    std::mt19937 rng(5);
    const Bytes plain = random_bytes(rng, 20'000);
    const auto& [key1, key2] = GetParam();
    const Bytes cipher = encipher(key1, key2, plain);
    EXPECT_EQ(cipher,
              model_encipher(syskit::text::to_ansi(key1), syskit::text::to_ansi(key2), plain));

    Bytes back = cipher;
    SetKey(key1, key2);
    DecodeByteArray(back);
    EXPECT_EQ(back, plain);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CipherAgainstModel,
    testing::Values(Keys{"k", ""}, Keys{"secret", "pepper"}, Keys{std::string(600, 'x') + "y", "z"},
                    Keys{"Schlüssel €",
                         std::string(40, '\xC3') + "\xA9"},  // non-ASCII, invalid UTF-8
                    Keys{std::string("\0\1\2", 3), std::string(32767, 'q')}));

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

TEST(Cipher, KeyEquivalences) {
    const Bytes data(300, 0x55);
    const std::string k463(463, 'k');
    const auto same = [&](Keys a, Keys b) {
        return encipher(a.key1, a.key2, data) == encipher(b.key1, b.key2, data);
    };
    EXPECT_TRUE(same({"abc", ""}, {"abcabc", ""}));
    EXPECT_TRUE(same({k463 + "one", ""}, {k463 + "two", ""}));
    EXPECT_TRUE(same({"k", std::string(23, 'p') + "one"}, {"k", std::string(23, 'p') + "two"}));
    EXPECT_TRUE(same({"k", ""}, {"k", std::string(5, '\0')}));
    EXPECT_FALSE(same({"k", "a"}, {"k", "b"}));
    EXPECT_FALSE(same({"abc", ""}, {"abd", ""}));
}

TEST(Cipher, OneChangedByteChangesItsPositionAndEverythingAfter) {
    std::mt19937 rng(8);
    const Bytes plain = random_bytes(rng, 400);
    Bytes changed = plain;
    changed[200] ^= 1;
    const Bytes a = encipher("key", "", plain);
    const Bytes b = encipher("key", "", changed);
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 200, b.begin()));
    EXPECT_NE(a[200], b[200]);
    int differing = 0;
    for (std::size_t i = 201; i < a.size(); ++i) differing += a[i] != b[i];
    EXPECT_GT(differing, 180);
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
    struct Failure {
        std::string key1, key2;
        std::int32_t error;
    };
    for (const Failure& f :
         {Failure{"", "x", syskit::DivisionByZeroError::kNumber},
          Failure{"k", std::string(32768, 'x'), syskit::OverflowError::kNumber}}) {
        reference::Codec model;
        model.set_key({'f', 'i', 'r', 's', 't'}, {'2'});
        for (int i = 0; i < 10; ++i) model.encode_byte(std::uint8_t(i));
        SetKey("first", "2");
        for (int i = 0; i < 10; ++i) EncodeByte(std::uint8_t(i));

        std::int32_t raised = 0;
        try {
            SetKey(f.key1, f.key2);
        } catch (const syskit::Error& e) {
            raised = e.number();
        }
        EXPECT_EQ(raised, f.error);
        EXPECT_THROW(model.set_key(syskit::text::to_ansi(f.key1), syskit::text::to_ansi(f.key2)),
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
