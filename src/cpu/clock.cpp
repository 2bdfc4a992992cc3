// Clock measurement: one interval in performance-counter seconds and time-stamp ticks.
//
// Readings are stored raw in currency storage. The seconds are the counter difference over the
// counter frequency, both converted to double as currency values (so the scale of 10 000
// cancels); the ticks are the time-stamp difference times the integer 10 000 in currency
// arithmetic, which overflows for a difference above 922 337 203 685 477.
#include "platform/counter.hpp"
#include "syskit/cpu.hpp"

namespace syskit {

void cCpuInfo::BenchStart() {
    bench_start_count_ = Currency::from_raw(platform::performance_counter());
    runner_.CpuClk(bench_start_cycles_);
}

void cCpuInfo::BenchStop(double& fSeconds, Currency& cCpuCycles) {
    bench_stop_count_ = Currency::from_raw(platform::performance_counter());
    runner_.CpuClk(bench_stop_cycles_);

    const double elapsed = (bench_stop_count_ - bench_start_count_).to_double();
    const double frequency = counter_frequency_.to_double();
    if (frequency == 0.0) throw DivisionByZeroError();
    fSeconds = elapsed / frequency;

    cCpuCycles = (bench_stop_cycles_ - bench_start_cycles_) * Currency::kScale;
}

}  // namespace syskit
