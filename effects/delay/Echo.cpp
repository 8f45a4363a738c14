// Echo: repeats fed back through a band equalizer, with bounce between sides.

#include "effects/delay/Echo.h"

#include <algorithm>

#include "dsp/Denormals.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kEchoComponentID = ComponentGuid(2).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(2);
constexpr const char* kTitleKey = "$$$/AudioComponents/EchoTitle=Echo";

const ComponentRegistration<Echo> kRegistration{"Echo", kTitleKey, 0, kEchoComponentID, kDescriptorGuid,
    "Repeating echoes fed back through an equalizer, bouncing between left and right",
    "Hi-Pass Delay"};

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
/// Written as comparisons rather than fmin/fmax so that it vectorizes; the
/// result is the same for every input, NaN included (it gives -1).
float Clip(float value)
{
    const float floored = value > -1.0f ? value : -1.0f;
    return floored < 1.0f ? floored : 1.0f;
}

/// Longest run of frames rendered together; bounds the stack buffers.
constexpr int kMaxRun = 256;

} // namespace

Echo::Echo()
    : TableComponentBase(kEchoComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets, kTable)
{
}

bool Echo::IsParameterInUse(int index)
{
    const std::size_t channels = ChannelCount();
    if (channels == 2)
        return true;
    switch (index) {
    case kDelayRight:
    case kDecayRight: return false;
    case kInitEchoRight:
    case kEchoBounce: return channels > 2;
    default: return true;
    }
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
    for (dsp::QFILT& equalizer : equalizers_)
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
    for (dsp::QFILT& equalizer : equalizers_)
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
    const int from = 2 * currentEqualizer_;
    const int to = 2 * (1 - currentEqualizer_);
    for (std::size_t first = 0; first < lines_.Channels(); first += 2) {
        dsp::QFILT& equalizer = equalizers_[first / 2];
        equalizer.CopyLane(from, to);
        equalizer.CopyLane(from + 1, to + 1);
    }
}

int Echo::ReadableRun(const Settings& settings) const
{
    const int sides = lines_.Channels() == 2 ? 2 : 1;
    int run = kMaxRun;
    for (int side = 0; side < sides; ++side) {
        const int read = lines_.Behind(writePosition_, settings.delay[static_cast<std::size_t>(side)]);
        run = std::min(run, lines_.Length() - read);
        // Reading behind the writer: the run may not reach what it writes.
        if (read < writePosition_)
            run = std::min(run, writePosition_ - read);
    }
    return run;
}

