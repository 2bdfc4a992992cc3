// Peak heap of EncodeString and DecodeString on 16 MiB texts: a call holds little more than its
// input, the container and its result at once, so its peak heap growth (counted by the
// replacement operator new of support/heap_counter.cpp) stays within 4 × its input + 1 MiB. The
// texts: English-like ASCII, which compresses and is its own code-page form; the same mixed with
// "é", "€" and "ü", converted both ways; and every code-page character in uniform mix, which does
// not compress and grows most on its way back into UTF-8. Sanitizers bring allocators of their
// own, so the test skips itself there.
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

struct TextCase {
    const char* name;
    std::string (*make)();
};

class PeakHeapTest : public testing::TestWithParam<TextCase> {};

TEST_P(PeakHeapTest, EncodeAndDecodeStayWithinFourTimesTheirInputPlusOneMiB) {
    if (kSanitized) GTEST_SKIP() << "heap counts are not meaningful under sanitizers";
    const std::string text = GetParam().make();
    ASSERT_EQ(text.size(), kTextSize);
    std::string printable, decoded;
    const std::size_t encode_peak =
        heap_counter::peak_growth([&] { printable = ORBEX::EncodeString(text, "key 1", "key 2"); });
    // At least the result was allocated: else the counting allocator is not in use.
    ASSERT_GE(encode_peak, printable.size());
    EXPECT_LE(encode_peak, 4 * text.size() + kMiB);
    const std::size_t decode_peak = heap_counter::peak_growth(
        [&] { decoded = ORBEX::DecodeString(printable, "key 1", "key 2"); });
    ASSERT_EQ(decoded, text);
    ASSERT_GE(decode_peak, decoded.size());
    EXPECT_LE(decode_peak, 4 * printable.size() + kMiB);
    RecordProperty("encode_peak_bytes", std::to_string(encode_peak));
    RecordProperty("decode_peak_bytes", std::to_string(decode_peak));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PeakHeapTest,
    testing::Values(
        TextCase{"EnglishAscii",
                 [] { return sample_text::make_text(kTextSize, sample_text::TextKind::English); }},
        TextCase{"AccentedMixedWithEuroSign",
                 [] { return sample_text::make_text(kTextSize, sample_text::TextKind::Accented); }},
        TextCase{"EveryCodePageCharacterUncompressible",
                 [] {
                     return sample_text::make_text(kTextSize,
                                                   sample_text::TextKind::EveryCharacter);
                 }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
