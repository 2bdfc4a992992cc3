// Host hooks: installed and restored per scope, and separate per thread.
#include <gtest/gtest.h>

#include <thread>

#include "syskit/host.hpp"

namespace {

using namespace syskit::host;

TEST(HostHooks, InstalledPerScopeAndPerThread) {
    std::vector<float> outer, inner;
    const auto into = [](std::vector<float>& to) { return [&to](float p) { to.push_back(p); }; };
    ScopedHooks a(nullptr, into(outer), nullptr);
    progress(1);
    {
        ScopedHooks b(nullptr, into(inner), nullptr);
        progress(2);
        std::thread([] { progress(99); }).join();  // another thread has its own, silent, hooks
    }
    progress(3);
    EXPECT_EQ(outer, (std::vector<float>{1, 3}));
    EXPECT_EQ(inner, (std::vector<float>{2}));
}

}  // namespace
