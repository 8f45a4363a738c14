#pragma once
// A bus of a filter: a name, a channel layout and a type.

#include <vector>

#include "platform/core/String.h"
#include "platform/media/ChannelLayout.h"

namespace zoc::host {

class AudioFilterBusDescription {
public:
    enum Type { kMain = 0, kSideChain = 1 };

    AudioFilterBusDescription() = default;
    AudioFilterBusDescription(core::UString name, media::AudioChannelLayout layout, Type type = kMain)
        : name_(std::move(name)), layout_(std::move(layout)), type_(type)
    {
    }

    static AudioFilterBusDescription CreateMono(core::UString name, Type type = kMain)
    {
        return {std::move(name), media::MonoLayout(), type};
    }
    static AudioFilterBusDescription CreateStereo(core::UString name, Type type = kMain)
    {
        return {std::move(name), media::StereoLayout(), type};
    }

    const core::UString& GetName() const { return name_; }
    const media::AudioChannelLayout& GetLayout() const { return layout_; }
    std::size_t GetChannelCount() const { return layout_.size(); }
    Type GetType() const { return type_; }

    friend bool operator==(const AudioFilterBusDescription&, const AudioFilterBusDescription&) = default;

private:
    core::UString name_;
    media::AudioChannelLayout layout_;
    Type type_ = kMain;
};

using AudioFilterBusList = std::vector<AudioFilterBusDescription>;

struct AudioFilterBusConfiguration {
    AudioFilterBusList inputs;
    AudioFilterBusList outputs;
};

} // namespace zoc::host
