// The information object's core: levels and vendor derived by Refresh, the register-table access,
// feature flags, HexPad and the text decoding of register bytes.
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;

struct VendorCase {
    std::string_view id;
    std::int32_t code;
    std::string_view manufacturer;
    friend void PrintTo(const VendorCase& v, std::ostream* os) { *os << '"' << v.id << '"'; }
};

class VendorTable : public testing::TestWithParam<VendorCase> {};

TEST_P(VendorTable, MatchesTheIdTextExactly) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, GetParam().id)}});
    EXPECT_EQ(info.Vendor(), GetParam().code);
    EXPECT_EQ(info.ManufacturerStr(), GetParam().manufacturer);
    EXPECT_EQ(info.VendorIdStr(), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Cpu, VendorTable,
    testing::Values(VendorCase{"GenuineIntel", 1, "Intel"}, VendorCase{"AuthenticAMD", 2, "AMD"},
                    VendorCase{"UMC UMC UMC ", 3, "UMC"}, VendorCase{"CyrixInstead", 4, "Cyrix"},
                    VendorCase{"NexGenDriven", 5, "NexGen"},
                    VendorCase{"CentaurHauls", 6, "Centaur"}, VendorCase{"RiseRiseRise", 7, "Rise"},
                    VendorCase{"SiS SiS SiS ", 8, "SIS"},
                    VendorCase{"GenuineTMx86", 9, "Transmeta"},
                    VendorCase{"Geode by NSC", 10, "National Semiconductor"},
                    VendorCase{"genuineintel", 0, "Unknown"},
                    VendorCase{"UMC UMC UMC_", 0, "Unknown"},
                    VendorCase{"HygonGenuine", 0, "Unknown"}));

TEST(Refresh, DerivesFromTheStoredTablesOnly) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(0x0D, "GenuineIntel")}, {kExtended, {0x80000008u, 0, 0, 0}}});
    EXPECT_EQ(info.LevelsStd(), 13);  // masked level; only leaves 0 to 3 are stored
    EXPECT_EQ(info.LevelsExt(), 8);
    EXPECT_EQ(info.Vendor(), 1);

    // A standard level of 0 stops Refresh: the extended level and the vendor code stay.
    info.LevelSet(0, 0, 0, 0, 0);
    EXPECT_EQ(info.LevelsStd(), 13);  // nothing changes before Refresh
    info.Refresh(false);
    EXPECT_EQ(info.LevelsStd(), 0);
    EXPECT_FALSE(info.Supported());
    EXPECT_TRUE(info.Extended());
    EXPECT_EQ(info.LevelsExt(), 8);
    EXPECT_EQ(info.Vendor(), 0);
    EXPECT_EQ(info.ManufacturerStr(), "");
    info.LevelSet(0, 0x100 | 2, 0x756E6547, 0x6C65746E, 0x49656E69);  // level bits above 8 ignored
    info.Refresh(false);
    EXPECT_EQ(info.LevelsStd(), 2);
    EXPECT_EQ(info.Vendor(), 1);
}

TEST(Refresh, RereadsTheProcessor) {
    cCpuInfo live;
    const auto before = syskit::cpu_leaves(live);
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, "CyrixInstead")}});
    info.Refresh(true);
    EXPECT_EQ(syskit::cpu_leaves(info)[0], before[0]);
    EXPECT_EQ(info.VendorIdStr(), live.VendorIdStr());
    EXPECT_EQ(info.Vendor(), live.Vendor());
}

TEST(LevelAccess, OutsideTheTablesNothingHappens) {
    cCpuInfo info;
    load(info, {{12, {1, 2, 3, 4}}});
    for (const int n : {13, -1, 1000}) {
        std::int32_t eax = 7, ebx = 7, ecx = 7, edx = 7;
        info.LevelSet(n, 9, 9, 9, 9);
        info.LevelGet(n, eax, ebx, ecx, edx);
        EXPECT_EQ(eax + ebx + ecx + edx, 28) << n;
    }
    std::int32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    info.LevelGet(12, eax, ebx, ecx, edx);
    EXPECT_EQ((std::array{eax, ebx, ecx, edx}), (std::array{1, 2, 3, 4}));
}

TEST(VendorIdStr, ReadsEitherLeafWithoutGuard) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, "AuthenticAMD")},
                {kExtended, vendor_leaf(0x80000008u, "AuthenticAMD")}});
    EXPECT_EQ(info.VendorIdStr(false), "AuthenticAMD");
    load(info, {{kExtended, {0, 0x000000B5, 0x41, 0x20}}});
    EXPECT_EQ(info.VendorIdStr(), std::string(12, '\0'));
    // Register bytes are code-page characters, least significant byte first.
    EXPECT_EQ(info.VendorIdStr(false), std::string("\u00B5\0\0\0 \0\0\0A\0\0\0", 13));
}

TEST(Feature, TestsTheDocumentedBitsUnderTheirGuards) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, "GenuineIntel")},
                {kLeaf1, {0, 0, 0x80000001u, 0x00000001u}},
                {kExtended, {0x80000001u, 0, 0, 0}},
                {kExtended + 1, {0, 0, 0, 0x20000000u}}});
    struct Case {
        std::int32_t type;
        bool set;
    };
    for (const Case c :
         {Case{0, true}, Case{1, false}, Case{31, true}, Case{32, true}, Case{33, false},
          Case{93, true}, Case{64, false}, Case{96, false}, Case{-1, false}}) {
        EXPECT_EQ(info.Feature(c.type), c.set) << c.type;
    }
    info.LevelSet(kExtended, 0, 0, 0, 0);
    info.Refresh(false);
    EXPECT_FALSE(info.Feature(93));  // extended level 0
    EXPECT_TRUE(info.Feature(32));
}

TEST(HexPad, PadsToTheWidthAndNeverCuts) {
    struct Case {
        std::int32_t value, width;
        std::string_view text;
    };
    for (const Case c : {Case{255, 8, "000000FF"}, Case{255, 2, "FF"}, Case{-1, 4, "FFFFFFFF"},
                         Case{0, 0, "0"}, Case{0, -5, "0"}, Case{0xABC, 1, "ABC"},
                         Case{1, 10, "0000000001"}, Case{INT32_MIN, 8, "80000000"}}) {
        EXPECT_EQ(cCpuInfo::HexPad(c.value, c.width), c.text) << c.value << "," << c.width;
    }
    EXPECT_EQ(cCpuInfo::HexPad(255), "000000FF");
}

TEST(CompiledInPath, AnswersLikeThePlacedRoutines) {
    RefusingMemory refusing;
    cCpuInfo fallback(refusing);
    cCpuInfo placed;
    EXPECT_EQ(fallback.Runner().PlacedCount(), 0);
    EXPECT_EQ(fallback.VendorIdStr(), placed.VendorIdStr());
    EXPECT_EQ(fallback.LevelsStd(), placed.LevelsStd());
    EXPECT_EQ(fallback.NameStr(), placed.NameStr());
    EXPECT_EQ(fallback.CpuFamilyStr(), placed.CpuFamilyStr());
}

}  // namespace
}  // namespace cpu_test
