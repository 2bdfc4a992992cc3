// What long work shows on a terminal: one line of stderr, redrawn in place and erased at the end.
//
// StatusLine is that line; two things draw on it. ProgressBar shows the codec's percentages. The
// library reports them through its progress hook, but the figures of one run are not monotonic:
// each stage reports its own range, ranges may overlap, and the codec ends with a final 0. The bar
// shows the highest figure seen so far, so it only ever moves forward, and redraws only when the
// whole percentage changes. The registry export shows the path of the key it writes (see
// reg_command.cpp), its end when it is too long for the line. Both leave the terminal as it was
// for the command's output or error message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace syskit::cli {

class StatusLine {
  public:
    StatusLine();
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // The characters a line may hold: the terminal's width less one column, so it never wraps.
    [[nodiscard]] std::size_t width() const noexcept { return width_; }

    // Replaces the line with `text` (UTF-8, at most width() characters, no control characters).
    void show(std::string_view text);

    // Erases the line. Safe to call more than once.
    void erase();

  private:
    std::size_t width_;
    std::size_t drawn_ = 0;  // characters on the line now
};

class ProgressBar {
  public:
    // Work on inputs of this size or more shows a bar.
    static constexpr std::size_t kMinInputSize = std::size_t(1) << 20;

    // True when a bar for work on `input_size` bytes should be shown: the input is large enough
    // and stderr is a terminal.
    [[nodiscard]] static bool wanted(std::size_t input_size);

    // A bar labelled `label` (e.g. "syskit encode"); nothing is drawn until the first update.
    explicit ProgressBar(std::string label);

    // Takes a percentage from 0 to 100; figures below the highest one seen are ignored.
    void update(float percent);

    // Erases the bar from the terminal and ignores later updates. Safe to call more than once.
    void finish();

  private:
    std::string label_;
    StatusLine line_;
    std::size_t cells_;  // number of cells in the bar
    int shown_ = -1;     // percentage on screen, -1 when nothing is drawn
    bool finished_ = false;
};

// `text` made to fit `width` characters: its end behind "…" when it is longer, and control
// characters shown as '?'.
[[nodiscard]] std::string fit_to_line(std::string_view text, std::size_t width);

}  // namespace syskit::cli
