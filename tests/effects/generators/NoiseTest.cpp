// Generate Noise through the host's offline session: each preset makes the
// sound its name promises, presets keep length and mode, the Duration
// parameter sets the run's length, and analysis renders leave the live
// kernel alone.

#include "effects/generators/Noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "framework/Library.h"
#include "platform/host/OfflineSession.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Correlation;

using Kernel = dsp::noise::NoiseDSP;
using Channels = std::vector<std::vector<float>>;
constexpr int kRate = 48000;

Channels Render(core::Ref<Noise> noise, std::int64_t frames, std::size_t channels = 2)
{
    host::OfflineSession session(noise);
    session.SetSelection(0, frames);
    const std::int64_t total = session.OutputFrames();
    Channels output(channels, std::vector<float>(static_cast<std::size_t>(total)));
    EXPECT_TRUE(session.Start());
    Channels block(channels, std::vector<float>(4096));
    std::vector<float*> pointers;
    for (auto& channel : block)
        pointers.push_back(channel.data());
    std::int64_t done = 0;
    while (const long got = session.Read(pointers.data(), 4096)) {
        for (std::size_t c = 0; c < channels; ++c)
            std::copy_n(block[c].begin(), std::min<std::int64_t>(got, total - done), output[c].begin() + done);
        done += got;
    }
    EXPECT_EQ(done, total);
    return output;
}

core::Ref<Noise> Make(int preset, std::size_t channels = 2)
{
    auto noise = core::MakeRef<Noise>();
    host::Session session(noise);
    EXPECT_TRUE(session.Configure(channels, static_cast<float>(kRate)));
    session.ApplyPreset(preset);
    return noise;
}

int PeakLag(const std::vector<float>& a, const std::vector<float>& b)
{
    int best = 0;
    for (int lag = 1; lag <= 60; ++lag)
        if (Correlation(a, b, lag) > Correlation(a, b, best))
            best = lag;
    return best;
}

/// Runs go on the library's background executor.
class NoiseThreaded : public ::testing::Test {
protected:
    void SetUp() override { Initialize(); }
    void TearDown() override { Terminate(); }
};

TEST_F(NoiseThreaded, PresetsMakeTheSoundTheirNamesSay)
{
    struct Case {
        int preset;
        const char16_t* name;
        int color;
        int style;
        double lag = 0.0; ///< frames between the sides of spatial stereo
    };
    const Case cases[] = {
        {0, u"(Default)", Kernel::kBrown, Kernel::kSpatialStereo, 24.0},
        {1, u"Brown Independent Channels", Kernel::kBrown, Kernel::kIndependent},
        {2, u"Pink Spatial Stereo 700 Delay", Kernel::kPink, Kernel::kSpatialStereo, 33.6},
        {3, u"White Mono DC Offset 50%", Kernel::kWhite, Kernel::kMono},
        {4, u"Grey Inverse", Kernel::kGrey, Kernel::kInverse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preset);
        core::Ref<Noise> noise = Make(c.preset);
        EXPECT_EQ(noise->GetFactoryPresetName(c.preset), c.name);
        const Channels out = Render(noise, kRate);
        for (const auto& channel : out)
            for (float x : channel)
                ASSERT_LE(std::abs(x), 1.0f);
        auto value = [&](int index) {
            return noise->GetParameterInfo(index)->FromNormalized(noise->GetParameter(index));
        };
        // The kernel's own tests measure what colour and style do.
        EXPECT_EQ(std::lround(value(Kernel::kColor)), c.color);
        EXPECT_EQ(std::lround(value(Kernel::kStyle)), c.style);
        // -21 dBFS RMS, -18 for the pink and white presets.
        EXPECT_NEAR(value(Kernel::kIntensity), c.preset == 2 || c.preset == 3 ? 38.0 : 35.0, 1e-4);
        // 0.5 ms is 24 frames, 0.7 ms is 33.6.
        if (c.style == Kernel::kSpatialStereo) {
            EXPECT_NEAR(PeakLag(out[0], out[1]), c.lag, 0.5);
        } else if (c.style == Kernel::kMono) { // +50 %, faded at the ends
            EXPECT_NEAR(std::accumulate(out[0].begin(), out[0].end(), 0.0) / kRate, 0.5, 0.02);
        }
    }
}

TEST(Noise, PresetsLeaveDurationPreviewAndModeAlone)
{
    core::Ref<Noise> noise = Make(0);
    noise->SetParameter(Kernel::kDuration, 0.25f);
    noise->SetPreviewMode(true);
    noise->SetParameter(Kernel::kOperationMode, 1.0f);
    for (int preset = 0; preset < noise->GetNumFactoryPresets(); ++preset) {
        noise->SetFactoryPreset(preset);
        EXPECT_FLOAT_EQ(noise->GetParameter(Kernel::kDuration), 0.25f);
        EXPECT_EQ(noise->GetParameter(Kernel::kPreviewMode), 1.0f);
        EXPECT_EQ(noise->GetParameter(Kernel::kOperationMode), 1.0f);
    }
    EXPECT_EQ(noise->GetNumFactoryPresets(), 5);
    EXPECT_TRUE(noise->GetFactoryPresetName(5).empty());
    noise->SetFactoryPreset(99); // ignored
}

TEST(Noise, AnalysisDataMatchesTheRenderAndLeavesTheLiveKernelAlone)
{
    constexpr int kBlock = 4800;
    core::Ref<Noise> noise = Make(2);
    noise->SetCurrentDuration(kRate);
    Channels straight(2, std::vector<float>(2 * kBlock));
    Channels interrupted = straight;
    Channels analysis(2, std::vector<float>(kBlock));
    const auto renderBlock = [&](Channels& into, int block) {
        float* outputs[] = {into[0].data() + block * kBlock, into[1].data() + block * kBlock};
        noise->OfflineProcess(nullptr, outputs, kBlock, kBlock, 0);
    };
    noise->Resume();
    renderBlock(straight, 0);
    renderBlock(straight, 1);
    noise->Resume();
    renderBlock(interrupted, 0);
    float* outputs[] = {analysis[0].data(), analysis[1].data()};
    noise->GetAnalysisData(outputs, kBlock);
    renderBlock(interrupted, 1);
    EXPECT_EQ(interrupted, straight);
    for (std::size_t c = 0; c < 2; ++c)
        EXPECT_TRUE(std::equal(analysis[c].begin(), analysis[c].end(), straight[c].begin()));
}

TEST_F(NoiseThreaded, DurationParameterSetsTheLengthOfTheRun)
{
    core::Ref<Noise> noise = Make(1);
    float lo = 0.0f;
    float hi = 0.0f;
    Kernel().GetBounds(Kernel::kDuration, lo, hi);
    noise->SetParameter(Kernel::kDuration, 100.0f / hi); // 100 ms
    EXPECT_EQ(Render(noise, kRate)[0].size(), static_cast<std::size_t>(kRate / 10));
}

} // namespace
} // namespace zoc::components
