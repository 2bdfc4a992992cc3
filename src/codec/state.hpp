// The codec's module state: one copy per thread, zero-filled until first use.
#pragma once

#include <array>
#include <cstdint>

namespace syskit::codec {

// Sizes of the cipher's three permutation tables.
inline constexpr unsigned kSize1 = 463;
inline constexpr unsigned kSize2 = 251;
inline constexpr unsigned kSize3 = 181;

// The cipher: three permutation tables with their cursors, and the feedback byte.
//
// Each table is stored with extra copies of itself laid end to end (t[k] == t[k mod size]), so the
// keystream step can index with sums that are not yet reduced modulo the table size: the
// reductions move off the chain of dependent loads that bounds the cipher's speed. Every swap
// writes all copies. The first table's sums stay below 2 × 463, the others' below 3 × size.
struct CipherState {
    std::array<std::uint16_t, 2 * kSize1> t1;
    std::array<std::uint8_t, 3 * kSize2> t2;
    std::array<std::uint8_t, 3 * kSize3> t3;
    std::uint16_t i1, j1, i2, j2, i3, j3;
    std::uint8_t feedback;
};

struct CodecState {
    CipherState cipher;
    std::int16_t last_progress;
    std::int16_t last_error_code;
};

// The calling thread's codec state.
CodecState& codec_state() noexcept;

}  // namespace syskit::codec
