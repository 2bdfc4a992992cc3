// Brand names, cache descriptors, the extended cache fields, the serial number and the other
// fields of leaves 1, 0x80000007 and 0x80000008, each under its level guard.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;

struct BrandCase {
    std::string_view vendor;
    bool standard;
    std::uint32_t ebx;  // EBX of leaf 1 (standard) or 0x80000001 (extended)
    std::string_view name;
    friend void PrintTo(const BrandCase& c, std::ostream* os) {
        *os << c.vendor << (c.standard ? " std " : " ext ") << std::hex << c.ebx;
    }
};

class Brands : public testing::TestWithParam<BrandCase> {};

TEST_P(Brands, NameTheBrandValue) {
    const BrandCase& c = GetParam();
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, c.vendor)},
                {kLeaf1, {0, c.standard ? c.ebx : 0, 0, 0}},
                {kExtended, {0x80000001u, 0, 0, 0}},
                {kExtended + 1, {0, c.standard ? 0 : c.ebx, 0, 0}}});
    EXPECT_EQ(info.CpuBrandStr(c.standard), c.name);
}

constexpr std::string_view kIntel = "GenuineIntel", kAmd = "AuthenticAMD";

INSTANTIATE_TEST_SUITE_P(
    Cpu, Brands,
    testing::Values(
        BrandCase{kIntel, true, 1, "0.18 \u00B5m Intel Celeron"},
        BrandCase{kIntel, true, 2, "0.18 \u00B5m Intel Pentium III"},
        BrandCase{kIntel, true, 3,
                  "0.18 \u00B5m Intel Pentium III Xeon OR 0.13 \u00B5m Intel Celeron"},
        BrandCase{kIntel, true, 4, "0.13 \u00B5m Intel Pentium III"},
        BrandCase{kIntel, true, 5, ""},
        BrandCase{kIntel, true, 6, "0.13 \u00B5m Intel Pentium III mobile"},
        BrandCase{kIntel, true, 7, "0.13 \u00B5m Intel Celeron mobile"},
        BrandCase{kIntel, true, 8,
                  "0.18 \u00B5m Intel Pentium 4 OR 0.13 \u00B5m Intel Celeron 4 mobile (0F24h)"},
        BrandCase{kIntel, true, 9, "0.13 \u00B5m Intel Pentium 4"},
        BrandCase{kIntel, true, 10, "0.18 \u00B5m Intel Celeron 4"},
        BrandCase{kIntel, true, 11,
                  "0.18 \u00B5m Intel Pentium 4 Xeon MP OR 0.13 \u00B5m Intel Pentium 4 Xeon"},
        BrandCase{kIntel, true, 12, "0.13 \u00B5m Intel Pentium 4 Xeon MP"},
        BrandCase{kIntel, true, 13, ""},
        BrandCase{kIntel, true, 14, "0.13 \u00B5m Intel Pentium 4 mobile"},
        BrandCase{kIntel, true, 15, "0.13 \u00B5m Intel Celeron 4 mobile (0F27h)"},
        BrandCase{kIntel, true, 16, ""},
        BrandCase{kIntel, true, 22, "0.13 \u00B5m Intel Pentium M"},
        BrandCase{kIntel, true, 0xFF16,
                  "0.13 \u00B5m Intel Pentium M"},  // only the low byte counts
        BrandCase{"CyrixInstead", true, 1, "0.18 \u00B5m Intel Celeron"},
        BrandCase{kAmd, true, 3 << 5 | 6, "Opteron UP 144"},
        BrandCase{kAmd, true, 4 << 5 | 0x1F, "Opteron DP 294"},
        BrandCase{kAmd, true, 5 << 5, "Opteron MP 832"}, BrandCase{kAmd, true, 6 << 5, ""},
        BrandCase{kIntel, true, 3 << 5 | 6, ""}, BrandCase{kAmd, false, 0x306, "Opteron UP 144"},
        BrandCase{kAmd, false, 0x4FF, "Opteron DP 2542"},
        BrandCase{kAmd, false, 0xF502, "Opteron MP 836"},  // only the low 12 bits count
        BrandCase{kAmd, false, 0x206, ""}, BrandCase{kAmd, false, 0, ""},
        BrandCase{kIntel, false, 0x306, ""}));

