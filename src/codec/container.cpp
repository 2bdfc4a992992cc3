// The printable text container: EncodeString and DecodeString.
//
// Container = dummy block (its first byte is its length n), the Huffman stream, then copies of the
// dummy block's last two bytes as guard bytes. It is enciphered as a whole and written as Base64
// lines of 60 characters. A wrong key deciphers the guard bytes into noise, so the decoder rejects
// the text without any stored check value.
//
// Memory: the stream is compressed straight into the container's buffer behind room for the
// longest dummy block, the cipher works in place, and an ASCII text is compressed from the
// caller's own bytes, so a call holds the text, the container and the printable form at most.
// Memory running out ends either call with the out-of-memory error (7), as the codec's other
// errors do; the thread's state stays usable, since every call keys the cipher afresh.
#include <new>

#include "codec/base64.hpp"
#include "codec/cipher.hpp"
#include "codec/huffman.hpp"
#include "syskit/host.hpp"
#include "syskit/orbex.hpp"

namespace syskit::ORBEX {
namespace {

constexpr std::size_t kMaxDummy = 255;
constexpr std::int16_t kLineLength = 60;

// Shows the busy pointer for the duration of a call. Restoring is explicit, where the call's
// steps restore it; should an error leave the call while it is still shown, it is restored too.
class BusyPointer {
  public:
    BusyPointer() { host::busy(host::Pointer::Hourglass); }
    ~BusyPointer() {
        if (shown_) {
            try {
                host::busy(host::Pointer::Default);
            } catch (...) {
                // A failing host hook must not replace the error already leaving the call.
            }
        }
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

    void restore() {
        shown_ = false;
        host::busy(host::Pointer::Default);
    }

  private:
    bool shown_ = true;
};

// Runs a call's body, turning the allocator's failure into the out-of-memory error.
template <class Body>
std::string out_of_memory_is_error(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryError();
    }
}

std::string encode_string(std::string_view Text, std::string_view key1, std::string_view key2) {
    auto& state = codec::codec_state();
    BusyPointer busy;

    Bytes container;
    codec::huffman_encode_text(state, Text, container, kMaxDummy);
    // RandomDummy re-keys the cipher, so it comes before SetKey.
    const Bytes dummy = RandomDummy();
    const std::size_t n = dummy.size();
    const std::size_t start = kMaxDummy - n;
    std::copy(dummy.begin(), dummy.end(), container.begin() + std::ptrdiff_t(start));
    container.push_back(dummy[n - 2]);
    container.push_back(dummy[n - 1]);
    const std::span<std::uint8_t> plain = std::span(container).subspan(start);

    SetKey(key1, key2);
    codec::encode_array(state, plain);
    std::string printable = codec::encode_base64(plain, kLineLength);

    busy.restore();
    UpdateStatus(0);
    return printable;
}

std::string decode_string(std::string_view Text, std::string_view key1, std::string_view key2) {
    auto& state = codec::codec_state();
    BusyPointer busy;

    Bytes container = codec::decode_base64(Text);
    SetKey(key1, key2);
    codec::decode_array(state, container);
    busy.restore();

    // Accepted only when the dummy length n fits (2 <= n <= L - 2) and both guard bytes match the
    // dummy block's last two bytes.
    const auto size = std::ptrdiff_t(container.size());
    const std::ptrdiff_t n = size > 0 ? container[0] : 0;
    const bool accepted = size > 0 && n >= 2 && n <= size - 2 &&
                          container[size - 1] == container[n - 1] &&
                          container[size - 2] == container[n - 2];
    if (!accepted) {
        LastErrorCode() = kTextRejected;
        UpdateStatus(0);
        busy.restore();
        return {};
    }

    const auto payload = std::span(container).subspan(std::size_t(n), std::size_t(size - 2 - n));
    std::string decoded;
    codec::huffman_decode(state, payload, codec::checked_length(payload.size()), decoded);
    Bytes().swap(container);  // release the container before the text grows into UTF-8
    text::ansi_to_utf8_in_place(decoded);
    UpdateStatus(0);
    busy.restore();
    return decoded;
}

}  // namespace

std::string EncodeString(std::string_view Text, std::string_view key1, std::string_view key2) {
    return out_of_memory_is_error([&] { return encode_string(Text, key1, key2); });
}

std::string DecodeString(std::string_view Text, std::string_view key1, std::string_view key2) {
    return out_of_memory_is_error([&] { return decode_string(Text, key1, key2); });
}

}  // namespace syskit::ORBEX
