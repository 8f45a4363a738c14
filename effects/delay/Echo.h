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
#include "framework/TableComponentBase.h"
#include "framework/SettingsFade.h"

namespace zoc::components {

extern const std::string kEchoComponentID;
inline constexpr std::size_t kEchoParameterCount = 18;

class Echo : public TableComponentBase<kEchoParameterCount> {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kParameterCount = static_cast<int>(kEchoParameterCount);
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

    /// Audio thread. Allocates only on the first block after a rate or
    /// channel change that no Resume followed.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Outside stereo every channel takes the left settings: the right delay
    /// and feedback go unused, and on one channel also the right echo level
    /// and "Echo Bounce" (with more channels, bounce swaps the first two and
    /// the second takes the right level).
    bool IsParameterInUse(int index) override;

private:
    /// One set of processing settings; index 0 is the left side, 1 the right.
    struct Settings {
        std::array<float, 2> level{};    ///< share of the input that enters the line
        std::array<float, 2> feedback{}; ///< gain of each pass through the line
        std::array<int, 2> delay{};      ///< frames
        bool operator==(const Settings&) const = default;
    };

    /// Clears the lines (allocating only when they must grow) and takes the
    /// current settings without a fade.
    void Reset() override;
    void Update() override;
    /// While the lock is on, the right side follows the left.
    void OnValueStored(std::size_t index, float value) override;
    Settings SettingsFromParameters() const;
    /// How many frames from the write position on can be rendered as one
    /// run under `settings`: no line read wraps around inside it, and none
    /// reaches a frame the run itself writes.
    int ReadableRun(const Settings& settings) const;
    /// Renders `frames` frames from `offset` on for channels `first` and
    /// first + 1 (when there), which share an equalizer.
    void ProcessPair(std::size_t first, float** inputs, float** outputs, int offset, int frames, bool fading);
    /// Gives the incoming settings' equalizers the state of the current ones.
    void StartEqualizerFade();

    // Audio thread state.
    dsp::DelayLines lines_;
    int writePosition_ = 0;
    bool bounce_ = false;
    SettingsFade<Settings> fade_;
    /// One four-lane equalizer per pair of channels: lanes 0 and 1 filter the
    /// repeats of the pair under one set of settings, lanes 2 and 3 under the
    /// other. currentEqualizer_ tells which half serves the current settings;
    /// the other half serves the settings being faded in.
    std::array<dsp::QFILT, kMaxChannels / 2> equalizers_;
    int currentEqualizer_ = 0;
};

} // namespace zoc::components
