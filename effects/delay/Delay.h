#pragma once
// Delay: each channel mixed with one delayed copy of itself, no feedback. The
// copy may come early (negative delay): the whole output runs half a line
// late, which the component reports as its latency. Stereo sides have their
// own delay, mix and polarity; other layouts use the left settings on every
// channel.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>

#include "dsp/DelayLine.h"
#include "framework/TableComponentBase.h"
#include "framework/SettingsFade.h"

namespace zoc::components {

extern const std::string kDelayComponentID;
inline constexpr std::size_t kDelayParameterCount = 8;

class Delay : public TableComponentBase<kDelayParameterCount> {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kParameterCount = static_cast<int>(kDelayParameterCount);
    enum Parameter : int {
        kLeftDelayTime,
        kLeftInvert,
        kLeftMix,
        kRightDelayTime,
        kRightInvert,
        kRightMix,
        kTimeUnit,
        kNumChannels,
    };

    Delay();

    /// Audio thread. Allocates only on the first block after a rate or
    /// channel change that no Resume followed.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Half a line: how far the unprocessed signal lags its input.
    int GetInitialDelay() override;

private:
    /// One set of processing settings; index 0 is the left side, 1 the right.
    struct runtimeParameters {
        std::array<float, 2> dry{};
        std::array<float, 2> wet{};   ///< negative when the side is inverted
        std::array<int, 2> delay{};   ///< frames; negative reads ahead of the dry signal
        bool operator==(const runtimeParameters&) const = default;
    };

    /// Clears the lines (allocating only when they must grow) and takes the
    /// current settings without a fade.
    void Reset() override;
    void Update() override;
    runtimeParameters SettingsFromParameters() const;
    /// How many frames from the read position on can be rendered as one run
    /// under `settings`: no tap wraps around inside it, and none reaches a
    /// frame the run writes after the frame that reads it.
    int ReadableRun(const runtimeParameters& settings) const;

    // Audio thread state.
    dsp::DelayLines lines_;
    int readPosition_ = 0;
    int writePosition_ = 0;
    SettingsFade<runtimeParameters> fade_;
};

} // namespace zoc::components
