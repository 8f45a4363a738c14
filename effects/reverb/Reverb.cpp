// Reverb: synthesised impulse, cached in ten slots, convolved on the engine.

#include "effects/reverb/Reverb.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "dsp/Denormals.h"
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

const ComponentRegistration<Reverb> kRegistration{"Reverb", kTitleKey, 0, kReverbComponentID, kDescriptorGuid};

static_assert(std::endian::native == std::endian::little, "cache files hold little-endian floats");

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

/// The synthesis is defined for ordinary audio rates; others are taken as
/// the nearest end of this range.
constexpr float kMinimumRate = 8000.0f;
constexpr float kMaximumRate = 384000.0f;

// Cache files: a ring of ten slots named "SndxReverb0.tmp" ... "SndxReverb9.tmp".
constexpr std::uint32_t kCacheMagic = 0x44332214;
constexpr std::uint32_t kCacheVersion = 2;
constexpr std::size_t kMagicAt = 0, kHeaderSizeAt = 4, kDataBytesAt = 8, kLengthAt = 12, kVersionAt = 16,
                      kRateAt = 20, kDecayAt = 24, kPreDelayAt = 32, kPerceptionAt = 40, kSumAt = 64,
                      kDiffusionAt = 72;

std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

/// The fields that decide the impulse are equal, and both headers are well formed.
template <class Header>
bool SameImpulse(const Header& a, const Header& b)
{
    for (const Header* header : {&a, &b}) {
        if (ReadU32(header->data() + kMagicAt) != kCacheMagic ||
            ReadU32(header->data() + kHeaderSizeAt) != Reverb::kHeaderSize ||
            ReadU32(header->data() + kVersionAt) != kCacheVersion)
            return false;
    }
    const auto equal = [&](std::size_t at, std::size_t size) {
        return std::memcmp(a.data() + at, b.data() + at, size) == 0;
    };
    return equal(kRateAt, 4) && equal(kDecayAt, 8) && equal(kPreDelayAt, 8) && equal(kPerceptionAt, 8) &&
           equal(kSumAt, 4) && equal(kDiffusionAt, 8);
}

/// The three steps of the audio path for one channel's chunk. Input and
/// output may be one buffer; neither overlaps the engine's or the scratch.
void ScaleWetAndDry(const float* __restrict play, const float* __restrict fill, float wet, float dry,
                    float* __restrict wetPart, float* __restrict dryPart, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        wetPart[i] = play[i] * wet;
        dryPart[i] = fill[i] * dry;
    }
}

/// A non-finite sample enters as silence, so it cannot spread through the
/// next blocks' convolution. (Exponent bits all set: infinity or NaN.)
void TakeInput(const float* __restrict input, float* __restrict fill, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const bool finite = (std::bit_cast<std::uint32_t>(input[i]) & 0x7F800000u) != 0x7F800000u;
        fill[i] = finite ? input[i] : 0.0f;
    }
}

void Mix(const float* __restrict wetPart, const float* __restrict dryPart, float* __restrict output,
         std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        output[i] = (wetPart[i] + dryPart[i]) * 0.01f;
}

