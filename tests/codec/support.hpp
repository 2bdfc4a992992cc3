// Helpers of the codec tests: recorded host calls, hex, portable generated data, a hash.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "syskit/error.hpp"
#include "syskit/host.hpp"
#include "syskit/orbex.hpp"

namespace codec_test {

using syskit::Bytes;

// Records the calling thread's host calls while alive: "y " a yield, "N " a progress call of N %.
struct Recorder {
    std::string events;
    std::vector<int> pointers;
    syskit::host::ScopedHooks hooks{
        [this] { events += "y "; }, [this](float p) { events += std::to_string(int(p)) + " "; },
        [this](syskit::host::Pointer p) { pointers.push_back(int(p)); }};
};

// Bytes from hex text, pairs separated by spaces: "48 45 33 0D".
inline Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    for (unsigned value; in >> std::hex >> value;) out.push_back(std::uint8_t(value));
    return out;
}

// Bytes below `alphabet` from the generator's raw output (the same on every platform).
inline Bytes random_bytes(std::mt19937& rng, std::size_t n, unsigned alphabet = 256) {
    Bytes out(n);
    for (auto& b : out) b = std::uint8_t(rng() % alphabet);
    return out;
}

// Bytes whose value counts follow the Fibonacci numbers (the deepest codes), shuffled.
inline Bytes fibonacci_bytes(int symbols, std::mt19937& rng) {
    Bytes out;
    std::uint64_t a = 1, b = 1;
    for (int v = 0; v < symbols; ++v, b += a, a = b - a)
        out.insert(out.end(), std::size_t(a), std::uint8_t(v));
    for (std::size_t i = out.size(); i > 1; --i) std::swap(out[i - 1], out[rng() % i]);
    return out;
}

// 64-bit FNV-1a, continuing from `h`.
inline std::uint64_t fnv1a(std::string_view s, std::uint64_t h = 0xcbf29ce484222325) {
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3;
    return h;
}
inline std::uint64_t fnv1a(const Bytes& b, std::uint64_t h = 0xcbf29ce484222325) {
    return fnv1a(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()), h);
}

// What a Huffman operation did: its result or error number, its host calls, LastErrorCode after.
struct Outcome {
    Bytes result;
    std::int32_t error = 0;
    std::string events;
    std::int16_t last_error_code = 0;
    std::uint64_t hash(std::uint64_t h) const {
        return fnv1a(result, fnv1a(std::to_string(error) + "/" + std::to_string(last_error_code) +
                                       "/" + events + "/",
                                   h));
    }
};

// Runs a Huffman operation on a copy of `buffer`, starting from the given LastProgress.
inline Outcome run_codec(void (*op)(Bytes&, std::int32_t), Bytes buffer, std::int32_t byte_len,
                         std::int16_t last_progress = 0) {
    syskit::ORBEX::LastProgress() = last_progress;
    syskit::ORBEX::LastErrorCode() = 0;
    Outcome o;
    Recorder recorder;
    try {
        op(buffer, byte_len);
        o.result = buffer;
    } catch (const syskit::Error& e) {
        o.error = e.number();
    }
    o.events = recorder.events;
    o.last_error_code = syskit::ORBEX::LastErrorCode();
    return o;
}

}  // namespace codec_test
