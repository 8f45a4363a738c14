#pragma once
// Amplify: a gain in decibels per channel (up to 32), optionally linked while
// a slider is dragged, with a 10 ms linear ramp whenever a gain changes.

#include <array>
#include <string>
#include <vector>

#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kAmplifyComponentID;

class Amplify : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kParameterCount = kMaxChannels + 2;
    static constexpr int kChannelCountParameter = 0;
    static constexpr int kLinkParameter = 1;
    static constexpr int kFirstGainParameter = 2;
    static constexpr float kMinGainDb = -96.0f;
    static constexpr float kMaxGainDb = 48.0f;
    /// A gain change glides over 10 ms so it never clicks.
    static constexpr double kRampSeconds = 0.01;

    Amplify();

    int GetParameterCount() override { return kParameterCount; }
    /// Stores a gain (linking all channels only while the user drags a slider
    /// with the link on) or the link switch. Control thread; never blocks.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    void BeginEditing(int index) override;
    void EndEditing(int index) override;
    void SetSampleRate(float rate) override;
    /// Jumps every gain to its target.
    void Resume() override;
    /// Audio thread; allocates nothing.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    struct Ramp {
        float gain = 1.0f;      // linear gain applied now
        float increment = 0.0f; // added per sample while the ramp runs
    };

    void BuildParameterInfos();
    void SetUpRamps();
    static float TargetGain(float decibels);

    unsigned channelCount_;
    bool linked_ = true;
    std::array<float, kMaxChannels> gainsDb_{};
    std::array<float, kParameterCount> editing_{};
    std::array<Ramp, kMaxChannels> ramps_{};
    int rampLength_ = 1;
    int rampRemaining_ = 0;
    bool changed_ = true;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
};

} // namespace zoc::components
