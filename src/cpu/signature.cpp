// Signature decoding: family, model, stepping and type from EAX of the signature leaf, and their
// names. The names are constant tables, one row per (vendor, family, extended family, model),
// read by one small loop each; the first matching row wins.
#include <span>
#include <string>
#include <string_view>

#include "syskit/cpu.hpp"

namespace syskit {
namespace {

constexpr std::int8_t kAny = -1;

struct FamilyRow {
    std::int8_t family;
    std::int8_t vendor;     // kAny: every vendor
    std::int8_t family_ex;  // kAny: every extended family
    std::string_view name;
};

constexpr FamilyRow kStandardFamilies[] = {
    {4, kIntel, kAny, "80486"},
    {4, kAmd, kAny, "5x86"},
    {4, kCyrix, kAny, "5x86"},
    {5, kIntel, kAny, "P5, P54C, P55C, P24T"},
    {5, kAmd, kAny, "K5, K6"},
    {5, kCyrix, kAny, "M1"},
    {5, kNexGen, kAny, "Nx586"},
    {5, kCentaur, kAny, "C6, C2, C3"},
    {5, kRise, kAny, "mP6"},
    {5, kSis, kAny, "55x"},
    {5, kTransmeta, kAny, "TM3x00, TM5x00"},
    {6, kIntel, kAny, "P6, P2, P3, PM"},
    {6, kAmd, kAny, "K7"},
    {6, kCyrix, kAny, "M2"},
    {6, kCentaur, kAny, "C3"},
    {7, kIntel, kAny, "Itanium"},
    {15, kIntel, 0, "P4"},
    {15, kAmd, 0, "K8"},
    {15, kAny, 1, "Itanium 2"},
};

constexpr FamilyRow kExtendedFamilies[] = {
    {5, kAmd, kAny, "K5"}, {5, kCentaur, kAny, "C2, C3"}, {5, kTransmeta, kAny, "TM3x00, TM5x00"},
    {6, kAmd, kAny, "K6"}, {6, kCentaur, kAny, "C3"},     {7, kAmd, kAny, "K7"},
    {15, kAmd, 0, "K8"},
};

struct ModelRow {
    std::int8_t vendor;
    std::int8_t family;     // kAny: every family
    std::int8_t family_ex;  // kAny: every extended family
    std::int8_t model;
    std::string_view name;
    std::string_view name_from_stepping_8;  // empty: `name` at every stepping
};

constexpr ModelRow kStandardModels[] = {
    {kIntel, 4, kAny, 0, "i80486DX-25/33", {}},
    {kIntel, 4, kAny, 1, "i80486DX-50", {}},
    {kIntel, 4, kAny, 2, "i80486SX", {}},
    {kIntel, 4, kAny, 3, "i80486DX2", {}},
    {kIntel, 4, kAny, 4, "i80486SL", {}},
    {kIntel, 4, kAny, 5, "i80486SX2", {}},
    {kIntel, 4, kAny, 7, "i80486DX2WB", {}},
    {kIntel, 4, kAny, 8, "i80486DX4", {}},
    {kIntel, 4, kAny, 9, "i80486DX4WB", {}},
    {kIntel, 5, kAny, 0, "P5 A-step", {}},
    {kIntel, 5, kAny, 1, "P5", {}},
    {kIntel, 5, kAny, 2, "P54C", {}},
    {kIntel, 5, kAny, 3, "P24T Overdrive", {}},
    {kIntel, 5, kAny, 4, "P55C", {}},
    {kIntel, 5, kAny, 7, "P55C", {}},
    {kIntel, 5, kAny, 8, "P55C (0.25µm)", {}},
    {kIntel, 6, kAny, 0, "P6 A-step", {}},
    {kIntel, 6, kAny, 1, "P6", {}},
    {kIntel, 6, kAny, 3, "P2 (0.28 µm)", {}},
    {kIntel, 6, kAny, 5, "P2 (0.25 µm)", {}},
    {kIntel, 6, kAny, 6, "P2 with on-die L2 cache", {}},
    {kIntel, 6, kAny, 7, "P3 (0.25 µm)", {}},
    {kIntel, 6, kAny, 8, "P3 (0.18 µm) with 256 KB on-die L2 cache", {}},
    {kIntel, 6, kAny, 9, "PM (0.13 µm) with 1 MB on-die L2 cache", {}},
    {kIntel, 6, kAny, 10, "P3 (0.18 µm) with 1 or 2 MB on-die L2 cache", {}},
    {kIntel, 6, kAny, 11, "P3 (0.13 µm) with 256 or 512 KB on-die L2 cache", {}},
    {kIntel, 15, 0, 0, "P4 (0.18 µm)", {}},
    {kIntel, 15, 0, 1, "P4 (0.18 µm)", {}},
    {kIntel, 15, 0, 2, "P4 (0.13 µm)", {}},
    {kIntel, 15, 0, 3, "P4 (0.09 µm)", {}},
    {kAmd, 4, kAny, 3, "80486DX2", {}},
    {kAmd, 4, kAny, 7, "80486DX2WB", {}},
    {kAmd, 4, kAny, 8, "80486DX4", {}},
    {kAmd, 4, kAny, 9, "80486DX4WB", {}},
    {kAmd, 4, kAny, 14, "5x86", {}},
    {kAmd, 4, kAny, 15, "5x86WB", {}},
    {kAmd, 5, kAny, 0, "SSA5 (PR75, PR90, PR100)", {}},
    {kAmd, 5, kAny, 1, "5k86 (PR120, PR133)", {}},
    {kAmd, 5, kAny, 2, "5k86 (PR166)", {}},
    {kAmd, 5, kAny, 3, "5k86 (PR200)", {}},
    {kAmd, 5, kAny, 6, "K6 (0.30 µm)", {}},
    {kAmd, 5, kAny, 7, "K6 (0.25 µm)", {}},
    {kAmd, 5, kAny, 8, "K6-2", {}},
    {kAmd, 5, kAny, 9, "K6-III", {}},
    {kAmd, 5, kAny, 13, "K6-2+ or K6-III+ (0.18 µm)", {}},
    {kAmd, 6, kAny, 1, "Athlon (0.25 µm)", {}},
    {kAmd, 6, kAny, 2, "Athlon (0.18 µm)", {}},
    {kAmd, 6, kAny, 3, "Duron (SF core)", {}},
    {kAmd, 6, kAny, 4, "Athlon (TB core)", {}},
    {kAmd, 6, kAny, 6, "Athlon (PM core)", {}},
    {kAmd, 6, kAny, 7, "Duron (MG core)", {}},
    {kAmd, 6, kAny, 8, "Athlon (TH core)", {}},
    {kAmd, 6, kAny, 10, "Athlon (BT core)", {}},
    {kAmd, 15, 0, 5, "Opteron DP (0.13 µm)", {}},
    {kUmc, kAny, kAny, 1, "U5D", {}},
    {kUmc, kAny, kAny, 2, "U5S", {}},
    {kCyrix, 4, kAny, 4, "GX, GXm", {}},
    {kCyrix, 4, kAny, 9, "5x86", {}},
    {kCyrix, 5, kAny, 2, "6x86", {}},
    {kCyrix, 5, kAny, 5, "Cyrix M2 core", {}},
    {kCyrix, 5, kAny, 6, "WinChip C5A core", {}},
    {kCyrix, 5, kAny, 7, "WinChip C5B core", "WinChip C5C core"},
    {kCyrix, 5, kAny, 8, "WinChip C5N core", {}},
    {kCyrix, 5, kAny, 9, "WinChip C5XL core", {}},
    {kCyrix, 6, kAny, 0, "6x86MX", {}},
    {kNexGen, kAny, kAny, 0, "Nx586 or Nx586FPU", {}},
    {kCentaur, kAny, kAny, 4, "C6", {}},
    {kCentaur, kAny, kAny, 8, "C2", {}},
    {kCentaur, kAny, kAny, 9, "C3", {}},
    {kRise, kAny, kAny, 0, "mP6 (0.25 µm)", {}},
    {kRise, kAny, kAny, 2, "mP6 (0.18 µm)", {}},
    {kSis, kAny, kAny, 0, "55x", {}},
    {kTransmeta, kAny, kAny, 4, "Crusoe TM3x00 and TM5x00", {}},
};

constexpr ModelRow kExtendedModels[] = {
    {kAmd, 5, kAny, 1, "5k86 (PR120 or PR133)", {}},
    {kAmd, 5, kAny, 2, "5k86 (PR166)", {}},
    {kAmd, 5, kAny, 3, "5k86 (PR200)", {}},
    {kAmd, 6, kAny, 6, "K6 (0.30 µm)", {}},
    {kAmd, 6, kAny, 7, "K6 (0.25 µm)", {}},
    {kAmd, 6, kAny, 8, "K6-2", {}},
    {kAmd, 6, kAny, 9, "K6-III", {}},
    {kAmd, 6, kAny, 13, "K6-2+ or K6-III+ (0.18 µm)", {}},
    {kAmd, 7, kAny, 1, "Athlon (0.25 µm)", {}},
    {kAmd, 7, kAny, 2, "Athlon (0.18 µm)", {}},
    {kAmd, 7, kAny, 3, "Duron (SF core)", {}},
    {kAmd, 7, kAny, 4, "Athlon (TB core)", {}},
    {kAmd, 7, kAny, 6, "Athlon (PM core)", {}},
    {kAmd, 7, kAny, 7, "Duron (MG core)", {}},
    {kAmd, 7, kAny, 8, "Athlon (TH core)", {}},
    {kAmd, 7, kAny, 10, "Athlon (BT core)", {}},
    {kAmd, 15, 0, 5, "Opteron DP (0.13 µm)", {}},
    {kCyrix, kAny, kAny, 6, "WinChip C5A core", {}},
    {kCyrix, kAny, kAny, 7, "WinChip C5B core", "WinChip C5C core"},
    {kCyrix, kAny, kAny, 8, "WinChip C5N core", {}},
    {kCyrix, kAny, kAny, 9, "WinChip C5XL core", {}},
    {kCentaur, kAny, kAny, 8, "C2", {}},
    {kCentaur, kAny, kAny, 9, "C3", {}},
    {kTransmeta, kAny, kAny, 4, "Crusoe TM3x00 and TM5x00", {}},
};

constexpr bool matches(std::int8_t condition, std::int32_t value) noexcept {
    return condition == kAny || condition == value;
}

constexpr std::string_view kCpuTypes[] = {"Primary processor", "Overdrive processor",
                                          "Secondary processor", ""};

}  // namespace

std::int32_t cCpuInfo::CpuStepping(bool Standard) const {
    return signature_available(Standard) ? signature_leaf(Standard)[0] & 0xF : 0;
}

std::int32_t cCpuInfo::CpuModel(bool Standard) const {
    return signature_available(Standard) ? bits(signature_leaf(Standard)[0], 4, 0xF) : 0;
}

std::int32_t cCpuInfo::CpuFamily(bool Standard) const {
    return signature_available(Standard) ? bits(signature_leaf(Standard)[0], 8, 0xF) : 0;
}

std::int32_t cCpuInfo::CpuModelEx(bool Standard) const {
    return signature_available(Standard) ? bits(signature_leaf(Standard)[0], 16, 0xF) : 0;
}

std::int32_t cCpuInfo::CpuFamilyEx(bool Standard) const {
    return signature_available(Standard) ? bits(signature_leaf(Standard)[0], 20, 0xFF) : 0;
}

std::int32_t cCpuInfo::CpuType() const {
    return levels_std_ >= 1 ? bits(standard_[1][0], 12, 3) : 0;
}

std::string cCpuInfo::CpuTypeStr() const {
    return levels_std_ >= 1 ? std::string(kCpuTypes[CpuType()]) : std::string();
}

std::string cCpuInfo::CpuFamilyStr(bool Standard) const {
    if (levels_std_ < 1) return {};
    const std::int32_t family = CpuFamily(Standard);
    const std::int32_t family_ex = CpuFamilyEx(Standard);
    const std::span<const FamilyRow> table = Standard
                                                 ? std::span<const FamilyRow>(kStandardFamilies)
                                                 : std::span<const FamilyRow>(kExtendedFamilies);
    for (const FamilyRow& row : table) {
        if (row.family == family && matches(row.vendor, vendor_) &&
            matches(row.family_ex, family_ex)) {
            return std::string(row.name);
        }
    }
    return {};
}

std::string cCpuInfo::CpuModelStr(bool Standard) const {
    if (levels_std_ < 1) return {};
    const std::int32_t model = CpuModel(Standard);
    const std::int32_t family = CpuFamily(Standard);
    const std::int32_t family_ex = CpuFamilyEx(Standard);
    const std::span<const ModelRow> table = Standard ? std::span<const ModelRow>(kStandardModels)
                                                     : std::span<const ModelRow>(kExtendedModels);
    std::string name;
    for (const ModelRow& row : table) {
        if (row.vendor == vendor_ && row.model == model && matches(row.family, family) &&
            matches(row.family_ex, family_ex)) {
            const bool later = !row.name_from_stepping_8.empty() && CpuStepping(Standard) >= 8;
            name = later ? row.name_from_stepping_8 : row.name;
            break;
        }
    }
    if (model == 15) name += " - Extended model #" + HexPad(CpuModelEx(Standard), 0);
    return name;
}

std::string cCpuInfo::NameStr() const {
    if (levels_ext_ < 4) return {};
    std::string name;
    for (std::size_t leaf = 2; leaf <= 4; ++leaf) {
        for (const std::int32_t reg : extended_[leaf]) name += DecodeValue(reg);
    }
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = name.find_last_not_of(' ');
    return name.substr(first, last - first + 1);
}

}  // namespace syskit
