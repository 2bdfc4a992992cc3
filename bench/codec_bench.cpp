// codec_bench — the ORBEX stages against well-known peers on the same text.
//
// Every stage runs on the same deterministic English-like text (1 MiB and 16 MiB) next to a peer
// that does comparable work: the cipher against RC4 (OpenSSL EVP, legacy provider), the Huffman
// coder against zlib's deflate with Z_HUFFMAN_ONLY and inflate of that stream, Base64 against
// EVP_EncodeBlock / EVP_DecodeBlock. Throughput is bytes of the plain text per second for all of
// them, so ours and the peer's figures divide into a ratio; a reporter wrapped around the console
// reporter collects them and prints the ratio table after the run.
//
// The text is synthetic so that nothing outside the repository is needed, but it is built to
// have the byte statistics of real prose (a Zipf-weighted vocabulary, a long tail of rarer words
// drawn with English letter frequencies, capitals, punctuation, digits, wrapped lines and
// paragraphs), because Huffman coding speed and size depend on exactly those statistics.
//
// In-place operations (the cipher's array coders, HuffEncodeByte, HuffDecodeByte) get a fresh
// copy of their input before each iteration with the timer paused; the peers write to a separate
// buffer and need no copy. EncodeString and DecodeString also report their peak heap growth,
// counted by the replacement operator new / delete at the end of this file.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/provider.h>
#include <zlib.h>
#include "support/heap_counter.hpp"
#include "sample_text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "syskit/orbex.hpp"
#include "syskit/text.hpp"

namespace {

using syskit::Bytes;
namespace ORBEX = syskit::ORBEX;

constexpr std::size_t kMiB = std::size_t(1) << 20;
constexpr std::string_view kKey1 = "benchmark key 1";
constexpr std::string_view kKey2 = "benchmark key 2";
constexpr std::array<unsigned char, 16> kRc4Key = {'b', 'e', 'n', 'c', 'h', 'm', 'a', 'r',
                                                   'k', ' ', 'r', 'c', '4', ' ', 'k', '1'};

// --- Heap accounting (tests/support/heap_counter.hpp) -----------------------------------------

// The bound EncodeString and DecodeString must keep: 4 × input + 1 MiB.
constexpr std::size_t heap_bound(std::size_t input) {
    return 4 * input + kMiB;
}

// --- Synthetic English text: sample_text.hpp -----------------------------------------------------

using sample_text::TextKind;

// --- Inputs ----------------------------------------------------------------------------------

// A text and its code-page bytes, the input every benchmark of one size shares.
struct Sample {
    std::string text;
    Bytes bytes;
};

const Sample& sample(std::size_t size, TextKind kind = TextKind::English) {
    static std::map<std::pair<std::size_t, TextKind>, std::unique_ptr<Sample>> cache;
    auto& slot = cache[{size, kind}];
    if (!slot) {
        slot = std::make_unique<Sample>();
        slot->text = sample_text::make_text(size, kind);
        slot->bytes = syskit::text::to_ansi(slot->text);
    }
    return *slot;
}

std::string size_name(std::size_t size) {
    return std::to_string(size / kMiB) + "MiB";
}

void set_throughput(benchmark::State& state, std::size_t plain_bytes) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(plain_bytes));
}

// Runs `prepare` with the timer stopped: fresh input for an in-place operation.
template <class Prepare>
void untimed(benchmark::State& state, Prepare prepare) {
    state.PauseTiming();
    prepare();
    state.ResumeTiming();
}

// --- Ours ------------------------------------------------------------------------------------

Bytes our_ciphertext(const Bytes& plain) {
    Bytes cipher = plain;
    ORBEX::SetKey(kKey1, kKey2);
    ORBEX::EncodeByteArray(cipher);
    return cipher;
}

void cipher_encode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    Bytes work(plain.size());
    for (auto _ : state) {
        untimed(state, [&] { std::copy(plain.begin(), plain.end(), work.begin()); });
        ORBEX::SetKey(kKey1, kKey2);
        ORBEX::EncodeByteArray(work);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    if (work != our_ciphertext(plain)) state.SkipWithError("cipher output differs between runs");
    set_throughput(state, plain.size());
}

