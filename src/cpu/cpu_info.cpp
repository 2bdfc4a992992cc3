// cCpuInfo: the stored register tables, the levels and vendor derived from them, feature flags and
// the two text helpers. Every decoding operation reads only the tables, so registers captured on
// another machine decode exactly as they would there.
#include <algorithm>
#include <array>
#include <charconv>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/code_memory.hpp"
#include "platform/counter.hpp"
#include "syskit/cpu.hpp"
#include "syskit/text.hpp"

namespace syskit {
namespace {

constexpr std::int32_t kStandardRecords = 4;
constexpr std::int32_t kStoredRecords = 13;
constexpr std::int32_t kExtendedBase = static_cast<std::int32_t>(0x80000000u);

struct VendorRow {
    CpuVendor code;
    std::string_view id;
    std::string_view manufacturer;
};

// In vendor-code order; code 0 matches no ID text.
constexpr std::array<VendorRow, 11> kVendors{{
    {kUnknownVendor, "", "Unknown"},
    {kIntel, "GenuineIntel", "Intel"},
    {kAmd, "AuthenticAMD", "AMD"},
    {kUmc, "UMC UMC UMC ", "UMC"},
    {kCyrix, "CyrixInstead", "Cyrix"},
    {kNexGen, "NexGenDriven", "NexGen"},
    {kCentaur, "CentaurHauls", "Centaur"},
    {kRise, "RiseRiseRise", "Rise"},
    {kSis, "SiS SiS SiS ", "SIS"},
    {kTransmeta, "GenuineTMx86", "Transmeta"},
    {kNationalSemiconductor, "Geode by NSC", "National Semiconductor"},
}};

constexpr bool in_code_order() {
    for (std::size_t i = 0; i < kVendors.size(); ++i) {
        if (kVendors[i].code != static_cast<std::int32_t>(i)) return false;
    }
    return true;
}
static_assert(in_code_order(), "a vendor's row is found by its code");

// The conventional names of the flags Feature(0..95) reports, as Linux names them; "" for a bit
// without one.
constexpr std::array<std::string_view, 96> kFeatureNames = {
    // Standard leaf 1, ECX.
    "sse3", "pclmulqdq", "dtes64", "monitor", "ds_cpl", "vmx", "smx", "est", "tm2", "ssse3",
    "cnxt_id", "sdbg", "fma", "cx16", "xtpr", "pdcm", "", "pcid", "dca", "sse4_1", "sse4_2",
    "x2apic", "movbe", "popcnt", "tsc_deadline", "aes", "xsave", "osxsave", "avx", "f16c", "rdrand",
    "hypervisor",
    // Standard leaf 1, EDX.
    "fpu", "vme", "de", "pse", "tsc", "msr", "pae", "mce", "cx8", "apic", "", "sep", "mtrr", "pge",
    "mca", "cmov", "pat", "pse36", "psn", "clflush", "", "ds", "acpi", "mmx", "fxsr", "sse", "sse2",
    "ss", "htt", "tm", "ia64", "pbe",
    // Extended leaf 0x80000001, EDX.
    "fpu", "vme", "de", "pse", "tsc", "msr", "pae", "mce", "cx8", "apic", "", "syscall", "mtrr",
    "pge", "mca", "cmov", "pat", "pse36", "", "mp", "nx", "", "mmxext", "mmx", "fxsr", "fxsr_opt",
    "pdpe1gb", "rdtscp", "", "lm", "3dnowext", "3dnow"};

}  // namespace

std::string_view cpu_feature_name(std::int32_t nType) noexcept {
    if (nType < 0 || nType >= static_cast<std::int32_t>(kFeatureNames.size())) return {};
    return kFeatureNames[static_cast<std::size_t>(nType)];
}

cCpuInfo::cCpuInfo() : cCpuInfo(platform::code_memory()) {}

cCpuInfo::cCpuInfo(platform::CodeMemory& memory) : runner_(memory) {
    // Construction carries on past a failing step, as the object always has.
    try {
        Refresh(true);
    } catch (const Error&) {
    }
    counter_frequency_ = Currency::from_raw(platform::performance_frequency());
}

void cCpuInfo::Refresh(bool bReReadCPU) {
    if (bReReadCPU) {
        dump_leaf2_.reset();
        for (std::int32_t i = 0; i < kStandardRecords; ++i) {
            Record& r = standard_[i];
            runner_.CpuID(i, r[0], r[1], r[2], r[3]);
        }
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(extended_.size()); ++i) {
            Record& r = extended_[i];
            runner_.CpuID(kExtendedBase + i, r[0], r[1], r[2], r[3]);
        }
    }
    levels_std_ = standard_[0][0] & 0xFF;
    if (levels_std_ == 0) return;  // the extended level and the vendor keep their values
    levels_ext_ = extended_[0][0] & 0xFF;

    const std::string id = VendorIdStr(true);
    vendor_ = kUnknownVendor;
    for (const VendorRow& row : kVendors) {
        if (row.code != kUnknownVendor && id == row.id) {
            vendor_ = row.code;
            break;
        }
    }
}

void cCpuInfo::LevelGet(std::int32_t nReg, std::int32_t& eax, std::int32_t& ebx, std::int32_t& ecx,
                        std::int32_t& edx) const {
    if (nReg < 0 || nReg >= kStoredRecords) return;
    const Record& r =
        nReg < kStandardRecords ? standard_[nReg] : extended_[nReg - kStandardRecords];
    eax = r[0];
    ebx = r[1];
    ecx = r[2];
    edx = r[3];
}