void Echo::ProcessPair(std::size_t first, float** inputs, float** outputs, int offset, int frames, bool fading)
{
    const std::size_t channels = lines_.Channels();
    const std::size_t count = std::min<std::size_t>(2, channels - first);
    const std::array<const Settings*, 2> sets{&fade_.Current(), &fade_.Incoming()};

    // Where each channel's repeats come from under each set: [set][channel].
    std::array<std::array<const float*, 2>, 2> sources{};
    std::array<std::array<float, 2>, 2> feedback{};
    for (std::size_t set = 0; set < 2; ++set) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto side = static_cast<std::size_t>(SideOf(first + i, channels));
            sources[set][i] = lines_.Channel(first + i) + lines_.Behind(writePosition_, sets[set]->delay[side]);
            feedback[set][i] = sets[set]->feedback[side];
        }
    }

    // Repeats under the current set, then, while fading, crossfaded with
    // those under the incoming set.
    std::array<std::array<float, kMaxRun>, 2> repeats;
    dsp::QFILT& equalizer = equalizers_[first / 2];
    if (equalizer.IsActive()) {
        // Both halves of the equalizer run even when only one is heard: the
        // idle half takes the history of the other before it is heard again.
        const std::array<int, 2> firstLane{2 * currentEqualizer_, 2 * (1 - currentEqualizer_)};
        // Lane by lane: the source and gain of each; a missing second channel
        // repeats the first so that its idle lanes hold ordinary numbers.
        std::array<const float*, dsp::QFILT::kLanes> laneSources{};
        dsp::QFILT::Lanes laneGains{};
        for (std::size_t set = 0; set < 2; ++set) {
            for (std::size_t i = 0; i < 2; ++i) {
                const std::size_t lane = static_cast<std::size_t>(firstLane[set]) + i;
                laneSources[lane] = sources[set][std::min(i, count - 1)];
                laneGains[static_cast<int>(lane)] = feedback[set][std::min(i, count - 1)];
            }
        }
        std::array<dsp::QFILT::Lanes, kMaxRun> lanes;
        for (int k = 0; k < frames; ++k) {
            lanes[static_cast<std::size_t>(k)] =
                dsp::QFILT::Lanes{laneSources[0][k], laneSources[1][k], laneSources[2][k], laneSources[3][k]} *
                laneGains;
        }
        equalizer.Process(lanes.data(), frames);
        for (std::size_t i = 0; i < count; ++i) {
            const int current = firstLane[0] + static_cast<int>(i);
            const int incoming = firstLane[1] + static_cast<int>(i);
            float* repeat = repeats[i].data();
            if (!fading) {
                for (int k = 0; k < frames; ++k)
                    repeat[k] = lanes[static_cast<std::size_t>(k)][current];
            } else {
                for (int k = 0; k < frames; ++k) {
                    const float weight = fade_.IncomingWeight(k);
                    const dsp::QFILT::Lanes& sample = lanes[static_cast<std::size_t>(k)];
                    repeat[k] = (1.0f - weight) * sample[current] + weight * sample[incoming];
                }
            }
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            float* repeat = repeats[i].data();
            const float* source = sources[0][i];
            const float gain = feedback[0][i];
            if (!fading) {
                for (int k = 0; k < frames; ++k)
                    repeat[k] = source[k] * gain;
            } else {
                const float* incomingSource = sources[1][i];
                const float incomingGain = feedback[1][i];
                for (int k = 0; k < frames; ++k) {
                    const float weight = fade_.IncomingWeight(k);
                    repeat[k] = (1.0f - weight) * (source[k] * gain) + weight * (incomingSource[k] * incomingGain);
                }
            }
        }
    }

    // Every read of the run is done, so the lines can take the run. During a
    // fade the line takes the same crossfaded repeat the output does, so what
    // circulates has no splice, and the input at full weight with the
    // incoming level, so new material never dips. With bounce, the first two
    // channels write into each other's lines. The lines are written before
    // the outputs, which may share memory with the inputs.
    const Settings& entering = fade_.Incoming();
    const bool swap = first == 0 && bounce_ && channels >= 2;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = swap ? 1 - i : i;
        const std::size_t source = first + from;
        const int levelSide = source == 1 && (channels == 2 || bounce_) ? 1 : 0;
        const float level = entering.level[static_cast<std::size_t>(levelSide)];
        const float* input = inputs[source] + offset;
        const float* repeat = repeats[from].data();
        float* line = lines_.Channel(first + i) + writePosition_;
        for (int k = 0; k < frames; ++k)
            line[k] = Clip(input[k] * level + repeat[k]);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const float* input = inputs[first + i] + offset;
        float* output = outputs[first + i] + offset;
        const float* repeat = repeats[i].data();
        for (int k = 0; k < frames; ++k)
            output[k] = input[k] + repeat[k];
    }
}

void Echo::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    RunDeferredWork();

    // Runs of frames that share their settings, end no later than a fade,
    // and read only what was written before them: within a run, each pair of
    // channels reads all its repeats, then writes its lines and outputs.
    const int length = lines_.Length();
    for (int done = 0; done < frames;) {
        const bool fading = fade_.Fading();
        int run = std::min({frames - done, length - writePosition_, ReadableRun(fade_.Current())});
        if (fading)
            run = std::min({run, fade_.Remaining(), ReadableRun(fade_.Incoming())});
        for (std::size_t first = 0; first < lines_.Channels(); first += 2)
            ProcessPair(first, inputs, outputs, done, run, fading);
        if (fade_.Advance(run)) {
            currentEqualizer_ = 1 - currentEqualizer_;
            if (fade_.Fading())
                StartEqualizerFade();
        }
        writePosition_ += run;
        if (writePosition_ == length)
            writePosition_ = 0;
        done += run;
    }
}

} // namespace zoc::components
