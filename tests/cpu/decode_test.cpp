// Decoding: named processors from their published registers, the name tables' edges, the fields.
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

void decode(cCpuInfo& info, std::string_view text) {
    syskit::load_cpu_dump(info, syskit::parse_cpu_dump(text, "test.dump"));
}

TEST(NamedProcessor, PentiumIIICoppermine) {
    cCpuInfo info;
    decode(info,
           "CPUID 00000000: 00000003-756E6547-6C65746E-49656E69\n"
           "CPUID 00000001: 00000683-00000002-00000000-0387F9FF\n"
           "CPUID 00000003: 00000000-00000000-A1B2C3D4-00012345\n");
    EXPECT_EQ(info.CpuFamilyStr(), "P6, P2, P3, PM");
    EXPECT_EQ(info.CpuModelStr(), "P3 (0.18 \u00B5m) with 256 KB on-die L2 cache");
    EXPECT_EQ(info.CpuBrandStr(), "0.18 \u00B5m Intel Pentium III");
    EXPECT_EQ(info.SnStr(), "0000-0683-0001-2345-A1B2-C3D4");
    info.LevelSet(kLeaf1, 0x683, 2, 0, 0x0383F9FF);  // the serial-number flag cleared
    info.Refresh(false);
    EXPECT_EQ(std::to_string(info.SnStatus()) + info.SnStr(), "1");
}

TEST(NamedProcessor, Opteron244SledgeHammer) {
    cCpuInfo info;
    decode(info,
           "CPUID 00000000: 00000001-68747541-444D4163-69746E65\n"
           "CPUID 00000001: 00000F51-00000800-00000000-078BFBFF\n"
           "CPUID 80000000: 80000018-68747541-444D4163-69746E65\n"
           "CPUID 80000001: 00000F51-00000406-00000000-E1D3FBFF\n"
           "CPUID 80000002: 20444D41-6574704F-286E6F72-20296D74\n"
           "CPUID 80000003: 636F7250-6F737365-34322072-00000034\n");
    for (const bool standard : {true, false}) {
        EXPECT_EQ(info.CpuFamilyStr(standard), "K8");
        EXPECT_EQ(info.CpuModelStr(standard), "Opteron DP (0.13 \u00B5m)");
    }
    EXPECT_EQ(info.CpuBrandStr(false), "Opteron DP 244");
    EXPECT_EQ(info.NameStr(), "AMD Opteron(tm) Processor 244" + std::string(19, '\0'));
    info.LevelSet(kExtended, 0x80000003u, 0, 0, 0);  // the name needs extended level 4
    info.Refresh(false);
    EXPECT_EQ(info.NameStr(), "");
}

TEST(NamedProcessor, Ryzen5800XVermeer) {
    cCpuInfo info;
    decode(info,
           "CPUID 00000000: 00000010-68747541-444D4163-69746E65\n"
           "CPUID 00000001: 00A20F12-00100800-7ED8320B-178BFBFF\n"
           "CPUID 80000000: 80000023-68747541-444D4163-69746E65\n"
           "CPUID 80000001: 00A20F12-20000000-75C237FF-2FD3FBFF\n"
           "CPUID 80000002: 20444D41-657A7952-2037206E-30303835\n"
           "CPUID 80000003: 2D382058-65726F43-6F725020-73736563\n"
           "CPUID 80000004: 2020726F-20202020-20202020-20202020\n");
    EXPECT_EQ((std::array{info.CpuFamilyEx(), info.CpuModelEx(false)}), (std::array{10, 2}));
    EXPECT_EQ(info.NameStr() + "|" + info.CpuFamilyStr() + info.CpuModelStr(false) +
                  info.CpuBrandStr(false),  // family 0x19 is past the table; brand 0
              "AMD Ryzen 7 5800X 8-Core Processor|");
}

