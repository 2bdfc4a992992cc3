// syskit/cpu.hpp — processor identification: the machine-code runner `cCPUID`, the processor
// information object `cCpuInfo`, and captured register dumps.
//
// `cCPUID` reaches three instructions that have no portable equivalent (RDTSC, CPUID and a logical
// right shift) through tiny machine-code routines that it places in executable memory when it is
// created, one block per routine, bound to CpuClk, CpuID and ShiftRight in placing order. A 32-bit
// x86 process runs the system's 32-bit routine texts byte for byte; x86-64 processes run routine
// texts of their own with the same contract. Where the platform refuses executable memory, or on
// other processors, each operation falls back to a compiled-in equivalent where the processor has
// one, and otherwise does nothing (CpuClk and CpuID leave their outputs alone, ShiftRight returns
// 0).
//
// `cCpuInfo` reads standard leaves 0 to 3 and extended leaves 0x80000000 to 0x80000008 once when it
// is created and decodes every answer from those stored registers. LevelSet followed by
// Refresh(false) decodes registers captured on another machine; parse_cpu_dump and
// load_cpu_dump do that from a text dump, after which the object never asks this processor.
//
// Texts are UTF-8; register bytes become characters through the code page of syskit/text.hpp.
// Argument names are the system's own. Arguments passed "by reference" only for input are plain
// values here; outputs are references.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "syskit/currency.hpp"
#include "syskit/error.hpp"

namespace syskit {

namespace platform {
// Where the runner places its routines (src/platform/code_memory.hpp); the platform's own
// executable memory unless a test gives another.
class CodeMemory;
}  // namespace platform

// --- The machine-code runner ----------------------------------------------------------------

class cCPUID {
  public:
    // Places the three routines in the platform's executable memory (or in `memory`) and binds
    // them. Placing never fails loudly: a routine that cannot be placed leaves its operation on
    // the fallback (see PlacedCount).
    cCPUID();
    explicit cCPUID(platform::CodeMemory& memory);
    // Frees the blocks.
    ~cCPUID();
    cCPUID(const cCPUID&) = delete;
    cCPUID& operator=(const cCPUID&) = delete;

    // Reads the time-stamp counter into the stored integer of `Cycles` (numerically the counter
    // divided by 10 000).
    void CpuClk(Currency& Cycles) const;

    // Runs CPUID for leaf `nLevel` (no sub-leaf is selected). A processor without CPUID gives 0 in
    // all four outputs.
    void CpuID(std::int32_t nLevel, std::int32_t& eax, std::int32_t& ebx, std::int32_t& ecx,
               std::int32_t& edx) const;

    // `Value` shifted right by the low 5 bits of `Shift` as an unsigned 32-bit number.
    [[nodiscard]] std::int32_t ShiftRight(std::int32_t Value, std::int32_t Shift) const;

    // How many of the three operations run placed machine code (3 on x86 where the platform
    // allows executable memory; 0 on other processors or where placing was refused).
    [[nodiscard]] int PlacedCount() const noexcept;

  private:
    struct PlacedRoutine {
        void* block;       // the routine's code block; nullptr when placing failed
        std::size_t size;  // bytes in the block
    };

    void InitCode(std::string_view sCode);

    platform::CodeMemory& memory_;
    std::vector<PlacedRoutine> placed_routines_;
    // Entry address of the routine bound to CpuClk, CpuID and ShiftRight; 0 while unbound.
    std::array<std::uintptr_t, 3> bindings_{};
};

// --- The processor information object -------------------------------------------------------

struct CpuDump;

class cCpuInfo {
  public:
    // Creates the runner (in the platform's executable memory, or in `memory`), reads every
    // stored leaf from the processor (Refresh(true)) and reads the performance-counter frequency.
    cCpuInfo();
    explicit cCpuInfo(platform::CodeMemory& memory);

    // -- Registers, levels and vendor
    // Re-reads every stored leaf from the processor when `bReReadCPU` is true (which also ends
    // decoding a loaded dump), then derives the levels and the vendor code from the stored
    // registers.
    void Refresh(bool bReReadCPU);
    // nReg 0 to 3: standard leaves 0 to 3; 4 to 12: extended leaves 0x80000000 to 0x80000008.
    // Any other nReg leaves the outputs unchanged (LevelGet) or changes nothing (LevelSet).
    void LevelGet(std::int32_t nReg, std::int32_t& eax, std::int32_t& ebx, std::int32_t& ecx,
                  std::int32_t& edx) const;
    void LevelSet(std::int32_t nReg, std::int32_t eax, std::int32_t ebx, std::int32_t ecx,
                  std::int32_t edx);
    [[nodiscard]] std::int32_t LevelsStd() const noexcept { return levels_std_; }
    [[nodiscard]] std::int32_t LevelsExt() const noexcept { return levels_ext_; }
    [[nodiscard]] bool Supported() const noexcept { return levels_std_ != 0; }
    [[nodiscard]] bool Extended() const noexcept { return levels_ext_ != 0; }
    // The vendor code: a CpuVendor.
    [[nodiscard]] std::int32_t Vendor() const noexcept;
    [[nodiscard]] std::string VendorIdStr(bool Standard = true) const;
    [[nodiscard]] std::string ManufacturerStr() const;
    [[nodiscard]] bool Feature(std::int32_t nType) const;
    // nValue in upper-case hexadecimal, padded with "0" in front to nWidth characters.
    [[nodiscard]] static std::string HexPad(std::int32_t nValue, std::int32_t nWidth = 8);

