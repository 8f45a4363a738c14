// Echo: repeats fed back through a band equalizer, with bounce between sides.

#include "effects/delay/Echo.h"

#include <algorithm>
#include <cmath>

#include "dsp/Denormals.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kEchoComponentID = ComponentGuid(2).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(2);
constexpr const char* kTitleKey = "$$$/AudioComponents/EchoTitle=Echo";

const ComponentRegistration<Echo> kRegistration{"Echo", kTitleKey, 0, kEchoComponentID, kDescriptorGuid};

/// Each line holds two seconds plus 200 frames: the longest delay, with room
/// so that a delay of 0 ms reads the oldest frame instead of the newest.
constexpr double kLineSeconds = 2.0;
constexpr int kLineExtraFrames = 200;
/// 0.1 s crossfade so a new delay time or feedback does not click.
constexpr double kFadeSeconds = 0.1;

using enum host::AudioFilterParameterInfoUnit;
using enum ParameterKind;

constexpr ParameterRow EqRow(const char* key, float defaultDecibels)
{
    return {key, key, "dB", kUnitDecibels, -15.0f, 15.0f, defaultDecibels, true, true, kNumber};
}

// Stereo key, single-set key, unit label, unit, range, default, automatable in
// each naming, kind. In single-set naming the right-side values are hidden.
// The default channel count is replaced at construction.
constexpr std::array<ParameterRow, Echo::kParameterCount> kRows{{
    {"DelayLeft=Delay Time (Left Channel)", "Delay=Delay Time", "ms", kUnitTime, 0.0f, 2000.0f, 348.8f, true,
     true, kNumber},
    {"DelayRight=Delay Time (Right Channel)", "DelayRight=Delay Time (Right Channel)", "ms", kUnitTime, 0.0f,
     2000.0f, 232.6f, true, false, kNumber},
    {"DecayLeft=Feedback (Left Channel)", "Feedback=Feedback", "%", kUnitProportion, 0.1f, 100.0f, 64.0f, true,
     true, kNumber},
    {"DecayRight=Feedback (Right Channel)", "DecayRight=Feedback (Right Channel)", "%", kUnitProportion, 0.1f,
     100.0f, 64.0f, true, false, kNumber},
    {"InitEchoLeft=Echo Level (Left Channel)", "InitEcho=Echo Level", "%", kUnitProportion, 0.1f, 100.0f, 85.0f,
     true, true, kNumber},
    {"InitEchoRight=Echo Level (Right Channel)", "InitEchoRight=Echo Level (Right Channel)", "%",
     kUnitProportion, 0.1f, 100.0f, 85.0f, true, false, kNumber},
    EqRow("EQGain1=EQ Band 1", -9.8f),
    EqRow("EQGain2=EQ Band 2", -9.9f),
    EqRow("EQGain3=EQ Band 3", -9.6f),
    EqRow("EQGain4=EQ Band 4", -9.5f),
    EqRow("EQGain5=EQ Band 5", -2.4f),
    EqRow("EQGain6=EQ Band 6", -7.0f),
    EqRow("EQGain7=EQ Band 7", -1.1f),
    EqRow("EQGain8=EQ Band 8", 0.0f),
    {"LockLR=Lock Left & Right Channels", "LockLR=Lock Left & Right Channels", "", kUnitSwitch, 0.0f, 1.0f, 0.0f,
     true, false, kSwitch},
    {"EchoBounce=Echo Bounce", "EchoBounce=Echo Bounce", "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true, true, kSwitch},
    {"TimeUnit=Delay Time Units", "TimeUnit=Delay Time Units", "", kUnitNumber, 0.0f, 2.0f, 0.0f, false, false,
     kChoice},
    {"NumChannels=Number of Channels", "NumChannels=Number of Channels", "", kUnitNumber, 1.0f, 2.0f, 2.0f,
     false, false, kChannelCount},
}};

constexpr ParameterTable kTable{"$$$/Effects/Echo/", "$$$/Effects/Echo/OnChannelsChanged/", kRows};

using EqDecibels = std::array<float, dsp::QFILT::kBands>;

/// One preset in real values: delays in ms, feedback and echo level in % for
/// both sides, the bands from lowest to highest in dB.
constexpr PresetRow<Echo::kParameterCount> Preset(const char* key, float delayLeft, float delayRight,
                                                  float feedback, float level, EqDecibels bands, bool lock,
                                                  bool bounce)
{
    PresetRow<Echo::kParameterCount> row{key, {}};
    row.values[Echo::kDelayLeft] = Fraction(kRows[Echo::kDelayLeft], delayLeft);
    row.values[Echo::kDelayRight] = Fraction(kRows[Echo::kDelayRight], delayRight);
    row.values[Echo::kDecayLeft] = row.values[Echo::kDecayRight] = Fraction(kRows[Echo::kDecayLeft], feedback);
    row.values[Echo::kInitEchoLeft] = row.values[Echo::kInitEchoRight] = Fraction(kRows[Echo::kInitEchoLeft], level);
    for (std::size_t band = 0; band < bands.size(); ++band)
        row.values[Echo::kEQGain1 + band] = Fraction(kRows[Echo::kEQGain1 + band], bands[band]);
    row.values[Echo::kLockLR] = lock ? kPresetSwitchOn : kPresetSwitchOff;
    row.values[Echo::kEchoBounce] = bounce ? kPresetSwitchOn : kPresetSwitchOff;
    row.values[Echo::kTimeUnit] = 0.0f;
    row.values[Echo::kNumChannels] = kPresetTwoChannels;
    return row;
}

constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, 348.8f, 232.6f, 64.0f, 85.0f,
           {-9.8f, -9.9f, -9.6f, -9.5f, -2.4f, -7.0f, -1.1f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/AnalogDelay=Analog Delay", 800.0f, 800.0f, 50.05f, 85.02f,
           {-9.8f, -9.9f, -4.1f, 4.5f, 2.0f, 1.0f, 0.5f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/Danger=Danger - Sci Fi Cliche Approaching", 2000.0f, 200.0f, 75.03f,
           100.0f, {-9.8f, 0.0f, 1.0f, -9.5f, 1.0f, -2.0f, 1.0f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/DelicateWhispers=Delicate Whispers", 1800.0f, 277.0f, 60.04f, 75.03f,
           {-15.0f, -15.0f, -15.0f, -15.0f, -15.0f, 1.0f, 1.5f, 2.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/EchoWeightedLeft=Echo Weighted Left", 200.0f, 100.0f, 40.06f, 75.03f,
           {-4.4f, -4.7f, -4.1f, -1.6f, 6.9f, -2.4f, -5.5f, -9.1f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/EchoWeightedRight=Echo Weighted Right", 100.0f, 200.0f, 40.06f,
           75.03f, {-4.5f, -4.7f, -4.1f, -1.6f, 6.9f, -2.4f, -5.5f, -9.1f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/FormantDelay=Formant Delay", 1000.0f, 1000.0f, 70.03f, 85.02f,
           {-9.8f, -9.9f, -6.7f, -4.0f, -2.4f, -1.0f, -1.2f, -4.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/HiPassDelay=Hi-Pass Delay", 400.0f, 800.0f, 50.05f, 85.02f,
           {-15.0f, -15.0f, -15.0f, -15.0f, 1.0f, 2.0f, 3.0f, 4.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/InfiniteLoop=Infinite Loop", 600.0f, 600.0f, 80.02f, 75.03f,
           {9.8f, 9.8f, 9.6f, 0.5f, -2.4f, 0.5f, -1.1f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/LowPassDelay=Low-Pass Delay", 348.8f, 232.6f, 64.08f, 85.02f,
           {-5.0f, -3.0f, -2.0f, 1.0f, -2.4f, -7.0f, -3.0f, -3.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/Spooky=Spooky", 200.0f, 200.0f, 70.03f, 100.0f,
           {-9.8f, -9.9f, -9.6f, 1.0f, -2.2f, -4.7f, -9.5f, -15.0f}, false, true),
    Preset("$$$/AudioComponents/EchoPresets/SpringyTelephone=Springy Telephone", 160.0f, 160.0f, 64.08f, 85.02f,
           {-9.8f, -9.9f, -9.6f, -9.5f, 4.0f, -7.0f, -1.1f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/StereoVocals=Stereo Vocals", 250.0f, 200.0f, 64.08f, 30.07f,
           {-9.8f, -9.9f, -9.6f, 0.0f, 2.0f, 0.0f, -1.1f, 0.0f}, false, false),
    Preset("$$$/AudioComponents/EchoPresets/SynthesizingSMPTE=Synthesizing SMPTE", 80.0f, 80.0f, 45.05f, 75.03f,
           {-4.5f, -4.7f, -4.1f, -1.6f, 6.9f, -2.4f, -5.5f, -9.1f}, false, true),
};

int LineLength(float sampleRate) { return kLineExtraFrames + static_cast<int>(kLineSeconds * sampleRate); }
int FadeLength(float sampleRate) { return static_cast<int>(static_cast<double>(sampleRate) * kFadeSeconds); }

/// Left settings for channel 0 and right for channel 1 in stereo; left for
/// every channel of any other layout.
int SideOf(std::size_t channel, std::size_t channels) { return channels == 2 ? static_cast<int>(channel) : 0; }

/// What enters a line stays within -1..1, so a loop gain above unity (full
/// feedback with boosted bands) saturates instead of growing without bound.
float Clip(float value) { return std::fmin(1.0f, std::fmax(-1.0f, value)); }

} // namespace

Echo::Echo()
    : TableComponentBase(kEchoComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets, kTable)
{
}

void Echo::OnValueStored(std::size_t index, float value)
{
    if (values_[kLockLR] == 0.0f)
        return;
    if (index == kLockLR) {
        // Locking makes the right side follow the left.
        for (std::size_t left : {kDelayLeft, kDecayLeft, kInitEchoLeft})
            values_.Store(left + 1, values_[left]);
    } else if (index <= kInitEchoRight) {
        values_.Store(index ^ 1u, value); // 0<->1, 2<->3, 4<->5
    }
}

void Echo::Reset()
{
    lines_.Allocate(ChannelCount(), LineLength(GetSampleRate()));
    for (auto& pair : equalizers_)
        for (dsp::QFILT& equalizer : pair)
            equalizer.Clear();
    currentEqualizer_ = 0;
    writePosition_ = 0;
    fade_.Reset(SettingsFromParameters(), FadeLength(GetSampleRate()));
}

void Echo::Update()
{
    if (fade_.Change(SettingsFromParameters()))
        StartEqualizerFade();

    EqDecibels decibels;
    for (std::size_t band = 0; band < decibels.size(); ++band)
        decibels[band] = values_[kEQGain1 + band];
    const dsp::QFILT::Gains gains = dsp::QFILT::Gains::FromDecibels(decibels);
    for (auto& pair : equalizers_)
        for (dsp::QFILT& equalizer : pair)
            equalizer.SetGains(gains);
    bounce_ = values_[kEchoBounce] != 0.0f;
}

Echo::Settings Echo::SettingsFromParameters() const
{
    Settings settings;
    const double rate = GetSampleRate();
    for (std::size_t side = 0; side < 2; ++side) {
        settings.delay[side] = static_cast<int>(values_[kDelayLeft + side] / 1000.0 * rate);
        settings.feedback[side] = values_[kDecayLeft + side] / 100.0f;
        settings.level[side] = values_[kInitEchoLeft + side] / 100.0f;
    }
    return settings;
}

void Echo::StartEqualizerFade()
{
    // The incoming repeats start from the history of the current ones, which
    // is close to theirs when the delay moves a little, and faded in from
    // nothing either way.
    for (std::size_t channel = 0; channel < lines_.Channels(); ++channel)
        equalizers_[channel][1 - currentEqualizer_] = equalizers_[channel][currentEqualizer_];
}

float Echo::EchoOf(std::size_t channel, const Settings& settings, int side, dsp::QFILT& equalizer) const
{
    const float* line = lines_.Channel(channel);
    return equalizer.Process(line[lines_.Behind(writePosition_, settings.delay[side])] * settings.feedback[side]);
}

void Echo::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    RunDeferredWork();

    const std::size_t channels = lines_.Channels();
    // With bounce, the first two channels write into each other's lines.
    const bool swapFirstTwo = bounce_ && channels >= 2;
    std::array<float, kMaxChannels> input;
    std::array<float, kMaxChannels> echo;
    for (int frame = 0; frame < frames; ++frame) {
        const bool fading = fade_.Fading();
        const float incomingWeight = fading ? fade_.IncomingWeight() : 0.0f;
        // Every line is read before any is written: with bounce a channel
        // writes into a line another channel still has to read.
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const int side = SideOf(channel, channels);
            auto& pair = equalizers_[channel];
            float repeat = EchoOf(channel, fade_.Current(), side, pair[currentEqualizer_]);
            if (fading)
                repeat = (1.0f - incomingWeight) * repeat +
                         incomingWeight * EchoOf(channel, fade_.Incoming(), side, pair[1 - currentEqualizer_]);
            input[channel] = inputs[channel][frame];
            echo[channel] = repeat;
            outputs[channel][frame] = input[channel] + repeat;
        }
        // During a fade the line takes the same crossfaded repeat the output
        // does, so what circulates has no splice, and the input at full weight
        // with the incoming level, so new material never dips.
        const Settings& entering = fade_.Incoming();
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const std::size_t source = swapFirstTwo && channel < 2 ? 1 - channel : channel;
            const int levelSide = source == 1 && (channels == 2 || bounce_) ? 1 : 0;
            lines_.Channel(channel)[writePosition_] = Clip(input[source] * entering.level[levelSide] + echo[source]);
        }
        if (fade_.Advance()) {
            currentEqualizer_ = 1 - currentEqualizer_;
            if (fade_.Fading())
                StartEqualizerFade();
        }
        writePosition_ = lines_.Next(writePosition_);
    }
}

} // namespace zoc::components