TEST(CacheDescriptors, DropCountByteZeroBytesAndFlaggedRegisters) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(2, kIntel)}, {2, {0x665B5001, 0, 0, 0x007A7000}}});
    EXPECT_EQ(info.CacheDescriptors(), (std::vector<std::uint8_t>{0x66, 0x5B, 0x50, 0x7A, 0x70}));
    info.LevelSet(2, 0x80000001u, 0x01020304, static_cast<std::int32_t>(0x80FFFFFFu), 0x00000500);
    EXPECT_EQ(info.CacheDescriptors(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    info.LevelSet(2, 0x12345600, 0x01020304, 0, 0);  // a count of 0 queries nothing
    EXPECT_TRUE(info.CacheDescriptors().empty());
    load(info, {{0, vendor_leaf(1, kIntel)}, {2, {0x665B5001, 0, 0, 0}}});
    EXPECT_EQ(info.CacheDescriptors(), std::vector<std::uint8_t>{0});
}

TEST(CacheDescriptors, QueryLeafTwoAgainWhenTheCountAsksForIt) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(2, kIntel)}, {2, {0x11111102, 0x22, 0, 0}}});
    std::int32_t live[4] = {};
    info.Runner().CpuID(2, live[0], live[1], live[2], live[3]);
    std::vector<std::uint8_t> expected{0x11, 0x11, 0x11, 0x22};
    for (int r = 0; r < 4; ++r) {
        const auto value =
            static_cast<std::uint32_t>(live[r]) & (r == 0 ? 0xFFFFFF00u : 0xFFFFFFFFu);
        if (value >> 31) continue;
        for (int shift = 24; shift >= 0; shift -= 8) {
            if ((value >> shift) & 0xFF)
                expected.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
    EXPECT_EQ(info.CacheDescriptors(), expected);
    std::int32_t stored[4] = {};
    info.LevelGet(2, stored[0], stored[1], stored[2], stored[3]);
    EXPECT_EQ(std::vector<std::int32_t>(stored, stored + 4),
              std::vector<std::int32_t>(live, live + 4));
}

TEST(xCache, ExtractsEveryFieldUnderTheGuard) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kAmd)},
                {kExtended, {0x80000006u, 0, 0, 0}},
                {kExtended + 5, {0xFF20FF20u, 0xFF40FF40u, 0x40020140u, 0x20040140u}},
                {kExtended + 6, {0x42004200u, 0x6200F200u, 0x20008140u, 0}}});
    const std::int32_t expected[28] = {
        0xFF, 0x20, 0xFF, 0x20,  0xFF, 0x40,  0xFF, 0x40,  0x40, 0x02,  0x01,   0x40, 0x20, 0x04,
        0x01, 0x40, 4,    0x200, 4,    0x200, 6,    0x200, 0xF,  0x200, 0x2000, 8,    1,    0x40};
    for (std::int32_t field = 0; field < 28; ++field)
        EXPECT_EQ(info.xCache(field), expected[field]) << field;
    EXPECT_EQ(info.xCache(28), 0);
    EXPECT_EQ(info.xCache(-1), 0);
    EXPECT_EQ(info.xCacheAssocStr(255), "Full");
    info.LevelSet(kExtended, 0x80000005u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_EQ(info.xCache(8), 0);
    EXPECT_EQ(info.xCacheAssocStr(255), "");
}

TEST(xCacheAssocStr, NamesTheSevenCodes) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kAmd)}, {kExtended, {0x80000006u, 0, 0, 0}}});
    int named = 0;
    for (std::int32_t code = -1; code <= 256; ++code) named += !info.xCacheAssocStr(code).empty();
    EXPECT_EQ(named, 7);
    const std::pair<std::int32_t, std::string_view> names[] = {
        {0, "Off"},   {1, "Direct mapped"}, {2, "2-way"}, {4, "4-way"},
        {6, "8-way"}, {8, "16-way"},        {255, "Full"}};
    for (const auto& [code, name] : names) EXPECT_EQ(info.xCacheAssocStr(code), name);
    EXPECT_EQ(info.xCacheAssocStr(15), "");
}

TEST(SerialNumber, NeedsLeafThreeAndTheFlag) {
    cCpuInfo info;
    const Record leaf1{0x00000686, 0, 0, 1u << 18};
    load(info,
         {{0, vendor_leaf(3, kIntel)}, {kLeaf1, leaf1}, {3, {0, 0, 0x9ABCDEF0u, 0x12345678}}});
    EXPECT_EQ(info.SnStatus(), 2);
    EXPECT_EQ(info.SnStr(), "0000-0686-1234-5678-9ABC-DEF0");
    info.LevelSet(kLeaf1, 0x686, 0, 0, 0);
    EXPECT_EQ(info.SnStatus(), 1);
    EXPECT_EQ(info.SnStr(), "");
    load(info, {{0, vendor_leaf(2, kIntel)}, {kLeaf1, leaf1}});
    EXPECT_EQ(info.SnStatus(), 0);
    EXPECT_EQ(info.SnStr(), "");
}

TEST(LeafOneFields, ApicIdAndLogicalCount) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kIntel)}, {kLeaf1, {0, 0xAB10FFFFu, 0, 0}}});
    EXPECT_EQ(info.ApicID(), 0xAB);
    EXPECT_EQ(info.CpuLogicalCount(), 0x10);
    EXPECT_EQ(info.CpuBrand(), 0xFF);
    load(info, {{0, vendor_leaf(0, kIntel)}, {kLeaf1, {0, 0xAB10FFFFu, 0, 0}}});
    EXPECT_EQ(info.ApicID(), 0);
    EXPECT_EQ(info.CpuLogicalCount(), std::nullopt);  // no value, not 0
    EXPECT_EQ(info.CpuBrand(), 0);
}

TEST(ExtendedLeaves, AddressSizesAndPowerManagement) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kAmd)},
                {kExtended, {0x80000008u, 0, 0, 0}},
                {kExtended + 7, {0, 0, 0, 0x80000101u}},
                {kExtended + 8, {0x00003028, 0, 0, 0}}});
    EXPECT_EQ(info.xAddrBitsPhysical(), 40);
    EXPECT_EQ(info.xAddrBitsVirtual(), 48);
    std::vector<int> set;
    for (std::int32_t bit = -1; bit <= 32; ++bit) {
        if (info.xPowerManagement(bit)) set.push_back(bit);
    }
    EXPECT_EQ(set, (std::vector<int>{0, 8, 31}));
    info.LevelSet(kExtended, 0x80000007u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_EQ(info.xAddrBitsPhysical(), 0);
    EXPECT_EQ(info.xAddrBitsVirtual(), 0);
    EXPECT_TRUE(info.xPowerManagement(31));
    info.LevelSet(kExtended, 0x80000006u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_FALSE(info.xPowerManagement(31));
}

}  // namespace
}  // namespace cpu_test
