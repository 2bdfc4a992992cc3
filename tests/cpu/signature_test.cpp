// Signature decoding and names: every row of the family and model tables for both signatures,
// the stepping split, the extended-model suffix, type names and the processor name string.
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;

constexpr std::uint32_t sig(std::uint32_t family, std::uint32_t model, std::uint32_t stepping = 0,
                            std::uint32_t family_ex = 0, std::uint32_t model_ex = 0) {
    return family_ex << 20 | model_ex << 16 | family << 8 | model << 4 | stepping;
}

constexpr std::string_view kIntel = "GenuineIntel", kAmd = "AuthenticAMD", kUmc = "UMC UMC UMC ",
                           kCyrix = "CyrixInstead", kNexGen = "NexGenDriven",
                           kCentaur = "CentaurHauls", kRise = "RiseRiseRise", kSis = "SiS SiS SiS ",
                           kTransmeta = "GenuineTMx86", kNsc = "Geode by NSC";

struct NameCase {
    std::string_view vendor;
    bool standard;
    std::uint32_t signature;  // EAX of leaf 1 (standard) or 0x80000001 (extended)
    std::string_view family;
    std::string_view model;
    friend void PrintTo(const NameCase& c, std::ostream* os) {
        *os << c.vendor << (c.standard ? " std " : " ext ") << std::hex << c.signature;
    }
};

class Names : public testing::TestWithParam<NameCase> {};

TEST_P(Names, ComeFromTheVendorsTables) {
    const NameCase& c = GetParam();
    cCpuInfo info;
    if (c.standard) {
        load(info, {{0, vendor_leaf(1, c.vendor)}, {kLeaf1, {c.signature, 0, 0, 0}}});
    } else {
        load(info, {{0, vendor_leaf(1, c.vendor)},
                    {kExtended, {0x80000001u, 0, 0, 0}},
                    {kExtended + 1, {c.signature, 0, 0, 0}}});
    }
    EXPECT_EQ(info.CpuFamilyStr(c.standard), c.family);
    EXPECT_EQ(info.CpuModelStr(c.standard), c.model);
}

