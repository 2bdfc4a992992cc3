// The keyed byte cipher, inside the codec.
#pragma once

#include <cstdint>
#include <span>

#include "codec/state.hpp"

namespace syskit::codec {

// Keys the cipher from the code-page bytes of the two keys. Raises DivisionByZeroError for an empty
// key1 and OverflowError for a key2 longer than 32,767 bytes, leaving the tables as far as the
// schedule got (the first table reset, or the first two rebuilt).
void set_key(CipherState& cipher, std::span<const std::uint8_t> key1,
             std::span<const std::uint8_t> key2);

// One keystream byte, feeding `feedback` into the first table.
std::uint8_t keystream_byte(CipherState& cipher, unsigned feedback);

// The array coders without their yields and progress reports: code bytes in place, first to last,
// carrying the feedback byte from one call to the next.
void encipher(CipherState& cipher, std::span<std::uint8_t> bytes);
void decipher(CipherState& cipher, std::span<std::uint8_t> bytes);

// The array coders with the host yield and progress every 5000 bytes.
void encode_array(CodecState& state, std::span<std::uint8_t> bytes);
void decode_array(CodecState& state, std::span<std::uint8_t> bytes);

}  // namespace syskit::codec
