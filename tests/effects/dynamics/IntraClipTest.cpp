#include "effects/dynamics/IntraClipComponent.h"

#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "contracts/host/PresetData.h"
#include "dsp/intraclip/IntraClip.h"
#include "framework/Library.h"
#include "platform/core/CommandRegistry.h"
#include "platform/core/String.h"
#include "tests/support/Measure.h"
#include "tests/support/SpeechLike.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using dsp::intraclip::IntraClipParam;
using test::Signal;
constexpr float kRate = 48000.0f;

struct IntraClipComponentFixture : ::testing::Test {
    core::Ref<IntraClipComponent> leveler{new IntraClipComponent};
    test::TestHost host{leveler};

    void SetUp() override { host.Configure(2, kRate); }
    void TearDown() override { dsp::intraclip::SetGlobalParam(dsp::intraclip::DefaultGlobalParam()); }

    std::string Text(int index) { return core::ToUtf8(leveler->GetParameterString(index)); }
    float Real(int index) { return leveler->GetParameterInfo(index)->FromNormalized(leveler->GetParameter(index)); }
    float MeterDb() { return Real(IntraClipComponent::kMeterParameter); }
    /// Processes `seconds` of `input` from its start, in 512-frame blocks, without resuming.
    void Feed(const Signal& input, double seconds)
    {
        Signal output = input;
        const auto frames = static_cast<std::size_t>(seconds * kRate);
        for (std::size_t from = 0; from + 512 <= frames && from + 512 <= input[0].size(); from += 512)
            host.ProcessBlock(input, output, from, 512);
    }
};

