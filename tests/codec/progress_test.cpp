// Progress reports and yields of the array coders and of whole EncodeString / DecodeString.
#include <functional>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

// A yield and the figure at byte 0 and every 5000th: x / (n - 1) × 44 + 56 encoding, × 50 decoding.
TEST(ArrayCoderProgress, KnownReports) {
    const std::tuple<std::size_t, std::int16_t, const char*, const char*> cases[] = {
        {0, 0, "", ""},
        {1, 0, "y 56 ", "y "},
        {1, 100, "y 56 ", "y 0 "},
        {2, 56, "y ", "y 0 "},
        {4999, 0, "y 56 ", "y "},
        {5000, 0, "y 56 ", "y "},
        {5001, 0, "y 56 y 100 ", "y y 50 "},
        {5001, 100, "y 56 y 100 ", "y 0 y 50 "},
        {5002, 56, "y y 100 ", "y 0 y 50 "},
        {10001, 0, "y 56 y 78 y 100 ", "y y 25 y 50 "},
        {123'457, 56,
         "y y 58 y 60 y 61 y 63 y 65 y 67 y 68 y 70 y 72 y 74 y 76 y 77 y 79 y 81 y 83 y 85 y 86 "
         "y 88 y 90 y 92 y 93 y 95 y 97 y 99 ",
         "y 0 y 2 y 4 y 6 y 8 y 10 y 12 y 14 y 16 y 18 y 20 y 22 y 24 y 26 y 28 y 30 y 32 y 34 y "
         "36 "
         "y 38 y 41 y 43 y 45 y 47 y 49 "}};
    for (const auto& [size, start, encoding, decoding] : cases) {
        for (bool encode : {true, false}) {
            LastProgress() = start;
            Bytes a(size, 0x33);
            Recorder r;
            encode ? EncodeByteArray(a) : DecodeByteArray(a);
            EXPECT_EQ(r.events, encode ? encoding : decoding) << size << ", " << start;
        }
    }
}

std::string events_of(const std::function<void()>& call) {
    Recorder r;
    call();
    return r.events;
}

TEST(ContainerProgress, WholeCallsAreTheirStagesCallsThenZero) {
    std::mt19937 rng(4);
    const Bytes plain = random_bytes(rng, 64'000, 40);
    const std::string text = syskit::text::from_ansi(plain);
    for (std::int16_t start : {std::int16_t(0), std::int16_t(100)}) {
        LastProgress() = start;
        std::string printable, decoded;
        const std::string encoding = events_of([&] { printable = EncodeString(text, "key", ""); });
        const Outcome packed = run_codec(HuffEncodeByte, plain, std::int32_t(plain.size()), start);
        Bytes container = DecodeStr64(printable);
        EXPECT_EQ(encoding, packed.events + events_of([&] { EncodeByteArray(container); }) + "0 ");
        LastProgress() = start;
        const std::string decoding =
            events_of([&] { decoded = DecodeString(printable, "key", ""); });
        EXPECT_EQ(decoded, text);
        LastProgress() = start;
        const std::string deciphering = events_of([&] { DecodeByteArray(container); });
        const Outcome unpacked = run_codec(HuffDecodeByte, packed.result,
                                           std::int32_t(packed.result.size()), LastProgress());
        EXPECT_EQ(decoding, deciphering + unpacked.events + "0 ");
    }
}

}  // namespace
}  // namespace codec_test
