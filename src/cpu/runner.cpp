// cCPUID: places the machine-code routines and calls them.
//
// A binding is the entry address of a placed routine, kept per runner, so several runners live
// side by side and tearing one down never touches another; it lives exactly as long as the block.
// Placing a routine writes its bytes into a fresh writable block and only then makes the block
// read+execute. A routine that cannot be placed (no block, or the platform refuses to execute it)
// still takes its turn in the placing order, so every later routine lands on its own operation; its
// operation stays unbound.
//
// An unbound operation runs the compiled-in equivalent where the processor has one (RDTSC and
// CPUID on x86, a shift everywhere), so an object whose placing was refused still answers; on
// other processors CpuClk and CpuID keep their do-nothing bodies.
#include <cstdint>
#include <string>

#include "cpu/routines.hpp"
#include "platform/code_memory.hpp"
#include "syskit/cpu.hpp"

#if defined(__i386__) || defined(__x86_64__)
#define SYSKIT_CPU_X86 1
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace syskit {
namespace {

#if defined(__i386__)
#define SYSKIT_ROUTINE_CALL __attribute__((stdcall))
#else
#define SYSKIT_ROUTINE_CALL
#endif

// clang's function-type check reads bytes in front of the callee, which a placed routine does not
// have.
#if defined(__clang__)
#define SYSKIT_CALLS_PLACED_CODE __attribute__((no_sanitize("function")))
#else
#define SYSKIT_CALLS_PLACED_CODE
#endif

using TimeStampRoutine = std::int32_t(SYSKIT_ROUTINE_CALL*)(const void* runner,
                                                            std::int64_t* cycles);
using IdentificationRoutine =
    std::int32_t(SYSKIT_ROUTINE_CALL*)(const void* runner, std::int32_t level, std::int32_t* eax,
                                       std::int32_t* ebx, std::int32_t* ecx, std::int32_t* edx);
using ShiftRoutine = std::int32_t(SYSKIT_ROUTINE_CALL*)(const void* runner, std::int32_t value,
                                                        std::int32_t shift, std::int32_t* result);

enum Operation : std::size_t { kCpuClk = 0, kCpuID = 1, kShiftRight = 2 };

// A routine's status is 0; anything else is raised to the caller.
void check_status(std::int32_t status) {
    if (status != 0) throw Error(status, kErrorSource, "The processor routine failed");
}

#if SYSKIT_CPU_X86
// The identification routine's test: CPUID exists when the ID flag of the flags register can be
// toggled. Always true in 64-bit mode.
bool cpuid_present() noexcept {
#if defined(__i386__)
    std::uint32_t written = 0;
    std::uint32_t read = 0;
    __asm__ volatile(
        "pushfl\n\t"
        "popl %0\n\t"
        "xorl $0x200000, %0\n\t"
        "pushl %0\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1"
        : "=&r"(written), "=&r"(read)
        :
        : "cc");
    return written == read;
#else
    return true;
#endif
}
#endif

}  // namespace

cCPUID::cCPUID() : cCPUID(platform::code_memory()) {}

cCPUID::cCPUID(platform::CodeMemory& memory) : memory_(memory) {
    const auto texts = cpu_routines::routine_texts();
    placed_routines_.reserve(texts.size());
    for (const std::string_view text : texts) InitCode(text);
}

cCPUID::~cCPUID() {
    for (const PlacedRoutine& routine : placed_routines_)
        memory_.release(routine.block, routine.size);
}

void cCPUID::InitCode(std::string_view sCode) {
    const std::size_t operation = placed_routines_.size();
    if (operation >= bindings_.size()) return;
    PlacedRoutine routine{nullptr, sCode.size() / 2};

    if (void* block = memory_.allocate(routine.size)) {
        // The texts are checked when the program is compiled (routines.hpp).
        auto* bytes = static_cast<std::uint8_t*>(block);
        for (std::size_t j = 0; j < routine.size; ++j) {
            bytes[j] = static_cast<std::uint8_t>(cpu_routines::hex_digit(sCode[2 * j]) * 16 +
                                                 cpu_routines::hex_digit(sCode[2 * j + 1]));
        }
        if (memory_.make_executable(block, routine.size)) {
            routine.block = block;
            bindings_[operation] = reinterpret_cast<std::uintptr_t>(block);
        } else {
            memory_.release(block, routine.size);
        }
    }
    placed_routines_.push_back(routine);  // capacity reserved by the constructor
}

int cCPUID::PlacedCount() const noexcept {
    int placed = 0;
    for (const PlacedRoutine& routine : placed_routines_)
        placed += routine.block != nullptr ? 1 : 0;
    return placed;
}

SYSKIT_CALLS_PLACED_CODE void cCPUID::CpuClk(Currency& Cycles) const {
    if (const std::uintptr_t entry = bindings_[kCpuClk]) {
        std::int64_t counter = Cycles.raw();
        check_status(reinterpret_cast<TimeStampRoutine>(entry)(this, &counter));
        Cycles = Currency::from_raw(counter);
        return;
    }
#if SYSKIT_CPU_X86
    Cycles = Currency::from_raw(static_cast<std::int64_t>(__rdtsc()));
#endif
}

SYSKIT_CALLS_PLACED_CODE void cCPUID::CpuID(std::int32_t nLevel, std::int32_t& eax,
                                            std::int32_t& ebx, std::int32_t& ecx,
                                            std::int32_t& edx) const {
    if (const std::uintptr_t entry = bindings_[kCpuID]) {
        check_status(
            reinterpret_cast<IdentificationRoutine>(entry)(this, nLevel, &eax, &ebx, &ecx, &edx));
        return;
    }
#if SYSKIT_CPU_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (cpuid_present()) __cpuid(static_cast<unsigned>(nLevel), a, b, c, d);
    eax = static_cast<std::int32_t>(a);
    ebx = static_cast<std::int32_t>(b);
    ecx = static_cast<std::int32_t>(c);
    edx = static_cast<std::int32_t>(d);
#endif
}

SYSKIT_CALLS_PLACED_CODE std::int32_t cCPUID::ShiftRight(std::int32_t Value,
                                                         std::int32_t Shift) const {
    if (const std::uintptr_t entry = bindings_[kShiftRight]) {
        std::int32_t result = 0;
        check_status(reinterpret_cast<ShiftRoutine>(entry)(this, Value, Shift, &result));
        return result;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(Value) >> (Shift & 31));
}

}  // namespace syskit
