// The Huffman decoder.
//
// The stream format's decoder walks a tree one bit at a time. That walk fixes every observable
// detail: where a bad code fails, how much of a truncated payload comes back, and when the
// progress reports fall (after the 8 bits of every 10,000th stream byte, unless decoding ended
// inside that byte). This decoder keeps the tree walk as its exact, slow path and adds a fast
// path that cannot be told apart from it:
//
//   - A lookup table indexed by the next kTableBits payload bits gives up to three whole symbols
//     and the bits they use, so most steps emit several bytes with one load.
//   - The fast path runs only where it cannot cross a report point, the end of the payload or the
//     end of the output, and only for table entries that resolve whole symbols. Everything else —
//     long codes, codes that lead to a missing child, the bits around each report point and the
//     last bytes of the payload — goes through the walk, which therefore decides every corner.
//
// The output is allocated for at most as many bytes as the payload has bits (every code has at
// least one bit), whatever length the header claims.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "codec/huffman.hpp"
#include "codec/progress.hpp"
#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

namespace syskit::codec {
namespace {

constexpr std::size_t kReportInterval = 10000;
constexpr int kMaxNodes = 512;
constexpr unsigned kTableBits = 11;
constexpr unsigned kSymbolsPerEntry = 3;
constexpr unsigned kLookupsPerRefill = 4;  // 4 × 11 bits fit the 57 bits a refill guarantees
// Payloads shorter than this are walked bit by bit: building the table would cost more.
constexpr std::size_t kMinTablePayload = 64;

// The tree as the format's CreateTree builds it: node 0 is the root, children are created in the
// order the codes are listed, and a node's value is the byte of the last code ending there.
struct Tree {
    std::array<std::int16_t, kMaxNodes> left;   // child on a 0 bit, -1 for none
    std::array<std::int16_t, kMaxNodes> right;  // child on a 1 bit, -1 for none
    std::array<std::int16_t, kMaxNodes> value;  // byte value, -1 for none
    int count = 0;
};

// Lookup entry: up to three symbols in bits 0-23, the number of bits they use in bits 24-27 and
// their number in bits 28-29. An entry without symbols sends the step to the walk.
using Entry = std::uint32_t;
constexpr unsigned entry_bits(Entry e) {
    return (e >> 24) & 0xF;
}
constexpr unsigned entry_symbols(Entry e) {
    return e >> 28;
}

// Reads the code bits, in ascending order of value, and builds the tree from them as it goes:
// each code's path is created from the root, and its last node takes the value.
void build_tree(const std::array<std::uint8_t, 256>& lengths, const std::uint8_t* stream,
                std::size_t bit, Tree& tree) {
    tree.left.fill(-1);
    tree.right.fill(-1);
    tree.value.fill(-1);
    tree.count = 1;
    for (int v = 0; v < 256; ++v) {
        if (lengths[v] == 0) continue;
        int node = 0;
        for (unsigned k = 0; k < lengths[v]; ++k, ++bit) {
            const bool one = (stream[bit >> 3] >> (bit & 7)) & 1;
            std::int16_t& child = one ? tree.right[node] : tree.left[node];
            if (child == -1) {
                if (tree.count == kMaxNodes) throw RangeError();
                child = std::int16_t(tree.count++);
            }
            node = child;
        }
        tree.value[node] = std::int16_t(v);
    }
}

// Fills the lookup table: for every pattern of `bits` bits, the whole symbols the walk would emit
// from the root within them (at most three). Patterns whose first symbol needs more bits, or
// meets a missing child, get an entry without symbols.
void build_table(const Tree& tree, unsigned bits, std::vector<Entry>& table) {
    table.assign(std::size_t(1) << bits, 0);
    for (std::size_t pattern = 0; pattern < table.size(); ++pattern) {
        Entry e = 0;
        unsigned symbols = 0;
        int node = 0;
        for (unsigned k = 0; k < bits; ++k) {
            const int child = (pattern >> k) & 1 ? tree.right[node] : tree.left[node];
            if (child < 0) break;
            node = child;
            if (tree.value[node] >= 0) {
                e |= Entry(tree.value[node]) << (8 * symbols);
                e = (e & ~(0xFu << 24)) | Entry(k + 1) << 24;
                node = 0;
                if (++symbols == kSymbolsPerEntry) break;
            }
        }
        table[pattern] = symbols == 0 ? 0 : e | Entry(symbols) << 28;
    }
}

// The walk over the payload bits [bit, end_bit) of `stream`, writing decoded bytes to `out`.
class Walker {
  public:
    Walker(CodecState& state, const Tree& tree, const std::uint8_t* stream, std::int32_t byte_len,
           std::uint64_t bit, std::uint64_t end_bit, std::uint8_t* out, std::size_t out_limit)
        : state_(state),
          tree_(tree),
          stream_(stream),
          byte_len_(byte_len),
          bit_(bit),
          end_bit_(end_bit),
          out_(out),
          out_limit_(out_limit) {}

