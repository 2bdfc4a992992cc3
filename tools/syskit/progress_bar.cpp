#include "progress_bar.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform.hpp"

namespace syskit::cli {
namespace {

constexpr std::size_t kDefaultColumns = 80;
constexpr std::size_t kMinBarWidth = 10;
constexpr std::size_t kMaxBarWidth = 50;
// Around the cells: " [", "] ", "100%" and a column kept free so the line never wraps.
constexpr std::size_t kDecorationWidth = 9;

std::size_t terminal_columns() {
    const std::size_t columns = os::terminal_columns(os::kStandardError);
    return columns > 0 ? columns : kDefaultColumns;
}

void draw(std::string_view text) {
    // A progress bar that cannot be drawn is not worth failing the command for.
    static_cast<void>(os::write_all(os::kStandardError, text));
}

}  // namespace

bool ProgressBar::wanted(std::size_t input_size) {
    return input_size >= kMinInputSize && os::is_terminal(os::kStandardError);
}

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)) {
    const std::size_t columns = terminal_columns();
    const std::size_t room =
        columns > label_.size() + kDecorationWidth ? columns - label_.size() - kDecorationWidth : 0;
    width_ = std::clamp(room, kMinBarWidth, kMaxBarWidth);
}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(float percent) {
    if (finished_ || !(percent >= 0.0f)) return;  // also drops NaN
    const int whole = int(std::min(std::floor(percent), 100.0f));
    if (whole <= shown_) return;
    shown_ = whole;

    const std::size_t filled = width_ * std::size_t(whole) / 100;
    const std::string line = fmt::format("\r{} [{}{}] {:3}%", label_, std::string(filled, '#'),
                                         std::string(width_ - filled, '.'), whole);
    drawn_ = line.size() - 1;
    draw(line);
}

void ProgressBar::finish() {
    finished_ = true;
    if (drawn_ == 0) return;
    draw(fmt::format("\r{}\r", std::string(drawn_, ' ')));
    drawn_ = 0;
}

}  // namespace syskit::cli
