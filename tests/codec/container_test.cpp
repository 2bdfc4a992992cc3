// The printable container, composed here with chosen dummy blocks to be deterministic.
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

Bytes dummy_of_length(std::size_t n) {
    Bytes d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = std::uint8_t(i * 37 + 11);
    d[0] = std::uint8_t(n);
    return d;
}

// The printable form of a container with the given dummy block and payload.
std::string compose(const Bytes& dummy, const Bytes& payload, std::string_view key1,
                    std::string_view key2) {
    Bytes container = dummy;
    container.insert(container.end(), payload.begin(), payload.end());
    container.insert(container.end(), dummy.end() - 2, dummy.end());
    SetKey(key1, key2);
    EncodeByteArray(container);
    return EncodeStr64(container, 60);
}

const std::string kText = "Attack at dawn. Bring the maps — and the €100 coffee fund.";

std::string all_code_page_characters() {
    Bytes all(256);
    for (int b = 0; b < 256; ++b) all[std::size_t(b)] = std::uint8_t(b);
    return syskit::text::from_ansi(all);
}

// Texts of every kind round-trip, in a container of the layout above and lines of 60 characters.
TEST(Container, RoundTripsThroughItsLayout) {
    for (const std::string& text : {std::string(), kText, all_code_page_characters(),
                                    std::string(70'000, 'z') + "!", std::string(3000, '\0')}) {
        const std::string printable = EncodeString(text, "key one", "key two");
        EXPECT_EQ(DecodeString(printable, "key one", "key two"), text);
        Bytes c = DecodeStr64(printable);
        SetKey("key one", "key two");
        DecodeByteArray(c);
        const std::size_t n = c[0];
        ASSERT_GE(n, 32u);
        ASSERT_GE(c.size(), n + 2);
        EXPECT_EQ(Bytes(c.begin() + std::ptrdiff_t(n), c.end() - 2), HuffEncodeString(text));
        EXPECT_EQ(c[c.size() - 2], c[n - 2]);
        EXPECT_EQ(c.back(), c[n - 1]);
        EXPECT_EQ(printable, EncodeStr64(DecodeStr64(printable), 60));  // lines of 60, CR LF
    }
    EXPECT_NE(EncodeString(kText, "k", ""), EncodeString(kText, "k", ""));  // a new dummy block
    EXPECT_EQ(DecodeString(EncodeString("Grüße, 世界", "k", ""), "k", ""), "Grüße, ??");
}

TEST(Container, RejectionsReturnEmptyAndSetError33) {
    const std::string printable = compose(dummy_of_length(40), HuffEncodeString(kText), "k1", "k2");
    std::string joined = printable, spaced;
    std::erase(joined, '\r');
    std::erase(joined, '\n');
    for (char c : printable) (spaced += c) += ' ';
    const std::string cut = printable.substr(0, printable.rfind("\r\n"));
    const std::tuple<std::string, std::string, std::string, bool> cases[] = {
        {printable, "k1", "k2", true}, {joined, "k1", "k2", true},
        {spaced, "k1", "k2", true},    {printable, "k2", "k2", false},
        {printable, "k1", "", false},  {printable, "k1", "k3", false},
        {cut, "k1", "k2", false},      {"", "k1", "k2", false},
        {"QUJ", "k1", "k2", false}};
    for (const auto& [text, key1, key2, accepted] : cases) {
        LastErrorCode() = 0;
        EXPECT_EQ(DecodeString(text, key1, key2), accepted ? kText : "") << key1 << "/" << key2;
        EXPECT_EQ(LastErrorCode(), accepted ? 0 : kTextRejected);
    }
    // A later success does not clear the code.
    LastErrorCode() = kTextRejected;
    EXPECT_EQ(DecodeString(printable, "k1", "k2"), kText);
    EXPECT_EQ(LastErrorCode(), kTextRejected);
}

// A container of a known dummy block: its exact text, which decodes with its keys only.
TEST(Container, KnownText) {
    const std::string text =
        "Jyegd39OaINTTX08BZLHg2cybZkiF9qJX9Zh8eKVh31yIqcccsnrnY59KIQH\r\n0xo21sXsGV8=";
    EXPECT_EQ(compose(dummy_of_length(32), HuffEncodeString("abc"), "k", "2"), text);
    EXPECT_EQ(DecodeString(text, "k", "2"), "abc");
    EXPECT_EQ(DecodeString(text, "k", ""), "");
}

TEST(Container, EndingFollowsTheContainerLength) {
    // "abc" compresses to 19 bytes, so the container is n + 21 bytes long.
    const auto ending = [](std::size_t n) {
        const std::string p = compose(dummy_of_length(n), HuffEncodeString("abc"), "k", "");
        return p.substr(p.size() - 2);
    };
    EXPECT_EQ(ending(69), "\r\n");      // 90 bytes: two full lines
    EXPECT_EQ(ending(40), "==");        // 61 = 3 × 20 + 1
    EXPECT_EQ(ending(41).back(), '=');  // 62 = 3 × 20 + 2
    EXPECT_NE(ending(41), "==");
}

TEST(Container, ErrorsOfThePayloadAndTheKeysPassToTheCaller) {
    const auto with_payload = [](const Bytes& payload) {
        return DecodeString(compose(dummy_of_length(32), payload, "k", ""), "k", "");
    };
    EXPECT_THROW(with_payload(hex("48 45 37 0D")), IdentificationError);
    EXPECT_THROW(with_payload({}), syskit::RangeError);
    const std::string printable = EncodeString(kText, "k", "");
    EXPECT_THROW(EncodeString(kText, "", ""), syskit::DivisionByZeroError);
    EXPECT_THROW(DecodeString(printable, "", ""), syskit::DivisionByZeroError);
    EXPECT_THROW(EncodeString(kText, "k", std::string(32768, 'x')), syskit::OverflowError);
    EXPECT_THROW(DecodeString(printable, "k", std::string(32768, 'x')), syskit::OverflowError);
}

TEST(Container, BusyPointerAndFinalProgress) {
    const std::string printable = compose(dummy_of_length(40), HuffEncodeString(kText), "k", "");
    {
        Recorder r;
        EncodeString(kText, "k", "");
        EXPECT_EQ(r.pointers, (std::vector<int>{11, 0}));
        EXPECT_TRUE(r.events.ends_with(" 0 ")) << r.events;
    }
    for (const char* key : {"k", "wrong"}) {
        Recorder r;
        DecodeString(printable, key, "");
        EXPECT_EQ(r.pointers, (std::vector<int>{11, 0, 0})) << key;
        EXPECT_TRUE(r.events.ends_with(" 0 ")) << key << ": " << r.events;
    }
    Recorder r;
    EXPECT_THROW(EncodeString(kText, "", ""), syskit::Error);
    EXPECT_EQ(r.pointers, (std::vector<int>{11, 0}));  // restored on the way out
}

}  // namespace
}  // namespace codec_test
