// The printable text container: round trips, the container's layout in both directions, key
// rejection, damaged and re-wrapped texts, line endings, errors, and the host hooks it calls.
//
// Rejection cases use texts composed here with a chosen dummy block (the same road EncodeString
// takes), so they are deterministic rather than right in all but one case in 65,536.
#include <algorithm>
#include <cctype>
#include <cstring>

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

std::string compose(std::string_view text, const Bytes& dummy, std::string_view key1,
                    std::string_view key2, const Bytes* payload_override = nullptr) {
    Bytes container = dummy;
    const Bytes payload = payload_override ? *payload_override : HuffEncodeString(text);
    container.insert(container.end(), payload.begin(), payload.end());
    container.push_back(dummy[dummy.size() - 2]);
    container.push_back(dummy[dummy.size() - 1]);
    SetKey(key1, key2);
    EncodeByteArray(container);
    return EncodeStr64(container, 60);
}

Bytes open_container(const std::string& printable, std::string_view key1, std::string_view key2) {
    Bytes container = DecodeStr64(printable);
    SetKey(key1, key2);
    DecodeByteArray(container);
    return container;
}

const std::string kText = "Attack at dawn. Bring the maps — and the €100 coffee fund.";

struct NamedText {
    const char* name;
    std::string text;
    friend void PrintTo(const NamedText& v, std::ostream* os) { *os << v.name; }
};

class ContainerRoundTrip : public testing::TestWithParam<NamedText> {};

TEST_P(ContainerRoundTrip, DecodesToTheTextAndHasTheDocumentedLayout) {
    const std::string& text = GetParam().text;
    const std::string printable = EncodeString(text, "key one", "key two");
    EXPECT_EQ(DecodeString(printable, "key one", "key two"), text);

    const Bytes c = open_container(printable, "key one", "key two");
    const std::size_t n = c[0];
    ASSERT_GE(n, 32u);
    ASSERT_GE(c.size(), n + 2);
    EXPECT_EQ(Bytes(c.begin() + std::ptrdiff_t(n), c.end() - 2), HuffEncodeString(text));
    EXPECT_EQ(c[c.size() - 2], c[n - 2]);
    EXPECT_EQ(c[c.size() - 1], c[n - 1]);

    std::size_t start = 0;
    for (std::size_t at; (at = printable.find("\r\n", start)) != std::string::npos;
         start = at + 2) {
        EXPECT_EQ(at - start, 60u);
    }
    EXPECT_LE(printable.size() - start, 60u);
    EXPECT_TRUE(std::all_of(printable.begin(), printable.end(), [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || std::strchr("+/=\r\n", ch);
    }));
}

