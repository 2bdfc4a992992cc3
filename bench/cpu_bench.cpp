// cpu_bench — processor identification with placed machine code against the compiled-in path.
//
// Each figure is measured twice in the same run: once with the routines placed in executable
// memory (the runner's normal path) and once with placing refused, so the compiled-in equivalents
// answer (RDTSC, CPUID and the shift compiled into the library). The compiled-in path is the peer;
// ratio = placed / compiled-in time, so below 1 is faster. Cases:
//   construct  a cCpuInfo: placing three routines, 13 CPUID queries, the counter frequency;
//   decode     every decoding operation once over stored registers (names, flags, fields);
//   cpuid      one CPUID leaf-0 query (in a virtual machine, mostly the trap to the hypervisor);
//   clock      one CpuClk reading.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/code_memory.hpp"
#include "syskit/cpu.hpp"

namespace {

class RefusingMemory final : public syskit::platform::CodeMemory {
  public:
    void* allocate(std::size_t) noexcept override { return nullptr; }
    bool make_executable(void*, std::size_t) noexcept override { return false; }
    void release(void*, std::size_t) noexcept override {}
};

RefusingMemory refusing;

syskit::platform::CodeMemory& memory_for(bool placed) {
    return placed ? syskit::platform::code_memory() : refusing;
}

void construct(benchmark::State& state, bool placed) {
    for (auto _ : state) {
        syskit::cCpuInfo info(memory_for(placed));
        benchmark::DoNotOptimize(info.LevelsStd());
    }
}

// A Pentium 4 with a serial number, names, caches and extended leaves, so every operation does
// its whole work.
void load_sample(syskit::cCpuInfo& info) {
    syskit::CpuLeaves leaves{};
    leaves[0] = {3, 0x756E6547, 0x6C65746E, 0x49656E69};
    leaves[1] = {0x00000F29, 0x0002080A, 0x00004400, 0xBFEBFBFF};
    leaves[2] = {0x665B5001, 0, 0, 0x007A7000};
    leaves[3] = {0, 0, 0x9ABCDEF0, 0x12345678};
    leaves[4] = {0x80000008, 0, 0, 0};
    leaves[5] = {0, 0, 0, 0x20100000};
    leaves[6] = {0x20202020, 0x20202020, 0x6E492020, 0x286C6574};
    leaves[7] = {0x50202952, 0x69746E65, 0x52286D75, 0x20342029};
    leaves[8] = {0x20555043, 0x30342E32, 0x007A4847, 0};
    leaves[9] = {0xFF08FF08, 0xFF20FF20, 0x40020140, 0x40020140};
    leaves[10] = {0, 0x42004200, 0x02008140, 0};
    leaves[11] = {0, 0, 0, 0x000001F9};
    leaves[12] = {0x00003028, 0, 0, 0};
    syskit::load_cpu_dump(info, {leaves, {}});
}

void decode(benchmark::State& state, bool placed) {
    syskit::cCpuInfo info(memory_for(placed));
    load_sample(info);
    for (auto _ : state) {
        std::size_t n = 0;
        for (const bool standard : {true, false}) {
            n += info.VendorIdStr(standard).size() + info.CpuFamilyStr(standard).size() +
                 info.CpuModelStr(standard).size() + info.CpuBrandStr(standard).size();
        }
        n += info.NameStr().size() + info.SnStr().size() + info.CpuTypeStr().size() +
             info.ManufacturerStr().size();
        for (std::int32_t i = 0; i < 96; ++i) n += info.Feature(i);
        for (std::int32_t i = 0; i < 28; ++i) n += static_cast<std::size_t>(info.xCache(i));
        for (std::int32_t i = 0; i < 32; ++i) n += info.xPowerManagement(i);
        n += static_cast<std::size_t>(info.ApicID() + info.xAddrBitsPhysical() +
                                      info.xAddrBitsVirtual());
        benchmark::DoNotOptimize(n);
    }
}

void cpuid(benchmark::State& state, bool placed) {
    const syskit::cCPUID runner(memory_for(placed));
    for (auto _ : state) {
        std::int32_t a = 0, b = 0, c = 0, d = 0;
        runner.CpuID(0, a, b, c, d);
        benchmark::DoNotOptimize(a + b + c + d);
    }
}

void time_stamp(benchmark::State& state, bool placed) {
    const syskit::cCPUID runner(memory_for(placed));
    for (auto _ : state) {
        syskit::Currency cycles;
        runner.CpuClk(cycles);
        benchmark::DoNotOptimize(cycles);
    }
}

// Collects each case's mean time per iteration and prints placed / compiled-in after the run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
            auto& slot = times_[run.run_name.function_name];
            slot.first += run.GetAdjustedRealTime();
            slot.second += 1;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "\nratio = placed / compiled-in time (below 1: the placed routines are faster)\n");
        for (const char* name : {"construct", "decode", "cpuid", "clock"}) {
            const double placed = mean(std::string(name) + "/placed");
            const double compiled = mean(std::string(name) + "/compiled-in");
            if (placed > 0 && compiled > 0) {
                std::printf("  %-10s %12.1f ns %12.1f ns   %.2f\n", name, placed, compiled,
                            placed / compiled);
            }
        }
    }

  private:
    double mean(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() || it->second.second == 0 ? 0
                                                            : it->second.first / it->second.second;
    }
    std::map<std::string, std::pair<double, int>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const bool placed : {true, false}) {
        const std::string path = placed ? "/placed" : "/compiled-in";
        benchmark::RegisterBenchmark(("construct" + path).c_str(), construct, placed);
        benchmark::RegisterBenchmark(("decode" + path).c_str(), decode, placed);
        benchmark::RegisterBenchmark(("cpuid" + path).c_str(), cpuid, placed);
        benchmark::RegisterBenchmark(("clock" + path).c_str(), time_stamp, placed);
    }
    // Repetitions interleaved at random: a machine whose speed drifts slows both paths alike.
    char repetitions[] = "--benchmark_repetitions=3";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, {repetitions, interleave});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
