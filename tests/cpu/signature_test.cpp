// Signature decoding and names: named processors decoded end to end from hand-made dumps (their
// published register values, each dump in another of the shapes field dumps hold), the edges of
// the family, model and brand tables, the signature's bit fields and the type names.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;
using Bytes = std::vector<std::uint8_t>;

// Decodes the dump `text` in `info`, as `syskit cpu --dump` does.
void decode(cCpuInfo& info, std::string_view text) {
    syskit::load_cpu_dump(info, syskit::parse_cpu_dump(text, "test.dump"));
}

TEST(NamedProcessor, PentiumIIICoppermine) {
    cCpuInfo info;  // no colon, spaces and a tab after the leaf; registers apart; CR LF
    decode(info,
           "CPUID 00000000  \t00000003-756E6547-6C65746E-49656E69\r\n"
           "CPUID 00000001  \t00000683 00000002 00000000 0387F9FF\r\n"
           "CPUID 00000002  \t03020101 00000000 00000000 0C040882\r\n"
           "CPUID 00000003  \t00000000 00000000 A1B2C3D4 00012345\r\n");
    EXPECT_EQ(info.CpuFamilyStr(), "P6, P2, P3, PM");
    EXPECT_EQ(info.CpuModelStr(), "P3 (0.18 \u00B5m) with 256 KB on-die L2 cache");
    EXPECT_EQ(info.CpuStepping(), 3);
    EXPECT_EQ(info.CpuTypeStr(), "Primary processor");
    EXPECT_EQ(info.CpuBrandStr(), "0.18 \u00B5m Intel Pentium III");
    EXPECT_EQ(info.CacheDescriptors(), (Bytes{0x03, 0x02, 0x01, 0x0C, 0x04, 0x08, 0x82}));
    EXPECT_EQ(info.SnStr(), "0000-0683-0001-2345-A1B2-C3D4");
    EXPECT_EQ(info.LevelsExt(), 0);
    EXPECT_EQ(info.NameStr(), "");
}