void cipher_decode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    const Bytes cipher = our_ciphertext(plain);
    Bytes work(cipher.size());
    for (auto _ : state) {
        untimed(state, [&] { std::copy(cipher.begin(), cipher.end(), work.begin()); });
        ORBEX::SetKey(kKey1, kKey2);
        ORBEX::DecodeByteArray(work);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    if (work != plain) state.SkipWithError("deciphered text differs from the text");
    set_throughput(state, plain.size());
}

Bytes our_huffman_stream(const Bytes& plain) {
    Bytes stream = plain;
    ORBEX::HuffEncodeByte(stream, std::int32_t(stream.size()));
    return stream;
}

void huffman_encode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    Bytes work;
    for (auto _ : state) {
        untimed(state, [&] { work.assign(plain.begin(), plain.end()); });
        ORBEX::HuffEncodeByte(work, std::int32_t(plain.size()));
        benchmark::DoNotOptimize(work.data());
    }
    state.counters["stream_over_input"] = double(work.size()) / double(plain.size());
    set_throughput(state, plain.size());
}

void huffman_decode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    const Bytes stream = our_huffman_stream(plain);
    Bytes work;
    for (auto _ : state) {
        untimed(state, [&] { work.assign(stream.begin(), stream.end()); });
        ORBEX::HuffDecodeByte(work, std::int32_t(stream.size()));
        benchmark::DoNotOptimize(work.data());
    }
    if (work != plain) state.SkipWithError("decoded stream differs from the text");
    set_throughput(state, plain.size());
}

void base64_encode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    for (auto _ : state) {
        std::string printable = ORBEX::EncodeStr64(plain, 60);
        benchmark::DoNotOptimize(printable.data());
    }
    set_throughput(state, plain.size());
}

void base64_decode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    const std::string printable = ORBEX::EncodeStr64(plain, 60);
    for (auto _ : state) {
        Bytes decoded = ORBEX::DecodeStr64(printable);
        benchmark::DoNotOptimize(decoded.data());
    }
    if (ORBEX::DecodeStr64(printable) != plain) state.SkipWithError("Base64 round trip failed");
    set_throughput(state, plain.size());
}

// Peak heap growth of one call, as counters: the ratio to the call's input and to the plain text,
// and whether it keeps 4 × input + 1 MiB.
void report_peak(benchmark::State& state, std::size_t peak, std::size_t input, std::size_t plain) {
    state.counters["peak_MiB"] = double(peak) / double(kMiB);
    state.counters["peak_over_input"] = double(peak) / double(input);
    state.counters["peak_over_text"] = double(peak) / double(plain);
    state.counters["peak_within_bound"] = peak <= heap_bound(input) ? 1 : 0;
}

void encode_string(benchmark::State& state, std::size_t size, TextKind kind) {
    const std::string& text = sample(size, kind).text;
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t baseline = heap_counter::restart_peak();
        std::string printable = ORBEX::EncodeString(text, kKey1, kKey2);
        peak = std::max(peak, heap_counter::peak_since(baseline));
        benchmark::DoNotOptimize(printable.data());
    }
    report_peak(state, peak, text.size(), text.size());
    set_throughput(state, text.size());
}

void decode_string(benchmark::State& state, std::size_t size, TextKind kind) {
    const std::string& text = sample(size, kind).text;
    const std::string printable = ORBEX::EncodeString(text, kKey1, kKey2);
    std::size_t peak = 0;
    bool round_trip = true;
    for (auto _ : state) {
        const std::size_t baseline = heap_counter::restart_peak();
        std::string decoded = ORBEX::DecodeString(printable, kKey1, kKey2);
        peak = std::max(peak, heap_counter::peak_since(baseline));
        round_trip = round_trip && decoded.size() == text.size();
        benchmark::DoNotOptimize(decoded.data());
    }
    if (!round_trip || ORBEX::DecodeString(printable, kKey1, kKey2) != text) {
        state.SkipWithError("DecodeString did not return the text");
    }
    report_peak(state, peak, printable.size(), text.size());
    set_throughput(state, text.size());
}

// --- Peers -----------------------------------------------------------------------------------

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;
using Cipher = std::unique_ptr<EVP_CIPHER, CipherDeleter>;

Cipher fetch_rc4() {
    return Cipher(EVP_CIPHER_fetch(nullptr, "RC4", nullptr));
}

