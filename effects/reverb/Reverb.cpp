// Reverb: synthesised impulse, cached in ten slots, convolved on the engine.

#include "effects/reverb/Reverb.h"

#include "effects/reverb/ReverbCache.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "dsp/Denormals.h"
#include "dsp/TargetClones.h"
#include "framework/ImpulseCache.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/core/Files.h"
#include "platform/core/Localizer.h"
#include "platform/core/Random.h"

namespace zoc::components {

const std::string kReverbComponentID =
    core::Guid{0x3E287BD8, 0x6F31, 0x4292, {0xB1, 0x2A, 0x15, 0x00, 0xA2, 0xAE, 0xEE, 0xEE}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0x3C31F787, 0xB602, 0x418C, {0x9A, 0x5E, 0x19, 0xFF, 0xDC, 0xD6, 0x10, 0x83}};
constexpr const char* kTitleKey = "$$$/AudioComponents/ReverbTitle=Reverb";

const ComponentRegistration<Reverb> kRegistration{"Reverb", kTitleKey, 0, kReverbComponentID, kDescriptorGuid,
    "Places the sound in a room by convolution with a synthesised impulse response",
    "Big Drum Room"};

using enum host::AudioFilterParameterInfoUnit;

struct ParameterRow {
    const char* key;
    const char* unitLabel;
    host::AudioFilterParameterInfoUnit unit;
    float minimum;
    float maximum;
    float defaultValue;
    bool automatable;
};

constexpr std::array<ParameterRow, Reverb::kParameterCount> kParameters{{
    {"$$$/Effects/Reverb/ReverbTime=Decay Time", "ms", kUnitTime, 20.0f, 6000.0f, 700.0f, true},
    {"$$$/Effects/Reverb/AttackTime=Pre-Delay Time", "ms", kUnitTime, 0.0f, 200.0f, 10.0f, true},
    {"$$$/Effects/Reverb/Perception=Perception", "", kUnitNumber, 0.0f, 200.0f, 20.0f, true},
    {"$$$/Effects/Reverb/OriginalMix=Dry Output Level", "%", kUnitProportion, 0.0f, 200.0f, 100.0f, true},
    {"$$$/Effects/Reverb/ReverbMix=Wet Output Level", "%", kUnitProportion, 0.0f, 500.0f, 35.0f, true},
    {"$$$/Effects/Reverb/DissipateTime=Diffusion", "ms", kUnitTime, 10.0f, 4000.0f, 1812.0f, true},
    {"$$$/Effects/Reverb/CombineChannels=Sum Inputs", "", kUnitSwitch, -0.5f, 1.49f, 1.0f, true},
    {"$$$/Effects/Reverb/CalculatingImpulse=Calculating Impulse", "%", kUnitProportion, 0.0f, 100.0f, 100.0f,
     false},
    {"$$$/Effects/Reverb/IsProcessing=Is Processing", "", kUnitSwitch, -0.5f, 1.49f, 0.0f, false},
}};

/// Presets carry the first eight parameters; the eighth, an output, is 1.
constexpr std::size_t kPresetValues = 8;

constexpr float Normalized(int index, float value)
{
    const ParameterRow& row = kParameters[static_cast<std::size_t>(index)];
    return (value - row.minimum) / (row.maximum - row.minimum);
}

constexpr PresetRow<kPresetValues> Preset(const char* key, float decay, float preDelay, float perception, float dry,
                                          float wet, float diffusion, bool sumInputs)
{
    return {key,
            {Normalized(Reverb::kDecayTime, decay), Normalized(Reverb::kPreDelayTime, preDelay),
             Normalized(Reverb::kPerception, perception), Normalized(Reverb::kDryOutputLevel, dry),
             Normalized(Reverb::kWetOutputLevel, wet), Normalized(Reverb::kDiffusion, diffusion),
             Normalized(Reverb::kSumInputs, sumInputs ? 1.0f : 0.0f), 1.0f}};
}

constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, 700, 10, 20, 100, 35, 1812, true),
    Preset("$$$/AudioComponents/ReverbPresets/BigDrumRoom=Big Drum Room", 700, 10, 200, 40, 40, 2000, false),
    Preset("$$$/AudioComponents/ReverbPresets/BiggerRoomAmbience=Bigger Room Ambience", 1000, 10, 150, 70, 60, 1900,
           false),
    Preset("$$$/AudioComponents/ReverbPresets/DepressingKaraokeBar=Depressing Karaoke Bar", 200, 10, 100, 50, 50,
           500, true),
    Preset("$$$/AudioComponents/ReverbPresets/Ethereal=Ethereal", 6000, 200, 80, 45, 55, 1200, true),
    Preset("$$$/AudioComponents/ReverbPresets/LiquidSpeakers=Liquid Speakers", 200, 200, 40, 50, 50, 200, true),
    Preset("$$$/AudioComponents/ReverbPresets/Megaphone=Megaphone", 21, 0, 51, 35, 155, 10, true),
    Preset("$$$/AudioComponents/ReverbPresets/PumpingReverb=Pumping Reverb", 500, 200, 150, 50, 50, 50, true),
    Preset("$$$/AudioComponents/ReverbPresets/ResonantRoomModes=Resonant Room Modes", 200, 10, 150, 50, 50, 50,
           true),
    Preset("$$$/AudioComponents/ReverbPresets/RoomAmbience=Room Ambience", 700, 10, 50, 80, 55, 1812, true),
    Preset("$$$/AudioComponents/ReverbPresets/Thickener=Thickener", 400, 20, 80, 100, 35, 1200, false),
};