TEST_F(IntraClipComponentFixture, PresetsReadAsNamedAndBadValuesAreRefusedOrClamped)
{
    struct Preset { int index; const char *target, *amount, *threshold, *dynamicRange; };
    for (const Preset& p : {Preset{0, "-16.00", "100.00", "6.00", "12.00"},
                            Preset{1, "-28.07", "80.00", "12.00", "12.00"},
                            Preset{2, "-28.07", "50.00", "16.00", "12.00"},
                            Preset{3, "-28.00", "100.00", "0.00", "12.00"},
                            Preset{4, "-28.07", "50.00", "16.00", "24.00"}}) {
        leveler->SetFactoryPreset(p.index);
        EXPECT_EQ(Text(0), p.target) << p.index;
        EXPECT_EQ(Text(1), p.amount) << p.index;
        EXPECT_EQ(Text(3), p.threshold) << p.index;
        EXPECT_EQ(Text(5), "12.00") << p.index;
        EXPECT_EQ(Text(8), p.dynamicRange) << p.index;
    }
    // A NaN keeps the value before it; out-of-range values clamp.
    leveler->SetParameter(0, 0.3f);
    leveler->SetParameter(0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(Text(0), "-26.00");
    leveler->SetParameter(0, 5.0f);
    EXPECT_EQ(Text(0), "-12.00");
}

// Through the host: the phrases of every group move to the preset's target
// by its leveling amount, also with the compressor and gate on; nothing
// exceeds full scale, and the reported latency lines the output up.
TEST_F(IntraClipComponentFixture, PresetsBringSpeechToTheirTarget)
{
    const test::SpeechLike speech = test::MakeSpeechLike({-6, -26, -6, -26}, 2.5, 0.8, -62.0, 48000);
    struct Case { int preset; double target, amount; };
    for (const auto& [preset, target, amount] : {Case{0, -16.0, 1.0}, Case{1, -28.07, 0.8}, Case{3, -28.0, 1.0}}) {
        leveler->SetFactoryPreset(preset);
        const Signal output = host.Run(speech.samples, 480);
        const int latency = leveler->GetInitialDelay();
        EXPECT_EQ(latency, 9840);
        Signal aligned(2);
        for (std::size_t c = 0; c < 2; ++c)
            aligned[c].assign(output[c].begin() + latency, output[c].end());
        for (const test::SpeechSegment& segment : speech.segments) {
            if (!segment.phrase)
                continue;
            const double level = test::RmsDb(aligned, segment.start + segment.length / 2, segment.length / 2);
            const double expected = segment.levelDb + amount * (target - segment.levelDb);
            EXPECT_NEAR(level, expected, 3.0) << "preset " << preset << ", phrase at " << segment.levelDb << " dB";
        }
        for (const auto& channel : output)
            EXPECT_LE(test::TailPeak(channel, channel.size()), 1.0f);
    }
}

// The meter shows the kernel's amplification once blocks ran, and the value
// it read last while none did (even when the kernel was reset meanwhile).
// Changes between blocks reach the kernel at the next block, the last one
// winning.
TEST_F(IntraClipComponentFixture, MeterReadsTheKernelAfterBlocksAndTheLastChangeCounts)
{
    const test::SpeechLike quiet = test::MakeSpeechLike({-26}, 6.0, 0.1, -62.0, 48000);
    host.Resume();
    EXPECT_FLOAT_EQ(MeterDb(), 0.0f);
    Feed(quiet.samples, 2.5);
    const float boosted = MeterDb();
    EXPECT_NEAR(boosted, 10.0f, 1.0f);
    EXPECT_EQ(MeterDb(), boosted);
    host.Resume(); // the kernel's amplification is back at 0 dB
    EXPECT_EQ(MeterDb(), boosted);
    Feed(quiet.samples, 0.05);
    EXPECT_LT(MeterDb(), boosted - 5.0f);

    leveler->SetParameter(1, 0.0f); // no leveling ...
    leveler->SetParameter(1, 0.5f); // ... then half of it
    EXPECT_EQ(Text(1), "50.00");
    Signal output = quiet.samples;
    for (std::size_t from = 120000; from < 240000; from += 512)
        host.ProcessBlock(quiet.samples, output, from, 512);
    EXPECT_NEAR(MeterDb(), 5.0f, 1.0f);
}

TEST_F(IntraClipComponentFixture, SettingsOfEightOrNineValuesAreAccepted)
{
    const std::vector<float> nine = {0.5f, 0.5f, 1.0f, 0.5f, 1.0f, 0.5f, 1.0f, 0.0f, 0.5f};
    struct Case {
        std::size_t count;
        bool accepted;
        const char* dynamicRange; // afterwards
    };
    for (const Case& c : {Case{7, false, "12.00"}, Case{10, false, "12.00"}, Case{0, false, "12.00"},
                          Case{8, true, "12.00"}, Case{9, true, "20.00"}}) {
        leveler->SetFactoryPreset(0);
        std::vector<float> values(c.count, 0.5f);
        std::copy_n(nine.begin(), std::min(c.count, nine.size()), values.begin());
        host::PresetData preset;
        preset.SetParamList(values);
        EXPECT_EQ(leveler->LoadSettings(preset), c.accepted) << c.count;
        EXPECT_EQ(Text(0), c.accepted ? "-22.00" : "-16.00") << c.count;
        EXPECT_EQ(Text(8), c.dynamicRange) << c.count;
    }
}

// --- Console commands --------------------------------------------------------

std::string Console(const std::string& line, bool expected)
{
    std::ostringstream output;
    EXPECT_EQ(core::console::CommandRegistry::Instance().Execute(line, output), expected) << line;
    return output.str();
}

TEST_F(IntraClipComponentFixture, SetupCommandWritesTheWholeTuningRecord)
{
    Initialize();
    auto& registry = core::console::CommandRegistry::Instance();
    EXPECT_EQ(registry.HelpText("IntraClip.Setup"), "IntraClip.Setup - Sets all adjustable parameter");

    const std::string example =
        "-11 9 30 -9 -41 14 -61 -49 11 400 900 7000 14 2.5 12 900 200 8.9 40 3.7 -150 11 240 -7 4 90 -1.5 13.99";
    EXPECT_EQ(Console("IntraClip.Setup " + example, true), "Parameter changed for next run.\n");
    IntraClipParam p{};
    dsp::intraclip::GetGlobalParam(p);
    EXPECT_EQ(p.RefLevel, -11.0f);
    EXPECT_EQ(p.MaxGain, 9.0f);
    EXPECT_EQ(p.MaxGainDelta, 30.0f);
    EXPECT_EQ(p.PeakSmoothReleaseTime, 7000.0f);
    EXPECT_EQ(p.NoiseGateRatio, 2.5f);
    EXPECT_EQ(p.NumRMSBuckets, 8);
    EXPECT_EQ(p.RMSWindowTime, 40.0f);
    EXPECT_EQ(p.SelBucketIndex, 3);
    EXPECT_EQ(p.DelayCompensationTime, -150.0f);
    EXPECT_EQ(p.FinLimCeil, -1.5f);
    EXPECT_EQ(p.ProcessingBlockActiveBitField, 13);

    // The record reaches a kernel at its next initialization; the latency
    // follows the rate at once.
    host.Resume();
    EXPECT_EQ(leveler->GetInitialDelay(), 7200 + 192);
    leveler->SetSampleRate(96000.0f);
    EXPECT_EQ(leveler->GetInitialDelay(), 14400 + 384);

    for (const std::string& bad : {std::string("IntraClip.Setup ") + example.substr(0, example.rfind(' ')),
                                   "IntraClip.Setup " + example + " 1", "IntraClip.Setup x" + example.substr(3),
                                   "IntraClip.Setup " + example.substr(0, example.rfind(' ')) + " nan",
                                   "IntraClip.Setup  " + example.substr(0, example.rfind(' '))}) {
        const std::string answer = Console(bad, false);
        IntraClipParam after{};
        dsp::intraclip::GetGlobalParam(after);
        EXPECT_EQ(std::memcmp(&after, &p, sizeof p), 0) << bad;
        EXPECT_FALSE(answer.empty()) << bad;
    }
    const std::string usage = Console("IntraClip.Setup", true);
    EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 5);
    EXPECT_TRUE(usage.starts_with("IntraClip.Setup RefLevel MaxGain MaxGainDelta")) << usage;
    EXPECT_NE(usage.find("\nExample: IntraClip.Setup -12 10 35 -10 -40 15 -60 -50 10 500 1000 8000 15 1.5 10 1000 "
                         "250 10 50 2 -200 10 250 -6 5 100 -1.0 15\n"),
              std::string::npos);
    EXPECT_EQ(Console("IntraClip.Setup 1 2 3", false), usage);
    Terminate();
}

