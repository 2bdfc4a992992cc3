// HuffDecodeByte on arbitrary streams, checked against the literal reference model: the same
// decoded bytes or the same error, the same LastErrorCode and the same yields and progress calls.
// The fast, table-driven decoder must be indistinguishable from the bit-by-bit walk.
#include <cstdlib>

#include "codec/support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte chooses how ByteLen relates to the buffer: equal, shorter or longer.
    if (size < 1) return 0;
    const syskit::Bytes stream(data + 1, data + size);
    const auto n = std::int32_t(stream.size());
    const std::int32_t byte_len = data[0] < 200 ? n : n + (int(data[0]) - 228);
    const auto actual = codec_test::run_codec(syskit::ORBEX::HuffDecodeByte, stream, byte_len);
    const auto expected =
        codec_test::run_reference(&reference::Codec::huff_decode, stream, byte_len);
    if (!(actual == expected)) std::abort();
    return 0;
}
