// Butterworth cascade with coefficient glides.

#include "dsp/IIRFilter.h"

#include <algorithm>

namespace zoc::components {

void IIRFilter_impl::Design(double f1, double f2, std::int32_t type, int order)
{
    type_ = dsp::ToFilterType(type);
    order_ = dsp::LimitOrder(type_, order);
    cascade_.SetSections(dsp::DesignButterworth(type_, f1, f2, order_));
    cascade_.ClearHistory();
    gliding_ = false;
    glideSamplesLeft_ = 0;
    enabled_ = true;
}

void IIRFilter_impl::DesignTarget(double f1, double f2, bool glide, int samples)
{
    target_ = dsp::DesignButterworth(type_, f1, f2, order_);
    enabled_ = true;
    if (!glide || samples <= 0) {
        cascade_.SetSections(target_);
        gliding_ = false;
        glideSamplesLeft_ = 0;
        return;
    }
    const dsp::IIRSections& current = cascade_.Sections();
    increments_ = target_;
    const double steps = static_cast<double>(samples);
    for (int s = 0; s < target_.count; ++s) {
        for (int i = 0; i <= target_.degree; ++i)
            increments_.b[s][i] = (target_.b[s][i] - current.b[s][i]) / steps;
        for (int i = 0; i < target_.degree; ++i)
            increments_.a[s][i] = (target_.a[s][i] - current.a[s][i]) / steps;
    }
    glideSamplesLeft_ = samples;
    gliding_ = true;
}

void IIRFilter_impl::ClearHistory() { cascade_.ClearHistory(); }

void IIRFilter_impl::GlideStep()
{
    if (!gliding_)
        return;
    dsp::IIRSections& current = cascade_.Sections();
    if (--glideSamplesLeft_ <= 0) {
        // The last step lands exactly on the target, free of summed rounding.
        current = target_;
        gliding_ = false;
        return;
    }
    for (int s = 0; s < current.count; ++s) {
        for (int i = 0; i <= current.degree; ++i)
            current.b[s][i] += increments_.b[s][i];
        for (int i = 0; i < current.degree; ++i)
            current.a[s][i] += increments_.a[s][i];
    }
}

void IIRFilter_impl::ProcessBlock(float* samples, int count, int stride)
{
    if (!enabled_ || samples == nullptr)
        return;
    if (!gliding_) {
        cascade_.ProcessBlock(samples, count, stride);
        return;
    }
    stride = std::max(stride, 1);
    for (int i = 0; i < count; ++i) {
        float& sample = samples[static_cast<std::ptrdiff_t>(i) * stride];
        sample = static_cast<float>(ProcessSampleGliding(sample));
    }
}

double IIRFilter_impl::ProcessSample(double x) { return enabled_ ? cascade_.ProcessSample(x) : x; }

double IIRFilter_impl::ProcessSampleGliding(double x)
{
    if (!enabled_)
        return x;
    const double y = cascade_.ProcessSample(x);
    GlideStep();
    return y;
}

IIRFilter* CreateIIRFilter() { return new IIRFilter_impl; }

} // namespace zoc::components
