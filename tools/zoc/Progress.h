#pragma once
// A one-line progress bar on stderr for long renders. Nothing is drawn until
// the work has run for a second, nor ever when stderr is not a terminal.

#include <chrono>
#include <ostream>
#include <string>

namespace zoc::tool {

class ProgressBar {
public:
    ProgressBar(std::ostream& stream, bool enabled, std::string label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// `fraction` of the work is done (0..1).
    void Update(double fraction);
    /// Erases the bar for lines printed in between; the next Update draws
    /// it again.
    void Interrupt();
    /// Erases the bar for good.
    void Finish();

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& stream_;
    bool enabled_;
    std::string label_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
};

} // namespace zoc::tool
