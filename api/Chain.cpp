// The public Chain: effects in series over the caller's buffers.

#include <zoc/zoc.h>

#include <deque>
#include <numeric>

namespace zoc {

struct Chain::Impl {
    std::deque<Effect> effects; // references stay valid as effects are added
};

Chain::Chain() : impl_(std::make_unique<Impl>()) {}
Chain::Chain(Chain&&) noexcept = default;
Chain& Chain::operator=(Chain&&) noexcept = default;
Chain::~Chain() = default;

Effect& Chain::Add(Effect effect)
{
    if (effect.IsOffline())
        throw Error(Error::Code::WrongKind, effect.Title() + " runs over a whole selection and cannot be chained");
    if (!impl_->effects.empty()) {
        const Effect& first = impl_->effects.front();
        if (effect.Channels() != first.Channels() || effect.SampleRate() != first.SampleRate())
            throw Error(Error::Code::UnsupportedLayout,
                        effect.Title() + " has " + std::to_string(effect.Channels()) + " channels at " +
                            std::to_string(effect.SampleRate()) + " Hz; the chain has " +
                            std::to_string(first.Channels()) + " at " + std::to_string(first.SampleRate()) + " Hz");
    }
    return impl_->effects.emplace_back(std::move(effect));
}

std::size_t Chain::Size() const { return impl_->effects.size(); }
Effect& Chain::operator[](std::size_t index) { return impl_->effects.at(index); }
const Effect& Chain::operator[](std::size_t index) const { return impl_->effects.at(index); }

int Chain::Latency() const
{
    return std::accumulate(impl_->effects.begin(), impl_->effects.end(), 0,
                           [](int sum, const Effect& effect) { return sum + effect.Latency(); });
}

void Chain::Prepare()
{
    for (Effect& effect : impl_->effects)
        effect.Prepare();
}

void Chain::Reset()
{
    for (Effect& effect : impl_->effects)
        effect.Reset();
}

void Chain::Process(const float* const* in, float* const* out, std::int64_t frames)
{
    if (impl_->effects.empty())
        return;
    // Effects copy their input before writing, so every effect after the
    // first works in place on `out`.
    impl_->effects.front().Process(in, out, frames);
    for (std::size_t index = 1; index < impl_->effects.size(); ++index)
        impl_->effects[index].Process(out, out, frames);
}

} // namespace zoc