    enum class Stop { Ended, RanOut };

    // Decodes until the output reaches its length or the bits run out.
    Stop run(const std::vector<Entry>* table, unsigned table_bits) {
        for (;;) {
            if (table != nullptr) fast(*table, table_bits);
            if (walk_one()) return Stop::Ended;
            if (bit_ == end_bit_) return Stop::RanOut;
        }
    }

    std::size_t decoded() const { return written_; }

  private:
    // The report after the 8 bits of the byte at 1-based stream position q.
    void byte_done(std::uint64_t q) {
        if (q % kReportInterval == 0) yield_and_report(state_, double(q) / byte_len_ * 50 + 45);
    }

    // Walks one symbol bit by bit from the root. Returns true when the output is complete.
    bool walk_one() {
        int node = 0;
        while (bit_ < end_bit_) {
            const unsigned b = (stream_[bit_ >> 3] >> (bit_ & 7)) & 1;
            ++bit_;
            const int child = b ? tree_.right[node] : tree_.left[node];
            if (child < 0) throw RangeError();
            node = child;
            bool emitted = false;
            if (tree_.value[node] >= 0) {
                out_[written_++] = std::uint8_t(tree_.value[node]);
                if (written_ == out_limit_) return true;
                emitted = true;
            }
            if ((bit_ & 7) == 0) byte_done(bit_ >> 3);
            if (emitted) return false;
        }
        return false;
    }

    // Table steps while no step can reach a report point, the end of the payload or the end of
    // the output. Stops at the first entry that needs the walk.
    void fast(const std::vector<Entry>& table, unsigned table_bits) {
        const std::uint64_t mask = (std::uint64_t(1) << table_bits) - 1;
        const std::uint64_t span = std::uint64_t(kLookupsPerRefill) * table_bits;
        // Refills read 8 whole bytes from the byte holding the current bit.
        if (end_bit_ < 64) return;
        const std::uint64_t readable_end = end_bit_ - 64;
        for (;;) {
            const std::uint64_t next_report =
                (bit_ / 8 / kReportInterval + 1) * kReportInterval * 8;
            const std::uint64_t limit = std::min(next_report, end_bit_);
            while (bit_ + span <= limit && bit_ <= readable_end &&
                   out_limit_ - written_ > kLookupsPerRefill * kSymbolsPerEntry) {
                std::uint64_t word = load64(stream_ + (bit_ >> 3)) >> (bit_ & 7);
                for (unsigned k = 0; k < kLookupsPerRefill; ++k) {
                    const Entry e = table[static_cast<std::size_t>(word & mask)];
                    if (entry_symbols(e) == 0) return;
                    std::memcpy(out_ + written_, &e, 4);  // 3 symbols and a byte of slack
                    written_ += entry_symbols(e);
                    word >>= entry_bits(e);
                    bit_ += entry_bits(e);
                }
            }
            // Steps end on a report point only after a whole refill; the walk passed the byte's
            // 8 bits without ending, so the report is owed now.
            if (bit_ != next_report) return;
            byte_done(bit_ >> 3);
        }
    }

