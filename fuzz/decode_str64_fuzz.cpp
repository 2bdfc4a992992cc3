// DecodeStr64 reads any text, and the bytes it gives, written and read again, come back
// unchanged; so do the input's own bytes, at a line length the input chooses.
#include <cstdlib>

#include "syskit/orbex.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using syskit::ORBEX::DecodeStr64, syskit::ORBEX::EncodeStr64;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const syskit::Bytes decoded = DecodeStr64(text);
    if (DecodeStr64(EncodeStr64(decoded, 60)) != decoded) std::abort();
    const syskit::Bytes bytes(data, data + size);
    const auto line_length = std::int16_t(size == 0 ? 0 : int(data[0]) - 20);
    if (DecodeStr64(EncodeStr64(bytes, line_length)) != bytes) std::abort();
    return 0;
}
