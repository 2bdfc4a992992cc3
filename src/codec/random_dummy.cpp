// The random dummy block the container puts in front of its payload.
//
// Nothing ever reproduces these bytes, so any uniform generator will do. The generator is seeded
// afresh in every call from the clock, mixed with a per-thread counter and a per-thread random
// seed, so that two calls in the same clock tick still differ.
#include <chrono>
#include <cmath>
#include <random>

#include "codec/cipher.hpp"
#include "syskit/orbex.hpp"

namespace syskit::ORBEX {
namespace {

constexpr std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t thread_seed() {
    thread_local const std::uint64_t seed = [] {
        std::uint64_t s = 0;
        try {
            std::random_device device;
            s = (std::uint64_t(device()) << 32) ^ device();
        } catch (...) {
            // No entropy source: the clock and the counter still vary.
        }
        return s ^ reinterpret_cast<std::uintptr_t>(&s);
    }();
    return seed;
}

// Uniform doubles in [0, 1) from a xoshiro256** generator.
class Uniform {
  public:
    explicit Uniform(std::uint64_t seed) {
        for (auto& word : state_) word = splitmix64(seed);
    }
    double operator()() { return double(next() >> 11) * 0x1.0p-53; }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }
    std::uint64_t state_[4];
};

Uniform clock_seeded_generator() {
    thread_local std::uint64_t calls = 0;
    const auto ticks =
        std::uint64_t(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::uint64_t mix = ticks ^ thread_seed();
    mix ^= splitmix64(mix) + ++calls;
    return Uniform(mix);
}

inline std::uint8_t random_byte(Uniform& r) {
    return std::uint8_t(std::floor(r() * 256));
}

}  // namespace

Bytes RandomDummy() {
    Uniform r = clock_seeded_generator();
    const auto length = unsigned(std::floor(r() * 224)) + 32;  // 32 to 255

    Bytes block(length);
    block[0] = std::uint8_t(length);
    const std::span<std::uint8_t> filler = std::span(block).subspan(1);
    for (auto& b : filler) b = random_byte(r);

    // Sixteen whitening passes, each under a fresh random 16-byte key1 and an empty key2;
    // passes 3, 6, 9, 12 and 15 decipher, the others encipher.
    auto& cipher = codec::codec_state().cipher;
    for (int pass = 1; pass <= 16; ++pass) {
        std::uint8_t key[16];
        for (auto& b : key) b = random_byte(r);
        codec::set_key(cipher, key, {});
        if (pass % 3 == 0) {
            codec::decipher(cipher, filler);
        } else {
            codec::encipher(cipher, filler);
        }
    }
    return block;
}

}  // namespace syskit::ORBEX
