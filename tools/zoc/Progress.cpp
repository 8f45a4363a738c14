#include "tools/zoc/Progress.h"

#include <algorithm>
#include <cmath>

namespace zoc::tool {

ProgressBar::ProgressBar(std::ostream& stream, bool enabled, std::string label)
    : stream_(stream), enabled_(enabled), label_(std::move(label)), start_(Clock::now())
{
}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(double fraction)
{
    if (!enabled_)
        return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1))
        return;
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    drawn_ = true;
    constexpr int kWidth = 30;
    const double done = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(done * kWidth);
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::string line = "\r" + label_ + " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kWidth - filled), ' ');
    line += "] " + std::to_string(static_cast<int>(std::lround(done * 100.0))) + "%";
    if (done > 0.01) {
        const long remaining = std::lround(elapsed * (1.0 - done) / done);
        line += "  " + std::to_string(remaining) + " s left ";
    }
    stream_ << line << std::flush;
}

void ProgressBar::Interrupt()
{
    if (drawn_)
        stream_ << "\r\033[K" << std::flush;
    drawn_ = false;
}

void ProgressBar::Finish()
{
    Interrupt();
    enabled_ = false;
}

} // namespace zoc::tool
