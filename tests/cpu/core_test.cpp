// The information object's core: Refresh, register access and text, flags, HexPad and the clock.
#include <string>

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

TEST(Vendor, TheIdTextMatchesExactly) {
    const std::tuple<std::string_view, std::int32_t, std::string_view> cases[] = {
        {"GenuineIntel", 1, "Intel"},
        {"Geode by NSC", 10, "National Semiconductor"},
        {"genuineintel", 0, "Unknown"},
        {"UMC UMC UMC_", 0, "Unknown"}};
    for (const auto& [id, code, manufacturer] : cases) {
        cCpuInfo info;
        load(info, {{0, vendor_leaf(1, id)}});
        EXPECT_EQ(info.Vendor(), code) << id;
        EXPECT_EQ(info.ManufacturerStr(), manufacturer) << id;
        EXPECT_EQ(info.VendorIdStr(), id);
    }
}

TEST(Refresh, DerivesFromTheStoredTablesOnly) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(0x0D, "GenuineIntel")}, {kExtended, {0x80000008u, 0, 0, 0}}});
    EXPECT_EQ((std::array{info.LevelsStd(), info.LevelsExt()}), (std::array{13, 8}));
    info.LevelSet(0, 0, 0, 0, 0);
    EXPECT_EQ(info.LevelsStd(), 13);  // nothing changes before Refresh
    info.Refresh(false);
    EXPECT_EQ((std::array{info.LevelsStd(), info.Vendor()}), (std::array{0, 0}));
    EXPECT_TRUE(!info.Supported() && info.Extended() && info.ManufacturerStr().empty());
    info.LevelSet(0, 0x100 | 2, 0x756E6547, 0x6C65746E, 0x49656E69);  // level bits above 8 ignored
    info.Refresh(false);
    EXPECT_EQ((std::array{info.LevelsStd(), info.Vendor()}), (std::array{2, 1}));
    RefusingMemory refusing;
    const cCpuInfo live(refusing);  // the compiled-in path answers like the placed routines
    EXPECT_EQ(live.Runner().PlacedCount(), 0);
    info.Refresh(true);  // reads this processor again
    EXPECT_EQ(syskit::cpu_leaves(info)[0], syskit::cpu_leaves(live)[0]);
    EXPECT_EQ(info.Vendor(), live.Vendor());
}

// Nothing happens outside the tables; register bytes are code-page characters, low byte first.
TEST(Registers, TableAccessAndTheirText) {
    cCpuInfo info;
    load(info, {{kExtended, {0, 0x000000B5, 0x41, 0x20}}});
    for (const int n : {13, -1, 1000, 12}) {
        std::int32_t r[4] = {7, 7, 7, 7};
        info.LevelSet(n, 9, 9, 9, 9);
        info.LevelGet(n, r[0], r[1], r[2], r[3]);
        EXPECT_EQ(r[0] + r[1] + r[2] + r[3], n == 12 ? 36 : 28) << n;
    }
    EXPECT_EQ(info.VendorIdStr(), std::string(12, '\0'));
    EXPECT_EQ(info.VendorIdStr(false), std::string("\u00B5\0\0\0 \0\0\0A\0\0\0", 13));
}

TEST(Feature, TestsItsBitUnderItsLeafsGuard) {
    cCpuInfo info;
    load_signature(info, "GenuineIntel", {0, 0, 0x80000001u, 0x20000001u});
    std::vector<int> set;
    for (std::int32_t n = -1; n <= 96; ++n)
        if (info.Feature(n)) set.push_back(n);
    EXPECT_EQ(set, (std::vector<int>{0, 31, 32, 61, 64, 93}));
    info.LevelSet(kExtended, 0, 0, 0, 0);
    info.Refresh(false);
    EXPECT_TRUE(!info.Feature(93) && info.Feature(32));  // extended level 0
}

TEST(HexPad, PadsToTheWidthAndNeverCuts) {
    const std::tuple<std::int32_t, std::int32_t, std::string_view> cases[] = {
        {255, 8, "000000FF"}, {-1, 4, "FFFFFFFF"},   {0, -5, "0"},
        {0xABC, 1, "ABC"},    {1, 10, "0000000001"}, {INT32_MIN, 8, "80000000"}};
    for (const auto& [value, width, text] : cases)
        EXPECT_EQ(cCpuInfo::HexPad(value, width), text) << value << "," << width;
    EXPECT_EQ(cCpuInfo::HexPad(255), "000000FF");
}

#if defined(__i386__) || defined(__x86_64__)
TEST(Bench, MeasuresForwardFromOneStartOrFromZero) {
    cCpuInfo info;
    double seconds = -1, first_seconds = -1;
    Currency cycles = Currency::from_raw(-7), first_cycles;
    try {  // without BenchStart: the counter's whole reading
        info.BenchStop(seconds, cycles);
        EXPECT_GT(cycles.raw(), 0);
    } catch (const syskit::OverflowError&) {
        EXPECT_EQ(cycles.raw(), -7);  // a time-stamp reading above 922 337 203 685 477
    }
    EXPECT_GT(seconds, 0.0);
    info.BenchStart();
    info.BenchStop(first_seconds, first_cycles);
    EXPECT_TRUE(first_seconds >= 0 && first_cycles.raw() >= 0);
    EXPECT_EQ(first_cycles.raw() % Currency::kScale, 0);  // a whole number of ticks
    info.BenchStop(seconds, cycles);
    EXPECT_TRUE(seconds >= first_seconds && cycles >= first_cycles);
}
#endif

TEST(Bench, FailuresStoreOnlyWhatPrecedesThem) {
    cCpuInfo info;
    info.BenchStart();
    CpuInfoTestAccess::set_start_cycles(info, -922'337'203'685'478);  // beyond the currency range
    double seconds = -1;
    Currency cycles = Currency::from_raw(5);
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::OverflowError);
    EXPECT_TRUE(seconds >= 0 && cycles.raw() == 5);        // seconds stored before the failure
    CpuInfoTestAccess::set_start_cycles(info, INT64_MIN);  // the subtraction itself overflows
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::OverflowError);
    CpuInfoTestAccess::set_frequency(info, 0);  // a division by zero changes nothing
    info.BenchStart();
    seconds = 42;
    EXPECT_THROW(info.BenchStop(seconds, cycles), syskit::DivisionByZeroError);
    EXPECT_TRUE(seconds == 42 && cycles.raw() == 5);
}

TEST(CurrencyArithmetic, IsExactAndChecked) {
    constexpr std::int64_t kLargest = 922'337'203'685'477;  // ticks that still fit after × 10 000
    EXPECT_EQ((Currency::from_raw(kLargest) * Currency::kScale).raw(), kLargest * 10000);
    EXPECT_EQ((Currency::from_raw(-kLargest) * Currency::kScale).raw(), -kLargest * 10000);
    for (const std::int64_t beyond : {kLargest + 1, -kLargest - 1})
        EXPECT_THROW((void)(Currency::from_raw(beyond) * Currency::kScale), syskit::OverflowError);
    EXPECT_EQ(Currency::from_raw(12345).to_double(), 1.2345);
}

}  // namespace
}  // namespace cpu_test
