// The information object's core: levels and vendor derived by Refresh, the register-table access,
// feature flags, HexPad and the text decoding of register bytes.
#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::cCpuInfo;

TEST(Vendor, TheIdTextMatchesExactly) {
    const struct {
        std::string_view id;
        std::int32_t code;
        std::string_view manufacturer;
    } cases[] = {{"GenuineIntel", 1, "Intel"},
                 {"Geode by NSC", 10, "National Semiconductor"},
                 {"genuineintel", 0, "Unknown"},
                 {"UMC UMC UMC_", 0, "Unknown"},
                 {"HygonGenuine", 0, "Unknown"}};
    for (const auto& c : cases) {
        cCpuInfo info;
        load(info, {{0, vendor_leaf(1, c.id)}});
        EXPECT_EQ(info.Vendor(), c.code) << c.id;
        EXPECT_EQ(info.ManufacturerStr(), c.manufacturer) << c.id;
        EXPECT_EQ(info.VendorIdStr(), c.id);
    }
}

TEST(Refresh, DerivesFromTheStoredTablesOnly) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(0x0D, "GenuineIntel")}, {kExtended, {0x80000008u, 0, 0, 0}}});
    EXPECT_EQ(info.LevelsStd(), 13);  // masked level; only leaves 0 to 3 are stored
    EXPECT_EQ(info.LevelsExt(), 8);

    // A standard level of 0: no identification, no vendor; the extended level stays.
    info.LevelSet(0, 0, 0, 0, 0);
    EXPECT_EQ(info.LevelsStd(), 13);  // nothing changes before Refresh
    info.Refresh(false);
    EXPECT_EQ(info.LevelsStd(), 0);
    EXPECT_FALSE(info.Supported());
    EXPECT_TRUE(info.Extended());
    EXPECT_EQ(info.Vendor(), 0);
    EXPECT_EQ(info.ManufacturerStr(), "");
    info.LevelSet(0, 0x100 | 2, 0x756E6547, 0x6C65746E, 0x49656E69);  // level bits above 8 ignored
    info.Refresh(false);
    EXPECT_EQ(info.LevelsStd(), 2);
    EXPECT_EQ(info.Vendor(), 1);

    const cCpuInfo live;
    info.Refresh(true);  // reads this processor again
    EXPECT_EQ(syskit::cpu_leaves(info)[0], syskit::cpu_leaves(live)[0]);
    EXPECT_EQ(info.Vendor(), live.Vendor());
}

TEST(LevelAccess, OutsideTheTablesNothingHappens) {
    cCpuInfo info;
    load(info, {{12, {1, 2, 3, 4}}});
    for (const int n : {13, -1, 1000}) {
        std::int32_t eax = 7, ebx = 7, ecx = 7, edx = 7;
        info.LevelSet(n, 9, 9, 9, 9);
        info.LevelGet(n, eax, ebx, ecx, edx);
        EXPECT_EQ((std::array{eax, ebx, ecx, edx}), (std::array{7, 7, 7, 7})) << n;
    }
    std::int32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    info.LevelGet(12, eax, ebx, ecx, edx);
    EXPECT_EQ((std::array{eax, ebx, ecx, edx}), (std::array{1, 2, 3, 4}));
}

TEST(VendorIdStr, ReadsEitherLeafWithoutGuard) {
    cCpuInfo info;
    load(info, {{kExtended, {0, 0x000000B5, 0x41, 0x20}}});
    EXPECT_EQ(info.VendorIdStr(), std::string(12, '\0'));
    // Register bytes are code-page characters, least significant byte first.
    EXPECT_EQ(info.VendorIdStr(false), std::string("\u00B5\0\0\0 \0\0\0A\0\0\0", 13));
}

TEST(Feature, TestsItsBitUnderItsLeafsGuard) {
    cCpuInfo info;
    load(info, {{0, vendor_leaf(1, "GenuineIntel")},
                {kLeaf1, {0, 0, 0x80000001u, 0x00000001u}},
                {kExtended, {0x80000001u, 0, 0, 0}},
                {kExtended + 1, {0, 0, 0, 0x20000000u}}});
    std::vector<int> set;
    for (std::int32_t type = -1; type <= 96; ++type) {
        if (info.Feature(type)) set.push_back(type);
    }
    EXPECT_EQ(set, (std::vector<int>{0, 31, 32, 93}));
    info.LevelSet(kExtended, 0, 0, 0, 0);
    info.Refresh(false);
    EXPECT_FALSE(info.Feature(93));  // extended level 0
    EXPECT_TRUE(info.Feature(32));
}

TEST(HexPad, PadsToTheWidthAndNeverCuts) {
    const std::tuple<std::int32_t, std::int32_t, std::string_view> cases[] = {
        {255, 8, "000000FF"}, {-1, 4, "FFFFFFFF"},   {0, -5, "0"},
        {0xABC, 1, "ABC"},    {1, 10, "0000000001"}, {INT32_MIN, 8, "80000000"}};
    for (const auto& [value, width, text] : cases)
        EXPECT_EQ(cCpuInfo::HexPad(value, width), text) << value << "," << width;
    EXPECT_EQ(cCpuInfo::HexPad(255), "000000FF");
}

TEST(CompiledInPath, AnswersLikeThePlacedRoutines) {
    RefusingMemory refusing;
    const cCpuInfo fallback(refusing), placed;
    EXPECT_EQ(fallback.Runner().PlacedCount(), 0);
    EXPECT_EQ(syskit::cpu_leaves(fallback)[0], syskit::cpu_leaves(placed)[0]);
    EXPECT_EQ(fallback.NameStr(), placed.NameStr());
}

}  // namespace
}  // namespace cpu_test