    CodecState& state_;
    const Tree& tree_;
    const std::uint8_t* stream_;
    std::int32_t byte_len_;
    std::uint64_t bit_;
    std::uint64_t end_bit_;
    std::uint8_t* out_;
    std::size_t out_limit_;
    std::size_t written_ = 0;
};

// Checksum pass over the decoded bytes, reporting after byte i for every i divisible by 10000.
std::uint8_t checksum_pass(CodecState& state, const std::uint8_t* data, std::size_t d) {
    std::uint8_t sum = 0;
    in_runs(
        d, kReportInterval,
        [&](std::size_t from, std::size_t to) { sum ^= xor_bytes(data + from, to - from); },
        [&](std::size_t i) { yield_and_report(state, double(i) / double(d) * 50 + 5 + 45); });
    return sum;
}

// A copy of n bytes, made before `out` (which may be the stream's own buffer) is replaced.
template <class Out>
Out copy_bytes(const std::uint8_t* p, std::size_t n) {
    return Out(reinterpret_cast<const typename Out::value_type*>(p),
               reinterpret_cast<const typename Out::value_type*>(p) + n);
}

}  // namespace

template <class Out>
void huffman_decode(CodecState& state, std::span<const std::uint8_t> buffer, std::int32_t byte_len,
                    Out& out) {
    // The stream is the first byte_len bytes; a byte_len beyond the buffer fails where the
    // decoder first reaches past the buffer.
    const std::size_t n = byte_len < 0 ? 0 : std::size_t(byte_len);
    const std::size_t available = std::min(n, buffer.size());
    const std::uint8_t* s = buffer.data();
    auto need = [&](std::size_t bytes) {
        if (bytes > available) throw RangeError();
    };

    need(4);
    if (s[0] != kTagH || s[1] != kTagE || s[3] != kTagCR) throw ORBEX::IdentificationError();
    if (s[2] == kStoredDigit) {
        need(n);
        out = copy_bytes<Out>(s + 4, n - 4);
        return;
    }
    if (s[2] != kCompressedDigit) throw ORBEX::IdentificationError();

    need(kHeaderSize);
    const std::uint8_t stored_checksum = s[4];
    const auto length = std::int32_t(std::uint32_t(s[5]) | std::uint32_t(s[6]) << 8 |
                                     std::uint32_t(s[7]) << 16 | std::uint32_t(s[8]) << 24);
    const auto entries = std::int16_t(s[9] | s[10] << 8);
    if (length == std::numeric_limits<std::int32_t>::min()) throw OverflowError();
    if (length < 0) throw RangeError();
    if (length == 0) {
        // Never written by the encoder: an empty result, checked like any other.
        if (stored_checksum != 0) ORBEX::LastErrorCode() = ORBEX::kChecksumMismatch;
        out.clear();
        return;
    }

    // Code table: a value listed twice keeps its last length.
    const std::size_t table_end = kHeaderSize + 2 * std::size_t(std::max<std::int16_t>(entries, 0));
    need(table_end);
    std::array<std::uint8_t, 256> lengths{};
    for (std::size_t p = kHeaderSize; p < table_end; p += 2) lengths[s[p]] = s[p + 1];

    // Code bits. The byte after the last one used is fetched as soon as a byte is used up, so
    // code bits that end on a byte boundary still need the byte that follows them.
    std::size_t code_bits = 0;
    for (const auto l : lengths) code_bits += l;
    need(table_end + code_bits / 8 + 1);
    const std::size_t payload_start = table_end + (code_bits + 7) / 8;

    Tree tree;
    build_tree(lengths, s, table_end * 8, tree);

    // Every code has at least one bit, so the payload cannot give more bytes than it has bits.
    const std::size_t payload_bits = (std::max(available, payload_start) - payload_start) * 8;
    const std::size_t out_limit = std::min(std::size_t(length), payload_bits);
    Out decoded;
    decoded.resize(out_limit + 4);  // slack for the table steps' 4-byte stores
    auto* out_bytes = reinterpret_cast<std::uint8_t*>(decoded.data());

    std::vector<Entry> table;
    if (payload_bits / 8 >= kMinTablePayload) build_table(tree, kTableBits, table);

    Walker walker(state, tree, s, byte_len, payload_start * 8, available * 8, out_bytes,
                  std::size_t(length));
    const auto stop = walker.run(table.empty() ? nullptr : &table, kTableBits);
    // Bits that ran out before byte_len did ran out of the caller's buffer.
    if (stop == Walker::Stop::RanOut && available < n) throw RangeError();
    const std::size_t d = walker.decoded();
    if (d == 0) throw RangeError();

    if (checksum_pass(state, out_bytes, d) != stored_checksum) {
        ORBEX::LastErrorCode() = ORBEX::kChecksumMismatch;
    }
    decoded.resize(d);
    out = std::move(decoded);
}

template void huffman_decode(CodecState&, std::span<const std::uint8_t>, std::int32_t, Bytes&);
template void huffman_decode(CodecState&, std::span<const std::uint8_t>, std::int32_t,
                             std::string&);

}  // namespace syskit::codec

namespace syskit::ORBEX {

std::string HuffDecodeString(std::span<const std::uint8_t> Text) {
    std::string decoded;
    codec::huffman_decode(codec::codec_state(), Text, codec::checked_length(Text.size()), decoded);
    text::ansi_to_utf8_in_place(decoded);
    return decoded;
}

void HuffDecodeByte(Bytes& ByteArray, std::int32_t ByteLen) {
    codec::huffman_decode(codec::codec_state(), ByteArray, ByteLen, ByteArray);
}

}  // namespace syskit::ORBEX