std::string all_code_page_characters() {
    Bytes all(256);
    for (int b = 0; b < 256; ++b) all[std::size_t(b)] = std::uint8_t(b);
    return syskit::text::from_ansi(all);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ContainerRoundTrip,
    testing::Values(NamedText{"Empty", ""}, NamedText{"OneCharacter", "a"},
                    NamedText{"Sentence", kText},
                    NamedText{"AllCodePageCharacters", all_code_page_characters()},
                    NamedText{"SpansReportPoints", std::string(70'000, 'z') + "!"},
                    NamedText{"Nuls", std::string(3000, '\0')}),
    [](const auto& p) { return std::string(p.param.name); });

// Random texts over the whole code page, random keys (non-ASCII and longer than the schedule
// reads included) and lengths from empty to several report intervals.
TEST(Container, RandomTextsAndKeysRoundTrip) {
    std::mt19937 rng(2024);
    const auto random_text = [&](std::size_t n, unsigned alphabet) {
        return syskit::text::from_ansi(random_bytes(rng, n, alphabet));
    };
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t length = trial % 8 == 0 ? rng() % 40'000 : rng() % 700;
        const std::string text = random_text(length, trial % 3 == 0 ? 3 : 256);
        const std::string key1 = random_text(1 + rng() % 600, 256);
        const std::string key2 = random_text(rng() % 40, 256);
        LastErrorCode() = 0;
        ASSERT_EQ(DecodeString(EncodeString(text, key1, key2), key1, key2), text) << trial;
        ASSERT_EQ(LastErrorCode(), 0);
    }
}

TEST(Container, SameTextTwiceGivesDifferentForms) {
    EXPECT_NE(EncodeString(kText, "k", ""), EncodeString(kText, "k", ""));
}

TEST(Container, CharactersOutsideTheCodePageComeBackReplaced) {
    EXPECT_EQ(DecodeString(EncodeString("Grüße, 世界", "k", ""), "k", ""), "Grüße, ??");
}

TEST(Container, ComposedTextDecodes) {
    EXPECT_EQ(DecodeString(compose(kText, dummy_of_length(40), "k1", "k2"), "k1", "k2"), kText);
}

TEST(Container, RejectionsReturnEmptyAndSetError33) {
    const std::string printable = compose(kText, dummy_of_length(40), "k1", "k2");
    std::string joined = printable, spaced;
    std::erase(joined, '\r');
    std::erase(joined, '\n');
    for (char c : printable) (spaced += c) += ' ';
    const std::string cut = printable.substr(0, printable.rfind("\r\n"));

    struct Case {
        std::string text, key1, key2;
        bool accepted;
    } cases[] = {
        {printable, "k1", "k2", true}, {joined, "k1", "k2", true},
        {spaced, "k1", "k2", true},    {printable, "k2", "k2", false},
        {printable, "k1", "", false},  {printable, "k1", "k3", false},
        {cut, "k1", "k2", false},      {"", "k1", "k2", false},
        {"QUJ", "k1", "k2", false},    {"!!!! ....", "k1", "k2", false},
    };
    for (const Case& c : cases) {
        LastErrorCode() = 0;
        const std::string decoded = DecodeString(c.text, c.key1, c.key2);
        EXPECT_EQ(decoded, c.accepted ? kText : "") << c.key1 << "/" << c.key2;
        EXPECT_EQ(LastErrorCode(), c.accepted ? 0 : kTextRejected);
    }
    // A later success does not clear the code.
    LastErrorCode() = kTextRejected;
    EXPECT_EQ(DecodeString(printable, "k1", "k2"), kText);
    EXPECT_EQ(LastErrorCode(), kTextRejected);
}

TEST(Container, EndingFollowsTheContainerLength) {
    // "abc" compresses to 19 bytes, so the container is n + 21 bytes long.
    const auto ending = [](std::size_t n) {
        const std::string p = compose("abc", dummy_of_length(n), "k", "");
        return p.substr(p.size() - 2);
    };
    EXPECT_EQ(ending(69), "\r\n");      // 90 bytes: two full lines
    EXPECT_EQ(ending(40), "==");        // 61 = 3 × 20 + 1
    EXPECT_EQ(ending(41).back(), '=');  // 62 = 3 × 20 + 2
    EXPECT_NE(ending(41), "==");
}

TEST(Container, AcceptedContainerWithABadPayloadPassesTheDecoderError) {
    const Bytes bad_tag = hex("48 45 37 0D");
    const Bytes empty;
    EXPECT_THROW(DecodeString(compose("", dummy_of_length(32), "k", "", &bad_tag), "k", ""),
                 IdentificationError);
    EXPECT_THROW(DecodeString(compose("", dummy_of_length(32), "k", "", &empty), "k", ""),
                 syskit::RangeError);
}

TEST(Container, KeyErrorsPassToTheCaller) {
    const std::string printable = EncodeString(kText, "k", "");
    EXPECT_THROW(EncodeString(kText, "", ""), syskit::DivisionByZeroError);
    EXPECT_THROW(DecodeString(printable, "", ""), syskit::DivisionByZeroError);
    EXPECT_THROW(EncodeString(kText, "k", std::string(32768, 'x')), syskit::OverflowError);
    EXPECT_THROW(DecodeString(printable, "k", std::string(32768, 'x')), syskit::OverflowError);
}

TEST(Container, BusyPointerAndFinalProgress) {
    const std::string printable = compose(kText, dummy_of_length(40), "k", "");
    {
        Recorder r;
        EncodeString(kText, "k", "");
        EXPECT_EQ(r.pointers, (std::vector<int>{11, 0}));
        EXPECT_EQ(r.events.back(), (Event{false, 0}));
    }
    for (const char* key : {"k", "wrong"}) {
        Recorder r;
        DecodeString(printable, key, "");
        EXPECT_EQ(r.pointers, (std::vector<int>{11, 0, 0})) << key;
        EXPECT_EQ(r.events.back(), (Event{false, 0})) << key;
    }
    {
        Recorder r;
        EXPECT_THROW(EncodeString(kText, "", ""), syskit::Error);
        EXPECT_EQ(r.pointers, (std::vector<int>{11, 0}));  // restored on the way out
    }
}

}  // namespace
}  // namespace codec_test