    // -- Signature and names
    [[nodiscard]] std::int32_t CpuFamily(bool Standard = true) const;
    [[nodiscard]] std::int32_t CpuFamilyEx(bool Standard = true) const;
    [[nodiscard]] std::int32_t CpuModel(bool Standard = true) const;
    [[nodiscard]] std::int32_t CpuModelEx(bool Standard = true) const;
    [[nodiscard]] std::int32_t CpuStepping(bool Standard = true) const;
    [[nodiscard]] std::int32_t CpuType() const;
    [[nodiscard]] std::string CpuTypeStr() const;
    [[nodiscard]] std::string CpuFamilyStr(bool Standard = true) const;
    [[nodiscard]] std::string CpuModelStr(bool Standard = true) const;
    [[nodiscard]] std::string NameStr() const;

    // -- Brand, caches, serial number, extended information
    [[nodiscard]] std::int32_t CpuBrand(bool Standard = true) const;
    [[nodiscard]] std::string CpuBrandStr(bool Standard = true) const;
    // The descriptor bytes of standard leaf 2; element i is [i - 1] here. When leaf 2's count
    // byte asks for more than one query, asks again and stores the last answer: this processor,
    // or for a loaded dump the dump's further answers of leaf 2, stopping when it has no more.
    [[nodiscard]] std::vector<std::uint8_t> CacheDescriptors();
    [[nodiscard]] std::int32_t xCache(std::int32_t Field) const;
    [[nodiscard]] std::string xCacheAssocStr(std::int32_t nType) const;
    [[nodiscard]] std::int32_t SnStatus() const;
    [[nodiscard]] std::string SnStr() const;
    [[nodiscard]] std::int32_t ApicID() const;
    // No value (not 0) when standard leaf 1 is not available.
    [[nodiscard]] std::optional<std::int32_t> CpuLogicalCount() const;
    [[nodiscard]] std::int32_t xAddrBitsPhysical() const;
    [[nodiscard]] std::int32_t xAddrBitsVirtual() const;
    [[nodiscard]] bool xPowerManagement(std::int32_t nType) const;

    // -- Clock measurement
    // Reads the performance counter, then the time-stamp counter.
    void BenchStart();
    // Reads both counters again and gives the seconds and time-stamp ticks since BenchStart.
    // Raises DivisionByZeroError when the counter frequency is 0 (outputs unchanged) and
    // OverflowError when the tick difference exceeds 922 337 203 685 477 (fSeconds already
    // stored, cCpuCycles unchanged).
    void BenchStop(double& fSeconds, Currency& cCpuCycles);

    // The object's runner (for PlacedCount).
    [[nodiscard]] const cCPUID& Runner() const noexcept { return runner_; }

  private:
    friend struct CpuInfoTestAccess;
    friend void load_cpu_dump(cCpuInfo& info, const CpuDump& dump);
    friend CpuDump capture_cpu_dump(const cCpuInfo& info);
    using Record = std::array<std::int32_t, 4>;  // EAX, EBX, ECX, EDX

    [[nodiscard]] std::string DecodeValue(std::int32_t value) const;
    [[nodiscard]] std::int32_t bits(std::int32_t value, int shift, std::int32_t mask) const;
    [[nodiscard]] const Record& signature_leaf(bool standard) const;
    [[nodiscard]] bool signature_available(bool standard) const noexcept;

