// The codec's module state: one copy per thread, zero-filled until first use.
#pragma once

#include <array>
#include <cstdint>

namespace syskit::codec {

// Sizes of the cipher's three permutation tables.
inline constexpr unsigned kSize1 = 463;
inline constexpr unsigned kSize2 = 251;
inline constexpr unsigned kSize3 = 181;

// Remainders modulo a table size for every sum the keystream step forms, so that reducing a
// cursor is a load rather than a data-dependent branch.
template <class T, unsigned Size, unsigned Limit>
constexpr std::array<T, Limit> make_remainders() {
    std::array<T, Limit> r{};
    for (unsigned x = 0; x < Limit; ++x) r[x] = T(x % Size);
    return r;
}

// The cipher: three permutation tables with their cursors, and the feedback byte.
//
// Each table is stored with extra copies of itself laid end to end (t[k] == t[k mod size]), so the
// keystream step can index with sums that are not yet reduced modulo the table size: the
// reductions move off the chain of dependent loads that bounds the cipher's speed. Every swap
// writes all copies. The first table's sums stay below 2 × 463, the others' below 3 × size.
// The remainder tables live here too, so that one base register reaches every table the step
// reads.
struct CipherState {
    std::array<std::uint16_t, 2 * kSize1> t1;
    std::array<std::uint8_t, 3 * kSize2> t2;
    std::array<std::uint8_t, 3 * kSize3> t3;
    std::uint16_t i1, j1, i2, j2, i3, j3;
    std::uint8_t feedback;
    std::array<std::uint16_t, 2 * kSize1> mod1 =
        make_remainders<std::uint16_t, kSize1, 2 * kSize1>();
    std::array<std::uint8_t, 2 * kSize2 + 4> mod2 =
        make_remainders<std::uint8_t, kSize2, 2 * kSize2 + 4>();
    std::array<std::uint8_t, 431> mod3 = make_remainders<std::uint8_t, kSize3, 431>();
};

struct CodecState {
    CipherState cipher;
    std::int16_t last_progress;
    std::int16_t last_error_code;
};

// The calling thread's codec state.
CodecState& codec_state() noexcept;

}  // namespace syskit::codec
