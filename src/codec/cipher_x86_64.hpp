// The array coders' loop for x86-64 (System V and Windows; GCC and clang inline assembly).
//
// Enciphering is one chain of dependent work per byte: the previous ciphertext byte F indexes the
// first table, whose result indexes the second, and so on. Compiled from C++, the loop keeps more
// values alive than x86-64 has registers and spills some of the chain through the stack, which
// adds store-forwarding delays to every byte. Written out, the chain is six loads and two byte
// operations:
//
//   vj1 = T1[a1 + F]        row pointer &T1[a1] prepared before F is known
//   r1  = T1[vi1 + vj1]     low byte of the 16-bit entry (the "mod 256")
//   vj2 = T2[a2 + r1]       r2 = T2[vi2 + vj2]
//   vj3 = T3[a3 + r2]       r3 = T3[vi3 + vj3]
//   F'  = p XOR (r1 + r2 + r3) mod 256        addb, xorb
//
// The i cursors, the entries T[i], the partial sums a = (T[i] + j) mod size, the reduced j cursors
// and the swap stores (to every copy of each table) hang off the chain, where the processor
// runs them in parallel. Thirteen registers hold the loop's values; the end pointer and the
// third table's j cursor stay in memory. That leaves room for a reserved frame pointer and for a
// register to address the end pointer where sanitizers move it off the plain stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/state.hpp"

