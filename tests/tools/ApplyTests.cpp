// zoc apply: gains, presets, timed changes, latency alignment, formats and
// channel counts, checked on the files it writes.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "contracts/host/AudioFilter.h"
#include "framework/Registration.h"
#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

// A component that delays its input by kLatency frames and says so, so the
// latency compensation has something to compensate.
class DelayProbe : public host::AudioFilter {
public:
    static constexpr int kLatency = 100;
    DelayProbe() : host::AudioFilter(ID(), u"Delay Probe") {}
    static std::string ID() { return core::Guid{0x7E570001, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}.AsString(); }
    int GetInitialDelay() override { return kLatency; }
    void Resume() override
    {
        host::AudioFilter::Resume();
        history_.assign(GetNumberOfInputChannels(), std::vector<float>(kLatency, 0.0f));
        position_ = 0;
    }
    void Process(float** inputs, float** outputs, int frames) override
    {
        for (int i = 0; i < frames; ++i) {
            for (std::size_t channel = 0; channel < history_.size(); ++channel) {
                outputs[channel][i] = history_[channel][position_];
                history_[channel][position_] = inputs[channel][i];
            }
            position_ = (position_ + 1) % kLatency;
        }
    }

private:
    std::vector<std::vector<float>> history_;
    std::size_t position_ = 0;
};

const ComponentRegistration<DelayProbe> kDelayProbe{"DelayProbe", "$$$/Test/DelayProbe=Delay Probe", 0,
                                                    DelayProbe::ID(), core::Guid{0x7E570001, 1, 2, {}}};

constexpr int kRate = 48000;

class ApplyTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
};

TEST_F(ApplyTest, SixDecibelPresetScalesEverySampleAndPassesNonFiniteOnes)
{
    Frames input = DistinctSines(2, 5000, kRate, 0.4f);
    input[0][10] = std::numeric_limits<float>::quiet_NaN();
    input[1][20] = std::numeric_limits<float>::infinity();
    input[0][30] = -std::numeric_limits<float>::infinity();
    WriteAudio(in, input, kRate);
    const ZocResult result = RunZoc({"apply", "amplify", "--preset", "+6dB Boost", in, out});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.err.empty());
    const AudioData output = ReadAudio(out);
    EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(output.Length(), input[0].size());
    EXPECT_TRUE(std::isnan(output.samples[0][10]));
    EXPECT_TRUE(std::isinf(output.samples[1][20]));
    const double gain = std::pow(10.0, 5.99995 / 20.0);
    for (std::size_t channel = 0; channel < 2; ++channel) {
        for (std::size_t frame = 0; frame < input[0].size(); ++frame) {
            const double expected = input[channel][frame] * gain;
            if (std::isfinite(expected)) {
                ASSERT_NEAR(output.samples[channel][frame], expected, 1e-6 * std::fabs(expected) + 1e-12)
                    << "channel " << channel << " frame " << frame;
            }
        }
    }
    // An encoder that cannot hold them gets the rest all the same.
    const AudioData flac = RunZocAndRead({"apply", "Amplify", "--preset", "+6dB Boost", in, dir / "out.flac"},
                                         dir / "out.flac");
    ASSERT_EQ(flac.Length(), input[0].size());
    EXPECT_NEAR(flac.samples[1][1000], input[1][1000] * gain, 1e-4);
}

TEST_F(ApplyTest, DynamicsDefaultLeavesAFullScaleSquareAlone)
{
    // The default curve is the identity, also above 0 dBFS, where a full-scale
    // square's RMS level (+1.2 dB) lies.
    Frames square(2, std::vector<float>(24000));
    for (std::size_t frame = 0; frame < square[0].size(); ++frame)
        square[0][frame] = square[1][frame] = (frame / 120) % 2 == 0 ? 1.0f : -1.0f;
    WriteAudio(in, square, kRate);
    const AudioData output = RunZocAndRead({"apply", "Dynamics", "--preset", "(Default)", in, out}, out);
    ASSERT_EQ(output.Length(), square[0].size());
    for (std::size_t channel = 0; channel < 2; ++channel)
        for (std::size_t frame = 0; frame < square[0].size(); ++frame)
            ASSERT_NEAR(output.samples[channel][frame], square[channel][frame], 1e-5) << frame;
}

TEST_F(ApplyTest, SetAddressesChannelsByNameOrIndexInOrder)
{
    WriteAudio(in, Frames(2, std::vector<float>(1000, 0.5f)), kRate);
    // Index 3 is "Right"; the later --set of Left wins over the preset.
    const AudioData output = RunZocAndRead({"apply", "Amplify", "--preset", "-10dB Cut", "--set", "LEFT=-6", "--set",
                                            "3=6", "--set-normalized", "left=0.6875", in, out},
                                           out);
    EXPECT_NEAR(output.samples[0][500], 0.5 * std::pow(10.0, 3.0 / 20.0), 1e-5);
    EXPECT_NEAR(output.samples[1][500], 0.5 * std::pow(10.0, 6.0 / 20.0), 1e-5);
}

