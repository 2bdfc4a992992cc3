// A literal, slow model of the codec, written straight from the stream formats and algorithms
// with none of the implementation's shortcuts: 16-bit tables reduced with %, codes held one byte
// per bit, a tree walked one bit at a time. Property tests compare the real codec against it —
// results, errors, LastErrorCode and every yield and progress call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "syskit/text.hpp"

namespace reference {

using syskit::Bytes;

// A host event: a yield, or a progress call with its percentage.
struct Event {
    bool is_yield;
    float percent;
    bool operator==(const Event&) const = default;
};
using Events = std::vector<Event>;

// Module state of the model: tables, cursors, feedback byte, LastProgress, LastErrorCode, and the
// events it produced.
struct Codec {
    std::int16_t t1[463]{}, t2[251]{}, t3[181]{};
    std::int16_t i1 = 0, j1 = 0, i2 = 0, j2 = 0, i3 = 0, j3 = 0;
    std::uint8_t feedback = 0;
    std::int16_t last_progress = 0;
    std::int16_t last_error_code = 0;
    Events events;

    // Raise syskit errors (RangeError, OverflowError, DivisionByZeroError, IdentificationError).
    void set_key(const Bytes& k1, const Bytes& k2);
    std::uint8_t fn(std::uint8_t f);
    std::uint8_t encode_byte(std::uint8_t b);
    std::uint8_t decode_byte(std::uint8_t c);
    void encode_array(Bytes& a);
    void decode_array(Bytes& a);

    void huff_encode(Bytes& buffer, std::int32_t byte_len);
    void huff_decode(Bytes& buffer, std::int32_t byte_len);

    void report(double figure);
};

std::string encode_base64(const Bytes& s, std::int16_t line_length);
Bytes decode_base64(const std::string& s);

}  // namespace reference
