// Clock measurement: sane readings without timing assertions (coarse counters, as under Wine or
// qemu, may give equal readings), and the currency arithmetic's failures with what each leaves
// behind.
#include <gtest/gtest.h>

#include "support.hpp"

namespace syskit {

// Sets the readings a test cannot produce on a real machine.
struct CpuInfoTestAccess {
    static void set_frequency(cCpuInfo& info, std::int64_t raw) {
        info.counter_frequency_ = Currency::from_raw(raw);
    }
    static void set_start_cycles(cCpuInfo& info, std::int64_t raw) {
        info.bench_start_cycles_ = Currency::from_raw(raw);
    }
};

}  // namespace syskit

namespace cpu_test {
namespace {

using syskit::cCpuInfo;
using syskit::CpuInfoTestAccess;
using syskit::Currency;

#if defined(__i386__) || defined(__x86_64__)
TEST(Bench, MeasuresForwardFromOneStart) {
    cCpuInfo info;
    info.BenchStart();
    double first_seconds = -1, seconds = -1;
    Currency first_cycles, cycles;
    info.BenchStop(first_seconds, first_cycles);
    EXPECT_GE(first_seconds, 0.0);
    EXPECT_GE(first_cycles.raw(), 0);
    EXPECT_EQ(first_cycles.raw() % Currency::kScale, 0);  // a whole number of ticks
    info.BenchStop(seconds, cycles);
    EXPECT_GE(seconds, first_seconds);
    EXPECT_GE(cycles, first_cycles);
}

TEST(Bench, WithoutStartMeasuresFromZero) {
    cCpuInfo info;
    double seconds = -1;
    Currency cycles = Currency::from_raw(-7);
    try {
        info.BenchStop(seconds, cycles);
        EXPECT_GT(cycles.raw(), 0);
    } catch (const syskit::OverflowError&) {
        EXPECT_EQ(cycles.raw(), -7);  // a time-stamp reading above 922 337 203 685 477
    }
    EXPECT_GT(seconds, 0.0);  // the counter's whole reading
}
#endif

TEST(Bench, TickDifferenceBeyondTheCurrencyRangeOverflows) {
    cCpuInfo info;
    info.BenchStart();
    CpuInfoTestAccess::set_start_cycles(info, -922'337'203'685'478);
    double seconds = -1;
    Currency cycles = Currency::from_raw(5);
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::OverflowError);
    EXPECT_GE(seconds, 0.0);  // stored before the multiplication failed
    EXPECT_EQ(cycles.raw(), 5);
    CpuInfoTestAccess::set_start_cycles(info, INT64_MIN);  // the subtraction itself overflows
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::OverflowError);
}

TEST(Bench, ZeroFrequencyIsADivisionByZeroThatChangesNothing) {
    cCpuInfo info;
    CpuInfoTestAccess::set_frequency(info, 0);
    info.BenchStart();
    double seconds = 42;
    Currency cycles = Currency::from_raw(5);
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::DivisionByZeroError);
    EXPECT_EQ(seconds, 42);
    EXPECT_EQ(cycles.raw(), 5);
}

TEST(CurrencyArithmetic, IsExactAndChecked) {
    constexpr std::int64_t kLargest = 922'337'203'685'477;  // ticks that still fit after × 10 000
    EXPECT_EQ((Currency::from_raw(kLargest) * Currency::kScale).raw(), kLargest * 10000);
    EXPECT_EQ((Currency::from_raw(-kLargest) * Currency::kScale).raw(), -kLargest * 10000);
    for (const std::int64_t beyond : {kLargest + 1, -kLargest - 1}) {
        EXPECT_THROW((void)(Currency::from_raw(beyond) * Currency::kScale), syskit::OverflowError);
    }
    EXPECT_THROW((void)(Currency::from_raw(INT64_MAX) - Currency::from_raw(-1)),
                 syskit::OverflowError);
    EXPECT_EQ(Currency::from_raw(12345).to_double(), 1.2345);
}

}  // namespace
}  // namespace cpu_test
