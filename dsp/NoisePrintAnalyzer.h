#pragma once
// Captures a noise print: the average magnitude spectrum of everything it is
// fed, in Hann-windowed frames with half overlap.

#include <complex>
#include <optional>
#include <vector>

#include "contracts/dsp/Kernel.h"
#include "dsp/FFT.h"

namespace zoc::dsp {

class NoisePrintAnalyzer : public DSPAnalyzer {
public:
    static constexpr int kDefaultFrameSize = 4096;

    explicit NoisePrintAnalyzer(float sampleRate, int frameSize = kDefaultFrameSize);

    void Analyze(const float* samples, int frames) override;
    void Reset() override;

    /// Average magnitude of each of frameSize/2 + 1 bins over the frames
    /// analyzed so far (all zero before the first full frame).
    std::vector<float> AverageMagnitudes() const;
    int FramesAnalyzed() const { return framesAnalyzed_; }
    float GetSampleRate() const { return sampleRate_; }
    int FrameSize() const { return frameSize_; }

private:
    void AnalyzeFrame();

    float sampleRate_;
    int frameSize_;
    std::optional<RealFFT> fft_; // planned on the first full frame, so creating an analyzer is cheap
    std::vector<float> window_;
    std::vector<float> pending_;  // samples waiting for a full frame
    std::vector<float> windowed_;
    std::vector<std::complex<float>> spectrum_;
    std::vector<double> magnitudeSums_;
    int framesAnalyzed_ = 0;
};

} // namespace zoc::dsp