// The assembly reads as a listing, one instruction per line.
// clang-format off
namespace syskit::codec::x86_64 {

// Loop state in registers: five of the six cursors and the feedback byte. The third table's j
// cursor stays in CipherState, addressed from the base register.
struct Registers {
    std::uint64_t i1, j1, i2, j2, i3, feedback;
};

// The part of one step that does not depend on how the byte is coded: cursors, tables, swaps,
// and the keystream byte's sum left in the low byte of %[g] for the coding tail.
#define SYSKIT_ORBEX_STEP                                                        \
    "addl $1, %k[i1]\n\t"                                                        \
    "cmpl $463, %k[i1]\n\t"                                                      \
    "jne 2f\n\t"                                                                 \
    "xorl %k[i1], %k[i1]\n"                                                      \
    "2:\n\t"                                                                     \
    "addl $1, %k[i2]\n\t"                                                        \
    "cmpl $251, %k[i2]\n\t"                                                      \
    "jne 3f\n\t"                                                                 \
    "xorl %k[i2], %k[i2]\n"                                                      \
    "3:\n\t"                                                                     \
    "addl $1, %k[i3]\n\t"                                                        \
    "cmpl $181, %k[i3]\n\t"                                                      \
    "jne 4f\n\t"                                                                 \
    "xorl %k[i3], %k[i3]\n"                                                      \
    "4:\n\t"                                                                     \
    /* First table. a = vi1, j1 = a1 = (vi1 + j1) mod 463, e = row, d = diagonal. */ \
    "movzwl %c[T1](%[base],%[i1],2), %k[a]\n\t"                                  \
    "addl %k[a], %k[j1]\n\t"                                                     \
    "movzwl %c[M1](%[base],%[j1],2), %k[j1]\n\t"                                 \
    "leaq %c[T1](%[base],%[j1],2), %[e]\n\t"                                     \
    "leaq %c[T1](%[base],%[a],2), %[d]\n\t"                                      \
    "movzwl (%[e],%[f],2), %k[g]\n\t"             /* vj1 = T1[a1 + F] */         \
    "addl %k[f], %k[j1]\n\t"                                                     \
    "movzwl %c[M1](%[base],%[j1],2), %k[j1]\n\t"  /* j1 = (a1 + F) mod 463 */    \
    "movw %w[g], %c[T1](%[base],%[i1],2)\n\t"                                    \
    "movw %w[g], %c[T1]+926(%[base],%[i1],2)\n\t"                                \
    "movw %w[a], %c[T1](%[base],%[j1],2)\n\t"                                    \
    "movw %w[a], %c[T1]+926(%[base],%[j1],2)\n\t"                                \
    "movzbl (%[d],%[g],2), %k[g]\n\t"             /* r1 = T1[vi1 + vj1] mod 256 */ \
    /* Second table, driven by r1 (in g). c = vi2. */                           \
    "movzbl %c[T2](%[base],%[i2]), %k[a]\n\t"                                    \
    "addl %k[a], %k[j2]\n\t"                                                     \
    "movzbl %c[M2](%[base],%[j2]), %k[j2]\n\t"                                   \
    "leaq %c[T2](%[base],%[j2]), %[e]\n\t"                                       \
    "leaq %c[T2](%[base],%[a]), %[d]\n\t"                                        \
    "movzbl (%[e],%[g]), %k[c]\n\t"               /* vj2 = T2[a2 + r1] */        \
    "addl %k[g], %k[j2]\n\t"                                                     \
    "movzbl %c[M2](%[base],%[j2]), %k[j2]\n\t"                                   \
    "movb %b[c], %c[T2](%[base],%[i2])\n\t"                                      \
    "movb %b[c], %c[T2]+251(%[base],%[i2])\n\t"                                  \
    "movb %b[c], %c[T2]+502(%[base],%[i2])\n\t"                                  \
    "movb %b[a], %c[T2](%[base],%[j2])\n\t"                                      \
    "movb %b[a], %c[T2]+251(%[base],%[j2])\n\t"                                  \
    "movb %b[a], %c[T2]+502(%[base],%[j2])\n\t"                                  \
    "movzbl (%[d],%[c]), %k[c]\n\t"               /* r2 = T2[vi2 + vj2] */       \
    "addl %k[c], %k[g]\n\t"                       /* g = r1 + r2 */              \
    /* Third table, driven by r2 (in c). Its j cursor stays in the state (see above). */ \
    "movzbl %c[T3](%[base],%[i3]), %k[a]\n\t"                                    \
    "movzwl %c[J3](%[base]), %k[d]\n\t"                                         \
    "addl %k[a], %k[d]\n\t"                                                     \
    "movzbl %c[M3](%[base],%[d]), %k[d]\n\t"                                    \
    "leaq %c[T3](%[base],%[d]), %[e]\n\t"                                       \
    "addl %k[c], %k[d]\n\t"                                                     \
    "movzbl %c[M3](%[base],%[d]), %k[d]\n\t"                                    \
    "movw %w[d], %c[J3](%[base])\n\t"                                           \
    "movzbl (%[e],%[c]), %k[e]\n\t"               /* vj3 = T3[a3 + r2] */        \
    "movb %b[e], %c[T3](%[base],%[i3])\n\t"                                      \
    "movb %b[e], %c[T3]+181(%[base],%[i3])\n\t"                                  \
    "movb %b[e], %c[T3]+362(%[base],%[i3])\n\t"                                  \
    "movb %b[a], %c[T3](%[base],%[d])\n\t"                                       \
    "movb %b[a], %c[T3]+181(%[base],%[d])\n\t"                                   \
    "movb %b[a], %c[T3]+362(%[base],%[d])\n\t"                                   \
    "leaq %c[T3](%[base],%[a]), %[d]\n\t"                                       \
    "movzbl (%[d],%[e]), %k[e]\n\t"               /* r3 = T3[vi3 + vj3] */       \
    "addb %b[e], %b[g]\n\t"                       /* keystream byte */

#define SYSKIT_ORBEX_OPERANDS                                                                  \
    : [i1] "+r"(r.i1), [j1] "+r"(r.j1), [i2] "+r"(r.i2), [j2] "+r"(r.j2), [i3] "+r"(r.i3),     \
      [f] "+r"(r.feedback), [p] "+r"(p), [a] "=&r"(a), [c] "=&r"(c),         \
      [d] "=&r"(d), [e] "=&r"(e), [g] "=&r"(g)                                                 \
    : [base] "r"(&state), [end] "m"(end), [T1] "i"(offsetof(CipherState, t1)),                \
      [T2] "i"(offsetof(CipherState, t2)), [T3] "i"(offsetof(CipherState, t3)),               \
      [M1] "i"(offsetof(CipherState, mod1)), [M2] "i"(offsetof(CipherState, mod2)),           \
      [M3] "i"(offsetof(CipherState, mod3)), [J3] "i"(offsetof(CipherState, j3))              \
    : "cc", "memory"

// Enciphers [p, end), p < end: c = p XOR keystream, and c feeds the next step.
inline void encipher(CipherState& state, Registers& r, std::uint8_t* p, std::uint8_t* const end) {
    std::uint64_t a, c, d, e, g;
    asm volatile(
        "1:\n\t" SYSKIT_ORBEX_STEP
        "movzbl (%[p]), %k[f]\n\t"
        "xorb %b[g], %b[f]\n\t"
        "movb %b[f], (%[p])\n\t"
        "addq $1, %[p]\n\t"
        "cmpq %[end], %[p]\n\t"
        "jne 1b\n\t" SYSKIT_ORBEX_OPERANDS);
}

// Deciphers [p, end), p < end: the ciphertext byte feeds the next step, so consecutive steps
// overlap.
inline void decipher(CipherState& state, Registers& r, std::uint8_t* p, std::uint8_t* const end) {
    std::uint64_t a, c, d, e, g;
    asm volatile(
        "1:\n\t" SYSKIT_ORBEX_STEP
        "movzbl (%[p]), %k[f]\n\t"
        "xorb %b[f], %b[g]\n\t"
        "movb %b[g], (%[p])\n\t"
        "addq $1, %[p]\n\t"
        "cmpq %[end], %[p]\n\t"
        "jne 1b\n\t" SYSKIT_ORBEX_OPERANDS);
}

#undef SYSKIT_ORBEX_STEP
#undef SYSKIT_ORBEX_OPERANDS

}  // namespace syskit::codec::x86_64
// clang-format on