// RC4 over `in` into `out`; false when OpenSSL refuses.
bool rc4(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, bool encrypt, const Bytes& in, Bytes& out) {
    int written = 0;
    int final_written = 0;
    return EVP_CipherInit_ex2(ctx, cipher, kRc4Key.data(), nullptr, encrypt ? 1 : 0, nullptr) ==
               1 &&
           EVP_CipherUpdate(ctx, out.data(), &written, in.data(), int(in.size())) == 1 &&
           EVP_CipherFinal_ex(ctx, out.data() + written, &final_written) == 1 &&
           std::size_t(written + final_written) == in.size();
}

void rc4_run(benchmark::State& state, std::size_t size, bool encrypt) {
    const Bytes& plain = sample(size).bytes;
    const Cipher cipher = fetch_rc4();
    const CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx) {
        state.SkipWithError("RC4 is not available (OpenSSL legacy provider)");
        return;
    }
    Bytes input = plain;
    Bytes output(plain.size());
    if (!encrypt && !rc4(ctx.get(), cipher.get(), true, plain, input)) {
        state.SkipWithError("RC4 failed");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        ok = rc4(ctx.get(), cipher.get(), encrypt, input, output) && ok;
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    if (!ok || (!encrypt && output != plain)) state.SkipWithError("RC4 failed");
    set_throughput(state, plain.size());
}

void rc4_encode(benchmark::State& state, std::size_t size) {
    rc4_run(state, size, true);
}
void rc4_decode(benchmark::State& state, std::size_t size) {
    rc4_run(state, size, false);
}

// zlib deflate restricted to Huffman coding: the peer of the Huffman encoder.
class HuffmanOnlyDeflater {
  public:
    HuffmanOnlyDeflater() {
        ok_ = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY) ==
              Z_OK;
    }
    ~HuffmanOnlyDeflater() {
        if (ok_) deflateEnd(&stream_);
    }
    HuffmanOnlyDeflater(const HuffmanOnlyDeflater&) = delete;
    HuffmanOnlyDeflater& operator=(const HuffmanOnlyDeflater&) = delete;

    std::size_t bound(std::size_t n) { return deflateBound(&stream_, uLong(n)); }

    // Compresses `in` into `out` (sized by bound()); returns the stream length, 0 on failure.
    std::size_t run(const Bytes& in, Bytes& out) {
        if (!ok_ || deflateReset(&stream_) != Z_OK) return 0;
        stream_.next_in = const_cast<Bytef*>(in.data());
        stream_.avail_in = uInt(in.size());
        stream_.next_out = out.data();
        stream_.avail_out = uInt(out.size());
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return 0;
        return std::size_t(stream_.total_out);
    }

  private:
    z_stream stream_{};
    bool ok_ = false;
};

