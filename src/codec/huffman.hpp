// The Huffman compressor, inside the codec: streams "HE3" (compressed) and "HE0" (stored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "codec/state.hpp"
#include "syskit/text.hpp"

namespace syskit::codec {

// Identification bytes: "HE", the format digit, CR.
inline constexpr std::uint8_t kTagH = 'H', kTagE = 'E', kTagCR = '\r';
inline constexpr std::uint8_t kStoredDigit = '0', kCompressedDigit = '3';
inline constexpr std::size_t kHeaderSize = 11;  // identification, checksum, length, table size

inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The XOR of n bytes, folded eight at a time: the streams' checksum.
inline std::uint8_t xor_bytes(const std::uint8_t* p, std::size_t n) {
    std::uint64_t folded = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) folded ^= load64(p + i);
    folded ^= folded >> 32;
    folded ^= folded >> 16;
    folded ^= folded >> 8;
    auto sum = std::uint8_t(folded);
    for (; i < n; ++i) sum ^= p[i];
    return sum;
}

// Compresses the first `byte_len` bytes of `buffer` into a stream written to `out` at offset
// `front`; `out` ends exactly at the end of the stream and its first `front` bytes are left for
// the caller. Reaching past the end of `buffer` raises RangeError.
void huffman_encode(CodecState& state, std::span<const std::uint8_t> buffer, std::int32_t byte_len,
                    Bytes& out, std::size_t front = 0);

// A byte count as the streams' 32-bit signed length; OverflowError beyond it.
std::int32_t checked_length(std::size_t size);

// Compresses a UTF-8 text, as code-page bytes, like huffman_encode. An ASCII text is its own
// code-page form and is compressed from the caller's bytes without a copy.
void huffman_encode_text(CodecState& state, std::string_view text, Bytes& out,
                         std::size_t front = 0);

// Decompresses the stream in the first `byte_len` bytes of `buffer` into `out` (replaced only on
// success). Out is Bytes or std::string.
template <class Out>
void huffman_decode(CodecState& state, std::span<const std::uint8_t> buffer, std::int32_t byte_len,
                    Out& out);

extern template void huffman_decode(CodecState&, std::span<const std::uint8_t>, std::int32_t,
                                    Bytes&);
extern template void huffman_decode(CodecState&, std::span<const std::uint8_t>, std::int32_t,
                                    std::string&);

}  // namespace syskit::codec