void cCpuInfo::LevelSet(std::int32_t nReg, std::int32_t eax, std::int32_t ebx, std::int32_t ecx,
                        std::int32_t edx) {
    if (nReg < 0 || nReg >= kStoredRecords) return;
    Record& r = nReg < kStandardRecords ? standard_[nReg] : extended_[nReg - kStandardRecords];
    r = {eax, ebx, ecx, edx};
}

std::int32_t cCpuInfo::Vendor() const noexcept {
    return levels_std_ < 1 ? 0 : vendor_;
}

std::string cCpuInfo::VendorIdStr(bool Standard) const {
    const Record& r = Standard ? standard_[0] : extended_[0];
    return DecodeValue(r[1]) + DecodeValue(r[3]) + DecodeValue(r[2]);
}

std::string cCpuInfo::ManufacturerStr() const {
    if (levels_std_ == 0) return {};
    return std::string(kVendors[static_cast<std::size_t>(vendor_)].manufacturer);
}

bool cCpuInfo::Feature(std::int32_t nType) const {
    std::int32_t reg = 0;
    if (nType >= 0 && nType < 32 && levels_std_ >= 1) {
        reg = standard_[1][2];  // ECX of leaf 1
    } else if (nType >= 32 && nType < 64 && levels_std_ >= 1) {
        reg = standard_[1][3];  // EDX of leaf 1
    } else if (nType >= 64 && nType < 96 && levels_ext_ >= 1) {
        reg = extended_[1][3];  // EDX of leaf 0x80000001
    } else {
        return false;
    }
    return bits(reg, nType % 32, 1) == 1;
}

std::string cCpuInfo::HexPad(std::int32_t nValue, std::int32_t nWidth) {
    char digits[8];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(nValue), 16).ptr;
    std::transform(digits, end, digits,
                   [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
    const auto length = static_cast<std::int32_t>(end - digits);
    try {
        std::string text(static_cast<std::size_t>(std::max(nWidth - length, 0)), '0');
        text.append(digits, end);
        return text;
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryError();
    } catch (const std::length_error&) {
        throw OutOfMemoryError();
    }
}

std::string cCpuInfo::DecodeValue(std::int32_t value) const {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(bits(value, static_cast<int>(8 * i), 0xFF));
    }
    return text::from_ansi(bytes);
}

std::int32_t cCpuInfo::bits(std::int32_t value, int shift, std::int32_t mask) const {
    return runner_.ShiftRight(value, shift) & mask;
}

const cCpuInfo::Record& cCpuInfo::signature_leaf(bool standard) const {
    return standard ? standard_[1] : extended_[1];
}

bool cCpuInfo::signature_available(bool standard) const noexcept {
    return standard ? levels_std_ >= 1 : levels_ext_ >= 1;
}

// --- Captured registers -----------------------------------------------------------------------

CpuLeaves cpu_leaves(const cCpuInfo& info) {
    CpuLeaves leaves{};
    for (int n = 0; n < kStoredRecords; ++n) {
        std::int32_t r[4] = {};
        info.LevelGet(n, r[0], r[1], r[2], r[3]);
        for (int i = 0; i < 4; ++i) leaves[n][i] = static_cast<std::uint32_t>(r[i]);
    }
    return leaves;
}

CpuDump capture_cpu_dump(const cCpuInfo& info) {
    CpuDump dump{cpu_leaves(info), {}};
    if (info.dump_leaf2_) {
        for (const cCpuInfo::Record& r : *info.dump_leaf2_) {
            dump.leaf2_again.push_back(
                {static_cast<std::uint32_t>(r[0]), static_cast<std::uint32_t>(r[1]),
                 static_cast<std::uint32_t>(r[2]), static_cast<std::uint32_t>(r[3])});
        }
        return dump;
    }
    if (info.LevelsStd() < 2) return dump;
    const std::uint32_t queries = dump.leaves[2][0] & 0xFF;
    for (std::uint32_t q = 1; q < queries; ++q) {
        std::int32_t r[4] = {};
        info.Runner().CpuID(2, r[0], r[1], r[2], r[3]);
        dump.leaf2_again.push_back(
            {static_cast<std::uint32_t>(r[0]), static_cast<std::uint32_t>(r[1]),
             static_cast<std::uint32_t>(r[2]), static_cast<std::uint32_t>(r[3])});
    }
    return dump;
}

void load_cpu_dump(cCpuInfo& info, const CpuDump& dump) {
    // Refresh(false) keeps the extended level and the vendor when the standard level is 0, so
    // first derive them from an empty processor with one standard level: extended level 0,
    // vendor 0, as an object created on a processor without those leaves would have.
    info.LevelSet(0, 1, 0, 0, 0);
    info.LevelSet(kStandardRecords, 0, 0, 0, 0);
    info.Refresh(false);
    for (int n = 0; n < kStoredRecords; ++n) {
        const auto& r = dump.leaves[n];
        info.LevelSet(n, static_cast<std::int32_t>(r[0]), static_cast<std::int32_t>(r[1]),
                      static_cast<std::int32_t>(r[2]), static_cast<std::int32_t>(r[3]));
    }
    info.Refresh(false);
    info.dump_leaf2_.emplace();
    for (const CpuRegisters& r : dump.leaf2_again) {
        info.dump_leaf2_->push_back(
            {static_cast<std::int32_t>(r[0]), static_cast<std::int32_t>(r[1]),
             static_cast<std::int32_t>(r[2]), static_cast<std::int32_t>(r[3])});
    }
    info.dump_leaf2_used_ = 0;
}

}  // namespace syskit
