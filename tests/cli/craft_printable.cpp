// Makes printable texts that `syskit decode` must turn away, deterministically.
//
// A damaged text that still passes the decoder's guard-byte check cannot be made by editing an
// encoded text: every later byte deciphers differently and the guards fail. This helper builds
// the container itself from the codec's public stages, with a fixed dummy block, a chosen
// payload and correct guard bytes, and enciphers it under the given keys. The result is the same
// on every run, so wrong keys and truncations of it are rejected on every run too.
//
// Usage: craft_printable KIND KEY1 KEY2 < text > printable
//   valid           the text's own compressed stream (decodes to the text: the control)
//   bad-checksum    that stream with its checksum byte changed
//   cut-stream      that stream cut short inside its header
//   unknown-stream  a stream whose identification is not "HE0" or "HE3"
#include <cstdint>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "syskit/orbex.hpp"

namespace {

constexpr std::size_t kDummyLength = 32;
constexpr std::size_t kChecksumOffset = 4;
constexpr std::size_t kCutLength = 7;

syskit::Bytes payload_for(std::string_view kind, const std::string& text) {
    syskit::Bytes stream = syskit::ORBEX::HuffEncodeString(text);
    if (kind == "valid") return stream;
    if (kind == "unknown-stream") return {'H', 'E', '9', '\r', 0, 1, 2, 3};
    if (stream.size() <= kChecksumOffset || stream[2] != '3') {
        throw std::runtime_error("the text must be long and repetitive enough to compress");
    }
    if (kind == "bad-checksum") {
        stream[kChecksumOffset] ^= 0x5A;
        return stream;
    }
    if (kind == "cut-stream") {
        stream.resize(kCutLength);
        return stream;
    }
    throw std::runtime_error("unknown kind");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: craft_printable KIND KEY1 KEY2 < text\n";
        return 2;
    }
    try {
        const std::string text(std::istreambuf_iterator<char>(std::cin), {});
        const syskit::Bytes payload = payload_for(argv[1], text);

        // Dummy block: its length, then fixed filler; the guards repeat its last two bytes.
        syskit::Bytes container(kDummyLength);
        container[0] = std::uint8_t(kDummyLength);
        for (std::size_t i = 1; i < kDummyLength; ++i) container[i] = std::uint8_t(i * 37);
        container.insert(container.end(), payload.begin(), payload.end());
        container.push_back(container[kDummyLength - 2]);
        container.push_back(container[kDummyLength - 1]);

        syskit::ORBEX::SetKey(argv[2], argv[3]);
        syskit::ORBEX::EncodeByteArray(container);
        std::cout << syskit::ORBEX::EncodeStr64(container, 60);
        return std::cout.flush() ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "craft_printable: " << error.what() << '\n';
        return 1;
    }
}
