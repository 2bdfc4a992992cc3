#include "reference.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include "syskit/error.hpp"
#include "syskit/orbex.hpp"

namespace reference {

using syskit::DivisionByZeroError;
using syskit::OverflowError;
using syskit::RangeError;

void Codec::report(double figure) {
    // Round to nearest, ties to even, as the processor's default rounding does.
    const auto p = static_cast<std::int16_t>(std::nearbyint(figure));
    if (p != last_progress) {
        last_progress = p;
        events.push_back({false, float(p)});
    }
}

void Codec::set_key(const Bytes& k1, const Bytes& k2) {
    std::int32_t j = 0;
    std::uint8_t a[17]{}, b[23]{};
    for (int x = 0; x < 463; ++x) t1[x] = std::int16_t(x);
    i1 = j1 = 0;
    for (int x = 0; x < 463; ++x) {
        if (k1.empty()) throw DivisionByZeroError();
        j = (t1[x] + j + k1[x % k1.size()]) % 463;
        std::swap(t1[x], t1[j]);
    }
    for (int x = 0; x < 463; ++x) a[x % 17] ^= std::uint8_t(t1[x] & 0xFF);
    for (int x = 0; x < 251; ++x) t2[x] = std::int16_t(x);
    for (int x = 0; x < 251; ++x) {
        j = (t2[x] + j + a[x % 17]) % 251;
        std::swap(t2[x], t2[j]);
    }
    for (int x = 0; x < 251; ++x) b[x % 23] ^= std::uint8_t(t2[x] & 0xFF);
    if (k2.size() > 32767) throw OverflowError();
    if (!k2.empty()) {
        for (int x = 0; x < 23; ++x) b[x] ^= k2[x % k2.size()];
    }
    for (int x = 0; x < 181; ++x) t3[x] = std::int16_t(x);
    for (int x = 0; x < 181; ++x) {
        j = (t3[x] + j + b[x % 23]) % 181;
        std::swap(t3[x], t3[j]);
    }
    i1 = j1 = i2 = j2 = i3 = j3 = 0;
    feedback = 0;
}

std::uint8_t Codec::fn(std::uint8_t f) {
    i1 = std::int16_t((i1 + 1) % 463);
    j1 = std::int16_t((t1[i1] + j1 + f) % 463);
    std::swap(t1[i1], t1[j1]);
    const int r1 = t1[(t1[j1] + t1[i1]) % 463] % 256;
    i2 = std::int16_t((i2 + 1) % 251);
    j2 = std::int16_t((t2[i2] + j2 + r1) % 251);
    std::swap(t2[i2], t2[j2]);
    const int r2 = t2[(t2[j2] + t2[i2]) % 251] % 256;
    i3 = std::int16_t((i3 + 1) % 181);
    j3 = std::int16_t((t3[i3] + j3 + r2) % 181);
    std::swap(t3[i3], t3[j3]);
    const int r3 = t3[(t3[j3] + t3[i3]) % 181] % 256;
    return std::uint8_t((r1 + r2 + r3) % 256);
}

std::uint8_t Codec::encode_byte(std::uint8_t p) {
    const std::uint8_t c = p ^ fn(feedback);
    feedback = c;
    return c;
}

std::uint8_t Codec::decode_byte(std::uint8_t c) {
    const std::uint8_t k = fn(feedback);
    feedback = c;
    return c ^ k;
}

// The array coders: one byte at a time, a yield and a report every 5000 bytes.
void Codec::encode_array(Bytes& a) {
    for (std::size_t x = 0; x < a.size(); ++x) {
        a[x] = encode_byte(a[x]);
        if (x % 5000 == 0) {
            events.push_back({true, 0});
            report((x == 0 ? 0.0 : double(x) / (double(a.size()) - 1)) * 44 + 3 + 3 + 50);
        }
    }
}

void Codec::decode_array(Bytes& a) {
    for (std::size_t x = 0; x < a.size(); ++x) {
        a[x] = decode_byte(a[x]);
        if (x % 5000 == 0) {
            events.push_back({true, 0});
            report((x == 0 ? 0.0 : double(x) / (double(a.size()) - 1)) * 50);
        }
    }
}

namespace {

struct Node {
    int parent = -1, right = -1, left = -1, value = -1;
    std::int32_t weight = 0;
};

struct Tree {
    std::vector<Node> nodes = std::vector<Node>(512);
    int count = 0;
    Node& at(int index) {
        if (index < 0 || index >= 512) throw RangeError();
        return nodes[std::size_t(index)];
    }
};

using BitSequence = std::vector<std::uint8_t>;  // one element per bit

void create_bit_sequences(Tree& tree, int index, const BitSequence& path,
                          std::vector<BitSequence>& codes) {
    const Node& node = tree.at(index);
    if (node.value > -1) {
        codes[std::size_t(node.value)] = path;
        return;
    }
    for (const auto& [child, bit] : {std::pair{node.left, 0}, std::pair{node.right, 1}}) {
        if (child < 0) continue;
        BitSequence next = path;
        next.push_back(std::uint8_t(bit));
        create_bit_sequences(tree, child, next, codes);
    }
}

// Packs bits least significant first into `out`.
struct BitPacker {
    Bytes& out;
    std::uint8_t current = 0;
    int position = 0;
    void put(std::uint8_t bit) {
        current = std::uint8_t(current | bit << position);
        if (++position == 8) finish();
    }
    void finish() {
        if (position > 0) out.push_back(current);
        current = 0;
        position = 0;
    }
};

std::uint8_t at(const Bytes& buffer, std::int64_t index) {
    if (index < 0 || index >= std::int64_t(buffer.size())) throw RangeError();
    return buffer[std::size_t(index)];
}

}  // namespace

void Codec::huff_encode(Bytes& buffer, std::int32_t n) {
    if (n == 0) {
        buffer = {'H', 'E', '0', '\r'};
        return;
    }
    if (n < 0) throw RangeError();
    std::int32_t counts[256]{};
    for (std::int32_t i = 0; i < n; ++i) {
        ++counts[at(buffer, i)];
        if (i % 1000 == 0) {
            events.push_back({true, 0});
            report(double(i) / n * 3);
        }
    }
    Tree tree;
    for (int v = 0; v < 256; ++v) {
        if (counts[v] != 0) {
            Node& leaf = tree.at(tree.count++);
            leaf.weight = counts[v];
            leaf.value = v;
        }
    }
    while (true) {
        int a = -1, b = -1;
        for (int k = 0; k < tree.count; ++k) {
            const Node& node = tree.at(k);
            if (node.parent != -1) continue;
            if (a == -1) {
                a = k;
            } else if (b == -1) {
                b = k;
            } else if (node.weight < tree.at(a).weight) {
                if (node.weight < tree.at(b).weight) {
                    if (tree.at(a).weight >= tree.at(b).weight) {
                        a = k;
                    } else {
                        b = k;
                    }
                } else {
                    a = k;
                }
            } else if (node.weight < tree.at(b).weight) {
                b = k;
            }
        }
        if (b == -1) break;
        Node& inner = tree.at(tree.count);
        inner.weight = tree.at(a).weight + tree.at(b).weight;
        inner.left = a;
        inner.right = b;
        tree.at(a).parent = tree.at(b).parent = tree.count;
        ++tree.count;
    }
    std::vector<BitSequence> codes(256);
    create_bit_sequences(tree, tree.count - 1, {}, codes);

    std::int64_t total = 0;
    for (int v = 0; v < 256; ++v) total += std::int64_t(codes[std::size_t(v)].size()) * counts[v];
    if (total > std::numeric_limits<std::int32_t>::max()) throw OverflowError();
    const std::int64_t payload = (total + 7) / 8;
    if (payload > n || payload == 0) {
        Bytes stored = {'H', 'E', '0', '\r'};
        stored.insert(stored.end(), buffer.begin(), buffer.begin() + n);
        buffer = stored;
        return;
    }
    Bytes out = {'H', 'E', '3', '\r'};
    std::uint8_t checksum = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        checksum ^= buffer[std::size_t(i)];
        if (i % 10000 == 0) {
            events.push_back({true, 0});
            report(double(i) / n * 3 + 3);
        }
    }
    out.push_back(checksum);
    for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(std::uint32_t(n) >> (8 * k)));
    int entries = 0;
    for (const auto& code : codes) entries += code.empty() ? 0 : 1;
    out.push_back(std::uint8_t(entries));
    out.push_back(std::uint8_t(entries >> 8));
    for (int v = 0; v < 256; ++v) {
        if (!codes[std::size_t(v)].empty()) {
            out.push_back(std::uint8_t(v));
            out.push_back(std::uint8_t(codes[std::size_t(v)].size()));
        }
    }
    BitPacker packer{out};
    for (const auto& code : codes) {
        for (auto bit : code) packer.put(bit);
    }
    packer.finish();
    for (std::int32_t i = 0; i < n; ++i) {
        for (auto bit : codes[buffer[std::size_t(i)]]) packer.put(bit);
        if (i % 10000 == 0) {
            events.push_back({true, 0});
            report(double(i) / n * 44 + 3 + 3);
        }
    }
    packer.finish();
    buffer = out;
}

