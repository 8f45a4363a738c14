#include "effects/reverb/FullReverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

#include "tests/effects/reverb/ConvolutionReverbTestSupport.h"
#include "tests/support/AllocationGuard.h"

namespace zoc::components {
namespace {

using namespace reverbtest;
using P = FullReverb;

/// Short impulses keep these tests fast: 20 ms of decay at 8 kHz gives an
/// impulse of 232 frames and an FFT of 512 points.
constexpr float kRate = 8000.0f;
constexpr float kShortDecay = 20.0f;
/// The cross response from left into right is impulse channel 3.
constexpr std::size_t kLeftToRight = 3;

class FullReverbFixture : public Fixture<FullReverb> {
protected:
    /// A reverb at kRate with a short impulse and the given levels (%).
    static TestHost Make(std::size_t channels, bool sumInputs, bool includeDirect, float dry, float early,
                         float reverb)
    {
        TestHost host = TestHost::ForComponent(kFullReverbComponentID);
        host.Configure(channels, kRate);
        Set(host, P::kDecayTime, kShortDecay);
        Set(host, P::kPreDelayTime, 2.0f);
        Set(host, P::kSumInputs, sumInputs ? 1.0f : 0.0f);
        Set(host, P::kIncludeDirect, includeDirect ? 1.0f : 0.0f);
        Set(host, P::kDryLevel, dry);
        Set(host, P::kEarlyLevel, early);
        Set(host, P::kReverbLevel, reverb);
        return host;
    }
};

/// What the direct path's delay does to the dry level.
double DirectGain(std::uint32_t delay) { return 1.0 - std::min(delay / 60.0, 0.7); }

// ---------------------------------------------------------------------------
// Settings, room and presets (no processing)

using FullReverbSettings = FullReverbFixture;

TEST_F(FullReverbSettings, RoomFollowsSizeAndDimension)
{
    struct Case {
        float volume, dimension;
        float width, height, depth; // m
    };
    for (const Case& c : {Case{8879.6f, 0.736f, 21.82f, 29.65f, 13.72f}, Case{29, 1.5f, 4.188f, 2.792f, 2.48f},
                          Case{11500, 20, 124.2f, 6.21f, 14.91f}, Case{20, 0.1f, 0.9425f, 9.425f, 2.252f},
                          Case{60000, 1.23f, 53.84f, 43.77f, 25.46f}}) {
        SCOPED_TRACE(c.volume);
        TestHost host = TestHost::ForComponent(kFullReverbComponentID);
        Set(host, P::kRoomSize, c.volume);
        Set(host, P::kDimension, c.dimension);
        EXPECT_NEAR(Get(host, P::kRoomWidth), c.width, 0.002 * c.width);
        EXPECT_NEAR(Get(host, P::kRoomHeight), c.height, 0.002 * c.height);
        EXPECT_NEAR(Get(host, P::kRoomDepth), c.depth, 0.002 * c.depth);
    }

    // Reverberation from the room: the default room gives the default decay
    // and pre-delay; the largest room is held to the parameters' maxima.
    TestHost host = TestHost::ForComponent(kFullReverbComponentID);
    Set(host, P::kDecayTime, 500.0f);
    Set(host, P::kReverbFromRoom, 1.0f);
    EXPECT_NEAR(Get(host, P::kDecayTime), 2636.0f, 2.0f);
    EXPECT_NEAR(Get(host, P::kPreDelayTime), 106.0f, 1.5f);
    Set(host, P::kRoomSize, 60000.0f);
    Set(host, P::kDimension, 20.0f);
    EXPECT_LE(Get(host, P::kDecayTime), 6000.0f);
    EXPECT_FLOAT_EQ(Get(host, P::kPreDelayTime), 200.0f);
    // Off, the room no longer touches them.
    Set(host, P::kReverbFromRoom, 0.0f);
    Set(host, P::kDecayTime, 700.0f);
    Set(host, P::kRoomSize, 100.0f);
    EXPECT_FLOAT_EQ(Get(host, P::kDecayTime), 700.0f);
}

TEST_F(FullReverbSettings, SwitchesAndReadOnlyOutputs)
{
    TestHost host = TestHost::ForComponent(kFullReverbComponentID);
    host::AudioFilter& filter = host.Filter();
    for (int index : {P::kSumInputs, P::kIncludeDirect}) {
        for (const auto& [normalized, stored] : {std::pair{0.0f, 0.0f}, {0.49f, 0.0f}, {0.7538f, 1.0f}, {1.0f, 1.0f}}) {
            filter.SetParameter(index, normalized);
            EXPECT_EQ(Get(host, index), stored) << index << " " << normalized;
        }
    }
    // The host cannot set an output.
    filter.SetParameter(P::kCalculatingImpulse, 0.25f);
    filter.SetParameter(P::kIsProcessing, 1.0f);
    filter.SetParameter(P::kChannelCount, 0.9f);
    EXPECT_FLOAT_EQ(Get(host, P::kCalculatingImpulse), 100.0f);
    EXPECT_FLOAT_EQ(Get(host, P::kIsProcessing), 0.0f);
    EXPECT_FLOAT_EQ(Get(host, P::kChannelCount), 2.0f);
}

TEST_F(FullReverbSettings, OriginalSampleRateTurnsStoredSharesIntoHertz)
{
    struct Case {
        float rate;
        float share; // of the frequency range
        float expected;
    };
    // A share n set at 44.1 kHz means 20 + n * 22030 Hz; above half the
    // current rate it is held there.
    for (const Case& c : {Case{48000, 0.5f, 11035}, Case{48000, 0.99f, 21829.7f}, Case{32000, 0.9f, 16000},
                          Case{96000, 0.25f, 5527.5f}}) {
        SCOPED_TRACE(c.rate);
        TestHost host = TestHost::ForComponent(kFullReverbComponentID);
        host.Configure(2, c.rate);
        for (int index : {P::kEarlyHighPass, P::kLowFrequency, P::kHighFrequency, P::kMidFrequency})
            host.Filter().SetParameter(index, c.share);
        Set(host, P::kOriginalSampleRate, 44100.0f);
        for (int index : {P::kEarlyHighPass, P::kLowFrequency, P::kHighFrequency, P::kMidFrequency})
            EXPECT_NEAR(Get(host, index), c.expected, 0.05f) << index;
        EXPECT_FLOAT_EQ(Get(host, P::kOriginalSampleRate), c.rate);
    }
}

TEST_F(FullReverbSettings, PresetsApplyTheirTablesAtAnyRate)
{
    TestHost host = TestHost::ForComponent(kFullReverbComponentID);
    host.Configure(2, 48000.0f);
    host::AudioFilter& filter = host.Filter();
    struct Case {
        int preset;
        int index;
        float value;
    };
    for (const Case& c : {Case{15, P::kLowFrequency, 19100}, Case{7, P::kHighFrequency, 20647},
                          Case{1, P::kEarlyHighPass, 1839.9f}, Case{25, P::kSumInputs, 0},
                          Case{25, P::kLocation, 62}, Case{6, P::kReverbLevel, 304},
                          Case{11, P::kMidGain, 19.3f}, Case{1, P::kLowGain, 0}, Case{0, P::kHighGain, -23.57f},
                          Case{12, P::kDecayTime, 4283}, Case{19, P::kRoomWidth, 0.9425f}}) {
        filter.SetFactoryPreset(c.preset);
        EXPECT_NEAR(Get(host, c.index), c.value, 1e-3f * std::max(1.0f, std::fabs(c.value)))
            << "preset " << c.preset << " parameter " << c.index;
    }
    // At 32 kHz the top frequencies stop at 16 kHz.
    host.Configure(2, 32000.0f);
    filter.SetFactoryPreset(7);
    EXPECT_FLOAT_EQ(Get(host, P::kHighFrequency), 16000.0f);
}

TEST_F(FullReverbSettings, LatencyIsKnownBeforeTheFirstImpulse)
{
    struct Case {
        float decay;
        float rate;
        int latency;
    };
    // 2636 ms at 48 kHz: Ls = 126528, L = 183465, N = 524288, 2 (N - L) + 2.
    for (const Case& c : {Case{2636, 48000, 681648}, Case{20, 8000, 562}, Case{4283, 48000, 1500962},
                          Case{6000, 44100, 1329814}}) {
        TestHost host = TestHost::ForComponent(kFullReverbComponentID);
        host.Configure(2, c.rate);
        Set(host, P::kDecayTime, c.decay);
        EXPECT_EQ(host.Filter().GetInitialDelay(), c.latency) << c.decay << " ms at " << c.rate;
    }
}

TEST_F(FullReverbSettings, SynthesisRepeatsAndPlacesTheDirectPaths)
{
    fullreverb::Settings settings;
    settings.sampleRate = kRate;
    settings.decayTime = 300.0f;
    settings.dimension = 5.0f; // a wide room, where the sources lie far apart
    const auto synthesize = [](const fullreverb::Settings& s, std::vector<float>& tail, std::vector<float>& early) {
        const fullreverb::Sizes sizes = fullreverb::ComputeSizes(s);
        tail.assign(sizes.impulseChannels * static_cast<std::size_t>(sizes.impulseLength), 0.0f);
        early.assign(tail.size(), 0.0f);
        return fullreverb::Synthesize(s, sizes, tail.data(), early.data(), {});
    };
    for (bool sumInputs : {true, false}) {
        SCOPED_TRACE(sumInputs);
        settings.sumInputs = sumInputs;
        std::vector<float> tail, early, tailAgain, earlyAgain;
        const fullreverb::Result first = synthesize(settings, tail, early);
        const fullreverb::Result second = synthesize(settings, tailAgain, earlyAgain);
        EXPECT_EQ(tail, tailAgain);
        EXPECT_EQ(early, earlyAgain);
        EXPECT_EQ(first.directDelays, second.directDelays);
        for (const std::vector<float>* response : {&tail, &early})
            EXPECT_TRUE(std::any_of(response->begin(), response->end(), [](float v) { return v != 0.0f; }));

        // The nearest source-ear pair arrives first; the ears are 0.33 m
        // apart, so a stereo pair differs by a few frames, never by more
        // than the sources' spread.
        const std::uint32_t channels = fullreverb::ComputeSizes(settings).impulseChannels;
        std::uint32_t nearest = first.directDelays[0];
        for (std::uint32_t k = 0; k < channels; ++k) {
            nearest = std::min(nearest, first.directDelays[k]);
            EXPECT_LT(first.directDelays[k], 100u) << k;
        }
        EXPECT_EQ(nearest, 0u);
        if (!sumInputs) { // the far source reaches the near ear late
            EXPECT_GT(first.directDelays[2], 0u);
        }
    }
    // Another location reseeds and moves the listener: another impulse.
    std::vector<float> tail, early, moved, movedEarly;
    settings.sumInputs = true;
    synthesize(settings, tail, early);
    settings.location = 40.0f;
    synthesize(settings, moved, movedEarly);
    EXPECT_NE(tail, moved);
    EXPECT_NE(early, movedEarly);
    // A source far to the right reaches the left ear later by the ears'
    // spacing (0.334 m) at the speed of sound (1130 ft/s): 0.97 ms.
    settings.sampleRate = 48000.0f;
    settings.dimension = 20.0f;
    settings.location = 100.0f;
    const fullreverb::Result wide = synthesize(settings, tail, early);
    EXPECT_NEAR(static_cast<double>(wide.directDelays[0]) - wide.directDelays[1], 0.334 / 344.42 * 48000.0, 1.0);
}

// ---------------------------------------------------------------------------
// Processing (each of these runs the worker thread)

using FullReverbThreaded = FullReverbFixture;

TEST_F(FullReverbThreaded, DryPathArrivesAtTheLatencyOrOverTheDirectPath)
{
    struct Case {
        const char* name;
        std::size_t channels;
        bool sumInputs;
        bool includeDirect;
    };
    for (const Case& c : {Case{"mono, no direct path", 1, true, false}, Case{"mono, direct path", 1, true, true},
                          Case{"summed stereo, direct path", 2, true, true},
                          Case{"true stereo, direct path", 2, false, true},
                          Case{"true stereo, no direct path", 2, false, false}}) {
        SCOPED_TRACE(c.name);
        TestHost host = Make(c.channels, c.sumInputs, c.includeDirect, 80.0f, 0.0f, 0.0f);
        // Sources off to the right: the far ear hears each a few frames late.
        Set(host, P::kLocation, 40.0f);
        // Asked before anything was built: the figure a host compensates with.
        const int latency = host.Filter().GetInitialDelay();
        const std::size_t at = 5;
        const std::size_t frames = static_cast<std::size_t>(latency) + 400;
        // Only the first input sounds, so each output shows which path reached it.
        Signal input(c.channels, std::vector<float>(frames, 0.0f));
        input[0][at] = 1.0f;
        const Signal output = host.Run(input, 100);
        FullReverb& reverb = Of(host);
        ASSERT_EQ(latency, 2 * static_cast<int>(reverb.HopSize()));

        for (std::size_t ch = 0; ch < c.channels; ++ch) {
            // Summed stereo still hears each input on its own channel; true
            // stereo's right ear hears the left input over impulse channel 3.
            std::vector<double> expected(frames, 0.0);
            if (ch == 0 || (c.includeDirect && !c.sumInputs)) {
                const std::uint32_t delay = c.includeDirect ? reverb.DirectDelay(ch == 0 ? 0 : 3) : 0;
                expected[latency + at + delay] = 0.8 * DirectGain(delay);
            }
            for (std::size_t i = 0; i < frames; ++i)
                ASSERT_NEAR(output[ch][i], expected[i], 1e-6) << "channel " << ch << " frame " << i;
        }
    }
}

TEST_F(FullReverbThreaded, WetOutputConvolvesWithBothResponsesAtTheirLevels)
{
    struct Case {
        const char* name;
        std::size_t channels;
        bool sumInputs;
    };
    for (const Case& c : {Case{"mono", 1, true}, Case{"true stereo", 2, false}, Case{"summed stereo", 2, true}}) {
        SCOPED_TRACE(c.name);
        const float earlyLevel = 60.0f, reverbLevel = 150.0f;
        TestHost host = Make(c.channels, c.sumInputs, false, 0.0f, earlyLevel, reverbLevel);
        const int latency = host.Filter().GetInitialDelay();
        host.Resume();
        FullReverb& reverb = Of(host);
        const std::size_t frames = static_cast<std::size_t>(latency) + 200 + reverb.ImpulseLength() + 50;
        const Signal input = BurstSignal(c.channels, frames, 200, 3);
        const Signal output = host.Run(input, 128, false);

        const double gE = 0.5 * earlyLevel / 100.0, gR = reverbLevel / 100.0;
        const auto expected = DirectWet(input, c.sumInputs, kLeftToRight,
                                        [&](const std::vector<float>& x, std::size_t k, std::vector<double>& y) {
                                            Convolve(x, Channel(reverb, reverb.Reverberation(), k), gR, y);
                                            Convolve(x, Channel(reverb, reverb.EarlyReflections(), k), gE, y);
                                        });
        ExpectDelayedBy(output, expected, latency);
    }
}

TEST_F(FullReverbThreaded, OnlySettingsThatShapeTheImpulseRebuildIt)
{
    TestHost host = Make(2, true, true, 100.0f, 50.0f, 50.0f);
    ExpectOnlyShapingChangesRebuild(
        host,
        [&] {
            for (int level : {P::kDryLevel, P::kEarlyLevel, P::kReverbLevel})
                Set(host, level, 20.0f);
        },
        [&] { Set(host, P::kColorationDecay, 100.0f); });
}

TEST_F(FullReverbThreaded, WhilePlayingTheOldImpulseSoundsUntilTheNewOneIsInstalled)
{
    TestHost host = Make(1, true, false, 0.0f, 100.0f, 100.0f);
    // Builds on the impulse worker take at least 50 ms here, so the blocks
    // below surely run while one is in flight.
    Of(host).SetWorkerHooks({}, [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    host.Resume();
    Signal noise(1, test::Noise(256, 5));
    Signal output = noise;
    for (int block = 0; block < 20; ++block)
        host.ProcessBlock(noise, output, 0, 256);
    const std::uint32_t before = Of(host).ImpulseLength();
    // A longer decay: built on the impulse worker while the old one plays.
    Set(host, P::kDecayTime, 3 * kShortDecay);
    float loudest = 0.0f;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int blocks = 0; std::chrono::steady_clock::now() < deadline &&
                         (blocks < 2 || Of(host).RebuildPending() || Of(host).ImpulseLength() == before);
         ++blocks) {
        host.ProcessBlock(noise, output, 0, 256);
        if (blocks < 2)
            loudest = std::max(loudest, test::TailPeak(output[0], 256));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(loudest, 0.0f); // no dropout while the build runs
    EXPECT_GT(Of(host).ImpulseLength(), before);
    host.Suspend();
}

TEST_F(FullReverbThreaded, EveryPresetRendersCleanlyAndTheSameTwice)
{
    // Three seconds at -6 dBFS, at a low rate so that all 29 impulses build
    // in seconds: tone bursts, different per channel, then a logarithmic
    // sweep over the whole band; and the tail after it.
    const std::size_t inputFrames = 3 * static_cast<std::size_t>(kRate);
    Signal input(2, std::vector<float>(inputFrames, 0.0f));
    for (std::size_t ch = 0; ch < 2; ++ch) {
        double phase = 0.0;
        for (std::size_t i = 0; i < inputFrames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double frequency =
                t < 1.0 ? (ch == 0 ? 440.0 : 660.0) : 20.0 * std::pow(kRate / 2.0 / 20.0, (t - 1.0) / 2.0);
            phase += 2.0 * std::numbers::pi * frequency / kRate;
            const bool sounding = t >= 1.0 || std::fmod(t, 0.5) < 0.25;
            input[ch][i] = sounding ? static_cast<float>(0.5 * std::sin(phase)) : 0.0f;
        }
    }
    const int presets = TestHost::ForComponent(kFullReverbComponentID).Filter().GetNumFactoryPresets();
    for (int preset = 0; preset < presets; ++preset) {
        SCOPED_TRACE(preset);
        const auto render = [&](bool defaultLevels) {
            TestHost host = TestHost::ForComponent(kFullReverbComponentID);
            host.Configure(2, kRate);
            host.Filter().SetFactoryPreset(preset);
            if (defaultLevels) {
                Set(host, P::kDryLevel, 73.1f);
                Set(host, P::kEarlyLevel, 27.8f);
                Set(host, P::kReverbLevel, 31.5f);
            }
            Signal padded = input;
            const auto latency = static_cast<std::size_t>(host.Filter().GetInitialDelay());
            for (auto& channel : padded)
                channel.resize(inputFrames + latency + inputFrames / 3, 0.0f);
            Signal output = host.Run(padded, 1024);
            host.Suspend();
            for (auto& channel : output)
                channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(latency));
            return output;
        };
        const auto peakOf = [](const Signal& output) {
            float peak = 0.0f;
            for (const auto& channel : output) {
                for (float value : channel) {
                    EXPECT_TRUE(std::isfinite(value));
                    peak = std::max(peak, std::fabs(value));
                }
            }
            return peak;
        };
        const Signal first = render(false);
        EXPECT_GT(peakOf(first), 0.01f);
        // The second instance loads the first one's cache file.
        EXPECT_EQ(render(false), first);
        // Some presets' own levels are hot (up to 134 % early and 173 %
        // reverberation); at the default levels no room clips.
        EXPECT_LT(peakOf(render(true)), 1.0f);
    }
}

TEST_F(FullReverbThreaded, CacheFilesAreReusedAndBadOnesIgnored)
{
    const Signal input = test::ImpulseSignal(2, 3000, 0);
    TestHost first = Make(2, false, true, 50.0f, 80.0f, 100.0f);
    const Signal fresh = first.Run(input, 512);
    first.Suspend();
    const std::vector<std::filesystem::path> files = CacheFiles("SndxFullReverb");
    ASSERT_EQ(files.size(), 1u);
    const std::filesystem::path slot = files[0];
    EXPECT_EQ(scratch_.Entries().size(), 1u); // no temporary names left behind

    const std::vector<char> good = ReadBytes(slot);
    const auto write = [&](const std::vector<char>& bytes) { ReplaceFile(slot, bytes); };
    // The file is really read: a doubled early response in an intact file is used.
    std::vector<char> doubled = good;
    float value = 0.0f;
    std::memcpy(&value, doubled.data() + P::kRecordSize, 4);
    const float original = value;
    value = value * 2.0f + 1.0f;
    std::memcpy(doubled.data() + P::kRecordSize, &value, 4);
    write(doubled);
    {
        TestHost host = Make(2, false, true, 50.0f, 80.0f, 100.0f);
        host.Resume();
        EXPECT_EQ(Of(host).EarlyReflections()[0], original * 2.0f + 1.0f);
        host.Suspend();
    }

    struct Corruption {
        const char* name;
        std::function<void()> apply;
    };
    const std::vector<Corruption> corruptions{
        {"truncated", [&] { write({doubled.begin(), doubled.end() - 4}); }},
        {"record only", [&] { write({doubled.begin(), doubled.begin() + P::kRecordSize}); }},
        {"one byte too many", [&] { std::vector<char> b = doubled; b.push_back(0); write(b); }},
        {"wrong magic", [&] { std::vector<char> b = doubled; b[0] ^= 1; write(b); }},
        {"other room size", [&] { std::vector<char> b = doubled; b[153] ^= 1; write(b); }},
        {"other channel count", [&] { std::vector<char> b = doubled; b[210] = 4; write(b); }},
        {"sounding length beyond the impulse", [&] { std::vector<char> b = doubled; b[7] = 0x7F; write(b); }},
        {"a directory", [&] { std::filesystem::remove_all(slot); std::filesystem::create_directory(slot); }},
        {"a link to a good file", [&] { ReplaceByLink(slot, doubled); }},
    };
    for (const Corruption& corruption : corruptions) {
        SCOPED_TRACE(corruption.name);
        corruption.apply();
        TestHost host = Make(2, false, true, 50.0f, 80.0f, 100.0f);
        EXPECT_EQ(host.Run(input, 512), fresh);
        host.Suspend();
    }
}

TEST_F(FullReverbThreaded, InPlaceBlocksGiveTheSameOutput)
{
    const Signal input = test::SineSignal(2, 4096, kRate, 440.0f);
    TestHost separate = Make(2, false, true, 70.0f, 50.0f, 50.0f);
    const Signal expected = separate.Run(input, 256);
    TestHost inPlace = Make(2, false, true, 70.0f, 50.0f, 50.0f);
    inPlace.Resume();
    Signal buffer = input;
    for (std::size_t from = 0; from < buffer[0].size(); from += 256) {
        std::array<float*, 2> channels{buffer[0].data() + from, buffer[1].data() + from};
        inPlace.Filter().Process(channels.data(), channels.data(), 256);
    }
    inPlace.Suspend();
    EXPECT_EQ(buffer, expected);
}

TEST_F(FullReverbThreaded, SteadyBlocksDoNotAllocateAndLevelsChangeWithoutARebuild)
{
    TestHost host = Make(2, false, true, 100.0f, 50.0f, 35.0f);
    host.Resume();
    const Signal input = test::SineSignal(2, 512, kRate, 440.0f);
    Signal output = input;
    const std::size_t blocks = 4 * Of(host).HopSize() / 512 + 4;
    test::AllocationGuard guard;
    for (std::size_t block = 0; block < blocks; ++block) {
        if (block == blocks / 2) {
            Set(host, P::kReverbLevel, 60.0f);
            Set(host, P::kEarlyLevel, 10.0f);
            Set(host, P::kDryLevel, 30.0f);
        }
        host.ProcessBlock(input, output, 0, 512);
    }
}

TEST_F(FullReverbThreaded, SettingsChangeWhileTheAudioThreadRuns)
{
    TestHost host = Make(2, false, true, 100.0f, 50.0f, 35.0f);
    ExpectFiniteWhileChanging(host, kRate, [&](int round) {
        Set(host, P::kReverbLevel, static_cast<float>(round % 100));
        if (round % 50 == 0)
            Set(host, P::kDecayTime, kShortDecay + static_cast<float>(round % 3));
        if (round % 70 == 0)
            Set(host, P::kSumInputs, static_cast<float>(round % 2));
        (void)host.Filter().GetParameter(P::kCalculatingImpulse);
        (void)host.Filter().GetInitialDelay();
    });
}

TEST_F(FullReverbThreaded, RateOrLayoutThatChangesAndComesBackBetweenBlocksKeepsPlaying)
{
    ExpectFlipsKeepPlaying<FullReverb>([] { return Make(2, false, true, 50.0f, 100.0f, 100.0f); }, kRate);
}

TEST_F(FullReverbThreaded, ChannelAndRateChangesRebuildForTheNewLayout)
{
    TestHost host = Make(2, false, true, 100.0f, 100.0f, 100.0f);
    ExpectNewLayoutAndRateRebuild(host, kRate, 6);
}

} // namespace
} // namespace zoc::components
