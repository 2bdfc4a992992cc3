// Peak heap of EncodeString / DecodeString on 16 MiB texts: within 4 × input + 1 MiB.
#include <gtest/gtest.h>

#include <string>

#include "support/heap_counter.hpp"
#include "support/sample_text.hpp"
#include "syskit/orbex.hpp"

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

using sample_text::TextKind;
const char* const kTextNames[] = {"EnglishAscii", "Accented", "EveryCharacter"};
class PeakHeapTest : public testing::TestWithParam<TextKind> {};

TEST_P(PeakHeapTest, EncodeAndDecodeStayWithinFourTimesTheirInputPlusOneMiB) {
    if (kSanitized) GTEST_SKIP() << "heap counts are not meaningful under sanitizers";
    const std::string text = sample_text::make_text(kTextSize, GetParam());
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
                         testing::Values(TextKind::English, TextKind::Accented,
                                         TextKind::EveryCharacter),
                         [](const auto& p) { return std::string(kTextNames[p.index]); });

}  // namespace
