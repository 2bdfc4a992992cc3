// Helpers shared by the codec tests: recording the host hooks, random data, hex literals, and
// running the real codec and the reference model side by side.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "reference.hpp"
#include "syskit/error.hpp"
#include "syskit/host.hpp"
#include "syskit/orbex.hpp"

namespace codec_test {

using reference::Event;
using reference::Events;
using syskit::Bytes;

// Records the calling thread's yields, progress calls and busy pointer changes while alive.
struct Recorder {
    Events events;
    std::vector<int> pointers;
    syskit::host::ScopedHooks hooks{
        [this] {
            events.push_back({true, 0});
        },
        [this](float p) {
            events.push_back({false, p});
        },
        [this](syskit::host::Pointer p) { pointers.push_back(int(p)); }};
};

// Bytes from hex text, pairs separated by spaces: "48 45 33 0D".
inline Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    for (unsigned value; in >> std::hex >> value;) out.push_back(std::uint8_t(value));
    return out;
}

inline Bytes random_bytes(std::mt19937& rng, std::size_t n, unsigned alphabet = 256) {
    Bytes out(n);
    std::uniform_int_distribution<unsigned> dist(0, alphabet - 1);
    for (auto& b : out) b = std::uint8_t(dist(rng));
    return out;
}

// Bytes whose value counts follow the Fibonacci numbers: the skew that gives the deepest codes.
inline Bytes fibonacci_bytes(int symbols, std::mt19937& rng) {
    Bytes out;
    std::uint64_t a = 1, b = 1;
    for (int v = 0; v < symbols; ++v, b += a, a = b - a)
        out.insert(out.end(), std::size_t(a), std::uint8_t(v));
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

// What a Huffman operation did: its result or the number of the error it raised, the host
// events, and LastErrorCode afterwards.
struct Outcome {
    Bytes result;
    std::int32_t error = 0;
    Events events;
    std::int16_t last_error_code = 0;
    bool operator==(const Outcome&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Outcome& o) {
        os << "{error " << o.error << ", " << o.result.size() << " bytes, last error "
           << o.last_error_code << ", events:";
        for (const auto& e : o.events) os << (e.is_yield ? " y" : " p") << e.percent;
        return os << "}";
    }
};

// Runs a Huffman operation on the real codec, starting from the given LastProgress.
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

// The same operation on the reference model.
inline Outcome run_reference(void (reference::Codec::*op)(Bytes&, std::int32_t), Bytes buffer,
                             std::int32_t byte_len, std::int16_t last_progress = 0) {
    reference::Codec model;
    model.last_progress = last_progress;
    Outcome o;
    try {
        (model.*op)(buffer, byte_len);
        o.result = buffer;
    } catch (const syskit::Error& e) {
        o.error = e.number();
    }
    o.events = model.events;
    o.last_error_code = model.last_error_code;
    return o;
}

}  // namespace codec_test
