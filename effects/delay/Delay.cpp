// Delay: one delayed copy per channel, mixed with the signal, early or late.

#include "effects/delay/Delay.h"

#include <algorithm>

#include "dsp/Denormals.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kDelayComponentID = ComponentGuid(3).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(3);
constexpr const char* kTitleKey = "$$$/AudioComponents/DelayTitle=Delay";

const ComponentRegistration<Delay> kRegistration{"Delay", kTitleKey, 0, kDelayComponentID, kDescriptorGuid,
    "One delayed copy per channel, mixed with the signal; the copy may also come early",
    "Rockabilly"};

/// Each line holds one second plus 200 frames; the dry signal is read half a
/// line behind the writer, so copies up to half a second early or late fit.
constexpr double kLineSeconds = 1.0;
constexpr int kLineExtraFrames = 200;
/// 0.1 s crossfade so a new delay or mix does not click.
constexpr double kFadeSeconds = 0.1;

using enum host::AudioFilterParameterInfoUnit;
using enum ParameterKind;

// Stereo key, single-set key, unit label, unit, range, default, automatable in
// each naming, kind. The default channel count is replaced at construction.
constexpr std::array<ParameterRow, Delay::kParameterCount> kRows{{
    {"LeftDelayTime=Left Channel Delay Time", "Delay=Delay Time", "ms", kUnitTime, -500.0f, 500.0f, 120.0f,
     true, true, kNumber},
    {"LeftInvert=Invert Left Channel", "Invert=Invert All Channels", "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true,
     true, kSwitch},
    {"LeftMix=Left Channel Mix", "Mix=Mix", "%", kUnitProportion, 0.0f, 100.0f, 75.0f, true, true, kNumber},
    {"RightDelayTime=Right Channel Delay Time", "RightDelayTime=Right Channel Delay Time", "ms", kUnitTime,
     -500.0f, 500.0f, 180.0f, true, false, kNumber},
    {"RightInvert=Invert Right Channel", "RightInvert=Invert Right Channel", "", kUnitSwitch, 0.0f, 1.0f, 0.0f,
     true, false, kSwitch},
    {"RightMix=Right Channel Mix", "RightMix=Right Channel Mix", "%", kUnitProportion, 0.0f, 100.0f, 65.0f,
     true, false, kNumber},
    {"TimeUnit=Delay Time Units", "TimeUnit=Delay Time Units", "", kUnitNumber, 0.0f, 2.0f, 0.0f, false, false,
     kChoice},
    {"NumChannels=Number of Channels", "NumChannels=Number of Channels", "", kUnitNumber, 1.0f, 2.0f, 2.0f,
     false, false, kChannelCount},
}};

constexpr ParameterTable kTable{"$$$/Effects/Delay/", "$$$/Effects/Delay/OnChannelsChanged/", kRows};

/// One preset in real values: each side's delay in ms, invert switch and mix in %.
constexpr PresetRow<Delay::kParameterCount> Preset(const char* key, float leftMs, bool leftInvert, float leftMix,
                                                   float rightMs, bool rightInvert, float rightMix)
{
    return {key,
            {Fraction(kRows[Delay::kLeftDelayTime], leftMs), leftInvert ? kPresetSwitchOn : kPresetSwitchOff,
             Fraction(kRows[Delay::kLeftMix], leftMix), Fraction(kRows[Delay::kRightDelayTime], rightMs),
             rightInvert ? kPresetSwitchOn : kPresetSwitchOff, Fraction(kRows[Delay::kRightMix], rightMix), 0.0f,
             kPresetTwoChannels}};
}

constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, 120.0f, false, 75.0f, 180.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/100msDelayOnLeft=100ms Delay on Left",
           100.0f, false, 50.0f, 0.0f, false, 50.0f),
    Preset("$$$/AudioComponents/DelayPresets/Bounce=Bounce",
           120.0f, false, 75.0f, 180.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/DuelingDrunkDrummers=Dueling Drunk Drummers",
           -482.0f, true, 43.0f, 284.0f, false, 57.0f),
    Preset("$$$/AudioComponents/DelayPresets/MonoRepeater=Mono Repeater",
           120.0f, false, 65.0f, 0.0f, false, 100.0f),
    Preset("$$$/AudioComponents/DelayPresets/OutOfTime=Out of Time",
           -500.0f, false, 75.0f, 333.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/RichDouble=Rich Double",
           60.0f, false, 75.0f, 65.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/Rockabilly=Rockabilly",
           150.0f, false, 50.0f, 150.0f, false, 50.0f),
    Preset("$$$/AudioComponents/DelayPresets/RoomAmbience=Room Ambience",
           110.0f, false, 24.0f, 126.7f, false, 23.0f),
    Preset("$$$/AudioComponents/DelayPresets/SlapBack=Slap Back",
           120.0f, false, 75.0f, 180.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/SpatialEcho=Spatial Echo",
           -200.0f, false, 60.0f, 200.0f, false, 60.0f),
    Preset("$$$/AudioComponents/DelayPresets/Stutter=Stutter",
           75.0f, false, 75.0f, 75.0f, false, 65.0f),
    Preset("$$$/AudioComponents/DelayPresets/TapeSlap=Tape Slap",
           -200.0f, false, 80.0f, 200.0f, false, 80.0f),
    Preset("$$$/AudioComponents/DelayPresets/WideMaxDelay=Wide Max Delay",
           -500.0f, true, 50.0f, 500.0f, false, 50.0f),
};

