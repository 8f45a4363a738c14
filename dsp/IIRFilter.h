#pragma once
// IIRFilter: a Butterworth filter of selectable order, run as a cascade of
// sections, that can glide from its current design to a new one over a
// number of samples so that a moving cutoff does not click.

#include "dsp/IIRDesign.h"

#include <cstdint>

namespace zoc::components {

class IIRFilter {
public:
    virtual ~IIRFilter() = default;

    /// Designs the filter: type 1 low-pass, 2 high-pass, 3 band-pass,
    /// 4 band-stop (others: low-pass); f1 is the cutoff or lower band edge,
    /// f2 the upper band edge, both fractions of the sample rate. Clears the
    /// history and enables the filter. Control thread.
    virtual void Design(double f1, double f2, std::int32_t type, int order) = 0;
    /// Designs again with the last type and order. Without glide the new
    /// coefficients apply at once; with glide, ProcessSampleGliding (and
    /// ProcessBlock) move every coefficient to it in equal steps over
    /// `samples` samples. Keeps the history; enables the filter. Does not allocate.
    virtual void DesignTarget(double f1, double f2, bool glide, int samples) = 0;
    /// Zeroes the past inputs and outputs. Real-time safe.
    virtual void ClearHistory() = 0;
    /// A disabled filter returns its input unchanged and keeps its history.
    virtual void Enable() = 0;
    virtual void Disable() = 0;
    /// Filters `count` floats in place, every `stride`-th one; glides while a
    /// glide is under way. Real-time safe.
    virtual void ProcessBlock(float* samples, int count, int stride) = 0;
    /// One sample through all sections, coefficients held. Real-time safe.
    virtual double ProcessSample(double x) = 0;
    /// One sample through all sections, then one glide step. Real-time safe.
    virtual double ProcessSampleGliding(double x) = 0;
};

class IIRFilter_impl final : public IIRFilter {
public:
    void Design(double f1, double f2, std::int32_t type, int order) override;
    void DesignTarget(double f1, double f2, bool glide, int samples) override;
    void ClearHistory() override;
    void Enable() override { enabled_ = true; }
    void Disable() override { enabled_ = false; }
    void ProcessBlock(float* samples, int count, int stride) override;
    double ProcessSample(double x) override;
    double ProcessSampleGliding(double x) override;

    bool IsEnabled() const { return enabled_; }
    bool IsGliding() const { return gliding_; }

private:
    void GlideStep();

    dsp::SectionCascade cascade_;
    dsp::IIRSections target_;
    dsp::IIRSections increments_;
    dsp::FilterType type_ = dsp::FilterType::LowPass;
    int order_ = 1;
    int glideSamplesLeft_ = 0;
    bool enabled_ = false;
    bool gliding_ = false;
};

/// A new filter, disabled until designed; the caller owns it.
IIRFilter* CreateIIRFilter();

} // namespace zoc::components
