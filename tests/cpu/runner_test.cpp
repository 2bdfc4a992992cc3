// The machine-code runner: both paths of each operation, the placed texts and the placing order.
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
using syskit::cCpuInfo;
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
    for (const auto& [value, shift, expected] : cases)
        EXPECT_EQ(std::uint32_t(runner_.ShiftRight(std::int32_t(value), shift)), expected)
            << std::hex << value << " >> " << std::dec << shift;
}

#if defined(__i386__) || defined(__x86_64__)
TEST_P(RunnerPaths, CpuIdMatchesTheCompilerAndTheTimeStampNeverGoesBack) {
    for (const unsigned leaf : {0u, 0x80000000u}) {
        std::array<unsigned, 4> want{}, got{};
        __get_cpuid(leaf, &want[0], &want[1], &want[2], &want[3]);
        auto* r = reinterpret_cast<std::int32_t*>(got.data());
        runner_.CpuID(std::int32_t(leaf), r[0], r[1], r[2], r[3]);
        EXPECT_EQ(got, want) << leaf;
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

// The platform's memory, refusing chosen blocks or execution, keeping each block's sealed bytes.
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

// All placed, none may run, or block 0, 1 or 2 refused: the texts as written, nothing shifted.
TEST(Runner, PlacesTheRoutinesAsWrittenAndKeepsTheirOrderUnderRefusal) {
    const cCPUID other;  // runners are independent
    for (int config = 0; config < 5; ++config) {
        ObservedMemory memory;
        memory.allow_execute = config != 1;
        if (config >= 2) memory.grant[std::size_t(config - 2)] = false;
        const int placed = config == 0 ? 3 : config == 1 ? 0 : 2;
        {
            const cCPUID runner(memory);
            EXPECT_EQ(runner.PlacedCount(), placed) << config;
            EXPECT_EQ(memory.live_blocks, placed) << config;
            for (std::size_t i = 0; config < 2 && i < 3; ++i) {
                std::string hex;
                for (const unsigned char b : memory.sealed.at(i)) hex += cCpuInfo::HexPad(b, 2);
                EXPECT_EQ(hex, syskit::cpu_routines::routine_texts()[i]) << i;
            }
            EXPECT_EQ(runner.ShiftRight(std::int32_t(0x80000000u), 31), 1) << config;
            std::int32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
            runner.CpuID(0, eax, ebx, ecx, edx);
            Currency cycles;
            runner.CpuClk(cycles);
            EXPECT_TRUE(ebx != 0 && cycles.raw() > 0) << config;
        }
        EXPECT_EQ(memory.live_blocks, 0);
        EXPECT_EQ(other.ShiftRight(std::int32_t(0xF0000000u), 28), 0xF);
    }
}

#else

TEST(Runner, OtherProcessorsPlaceNothing) {
    cCPUID runner;
    std::int32_t eax = 7, ebx = 7, ecx = 7, edx = 7;
    runner.CpuID(0, eax, ebx, ecx, edx);
    EXPECT_TRUE(runner.PlacedCount() == 0 && eax == 7);
    EXPECT_EQ(runner.ShiftRight(-1, 28), 0xF);
}

#endif

}  // namespace
}  // namespace cpu_test