const NameCase kStandardNames[] = {
    {kIntel, true, sig(4, 0), "80486", "i80486DX-25/33"},
    {kIntel, true, sig(4, 1), "80486", "i80486DX-50"},
    {kIntel, true, sig(4, 2), "80486", "i80486SX"},
    {kIntel, true, sig(4, 3), "80486", "i80486DX2"},
    {kIntel, true, sig(4, 4), "80486", "i80486SL"},
    {kIntel, true, sig(4, 5), "80486", "i80486SX2"},
    {kIntel, true, sig(4, 6), "80486", ""},
    {kIntel, true, sig(4, 7), "80486", "i80486DX2WB"},
    {kIntel, true, sig(4, 8), "80486", "i80486DX4"},
    {kIntel, true, sig(4, 9), "80486", "i80486DX4WB"},
    {kIntel, true, sig(5, 0), "P5, P54C, P55C, P24T", "P5 A-step"},
    {kIntel, true, sig(5, 1), "P5, P54C, P55C, P24T", "P5"},
    {kIntel, true, sig(5, 2), "P5, P54C, P55C, P24T", "P54C"},
    {kIntel, true, sig(5, 3), "P5, P54C, P55C, P24T", "P24T Overdrive"},
    {kIntel, true, sig(5, 4), "P5, P54C, P55C, P24T", "P55C"},
    {kIntel, true, sig(5, 7), "P5, P54C, P55C, P24T", "P55C"},
    {kIntel, true, sig(5, 8), "P5, P54C, P55C, P24T", "P55C (0.25\u00B5m)"},
    {kIntel, true, sig(6, 0), "P6, P2, P3, PM", "P6 A-step"},
    {kIntel, true, sig(6, 1), "P6, P2, P3, PM", "P6"},
    {kIntel, true, sig(6, 3), "P6, P2, P3, PM", "P2 (0.28 \u00B5m)"},
    {kIntel, true, sig(6, 5), "P6, P2, P3, PM", "P2 (0.25 \u00B5m)"},
    {kIntel, true, sig(6, 6), "P6, P2, P3, PM", "P2 with on-die L2 cache"},
    {kIntel, true, sig(6, 7), "P6, P2, P3, PM", "P3 (0.25 \u00B5m)"},
    {kIntel, true, sig(6, 8), "P6, P2, P3, PM", "P3 (0.18 \u00B5m) with 256 KB on-die L2 cache"},
    {kIntel, true, sig(6, 9), "P6, P2, P3, PM", "PM (0.13 \u00B5m) with 1 MB on-die L2 cache"},
    {kIntel, true, sig(6, 10), "P6, P2, P3, PM",
     "P3 (0.18 \u00B5m) with 1 or 2 MB on-die L2 cache"},
    {kIntel, true, sig(6, 11), "P6, P2, P3, PM",
     "P3 (0.13 \u00B5m) with 256 or 512 KB on-die L2 cache"},
    {kIntel, true, sig(6, 15, 6), "P6, P2, P3, PM", " - Extended model #0"},
    {kIntel, true, sig(6, 15, 6, 0, 1), "P6, P2, P3, PM", " - Extended model #1"},
    {kIntel, true, sig(6, 15, 0, 0, 0xA), "P6, P2, P3, PM", " - Extended model #A"},
    {kIntel, true, sig(7, 0), "Itanium", ""},
    {kIntel, true, sig(15, 0), "P4", "P4 (0.18 \u00B5m)"},
    {kIntel, true, sig(15, 1), "P4", "P4 (0.18 \u00B5m)"},
    {kIntel, true, sig(15, 2, 9), "P4", "P4 (0.13 \u00B5m)"},
    {kIntel, true, sig(15, 3), "P4", "P4 (0.09 \u00B5m)"},
    {kIntel, true, sig(15, 2, 0, 1), "Itanium 2", ""},
    {kIntel, true, sig(15, 2, 0, 2), "", ""},
    {kAmd, true, sig(4, 3), "5x86", "80486DX2"},
    {kAmd, true, sig(4, 7), "5x86", "80486DX2WB"},
    {kAmd, true, sig(4, 8), "5x86", "80486DX4"},
    {kAmd, true, sig(4, 9), "5x86", "80486DX4WB"},
    {kAmd, true, sig(4, 14), "5x86", "5x86"},
    {kAmd, true, sig(4, 15), "5x86", "5x86WB - Extended model #0"},
    {kAmd, true, sig(5, 0), "K5, K6", "SSA5 (PR75, PR90, PR100)"},
    {kAmd, true, sig(5, 1), "K5, K6", "5k86 (PR120, PR133)"},
    {kAmd, true, sig(5, 2), "K5, K6", "5k86 (PR166)"},
    {kAmd, true, sig(5, 3), "K5, K6", "5k86 (PR200)"},
    {kAmd, true, sig(5, 6), "K5, K6", "K6 (0.30 \u00B5m)"},
    {kAmd, true, sig(5, 7), "K5, K6", "K6 (0.25 \u00B5m)"},
    {kAmd, true, sig(5, 8), "K5, K6", "K6-2"},
    {kAmd, true, sig(5, 9), "K5, K6", "K6-III"},
    {kAmd, true, sig(5, 13), "K5, K6", "K6-2+ or K6-III+ (0.18 \u00B5m)"},
    {kAmd, true, sig(6, 1), "K7", "Athlon (0.25 \u00B5m)"},
    {kAmd, true, sig(6, 2), "K7", "Athlon (0.18 \u00B5m)"},
    {kAmd, true, sig(6, 3), "K7", "Duron (SF core)"},
    {kAmd, true, sig(6, 4), "K7", "Athlon (TB core)"},
    {kAmd, true, sig(6, 6), "K7", "Athlon (PM core)"},
    {kAmd, true, sig(6, 7), "K7", "Duron (MG core)"},
    {kAmd, true, sig(6, 8), "K7", "Athlon (TH core)"},
    {kAmd, true, sig(6, 10), "K7", "Athlon (BT core)"},
    {kAmd, true, sig(15, 5, 1), "K8", "Opteron DP (0.13 \u00B5m)"},
    {kAmd, true, sig(15, 5, 1, 1), "Itanium 2", ""},
    {kAmd, true, sig(15, 1, 0, 8, 1), "", ""},
    {kUmc, true, sig(4, 1), "", "U5D"},
    {kUmc, true, sig(5, 2), "", "U5S"},
    {kCyrix, true, sig(4, 4), "5x86", "GX, GXm"},
    {kCyrix, true, sig(4, 9), "5x86", "5x86"},
    {kCyrix, true, sig(5, 2), "M1", "6x86"},
    {kCyrix, true, sig(5, 5), "M1", "Cyrix M2 core"},
    {kCyrix, true, sig(5, 6), "M1", "WinChip C5A core"},
    {kCyrix, true, sig(5, 7, 7), "M1", "WinChip C5B core"},
    {kCyrix, true, sig(5, 7, 8), "M1", "WinChip C5C core"},
    {kCyrix, true, sig(5, 8), "M1", "WinChip C5N core"},
    {kCyrix, true, sig(5, 9), "M1", "WinChip C5XL core"},
    {kCyrix, true, sig(6, 0), "M2", "6x86MX"},
    {kNexGen, true, sig(5, 0), "Nx586", "Nx586 or Nx586FPU"},
    {kCentaur, true, sig(5, 4), "C6, C2, C3", "C6"},
    {kCentaur, true, sig(5, 8), "C6, C2, C3", "C2"},
    {kCentaur, true, sig(6, 9), "C3", "C3"},
    {kRise, true, sig(5, 0), "mP6", "mP6 (0.25 \u00B5m)"},
    {kRise, true, sig(5, 2), "mP6", "mP6 (0.18 \u00B5m)"},
    {kSis, true, sig(5, 0), "55x", "55x"},
    {kTransmeta, true, sig(5, 4), "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00"},
    {kNsc, true, sig(5, 4), "", ""},
    {"VIA VIA VIA ", true, sig(6, 9), "", ""},
};

