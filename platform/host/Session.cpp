// The host's driving of one component over a stream of blocks.

#include "platform/host/Session.h"

#include <algorithm>

namespace zoc::host {

Session::Session(core::Ref<AudioFilter> filter) : filter_(std::move(filter)) {}

Session::~Session()
{
    if (running_)
        Suspend();
}

bool Session::Configure(std::size_t channels, float sampleRate)
{
    return Configure(media::LayoutForChannelCount(channels), sampleRate);
}

bool Session::Configure(const media::AudioChannelLayout& layout, float sampleRate)
{
    const bool accepted = filter_->RequestIOConfiguration({layout}, {layout});
    filter_->SetSampleRate(sampleRate);
    filter_->SetBlockSize(blockSize_);
    channels_ = layout.size();
    return accepted && filter_->GetNumberOfOutputChannels() == layout.size() &&
           filter_->GetNumberOfInputChannels() == layout.size();
}

void Session::ScheduleParameter(std::int64_t frame, int index, float normalized)
{
    const Change change{frame, index, normalized};
    auto position = std::upper_bound(changes_.begin(), changes_.end(), change,
                                     [](const Change& a, const Change& b) { return a.frame < b.frame; });
    changes_.insert(position, change);
}

void Session::SetBlockSize(int frames)
{
    blockSize_ = std::max(1, frames);
    filter_->SetBlockSize(blockSize_);
}

void Session::SetSideChain(std::size_t channels)
{
    sideChain_ = channels;
    filter_->SetSideChainConnectedChannelCount(channels);
}

void Session::Resume()
{
    filter_->Resume();
    running_ = true;
    position_ = 0;
}

void Session::Suspend()
{
    filter_->Suspend();
    running_ = false;
}

void Session::Process(float* const* inputs, float* const* outputs, std::int64_t frames)
{
    inputPointers_.resize(channels_ + sideChain_);
    outputPointers_.resize(channels_);
    std::int64_t done = 0;
    while (done < frames) {
        // Changes due at or before this frame land before it is processed.
        while (!changes_.empty() && changes_.front().frame <= position_) {
            filter_->SetParameterAutomated(changes_.front().index, changes_.front().normalized);
            changes_.erase(changes_.begin());
        }
        std::int64_t block = std::min<std::int64_t>(blockSize_, frames - done);
        if (!changes_.empty())
            block = std::min(block, changes_.front().frame - position_);
        for (std::size_t channel = 0; channel < channels_; ++channel)
            outputPointers_[channel] = outputs[channel] + done;
        for (std::size_t channel = 0; channel < channels_ + sideChain_; ++channel)
            inputPointers_[channel] = inputs[channel] + done;
        // Components that follow the timeline (envelopes) learn where this block starts.
        filter_->SetCurrentOffset(position_);
        filter_->Process(inputPointers_.data(), outputPointers_.data(), static_cast<int>(block));
        done += block;
        position_ += block;
    }
}

} // namespace zoc::host