constexpr float kMinimumRate = 8000.0f;
constexpr float kMaximumRate = 384000.0f;

/// One channel's chunk of the audio path: the output mixes the wet result
/// and the dry signal, the input of two blocks ago still in the fill
/// buffer, in percent; then the fill buffer takes the new input.
ZOC_TARGET_CLONES void MixAndTakeInput(const float* __restrict play, float* __restrict fill, const float* __restrict input,
                     float* __restrict output, float wet, float dry, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float mixed = (play[i] * wet + fill[i] * dry) * 0.01f;
        fill[i] = AdmittedConvolutionInput(input[i]);
        output[i] = mixed;
    }
}

/// The same when the host hands one buffer as input and output.
ZOC_TARGET_CLONES void MixAndTakeInputInPlace(const float* __restrict play, float* __restrict fill, float* __restrict io, float wet,
                            float dry, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float mixed = (play[i] * wet + fill[i] * dry) * 0.01f;
        fill[i] = AdmittedConvolutionInput(io[i]);
        io[i] = mixed;
    }
}

/// The synthesis is defined for ordinary audio rates; others are taken as
/// the nearest end of that range.
float EffectiveRate(float rate)
{
    if (!(rate >= kMinimumRate))
        return kMinimumRate;
    return std::min(rate, kMaximumRate);
}

} // namespace

Reverb::Reverb()
    : ConvolutionReverbBase(kReverbComponentID, core::Localize(kTitleKey), kParameterCount, kPresets),
      cache_(GetTempDir(), "SndxReverb")
{
    for (int index = 0; index < kParameterCount; ++index) {
        const ParameterRow& row = kParameters[static_cast<std::size_t>(index)];
        AddParameter(row.key, row.unitLabel, row.unit, index, row.minimum, row.maximum, row.automatable);
        StoreValue(index, row.defaultValue);
    }
    core::crt::srand(2);
}

Reverb::~Reverb()
{
    StopConvolveThread();
}

// ---------------------------------------------------------------------------
// Host operations

void Reverb::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    {
        std::lock_guard lock(ImpulseMutex());
        ClearRoleTables();
    }
    parametersChanged_ = true;
    impulseDirty_ = true;
    ConvolutionReverbBase::SetSampleRate(rate);
    parametersChanged_ = true;
    impulseDirty_ = true;
}

void Reverb::OnNumberOfChannelsChanged(std::size_t count)
{
    if (count == ChannelCount())
        return;
    std::lock_guard lock(ImpulseMutex());
    SetChannelCount(std::min<std::size_t>(count, kMaxChannels));
    ClearRoleTables();
    parametersChanged_ = true;
    impulseDirty_ = true;
}

void Reverb::Resume()
{
    ConvolutionReverbBase::Resume();
    isProcessing_ = true;
    StoreValue(kIsProcessing, 1.0f);
    parametersChanged_ = false;
    PrepareHandOver();
    {
        std::lock_guard lock(ImpulseMutex());
        RebuildImpulseNow();
    }
    StartConvolveThread();
    UseBufferSetA();
}