    cCPUID runner_;
    std::int32_t levels_std_ = 0;
    std::int32_t levels_ext_ = 0;
    std::int32_t vendor_ = 0;
    Currency bench_start_cycles_;
    Currency bench_stop_cycles_;
    Currency counter_frequency_;
    Currency bench_start_count_;
    Currency bench_stop_count_;
    std::array<Record, 4> standard_{};
    std::array<Record, 9> extended_{};
    // Set while a loaded dump is decoded: its further answers of leaf 2, and how many of them
    // CacheDescriptors has used. Empty for this processor.
    std::optional<std::vector<Record>> dump_leaf2_;
    std::size_t dump_leaf2_used_ = 0;
};

// --- Names ------------------------------------------------------------------------------------

// The vendor codes Vendor() gives, in the order of the vendor table (0: no known vendor).
enum CpuVendor : std::int32_t {
    kUnknownVendor = 0,
    kIntel = 1,
    kAmd = 2,
    kUmc = 3,
    kCyrix = 4,
    kNexGen = 5,
    kCentaur = 6,
    kRise = 7,
    kSis = 8,
    kTransmeta = 9,
    kNationalSemiconductor = 10,
};

// The conventional name of the flag Feature(nType) reports (nType 0 to 95: ECX and EDX of
// standard leaf 1, EDX of extended leaf 0x80000001), as Linux names it; empty for a bit without
// one and for nType outside the range.
[[nodiscard]] std::string_view cpu_feature_name(std::int32_t nType) noexcept;

// The name of the power-management flag xPowerManagement(nType) reports (EDX of extended leaf
// 0x80000007); empty for a bit without one.
[[nodiscard]] std::string_view cpu_power_management_name(std::int32_t nType) noexcept;

// --- Captured register dumps ----------------------------------------------------------------

// The registers of one answer of CPUID: EAX, EBX, ECX, EDX.
using CpuRegisters = std::array<std::uint32_t, 4>;

// The 13 stored leaves of a processor, in LevelGet's numbering (0 to 3 standard leaves 0 to 3,
// 4 to 12 extended leaves 0x80000000 to 0x80000008).
using CpuLeaves = std::array<CpuRegisters, 13>;

// The CPUID leaf number that LevelGet's nReg stands for.
[[nodiscard]] constexpr std::uint32_t cpu_leaf_number(int nReg) noexcept {
    return nReg < 4 ? static_cast<std::uint32_t>(nReg)
                    : 0x80000000u + static_cast<std::uint32_t>(nReg - 4);
}

// The registers of one logical processor as a dump holds them.
struct CpuDump {
    CpuLeaves leaves{};  // leaves the dump lacks are zero
    // Standard leaf 2 asked again, in the dump's order: a processor whose leaf-2 count byte (the
    // low byte of EAX) is above 1 answers differently each time it is asked.
    std::vector<CpuRegisters> leaf2_again;

    friend bool operator==(const CpuDump&, const CpuDump&) = default;
};

// A dump that cannot be read; what() names the file and, where there is one, the line:
// "<file>:<line>: <reason>".
class CpuDumpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a text dump of CPUID registers: the first logical processor's register lines, in the
// shapes docs/cpu.md lists (among them "CPUID 00000001: EAX-EBX-ECX-EDX [annotation]" and
// "0x00000001 0x00: eax=0x... ebx=0x... ecx=0x... edx=0x..."). The first answer of a leaf is its
// value; later ones (sub-leaves) do not replace it, except that further answers of leaf 2 are
// kept in `leaf2_again`. Lines that are not register lines are skipped. A line that starts as a
// register line but cannot be read, or a dump without leaf 0, raises CpuDumpError naming
// `source_name` and the line.
[[nodiscard]] CpuDump parse_cpu_dump(std::string_view text, std::string_view source_name);

// The leaves `info` holds now.
[[nodiscard]] CpuLeaves cpu_leaves(const cCpuInfo& info);

// A dump of `info`: the leaves it holds now, and the further answers of leaf 2 that decoding
// them needs (those of a loaded dump; for this processor, when leaf 2's count byte asks for more
// than one query, the processor is asked that many times more).
[[nodiscard]] CpuDump capture_cpu_dump(const cCpuInfo& info);

// Stores the dump's leaves in `info` and derives its levels and vendor from them alone, as an
// object created on that processor would; from then on (until Refresh(true)) CacheDescriptors
// takes further answers of leaf 2 from the dump and never asks this processor.
void load_cpu_dump(cCpuInfo& info, const CpuDump& dump);

// The line formats format_cpu_dump writes.
enum class CpuDumpFormat {
    syskit,  // "CPUID 00000001: 000A0671-00000800-7FFAFBBF-BFEBFBFF", one line per answer
    raw,     // "CPU 0:" and "   0x00000001 0x00: eax=0x000a0671 ebx=... ecx=... edx=...", the
             // raw form other CPUID tools read and write
};

// The dump in `format`, every line ending in "\n"; both formats read back as the same dump.
[[nodiscard]] std::string format_cpu_dump(const CpuDump& dump,
                                          CpuDumpFormat format = CpuDumpFormat::syskit);

}  // namespace syskit
