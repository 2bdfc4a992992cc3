// DecodeStr64 on arbitrary text: the same bytes as the literal reference model, and those bytes
// written and read again come back unchanged.
#include <cstdlib>

#include "codec/reference.hpp"
#include "syskit/orbex.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const syskit::Bytes decoded = syskit::ORBEX::DecodeStr64(text);
    if (decoded != reference::decode_base64(text)) std::abort();
    if (syskit::ORBEX::DecodeStr64(syskit::ORBEX::EncodeStr64(decoded, 60)) != decoded)
        std::abort();
    return 0;
}
