#pragma once
// FIRFilter: a linear-phase band-pass from a Blackman-windowed sinc. Its
// symmetric taps delay every frequency by the same order / 2 samples, so it
// shapes the spectrum without smearing transients.

#include <vector>

namespace zoc::dsp {

class FIRFilter {
public:
    /// Designs the taps: the pass band runs from `low` to `high`, fractions
    /// of the sample rate in 0..0.5 (swapped if reversed). low = 0 gives a
    /// low-pass, high = 0.5 a high-pass. An odd order is raised by one so the
    /// delay is a whole number of samples. Gain is 1 at DC for a low-pass,
    /// at Nyquist for a high-pass and at the band centre for a band-pass.
    /// Clears the history. Allocates only beyond what Reserve made room for.
    void GenerateFIRCoeffs(double low, double high, int order);
    /// Makes room for designs up to `maxOrder`, so that GenerateFIRCoeffs
    /// with no larger order allocates nothing. Control thread.
    void Reserve(int maxOrder);

    /// Filters `frames` samples in place. The history carries over between
    /// calls, so any split of a signal into blocks gives the same output.
    /// While disabled the input passes unchanged but still enters the
    /// history, so enabling again does not start from stale samples.
    /// Real-time safe.
    void Process(float* data, int frames);

    void Enable() { enabled_ = true; }
    void Disable() { enabled_ = false; }
    bool IsEnabled() const { return enabled_; }

    /// Zeroes the history. Real-time safe.
    void Clear();

    int GetOrder() const { return order_; }
    /// Delay of the filter in samples: order / 2.
    int GetLatency() const { return order_ / 2; }
    const std::vector<float>& Coefficients() const { return taps_; }

private:
    std::vector<float> taps_;
    /// Each input sample is stored twice, `taps_.size()` apart, so the last
    /// taps_.size() inputs always sit in one contiguous run.
    std::vector<float> history_;
    std::vector<double> design_; ///< scratch of GenerateFIRCoeffs
    int position_ = 0;
    int order_ = 0;
    bool enabled_ = true;
};

} // namespace zoc::dsp
