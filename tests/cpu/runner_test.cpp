// The machine-code runner: the three operations on the placed and on the compiled-in path, the
// routine texts placed as written and sealed, placing order under partial refusal, and several
// runners at once.
#include <cpuid.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu/routines.hpp"
#include "platform/code_memory.hpp"
#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCPUID;
using syskit::Currency;

// Each operation runs either placed code or the compiled-in equivalent; both must agree.
class RunnerPaths : public testing::TestWithParam<bool> {
  protected:
    RefusingMemory refusing_;
    cCPUID runner_{GetParam() ? syskit::platform::code_memory() : refusing_};
};

TEST_P(RunnerPaths, ShiftRightIsLogicalAndUsesTheLowFiveBitsOfTheCount) {
    const std::tuple<std::uint32_t, std::int32_t, std::uint32_t> cases[] = {
        {0x80000000u, 31, 1},
        {0xFFFFFFFFu, 4, 0x0FFFFFFFu},
        {0x12345678u, 0, 0x12345678u},
        {0x12345678u, 36, 0x01234567u},
        {0x80000000u, -1, 1}};
    for (const auto& [value, shift, expected] : cases) {
        EXPECT_EQ(std::uint32_t(runner_.ShiftRight(std::int32_t(value), shift)), expected)
            << std::hex << value << " >> " << std::dec << shift;
    }
}

#if defined(__i386__) || defined(__x86_64__)
TEST_P(RunnerPaths, CpuIdMatchesTheCompilerAndTheTimeStampNeverGoesBack) {
    for (const unsigned leaf : {0u, 0x80000000u}) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        __get_cpuid(leaf, &a, &b, &c, &d);
        std::int32_t eax = -1, ebx = -1, ecx = -1, edx = -1;
        runner_.CpuID(std::int32_t(leaf), eax, ebx, ecx, edx);
        EXPECT_EQ(
            (std::array<unsigned, 4>{unsigned(eax), unsigned(ebx), unsigned(ecx), unsigned(edx)}),
            (std::array{a, b, c, d}))
            << leaf;
    }
    Currency previous;
    runner_.CpuClk(previous);
    EXPECT_GT(previous.raw(), 0);
    for (int i = 0; i < 1000; ++i) {
        Currency now;
        runner_.CpuClk(now);
        ASSERT_GE(now.raw(), previous.raw());  // equal readings are possible on coarse counters
        previous = now;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Cpu, RunnerPaths, testing::Values(true, false),
                         [](const auto& p) { return p.param ? "Placed" : "CompiledIn"; });

#if defined(__i386__) || defined(__x86_64__)

// The platform's memory, with a say over which allocations succeed, and the bytes of each block
// when it was made executable.
class ObservedMemory final : public syskit::platform::CodeMemory {
  public:
    std::vector<bool> grant = {true, true, true};  // per allocation, in order
    bool allow_execute = true;
    int live_blocks = 0;
    std::vector<std::string> sealed;

    void* allocate(std::size_t size) noexcept override {
        if (!grant[calls_++ % grant.size()]) return nullptr;
        void* block = syskit::platform::code_memory().allocate(size);
        live_blocks += block != nullptr;
        return block;
    }
    bool make_executable(void* block, std::size_t size) noexcept override {
        sealed.emplace_back(static_cast<const char*>(block), size);
        return allow_execute && syskit::platform::code_memory().make_executable(block, size);
    }
    void release(void* block, std::size_t size) noexcept override {
        live_blocks -= block != nullptr;
        syskit::platform::code_memory().release(block, size);
    }

  private:
    std::size_t calls_ = 0;
};

// Each block holds its routine text's bytes when it is sealed; a block the platform will not
// make executable is freed and its operation falls back.
TEST(Runner, PlacesAllThreeRoutinesAsWrittenAndSealsThem) {
    for (const bool allow_execute : {true, false}) {
        ObservedMemory memory;
        memory.allow_execute = allow_execute;
        {
            const cCPUID runner(memory);
            EXPECT_EQ(runner.PlacedCount(), allow_execute ? 3 : 0);
            ASSERT_EQ(memory.sealed.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                std::string hex;
                for (const unsigned char b : memory.sealed[i]) {
                    hex += "0123456789ABCDEF"[b >> 4];
                    hex += "0123456789ABCDEF"[b & 15];
                }
                EXPECT_EQ(hex, syskit::cpu_routines::routine_texts()[i]) << i;
            }
            EXPECT_EQ(memory.live_blocks, allow_execute ? 3 : 0);
            EXPECT_EQ(runner.ShiftRight(-8, 1), 0x7FFFFFFC);
        }
        EXPECT_EQ(memory.live_blocks, 0);
    }
}

// A refused block must not shift later routines onto the wrong operation.
TEST(Runner, ARefusedBlockKeepsThePlacingOrder) {
    for (std::size_t refused = 0; refused < 3; ++refused) {
        ObservedMemory memory;
        memory.grant[refused] = false;
        cCPUID runner(memory);
        EXPECT_EQ(runner.PlacedCount(), 2);
        EXPECT_EQ(runner.ShiftRight(std::int32_t(0x80000000u), 31), 1) << refused;
        std::int32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
        runner.CpuID(0, eax, ebx, ecx, edx);
        EXPECT_NE(ebx, 0) << refused;
        Currency cycles;
        runner.CpuClk(cycles);
        EXPECT_GT(cycles.raw(), 0) << refused;
    }
}

TEST(Runner, RunnersAreIndependent) {
    auto first = std::make_unique<cCPUID>();
    const cCPUID second;
    first.reset();
    EXPECT_EQ(second.ShiftRight(std::int32_t(0xF0000000u), 28), 0xF);
}

#else

TEST(Runner, OtherProcessorsPlaceNothing) {
    cCPUID runner;
    EXPECT_EQ(runner.PlacedCount(), 0);
    std::int32_t eax = 7, ebx = 7, ecx = 7, edx = 7;
    runner.CpuID(0, eax, ebx, ecx, edx);
    EXPECT_EQ(eax, 7);
    EXPECT_EQ(runner.ShiftRight(-1, 28), 0xF);
}

#endif

}  // namespace
}  // namespace cpu_test
