// Butterworth cascade without glides.

#include "dsp/Butterworth.h"

namespace zoc::components {

void ButterworthFilter_impl::Design(double f1, double f2, std::int32_t type, int order)
{
    type_ = dsp::ToFilterType(type);
    order_ = dsp::LimitOrder(type_, order);
    cascade_.SetSections(dsp::DesignButterworth(type_, f1, f2, order_));
    cascade_.ClearHistory();
    enabled_ = true;
}

void ButterworthFilter_impl::DesignTarget(double f1, double f2, bool /*glide*/, int /*samples*/)
{
    cascade_.SetSections(dsp::DesignButterworth(type_, f1, f2, order_));
    enabled_ = true;
}

void ButterworthFilter_impl::ProcessBlock(float* samples, int count, int stride)
{
    if (enabled_)
        cascade_.ProcessBlock(samples, count, stride);
}

double ButterworthFilter_impl::ProcessSample(double x) { return enabled_ ? cascade_.ProcessSample(x) : x; }

ButterworthFilter* CreateButterworthFilter() { return new ButterworthFilter_impl; }

} // namespace zoc::components
