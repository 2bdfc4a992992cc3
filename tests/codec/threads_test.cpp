// Threads coding at once get correct results, their own LastErrorCode and their own hooks.
#include <thread>

#include <gtest/gtest.h>

#include "support.hpp"

namespace codec_test {
namespace {

using namespace syskit::ORBEX;

TEST(Threads, CodeAtOnceWithoutInterfering) {
    struct Worker {
        std::string text, key;
        bool ok = true;
        std::int16_t last_error = -1;
        std::size_t progress_calls = 0;
    } workers[2] = {{std::string(150'000, 'a') + "b", "alpha"},
                    {"short text with ü and €", "beta"}};
    const auto run = [](Worker& w) {
        Recorder recorder;
        for (int i = 0; i < 20; ++i) {
            const std::string printable = EncodeString(w.text, w.key, "");
            w.ok &= DecodeString(printable, w.key, "") == w.text;
            SetKey("interference", "");  // re-keying between calls must not matter elsewhere
        }
        if (w.key == "beta") DecodeString("QUJ", w.key, "");  // too short: always rejected
        w.last_error = LastErrorCode();
        w.progress_calls = recorder.events.size();
    };
    std::thread a(run, std::ref(workers[0])), b(run, std::ref(workers[1]));
    a.join();
    b.join();
    EXPECT_TRUE(workers[0].ok && workers[1].ok);
    EXPECT_EQ(workers[0].last_error, 0);
    EXPECT_EQ(workers[1].last_error, kTextRejected);
    EXPECT_GT(workers[0].progress_calls, workers[1].progress_calls);
}

}  // namespace
}  // namespace codec_test
