// A one-line progress bar on stderr for long work on a terminal.
//
// The library reports progress as percentages through its progress hook, but the figures of one
// run are not monotonic: each stage reports its own range, ranges may overlap, and the codec ends
// with a final 0. The bar shows the highest figure seen so far, so it only ever moves forward,
// and redraws only when the whole percentage changes. It erases itself when finished, so the
// terminal is left as it was for the command's output or error message.
#pragma once

#include <cstddef>
#include <string>

namespace syskit::cli {

class ProgressBar {
  public:
    // Work on inputs of this size or more shows a bar.
    static constexpr std::size_t kMinInputSize = std::size_t(1) << 20;

    // True when a bar for work on `input_size` bytes should be shown: the input is large enough
    // and stderr is a terminal.
    [[nodiscard]] static bool wanted(std::size_t input_size);

    // A bar labelled `label` (e.g. "syskit encode"); nothing is drawn until the first update.
    explicit ProgressBar(std::string label);
    ~ProgressBar();

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Takes a percentage from 0 to 100; figures below the highest one seen are ignored.
    void update(float percent);

    // Erases the bar from the terminal and ignores later updates. Safe to call more than once.
    void finish();

  private:
    std::string label_;
    std::size_t width_;      // number of cells in the bar
    int shown_ = -1;         // percentage on screen, -1 when nothing is drawn
    std::size_t drawn_ = 0;  // characters of the line as drawn
    bool finished_ = false;
};

}  // namespace syskit::cli
