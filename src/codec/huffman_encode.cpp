// The Huffman encoder.
//
// The code must be exactly the one the stream format describes, so the tree is built the slow,
// literal way: the pair selection scans the parentless nodes in index order, with its own tie
// rules. That costs at most 255 scans of 511 nodes, nothing next to the data passes. The data
// passes are where the time goes, and they are written for the machine: the count uses four
// histograms to break store-to-load chains, the checksum folds eight bytes at a time, and the
// payload is packed into a 64-bit bit buffer flushed with one unaligned store per code.
//
// A code's length is its leaf's depth. Because the tree is a true Huffman tree over at most
// 2^31 - 1 bytes, its depth stays below the Fibonacci bound (a depth of d needs a total weight of
// at least Fib(d + 2)), so no code is longer than 45 bits and every code fits the bit buffer with
// the up to 7 bits already waiting in it.
#include <array>
#include <cstring>
#include <limits>

#include "codec/huffman.hpp"
#include "codec/progress.hpp"
#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

namespace syskit::codec {
namespace {

constexpr std::size_t kCountReportInterval = 1000;
constexpr std::size_t kReportInterval = 10000;
constexpr int kMaxNodes = 512;

struct Node {
    std::int16_t parent = -1;
    std::int16_t right = -1;  // reached by a 1 bit
    std::int16_t left = -1;   // reached by a 0 bit
    std::int16_t value = -1;  // byte value of a leaf
    std::int32_t weight = 0;
};

// A code: its bits with the first bit in bit 0, and its length.
struct Code {
    std::uint64_t bits = 0;
    unsigned length = 0;
};

inline void store64(std::uint8_t* p, std::uint64_t v) {
    std::memcpy(p, &v, sizeof v);
}

// Counting pass: byte counts, with a report after byte i for every i divisible by 1000.
std::array<std::int32_t, 256> count_bytes(CodecState& state, std::span<const std::uint8_t> bytes,
                                          std::int32_t n) {
    std::array<std::array<std::uint32_t, 256>, 4> lanes{};
    auto count_run = [&](std::size_t from, std::size_t to) {
        std::size_t i = from;
        for (; i + 4 <= to; i += 4) {
            ++lanes[0][bytes[i]];
            ++lanes[1][bytes[i + 1]];
            ++lanes[2][bytes[i + 2]];
            ++lanes[3][bytes[i + 3]];
        }
        for (; i < to; ++i) ++lanes[0][bytes[i]];
    };
    in_runs(bytes.size(), kCountReportInterval, count_run,
            [&](std::size_t i) { yield_and_report(state, double(i) / n * 3); });
    std::array<std::int32_t, 256> counts{};
    for (int v = 0; v < 256; ++v) {
        counts[v] = std::int32_t(lanes[0][v] + lanes[1][v] + lanes[2][v] + lanes[3][v]);
    }
    return counts;
}

// Builds the tree exactly as the format prescribes; returns the root's index.
int build_tree(const std::array<std::int32_t, 256>& counts, std::array<Node, kMaxNodes>& nodes) {
    int count = 0;
    for (int v = 0; v < 256; ++v) {
        if (counts[v] != 0) {
            nodes[count].weight = counts[v];
            nodes[count].value = std::int16_t(v);
            ++count;
        }
    }
    const int leaves = count;
    for (int merge = 1; merge < leaves; ++merge) {
        // One scan keeps the two lightest parentless nodes; a node never displaces an earlier
        // one of equal weight, and one lighter than both replaces A when A and B weigh the same.
        int a = -1, b = -1;
        for (int k = 0; k < count; ++k) {
            if (nodes[k].parent != -1) continue;
            const std::int32_t w = nodes[k].weight;
            if (a < 0) {
                a = k;
            } else if (b < 0) {
                b = k;
            } else if (w < nodes[a].weight) {
                if (w < nodes[b].weight) {
                    (nodes[a].weight >= nodes[b].weight ? a : b) = k;
                } else {
                    a = k;
                }
            } else if (w < nodes[b].weight) {
                b = k;
            }
        }
        Node& inner = nodes[count];
        inner.weight = nodes[a].weight + nodes[b].weight;
        inner.left = std::int16_t(a);
        inner.right = std::int16_t(b);
        nodes[a].parent = nodes[b].parent = std::int16_t(count);
        ++count;
    }
    return count - 1;
}

// Codes from the tree: 0 for each step to a left child, 1 for each step to a right child.
void assign_codes(const std::array<Node, kMaxNodes>& nodes, int index, Code path,
                  std::array<Code, 256>& codes) {
    const Node& node = nodes[index];
    if (node.value > -1) {
        codes[node.value] = path;
        return;
    }
    if (node.left > -1) assign_codes(nodes, node.left, {path.bits, path.length + 1}, codes);
    if (node.right > -1) {
        assign_codes(nodes, node.right,
                     {path.bits | (std::uint64_t(1) << path.length), path.length + 1}, codes);
    }
}

// Packs codes least significant bit first. Holds fewer than 8 bits between codes and flushes
// with one unaligned 8-byte store, so `out` needs 8 bytes of slack beyond the packed data.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}
    void put(std::uint64_t bits, unsigned length) {
        buffer_ |= bits << count_;
        count_ += length;
        store64(out_, buffer_);
        out_ += count_ >> 3;
        buffer_ >>= count_ & ~7u;
        count_ &= 7;
    }
    // Writes the partly filled last byte, if any; returns the end of the packed data.
    std::uint8_t* finish() {
        if (count_ > 0) *out_++ = std::uint8_t(buffer_);
        buffer_ = 0;
        count_ = 0;
        return out_;
    }

