#include "progress_bar.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "platform.hpp"

namespace syskit::cli {
namespace {

constexpr std::size_t kDefaultColumns = 80;
constexpr std::size_t kMinBarWidth = 10;
constexpr std::size_t kMaxBarWidth = 50;
// Around the cells: " [", "] " and "100%".
constexpr std::size_t kDecorationWidth = 8;

void draw(std::string_view text) {
    // A line that cannot be drawn is not worth failing the command for.
    static_cast<void>(os::write_all(os::kStandardError, text));
}

std::size_t characters_of(std::string_view utf8) {
    return std::size_t(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

StatusLine::StatusLine() {
    const std::size_t columns = os::terminal_columns(os::kStandardError);
    width_ = (columns > 1 ? columns : kDefaultColumns) - 1;
}

StatusLine::~StatusLine() {
    erase();
}

void StatusLine::show(std::string_view text) {
    const std::size_t shown = characters_of(text);
    std::string line = fmt::format("\r{}", text);
    if (shown < drawn_) line += std::string(drawn_ - shown, ' ');
    drawn_ = shown;
    draw(line);
}

void StatusLine::erase() {
    if (drawn_ == 0) return;
    draw(fmt::format("\r{}\r", std::string(drawn_, ' ')));
    drawn_ = 0;
}

std::string fit_to_line(std::string_view text, std::size_t width) {
    std::vector<std::string_view> characters;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        while (i + length < text.size() && (text[i + length] & 0xC0) == 0x80) ++length;
        characters.push_back(text.substr(i, length));
        i += length;
    }
    std::string line;
    std::size_t first = 0;
    if (characters.size() > width && width > 0) {
        line = "\u2026";
        first = characters.size() - (width - 1);
    }
    for (std::size_t i = first; i < characters.size(); ++i) {
        const auto byte = static_cast<unsigned char>(characters[i].front());
        line += byte < 0x20 || byte == 0x7F ? std::string_view("?") : characters[i];
    }
    return line;
}

bool ProgressBar::wanted(std::size_t input_size) {
    return input_size >= kMinInputSize && os::is_terminal(os::kStandardError);
}

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)) {
    const std::size_t room = line_.width() > label_.size() + kDecorationWidth
                                 ? line_.width() - label_.size() - kDecorationWidth
                                 : 0;
    cells_ = std::clamp(room, kMinBarWidth, kMaxBarWidth);
}

void ProgressBar::update(float percent) {
    if (finished_ || !(percent >= 0.0f)) return;  // also drops NaN
    const int whole = int(std::min(std::floor(percent), 100.0f));
    if (whole <= shown_) return;
    shown_ = whole;
    const std::size_t filled = cells_ * std::size_t(whole) / 100;
    line_.show(fmt::format("{} [{}{}] {:3}%", label_, std::string(filled, '#'),
                           std::string(cells_ - filled, '.'), whole));
}

void ProgressBar::finish() {
    finished_ = true;
    line_.erase();
}

}  // namespace syskit::cli