constexpr std::uint32_t sig(std::uint32_t family, std::uint32_t model, std::uint32_t stepping = 0,
                            std::uint32_t family_ex = 0, std::uint32_t model_ex = 0) {
    return family_ex << 20 | model_ex << 16 | family << 8 | model << 4 | stepping;
}

// First and last rows, rows that depend on extended family or stepping, neighbours outside.
TEST(NameTables, EdgesOfTheRows) {
    constexpr std::string_view kCyrix = "CyrixInstead";
    const struct {
        std::string_view vendor;
        bool standard;
        std::uint32_t eax, ebx;  // of leaf 1 (standard) or 0x80000001 (extended)
        std::string_view family, model, brand;
    } cases[] = {
        {kIntel, true, sig(4, 0), 0, "80486", "i80486DX-25/33", ""},
        {kIntel, true, sig(3, 0), 23, "", "", ""},
        {kIntel, true, sig(6, 15, 0, 0, 0xA), 0xFF16, "P6, P2, P3, PM", " - Extended model #A",
         "0.13 \u00B5m Intel Pentium M"},  // only the low byte of EBX counts
        {kAmd, true, sig(4, 15), 3 << 5, "5x86", "5x86WB - Extended model #0", "Opteron UP 132"},
        {kAmd, true, sig(15, 5, 0, 1), 5 << 5 | 0x1F, "Itanium 2", "", "Opteron MP 894"},
        {kAmd, true, sig(15, 2, 0, 2), 6 << 5, "", "", ""},
        {kCyrix, true, sig(5, 7, 7), 1, "M1", "WinChip C5B core", "0.18 \u00B5m Intel Celeron"},
        {kCyrix, true, sig(5, 7, 8), 0, "M1", "WinChip C5C core", ""},
        {"UMC UMC UMC ", true, sig(4, 1), 0, "", "U5D", ""},
        {"GenuineTMx86", true, sig(5, 4), 0, "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00", ""},
        {kAmd, false, sig(5, 1), 0x5FF, "K5", "5k86 (PR120 or PR133)", "Opteron MP 8542"},
        {kAmd, false, sig(15, 5, 0, 1), 0xF406, "", "", "Opteron DP 244"},  // low 12 bits count
        {kAmd, false, 0, 0x2FF, "", "", ""},
        {kAmd, false, 0, 0x600, "", "", ""},
        {kCyrix, false, sig(6, 7, 8), 0x306, "", "WinChip C5C core", ""},
        {kIntel, false, sig(6, 8), 0, "", "", ""},
    };
    for (const auto& c : cases) {
        cCpuInfo info;
        load_signature(info, c.vendor, {c.eax, c.ebx, 0, 0});
        EXPECT_EQ(info.CpuFamilyStr(c.standard) + "|" + info.CpuModelStr(c.standard) + "|" +
                      info.CpuBrandStr(c.standard),
                  std::string(c.family) + "|" + std::string(c.model) + "|" + std::string(c.brand))
            << c.vendor << std::hex << c.eax;
    }
}

TEST(LeafOneFields, AreTheirBitsAndNeedTheirLeaf) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kIntel)}, {kLeaf1, {0x0FF5A7C3, 0xAB10FFFFu, 0, 0}}});
    EXPECT_EQ((std::array{info.CpuStepping(), info.CpuModel(), info.CpuFamily(), info.CpuType(),
                          info.CpuModelEx(), info.CpuFamilyEx(), info.CpuFamilyEx(false),
                          info.ApicID(), info.CpuBrand(), *info.CpuLogicalCount()}),
              (std::array{3, 0xC, 7, 2, 5, 0xFF, 0, 0xAB, 0xFF, 0x10}));  // no extended leaves
    EXPECT_EQ(info.CpuTypeStr() + "|" + info.CpuFamilyStr(false), "Secondary processor|");
    load(info, {{0, vendor_leaf(1, kIntel)}, {kLeaf1, {0x3000, 0, 0, 0}}});
    EXPECT_EQ(info.CpuTypeStr(), "");  // type 3
    // Without standard leaf 1 every name and field is empty, whichever signature is asked for.
    load_signature(info, kAmd, {sig(7, 1), 0xAB10FFFFu, 0, 0});
    info.LevelSet(0, 0, 0, 0, 0);
    info.Refresh(false);  // the extended level stays
    EXPECT_EQ(info.CpuFamily(false), 7);
    EXPECT_EQ(info.CpuFamilyStr(false) + info.CpuModelStr(false) + info.CpuTypeStr(), "");
    EXPECT_EQ((std::array{info.ApicID(), info.CpuBrand()}), (std::array{0, 0}));
    EXPECT_EQ(info.CpuLogicalCount(), std::nullopt);
}