const NameCase kExtendedNames[] = {
    {kAmd, false, sig(5, 1), "K5", "5k86 (PR120 or PR133)"},
    {kAmd, false, sig(5, 2), "K5", "5k86 (PR166)"},
    {kAmd, false, sig(5, 3), "K5", "5k86 (PR200)"},
    {kAmd, false, sig(6, 6), "K6", "K6 (0.30 \u00B5m)"},
    {kAmd, false, sig(6, 7), "K6", "K6 (0.25 \u00B5m)"},
    {kAmd, false, sig(6, 8), "K6", "K6-2"},
    {kAmd, false, sig(6, 9), "K6", "K6-III"},
    {kAmd, false, sig(6, 13), "K6", "K6-2+ or K6-III+ (0.18 \u00B5m)"},
    {kAmd, false, sig(7, 1), "K7", "Athlon (0.25 \u00B5m)"},
    {kAmd, false, sig(7, 2), "K7", "Athlon (0.18 \u00B5m)"},
    {kAmd, false, sig(7, 3), "K7", "Duron (SF core)"},
    {kAmd, false, sig(7, 4), "K7", "Athlon (TB core)"},
    {kAmd, false, sig(7, 6), "K7", "Athlon (PM core)"},
    {kAmd, false, sig(7, 7), "K7", "Duron (MG core)"},
    {kAmd, false, sig(7, 8), "K7", "Athlon (TH core)"},
    {kAmd, false, sig(7, 10), "K7", "Athlon (BT core)"},
    {kAmd, false, sig(15, 5), "K8", "Opteron DP (0.13 \u00B5m)"},
    {kAmd, false, sig(15, 5, 0, 1), "", ""},
    {kCyrix, false, sig(5, 6), "", "WinChip C5A core"},
    {kCyrix, false, sig(6, 7, 7), "", "WinChip C5B core"},
    {kCyrix, false, sig(6, 7, 8), "", "WinChip C5C core"},
    {kCyrix, false, sig(5, 8), "", "WinChip C5N core"},
    {kCyrix, false, sig(5, 9), "", "WinChip C5XL core"},
    {kCentaur, false, sig(5, 8), "C2, C3", "C2"},
    {kCentaur, false, sig(6, 9), "C3", "C3"},
    {kTransmeta, false, sig(5, 4), "TM3x00, TM5x00", "Crusoe TM3x00 and TM5x00"},
    {kIntel, false, sig(15, 15), "", " - Extended model #0"},
    {kIntel, false, sig(6, 8), "", ""},
};

