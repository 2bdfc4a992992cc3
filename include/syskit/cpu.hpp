// syskit/cpu.hpp — processor identification: the machine-code runner `cCPUID`, the processor
// information object `cCpuInfo`, and captured register dumps.
//
// `cCPUID` reaches three instructions that have no portable equivalent (RDTSC, CPUID and a logical
// right shift) through tiny machine-code routines that it places in executable memory when it is
// created, one block per routine, bound to CpuClk, CpuID and ShiftRight in placing order. A 32-bit
// x86 process runs the carried routine texts byte for byte; x86-64 processes run routine texts of
// their own with the same contract. Where the platform refuses executable memory, or on other
// processors, each operation falls back to a compiled-in equivalent where the processor has one,
// and otherwise does nothing (CpuClk and CpuID leave their outputs alone, ShiftRight returns 0).
//
// `cCpuInfo` reads standard leaves 0 to 3 and extended leaves 0x80000000 to 0x80000008 once when it
// is created and decodes every answer from those stored registers. LevelSet followed by
// Refresh(false) decodes registers captured on another machine; parse_cpu_dump and
// load_cpu_leaves do that from a text dump.
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

// --- Executable memory ------------------------------------------------------------------------

// Where the runner places its routines. A block is written while writable and then sealed
// read+execute; it is never writable and executable at once.
class CodeMemory {
  public:
    virtual ~CodeMemory() = default;
    // A writable block of at least `size` bytes, or nullptr when the platform refuses one.
    [[nodiscard]] virtual void* allocate(std::size_t size) noexcept = 0;
    // Makes the block read+execute. False when the platform does not allow code to run from it.
    [[nodiscard]] virtual bool make_executable(void* block, std::size_t size) noexcept = 0;
    // Frees a block returned by allocate.
    virtual void release(void* block, std::size_t size) noexcept = 0;
};

// The platform's executable memory (mmap/mprotect, or VirtualAlloc/VirtualProtect on Windows).
[[nodiscard]] CodeMemory& platform_code_memory() noexcept;

// --- The machine-code runner ----------------------------------------------------------------

class cCPUID {
  public:
    // Places the three routines in `memory` and binds them. Placing never fails loudly: a routine
    // that cannot be placed leaves its operation on the fallback (see PlacedCount).
    explicit cCPUID(CodeMemory& memory = platform_code_memory());
    // Restores every operation's previous binding and frees the blocks.
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
        void* block;              // the routine's code block; nullptr when placing failed
        std::size_t size;         // bytes in the block
        std::uintptr_t previous;  // the operation's binding before this routine was bound
    };

    void InitCode(std::string_view sCode);

    CodeMemory& memory_;
    std::vector<PlacedRoutine> placed_routines_;
    // Entry address of the routine bound to CpuClk, CpuID and ShiftRight; 0 while unbound.
    std::array<std::uintptr_t, 3> bindings_{};
};

// --- The processor information object -------------------------------------------------------

class cCpuInfo {
  public:
    // Creates the runner, reads every stored leaf from the processor (Refresh(true)) and reads
    // the performance-counter frequency.
    explicit cCpuInfo(CodeMemory& memory = platform_code_memory());

    // -- Registers, levels and vendor
    // Re-reads every stored leaf from the processor when `bReReadCPU` is true, then derives the
    // levels and the vendor code from the stored registers.
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
    // The descriptor bytes of standard leaf 2. The description numbers the elements from 1:
    // element i is [i - 1] here. May query leaf 2 again (when its count byte asks for it) and
    // store the last answer.
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
};

// --- Captured register dumps ----------------------------------------------------------------

// The 13 stored leaves of a processor, in LevelGet's numbering (0 to 3 standard leaves 0 to 3,
// 4 to 12 extended leaves 0x80000000 to 0x80000008), each EAX, EBX, ECX, EDX.
using CpuLeaves = std::array<std::array<std::uint32_t, 4>, 13>;

// The CPUID leaf number that LevelGet's nReg stands for.
[[nodiscard]] constexpr std::uint32_t cpu_leaf_number(int nReg) noexcept {
    return nReg < 4 ? static_cast<std::uint32_t>(nReg)
                    : 0x80000000u + static_cast<std::uint32_t>(nReg - 4);
}

// A dump that cannot be read; what() names the file and, where there is one, the line:
// "<file>:<line>: <reason>".
class CpuDumpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a text dump of CPUID registers. Two formats are recognised, line by line:
//   CPUID 00000001: 000A0671-00000800-7FFAFBBF-BFEBFBFF
//      0x00000001 0x00: eax=0x000a0671 ebx=0x00000800 ecx=0x7ffafbbf edx=0xbfebfbff
// Other lines are ignored. Only the first logical processor counts (reading stops at the second
// processor's header) and only the first occurrence of each leaf; leaves the object does not
// store are skipped, and stored leaves the dump lacks are zero. A malformed register field, or a
// dump without any stored leaf, raises CpuDumpError naming `source_name`.
[[nodiscard]] CpuLeaves parse_cpu_dump(std::string_view text, std::string_view source_name);

// The leaves `info` holds now.
[[nodiscard]] CpuLeaves cpu_leaves(const cCpuInfo& info);

// Stores `leaves` in `info` and derives its levels and vendor from them alone, as an object
// created on that processor would.
void load_cpu_leaves(cCpuInfo& info, const CpuLeaves& leaves);

// The dump of `leaves` in the first format above, one line per leaf ending in "\n".
[[nodiscard]] std::string format_cpu_dump(const CpuLeaves& leaves);

}  // namespace syskit