// A count above 1 asks this processor again when the registers were not loaded from a dump.
TEST(CacheDescriptors, DropCountZeroesAndFlaggedRegistersAndAskAgain) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(2, kIntel)}, {2, {0x80000001u, 0x01020304, 0x80FFFFFFu, 0x500}}});
    EXPECT_EQ(info.CacheDescriptors(), (Bytes{1, 2, 3, 4, 5}));
    info.LevelSet(2, 0x12345600, 0x01020304, 0, 0);  // a count of 0 queries nothing
    EXPECT_TRUE(info.CacheDescriptors().empty());
    load(info, {{0, vendor_leaf(1, kIntel)}, {2, {0x665B5001, 0, 0, 0}}});
    EXPECT_EQ(info.CacheDescriptors(), Bytes{0});  // leaf 2 beyond the level
    cCpuInfo live_info;
    live_info.LevelSet(0, 2, 0, 0, 0);
    live_info.LevelSet(2, 0x11111102, 0x22, 0, 0);
    live_info.Refresh(false);
    std::int32_t live[4] = {}, stored[4] = {};
    live_info.Runner().CpuID(2, live[0], live[1], live[2], live[3]);
    const Bytes descriptors = live_info.CacheDescriptors();
    ASSERT_GE(descriptors.size(), 4u);
    EXPECT_EQ(Bytes(descriptors.begin(), descriptors.begin() + 4), (Bytes{0x11, 0x11, 0x11, 0x22}));
    live_info.LevelGet(2, stored[0], stored[1], stored[2], stored[3]);
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
    for (std::int32_t field = -1; field <= 28; ++field)
        EXPECT_EQ(info.xCache(field), field < 0 || field > 27 ? 0 : expected[field]) << field;
    EXPECT_EQ(info.xCacheAssocStr(255), "Full");
    info.LevelSet(kExtended, 0x80000005u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_TRUE(info.xCache(8) == 0 && info.xCacheAssocStr(255).empty());
}

TEST(ExtendedLeaves, AddressSizesAndPowerManagement) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, kAmd)},
                {kExtended, {0x80000008u, 0, 0, 0}},
                {kExtended + 7, {0, 0, 0, 0x80000101u}},
                {kExtended + 8, {0x00003028, 0, 0, 0}}});
    EXPECT_EQ((std::array{info.xAddrBitsPhysical(), info.xAddrBitsVirtual()}),
              (std::array{40, 48}));
    std::vector<int> set;
    for (std::int32_t n = -1; n <= 32; ++n)
        if (info.xPowerManagement(n)) set.push_back(n);
    EXPECT_EQ(set, (std::vector<int>{0, 8, 31}));
    for (const std::uint32_t level : {0x80000007u, 0x80000006u}) {  // under each leaf's guard
        info.LevelSet(kExtended, level, 0, 0, 0);
        info.Refresh(false);
        EXPECT_EQ(info.xAddrBitsVirtual(), 0);
        EXPECT_EQ(info.xPowerManagement(31), level == 0x80000007u);
    }
}

}  // namespace
}  // namespace cpu_test