void Reverb::Suspend()
{
    ConvolutionReverbBase::Suspend();
    isProcessing_ = false;
    StoreValue(kIsProcessing, 0.0f);
    StopConvolveThread();
}

void Reverb::SetParameter(int index, float normalized)
{
    if (index != kCalculatingImpulse && index != kIsProcessing) {
        if (std::optional<float> value = RealFromNormalized(index, normalized)) {
            if (index == kSumInputs)
                *value = *value < 0.5f ? 0.0f : 1.0f;
            if (*value != Value(index)) {
                StoreValue(index, *value);
                if (index != kDryOutputLevel && index != kWetOutputLevel)
                    impulseDirty_ = true;
            }
        }
    }
    ConvolutionReverbBase::SetParameter(index, normalized);
}

float Reverb::GetParameter(int index)
{
    const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    if (index < 0 || index >= kParameterCount || !info)
        return 0.0f;
    return info->ToNormalized(Value(index));
}

int Reverb::GetInitialDelay()
{
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(CurrentSettings());
    return ReportedLatency(reverb::FFTSizeFor(sizes.impulseLength), sizes.impulseLength);
}

double Reverb::GetTail()
{
    const reverb::ImpulseSettings settings = CurrentSettings();
    return static_cast<double>(reverb::ComputeSizes(settings).impulseLength) / settings.sampleRate;
}

// ---------------------------------------------------------------------------
// Engine

void Reverb::ConvolveBlock()
{
    // The mode the impulse in use was built for: while a new one is being
    // built, the parameter may already say otherwise.
    std::lock_guard lock(EngineMutex());
    RunStandardJob(Active().BuiltFrom().values[kSumInputs] != 0.0f, true);
}

void Reverb::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    std::lock_guard lock(ImpulseMutex());
    parametersChanged_ = false;
    UpdateImpulse();

    const std::size_t channels = ChannelCount();
    if (frames <= 0)
        return;
    if (!HasRoles()) {
        for (std::size_t c = 0; c < channels; ++c)
            std::fill_n(outputs[c], frames, 0.0f);
        return;
    }
    const float wet = Value(kWetOutputLevel);
    const float dry = Value(kDryOutputLevel);
    for (int done = 0; done < frames;) {
        // The hop is read again after each boundary: a rebuilt impulse may
        // come with another one.
        if (blockPosition_ == HopSize())
            AdvanceBlock();
        const std::uint32_t hop = HopSize();
        const std::size_t position = blockPosition_;
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(hop - position, frames - done));
        for (std::size_t c = 0; c < channels; ++c) {
            // The fill buffer still holds the input of two blocks ago: the
            // dry signal, delayed exactly as much as the wet one.
            const float* play = PlayBuffer(c) + position;
            float* fill = FillBuffer(c) + position;
            if (inputs[c] == outputs[c])
                MixAndTakeInputInPlace(play, fill, outputs[c] + done, wet, dry, count);
            else
                MixAndTakeInput(play, fill, inputs[c] + done, outputs[c] + done, wet, dry, count);
        }
        blockPosition_ += static_cast<std::uint32_t>(count);
        done += static_cast<int>(count);
    }
}

// ---------------------------------------------------------------------------
// Impulse

reverb::ImpulseSettings Reverb::CurrentSettings() const
{
    reverb::ImpulseSettings settings;
    settings.sampleRate = EffectiveRate(GetSampleRate());
    settings.decayTime = Value(kDecayTime);
    settings.preDelayTime = Value(kPreDelayTime);
    settings.perception = Value(kPerception);
    settings.diffusion = Value(kDiffusion);
    settings.sumInputs = Value(kSumInputs) != 0.0f;
    settings.channels = static_cast<std::uint32_t>(ChannelCount());
    return settings;
}

reverb::ImpulseSettings Reverb::SettingsOf(const SettingsSnapshot& snapshot)
{
    reverb::ImpulseSettings settings;
    settings.sampleRate = EffectiveRate(snapshot.sampleRate);
    settings.decayTime = snapshot.values[kDecayTime];
    settings.preDelayTime = snapshot.values[kPreDelayTime];
    settings.perception = snapshot.values[kPerception];
    settings.diffusion = snapshot.values[kDiffusion];
    settings.sumInputs = snapshot.values[kSumInputs] != 0.0f;
    settings.channels = static_cast<std::uint32_t>(snapshot.channels);
    return settings;
}