INSTANTIATE_TEST_SUITE_P(Standard, Names, testing::ValuesIn(kStandardNames));
INSTANTIATE_TEST_SUITE_P(Extended, Names, testing::ValuesIn(kExtendedNames));

TEST(SignatureFields, AreTheDocumentedBits) {
    cCpuInfo info;
    load_intel(info, 1, 0x0FF5A7C3);
    EXPECT_EQ(info.CpuStepping(), 3);
    EXPECT_EQ(info.CpuModel(), 0xC);
    EXPECT_EQ(info.CpuFamily(), 7);
    EXPECT_EQ(info.CpuType(), 2);
    EXPECT_EQ(info.CpuModelEx(), 5);
    EXPECT_EQ(info.CpuFamilyEx(), 0xFF);
    EXPECT_EQ(info.CpuFamilyEx(false), 0);  // LevelsExt 0
    EXPECT_EQ(info.CpuFamily(false), 0);
    EXPECT_EQ(info.CpuModelStr(false), "");
    EXPECT_EQ(info.CpuFamilyStr(false), "");

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
}

TEST(CpuTypeStr, NamesTypesZeroToTwo) {
    const std::string_view names[] = {"Primary processor", "Overdrive processor",
                                      "Secondary processor", ""};
    cCpuInfo info;
    for (std::uint32_t type = 0; type < 4; ++type) {
        load_intel(info, 1, type << 12 | 0x633);
        EXPECT_EQ(info.CpuType(), static_cast<std::int32_t>(type));
        EXPECT_EQ(info.CpuTypeStr(), names[type]);
    }
    load_intel(info, 0, 0x1633);
    EXPECT_EQ(info.CpuType(), 0);
    EXPECT_EQ(info.CpuTypeStr(), "");
}

TEST(NameStr, TrimsSpacesButKeepsNulPadding) {
    cCpuInfo info;
    const std::string name = "   AMD Opteron(tm) 244" + std::string(26, '\0');  // 48 characters
    std::array<std::uint32_t, 12> regs{};
    std::memcpy(regs.data(), name.data(), 48);
    load(info, {{0, vendor_leaf(1, kAmd)},
                {kExtended, {0x80000004u, 0, 0, 0}},
                {kExtended + 2, {regs[0], regs[1], regs[2], regs[3]}},
                {kExtended + 3, {regs[4], regs[5], regs[6], regs[7]}},
                {kExtended + 4, {regs[8], regs[9], regs[10], regs[11]}}});
    EXPECT_EQ(info.NameStr(), name.substr(3));
    info.LevelSet(kExtended, 0x80000003u, 0, 0, 0);
    info.Refresh(false);
    EXPECT_EQ(info.NameStr(), "");
}

}  // namespace
}  // namespace cpu_test
