#pragma once
// Echo: a train of decaying repeats on every channel. Each channel's delay
// line feeds back into itself through a feedback gain and an eight-band
// equalizer, so every repeat is darker or brighter than the last. Stereo
// sides have their own delay, feedback and echo level, which can be locked
// together, and "Echo Bounce" sends each side's repeats into the other side's
// line so that they alternate.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>

#include "dsp/DelayLine.h"
#include "dsp/QFILT.h"
#include "framework/DeferredWork.h"
#include "framework/MultiChannelComponentBase.h"
#include "framework/ParameterTable.h"
#include "framework/SettingsFade.h"

namespace zoc::components {

extern const std::string kEchoComponentID;

class Echo : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kParameterCount = 18;
    enum Parameter : int {
        kDelayLeft,
        kDelayRight,
        kDecayLeft,
        kDecayRight,
        kInitEchoLeft,
        kInitEchoRight,
        kEQGain1,
        kEQGain8 = kEQGain1 + 7,
        kLockLR,
        kEchoBounce,
        kTimeUnit,
        kNumChannels,
    };

    Echo();

    int GetParameterCount() override { return kParameterCount; }
    /// Stores the value (and its partner on the other side while the lock is
    /// on) and asks for an update at the next block. Control thread; never
    /// blocks, never allocates.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// A new rate asks for new lines at the next Resume or block.
    void SetSampleRate(float rate) override;
    /// Clears the lines (allocating only when they must grow) and the
    /// equalizers and takes the current settings without a fade. Control
    /// thread, before processing.
    void Resume() override;
    /// Audio thread. Allocates only on the first block after a rate or
    /// channel change that no Resume followed.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    /// One set of processing settings; index 0 is the left side, 1 the right.
    struct Settings {
        std::array<float, 2> level{};    ///< share of the input that enters the line
        std::array<float, 2> feedback{}; ///< gain of each pass through the line
        std::array<int, 2> delay{};      ///< frames
        bool operator==(const Settings&) const = default;
    };

    void Reset();
    void Update();
    Settings SettingsFromParameters() const;
    /// The channel's repeat under `settings`, through one of its equalizers.
    float EchoOf(std::size_t channel, const Settings& settings, int side, dsp::QFILT& equalizer) const;
    /// Gives the incoming settings' equalizers the state of the current ones.
    void StartEqualizerFade();

    ParameterValues<kParameterCount> values_;
    std::atomic<std::size_t> channelCount_;
    DeferredWork work_;

    // Audio thread state.
    dsp::DelayLines lines_;
    int writePosition_ = 0;
    bool bounce_ = false;
    SettingsFade<Settings> fade_;
    /// Two equalizers per channel: one filters the repeats of the current
    /// settings, the other those of the settings being faded in.
    std::array<std::array<dsp::QFILT, 2>, kMaxChannels> equalizers_;
    int currentEqualizer_ = 0;
};

} // namespace zoc::components