  private:
    std::uint8_t* out_;
    std::uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

}  // namespace

void huffman_encode(CodecState& state, std::span<const std::uint8_t> buffer, std::int32_t byte_len,
                    Bytes& out, std::size_t front) {
    if (byte_len < 0) throw RangeError();
    const auto n = std::size_t(byte_len);
    const std::uint8_t* in = buffer.data();

    if (n == 0) {
        out.assign(front, 0);
        out.insert(out.end(), {kTagH, kTagE, kStoredDigit, kTagCR});
        return;
    }

    const auto counts = count_bytes(state, buffer.first(std::min(n, buffer.size())), byte_len);
    if (n > buffer.size()) throw RangeError();

    std::array<Node, kMaxNodes> nodes{};
    const int root = build_tree(counts, nodes);
    std::array<Code, 256> codes{};
    assign_codes(nodes, root, {}, codes);

    std::int64_t payload_bits = 0;
    std::int64_t table_bits = 0;
    int entries = 0;
    for (int v = 0; v < 256; ++v) {
        payload_bits += std::int64_t(codes[v].length) * counts[v];
        table_bits += codes[v].length;
        if (codes[v].length != 0) ++entries;
    }
    if (payload_bits > std::numeric_limits<std::int32_t>::max()) throw OverflowError();
    const auto payload_size = std::size_t((payload_bits + 7) / 8);

    // Stored form when coding would not shrink the payload, or when there is only one value.
    if (payload_size > n || payload_size == 0) {
        out.reserve(front + 4 + n + 8);  // room for the caller to append a few bytes
        out.resize(front + 4 + n);
        std::uint8_t* w = out.data() + front;
        w[0] = kTagH;
        w[1] = kTagE;
        w[2] = kStoredDigit;
        w[3] = kTagCR;
        std::memcpy(w + 4, in, n);
        return;
    }

    // Checksum pass, reporting after byte i for every i divisible by 10000.
    std::uint8_t checksum = 0;
    in_runs(
        n, kReportInterval,
        [&](std::size_t from, std::size_t to) { checksum ^= xor_bytes(in + from, to - from); },
        [&](std::size_t i) { yield_and_report(state, double(i) / byte_len * 3 + 3); });

    const std::size_t table_size = std::size_t(entries) * 2;
    const std::size_t code_bytes = std::size_t((table_bits + 7) / 8);
    const std::size_t stream_size = kHeaderSize + table_size + code_bytes + payload_size;
    out.resize(front + stream_size + 8);  // slack for the bit writer's 8-byte stores
    std::uint8_t* w = out.data() + front;
    w[0] = kTagH;
    w[1] = kTagE;
    w[2] = kCompressedDigit;
    w[3] = kTagCR;
    w[4] = checksum;
    for (int k = 0; k < 4; ++k) w[5 + k] = std::uint8_t(n >> (8 * k));
    w[9] = std::uint8_t(entries);
    w[10] = std::uint8_t(entries >> 8);
    std::uint8_t* table = w + kHeaderSize;
    for (int v = 0; v < 256; ++v) {
        if (codes[v].length != 0) {
            *table++ = std::uint8_t(v);
            *table++ = std::uint8_t(codes[v].length);
        }
    }

    BitWriter code_bits(table);
    for (const Code& code : codes) {
        if (code.length != 0) code_bits.put(code.bits, code.length);
    }
    std::uint8_t* payload = code_bits.finish();

    // Payload pass, reporting after byte i for every i divisible by 10000.
    std::array<std::uint64_t, 256> packed;  // code bits, with the length in the top byte
    for (int v = 0; v < 256; ++v) packed[v] = codes[v].bits | std::uint64_t(codes[v].length) << 56;
    BitWriter writer(payload);
    auto pack_run = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const std::uint64_t e = packed[in[i]];
            writer.put(e & ((std::uint64_t(1) << 56) - 1), unsigned(e >> 56));
        }
    };
    in_runs(n, kReportInterval, pack_run,
            [&](std::size_t i) { yield_and_report(state, double(i) / byte_len * 44 + 3 + 3); });
    writer.finish();
    out.resize(front + stream_size);
}

std::int32_t checked_length(std::size_t size) {
    if (size > std::size_t(std::numeric_limits<std::int32_t>::max())) throw OverflowError();
    return std::int32_t(size);
}

void huffman_encode_text(CodecState& state, std::string_view text, Bytes& out, std::size_t front) {
    if (text::is_ascii(text)) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        huffman_encode(state, std::span(bytes, text.size()), checked_length(text.size()), out,
                       front);
    } else {
        const Bytes bytes = text::to_ansi(text);
        huffman_encode(state, bytes, checked_length(bytes.size()), out, front);
    }
}

}  // namespace syskit::codec

namespace syskit::ORBEX {

Bytes HuffEncodeString(std::string_view Text) {
    Bytes stream;
    codec::huffman_encode_text(codec::codec_state(), Text, stream);
    return stream;
}

void HuffEncodeByte(Bytes& ByteArray, std::int32_t ByteLen) {
    Bytes stream;
    codec::huffman_encode(codec::codec_state(), ByteArray, ByteLen, stream);
    ByteArray = std::move(stream);
}

}  // namespace syskit::ORBEX
