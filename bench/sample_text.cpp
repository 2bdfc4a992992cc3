// Synthetic English-like text for the codec benchmarks.
#include "sample_text.hpp"

#include <algorithm>
#include <cstdint>
#include <ranges>
#include <string_view>
#include <vector>

#include "syskit/text.hpp"

namespace sample_text {
namespace {

// SplitMix64: a fixed generator, so every platform and library builds the same text from a seed.
struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }  // in [0, 1)
    std::size_t between(std::size_t lo, std::size_t hi) {          // in [lo, hi]
        return lo + std::size_t(uniform() * double(hi - lo + 1));
    }
    bool chance(double p) { return uniform() < p; }
};

// Picks an index with probability proportional to its weight.
struct WeightedChoice {
    std::vector<double> cumulative;
    explicit WeightedChoice(const auto& weights) {
        double total = 0;
        for (const double w : weights) cumulative.push_back(total += w);
        for (double& c : cumulative) c /= total;
    }
    std::size_t pick(SplitMix64& rng) const {
        const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), rng.uniform());
        return std::min(std::size_t(it - cumulative.begin()), cumulative.size() - 1);
    }
};

// Common English words, most frequent first, separated by single spaces.
constexpr std::string_view kVocabulary =
    "the of and to a in is that it was for on are as with his they I at be this have from or one "
    "had by not but what all were we when your can said there use an each which she do how their "
    "if will up other about out many then them these so some her would make like him into time "
    "has look two more write go see number no way could people my than first water been call who "
    "its now find long down day did get come made may part over new after only little work know "
    "place year live me back give most very good man think say great where help through much "
    "before line right too mean old any same tell boy follow came want show also around form "
    "three small set put end does another well large must big even such because turn here why "
    "ask went men read need land different home us move try kind hand picture again change off "
    "play spell air away animal house point page letter mother answer found study still learn "
    "should world high every near add food between own below country plant last school father "
    "keep tree never start city earth eye light thought head under story saw left few while "
    "along might close something seem next hard open example begin life always those both paper "
    "together got group often run important until children side feet car mile night walk white "
    "sea began grow took river four carry state once book hear stop without second later miss "
    "idea enough eat face watch far really almost let above girl sometimes mountain cut young "
    "talk soon list song being leave family body music color stand sun question fish area mark "
    "dog horse birds problem complete room knew since ever piece told usually friends easy heard "
    "order red door sure become top ship across today during short better best however low hours "
    "black products happened whole measure remember early waves reached listen wind rock space "
    "covered fast several hold himself toward five step morning passed vowel true hundred "
    "against pattern numeral table north slowly money map farm pulled draw voice seen cold cried "
    "plan notice south sing war ground fall king town unit figure certain field travel wood fire "
    "upon";

// Letter frequencies of English prose, for the long tail of rarer words.
constexpr double kLetterWeights[] = {
    8.2, 1.5, 2.8, 4.3,   12.7, 2.2, 2.0, 6.1, 7.0,  0.15, 0.77, 4.0, 2.4,    // a-m
    6.7, 7.5, 1.9, 0.095, 6.0,  6.3, 9.1, 2.8, 0.98, 2.4,  0.15, 2.0, 0.074,  // n-z
};

// Cuts `out` to exactly `size` bytes on a character boundary, padding with spaces.
std::string cut_to(std::string out, std::size_t size) {
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.replace(cut, std::string::npos, size - cut, ' ');
    return out;
}

}  // namespace

std::string make_text(std::size_t size, TextKind kind) {
    SplitMix64 rng{0x5EED'0BE5'2024'0001ull + std::uint64_t(kind)};
    std::vector<std::string_view> vocabulary;
    std::vector<double> word_weights;  // Zipf–Mandelbrot
    for (const auto w : std::views::split(kVocabulary, ' ')) {
        vocabulary.emplace_back(w.begin(), w.end());
        word_weights.push_back(1.0 / (double(word_weights.size()) + 2.7));
    }
    const WeightedChoice words(word_weights), letters(kLetterWeights);
    const bool accented = kind == TextKind::Accented;

    std::string out;
    if (kind == TextKind::EveryCharacter) {
        for (syskit::Bytes chunk(4096); out.size() < size; out += syskit::text::from_ansi(chunk)) {
            for (auto& b : chunk) b = std::uint8_t(rng.next() >> 56);
        }
        return cut_to(std::move(out), size);
    }
    out.reserve(size + 256);
    std::string word;
    const auto lower = [&word](std::size_t at) { return word[at] >= 'a' && word[at] <= 'z'; };
    std::size_t column = 0;

    while (out.size() < size) {
        const std::size_t sentences = rng.between(3, 8);
        for (std::size_t s = 0; s < sentences; ++s) {
            const std::size_t length = rng.between(5, 24);
            for (std::size_t k = 0; k < length; ++k) {
                if (rng.chance(0.015)) {
                    word = (accented && rng.chance(0.5) ? "€" : "") +
                           std::to_string(rng.between(1, 2000));
                } else if (rng.chance(0.18)) {
                    word.clear();
                    const std::size_t n = rng.between(3, 11);
                    for (std::size_t c = 0; c < n; ++c) word += char('a' + letters.pick(rng));
                } else {
                    word = vocabulary[words.pick(rng)];
                }
                if (accented && word.size() > 3 && rng.chance(0.08)) {
                    const std::size_t at = rng.between(1, word.size() - 2);
                    if (lower(at)) word.replace(at, 1, rng.chance(0.5) ? "é" : "ü");
                }
                if ((k == 0 || rng.chance(0.03)) && lower(0)) word[0] = char(word[0] - 'a' + 'A');
                if (k + 1 < length && rng.chance(0.07)) word += rng.chance(0.85) ? "," : ";";
                if (k + 1 == length) {
                    const double p = rng.uniform();
                    word += p < 0.86 ? "." : p < 0.94 ? "?" : p < 0.97 ? "!" : ":";
                }
                if (rng.chance(0.01)) word = "\"" + word + "\"";
                const bool wrap =
                    column > 0 && column + 1 + word.size() > 72;  // lines of 72 at most
                if (column > 0) out += wrap ? '\n' : ' ';
                column = (wrap ? 0 : column + (column > 0)) + word.size();
                out += word;
            }
        }
        out += "\n\n";
        column = 0;
    }

    return cut_to(std::move(out), size);
}

}  // namespace sample_text
