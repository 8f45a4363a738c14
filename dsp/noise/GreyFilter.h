#pragma once
// Grey noise: white noise shaped by the inverse of the ISO 226:2003 40-phon
// equal-loudness contour, so every band sounds about equally loud at a
// moderate listening level. Relative to 1 kHz the target is +59.8 dB at
// 20 Hz, +24.4 dB at 100 Hz and -4.4 dB at 3.15 kHz; it holds its 12.5 kHz
// value (+11.5 dB) up to the Nyquist frequency and falls at 12 dB per octave
// below 20 Hz, so no infrasound or DC builds up.
//
// GreyDesign holds the filter (a linear-phase FIR of about 85 ms, designed by
// frequency sampling with a Hann window) as a spectrum for FFT convolution,
// scaled so the output has unit variance. GreyFilter is one stream: it draws
// white noise a block at a time, convolves it by overlap-add and hands the
// result out sample by sample. Several streams share one design and its
// scratch space, so they must run on one thread.

#include <complex>
#include <memory>
#include <vector>

#include "dsp/FFT.h"
#include "dsp/noise/Xoshiro256.h"

namespace zoc::dsp::noise {

/// The target response in dB relative to 1 kHz.
double GreyTargetDb(double hertz);

class GreyDesign {
public:
    /// Allocates; nothing when the rate is unchanged.
    void Design(int rate);
    int Rate() const { return rate_; }
    /// New samples per block.
    int BlockFrames() const { return block_; }
    /// Magnitude of the designed filter at `hertz` (analysis and tests).
    double Magnitude(double hertz) const;

private:
    friend class GreyFilter;

    int rate_ = 0;
    int block_ = 0;
    std::unique_ptr<RealFFT> fft_;
    std::vector<float> taps_;
    std::vector<std::complex<float>> response_; ///< of the zero-padded taps, / FFT size
    std::vector<float> time_;                   ///< scratch, FFT size
    std::vector<std::complex<float>> spectrum_; ///< scratch
};

class GreyFilter {
public:
    /// Sizes the stream for `design` (allocates) and empties it.
    void Prepare(const GreyDesign& design);
    void Reset();

    /// The next `frames` samples of grey noise, drawing white noise from `random`.
    void Generate(GreyDesign& design, Xoshiro256& random, float* output, int frames);

private:
    void NextBlock(GreyDesign& design, Xoshiro256& random);

    std::vector<float> block_; ///< the current output block
    std::vector<float> tail_;  ///< overlap carried into the next block (filter length)
    int read_ = 0;
};

} // namespace zoc::dsp::noise