TEST_F(ApplyTest, TimedChangeRampsLinearlyFromItsExactFrame)
{
    WriteAudio(in, Frames(1, std::vector<float>(kRate, 1.0f)), kRate);
    const AudioData output = RunZocAndRead({"apply", "Amplify", "--at", "0.5:Gain=-6", "--block", "512", in, out}, out);
    const std::vector<float>& y = output.samples[0];
    const std::size_t start = kRate / 2;
    const double target = std::pow(10.0, -6.0 / 20.0);
    constexpr std::size_t kRamp = 480;
    for (std::size_t i = 0; i < start; ++i)
        ASSERT_EQ(y[i], 1.0f) << "frame " << i;
    for (std::size_t k = 0; k < kRamp; ++k)
        ASSERT_NEAR(y[start + k], 1.0 + (target - 1.0) * static_cast<double>(k) / kRamp, 2e-5) << "ramp step " << k;
    for (std::size_t i = start + kRamp; i < y.size(); ++i)
        ASSERT_NEAR(y[i], target, 1e-6) << "frame " << i;
}

TEST_F(ApplyTest, LatencyIsCompensatedUnlessRaw)
{
    // More than two 64k-frame chunks, with a block size that divides nothing.
    const Frames input = DistinctSines(2, 150001, kRate);
    WriteAudio(in, input, kRate);
    EXPECT_TRUE(RunZocAndRead({"apply", "DelayProbe", "--block", "333", in, out}, out).samples == input);

    const std::string raw = dir / "raw.wav";
    const AudioData delayed = RunZocAndRead({"apply", "delayprobe", "--raw", in, raw}, raw);
    ASSERT_EQ(delayed.Length(), input[0].size());
    for (std::size_t frame = 0; frame < delayed.Length(); ++frame) {
        const float expected = frame < DelayProbe::kLatency ? 0.0f : input[1][frame - DelayProbe::kLatency];
        ASSERT_EQ(delayed.samples[1][frame], expected) << "frame " << frame;
    }
}

TEST_F(ApplyTest, TailAddsOutputAfterTheCompensatedInput)
{
    const Frames input = DistinctSines(1, 2000, kRate);
    WriteAudio(in, input, kRate);
    const std::string report = dir / "report.json";
    const AudioData output =
        RunZocAndRead({"apply", "Delay Probe", "--tail", "0.25", "--report", report, in, out}, out);
    ASSERT_EQ(output.Length(), input[0].size() + kRate / 4);
    for (std::size_t frame = 0; frame < output.Length(); ++frame)
        ASSERT_EQ(output.samples[0][frame], frame < 2000 ? input[0][frame] : 0.0f) << "frame " << frame;

    const nlohmann::json json = nlohmann::json::parse(FileContents(report));
    EXPECT_EQ(json["latency"], DelayProbe::kLatency);
    EXPECT_EQ(json["frames_in"], 2000);
    EXPECT_EQ(json["frames_out"], 2000 + kRate / 4);
    EXPECT_EQ(json["sample_rate"], kRate);
    EXPECT_EQ(json["channels"], 1);
    EXPECT_GT(json["seconds"].get<double>(), 0.0);
    EXPECT_GT(json["realtime_factor"].get<double>(), 0.0);

    // With Amplify (no latency) --raw and aligned output have the input's length.
    EXPECT_EQ(RunZocAndRead({"apply", "Amplify", "--raw", in, out}, out).Length(), 2000u);
}

TEST_F(ApplyTest, OutputFormatFollowsExtensionAndBits)
{
    WriteAudio(in, DistinctSines(2, 4800, kRate), kRate);
    struct Case {
        std::string name;
        std::vector<std::string> options;
        int format;
    };
    const std::vector<Case> cases = {
        {"a.wav", {"--bits", "16"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"b.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"c.flac", {"--bits", "16"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"d.aiff", {"--bits", "24"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"e.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    for (const Case& c : cases) {
        const ZocResult result = RunZoc(Words({{"apply", "Amplify"}, c.options, {in, dir / c.name}}));
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.err;
        const AudioData output = ReadAudio(dir / c.name);
        EXPECT_EQ(output.format, c.format) << c.name;
        EXPECT_EQ(output.samples.size(), 2u) << c.name;
        EXPECT_EQ(output.sampleRate, kRate) << c.name;
    }
}

} // namespace
} // namespace zoc::test
