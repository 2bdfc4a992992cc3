// Signature decoding and names: named processors decoded end to end from hand-made dumps of their
// published register values, the edges of the family and model tables, the signature's bit
// fields and the type names.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;
using Bytes = std::vector<std::uint8_t>;

void decode(cCpuInfo& info, std::string_view text) {
    syskit::load_cpu_dump(info, syskit::parse_cpu_dump(text, "test.dump"));
}

TEST(NamedProcessor, PentiumIIICoppermine) {
    cCpuInfo info;
    decode(info,
           "CPUID 00000000: 00000003-756E6547-6C65746E-49656E69\n"
           "CPUID 00000001: 00000683-00000002-00000000-0387F9FF\n"
           "CPUID 00000002: 03020101-00000000-00000000-0C040882\n"
           "CPUID 00000003: 00000000-00000000-A1B2C3D4-00012345\n");
    EXPECT_EQ(info.CpuFamilyStr(), "P6, P2, P3, PM");
    EXPECT_EQ(info.CpuModelStr(), "P3 (0.18 \u00B5m) with 256 KB on-die L2 cache");
    EXPECT_EQ(info.CpuStepping(), 3);
    EXPECT_EQ(info.CpuTypeStr(), "Primary processor");
    EXPECT_EQ(info.CpuBrandStr(), "0.18 \u00B5m Intel Pentium III");
    EXPECT_EQ(info.CacheDescriptors(), (Bytes{0x03, 0x02, 0x01, 0x0C, 0x04, 0x08, 0x82}));
    EXPECT_EQ(info.SnStr(), "0000-0683-0001-2345-A1B2-C3D4");
    EXPECT_EQ(info.NameStr(), "");
    info.LevelSet(kLeaf1, 0x683, 2, 0, 0x0383F9FF);  // the serial-number flag cleared
    info.Refresh(false);
    EXPECT_EQ(info.SnStatus(), 1);
    EXPECT_EQ(info.SnStr(), "");
}

TEST(NamedProcessor, Opteron244SledgeHammer) {
    cCpuInfo info;
    decode(info,
           "CPUID 00000000: 00000001-68747541-444D4163-69746E65\n"
           "CPUID 00000001: 00000F51-00000800-00000000-078BFBFF\n"
           "CPUID 80000000: 80000018-68747541-444D4163-69746E65\n"
           "CPUID 80000001: 00000F51-00000406-00000000-E1D3FBFF\n"
           "CPUID 80000002: 20444D41-6574704F-286E6F72-20296D74\n"
           "CPUID 80000003: 636F7250-6F737365-34322072-00000034\n"
           "CPUID 80000006: 00000000-42004200-04008140-00000000\n"
           "CPUID 80000007: 00000000-00000000-00000000-0000000F\n"
           "CPUID 80000008: 00003028-00000000-00000000-00000000\n");
    for (const bool standard : {true, false}) {
        EXPECT_EQ(info.CpuFamilyStr(standard), "K8");
        EXPECT_EQ(info.CpuModelStr(standard), "Opteron DP (0.13 \u00B5m)");
    }
    EXPECT_EQ(info.CpuBrandStr(false), "Opteron DP 244");
    EXPECT_EQ(info.NameStr(), "AMD Opteron(tm) Processor 244" + std::string(19, '\0'));
    EXPECT_EQ(info.xCache(24), 1024);
    EXPECT_EQ(info.xCacheAssocStr(info.xCache(25)), "16-way");
    EXPECT_EQ(info.xAddrBitsPhysical(), 40);
    EXPECT_TRUE(info.Feature(93));                   // long mode
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
           "CPUID 80000004: 2020726F-20202020-20202020-20202020\n"
           "CPUID 80000007: 00000000-0000003B-00000000-00006799\n"
           "CPUID 80000008: 00003030-111EF657-0000500F-00010000\n");
    EXPECT_EQ(info.CpuFamilyEx(), 10);
    EXPECT_EQ(info.CpuModelEx(false), 2);
    EXPECT_EQ(info.CpuFamilyStr(), "");  // family 0x19 is past the table
    EXPECT_EQ(info.CpuModelStr(false), "");
    EXPECT_EQ(info.CpuBrandStr(false), "");  // brand 0
    EXPECT_EQ(info.NameStr(), "AMD Ryzen 7 5800X 8-Core Processor");
    EXPECT_EQ(info.CpuLogicalCount(), 16);
    EXPECT_TRUE(info.CacheDescriptors().empty());
    EXPECT_EQ(info.xAddrBitsVirtual(), 48);
    EXPECT_TRUE(info.xPowerManagement(8));  // invariant time-stamp counter
}