void Codec::huff_decode(Bytes& buffer, std::int32_t n) {
    // A byte of the stream: beyond byte_len or beyond the buffer is out of range.
    auto byte = [&](std::int64_t index) {
        if (index >= n) throw RangeError();
        return at(buffer, index);
    };
    if (n < 4) throw RangeError();
    // Bytes 0, 1 and 3 are all read before they are compared.
    const std::uint8_t tag[] = {byte(0), byte(1), byte(3)};
    if (tag[0] != 'H' || tag[1] != 'E' || tag[2] != '\r')
        throw syskit::ORBEX::IdentificationError();
    if (byte(2) == '0') {
        Bytes result;
        for (std::int32_t i = 4; i < n; ++i) result.push_back(byte(i));
        buffer = result;
        return;
    }
    if (byte(2) != '3') throw syskit::ORBEX::IdentificationError();

    const std::uint8_t checksum = byte(4);
    const auto length = std::int32_t(std::uint32_t(byte(5)) | std::uint32_t(byte(6)) << 8 |
                                     std::uint32_t(byte(7)) << 16 | std::uint32_t(byte(8)) << 24);
    const auto entries = std::int16_t(byte(9) | byte(10) << 8);
    if (length == std::numeric_limits<std::int32_t>::min()) throw OverflowError();
    if (length < 0) throw RangeError();
    if (length == 0) {
        if (checksum != 0) last_error_code = 5;
        buffer.clear();
        return;
    }
    int lengths[256]{};
    std::int64_t p = 11;
    for (int e = 0; e < entries; ++e, p += 2) lengths[byte(p)] = byte(p + 1);

    // Code bits: the next byte is fetched as soon as one is used up.
    std::vector<BitSequence> codes(256);
    std::uint8_t current = byte(p);
    int position = 0;
    for (int v = 0; v < 256; ++v) {
        for (int k = 0; k < lengths[v]; ++k) {
            codes[std::size_t(v)].push_back((current >> position) & 1);
            if (++position == 8) {
                current = byte(++p);
                position = 0;
            }
        }
    }
    const std::int64_t payload_start = position == 0 ? p : p + 1;

    Tree tree;
    tree.count = 1;
    for (int v = 0; v < 256; ++v) {
        if (codes[std::size_t(v)].empty()) continue;
        int node = 0;
        for (auto bit : codes[std::size_t(v)]) {
            int next = bit ? tree.at(node).right : tree.at(node).left;
            if (next == -1) {
                next = tree.count;
                Node& created = tree.at(next);
                created.parent = node;
                ++tree.count;
                (bit ? tree.at(node).right : tree.at(node).left) = next;
            }
            node = next;
        }
        tree.at(node).value = v;
    }

    Bytes result;
    int node = 0;
    bool done = false;
    for (std::int64_t q = payload_start; q < n && !done; ++q) {
        const std::uint8_t b = byte(q);
        for (int k = 0; k < 8 && !done; ++k) {
            node = (b >> k) & 1 ? tree.at(node).right : tree.at(node).left;
            if (tree.at(node).value > -1) {
                result.push_back(std::uint8_t(tree.at(node).value));
                if (std::int64_t(result.size()) == length) {
                    done = true;
                } else {
                    node = 0;
                }
            }
        }
        if (!done && (q + 1) % 10000 == 0) {
            events.push_back({true, 0});
            report(double(q + 1) / n * 50 + 45);
        }
    }
    if (result.empty()) throw RangeError();
    std::uint8_t sum = 0;
    const double d = double(result.size());
    for (std::size_t i = 0; i < result.size(); ++i) {
        sum ^= result[i];
        if (i % 10000 == 0) {
            events.push_back({true, 0});
            report(double(i) / d * 50 + 5 + 45);
        }
    }
    if (sum != checksum) last_error_code = 5;
    buffer = result;
}

