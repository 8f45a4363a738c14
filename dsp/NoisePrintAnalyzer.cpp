// Noise print capture.

#include "dsp/NoisePrintAnalyzer.h"

#include <algorithm>

namespace zoc::dsp {

NoisePrintAnalyzer::NoisePrintAnalyzer(float sampleRate, int frameSize)
    : sampleRate_(sampleRate), frameSize_(std::max(16, frameSize)),
      window_(static_cast<std::size_t>(frameSize_)), windowed_(static_cast<std::size_t>(frameSize_)),
      spectrum_(static_cast<std::size_t>(frameSize_ / 2 + 1)),
      magnitudeSums_(static_cast<std::size_t>(frameSize_ / 2 + 1))
{
    GetFFTWindow(WindowType::Hann, window_.data(), frameSize_, true);
    pending_.reserve(static_cast<std::size_t>(frameSize_));
}

void NoisePrintAnalyzer::Analyze(const float* samples, int frames)
{
    const std::size_t size = static_cast<std::size_t>(frameSize_);
    for (int i = 0; i < frames; ++i) {
        pending_.push_back(samples[i]);
        if (pending_.size() == size) {
            AnalyzeFrame();
            // Keep the second half: frames overlap by half.
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(size / 2));
        }
    }
}

void NoisePrintAnalyzer::AnalyzeFrame()
{
    for (std::size_t i = 0; i < windowed_.size(); ++i)
        windowed_[i] = pending_[i] * window_[i];
    if (!fft_)
        fft_.emplace(frameSize_);
    fft_->Forward(windowed_.data(), spectrum_.data());
    for (std::size_t bin = 0; bin < spectrum_.size(); ++bin)
        magnitudeSums_[bin] += std::abs(spectrum_[bin]);
    ++framesAnalyzed_;
}

void NoisePrintAnalyzer::Reset()
{
    pending_.clear();
    std::fill(magnitudeSums_.begin(), magnitudeSums_.end(), 0.0);
    framesAnalyzed_ = 0;
}

std::vector<float> NoisePrintAnalyzer::AverageMagnitudes() const
{
    std::vector<float> average(magnitudeSums_.size(), 0.0f);
    if (framesAnalyzed_ == 0)
        return average;
    for (std::size_t bin = 0; bin < average.size(); ++bin)
        average[bin] = static_cast<float>(magnitudeSums_[bin] / framesAnalyzed_);
    return average;
}

} // namespace zoc::dsp