TEST(NamedProcessor, Pentium4Northwood) {
    cCpuInfo info;  // decoded text in brackets after EDX; processors as "CPUID Registers (CPU #n):"
    decode(info,
           "CPUID Registers (CPU #0):\n"
           "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69 [GenuineIntel]\n"
           "CPUID 00000001: 00000F29-00010809-00004400-BFEBFBFF\n"
           "CPUID 00000002: 665B5001-00000000-00000000-007A7000\n"
           "CPUID 80000000: 80000004-00000000-00000000-00000000\n"
           "CPUID 80000002: 20202020-20202020-20202020-6E492020 [            In]\n"
           "CPUID 80000003: 286C6574-50202952-69746E65-52286D75 [tel(R) Pentium(R]\n"
           "CPUID 80000004: 20342029-20555043-30342E32-007A4847 [) 4 CPU 2.40GHz]\n"
           "CPUID Registers (CPU #1):\n"
           "CPUID 00000001: 00000F29-01010809-00004400-BFEBFBFF\n");
    EXPECT_EQ(info.CpuFamilyStr(), "P4");
    EXPECT_EQ(info.CpuModelStr(), "P4 (0.13 \u00B5m)");
    EXPECT_EQ(info.CpuBrandStr(), "0.13 \u00B5m Intel Pentium 4");
    EXPECT_EQ(info.ApicID(), 0);  // the second processor's is 1
    EXPECT_EQ(info.CpuLogicalCount(), 1);
    EXPECT_EQ(info.CacheDescriptors(), (Bytes{0x66, 0x5B, 0x50, 0x7A, 0x70}));
    EXPECT_EQ(info.NameStr(), std::string("Intel(R) Pentium(R) 4 CPU 2.40GHz\0", 34));
    EXPECT_EQ(info.SnStatus(), 0);
    info.LevelSet(kExtended, 0x80000003u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_EQ(info.NameStr(), "");
}

TEST(NamedProcessor, Opteron244SledgeHammer) {
    cCpuInfo info;  // " : " after the leaf, registers apart, an unbalanced annotation
    decode(info,
           "CPU#000 AffMask: 0x00000001\n"
           "CPUID 00000000 : 00000001 68747541 444D4163 69746E65\n"
           "CPUID 00000001 : 00000F51 00000800 00000000 078BFBFF\n"
           "CPUID 80000000 : 80000018 68747541 444D4163 69746E65\n"
           "CPUID 80000001 : 00000F51 00000406 00000000 E1D3FBFF\n"
           "CPUID 80000002 : 20444D41 6574704F 286E6F72 20296D74 [AMD Opteron(tm) ]\n"
           "CPUID 80000003 : 636F7250 6F737365 34322072 00000034\n"
           "CPUID 80000005 : FF08FF08 FF20FF20 40020140 40020140\n"
           "CPUID 80000006 : 00000000 42004200 04008140 00000000 [L2: 1024 KB] / L3: 0 KB]\n"
           "CPUID 80000007 : 00000000 00000000 00000000 0000000F\n"
           "CPUID 80000008 : 00003028 00000000 00000000 00000000\n"
           "CPU#001 AffMask: 0x00000002\n"
           "CPUID 80000008 : 00003024 00000000 00000000 00000000\n");
    for (const bool standard : {true, false}) {
        EXPECT_EQ(info.CpuFamilyStr(standard), "K8");
        EXPECT_EQ(info.CpuModelStr(standard), "Opteron DP (0.13 \u00B5m)");
    }
    EXPECT_EQ(info.CpuBrandStr(true), "");
    EXPECT_EQ(info.CpuBrandStr(false), "Opteron DP 244");
    EXPECT_EQ(info.NameStr(), "AMD Opteron(tm) Processor 244" + std::string(19, '\0'));
    EXPECT_EQ(info.xCache(8), 64);
    EXPECT_EQ(info.xCache(24), 1024);
    EXPECT_EQ(info.xCacheAssocStr(info.xCache(25)), "16-way");
    EXPECT_EQ(info.xAddrBitsPhysical(), 40);
    EXPECT_TRUE(info.xPowerManagement(3));
    EXPECT_TRUE(info.Feature(93));  // long mode
}

TEST(NamedProcessor, Core2DuoE6600Conroe) {
    cCpuInfo info;  // the raw form, with sub-leaves of leaf 4 and a second processor
    decode(info,
           "CPU 0:\n"
           "   0x00000000 0x00: eax=0x0000000a ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
           "   0x00000001 0x00: eax=0x000006f6 ebx=0x00020800 ecx=0x0000e3bd edx=0xbfebfbff\n"
           "   0x00000002 0x00: eax=0x05b0b101 ebx=0x005657f0 ecx=0x00000000 edx=0x2cb43049\n"
           "   0x00000004 0x01: eax=0x04000122 ebx=0x01c0003f ecx=0x0000003f edx=0x00000001\n"
           "   0x80000000 0x00: eax=0x80000008 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
           "   0x80000001 0x00: eax=0x00000000 ebx=0x00000000 ecx=0x00000001 edx=0x20100000\n"
           "   0x80000006 0x00: eax=0x00000000 ebx=0x00000000 ecx=0x10008040 edx=0x00000000\n"
           "   0x80000008 0x00: eax=0x00003024 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
           "CPU 1:\n"
           "   0x00000001 0x00: eax=0x000006f6 ebx=0x01020800 ecx=0x0000e3bd edx=0xbfebfbff\n");
    EXPECT_EQ(info.CpuFamilyStr(), "P6, P2, P3, PM");
    EXPECT_EQ(info.CpuModelStr(), " - Extended model #0");
    EXPECT_EQ(info.CpuStepping(), 6);
    EXPECT_EQ(info.CpuBrandStr(), "");
    EXPECT_EQ(info.CpuLogicalCount(), 2);
    EXPECT_EQ(info.CacheDescriptors(),
              (Bytes{0x05, 0xB0, 0xB1, 0x56, 0x57, 0xF0, 0x2C, 0xB4, 0x30, 0x49}));
    EXPECT_EQ(info.xCache(24), 4096);
    EXPECT_EQ(info.xAddrBitsPhysical(), 36);
    EXPECT_EQ(info.SnStatus(), 1);  // leaf 3 without the serial-number flag
    EXPECT_EQ(info.SnStr(), "");
}

TEST(NamedProcessor, Ryzen5800XVermeer) {
    cCpuInfo info;  // sub-leaf labels, a tab before an annotation, trailing blanks, CR LF
    decode(info,
           "------[ Logical CPU #0 ]------\r\n"
           "CPUID 00000000: 00000010-68747541-444D4163-69746E65 [AuthenticAMD]\r\n"
           "CPUID 00000001: 00A20F12-00100800-7ED8320B-178BFBFF  \r\n"
           "CPUID 00000007: 00000000-219C97A9-0040068C-00000010\t[SL 00]\r\n"
           "CPUID 80000000: 80000023-68747541-444D4163-69746E65 [AuthenticAMD]\r\n"
           "CPUID 80000001: 00A20F12-20000000-75C237FF-2FD3FBFF\r\n"
           "CPUID 80000002: 20444D41-657A7952-2037206E-30303835 [AMD Ryzen 7 5800]\r\n"
           "CPUID 80000003: 2D382058-65726F43-6F725020-73736563 [X 8-Core Process]\r\n"
           "CPUID 80000004: 2020726F-20202020-20202020-20202020 [or              ]\r\n"
           "CPUID 80000006: 48002200-68004200-02006140-01009140 [L2: 512 KB] / L3: 32 MB]\r\n"
           "CPUID 80000007: 00000000-0000003B-00000000-00006799\r\n"
           "CPUID 80000008: 00003030-111EF657-0000500F-00010000\r\n"
           "------[ Logical CPU #1 ]------\r\n"
           "CPUID 00000001: 00A20F12-01100800-7ED8320B-178BFBFF\r\n");
    EXPECT_EQ(info.CpuFamily(), 15);
    EXPECT_EQ(info.CpuFamilyEx(), 10);
    EXPECT_EQ(info.CpuModelEx(false), 2);
    EXPECT_EQ(info.CpuFamilyStr(), "");  // family 0x19 is past the table
    EXPECT_EQ(info.CpuModelStr(false), "");
    EXPECT_EQ(info.CpuBrandStr(false), "");
    EXPECT_EQ(info.NameStr(), "AMD Ryzen 7 5800X 8-Core Processor");
    EXPECT_EQ(info.CpuLogicalCount(), 16);
    EXPECT_TRUE(info.CacheDescriptors().empty());
    EXPECT_EQ(info.xCacheAssocStr(info.xCache(25)), "8-way");
    EXPECT_EQ(info.xAddrBitsVirtual(), 48);
    EXPECT_TRUE(info.xPowerManagement(8));  // invariant time-stamp counter
}

constexpr std::uint32_t sig(std::uint32_t family, std::uint32_t model, std::uint32_t stepping = 0,
                            std::uint32_t family_ex = 0, std::uint32_t model_ex = 0) {
    return family_ex << 20 | model_ex << 16 | family << 8 | model << 4 | stepping;
}

struct NameCase {
    std::string_view vendor;
    bool standard;
    std::uint32_t signature;  // EAX of leaf 1 (standard) or 0x80000001 (extended)
    std::string_view family;
    std::string_view model;
};

TEST(NameTables, EdgesOfTheRows) {
    constexpr std::string_view kIntel = "GenuineIntel", kAmd = "AuthenticAMD",
                               kCyrix = "CyrixInstead";
    const NameCase cases[] = {
        {kIntel, true, sig(4, 0), "80486", "i80486DX-25/33"},
        {kIntel, true, sig(4, 10), "80486", ""},
        {kIntel, true, sig(3, 0), "", ""},
        {kIntel, true, sig(6, 11), "P6, P2, P3, PM",
         "P3 (0.13 \u00B5m) with 256 or 512 KB on-die L2 cache"},
        {kIntel, true, sig(6, 12), "P6, P2, P3, PM", ""},
        {kIntel, true, sig(6, 15, 0, 0, 0xA), "P6, P2, P3, PM", " - Extended model #A"},
        {kIntel, true, sig(15, 3), "P4", "P4 (0.09 \u00B5m)"},
        {kIntel, true, sig(15, 4), "P4", ""},
        {kIntel, true, sig(8, 0), "", ""},
        {kAmd, true, sig(4, 15), "5x86", "5x86WB - Extended model #0"},
        {kAmd, true, sig(15, 5, 0, 1), "Itanium 2", ""},
        {kIntel, true, sig(15, 2, 0, 2), "", ""},
        {kCyrix, true, sig(5, 7, 7), "M1", "WinChip C5B core"},
        {kCyrix, true, sig(5, 7, 8), "M1", "WinChip C5C core"},
        {"UMC UMC UMC ", true, sig(4, 1), "", "U5D"},
        {"GenuineTMx86", true, sig(5, 4), "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00"},
        {"Geode by NSC", true, sig(5, 4), "", ""},
        {"VIA VIA VIA ", true, sig(6, 9), "", ""},
        {kAmd, false, sig(5, 1), "K5", "5k86 (PR120 or PR133)"},
        {kAmd, false, sig(5, 0), "K5", ""},
        {kAmd, false, sig(15, 5), "K8", "Opteron DP (0.13 \u00B5m)"},
        {kAmd, false, sig(15, 5, 0, 1), "", ""},
        {kCyrix, false, sig(6, 7, 8), "", "WinChip C5C core"},
        {"GenuineTMx86", false, sig(5, 4), "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00"},
        {kIntel, false, sig(6, 8), "", ""},
    };
    for (const NameCase& c : cases) {
        cCpuInfo info;
        load(info, {{0, vendor_leaf(1, c.vendor)},
                    {kLeaf1, {c.standard ? c.signature : 0, 0, 0, 0}},
                    {kExtended, {0x80000001u, 0, 0, 0}},
                    {kExtended + 1, {c.standard ? 0 : c.signature, 0, 0, 0}}});
        EXPECT_EQ(info.CpuFamilyStr(c.standard), c.family) << c.vendor << std::hex << c.signature;
        EXPECT_EQ(info.CpuModelStr(c.standard), c.model) << c.vendor << std::hex << c.signature;
    }
}

TEST(SignatureFields, AreTheDocumentedBits) {
    cCpuInfo info;
    load_intel(info, 1, 0x0FF5A7C3);
    EXPECT_EQ(info.CpuStepping(), 3);
    EXPECT_EQ(info.CpuModel(), 0xC);
    EXPECT_EQ(info.CpuFamily(), 7);
    EXPECT_EQ(info.CpuType(), 2);
    EXPECT_EQ(info.CpuTypeStr(), "Secondary processor");
    EXPECT_EQ(info.CpuModelEx(), 5);
    EXPECT_EQ(info.CpuFamilyEx(), 0xFF);
    EXPECT_EQ(info.CpuFamilyEx(false), 0);  // LevelsExt 0
    EXPECT_EQ(info.CpuFamily(false), 0);
    EXPECT_EQ(info.CpuModelStr(false), "");
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
    EXPECT_EQ(info.CpuStepping(), 0);
    EXPECT_EQ(info.CpuTypeStr(), "");
}

}  // namespace
}  // namespace cpu_test
