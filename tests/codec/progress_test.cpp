// Progress reports and yields: the array coders and whole EncodeString / DecodeString calls
// produce exactly the model's sequence of host calls, from any starting LastProgress.
#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

TEST(ArrayCoderProgress, SameReportsAsTheModel) {
    for (const std::size_t size : {0, 1, 2, 4999, 5000, 5001, 5002, 10001, 123'457}) {
        for (std::int16_t start : {std::int16_t(0), std::int16_t(56), std::int16_t(100)}) {
            for (bool encode : {true, false}) {
                reference::Codec model;
                model.last_progress = start;
                Bytes a(size, 0x33);
                encode ? model.encode_array(a) : model.decode_array(a);
                LastProgress() = start;
                Recorder r;
                encode ? EncodeByteArray(a) : DecodeByteArray(a);
                ASSERT_EQ(r.events, model.events) << size << (encode ? " encode" : " decode");
                ASSERT_EQ(LastProgress(), model.last_progress);
            }
        }
    }
}

// A whole EncodeString is the compressor's reports, the cipher's over the container, then 0;
// DecodeString is the cipher's, the decompressor's, then 0.
TEST(ContainerProgress, WholeCallsMatchTheModelStages) {
    std::mt19937 rng(4);
    const Bytes plain = random_bytes(rng, 64'000, 40);
    const std::string text = syskit::text::from_ansi(plain);
    for (std::int16_t start : {std::int16_t(0), std::int16_t(100)}) {
        LastProgress() = start;
        Events encode_events;
        std::string printable;
        {
            Recorder r;
            printable = EncodeString(text, "key", "");
            encode_events = r.events;
        }
        reference::Codec model;
        model.last_progress = start;
        Bytes stream = plain;
        model.huff_encode(stream, std::int32_t(stream.size()));
        Bytes container(DecodeStr64(printable).size());
        model.encode_array(container);
        model.events.push_back({false, 0});
        EXPECT_EQ(encode_events, model.events);

        Recorder r;
        EXPECT_EQ(DecodeString(printable, "key", ""), text);
        model.events.clear();
        model.decode_array(container);
        model.huff_decode(stream, std::int32_t(stream.size()));
        model.events.push_back({false, 0});
        EXPECT_EQ(r.events, model.events);
    }
}

}  // namespace
}  // namespace codec_test
