#pragma once
// Graphic equalizers with 10, 20 or 30 bands: one implementation over the
// dsp::Graphic kernel, which filters all channels at once with a linear-phase
// FIR. The members differ only in their band set, keys and presets.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "dsp/Graphic.h"
#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kGraphicEQ10BandsComponentID;
extern const std::string kGraphicEQ20BandsComponentID;
extern const std::string kGraphicEQ30BandsComponentID;

/// What sets one member apart: band count, kernel band set, key prefix and
/// band key stem, the text of the master gain and its presets.
struct GraphicEQMember {
    int bands;
    int bandSet;
    const char* keyPrefix;   ///< e.g. "$$$/Effects/GraphicEQ10/"
    const char* bandKeyStem; ///< "Band" or "EQBand"
    const char* gainKey;     ///< "Gain=Master Gain" or "Gain=Gain"
    FactoryPresetTable presets;
};

class GraphicEQ : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;
    enum Parameter : int { kAccuracy = 0, kGain = 1, kRange = 2, kReset = 3, kFirstBand = 4 };

    ~GraphicEQ() override;

    int GetParameterCount() override { return bands_ + 5; }
    int IsProcessingIndex() const { return bands_ + 4; }

    /// Hands the real value to the kernel at once (band gains are heard from
    /// the next convolution block); a new Accuracy also asks for rebuilt
    /// impulses. IsProcessing is ignored. Control thread; never blocks.
    void SetParameter(int index, float normalized) override;
    /// Read back from the kernel; IsProcessing is 1 while resumed.
    float GetParameter(int index) override;
    /// A new rate asks for rebuilt impulses.
    void SetSampleRate(float rate) override;
    /// Builds the impulses for the current settings at once. Control thread; allocates.
    void Resume() override;
    void Suspend() override;
    /// Audio thread. Starts a pending impulse rebuild on the library's
    /// background executor, then runs every frame through the kernel. Only
    /// the block that posts a rebuild (the first after a new accuracy, rate
    /// or channel count) takes the library's and the executor's queue locks;
    /// steady blocks never do. Never allocates, never waits for the rebuild.
    void Process(float** inputs, float** outputs, int frames) override;
    /// The kernel's latency: half the filter plus one convolution block.
    int GetInitialDelay() override { return kernel_.GetLatency(); }
    /// Curve 0: the response in dB at `points` frequencies from 20 Hz
    /// towards Nyquist, f(i) = 20 * (Nyquist / 20)^(i / points). Control thread.
    bool GetCurveData(int index, std::size_t points, std::vector<float>& curve) override;
    /// Redesigning the impulses mid-playback is too heavy for preset browsing.
    bool ArePresetsSafeForPlayback() override { return false; }

    /// The kernel, for tests and tools that look inside.
    dsp::Graphic& Kernel() { return kernel_; }
    /// Impulse rebuilds posted and not finished (0 or 1).
    int RunningUpdates() const { return runningUpdates_.load(std::memory_order_acquire); }

protected:
    GraphicEQ(const GraphicEQMember& member, const std::string& componentID, const char* titleKey);

    void OnNumberOfChannelsChanged(std::size_t count) override;
    /// Settings with fewer values than parameters are fine.
    bool ValidateParamCount(int count) override { return count <= GetParameterCount(); }

private:
    void BuildParameterInfos(const GraphicEQMember& member);
    /// Background task: rebuilds the impulses until no change is pending.
    void RunImpulseUpdates();

    const int bands_;
    dsp::Graphic kernel_;
    std::atomic<std::size_t> channelCount_;
    std::atomic<bool> updateNeeded_{false};
    std::atomic<int> runningUpdates_{0};
    std::atomic<bool> active_{false};
    std::array<float, kMaxChannels> frameIn_{};
    std::array<float, kMaxChannels> frameOut_{};
};

class GraphicEQ10Bands final : public GraphicEQ {
public:
    GraphicEQ10Bands();
};

class GraphicEQ20Bands final : public GraphicEQ {
public:
    GraphicEQ20Bands();
};

class GraphicEQ30Bands final : public GraphicEQ {
public:
    GraphicEQ30Bands();
};

} // namespace zoc::components
