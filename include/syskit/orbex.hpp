// syskit/orbex.hpp — ORBEX, the text codec.
//
// EncodeString turns a text and two keys into printable text: the text is Huffman-compressed
// ("HE3" stream, or "HE0" when compression does not pay), put behind a random dummy block and
// before two guard bytes, enciphered with a keyed byte cipher of three chained permutation tables
// with ciphertext feedback, and written as Base64 lines of 60 characters separated by CR LF.
// DecodeString runs the same road backwards; the guard bytes tell a right key from a wrong one.
//
// The stage procedures are public too. The codec's state (cipher tables and cursors, feedback
// byte, LastProgress, LastErrorCode) exists once per thread, zero-filled until first use; calls on
// different threads never interfere. Long loops call the host's yield and progress hooks
// (syskit/host.hpp), which must not call back into the codec on the same thread.
//
// Texts are UTF-8; inside they become bytes through the code page of syskit/text.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "syskit/error.hpp"
#include "syskit/text.hpp"

namespace syskit::ORBEX {

// LastErrorCode values.
inline constexpr std::int16_t kTextRejected = 33;     // DecodeString rejected its input
inline constexpr std::int16_t kChecksumMismatch = 5;  // a Huffman stream's checksum did not match

// Raised by the Huffman decoder for a stream whose identification is not "HE0" or "HE3".
class IdentificationError : public Error {
  public:
    static constexpr std::int32_t kNumber = kComponentErrorBase;
    IdentificationError()
        : Error(kNumber, "HuffmanDecode()",
                "The data either was not compressed with HE3 or is corrupt (identification "
                "string not found)") {}
};

// --- State ----------------------------------------------------------------------------------

// The codec's last-error code: 33 when DecodeString rejects a text, 5 when a Huffman checksum
// does not match. Nothing in the codec clears it; a caller may reset it.
std::int16_t& LastErrorCode() noexcept;

// The last progress percentage passed to UpdateStatus by the codec's loops.
std::int16_t& LastProgress() noexcept;

// --- Keyed byte cipher ----------------------------------------------------------------------

// Keys the cipher: rebuilds all three tables, their cursors and the feedback byte. key1 must not be
// empty (DivisionByZeroError); a key2 longer than 32,767 characters raises OverflowError. Only the
// first 463 characters of key1 and 23 of key2 take part.
void SetKey(std::string_view key1, std::string_view key2);

// Advances the three tables one step, feeding `feedback` into the first, and returns one keystream
// byte.
std::uint8_t FnORBEX(std::uint8_t feedback);

// Enciphers one byte; the feedback byte becomes the returned byte.
std::uint8_t EncodeByte(std::uint8_t b);

// Deciphers one byte; the feedback byte becomes `c`.
std::uint8_t DecodeByte(std::uint8_t c);

// Enciphers every byte in place, first to last, yielding to the host and reporting progress
// (56 to 100) every 5000 bytes.
void EncodeByteArray(std::span<std::uint8_t> a);

// Deciphers every byte in place, first to last, yielding to the host and reporting progress
// (0 to 50) every 5000 bytes.
void DecodeByteArray(std::span<std::uint8_t> a);

// Returns a random dummy block of 32 to 255 bytes whose first byte is its length. Leaves the
// cipher keyed with a random key.
Bytes RandomDummy();

// The progress hook: forwards the percentage to the host's progress hook.
void UpdateStatus(float percent);

// --- Huffman compressor ---------------------------------------------------------------------

// Compresses a text (as code-page bytes) into an "HE3" or "HE0" stream.
Bytes HuffEncodeString(std::string_view Text);

// Decompresses a stream back into text.
std::string HuffDecodeString(std::span<const std::uint8_t> Text);

// Compresses the first ByteLen bytes of ByteArray; the buffer then holds the stream.
void HuffEncodeByte(Bytes& ByteArray, std::int32_t ByteLen);

// Decompresses the stream in the first ByteLen bytes of ByteArray; the buffer then holds the
// decoded bytes. A checksum mismatch sets LastErrorCode to 5 and still returns the bytes.
void HuffDecodeByte(Bytes& ByteArray, std::int32_t ByteLen);

// --- Base64 ---------------------------------------------------------------------------------

// Writes bytes as Base64 in lines separated by CR LF; a line length below 10 counts as 10.
std::string EncodeStr64(std::span<const std::uint8_t> s, std::int16_t lineLength);

// Reads Base64 leniently: characters outside the alphabet and "=" are skipped, an incomplete last
// group is dropped.
Bytes DecodeStr64(std::string_view s);

// --- Printable text container ---------------------------------------------------------------

// Encodes a text under two keys into printable text (key1 must not be empty; key2 may be).
// Both calls raise OutOfMemoryError (7) when memory runs out; the codec stays usable.
std::string EncodeString(std::string_view Text, std::string_view key1, std::string_view key2);

// Decodes printable text under the same two keys. Returns an empty string and sets LastErrorCode
// to 33 when the text is rejected (wrong key, damaged or truncated text).
std::string DecodeString(std::string_view Text, std::string_view key1, std::string_view key2);

}  // namespace syskit::ORBEX
