// Peak heap of EncodeString and DecodeString on large texts.
//
// The container is built so that a call holds little more than its input, the container and its
// result at once. This program replaces the global operator new / delete with counting versions
// (it is a program of its own, so nothing else is affected) and checks, for 16 MiB texts of three
// kinds, that the peak heap growth during one call stays within 4 × the call's input + 1 MiB:
//
//   - English-like ASCII text, compressed and its own code-page form;
//   - the same mixed with "é", "€" and "ü", which needs the code-page conversion both ways;
//   - every code-page character in uniform mix, which does not compress (stored stream) and
//     grows most when it is turned back into UTF-8.
//
// The input of EncodeString is the text, the input of DecodeString its printable form. The
// counts are meaningless under the sanitizers, which bring allocators of their own, so the test
// skips itself there.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "support/heap_counter.hpp"
#include "support/sample_text.hpp"
#include "syskit/orbex.hpp"
#include "syskit/text.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SYSKIT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define SYSKIT_SANITIZED 1
#endif
#endif
#ifndef SYSKIT_SANITIZED
#define SYSKIT_SANITIZED 0
#endif

namespace {

using syskit::Bytes;
namespace ORBEX = syskit::ORBEX;

constexpr std::size_t kMiB = std::size_t(1) << 20;
constexpr std::size_t kTextSize = 16 * kMiB;
constexpr std::string_view kKey1 = "memory key 1";
constexpr std::string_view kKey2 = "memory key 2";

constexpr std::size_t bound(std::size_t input) {
    return 4 * input + kMiB;
}

// --- Texts -----------------------------------------------------------------------------------

// Every code-page character in uniform mix: a text that does not compress. Cut to exactly `size`
// bytes on a character boundary.
std::string every_character(std::size_t size) {
    std::uint64_t state = 3;
    std::string out;
    Bytes chunk(4096);
    while (out.size() < size) {
        for (auto& b : chunk) b = std::uint8_t((state = state * 6364136223846793005ull + 1) >> 56);
        out += syskit::text::from_ansi(chunk);
    }
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.resize(size, ' ');
    return out;
}

struct TextCase {
    const char* name;
    std::string (*make)();
    friend void PrintTo(const TextCase& v, std::ostream* os) { *os << v.name; }
};

const TextCase kCases[] = {
    {"EnglishAscii",
     [] { return sample_text::make_text(kTextSize, sample_text::TextKind::English); }},
    {"AccentedMixedWithEuroSign",
     [] { return sample_text::make_text(kTextSize, sample_text::TextKind::Accented); }},
    {"EveryCodePageCharacterUncompressible", [] { return every_character(kTextSize); }},
};

class PeakHeapTest : public testing::TestWithParam<TextCase> {};

TEST_P(PeakHeapTest, EncodeAndDecodeStayWithinFourTimesTheirInputPlusOneMiB) {
    if (SYSKIT_SANITIZED) GTEST_SKIP() << "heap counts are not meaningful under sanitizers";

    const std::string text = GetParam().make();
    ASSERT_EQ(text.size(), kTextSize);

    std::string printable;
    const std::size_t encode_peak =
        heap_counter::peak_growth([&] { printable = ORBEX::EncodeString(text, kKey1, kKey2); });
    // The call must at least have allocated its result; anything less means the counting
    // allocator is not in use and the bound below would pass for nothing.
    ASSERT_GE(encode_peak, printable.size());
    EXPECT_LE(encode_peak, bound(text.size()))
        << "EncodeString of " << text.size() << " bytes peaked at " << encode_peak << " bytes";

    std::string decoded;
    const std::size_t decode_peak =
        heap_counter::peak_growth([&] { decoded = ORBEX::DecodeString(printable, kKey1, kKey2); });
    ASSERT_EQ(decoded, text);
    ASSERT_GE(decode_peak, decoded.size());
    EXPECT_LE(decode_peak, bound(printable.size()))
        << "DecodeString of " << printable.size() << " bytes peaked at " << decode_peak << " bytes";

    RecordProperty("encode_peak_bytes", std::to_string(encode_peak));
    RecordProperty("decode_peak_bytes", std::to_string(decode_peak));
    RecordProperty("printable_bytes", std::to_string(printable.size()));
}

INSTANTIATE_TEST_SUITE_P(Texts, PeakHeapTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TextCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