bool Reverb::SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const
{
    if (a.sampleRate != b.sampleRate || a.channels != b.channels)
        return false;
    for (int index : {kDecayTime, kPreDelayTime, kPerception, kDiffusion, kSumInputs}) {
        const auto at = static_cast<std::size_t>(index);
        if (a.values[at] != b.values[at])
            return false;
    }
    return true;
}

void Reverb::PublishProgress(float progress)
{
    progress_.store(progress, std::memory_order_relaxed);
    StoreValue(kCalculatingImpulse, progress * 100.0f);
    BumpParameterDirtyCount();
}

void Reverb::BuildImpulse(const SettingsSnapshot& snapshot, EngineBuffers& into)
{
    const reverb::ImpulseSettings settings = SettingsOf(snapshot);
    const reverb::CacheHeader header =
        reverb::MakeCacheHeader(settings, snapshot.values[kDryOutputLevel], snapshot.values[kWetOutputLevel]);
    // Two instances never synthesise or touch the cache files at once.
    std::lock_guard cacheLock(ImpulseCacheMutex());
    isCalculating_ = true;
    PublishProgress(0.0f);
    float progress = 0.0f;
    const bool loaded = cache_.Search(
        [&] {
            progress += 0.05f;
            PublishProgress(progress);
        },
        [&](core::files::File& file, std::uint64_t size) {
            return reverb::ReadCacheFile(file, size, header, settings.channels, into);
        });
    if (!loaded)
        Synthesize(settings, header, into);
    isCalculating_ = false;
    PublishProgress(1.0f);
}

void Reverb::Synthesize(const reverb::ImpulseSettings& settings, const reverb::CacheHeader& header,
                        EngineBuffers& into)
{
    PublishProgress(0.0f);
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(settings);
    into.SetSizes(reverb::FFTSizeFor(sizes.impulseLength), static_cast<std::uint32_t>(sizes.impulseLength),
                  sizes.impulseChannels, settings.channels);
    reverb::SynthesizeImpulse(settings, sizes, into.ImpulseStorage().Data(),
                              [this](float progress) { PublishProgress(progress); });

    PublishProgress(0.9f);
    ComputeSpectra(into, settings.sumInputs);
    // The slot comes from the generator, which the settings seeded.
    cache_.Save(core::crt::rand() % ImpulseCacheRing::kSlots, reverb::CacheFileBytes(header, into));
}

void Reverb::ComputeSpectra(EngineBuffers& into, bool sumInputs)
{
    const std::size_t channels = into.Channels();
    const std::size_t impulseChannels = into.ImpulseChannelCount();
    const std::size_t length = into.ImpulseLength();
    const std::size_t fftSize = into.FFTSize();
    const float* impulse = into.ImpulseStorage().Data();
    float* first = into.TransformScratch(0);
    float* second = into.TransformScratch(1);
    // One impulse channel, zero-padded to N.
    const auto extract = [&](std::size_t channel, float* target) {
        for (std::size_t t = 0; t < length; ++t)
            target[t] = impulse[t * impulseChannels + channel];
        std::fill(target + length, target + fftSize, 0.0f);
    };
    std::size_t c = 0;
    for (; c + 1 < channels; c += 2) {
        extract(c, first);
        extract(c + 1, second);
        into.ForwardTwoReal(first, second, into.ImpulseRe(c), into.ImpulseIm(c), into.ImpulseRe(c + 1),
                            into.ImpulseIm(c + 1));
    }
    if (c < channels) {
        extract(c, first);
        into.ForwardTwoReal(first, first, into.ImpulseRe(c), into.ImpulseIm(c), into.ImpulseRe(c), into.ImpulseIm(c));
    }
    if (channels == 2 && !sumInputs) {
        extract(2, first);
        extract(3, second);
        into.ForwardTwoReal(first, second, into.CrossLeftToRightRe(), into.CrossLeftToRightIm(),
                            into.CrossRightToLeftRe(), into.CrossRightToLeftIm());
    }
}

} // namespace zoc::components
