// Each failing allocation of EncodeString / DecodeString: error 7, nothing leaked, codec usable.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/heap_counter.hpp"
#include "syskit/orbex.hpp"

namespace {

namespace ORBEX = syskit::ORBEX;

// Under a failing allocation: right text returned, error number (-1: not a syskit::Error), leak.
struct Outcome {
    bool right = false;
    std::int32_t error = 0;
    std::size_t leaked = 0;
};

Outcome attempt(const std::function<std::string()>& call, const std::string& expected,
                std::size_t n) {
    Outcome o;
    const std::size_t before = heap_counter::live_bytes();
    heap_counter::fail_allocation(n);
    try {
        o.right = call() == expected;
    } catch (const syskit::Error& e) {
        o.error = e.number();
    } catch (...) {
        o.error = -1;
    }
    o.leaked = heap_counter::live_bytes() - before;
    return o;
}

TEST(AllocationFailure, EncodeAndDecodeRaiseErrorSevenFreeEverythingAndRecover) {
    // Non-ASCII characters take the code-page conversions both ways.
    std::string text;
    while (text.size() < 12'000) text += "Grüße, 20 € — ";
    const std::string printable = ORBEX::EncodeString(text, "key one", "key two");
    // The encoder's result is random: only its decoding is checked.
    const std::pair<const char*, std::function<std::string()>> calls[] = {
        {"EncodeString",
         [&] { return ORBEX::DecodeString(ORBEX::EncodeString(text, "k1", "k2"), "k1", "k2"); }},
        {"DecodeString", [&] { return ORBEX::DecodeString(printable, "key one", "key two"); }},
    };
    for (const auto& [name, call] : calls) {
        std::size_t failures = 0;
        const std::size_t runs = heap_counter::for_each_failing_allocation(
            [&](std::size_t n) { return attempt(call, text, n); },
            [&](const Outcome& o, std::size_t n, bool reached) {
                EXPECT_EQ(o.error, reached ? syskit::OutOfMemoryError::kNumber : 0)
                    << name << ", allocation " << n;
                EXPECT_EQ(o.right, !reached) << name << ", allocation " << n;
                EXPECT_EQ(o.leaked, 0u) << name << ", allocation " << n;
                failures += o.error != 0;
            });
        EXPECT_GE(runs, 4u) << name;  // the switch reached the call's allocations
        EXPECT_EQ(failures, runs - 1) << name;
        EXPECT_EQ(ORBEX::DecodeString(ORBEX::EncodeString(text, "k", ""), "k", ""), text);
    }
}

}  // namespace
