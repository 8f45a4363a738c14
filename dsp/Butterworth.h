#pragma once
// ButterworthFilter: the plain sibling of IIRFilter. Same designs and the
// same cascade, but a new design always applies at once and the filter has
// no enable switch of its own: it passes samples unchanged until designed.

#include "dsp/IIRDesign.h"

#include <cstdint>

namespace zoc::components {

class ButterworthFilter {
public:
    virtual ~ButterworthFilter() = default;

    /// Type 1 low-pass, 2 high-pass, 3 band-pass, 4 band-stop (others:
    /// low-pass); edges as fractions of the sample rate. Clears the history.
    /// Control thread.
    virtual void Design(double f1, double f2, std::int32_t type, int order) = 0;
    /// Designs again with the last type and order and applies the result at
    /// once (this filter does not glide); the history stays. Does not allocate.
    virtual void DesignTarget(double f1, double f2, bool glide, int samples) = 0;
    /// Filters `count` floats in place, every `stride`-th one. Real-time safe.
    virtual void ProcessBlock(float* samples, int count, int stride) = 0;
    /// One sample through all sections. Real-time safe.
    virtual double ProcessSample(double x) = 0;
};

class ButterworthFilter_impl final : public ButterworthFilter {
public:
    void Design(double f1, double f2, std::int32_t type, int order) override;
    void DesignTarget(double f1, double f2, bool glide, int samples) override;
    void ProcessBlock(float* samples, int count, int stride) override;
    double ProcessSample(double x) override;

private:
    dsp::SectionCascade cascade_;
    dsp::FilterType type_ = dsp::FilterType::LowPass;
    int order_ = 1;
    bool enabled_ = false;
};

/// A new filter, pass-through until designed; the caller owns it.
ButterworthFilter* CreateButterworthFilter();

} // namespace zoc::components
