#include "effects/reverb/Reverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "platform/core/Gate.h"
#include "tests/effects/reverb/ConvolutionReverbTestSupport.h"
#include "tests/support/AllocationGuard.h"

namespace zoc::components {
namespace {

using namespace reverbtest;

/// Short impulses keep these tests fast: 20 ms of decay at 8 kHz gives an
/// impulse of 268 samples and an FFT of 1024 points.
constexpr float kRate = 8000.0f;
constexpr float kShortDecay = 20.0f;
/// The cross response from left into right is impulse channel 2.
constexpr std::size_t kLeftToRight = 2;

class ReverbFixture : public Fixture<Reverb> {
protected:
    /// A reverb at kRate with a short impulse, wet only unless told.
    static TestHost Make(std::size_t channels, bool sumInputs, float dry = 0.0f, float wet = 100.0f)
    {
        TestHost host = TestHost::ForComponent(kReverbComponentID);
        host.Configure(channels, kRate);
        Set(host, Reverb::kDecayTime, kShortDecay);
        Set(host, Reverb::kSumInputs, sumInputs ? 1.0f : 0.0f);
        Set(host, Reverb::kDryOutputLevel, dry);
        Set(host, Reverb::kWetOutputLevel, wet);
        return host;
    }

    static std::vector<float> ImpulseCopy(Reverb& reverb)
    {
        const dsp::AlignedBuffer& impulse = reverb.Impulse();
        return {impulse.Data(), impulse.Data() + impulse.Size()};
    }
};

// ---------------------------------------------------------------------------
// Settings, sizes and presets (no processing)

using ReverbSettings = ReverbFixture;

TEST_F(ReverbSettings, SizesAndLatencyFollowDecayAndRate)
{
    struct Case {
        float decay;
        float rate;
        std::int32_t impulseLength;
        int latency;
    };
    // 20 ms at 44.1 kHz: Ls = 882, L = 1481, N = 4096, B = 2616.
    for (const Case& c : {Case{20, 44100, 1481, 5232}, Case{700, 48000, 56448, 149250},
                          Case{1000, 48000, 80640, 363010}, Case{6000, 44100, 444528, 1208098}}) {
        TestHost host = TestHost::ForComponent(kReverbComponentID);
        host.Configure(2, c.rate);
        Set(host, Reverb::kDecayTime, c.decay);
        EXPECT_EQ(host.Filter().GetInitialDelay(), c.latency) << c.decay << " ms at " << c.rate;
        reverb::ImpulseSettings settings;
        settings.sampleRate = c.rate;
        settings.decayTime = Get(host, Reverb::kDecayTime);
        EXPECT_EQ(reverb::ComputeSizes(settings).impulseLength, c.impulseLength);
    }
    reverb::ImpulseSettings settings;
    settings.preDelayTime = 0.0f;
    settings.perception = 200.0f;
    settings.sumInputs = false;
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(settings);
    EXPECT_EQ(sizes.attackSamples, 10);
    EXPECT_EQ(sizes.diffusionLength, 15500);
    EXPECT_EQ(sizes.impulseChannels, 4u);
}

// Sum Inputs is a switch; the read-only outputs ignore the host; presets
// set their table's values.
TEST_F(ReverbSettings, ParametersAndPresetsStoreWhatTheyShould)
{
    TestHost host = TestHost::ForComponent(kReverbComponentID);
    host::AudioFilter& filter = host.Filter();
    for (const auto& [normalized, stored] : {std::pair{0.0f, 0.0f}, {0.49f, 0.0f}, {0.7538f, 1.0f}, {1.0f, 1.0f}}) {
        filter.SetParameter(Reverb::kSumInputs, normalized);
        EXPECT_EQ(Get(host, Reverb::kSumInputs), stored) << normalized;
    }
    filter.SetParameter(Reverb::kCalculatingImpulse, 0.25f);
    filter.SetParameter(Reverb::kIsProcessing, 1.0f);
    EXPECT_FLOAT_EQ(Get(host, Reverb::kCalculatingImpulse), 100.0f);
    EXPECT_FLOAT_EQ(Get(host, Reverb::kIsProcessing), 0.0f);

    filter.SetFactoryPreset(6); // Megaphone
    EXPECT_NEAR(Get(host, Reverb::kDecayTime), 21.0f, 1e-3f);
    EXPECT_NEAR(Get(host, Reverb::kWetOutputLevel), 155.0f, 1e-3f);
    filter.SetFactoryPreset(2); // Bigger Room Ambience: Sum Inputs off
    EXPECT_EQ(Get(host, Reverb::kSumInputs), 0.0f);
}

TEST_F(ReverbSettings, SameSettingsGiveTheSameImpulse)
{
    // The generator is reseeded from the settings; the values below pin the
    // sequence, so a change in the synthesis (or a machine that computes it
    // differently) shows here.
    reverb::ImpulseSettings settings;
    settings.sampleRate = kRate;
    settings.decayTime = kShortDecay;
    settings.channels = 1;
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(settings);
    std::vector<float> first(sizes.impulseChannels * static_cast<std::size_t>(sizes.impulseLength));
    std::vector<float> second(first.size());
    reverb::SynthesizeImpulse(settings, sizes, first.data(), {});
    reverb::SynthesizeImpulse(settings, sizes, second.data(), {});
    EXPECT_EQ(first, second);
    // In the fade-in, the body, just before and in the final fade.
    for (auto [t, value] : {std::pair{3, 2.35862643e-07f}, {134, 0.0275928155f}, {246, 0.0204796325f}, {265, 0.00200078497f}})
        EXPECT_FLOAT_EQ(first[static_cast<std::size_t>(t)], value) << t;
    // A different diffusion reseeds: a different impulse.
    settings.diffusion = 1000.0f;
    reverb::SynthesizeImpulse(settings, sizes, second.data(), {});
    EXPECT_NE(first, second);
}

// ---------------------------------------------------------------------------
// Processing (each of these runs the worker thread)

using ReverbThreaded = ReverbFixture;

TEST_F(ReverbThreaded, WetOutputIsTheDirectConvolutionDelayedByTheLatency)
{
    struct Case {
        const char* name;
        std::size_t channels;
        bool sumInputs;
        int block;
    };
    for (const Case& c : {Case{"mono", 1, true, 512}, Case{"true stereo", 2, false, 333},
                          Case{"summed stereo", 2, true, 4096}, Case{"three alone", 3, false, 100}}) {
        SCOPED_TRACE(c.name);
        TestHost host = Make(c.channels, c.sumInputs);
        const int latency = host.Filter().GetInitialDelay();
        host.Resume();
        Reverb& reverb = Of(host);
        ASSERT_EQ(latency, 2 * static_cast<int>(reverb.HopSize()));

        // Different noise bursts per channel, so cross paths show.
        const std::size_t frames = static_cast<std::size_t>(latency) + 300 + reverb.ImpulseLength() + 100;
        const Signal input = BurstSignal(c.channels, frames, 300, 7);
        const Signal output = host.Run(input, c.block, false);
        const auto expected = DirectWet(input, c.sumInputs, kLeftToRight,
                                        [&](const std::vector<float>& x, std::size_t k, std::vector<double>& y) {
                                            Convolve(x, Channel(reverb, reverb.Impulse(), k), 1.0, y);
                                        });
        ExpectDelayedBy(output, expected, latency);
    }
}

TEST_F(ReverbThreaded, UnitImpulseGivesTheImpulseAndTheDryPathTheInputBothAtTheLatency)
{
    TestHost host = Make(1, true, 100.0f, 0.0f);
    const int latency = host.Filter().GetInitialDelay();
    const std::size_t frames = static_cast<std::size_t>(latency) + 2000;
    Signal input = test::ImpulseSignal(1, frames, 5);
    Signal output = host.Run(input, 256);
    EXPECT_EQ(test::FirstAbove(output[0], 0.0f), static_cast<std::size_t>(latency) + 5);
    EXPECT_NEAR(output[0][static_cast<std::size_t>(latency) + 5], 1.0f, 1e-6f);
    host.Suspend();

    Set(host, Reverb::kDryOutputLevel, 0.0f);
    Set(host, Reverb::kWetOutputLevel, 100.0f);
    output = host.Run(input, 256);
    Reverb& reverb = Of(host);
    const std::vector<double> h = Channel(reverb, reverb.Impulse(), 0);
    // Before the response only FFT rounding noise (near 1e-9) may appear.
    const std::size_t start = static_cast<std::size_t>(latency) + 5;
    double worst = 0.0, peak = 0.0;
    for (std::size_t i = 0; i < start; ++i)
        worst = std::max(worst, std::fabs(static_cast<double>(output[0][i])));
    for (std::size_t t = 0; t < h.size(); ++t) {
        peak = std::max(peak, std::fabs(h[t]));
        worst = std::max(worst, std::fabs(output[0][start + t] - h[t]));
    }
    EXPECT_LT(worst, 1e-5 * peak);
}

TEST_F(ReverbThreaded, CacheHitGivesTheSameOutputAndBadFilesAreIgnored)
{
    const Signal input = test::ImpulseSignal(2, 6000, 0);
    TestHost first = Make(2, false, 50.0f, 100.0f);
    const Signal fresh = first.Run(input, 512);
    const std::vector<float> freshImpulse = ImpulseCopy(Of(first));
    first.Suspend();
    const std::vector<std::filesystem::path> files = CacheFiles("SndxReverb");
    ASSERT_EQ(files.size(), 1u);
    const std::filesystem::path slot = files[0];
    // Nothing but the slot is left behind (no temporary names).
    EXPECT_EQ(scratch_.Entries().size(), 1u);

    // A second instance loads the file: same impulse, same output, bit for bit.
    TestHost second = Make(2, false, 50.0f, 100.0f);
    EXPECT_EQ(second.Run(input, 512), fresh);
    EXPECT_EQ(ImpulseCopy(Of(second)), freshImpulse);
    second.Suspend();

    const std::vector<char> good = ReadBytes(slot);
    const auto write = [&](const std::vector<char>& bytes) { ReplaceFile(slot, bytes); };

    // The file is really read: a doubled impulse in an intact file is used.
    std::vector<char> doubled = good;
    for (std::size_t at = Reverb::kHeaderSize; at < Reverb::kHeaderSize + freshImpulse.size() * 4; at += 4) {
        float value = 0.0f;
        std::memcpy(&value, doubled.data() + at, 4);
        value *= 2.0f;
        std::memcpy(doubled.data() + at, &value, 4);
    }
    write(doubled);
    {
        TestHost host = Make(2, false, 50.0f, 100.0f);
        host.Resume();
        EXPECT_EQ(Of(host).Impulse()[0], 2.0f * freshImpulse[0]);
        host.Suspend();
    }

    struct Corruption {
        const char* name;
        std::function<void()> apply;
    };
    const std::vector<Corruption> corruptions{
        {"truncated", [&] { write({good.begin(), good.end() - 4}); }},
        {"header only", [&] { write({good.begin(), good.begin() + Reverb::kHeaderSize}); }},
        {"short header", [&] { write({good.begin(), good.begin() + 40}); }},
        {"one byte too many", [&] { std::vector<char> b = good; b.push_back(0); write(b); }},
        {"wrong magic", [&] { std::vector<char> b = doubled; b[0] ^= 1; write(b); }},
        {"wrong version", [&] { std::vector<char> b = doubled; b[16] = 3; write(b); }},
        {"wrong data size", [&] { std::vector<char> b = doubled; b[9] ^= 1; write(b); }},
        {"other decay", [&] { std::vector<char> b = doubled; b[31] ^= 1; write(b); }},
        {"a NaN in a spectrum",
         [&] {
             std::vector<char> b = doubled;
             const float nan = std::numeric_limits<float>::quiet_NaN();
             std::memcpy(b.data() + b.size() - 8, &nan, 4);
             write(b);
         }},
        {"a directory", [&] { std::filesystem::remove_all(slot); std::filesystem::create_directory(slot); }},
        {"a link to a good file", [&] { ReplaceByLink(slot, doubled); }},
    };
    for (const Corruption& corruption : corruptions) {
        SCOPED_TRACE(corruption.name);
        corruption.apply();
        TestHost host = Make(2, false, 50.0f, 100.0f);
        EXPECT_EQ(host.Run(input, 512), fresh);
        EXPECT_EQ(ImpulseCopy(Of(host)), freshImpulse);
        host.Suspend();
    }
}

TEST_F(ReverbThreaded, OnlySettingsThatShapeTheImpulseRebuildIt)
{
    TestHost host = Make(2, true, 100.0f, 35.0f);
    ExpectOnlyShapingChangesRebuild(
        host,
        [&] {
            Set(host, Reverb::kWetOutputLevel, 80.0f);
            Set(host, Reverb::kDryOutputLevel, 20.0f);
        },
        [&] { Set(host, Reverb::kDiffusion, 500.0f); });
}

TEST_F(ReverbThreaded, SteadyBlocksDoNotAllocateAcrossBlockBoundaries)
{
    TestHost host = Make(2, false, 100.0f, 35.0f);
    host.Resume();
    const Signal input = test::SineSignal(2, 512, kRate, 440.0f);
    Signal output = input;
    const std::size_t blocks = 4 * Of(host).HopSize() / 512 + 2;
    test::AllocationGuard guard;
    for (std::size_t block = 0; block < blocks; ++block) {
        if (block == blocks / 2)
            Set(host, Reverb::kWetOutputLevel, 60.0f); // levels change without a rebuild
        host.ProcessBlock(input, output, 0, 512);
    }
    host.ProcessBlock(input, output, 0, 0);
}

TEST_F(ReverbThreaded, SettingsChangeWhileTheAudioThreadRuns)
{
    TestHost host = Make(2, false, 100.0f, 35.0f);
    ExpectFiniteWhileChanging(host, kRate, [&](int round) {
        Set(host, Reverb::kWetOutputLevel, static_cast<float>(round % 100));
        if (round % 50 == 0)
            Set(host, Reverb::kDecayTime, kShortDecay + static_cast<float>(round % 3));
        (void)host.Filter().GetParameter(Reverb::kCalculatingImpulse);
    });
}

TEST_F(ReverbThreaded, ChannelAndRateChangesRebuildForTheNewLayout)
{
    TestHost host = Make(2, false);
    ExpectNewLayoutAndRateRebuild(host, kRate, 8);
    // Resuming twice and suspending twice is harmless.
    host.Resume();
    host.Resume();
    host.Suspend();
    host.Suspend();
}

TEST_F(ReverbThreaded, RateOrLayoutThatChangesAndComesBackBetweenBlocksKeepsPlaying)
{
    ExpectFlipsKeepPlaying<Reverb>([] { return Make(2, false, 50.0f, 100.0f); }, kRate);
}

// ---------------------------------------------------------------------------
// Rebuilds while the host plays, and while it renders offline

TEST_F(ReverbThreaded, ShapingChangeWhilePlayingKeepsTheOldImpulseUntilTheNewOneIsInstalled)
{
    struct Case {
        const char* name;
        int parameter;
        float value;
        /// Blocks after the install until the output is a fresh start's:
        /// with the same hop the earlier input rings out first.
        std::size_t settle;
    };
    for (const Case& c : {Case{"same hop: the blocks go on", Reverb::kDiffusion, 500.0f, 3},
                          Case{"another hop: a clean restart", Reverb::kDecayTime, 30.0f, 0}}) {
        SCOPED_TRACE(c.name);
        TestHost changed = Make(2, false, 50.0f, 100.0f);
        TestHost reference = Make(2, false, 50.0f, 100.0f);
        Reverb& reverb = Of(changed);
        core::Gate release;
        std::atomic<int> builds{0};
        reverb.SetWorkerHooks({}, [&] {
            ++builds;
            release.Wait();
        });
        changed.Resume();
        reference.Resume();
        // Host blocks of one hop each: every call starts at a block boundary.
        const std::size_t hop = reverb.HopSize();
        const std::size_t blocks = 20;
        const Signal input = NoiseSignal(2, blocks * hop);
        Signal output = input;
        Signal referenceOutput = input;
        const auto step = [&](TestHost& host, Signal& into, std::size_t block) {
            host.ProcessBlock(input, into, block * hop, static_cast<int>(hop));
        };
        std::size_t block = 0;
        for (; block < 2; ++block)
            step(changed, output, block);

        // The build is held on the impulse worker: Process neither waits nor
        // allocates, and the old impulse keeps playing.
        Set(changed, c.parameter, c.value);
        {
            test::AllocationGuard guard;
            for (; block < 6; ++block)
                step(changed, output, block);
        }
        EXPECT_TRUE(reverb.RebuildPending());
        for (std::size_t b = 0; b < block; ++b)
            step(reference, referenceOutput, b);
        EXPECT_EQ(output, referenceOutput);

        // Once built, the new impulse is installed at the next boundary.
        release.Open();
        std::size_t installedAt = 0;
        for (; block < blocks && installedAt == 0; ++block) {
            if (reverb.RebuildPending())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            step(changed, output, block);
            step(reference, referenceOutput, block);
            if (!reverb.RebuildPending())
                installedAt = block;
        }
        ASSERT_NE(installedAt, 0u) << "the rebuild was never installed";
        ASSERT_LT(installedAt + c.settle + 2, blocks);
        for (; block < blocks; ++block) {
            step(changed, output, block);
            step(reference, referenceOutput, block);
        }
        EXPECT_EQ(builds.load(), 1);
        const std::size_t from = installedAt * hop;
        if (c.settle > 0) {
            // No gap: the first block after the install is what the old
            // settings would have played.
            const Signal next = Slice(output, from);
            const Signal nextReference = Slice(referenceOutput, from);
            for (std::size_t ch = 0; ch < 2; ++ch)
                EXPECT_TRUE(std::equal(next[ch].begin(), next[ch].begin() + static_cast<std::ptrdiff_t>(hop),
                                       nextReference[ch].begin()));
        }
        // Then the output is that of a component resumed with the new
        // settings at the install.
        TestHost fresh = Make(2, false, 50.0f, 100.0f);
        Set(fresh, c.parameter, c.value);
        const Signal freshOutput = fresh.Run(Slice(input, from), static_cast<int>(hop));
        const std::size_t settled = c.settle * hop;
        EXPECT_EQ(Slice(output, from + settled), Slice(freshOutput, settled));
        EXPECT_NE(Slice(referenceOutput, from + settled), Slice(freshOutput, settled));
        changed.Suspend();
        reference.Suspend();
        fresh.Suspend();
    }
}

TEST_F(ReverbThreaded, ReportedLatencyIsThatOfTheImpulseThatPlays)
{
    // Dry only: a unit impulse comes out exactly one latency later.
    TestHost host = Make(2, false, 100.0f, 0.0f);
    Reverb& reverb = Of(host);
    core::Gate release;
    reverb.SetWorkerHooks({}, [&] { release.Wait(); });
    host.Resume();
    const std::size_t hop = reverb.HopSize();
    /// Frames from an impulse in to the loudest sample out, `frames` long,
    /// in host blocks of one old hop.
    const auto measure = [&](std::size_t frames) {
        const Signal input = test::ImpulseSignal(2, frames, 0);
        Signal output = input;
        for (std::size_t from = 0; from < frames; from += hop)
            host.ProcessBlock(input, output, from, static_cast<int>(std::min(hop, frames - from)));
        const auto loudest = std::max_element(output[0].begin(), output[0].end(),
                                              [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        return static_cast<int>(loudest - output[0].begin());
    };
    const int before = host.Filter().GetInitialDelay();
    EXPECT_EQ(measure(static_cast<std::size_t>(before) + 2 * hop), before);

    // Another hop, so another latency; the build is held on the worker.
    Set(host, Reverb::kDecayTime, 30.0f);
    const int measuredWhileBuilding = measure(static_cast<std::size_t>(before) + 2 * hop);
    const bool pending = reverb.RebuildPending();
    const int reportedWhileBuilding = host.Filter().GetInitialDelay();
    release.Open();
    EXPECT_TRUE(pending);
    EXPECT_EQ(reportedWhileBuilding, before);
    EXPECT_EQ(measuredWhileBuilding, before);

    // Installed: the new latency is reported and is what plays.
    for (int tries = 0; tries < 100 && reverb.RebuildPending(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Signal silence(2, std::vector<float>(hop, 0.0f));
        host.ProcessBlock(silence, silence, 0, static_cast<int>(hop));
    }
    ASSERT_FALSE(reverb.RebuildPending());
    const int after = host.Filter().GetInitialDelay();
    EXPECT_NE(after, before);
    EXPECT_EQ(measure(static_cast<std::size_t>(after) + 2 * hop), after);
    host.Suspend();
    EXPECT_EQ(host.Filter().GetInitialDelay(), after);
}

TEST_F(ReverbThreaded, ChangesDuringABuildCoalesceIntoOneMoreBuild)
{
    TestHost host = Make(2, true);
    Reverb& reverb = Of(host);
    core::Gate release;
    std::atomic<int> builds{0};
    reverb.SetWorkerHooks({}, [&] {
        ++builds;
        release.Wait();
    });
    host.Resume();
    const Signal input = test::SineSignal(2, 256, kRate, 440.0f);
    Signal output = input;
    Set(host, Reverb::kDecayTime, 30.0f);
    host.ProcessBlock(input, output, 0, 256);
    // The first build has started (and is held) before the next changes.
    for (int wait = 0; wait < 1000 && builds.load() == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(builds.load(), 1);
    for (int change = 0; change < 6; ++change) {
        Set(host, Reverb::kPerception, 30.0f + 10.0f * static_cast<float>(change));
        host.ProcessBlock(input, output, 0, 256);
    }
    release.Open();
    for (int block = 0; block < 400 && reverb.RebuildPending(); ++block) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        host.ProcessBlock(input, output, 0, 256);
    }
    ASSERT_FALSE(reverb.RebuildPending());
    EXPECT_EQ(builds.load(), 2);
    const std::vector<float> installed = ImpulseCopy(reverb);
    host.Suspend();

    TestHost fresh = Make(2, true);
    Set(fresh, Reverb::kDecayTime, 30.0f);
    Set(fresh, Reverb::kPerception, 80.0f);
    fresh.Resume();
    EXPECT_EQ(installed, ImpulseCopy(Of(fresh)));
    fresh.Suspend();
}

TEST_F(ReverbThreaded, OfflineRenderingRebuildsAtTheChangeFrameAndRepeatsExactly)
{
    const std::size_t change = 3001;
    const Signal input = NoiseSignal(2, 12000);
    const auto normalized = [](TestHost& host, int index, float value) {
        return host.Filter().GetParameterInfo(index)->ToNormalized(value);
    };
    std::vector<Signal> renders;
    for (int run = 0; run < 2; ++run) {
        TestHost host = Make(2, false, 50.0f, 100.0f);
        host.GetSession().SetRenderingOffline(true);
        host.GetSession().ScheduleParameter(change, Reverb::kDecayTime, normalized(host, Reverb::kDecayTime, 30.0f));
        host.GetSession().ScheduleParameter(change, Reverb::kDiffusion, normalized(host, Reverb::kDiffusion, 500.0f));
        renders.push_back(host.Run(input, 512));
        host.Suspend();
    }
    EXPECT_EQ(renders[0], renders[1]);

    TestHost fresh = Make(2, false, 50.0f, 100.0f);
    Set(fresh, Reverb::kDecayTime, 30.0f);
    Set(fresh, Reverb::kDiffusion, 500.0f);
    EXPECT_EQ(Slice(renders[0], change), fresh.Run(Slice(input, change), 512));
    fresh.Suspend();
}

TEST_F(ReverbThreaded, ALateJobSkipsTheBoundaryAndAudioKeepsFlowing)
{
    TestHost host = Make(1, true, 100.0f, 100.0f);
    Reverb& reverb = Of(host);
    core::Gate release;
    std::atomic<bool> first{true};
    // The first block job stalls until released, well past the time-out.
    reverb.SetWorkerHooks(
        [&] {
            if (first.exchange(false))
                release.Wait();
        },
        {});
    host.Resume();
    const std::size_t hop = reverb.HopSize();
    const std::size_t blocks = 8;
    const Signal input = test::SineSignal(1, blocks * hop, kRate, 440.0f);
    Signal output = input;
    const auto step = [&](std::size_t block) {
        host.ProcessBlock(input, output, block * hop, static_cast<int>(hop));
    };
    step(0);
    step(1); // hands over the first job, which stalls
    const auto before = std::chrono::steady_clock::now();
    step(2); // waits for it, gives up, plays the last result again
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::milliseconds(15000));
    release.Open();
    for (std::size_t block = 3; block < blocks; ++block)
        step(block);
    ASSERT_TRUE(AllFinite(output));
    // The late result is collected at the next boundary and the dry and wet
    // signals flow again.
    EXPECT_GT(test::TailPeak(output[0], hop), 0.1f);
    host.Suspend();
}

} // namespace
} // namespace zoc::components
