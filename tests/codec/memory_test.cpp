// Peak heap of EncodeString / DecodeString on 16 MiB texts: within 4 × input + 1 MiB.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/heap_counter.hpp"
#include "syskit/orbex.hpp"
#include "syskit/text.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

namespace {

namespace ORBEX = syskit::ORBEX;
constexpr std::size_t kMiB = std::size_t(1) << 20;
constexpr std::size_t kTextSize = 16 * kMiB;

enum class TextKind { Words, Accented, EveryCharacter };
const char* const kTextNames[] = {"Words", "Accented", "EveryCharacter"};

// 16 MiB of UTF-8: words of a made-up vocabulary, the first ones the most frequent (compressible as
// prose is), with "é €" after some (Accented); or every code-page character evenly.
std::string make_text(TextKind kind) {
    std::mt19937 rng(7);  // the same bytes everywhere
    std::string out;
    if (kind == TextKind::EveryCharacter) {
        syskit::Bytes bytes(kTextSize * 2 / 3);
        for (auto& b : bytes) b = std::uint8_t(rng());
        out = syskit::text::from_ansi(bytes);
    }
    std::vector<std::string> words(500);
    for (auto& word : words)
        for (auto n = 2 + rng() % 8; n-- > 0;)
            word += "etaoinshrdlucmfwypvbgkjqxz"[rng() % 26 * (rng() % 26) / 26];
    while (out.size() < kTextSize) {
        out += words[rng() % 500 * (rng() % 500) / 500];
        out += kind == TextKind::Accented && rng() % 16 == 0 ? " é € " : " ";
    }
    std::size_t cut = kTextSize;  // on a character boundary
    while ((static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    return out.substr(0, cut) + std::string(kTextSize - cut, ' ');
}
class PeakHeapTest : public testing::TestWithParam<TextKind> {};

TEST_P(PeakHeapTest, EncodeAndDecodeStayWithinFourTimesTheirInputPlusOneMiB) {
    if (kSanitized) GTEST_SKIP() << "heap counts are not meaningful under sanitizers";
    const std::string text = make_text(GetParam());
    ASSERT_EQ(text.size(), kTextSize);
    std::string printable, decoded;
    const std::size_t encode_peak =
        heap_counter::peak_growth([&] { printable = ORBEX::EncodeString(text, "key 1", "key 2"); });
    ASSERT_GE(encode_peak, printable.size());  // else the counting allocator is not in use
    EXPECT_LE(encode_peak, 4 * text.size() + kMiB);
    const std::size_t decode_peak = heap_counter::peak_growth(
        [&] { decoded = ORBEX::DecodeString(printable, "key 1", "key 2"); });
    ASSERT_EQ(decoded, text);
    ASSERT_GE(decode_peak, decoded.size());
    EXPECT_LE(decode_peak, 4 * printable.size() + kMiB);
    RecordProperty("encode_peak_bytes", std::to_string(encode_peak));
    RecordProperty("decode_peak_bytes", std::to_string(decode_peak));
}

INSTANTIATE_TEST_SUITE_P(Texts, PeakHeapTest,
                         testing::Values(TextKind::Words, TextKind::Accented,
                                         TextKind::EveryCharacter),
                         [](const auto& p) { return std::string(kTextNames[p.index]); });

}  // namespace