TEST_F(IntraClipComponentFixture, DebugCommandSetsTheDisplayMode)
{
    Initialize();
    EXPECT_EQ(core::console::CommandRegistry::Instance().HelpText("IntraClip.Debug"),
              "IntraClip.Debug - Enables displaying of control curve in right stereo channel");
    struct Case { const char* argument; const char* answer; std::int32_t mode; };
    for (const Case& c : {Case{"1", "Show control curve in right channel\n", 1},
                          Case{"6.9", "Show control curve in right channel\n", 6},
                          Case{"0", "Normal processing\n", 0}, Case{"-3", "Normal processing\n", -3}}) {
        EXPECT_EQ(Console(std::string("IntraClip.Debug ") + c.argument, true), c.answer);
        IntraClipParam p{};
        dsp::intraclip::GetGlobalParam(p);
        EXPECT_EQ(p.DebugDisplayMode, c.mode) << c.argument;
    }
    const std::string modes = Console("IntraClip.Debug", true);
    EXPECT_EQ(modes, "0=(Default) Normal Processing 1=(Control curve in right channel) 1=ShowIntraClipGainCurve "
                     "2=ShowFinalizeCompressorGainCurve\n3=ShowFinalizeLimiterGainCurve 4=ShowMaxGainCurve "
                     "5=ShowNoiseGateGainCurve 6=Noisefloor Estimate\n");
    EXPECT_EQ(Console("IntraClip.Debug 1 2", false), modes);
    EXPECT_EQ(Console("IntraClip.Debug one", false), modes);
    Terminate();
}

// Parameter changes and meter reads on a control thread while the audio
// thread processes, as a host does.
TEST(IntraClipThreaded, ControlThreadChangesWhileProcessing)
{
    core::Ref<IntraClipComponent> leveler{new IntraClipComponent};
    test::TestHost host{leveler};
    host.Configure(2, kRate);
    host.Resume();
    std::atomic<bool> done{false};
    std::thread audio([&] {
        const test::SpeechLike speech = test::MakeSpeechLike({-26, -6}, 1.0, 0.2, -62.0, 48000);
        Signal output = speech.samples;
        for (int block = 0; block < 300 || !done.load(); ++block) {
            const std::size_t from = (static_cast<std::size_t>(block) * 256) % (speech.samples[0].size() - 256);
            host.ProcessBlock(speech.samples, output, from, 256);
            for (const auto& channel : output)
                for (std::size_t i = from; i < from + 256; ++i)
                    ASSERT_TRUE(std::isfinite(channel[i]) && std::fabs(channel[i]) <= 1.0f);
        }
    });
    for (int round = 0; round < 2000; ++round) {
        leveler->SetParameter(round % 9, static_cast<float>(round % 7) / 6.0f);
        leveler->GetParameter(7);
        if (round % 500 == 0)
            leveler->SetFactoryPreset(round / 500);
    }
    done = true;
    audio.join();
}

} // namespace
} // namespace zoc::components
