// HuffDecodeByte on arbitrary streams returns or raises one of the component's errors, leaving a
// failed call's buffer as it was; the same bytes compressed decode to themselves.
#include <cstdlib>

#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte chooses how ByteLen relates to the buffer: equal, shorter or longer.
    if (size < 1) return 0;
    const syskit::Bytes input(data + 1, data + size);
    const auto n = std::int32_t(input.size());
    syskit::Bytes buffer = input;
    try {
        syskit::ORBEX::HuffDecodeByte(buffer, data[0] < 200 ? n : n + (int(data[0]) - 228));
    } catch (const syskit::Error&) {
        if (buffer != input) std::abort();
    }
    buffer = input;
    syskit::ORBEX::LastErrorCode() = 0;
    syskit::ORBEX::HuffEncodeByte(buffer, n);
    syskit::ORBEX::HuffDecodeByte(buffer, std::int32_t(buffer.size()));
    if (buffer != input || syskit::ORBEX::LastErrorCode() != 0) std::abort();
    return 0;
}
