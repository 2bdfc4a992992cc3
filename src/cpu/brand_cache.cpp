// Brand, cache, serial number and the extended leaves: brand names, cache descriptor bytes of
// leaf 2, the cache and TLB fields of leaves 0x80000005 and 0x80000006, the serial number of leaf
// 3, the APIC id and logical count of leaf 1, address sizes and power-management flags. Fields
// are constant tables of (register, lowest bit, mask) read by one loop; names are tables too.
#include <array>
#include <string>
#include <string_view>

#include "syskit/cpu.hpp"

namespace syskit {
namespace {

struct BrandRow {
    std::int32_t value;
    std::string_view name;
};

constexpr BrandRow kBrands[] = {
    {1, "0.18 µm Intel Celeron"},
    {2, "0.18 µm Intel Pentium III"},
    {3, "0.18 µm Intel Pentium III Xeon OR 0.13 µm Intel Celeron"},
    {4, "0.13 µm Intel Pentium III"},
    {6, "0.13 µm Intel Pentium III mobile"},
    {7, "0.13 µm Intel Celeron mobile"},
    {8, "0.18 µm Intel Pentium 4 OR 0.13 µm Intel Celeron 4 mobile (0F24h)"},
    {9, "0.13 µm Intel Pentium 4"},
    {10, "0.18 µm Intel Celeron 4"},
    {11, "0.18 µm Intel Pentium 4 Xeon MP OR 0.13 µm Intel Pentium 4 Xeon"},
    {12, "0.13 µm Intel Pentium 4 Xeon MP"},
    {14, "0.13 µm Intel Pentium 4 mobile"},
    {15, "0.13 µm Intel Celeron 4 mobile (0F27h)"},
    {22, "0.13 µm Intel Pentium M"},
};

// Opteron names by table index t (3 to 5); the number k follows them directly.
constexpr std::array<std::string_view, 3> kOpterons{"Opteron UP 1", "Opteron DP 2", "Opteron MP 8"};
constexpr std::int32_t kFirstOpteron = 3;

// One field of the extended cache leaves: `leaf` indexes the extended table (5 or 6).
struct CacheField {
    std::uint8_t leaf;
    std::uint8_t reg;  // 0 EAX, 1 EBX, 2 ECX, 3 EDX
    std::uint8_t shift;
    std::int32_t mask;
};

constexpr CacheField kCacheFields[28] = {
    // 0x80000005: level-1 TLBs (2/4 MB pages in EAX, 4 KB pages in EBX) and caches (data in ECX,
    // instruction in EDX), each as associativity/entries or size/associativity/lines/line size.
    {5, 0, 24, 0xFF},
    {5, 0, 16, 0xFF},
    {5, 0, 8, 0xFF},
    {5, 0, 0, 0xFF},
    {5, 1, 24, 0xFF},
    {5, 1, 16, 0xFF},
    {5, 1, 8, 0xFF},
    {5, 1, 0, 0xFF},
    {5, 2, 24, 0xFF},
    {5, 2, 16, 0xFF},
    {5, 2, 8, 0xFF},
    {5, 2, 0, 0xFF},
    {5, 3, 24, 0xFF},
    {5, 3, 16, 0xFF},
    {5, 3, 8, 0xFF},
    {5, 3, 0, 0xFF},
    // 0x80000006: level-2 TLBs (EAX, EBX) and the level-2 cache (ECX).
    {6, 0, 28, 0xF},
    {6, 0, 16, 0xFFF},
    {6, 0, 12, 0xF},
    {6, 0, 0, 0xFFF},
    {6, 1, 28, 0xF},
    {6, 1, 16, 0xFFF},
    {6, 1, 12, 0xF},
    {6, 1, 0, 0xFFF},
    {6, 2, 16, 0xFFFF},
    {6, 2, 12, 0xF},
    {6, 2, 8, 0xF},
    {6, 2, 0, 0xFF},
};

struct AssociativityRow {
    std::int32_t code;
    std::string_view name;
};

constexpr AssociativityRow kAssociativities[] = {
    {0, "Off"},   {1, "Direct mapped"}, {2, "2-way"},  {4, "4-way"},
    {6, "8-way"}, {8, "16-way"},        {255, "Full"},
};

}  // namespace

std::int32_t cCpuInfo::CpuBrand(bool Standard) const {
    if (Standard) return levels_std_ >= 1 ? standard_[1][1] & 0xFF : 0;
    return levels_ext_ >= 1 ? extended_[1][1] & 0xFFF : 0;
}

std::string cCpuInfo::CpuBrandStr(bool Standard) const {
    if (levels_std_ < 1) return {};
    std::int32_t table = 0;
    std::int32_t number = 0;
    if (Standard) {
        const std::int32_t brand = CpuBrand(true);
        for (const BrandRow& row : kBrands) {
            if (row.value == brand) return std::string(row.name);
        }
        if (vendor_ != kAmd) return {};
        table = runner_.ShiftRight(brand, 5);
        number = (brand & 0x1F) * 2 + 32;
    } else {
        if (vendor_ != kAmd) return {};
        const std::int32_t brand = CpuBrand(false);
        if (brand == 0) return {};
        table = runner_.ShiftRight(brand, 8);
        number = (brand & 0xFF) * 2 + 32;
    }
    if (table < kFirstOpteron ||
        table >= kFirstOpteron + static_cast<std::int32_t>(kOpterons.size())) {
        return {};
    }
    return std::string(kOpterons[table - kFirstOpteron]) + std::to_string(number);
}

std::vector<std::uint8_t> cCpuInfo::CacheDescriptors() {
    if (levels_std_ < 2) return {0};
    // Each register with bit 31 clear holds four descriptor bytes, most significant first; zero
    // bytes are no descriptor. EAX's low byte is the number of times leaf 2 must be queried.
    const std::int32_t queries = standard_[2][0] & 0xFF;
    std::vector<std::uint8_t> descriptors;
    for (std::int32_t q = 0; q < queries; ++q) {
        Record& leaf = standard_[2];
        for (std::size_t r = 0; r < leaf.size(); ++r) {
            const std::int32_t value =
                r == 0 ? (leaf[0] & static_cast<std::int32_t>(0xFFFFFF00u)) : leaf[r];
            if (runner_.ShiftRight(value, 31) != 0) continue;
            for (int shift = 24; shift >= 0; shift -= 8) {
                const auto byte = static_cast<std::uint8_t>(bits(value, shift, 0xFF));
                if (byte != 0) descriptors.push_back(byte);
            }
        }
        if (queries <= 1) continue;
        if (!dump_leaf2_) {
            runner_.CpuID(2, leaf[0], leaf[1], leaf[2], leaf[3]);
        } else if (dump_leaf2_used_ < dump_leaf2_->size()) {
            // A dump answers from what it holds, never from this processor.
            leaf = (*dump_leaf2_)[dump_leaf2_used_++];
        } else {
            break;  // the dump holds no further answer of leaf 2
        }
    }
    return descriptors;
}

std::int32_t cCpuInfo::xCache(std::int32_t Field) const {
    if (levels_ext_ < 6 || Field < 0 || Field >= static_cast<std::int32_t>(std::size(kCacheFields)))
        return 0;
    const CacheField& field = kCacheFields[Field];
    return bits(extended_[field.leaf][field.reg], field.shift, field.mask);
}

std::string cCpuInfo::xCacheAssocStr(std::int32_t nType) const {
    if (levels_ext_ < 6) return {};
    for (const AssociativityRow& row : kAssociativities) {
        if (row.code == nType) return std::string(row.name);
    }
    return {};
}

std::int32_t cCpuInfo::SnStatus() const {
    if (levels_std_ < 3) return 0;
    return Feature(50) ? 2 : 1;  // 50: the processor-serial-number flag, EDX bit 18 of leaf 1
}

std::string cCpuInfo::SnStr() const {
    if (SnStatus() != 2) return {};
    const std::int32_t parts[] = {standard_[1][0], standard_[3][3], standard_[3][2]};
    std::string serial;
    for (const std::int32_t part : parts) {
        if (!serial.empty()) serial += '-';
        serial += HexPad(runner_.ShiftRight(part, 16), 4);
        serial += '-';
        serial += HexPad(part & 0xFFFF, 4);
    }
    return serial;
}

std::int32_t cCpuInfo::ApicID() const {
    return levels_std_ >= 1 ? bits(standard_[1][1], 24, 0xFF) : 0;
}

std::optional<std::int32_t> cCpuInfo::CpuLogicalCount() const {
    if (levels_std_ < 1) return std::nullopt;
    return bits(standard_[1][1], 16, 0xFF);
}

std::int32_t cCpuInfo::xAddrBitsPhysical() const {
    return levels_ext_ >= 8 ? extended_[8][0] & 0xFF : 0;
}

std::int32_t cCpuInfo::xAddrBitsVirtual() const {
    return levels_ext_ >= 8 ? bits(extended_[8][0], 8, 0xFF) : 0;
}

std::string_view cpu_power_management_name(std::int32_t nType) noexcept {
    // EDX of extended leaf 0x80000007, as Linux names the bits; later bits have no name here.
    static constexpr std::array<std::string_view, 13> kNames = {"ts",
                                                                "fid",
                                                                "vid",
                                                                "ttp",
                                                                "tm",
                                                                "stc",
                                                                "100mhzsteps",
                                                                "hwpstate",
                                                                "constant_tsc",
                                                                "cpb",
                                                                "eff_freq_ro",
                                                                "proc_feedback",
                                                                "proc_power_reporting"};
    if (nType < 0 || nType >= static_cast<std::int32_t>(kNames.size())) return {};
    return kNames[static_cast<std::size_t>(nType)];
}

bool cCpuInfo::xPowerManagement(std::int32_t nType) const {
    if (levels_ext_ < 7 || nType < 0 || nType > 31) return false;
    return bits(extended_[7][3], nType, 1) == 1;
}

}  // namespace syskit