std::size_t SpectrumCount(bool sumInputs, std::size_t channels)
{
    return sumInputs || channels != 2 ? 2 * channels : 8;
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

float Reverb::EffectiveRate() const
{
    const float rate = GetSampleRate();
    if (!(rate >= kMinimumRate))
        return kMinimumRate;
    return std::min(rate, kMaximumRate);
}

void Reverb::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    {
        std::lock_guard lock(ImpulseMutex());
        ClearRoleTables();
        mix_ = nullptr;
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
    mix_ = nullptr;
    parametersChanged_ = true;
    impulseDirty_ = true;
}

void Reverb::Resume()
{
    ConvolutionReverbBase::Resume();
    isProcessing_ = true;
    StoreValue(kIsProcessing, 1.0f);
    parametersChanged_ = false;
    {
        std::lock_guard lock(ImpulseMutex());
        RecalculateImpulse();
    }
    PrepareHandOver();
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
    if (index >= kParameterCount || !info)
        return 0.0f;
    return info->ToNormalized(Value(index));
}

int Reverb::GetInitialDelay()
{
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(CurrentSettings());
    const auto fftSize = static_cast<std::int64_t>(reverb::FFTSizeFor(sizes.impulseLength));
    return static_cast<int>(2 * (fftSize - sizes.impulseLength) + 2);
}

double Reverb::GetTail()
{
    const reverb::ImpulseSettings settings = CurrentSettings();
    return static_cast<double>(reverb::ComputeSizes(settings).impulseLength) / settings.sampleRate;
}

// ---------------------------------------------------------------------------
// Engine

void Reverb::UseBufferSetA()
{
    std::lock_guard lock(EngineMutex());
    ConvolutionReverbBase::UseBufferSetA();
    mix_ = mixA_.Data();
}

void Reverb::UseBufferSetB()
{
    std::lock_guard lock(EngineMutex());
    ConvolutionReverbBase::UseBufferSetB();
    mix_ = mixB_.Data();
}

void Reverb::ConvolveBlock()
{
    RunStandardJob(Value(kSumInputs) != 0.0f);
}

void Reverb::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    std::lock_guard lock(ImpulseMutex());
    parametersChanged_ = false;
    if (impulseDirty_)
        RecalculateImpulse();

    const std::size_t channels = ChannelCount();
    if (frames <= 0)
        return;
    if (!HasRoles() || mix_ == nullptr) {
        for (std::size_t c = 0; c < channels; ++c)
            std::fill_n(outputs[c], frames, 0.0f);
        return;
    }
    const float wet = Value(kWetOutputLevel);
    const float dry = Value(kDryOutputLevel);
    const std::uint32_t hop = HopSize();
    for (int done = 0; done < frames;) {
        if (blockPosition_ == hop)
            AdvanceBlock();
        const std::size_t position = blockPosition_;
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(hop - position, frames - done));
        float* wetPart = mix_;
        float* dryPart = mix_ + count;
        for (std::size_t c = 0; c < channels; ++c) {
            const float* play = PlayBuffer(c) + position;
            float* fill = FillBuffer(c) + position;
            const float* input = inputs[c] + done;
            float* output = outputs[c] + done;
            // The fill buffer still holds the input of two blocks ago: the
            // dry signal, delayed exactly as much as the wet one. It takes
            // the new input before the output is written.
            ScaleWetAndDry(play, fill, wet, dry, wetPart, dryPart, count);
            TakeInput(input, fill, count);
            Mix(wetPart, dryPart, output, count);
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
    settings.sampleRate = EffectiveRate();
    settings.decayTime = Value(kDecayTime);
    settings.preDelayTime = Value(kPreDelayTime);
    settings.perception = Value(kPerception);
    settings.diffusion = Value(kDiffusion);
    settings.sumInputs = Value(kSumInputs) != 0.0f;
    settings.channels = static_cast<std::uint32_t>(ChannelCount());
    return settings;
}

void Reverb::PublishProgress(float progress)
{
    progress_.store(progress, std::memory_order_relaxed);
    StoreValue(kCalculatingImpulse, progress * 100.0f);
    BumpParameterDirtyCount();
}

void Reverb::SetImpulseLength(std::int32_t length, std::uint32_t impulseChannels)
{
    std::lock_guard lock(EngineMutex());
    impulseChannels_ = impulseChannels;
    dsp::AlignedBuffer& impulse = ImpulseStorage();
    impulse.Resize(static_cast<std::size_t>(impulseChannels) * static_cast<std::size_t>(length));
    impulse.Zero();
    const std::uint32_t fftSize = reverb::FFTSizeFor(length);
    SetFFTSize(fftSize);
    SetImpulseLengthAndHop(static_cast<std::uint32_t>(length));
    mixA_.Resize(2 * static_cast<std::size_t>(fftSize));
    mixB_.Resize(2 * static_cast<std::size_t>(fftSize));
    UseBufferSetA();
}

void Reverb::RecalculateImpulse()
{
    const reverb::ImpulseSettings settings = CurrentSettings();
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(settings);

    core::files::ByteWriter writer;
    writer.U32(kCacheMagic);
    writer.U32(kHeaderSize);
    writer.U32(sizes.impulseChannels * static_cast<std::uint32_t>(sizes.impulseLength) * 4u);
    writer.U32(static_cast<std::uint32_t>(sizes.impulseLength));
    writer.U32(kCacheVersion);
    writer.U32(static_cast<std::uint32_t>(settings.sampleRate));
    writer.F64(settings.decayTime);
    writer.F64(settings.preDelayTime);
    writer.F64(settings.perception);
    writer.F64(Value(kDryOutputLevel));
    writer.F64(Value(kWetOutputLevel));
    writer.U32(settings.sumInputs ? 1 : 0);
    writer.U32(0);
    writer.F64(settings.diffusion);
    Header header{};
    std::copy(writer.Data().begin(), writer.Data().end(), header.begin());

    {
        // The caller holds the impulse mutex (Process holds it for the whole
        // block), so every path takes the locks in one order: impulse,
        // process-wide, engine.
        std::lock_guard cacheLock(ImpulseCacheMutex());
        std::lock_guard engineLock(EngineMutex());
        if (!LoadFromCache(settings, header))
            Synthesize(settings, header);
    }
    ClearBuffers();
    impulseDirty_ = false;
}

bool Reverb::LoadFromCache(const reverb::ImpulseSettings& settings, const Header& header)
{
    if (ImpulseLength() > 0 && rememberedChannels_ == settings.channels && SameImpulse(header, rememberedHeader_))
        return true;

    isCalculating_ = true;
    PublishProgress(0.0f);
    const std::uint32_t impulseChannels = reverb::ComputeSizes(settings).impulseChannels;
    float progress = 0.0f;
    const bool loaded = cache_.Search(
        [&] {
            progress += 0.05f;
            PublishProgress(progress);
        },
        [&](core::files::File& file, std::uint64_t size) { return LoadSlot(file, size, header, impulseChannels); });
    if (loaded) {
        rememberedHeader_ = header;
        rememberedChannels_ = settings.channels;
    }
    isCalculating_ = false;
    if (loaded)
        PublishProgress(1.0f);
    return loaded;
}

bool Reverb::LoadSlot(core::files::File& file, std::uint64_t size, const Header& header,
                      std::uint32_t impulseChannels)
{
    Header stored{};
    if (file.Read(stored.data(), stored.size()) != stored.size() || !SameImpulse(header, stored))
        return false;
    const std::uint32_t length = ReadU32(stored.data() + kLengthAt);
    if (length != ReadU32(header.data() + kLengthAt) ||
        ReadU32(stored.data() + kDataBytesAt) != static_cast<std::uint64_t>(impulseChannels) * length * 4u)
        return false;
    const std::size_t channels = ChannelCount();
    const bool sumInputs = ReadU32(stored.data() + kSumAt) != 0;
    const std::uint64_t fftSize = reverb::FFTSizeFor(static_cast<std::int32_t>(length));
    const std::uint64_t expected = kHeaderSize + static_cast<std::uint64_t>(impulseChannels) * length * 4u +
                                   SpectrumCount(sumInputs, channels) * fftSize * 4u;
    if (size != expected)
        return false;

    // From here on the engine's state is overwritten: forget what it held.
    rememberedHeader_ = {};
    SetImpulseLength(static_cast<std::int32_t>(length), impulseChannels);
    dsp::AlignedBuffer& impulse = ImpulseStorage();
    if (file.Read(impulse.Data(), impulse.Size() * sizeof(float)) != impulse.Size() * sizeof(float))
        return false;
    const std::size_t spectrumBytes = static_cast<std::size_t>(fftSize) * sizeof(float);
    for (float* spectrum : CachedSpectra(sumInputs)) {
        if (file.Read(spectrum, spectrumBytes) != spectrumBytes)
            return false;
    }
    return true;
}

std::vector<float*> Reverb::CachedSpectra(bool sumInputs)
{
    const std::size_t channels = ChannelCount();
    std::vector<float*> spectra;
    if (!sumInputs && channels == 2) {
        spectra = {ImpulseRe(0),          ImpulseIm(0),          CrossLeftToRightRe(), CrossLeftToRightIm(),
                   CrossRightToLeftRe(), CrossRightToLeftIm(), ImpulseRe(1),         ImpulseIm(1)};
        return spectra;
    }
    for (std::size_t c = 0; c < channels; ++c) {
        spectra.push_back(ImpulseRe(c));
        spectra.push_back(ImpulseIm(c));
    }
    return spectra;
}

void Reverb::Synthesize(const reverb::ImpulseSettings& settings, const Header& header)
{
    isCalculating_ = true;
    PublishProgress(0.0f);
    const reverb::ImpulseSizes sizes = reverb::ComputeSizes(settings);
    rememberedHeader_ = {};
    SetImpulseLength(sizes.impulseLength, sizes.impulseChannels);
    reverb::SynthesizeImpulse(settings, sizes, ImpulseStorage().Data(),
                              [this](float progress) { PublishProgress(progress); });

    PublishProgress(0.9f);
    ComputeSpectra(settings.sumInputs);
    PublishProgress(1.0f);

    // The slot comes from the generator, which the settings seeded.
    WriteCacheFile(core::crt::rand() % ImpulseCacheRing::kSlots, header, settings.sumInputs);
    rememberedHeader_ = header;
    rememberedChannels_ = settings.channels;

    isCalculating_ = false;
    PublishProgress(progress_.load(std::memory_order_relaxed));
}

void Reverb::ComputeSpectra(bool sumInputs)
{
    const std::size_t channels = ChannelCount();
    const std::size_t impulseChannels = impulseChannels_;
    const std::size_t length = ImpulseLength();
    const std::size_t fftSize = FFTSize();
    const float* impulse = ImpulseStorage().Data();
    float* first = TransformScratch(0);
    float* second = TransformScratch(1);
    // One impulse channel, zero-padded to N.
    const auto extract = [&](std::size_t channel, float* into) {
        for (std::size_t t = 0; t < length; ++t)
            into[t] = impulse[t * impulseChannels + channel];
        std::fill(into + length, into + fftSize, 0.0f);
    };
    std::size_t c = 0;
    for (; c + 1 < channels; c += 2) {
        extract(c, first);
        extract(c + 1, second);
        ForwardTwoReal(first, second, ImpulseRe(c), ImpulseIm(c), ImpulseRe(c + 1), ImpulseIm(c + 1));
    }
    if (c < channels) {
        extract(c, first);
        ForwardTwoReal(first, first, ImpulseRe(c), ImpulseIm(c), ImpulseRe(c), ImpulseIm(c));
    }
    if (channels == 2 && !sumInputs) {
        extract(2, first);
        extract(3, second);
        ForwardTwoReal(first, second, CrossLeftToRightRe(), CrossLeftToRightIm(), CrossRightToLeftRe(),
                       CrossRightToLeftIm());
    }
}

void Reverb::WriteCacheFile(int slot, const Header& header, bool sumInputs)
{
    const std::vector<float*> spectra = CachedSpectra(sumInputs);
    const dsp::AlignedBuffer& impulse = ImpulseStorage();
    const std::size_t spectrumBytes = static_cast<std::size_t>(FFTSize()) * sizeof(float);
    std::vector<std::uint8_t> bytes(header.size() + impulse.Size() * sizeof(float) + spectra.size() * spectrumBytes);
    std::uint8_t* at = bytes.data();
    std::memcpy(at, header.data(), header.size());
    at += header.size();
    std::memcpy(at, impulse.Data(), impulse.Size() * sizeof(float));
    at += impulse.Size() * sizeof(float);
    for (const float* spectrum : spectra) {
        std::memcpy(at, spectrum, spectrumBytes);
        at += spectrumBytes;
    }
    cache_.Save(slot, bytes);
}

} // namespace zoc::components
