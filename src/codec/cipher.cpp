// The keyed byte cipher: three chained RC4-style permutation tables of the prime sizes 463, 251
// and 181 with ciphertext feedback.
//
// Why it is shaped this way: every keystream byte depends on the previous ciphertext byte, so
// enciphering is one long chain of dependent table loads (six per byte) and its speed is that
// chain's latency. The tables are stored with extra copies of themselves (see CipherState) so
// that no modulo reduction sits on the chain: each load indexes with a plain sum, and the reduced
// cursors needed for the swaps and the next byte are computed beside the chain. Deciphering
// knows every feedback byte in advance, so the processor overlaps consecutive bytes.
#include "codec/cipher.hpp"

#include <algorithm>
#include <bit>
#include <numeric>

#include "codec/progress.hpp"
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(SYSKIT_PORTABLE)
#include "codec/cipher_x86_64.hpp"
#define SYSKIT_ORBEX_X86_64 1
#endif
#include "syskit/error.hpp"
#include "syskit/orbex.hpp"
#include "syskit/text.hpp"

namespace syskit::codec {
namespace {

constexpr std::size_t kReportInterval = 5000;
constexpr std::size_t kMaxKey2Length = 32767;

// Cursors held in registers while a run of bytes is coded.
struct Cursors {
    unsigned i1, j1, i2, j2, i3, j3;
};

inline Cursors load_cursors(const CipherState& c) {
    return {c.i1, c.j1, c.i2, c.j2, c.i3, c.j3};
}

inline void store_cursors(CipherState& c, const Cursors& k) {
    c.i1 = std::uint16_t(k.i1);
    c.j1 = std::uint16_t(k.j1);
    c.i2 = std::uint16_t(k.i2);
    c.j2 = std::uint16_t(k.j2);
    c.i3 = std::uint16_t(k.i3);
    c.j3 = std::uint16_t(k.j3);
}

static_assert(std::endian::native == std::endian::little,
              "the first table's low byte is read at the entry's own address");

// One keystream step.
//
// The chain from the feedback byte to the keystream byte is six dependent loads. Everything else
// is arranged around it: each load's index sum is folded into its address (a row pointer such as
// t1 + a1 is ready before the feedback byte is), the first table's "mod 256" is a load of the
// low byte of its 16-bit entry, and the reduced cursors for the swaps and the next step come from
// the remainder tables beside the chain.
inline unsigned step(CipherState& c, Cursors& k, unsigned feedback) {
    std::uint16_t* t1 = c.t1.data();
    std::uint8_t* t2 = c.t2.data();
    std::uint8_t* t3 = c.t3.data();
    const std::uint16_t* mod1 = c.mod1.data();
    const std::uint8_t* mod2 = c.mod2.data();
    const std::uint8_t* mod3 = c.mod3.data();

    // Independent of the feedback byte: the i cursors, their entries and the partial j sums.
    k.i1 = k.i1 + 1 == kSize1 ? 0 : k.i1 + 1;
    k.i2 = k.i2 + 1 == kSize2 ? 0 : k.i2 + 1;
    k.i3 = k.i3 + 1 == kSize3 ? 0 : k.i3 + 1;
    const unsigned vi1 = t1[k.i1];
    const unsigned vi2 = t2[k.i2];
    const unsigned vi3 = t3[k.i3];
    const std::uint16_t* row1 = t1 + mod1[vi1 + k.j1];
    const std::uint8_t* row2 = t2 + mod2[vi2 + k.j2];
    const std::uint8_t* row3 = t3 + mod3[vi3 + k.j3];

    // First table: j1 = (T1[i1] + j1 + F) mod 463, swap, r1 = T1[T1[i1] + T1[j1]] mod 256.
    const unsigned vj1 = row1[feedback];
    k.j1 = mod1[unsigned(row1 - t1) + feedback];
    t1[k.i1] = t1[k.i1 + kSize1] = std::uint16_t(vj1);
    t1[k.j1] = t1[k.j1 + kSize1] = std::uint16_t(vi1);
    const unsigned r1 = reinterpret_cast<const std::uint8_t*>(t1 + vi1)[2 * vj1];

    // Second table, driven by r1.
    const unsigned vj2 = row2[r1];
    k.j2 = mod2[unsigned(row2 - t2) + r1];
    t2[k.i2] = t2[k.i2 + kSize2] = t2[k.i2 + 2 * kSize2] = std::uint8_t(vj2);
    t2[k.j2] = t2[k.j2 + kSize2] = t2[k.j2 + 2 * kSize2] = std::uint8_t(vi2);
    const unsigned r2 = t2[vi2 + vj2];

    // Third table, driven by r2.
    const unsigned vj3 = row3[r2];
    k.j3 = mod3[unsigned(row3 - t3) + r2];
    t3[k.i3] = t3[k.i3 + kSize3] = t3[k.i3 + 2 * kSize3] = std::uint8_t(vj3);
    t3[k.j3] = t3[k.j3 + kSize3] = t3[k.j3 + 2 * kSize3] = std::uint8_t(vi3);
    const unsigned r3 = t3[vi3 + vj3];

    return (r1 + r2 + r3) & 0xFFu;
}

// Writes a table's canonical entries into all of its copies.
template <std::size_t N, class T, std::size_t Extended>
void extend(std::array<T, Extended>& table, const std::array<std::int32_t, N>& canonical) {
    for (std::size_t x = 0; x < Extended; ++x) table[x] = T(canonical[x % N]);
}

template <std::size_t N>
void identity(std::array<std::int32_t, N>& table) {
    std::iota(table.begin(), table.end(), 0);
}

}  // namespace

void set_key(CipherState& c, std::span<const std::uint8_t> key1,
             std::span<const std::uint8_t> key2) {
    // The running index j is carried from each table's schedule into the next one's.
    std::int32_t j = 0;
    std::array<std::int32_t, kSize1> t1;
    std::array<std::int32_t, kSize2> t2;
    std::array<std::int32_t, kSize3> t3;
    std::array<std::uint8_t, 17> mix_a{};
    std::array<std::uint8_t, 23> mix_b{};

    identity(t1);
    c.i1 = c.j1 = 0;
    if (key1.empty()) {
        extend(c.t1, t1);
        throw DivisionByZeroError();
    }
    for (unsigned x = 0; x < kSize1; ++x) {
        j = (t1[x] + j + key1[x % key1.size()]) % std::int32_t(kSize1);
        std::swap(t1[x], t1[j]);
    }
    for (unsigned x = 0; x < kSize1; ++x) mix_a[x % 17] ^= std::uint8_t(t1[x] & 0xFF);

    identity(t2);
    for (unsigned x = 0; x < kSize2; ++x) {
        j = (t2[x] + j + mix_a[x % 17]) % std::int32_t(kSize2);
        std::swap(t2[x], t2[j]);
    }
    for (unsigned x = 0; x < kSize2; ++x) mix_b[x % 23] ^= std::uint8_t(t2[x] & 0xFF);

    if (key2.size() > kMaxKey2Length) {
        extend(c.t1, t1);
        extend(c.t2, t2);
        throw OverflowError();
    }
    if (!key2.empty()) {
        for (unsigned x = 0; x < 23; ++x) mix_b[x] ^= key2[x % key2.size()];
    }

    identity(t3);
    for (unsigned x = 0; x < kSize3; ++x) {
        j = (t3[x] + j + mix_b[x % 23]) % std::int32_t(kSize3);
        std::swap(t3[x], t3[j]);
    }

    extend(c.t1, t1);
    extend(c.t2, t2);
    extend(c.t3, t3);
    c.i1 = c.j1 = c.i2 = c.j2 = c.i3 = c.j3 = 0;
    c.feedback = 0;
}

std::uint8_t keystream_byte(CipherState& c, unsigned feedback) {
    Cursors k = load_cursors(c);
    const unsigned out = step(c, k, feedback & 0xFFu);
    store_cursors(c, k);
    return std::uint8_t(out);
}

#ifdef SYSKIT_ORBEX_X86_64

namespace {

template <void (*Loop)(CipherState&, x86_64::Registers&, std::uint8_t*, std::uint8_t*)>
void code_bytes(CipherState& c, std::span<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    x86_64::Registers r{c.i1, c.j1, c.i2, c.j2, c.i3, c.feedback};
    Loop(c, r, bytes.data(), bytes.data() + bytes.size());  // keeps c.j3 current itself
    store_cursors(
        c, {unsigned(r.i1), unsigned(r.j1), unsigned(r.i2), unsigned(r.j2), unsigned(r.i3), c.j3});
    c.feedback = std::uint8_t(r.feedback);
}

}  // namespace

void encipher(CipherState& c, std::span<std::uint8_t> bytes) {
    code_bytes<x86_64::encipher>(c, bytes);
}

void decipher(CipherState& c, std::span<std::uint8_t> bytes) {
    code_bytes<x86_64::decipher>(c, bytes);
}

#else

void encipher(CipherState& c, std::span<std::uint8_t> bytes) {
    Cursors k = load_cursors(c);
    unsigned feedback = c.feedback;
    for (std::uint8_t& b : bytes) {
        feedback = (b ^ step(c, k, feedback)) & 0xFFu;
        b = std::uint8_t(feedback);
    }
    store_cursors(c, k);
    c.feedback = std::uint8_t(feedback);
}

void decipher(CipherState& c, std::span<std::uint8_t> bytes) {
    Cursors k = load_cursors(c);
    unsigned feedback = c.feedback;
    for (std::uint8_t& b : bytes) {
        const unsigned in = b;
        b = std::uint8_t(in ^ step(c, k, feedback));
        feedback = in;
    }
    store_cursors(c, k);
    c.feedback = std::uint8_t(feedback);
}

#endif

namespace {

// Codes an array, yielding to the host and reporting the figure for x / (last index) after the
// element at each report point x = 0, 5000, 10000, ...
template <class Coder, class Figure>
void code_array(CodecState& state, std::span<std::uint8_t> bytes, Coder coder, Figure figure) {
    const double last = double(bytes.size()) - 1;
    in_runs(
        bytes.size(), kReportInterval,
        [&](std::size_t from, std::size_t to) {
            coder(state.cipher, bytes.subspan(from, to - from));
        },
        [&](std::size_t x) { yield_and_report(state, figure(x == 0 ? 0.0 : double(x) / last)); });
}

}  // namespace

void encode_array(CodecState& state, std::span<std::uint8_t> bytes) {
    code_array(state, bytes, encipher, [](double f) { return f * 44 + 3 + 3 + 50; });
}

void decode_array(CodecState& state, std::span<std::uint8_t> bytes) {
    code_array(state, bytes, decipher, [](double f) { return f * 50; });
}

}  // namespace syskit::codec

// --- Public operations ----------------------------------------------------------------------

namespace syskit::ORBEX {

using codec::codec_state;

void SetKey(std::string_view key1, std::string_view key2) {
    const Bytes k1 = text::to_ansi(key1);
    const Bytes k2 = text::to_ansi(key2);
    codec::set_key(codec_state().cipher, k1, k2);
}

std::uint8_t FnORBEX(std::uint8_t feedback) {
    return codec::keystream_byte(codec_state().cipher, feedback);
}

std::uint8_t EncodeByte(std::uint8_t b) {
    codec::encipher(codec_state().cipher, std::span(&b, 1));
    return b;
}

std::uint8_t DecodeByte(std::uint8_t c) {
    codec::decipher(codec_state().cipher, std::span(&c, 1));
    return c;
}

void EncodeByteArray(std::span<std::uint8_t> a) {
    codec::encode_array(codec_state(), a);
}

void DecodeByteArray(std::span<std::uint8_t> a) {
    codec::decode_array(codec_state(), a);
}

void UpdateStatus(float percent) {
    host::progress(percent);
}

}  // namespace syskit::ORBEX