class Inflater {
  public:
    Inflater() { ok_ = inflateInit2(&stream_, 15) == Z_OK; }
    ~Inflater() {
        if (ok_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decompresses `in` into `out`; returns the number of bytes written, 0 on failure.
    std::size_t run(const Bytes& in, std::size_t in_size, Bytes& out) {
        if (!ok_ || inflateReset(&stream_) != Z_OK) return 0;
        stream_.next_in = const_cast<Bytef*>(in.data());
        stream_.avail_in = uInt(in_size);
        stream_.next_out = out.data();
        stream_.avail_out = uInt(out.size());
        if (inflate(&stream_, Z_FINISH) != Z_STREAM_END) return 0;
        return std::size_t(stream_.total_out);
    }

  private:
    z_stream stream_{};
    bool ok_ = false;
};

void deflate_huffman_only(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    HuffmanOnlyDeflater deflater;
    Bytes out(deflater.bound(plain.size()));
    std::size_t written = 0;
    for (auto _ : state) {
        written = deflater.run(plain, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (written == 0) state.SkipWithError("deflate failed");
    state.counters["stream_over_input"] = double(written) / double(plain.size());
    set_throughput(state, plain.size());
}

void inflate_huffman_only(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    HuffmanOnlyDeflater deflater;
    Bytes stream(deflater.bound(plain.size()));
    const std::size_t stream_size = deflater.run(plain, stream);
    Inflater inflater;
    Bytes out(plain.size());
    std::size_t written = 0;
    for (auto _ : state) {
        written = inflater.run(stream, stream_size, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (stream_size == 0 || written != plain.size() || out != plain) {
        state.SkipWithError("inflate did not return the text");
    }
    set_throughput(state, plain.size());
}

void evp_base64_encode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    Bytes out((plain.size() + 2) / 3 * 4 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), plain.data(), int(plain.size())));
        benchmark::ClobberMemory();
    }
    set_throughput(state, plain.size());
}

void evp_base64_decode(benchmark::State& state, std::size_t size) {
    const Bytes& plain = sample(size).bytes;
    // EVP_DecodeBlock takes Base64 without line breaks.
    Bytes printable((plain.size() + 2) / 3 * 4 + 1);
    const int printable_size = EVP_EncodeBlock(printable.data(), plain.data(), int(plain.size()));
    Bytes out(std::size_t(printable_size) / 4 * 3 + 3);
    int written = 0;
    for (auto _ : state) {
        written = EVP_DecodeBlock(out.data(), printable.data(), printable_size);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    // The block decoder keeps the padding's zero bytes in its count.
    if (written < 0 || std::size_t(written) < plain.size() ||
        !std::equal(plain.begin(), plain.end(), out.begin())) {
        state.SkipWithError("EVP_DecodeBlock did not return the text");
    }
    set_throughput(state, plain.size());
}

// --- Registration and the ratio table --------------------------------------------------------

constexpr std::array<std::size_t, 2> kSizes = {kMiB, 16 * kMiB};

using Bench = void (*)(benchmark::State&, std::size_t);

// Ours next to the peer, by stage; names are "<stage>/<implementation>/<size>".
struct Pairing {
    std::string_view label;
    std::string_view stage;
    std::string_view ours;
    Bench ours_bench;
    std::string_view peer;
    Bench peer_bench;
};

constexpr Pairing kPairings[] = {
    {"cipher encode vs RC4", "CipherEncode", "ORBEX", cipher_encode, "OpenSSL_RC4", rc4_encode},
    {"cipher decode vs RC4", "CipherDecode", "ORBEX", cipher_decode, "OpenSSL_RC4", rc4_decode},
    {"Huffman encode vs deflate Z_HUFFMAN_ONLY", "HuffmanEncode", "ORBEX", huffman_encode,
     "zlib_deflate_huffman_only", deflate_huffman_only},
    {"Huffman decode vs inflate", "HuffmanDecode", "ORBEX", huffman_decode, "zlib_inflate",
     inflate_huffman_only},
    {"Base64 encode vs EVP_EncodeBlock", "Base64Encode", "ORBEX", base64_encode,
     "OpenSSL_EVP_EncodeBlock", evp_base64_encode},
    {"Base64 decode vs EVP_DecodeBlock", "Base64Decode", "ORBEX", base64_decode,
     "OpenSSL_EVP_DecodeBlock", evp_base64_decode},
};

std::string bench_name(std::string_view stage, std::string_view impl, std::string_view size) {
    return std::string(stage) + "/" + std::string(impl) + "/" + std::string(size);
}

void register_benchmarks() {
    for (const std::size_t size : kSizes) {
        for (const Pairing& p : kPairings) {
            for (const auto& [impl, bench] :
                 {std::pair{p.ours, p.ours_bench}, std::pair{p.peer, p.peer_bench}}) {
                benchmark::RegisterBenchmark(bench_name(p.stage, impl, size_name(size)).c_str(),
                                             bench, size)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    const std::pair<std::size_t, TextKind> inputs[] = {
        {kMiB, TextKind::English}, {16 * kMiB, TextKind::English}, {16 * kMiB, TextKind::Accented}};
    for (const auto& [size, kind] : inputs) {
        const std::string suffix =
            size_name(size) + (kind == TextKind::Accented ? "_accented" : "");
        benchmark::RegisterBenchmark(bench_name("EncodeString", "ORBEX", suffix).c_str(),
                                     encode_string, size, kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(bench_name("DecodeString", "ORBEX", suffix).c_str(),
                                     decode_string, size, kind)
            ->Unit(benchmark::kMillisecond);
    }
}

// The console reporter, plus the figures the summary needs: per benchmark the mean of its
// repetitions when they are aggregated, else its single run.
class SummaryReporter : public benchmark::BenchmarkReporter {
  public:
    SummaryReporter() : console_(benchmark::ConsoleReporter::OO_Tabular) {}

    bool ReportContext(const Context& context) override {
        console_.SetOutputStream(&GetOutputStream());
        console_.SetErrorStream(&GetErrorStream());
        return console_.ReportContext(context);
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if (run.run_type == Run::RT_Aggregate && !mean) continue;
            Figures& f = figures_[run.run_name.function_name];
            if (mean) {
                f.counters = run.counters;
                f.from_mean = true;
            } else if (!f.from_mean) {
                f.counters = run.counters;
            }
        }
        console_.ReportRuns(runs);
    }

    void Finalize() override {
        console_.Finalize();
        print_ratios(GetOutputStream());
        print_peaks(GetOutputStream());
    }

  private:
    struct Figures {
        benchmark::UserCounters counters;
        bool from_mean = false;
    };

    const benchmark::Counter* counter(const std::string& name, const std::string& key) const {
        const auto f = figures_.find(name);
        if (f == figures_.end()) return nullptr;
        const auto c = f->second.counters.find(key);
        return c == f->second.counters.end() ? nullptr : &c->second;
    }

    void print_ratios(std::ostream& out) const {
        std::ostringstream rows;
        for (const Pairing& p : kPairings) {
            for (const std::size_t size : kSizes) {
                const std::string sz = size_name(size);
                const auto* ours = counter(bench_name(p.stage, p.ours, sz), "bytes_per_second");
                const auto* peer = counter(bench_name(p.stage, p.peer, sz), "bytes_per_second");
                if (ours == nullptr && peer == nullptr) continue;
                rows << std::left << std::setw(42) << p.label << std::setw(7) << sz << std::right
                     << std::setw(12) << (ours ? format(ours->value / 1e6) : "-") << std::setw(12)
                     << (peer ? format(peer->value / 1e6) : "-") << std::setw(9)
                     << (ours && peer && peer->value > 0 ? format(ours->value / peer->value, 3)
                                                         : "-")
                     << "\n";
            }
        }
        if (rows.view().empty()) return;
        out << "\nThroughput in MB/s (10^6 bytes of plain text per second); ratio = ours / peer\n";
        out << std::left << std::setw(42) << "stage" << std::setw(7) << "size" << std::right
            << std::setw(12) << "ours" << std::setw(12) << "peer" << std::setw(9) << "ratio"
            << "\n"
            << rows.str();
    }

    void print_peaks(std::ostream& out) const {
        bool header = false;
        for (const auto& [name, figures] : figures_) {
            const auto* peak = counter(name, "peak_MiB");
            if (peak == nullptr) continue;
            if (!header) {
                out << "\nPeak heap growth of one call (bound: 4 x input + 1 MiB; the input of "
                       "DecodeString is its printable text)\n";
                out << std::left << std::setw(36) << "benchmark" << std::right << std::setw(10)
                    << "MiB" << std::setw(12) << "/ input" << std::setw(12) << "/ text"
                    << std::setw(10) << "bound"
                    << "\n";
                header = true;
            }
            const auto* over_input = counter(name, "peak_over_input");
            const auto* over_text = counter(name, "peak_over_text");
            const auto* within = counter(name, "peak_within_bound");
            out << std::left << std::setw(36) << name << std::right << std::setw(10)
                << format(peak->value, 1) << std::setw(12)
                << (over_input ? format(over_input->value, 3) : "-") << std::setw(12)
                << (over_text ? format(over_text->value, 3) : "-") << std::setw(10)
                << (within ? (within->value > 0 ? "kept" : "BROKEN") : "-") << "\n";
        }
    }

    static std::string format(double value, int precision = 1) {
        std::ostringstream s;
        s << std::fixed << std::setprecision(precision) << value;
        return s.str();
    }

    benchmark::ConsoleReporter console_;
    std::map<std::string, Figures> figures_;
};

}  // namespace

int main(int argc, char** argv) {
    // Ours and the peers run in randomly interleaved repetitions by default, so that a machine
    // whose speed drifts during the run slows both sides alike and the ratios stay meaningful.
    // Options on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=3";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    argc = int(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // RC4 lives in OpenSSL's legacy provider; loading it replaces the implicit default one.
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    if (legacy == nullptr) std::cerr << "warning: OpenSSL legacy provider not loaded; no RC4\n";

    register_benchmarks();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (standard != nullptr) OSSL_PROVIDER_unload(standard);
    if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
    return 0;
}