constexpr std::uint32_t sig(std::uint32_t family, std::uint32_t model, std::uint32_t stepping = 0,
                            std::uint32_t family_ex = 0, std::uint32_t model_ex = 0) {
    return family_ex << 20 | model_ex << 16 | family << 8 | model << 4 | stepping;
}

// The first and last rows of the tables, the rows that depend on the extended family or the
// stepping, and the neighbours just outside them.
TEST(NameTables, EdgesOfTheRows) {
    constexpr std::string_view kIntel = "GenuineIntel", kAmd = "AuthenticAMD",
                               kCyrix = "CyrixInstead", kTransmeta = "GenuineTMx86";
    const struct {
        std::string_view vendor;
        bool standard;
        std::uint32_t signature;  // EAX of leaf 1 (standard) or 0x80000001 (extended)
        std::string_view family, model;
    } cases[] = {
        {kIntel, true, sig(4, 0), "80486", "i80486DX-25/33"},
        {kIntel, true, sig(3, 0), "", ""},
        {kIntel, true, sig(6, 15, 0, 0, 0xA), "P6, P2, P3, PM", " - Extended model #A"},
        {kIntel, true, sig(15, 3), "P4", "P4 (0.09 \u00B5m)"},
        {kAmd, true, sig(4, 15), "5x86", "5x86WB - Extended model #0"},
        {kAmd, true, sig(15, 5, 0, 1), "Itanium 2", ""},
        {kIntel, true, sig(15, 2, 0, 2), "", ""},
        {kCyrix, true, sig(5, 7, 7), "M1", "WinChip C5B core"},
        {kCyrix, true, sig(5, 7, 8), "M1", "WinChip C5C core"},
        {"UMC UMC UMC ", true, sig(4, 1), "", "U5D"},
        {kTransmeta, true, sig(5, 4), "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00"},
        {"Geode by NSC", true, sig(5, 4), "", ""},
        {kAmd, false, sig(5, 1), "K5", "5k86 (PR120 or PR133)"},
        {kAmd, false, sig(15, 5, 0, 1), "", ""},
        {kCyrix, false, sig(6, 7, 8), "", "WinChip C5C core"},
        {kIntel, false, sig(6, 8), "", ""},
    };
    for (const auto& c : cases) {
        cCpuInfo info;
        load(info, {{0, vendor_leaf(1, c.vendor)},
                    {kLeaf1, {c.standard ? c.signature : 0, 0, 0, 0}},
                    {kExtended, {0x80000001u, 0, 0, 0}},
                    {kExtended + 1, {c.standard ? 0 : c.signature, 0, 0, 0}}});
        EXPECT_EQ(info.CpuFamilyStr(c.standard), c.family) << c.vendor << std::hex << c.signature;
        EXPECT_EQ(info.CpuModelStr(c.standard), c.model) << c.vendor << std::hex << c.signature;
    }
}

TEST(SignatureFields, AreTheirBitsAndNeedTheirLeaf) {
    cCpuInfo info;
    load_intel(info, 1, 0x0FF5A7C3);
    EXPECT_EQ((std::array{info.CpuStepping(), info.CpuModel(), info.CpuFamily(), info.CpuType(),
                          info.CpuModelEx(), info.CpuFamilyEx()}),
              (std::array{3, 0xC, 7, 2, 5, 0xFF}));
    EXPECT_EQ(info.CpuTypeStr(), "Secondary processor");
    EXPECT_EQ(info.CpuFamilyEx(false), 0);  // LevelsExt 0
    EXPECT_EQ(info.CpuFamilyStr(false), "");
    load_intel(info, 1, 0x3000);
    EXPECT_EQ(info.CpuTypeStr(), "");  // type 3

    // Without standard leaf 1 every name is empty, whichever signature is asked for.
    load(info, {{0, vendor_leaf(1, "AuthenticAMD")},
                {kExtended, {1, 0, 0, 0}},
                {kExtended + 1, {sig(7, 1), 0, 0, 0}}});
    info.LevelSet(0, 0, 0, 0, 0);
    info.Refresh(false);  // the extended level stays 1
    EXPECT_EQ(info.CpuFamily(false), 7);
    EXPECT_EQ(info.CpuFamilyStr(false), "");
    EXPECT_EQ(info.CpuModelStr(false), "");
    EXPECT_EQ(info.CpuTypeStr(), "");
}

}  // namespace
}  // namespace cpu_test
