// The edges of the brand tables, cache descriptors (this processor asked again when leaf 2's
// count asks for it), the extended cache fields and the other fields of leaves 1, 0x80000007 and
// 0x80000008, each under its level guard.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kIntel = "GenuineIntel", kAmd = "AuthenticAMD";

TEST(BrandTables, EdgesOfTheRows) {
    const struct {
        std::string_view vendor;
        bool standard;
        std::uint32_t ebx;  // EBX of leaf 1 (standard) or 0x80000001 (extended)
        std::string_view name;
    } cases[] = {
        {kIntel, true, 1, "0.18 \u00B5m Intel Celeron"},
        {"CyrixInstead", true, 1, "0.18 \u00B5m Intel Celeron"},  // any vendor but AMD
        {kIntel, true, 0, ""},
        {kIntel, true, 5, ""},
        {kIntel, true, 0xFF16, "0.13 \u00B5m Intel Pentium M"},  // only the low byte counts
        {kIntel, true, 23, ""},
        {kAmd, true, 3 << 5, "Opteron UP 132"},
        {kAmd, true, 5 << 5 | 0x1F, "Opteron MP 894"},
        {kAmd, true, 6 << 5, ""},
        {kAmd, false, 0x5FF, "Opteron MP 8542"},
        {kAmd, false, 0xF406, "Opteron DP 244"},  // only the low 12 bits count
        {kAmd, false, 0x2FF, ""},
        {kAmd, false, 0x600, ""},
        {kIntel, false, 0x306, ""},
    };
    for (const auto& c : cases) {
        cCpuInfo info;
        load(info, {{0, vendor_leaf(1, c.vendor)},
                    {kLeaf1, {0, c.standard ? c.ebx : 0, 0, 0}},
                    {kExtended, {0x80000001u, 0, 0, 0}},
                    {kExtended + 1, {0, c.standard ? 0 : c.ebx, 0, 0}}});
        EXPECT_EQ(info.CpuBrandStr(c.standard), c.name) << c.vendor << std::hex << c.ebx;
    }
}

TEST(CacheDescriptors, DropCountByteZeroBytesAndFlaggedRegisters) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(2, kIntel)}, {2, {0x80000001u, 0x01020304, 0x80FFFFFFu, 0x500}}});
    EXPECT_EQ(info.CacheDescriptors(), (Bytes{1, 2, 3, 4, 5}));
    info.LevelSet(2, 0x12345600, 0x01020304, 0, 0);  // a count of 0 queries nothing
    EXPECT_TRUE(info.CacheDescriptors().empty());
    load(info, {{0, vendor_leaf(1, kIntel)}, {2, {0x665B5001, 0, 0, 0}}});
    EXPECT_EQ(info.CacheDescriptors(), Bytes{0});
}

TEST(CacheDescriptors, AskThisProcessorAgainWhenTheCountAsksForIt) {
    cCpuInfo info;  // registers set on this processor's object, not loaded from a dump
    info.LevelSet(0, 2, 0, 0, 0);
    info.LevelSet(2, 0x11111102, 0x22, 0, 0);
    info.Refresh(false);
    std::int32_t live[4] = {};
    info.Runner().CpuID(2, live[0], live[1], live[2], live[3]);
    const Bytes descriptors = info.CacheDescriptors();
    ASSERT_GE(descriptors.size(), 4u);
    EXPECT_EQ(Bytes(descriptors.begin(), descriptors.begin() + 4), (Bytes{0x11, 0x11, 0x11, 0x22}));
    std::int32_t stored[4] = {};
    info.LevelGet(2, stored[0], stored[1], stored[2], stored[3]);
    EXPECT_TRUE(std::equal(stored, stored + 4, live));  // this processor's answer replaced it
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
    for (std::int32_t field = -1; field <= 28; ++field) {
        EXPECT_EQ(info.xCache(field), field < 0 || field > 27 ? 0 : expected[field]) << field;
    }
    int named = 0;  // 0, 1, 2, 4, 6, 8 and 255 ("Full"), not 15
    for (std::int32_t code = -1; code <= 256; ++code) named += !info.xCacheAssocStr(code).empty();
    EXPECT_EQ(named, 7);
    EXPECT_EQ(info.xCacheAssocStr(255), "Full");
    info.LevelSet(kExtended, 0x80000005u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_EQ(info.xCache(8), 0);
    EXPECT_EQ(info.xCacheAssocStr(255), "");
}

TEST(LeafOneFields, ApicIdLogicalCountAndBrandIndex) {
    cCpuInfo info;
    for (const std::uint32_t level : {1u, 0u}) {
        load(info, {{0, vendor_leaf(level, kIntel)}, {kLeaf1, {0, 0xAB10FFFFu, 0, 0}}});
        EXPECT_EQ(info.ApicID(), level ? 0xAB : 0);
        EXPECT_EQ(info.CpuLogicalCount(), level ? std::optional(0x10) : std::nullopt);
        EXPECT_EQ(info.CpuBrand(), level ? 0xFF : 0);
    }
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
    EXPECT_EQ(info.xAddrBitsVirtual(), 0);
    EXPECT_TRUE(info.xPowerManagement(31));
    info.LevelSet(kExtended, 0x80000006u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_FALSE(info.xPowerManagement(31));
}

}  // namespace
}  // namespace cpu_test
