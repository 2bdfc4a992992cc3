// The machine-code runner: the routine texts, the three operations on the placed and on the
// compiled-in path, placing order under partial refusal, and several runners at once.
#include <cpuid.h>

#include <map>
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
namespace routines = syskit::cpu_routines;

// The platform's memory, with a say over which allocations succeed and a log that checks the
// write-then-seal order.
class ObservedMemory final : public syskit::platform::CodeMemory {
  public:
    std::vector<bool> grant;  // per allocation, in order; missing entries are granted
    bool allow_execute = true;
    int live_blocks = 0;
    std::vector<std::string> sealed;  // the bytes of each block when it was made executable

    void* allocate(std::size_t size) noexcept override {
        const std::size_t n = calls_++;
        if (n < grant.size() && !grant[n]) return nullptr;
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

std::string bytes_of(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return out;
}

TEST(RoutineTexts, CarriedTextsHaveTheirByteCounts) {
    EXPECT_EQ(routines::x86_32::kTimeStamp.size() / 2, 16u);
    EXPECT_EQ(routines::x86_32::kIdentification.size() / 2, 69u);
    EXPECT_EQ(routines::x86_32::kShift.size() / 2, 21u);
}

TEST(RoutineTexts, AreWholeUpperCaseHexBytes) {
    for (const auto text :
         {routines::x86_32::kTimeStamp, routines::x86_32::kIdentification, routines::x86_32::kShift,
          routines::x86_64_system_v::kTimeStamp, routines::x86_64_system_v::kIdentification,
          routines::x86_64_system_v::kShift, routines::x86_64_windows::kTimeStamp,
          routines::x86_64_windows::kIdentification, routines::x86_64_windows::kShift}) {
        EXPECT_EQ(text.size() % 2, 0u) << text;
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string_view::npos) << text;
    }
}

// Each operation runs either placed code or the compiled-in equivalent; both must agree.
class RunnerPaths : public testing::TestWithParam<bool> {
  protected:
    RefusingMemory refusing_;
    cCPUID runner_{GetParam() ? syskit::platform::code_memory() : refusing_};
};

TEST_P(RunnerPaths, ShiftRightIsLogicalAndUsesTheLowFiveBitsOfTheCount) {
    struct Case {
        std::uint32_t value;
        std::int32_t shift;
        std::uint32_t expected;
    };
    for (const Case c : {Case{0x80000000u, 31, 1}, Case{0x80000000u, 1, 0x40000000u},
                         Case{0xFFFFFFFFu, 4, 0x0FFFFFFFu}, Case{0x12345678u, 0, 0x12345678u},
                         Case{0x12345678u, 32, 0x12345678u}, Case{0x12345678u, 36, 0x01234567u},
                         Case{0x80000000u, -1, 1}, Case{0xDEADBEEFu, 24, 0xDEu}}) {
        EXPECT_EQ(static_cast<std::uint32_t>(
                      runner_.ShiftRight(static_cast<std::int32_t>(c.value), c.shift)),
                  c.expected)
            << std::hex << c.value << " >> " << std::dec << c.shift;
    }
}

#if defined(__i386__) || defined(__x86_64__)
TEST_P(RunnerPaths, CpuIdMatchesTheCompiler) {
    for (const unsigned leaf : {0u, 1u, 0x80000000u}) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        ASSERT_TRUE(__get_cpuid(leaf, &a, &b, &c, &d) || leaf != 0);
        std::int32_t eax = -1, ebx = -1, ecx = -1, edx = -1;
        runner_.CpuID(static_cast<std::int32_t>(leaf), eax, ebx, ecx, edx);
        EXPECT_EQ(static_cast<unsigned>(eax), a) << leaf;
        EXPECT_EQ(static_cast<unsigned>(ebx), b) << leaf;
        if (leaf == 0) {  // leaf 0's ECX and EDX hold vendor text; leaf 1's EBX has the APIC id
            EXPECT_EQ(static_cast<unsigned>(ecx), c);
            EXPECT_EQ(static_cast<unsigned>(edx), d);
        }
    }
}

TEST_P(RunnerPaths, TimeStampNeverGoesBackwards) {
    Currency previous;
    runner_.CpuClk(previous);
    EXPECT_GT(previous.raw(), 0);
    for (int i = 0; i < 1000; ++i) {
        Currency now;
        runner_.CpuClk(now);
        ASSERT_GE(now.raw(), previous.raw());
        previous = now;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Cpu, RunnerPaths, testing::Values(true, false),
                         [](const auto& param_info) {
                             return param_info.param ? "Placed" : "CompiledIn";
                         });

#if defined(__i386__) || defined(__x86_64__)

TEST(Runner, PlacesAllThreeRoutinesAsWrittenAndSealsThem) {
    ObservedMemory memory;
    {
        cCPUID runner(memory);
        EXPECT_EQ(runner.PlacedCount(), 3);
        ASSERT_EQ(memory.sealed.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(memory.sealed[i], bytes_of(routines::routine_texts()[i])) << i;
        }
        EXPECT_EQ(memory.live_blocks, 3);
    }
    EXPECT_EQ(memory.live_blocks, 0);
}

TEST(Runner, RefusedExecutionFallsBackAndFreesTheBlocks) {
    ObservedMemory memory;
    memory.allow_execute = false;
    cCPUID runner(memory);
    EXPECT_EQ(runner.PlacedCount(), 0);
    EXPECT_EQ(memory.live_blocks, 0);
    EXPECT_EQ(runner.ShiftRight(-8, 1), 0x7FFFFFFC);
}

// A refused block must not shift later routines onto the wrong operation.
TEST(Runner, ARefusedBlockKeepsThePlacingOrder) {
    for (std::size_t refused = 0; refused < 3; ++refused) {
        ObservedMemory memory;
        memory.grant = {true, true, true};
        memory.grant[refused] = false;
        cCPUID runner(memory);
        EXPECT_EQ(runner.PlacedCount(), 2);
        EXPECT_EQ(runner.ShiftRight(static_cast<std::int32_t>(0x80000000u), 31), 1) << refused;
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
    cCPUID second;
    first.reset();
    EXPECT_EQ(second.ShiftRight(static_cast<std::int32_t>(0xF0000000u), 28), 0xF);
    std::int32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    second.CpuID(0, eax, ebx, ecx, edx);
    EXPECT_NE(ebx, 0);
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
