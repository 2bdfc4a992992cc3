// The runner's machine-code routines, as hexadecimal routine texts, chosen at build time.
//
// Placing order is binding order: the first text is bound to CpuClk, the second to CpuID, the third
// to ShiftRight. Every routine takes a hidden first argument (the runner, ignored), then the
// operation's arguments with outputs as addresses (ShiftRight's result as the address of a 32-bit
// cell after Shift), and returns the status 0. The identification routine first checks that the ID
// flag (bit 21 of the flags register) can be toggled; if it cannot, CPUID is absent and all four
// outputs become 0. ECX is not set before CPUID, so no sub-leaf is selected.
//
// 32-bit x86 runs the system's 32-bit routine texts byte for byte (standard call: arguments on the
// stack, the routine removes them). The x86-64 texts are hand-assembled for the System V and
// the Windows conventions; their listings stand beside them. Every set is compiled everywhere so
// tests can check them; a build places the set of its own ABI, and other processors place nothing.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "platform/ascii.hpp"

namespace syskit::cpu_routines {

using platform::hex_digit;

// A routine text is a whole number of bytes, each as two hexadecimal digits; every text below is
// checked when the program is compiled, so the runner can place them without checking again.
constexpr bool is_routine_text(std::string_view text) noexcept {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (const char c : text) {
        if (hex_digit(c) < 0) return false;
    }
    return true;
}

// --- 32-bit x86, standard call ---------------------------------------------------------------
namespace x86_32 {

// 0F 31           rdtsc
// 8B 4C 24 08     mov ecx, [esp+8]        ; address of Cycles
// 89 01           mov [ecx], eax
// 89 51 04        mov [ecx+4], edx
// 33 C0           xor eax, eax
// C2 08 00        ret 8
inline constexpr std::string_view kTimeStamp = "0F318B4C2408890189510433C0C20800";

// 55              push ebp
// 8B EC           mov ebp, esp
// 83 C4 FC        add esp, -4
// 53              push ebx
// 9C 58           pushfd / pop eax
// 0F BA F8 15     btc eax, 21             ; toggle the ID flag
// 50 9D           push eax / popfd
// 9C 5A           pushfd / pop edx
// 33 C2           xor eax, edx
// 74 0A           jz present
// 33 C0 33 DB     xor eax, eax / xor ebx, ebx
// 33 C9 33 D2     xor ecx, ecx / xor edx, edx
// EB 05           jmp store
// 8B 45 0C        present: mov eax, [ebp+12]   ; nLevel
// 0F A2           cpuid
// 89 55 FC        store: mov [ebp-4], edx
// 8B 55 10 89 02  mov edx, [ebp+16] / mov [edx], eax
// 8B 55 14 89 1A  mov edx, [ebp+20] / mov [edx], ebx
// 8B 55 18 89 0A  mov edx, [ebp+24] / mov [edx], ecx
// 8B 55 1C        mov edx, [ebp+28]
// 8B 45 FC 89 02  mov eax, [ebp-4] / mov [edx], eax
// 5B              pop ebx
// 33 C0           xor eax, eax
// C9              leave
// C2 18 00        ret 24
inline constexpr std::string_view kIdentification =
    "558BEC83C4FC539C580FBAF815509D9C5A33C2740A33C033DB33C933D2EB058B450C0FA28955FC8B551089028B"
    "5514891A8B5518890A8B551C8B45FC89025B33C0C9C21800";

// 8B 44 24 08     mov eax, [esp+8]        ; Value
// 8B 4C 24 0C     mov ecx, [esp+12]       ; Shift
// 8B 54 24 10     mov edx, [esp+16]       ; address of the result cell
// D3 E8           shr eax, cl
// 89 02           mov [edx], eax
// 33 C0           xor eax, eax
// C2 10 00        ret 16
inline constexpr std::string_view kShift = "8B4424088B4C240C8B542410D3E8890233C0C21000";

}  // namespace x86_32

// --- x86-64, Windows convention: arguments in RCX (runner), RDX, R8, R9, then the stack above
// the 32-byte home area -----------------------------------------------------------------------
namespace x86_64_windows {

// 49 89 D0        mov r8, rdx             ; address of Cycles (RDTSC overwrites EDX)
// 0F 31           rdtsc
// 41 89 00        mov [r8], eax
// 41 89 50 04     mov [r8+4], edx
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kTimeStamp = "4989D00F314189004189500431C0C3";

// 53              push rbx                ; callee-saved, CPUID overwrites it
// 4C 8B 54 24 30  mov r10, [rsp+48]       ; address of ecx (5th argument)
// 4C 8B 5C 24 38  mov r11, [rsp+56]       ; address of edx (6th argument)
// 89 D1           mov ecx, edx            ; nLevel
// 9C 58           pushfq / pop rax
// 48 0F BA F8 15  btc rax, 21             ; toggle the ID flag
// 50 9D           push rax / popfq
// 9C 5A           pushfq / pop rdx
// 48 31 D0        xor rax, rdx
// 74 0A           jz present
// 31 C0 31 DB     xor eax, eax / xor ebx, ebx
// 31 C9 31 D2     xor ecx, ecx / xor edx, edx
// EB 04           jmp store
// 89 C8           present: mov eax, ecx
// 0F A2           cpuid
// 41 89 00        store: mov [r8], eax
// 41 89 19        mov [r9], ebx
// 41 89 0A        mov [r10], ecx
// 41 89 13        mov [r11], edx
// 5B              pop rbx
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kIdentification =
    "534C8B5424304C8B5C243889D19C58480FBAF815509D9C5A4831D0740A31C031DB31C931D2EB0489C80FA24189"
    "0041891941890A4189135B31C0C3";

// 89 D0           mov eax, edx            ; Value
// 44 89 C1        mov ecx, r8d            ; Shift
// D3 E8           shr eax, cl             ; the processor uses the low 5 bits of CL
// 41 89 01        mov [r9], eax           ; result cell
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kShift = "89D04489C1D3E841890131C0C3";

}  // namespace x86_64_windows

// --- x86-64, System V convention: arguments in RDI (runner), RSI, RDX, RCX, R8, R9 ------------
namespace x86_64_system_v {

// 0F 31           rdtsc
// 89 06           mov [rsi], eax          ; address of Cycles
// 89 56 04        mov [rsi+4], edx
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kTimeStamp = "0F31890689560431C0C3";

// 53              push rbx                ; callee-saved, CPUID overwrites it
// 49 89 D2        mov r10, rdx            ; address of eax (CPUID overwrites RDX)
// 49 89 CB        mov r11, rcx            ; address of ebx (CPUID overwrites RCX)
// 9C 58           pushfq / pop rax
// 48 0F BA F8 15  btc rax, 21             ; toggle the ID flag
// 50 9D           push rax / popfq
// 9C 5A           pushfq / pop rdx
// 48 31 D0        xor rax, rdx
// 74 0A           jz present
// 31 C0 31 DB     xor eax, eax / xor ebx, ebx
// 31 C9 31 D2     xor ecx, ecx / xor edx, edx
// EB 04           jmp store
// 89 F0           present: mov eax, esi   ; nLevel
// 0F A2           cpuid
// 41 89 02        store: mov [r10], eax
// 41 89 1B        mov [r11], ebx
// 41 89 08        mov [r8], ecx
// 41 89 11        mov [r9], edx
// 5B              pop rbx
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kIdentification =
    "534989D24989CB9C58480FBAF815509D9C5A4831D0740A31C031DB31C931D2EB0489F00FA241890241891B4189"
    "084189115B31C0C3";

// 89 F0           mov eax, esi            ; Value
// 49 89 C8        mov r8, rcx             ; address of the result cell
// 89 D1           mov ecx, edx            ; Shift
// D3 E8           shr eax, cl             ; the processor uses the low 5 bits of CL
// 41 89 00        mov [r8], eax
// 31 C0           xor eax, eax
// C3              ret
inline constexpr std::string_view kShift = "89F04989C889D1D3E841890031C0C3";

}  // namespace x86_64_system_v

static_assert(is_routine_text(x86_32::kTimeStamp) && is_routine_text(x86_32::kIdentification) &&
              is_routine_text(x86_32::kShift));
static_assert(is_routine_text(x86_64_windows::kTimeStamp) &&
              is_routine_text(x86_64_windows::kIdentification) &&
              is_routine_text(x86_64_windows::kShift));
static_assert(is_routine_text(x86_64_system_v::kTimeStamp) &&
              is_routine_text(x86_64_system_v::kIdentification) &&
              is_routine_text(x86_64_system_v::kShift));

#if defined(__i386__) || defined(_M_IX86)
namespace native = x86_32;
#elif (defined(__x86_64__) || defined(_M_X64)) && defined(_WIN32)
namespace native = x86_64_windows;
#elif defined(__x86_64__)
namespace native = x86_64_system_v;
#endif

// The routine texts this build places, in placing order (none on other processors).
#if defined(__i386__) || defined(_M_IX86) || defined(__x86_64__) || defined(_M_X64)
inline constexpr std::array<std::string_view, 3> kPlacingOrder{
    native::kTimeStamp, native::kIdentification, native::kShift};
#else
inline constexpr std::array<std::string_view, 0> kPlacingOrder{};
#endif

[[nodiscard]] constexpr std::span<const std::string_view> routine_texts() noexcept {
    return kPlacingOrder;
}

}  // namespace syskit::cpu_routines