int LineLength(float sampleRate) { return kLineExtraFrames + static_cast<int>(kLineSeconds * sampleRate); }
int FadeLength(float sampleRate) { return static_cast<int>(static_cast<double>(sampleRate) * kFadeSeconds); }

/// Left settings for channel 0 and right for channel 1 in stereo; left for
/// every channel of any other layout.
int SideOf(std::size_t channel, std::size_t channels) { return channels == 2 ? static_cast<int>(channel) : 0; }

} // namespace

Delay::Delay()
    : TableComponentBase(kDelayComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets, kTable)
{
}

// Half of the lines in use; before the first reset, half of the lines the
// current rate will give.
int Delay::GetInitialDelay()
{
    return lines_.Empty() ? LineLength(GetSampleRate()) / 2 : lines_.Length() / 2;
}

void Delay::Reset()
{
    const int length = LineLength(GetSampleRate());
    lines_.Allocate(ChannelCount(), length);
    readPosition_ = 0;
    writePosition_ = length / 2;
    fade_.Reset(SettingsFromParameters(), FadeLength(GetSampleRate()));
}

void Delay::Update() { fade_.Change(SettingsFromParameters()); }

Delay::runtimeParameters Delay::SettingsFromParameters() const
{
    runtimeParameters settings;
    const double rate = GetSampleRate();
    for (int side = 0; side < 2; ++side) {
        const std::size_t first = side == 0 ? kLeftDelayTime : kRightDelayTime;
        const double milliseconds = values_[first];
        const float mix = values_[first + 2] / 100.0f;
        // Rounded to the nearest frame by adding half a frame and truncating.
        settings.delay[side] = static_cast<int>(milliseconds / 1000.0 * rate + 0.5);
        settings.dry[side] = 1.0f - mix;
        settings.wet[side] = values_[first + 1] != 0.0f ? -mix : mix;
    }
    return settings;
}

int Delay::ReadableRun(const runtimeParameters& settings) const
{
    const int length = lines_.Length();
    const int sides = lines_.Channels() == 2 ? 2 : 1;
    int run = length - readPosition_;
    for (int side = 0; side < sides; ++side) {
        const int read = lines_.Behind(readPosition_, settings.delay[static_cast<std::size_t>(side)]);
        run = std::min(run, length - read);
        // A run writes all its frames before reading any: a tap ahead of the
        // writer would otherwise see frames written after the frame it serves.
        if (read > writePosition_)
            run = std::min(run, read - writePosition_);
    }
    if (readPosition_ > writePosition_)
        run = std::min(run, readPosition_ - writePosition_);
    return run;
}

void Delay::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    RunDeferredWork();

    // Runs of frames that wrap around nowhere and end no later than a fade:
    // each channel's input goes into its line, then every output frame is
    // the dry tap and the wet tap, with plain loops over both.
    const std::size_t channels = lines_.Channels();
    const int length = lines_.Length();
    for (int done = 0; done < frames;) {
        const bool fading = fade_.Fading();
        int run = std::min({frames - done, length - writePosition_, ReadableRun(fade_.Current())});
        if (fading)
            run = std::min({run, fade_.Remaining(), ReadableRun(fade_.Incoming())});
        const runtimeParameters& current = fade_.Current();
        const runtimeParameters& incoming = fade_.Incoming();
        for (std::size_t channel = 0; channel < channels; ++channel) {
            float* line = lines_.Channel(channel);
            std::copy_n(inputs[channel] + done, run, line + writePosition_);
            const auto side = static_cast<std::size_t>(SideOf(channel, channels));
            const float* dry = line + readPosition_;
            const float* wet = line + lines_.Behind(readPosition_, current.delay[side]);
            const float dryGain = current.dry[side];
            const float wetGain = current.wet[side];
            float* output = outputs[channel] + done;
            if (!fading) {
                for (int k = 0; k < run; ++k)
                    output[k] = dry[k] * dryGain + wet[k] * wetGain;
            } else {
                const float* incomingWet = line + lines_.Behind(readPosition_, incoming.delay[side]);
                const float incomingDryGain = incoming.dry[side];
                const float incomingWetGain = incoming.wet[side];
                for (int k = 0; k < run; ++k) {
                    const float weight = fade_.IncomingWeight(k);
                    const float out = dry[k] * dryGain + wet[k] * wetGain;
                    const float in = dry[k] * incomingDryGain + incomingWet[k] * incomingWetGain;
                    output[k] = (1.0f - weight) * out + weight * in;
                }
            }
        }
        fade_.Advance(run);
        readPosition_ += run;
        if (readPosition_ == length)
            readPosition_ = 0;
        writePosition_ += run;
        if (writePosition_ == length)
            writePosition_ = 0;
        done += run;
    }
}

} // namespace zoc::components