// The Base64 alphabet, and "=" as value 64.
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

std::string encode_base64(const Bytes& s, std::int16_t line_length) {
    const char* table = kBase64;
    if (line_length < 10) line_length = 10;
    std::string out;
    std::int16_t counter = 0;
    const std::size_t groups = s.size() / 3;
    auto quantum = [&](std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
        return std::string{table[(b0 >> 2) & 63], table[((b0 & 3) << 4) | ((b1 >> 4) & 15)],
                           table[((b1 & 15) << 2) | ((b2 >> 6) & 3)], table[b2 & 63]};
    };
    for (std::size_t k = 0; k < groups; ++k) {
        out += quantum(s[3 * k], s[3 * k + 1], s[3 * k + 2]);
        if (counter + 4 > 32767) throw OverflowError();
        counter = std::int16_t(counter + 4);
        if (counter >= line_length) {
            out += "\r\n";
            counter = 0;
        }
    }
    const std::size_t rest = s.size() % 3;
    if (rest == 1) out += quantum(s[s.size() - 1], 0, 0).substr(0, 2) + "==";
    if (rest == 2) out += quantum(s[s.size() - 2], s[s.size() - 1], 0).substr(0, 3) + "=";
    return out;
}

Bytes decode_base64(const std::string& s) {
    auto value = [](char c) -> int {
        const char* at = c == '\0' ? nullptr : std::strchr(kBase64, c);
        return at == nullptr ? -1 : int(at - kBase64);
    };
    if (syskit::text::char_count(s) < 4) return {};
    Bytes out(s.size() / 4 * 3);
    std::size_t w = 0;
    int group[4];
    int filled = 0;
    for (char c : s) {
        const int v = value(c);
        if (v < 0) continue;
        group[filled++] = v;
        if (filled < 4) continue;
        filled = 0;
        out[w] = std::uint8_t(((group[0] * 4) % 256) | ((group[1] / 16) & 3));
        out[w + 1] = std::uint8_t((((group[1] & 15) * 16) % 256) | ((group[2] / 4) & 15));
        out[w + 2] = std::uint8_t((((group[2] & 3) * 64) % 256) | group[3]);
        w += 3;
        if (group[3] == 64) --w;
        if (group[2] == 64) --w;
    }
    out.resize(w);
    return out;
}

}  // namespace reference
