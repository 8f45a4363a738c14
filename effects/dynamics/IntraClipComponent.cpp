// Speech Volume Leveler: parameter surface, presets, meter and console
// commands over one IntraClip kernel.

#include "effects/dynamics/IntraClipComponent.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/CommandRegistry.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kIntraClipComponentID =
    core::Guid{0xF9D17E54, 0xEF94, 0x424C, {0xAA, 0x66, 0x63, 0x94, 0x95, 0xE1, 0x02, 0xD9}}.AsString();

namespace {

using dsp::intraclip::IntraClip;
using dsp::intraclip::IntraClipParam;
using enum host::AudioFilterParameterInfoUnit;

constexpr core::Guid kDescriptorGuid{0xEB30CB88, 0x540F, 0x46ED, {0xB4, 0x38, 0xA0, 0x5B, 0x2D, 0x61, 0x8C, 0x4E}};
constexpr const char* kTitleKey = "$$$/AudioComponents/SpeechVolumeLevelerTitle=Speech Volume Leveler";

const ComponentRegistration<IntraClipComponent> kRegistration{
    "IntraClipComponent", kTitleKey, 0, kIntraClipComponentID, kDescriptorGuid,
    "Evens out the loudness of speech: rides the gain toward a target level, gates pauses, limits peaks",
    "Strong"};

struct Row {
    const char* key;
    const char* unit;
    host::AudioFilterParameterInfoUnit kind;
    float initial; ///< normalized
};

// Ranges come from the kernel's bounds for the same index.
constexpr std::array<Row, IntraClipComponent::kParameterCount> kRows{{
    {"$$$/Effects/IntraClipComponent/TargetVolumeLevel=Target Volume Level", "dB RMS", kUnitDecibels, 0.8f},
    {"$$$/Effects/IntraClipComponent/LevelingAmount=Leveling Amount", "%", kUnitProportion, 1.0f},
    {"$$$/Effects/IntraClipComponent/CompressorActive=Compressor Active", "", kUnitSwitch, 0.0f},
    {"$$$/Effects/IntraClipComponent/CompressorThreshold=Compressor Threshold", "dB", kUnitDecibels, 0.375f},
    {"$$$/Effects/IntraClipComponent/NoiseGateActive=Noise Gate Active", "", kUnitSwitch, 0.0f},
    {"$$$/Effects/IntraClipComponent/NoiseThresholdOffset=Noise Offset", "dB", kUnitDecibels, 0.6f},
    {"$$$/Effects/IntraClipComponent/BoosLowSignals=Boost Low Signals", "", kUnitSwitch, 0.0f},
    {"$$$/Effects/IntraClipComponent/AmplificationMeter=Amplification Meter", "dB", kUnitDecibels, 0.0f},
    {"$$$/Effects/IntraClipComponent/TargetDynRange=Target Dynamic Range", "dB", kUnitDecibels, 0.3f},
}};

#define ZOC_INTRACLIP_PRESET(name) "$$$/AudioComponents/IntraClipPresets/" name

// Target -16 dB RMS (0.8) or about -28 dB RMS (0.2); compressor threshold
// 0 to 16 dB over the target; noise offset 12 dB; dynamic range 12 or 24 dB.
constexpr std::array<PresetRow<IntraClipComponent::kParameterCount>, 5> kPresets{{
    {kDefaultPresetKey, {0.8f, 1.0f, 0.0f, 0.375f, 0.0f, 0.6f, 0.0f, 0.0f, 0.3f}},
    {ZOC_INTRACLIP_PRESET("Medium=Medium"), {0.196629f, 0.8f, 1.0f, 0.75f, 1.0f, 0.6f, 0.0f, 0.0f, 0.3f}},
    {ZOC_INTRACLIP_PRESET("Soft=Soft"), {0.196629f, 0.5f, 1.0f, 1.0f, 1.0f, 0.6f, 0.0f, 0.0f, 0.3f}},
    {ZOC_INTRACLIP_PRESET("Strong=Strong"), {0.2f, 1.0f, 1.0f, 0.0f, 1.0f, 0.6f, 0.0f, 0.0f, 0.3f}},
    {ZOC_INTRACLIP_PRESET("Careful=Careful"), {0.196629f, 0.5f, 1.0f, 1.0f, 0.0f, 0.6f, 0.0f, 0.0f, 0.6f}},
}};

#undef ZOC_INTRACLIP_PRESET

bool IsSwitch(int index) { return kRows[static_cast<std::size_t>(index)].kind == kUnitSwitch; }

} // namespace

IntraClipComponent::IntraClipComponent()
    : MultiChannelComponentBase(kIntraClipComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      channelCount_(static_cast<int>(std::clamp<std::size_t>(GetNumberOfOutputChannels(), 1, kMaxChannels)))
{
    BuildParameterInfos();
    InitializeKernel();
    for (int index = 0; index < kParameterCount; ++index)
        SetParameter(index, kRows[static_cast<std::size_t>(index)].initial);
}

void IntraClipComponent::BuildParameterInfos()
{
    const std::string prefix = "$$$/Effects/IntraClipComponent/";
    for (int index = 0; index < kParameterCount; ++index) {
        const Row& row = kRows[static_cast<std::size_t>(index)];
        const core::UString name = core::Localize(row.key);
        core::Ref<host::AudioFilterParameterInfo> info;
        if (row.kind == kUnitSwitch) {
            info = core::MakeRef<BoolParameterInfo>(name, core::UString(), core::Localize(prefix + "On=On"),
                                                    core::Localize(prefix + "Off=Off"), true);
        } else {
            float lo = 0.0f, hi = 1.0f;
            kernel_.GetBounds(index, lo, hi);
            info = core::MakeRef<GenericParameterInfo>(name, core::FromUtf8(row.unit), row.kind, index, lo, hi,
                                                       index != kMeterParameter, false, 1, 2);
        }
        AddParameterInfo(static_cast<std::size_t>(index), info);
    }
}

void IntraClipComponent::InitializeKernel()
{
    const int rate = static_cast<int>(std::clamp(GetSampleRate(), 1.0f, 768000.0f));
    kernel_.Initialize(channelCount_, rate, std::max(GetBlockSize(), GetMaxProcessingBlockSize()));
    for (int index = 0; index < kParameterCount; ++index) {
        PendingSlot& slot = pending_[static_cast<std::size_t>(index)];
        slot.pending.store(false, std::memory_order_relaxed);
        kernel_.SetParameter(index, values_[static_cast<std::size_t>(index)]);
    }
    kernel_.Reset();
}

void IntraClipComponent::SetParameter(int index, float normalized)
{
    if (index >= 0 && index < kParameterCount && index != kMeterParameter) {
        if (const std::optional<float> real = RealFromNormalized(index, normalized)) {
            const float value = IsSwitch(index) ? (*real >= 0.5f ? 1.0f : 0.0f) : *real;
            values_[static_cast<std::size_t>(index)] = value;
            PendingSlot& slot = pending_[static_cast<std::size_t>(index)];
            slot.value.store(value, std::memory_order_relaxed);
            slot.pending.store(true, std::memory_order_release);
        }
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float IntraClipComponent::GetParameter(int index)
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    if (index == kMeterParameter && blocksSinceMeterRead_.exchange(0, std::memory_order_acq_rel) > 0)
        values_[kMeterParameter] = kernel_.GetParameter(kMeterParameter);
    return GetParameterInfo(index)->ToNormalized(values_[static_cast<std::size_t>(index)]);
}

void IntraClipComponent::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    // The look-ahead is a time: sized again now, so the latency reported
    // before the next Resume is already the one at the new rate.
    InitializeKernel();
}

void IntraClipComponent::Resume()
{
    MultiChannelComponentBase::Resume();
    InitializeKernel();
}

void IntraClipComponent::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_ = static_cast<int>(std::clamp<std::size_t>(count, 1, kMaxChannels));
    InitializeKernel();
}

void IntraClipComponent::Process(float** inputs, float** outputs, int frames)
{
    for (int index = 0; index < kParameterCount; ++index) {
        PendingSlot& slot = pending_[static_cast<std::size_t>(index)];
        if (slot.pending.exchange(false, std::memory_order_acquire))
            kernel_.SetParameter(index, slot.value.load(std::memory_order_relaxed));
    }
    if (frames > 0) {
        dsp::ScopedFlushDenormals flush;
        kernel_.Process(inputs, outputs, channelCount_, frames);
    }
    blocksSinceMeterRead_.fetch_add(1, std::memory_order_acq_rel);
}

bool IntraClipComponent::LoadParams(const host::PresetData& preset)
{
    const std::vector<float>& params = preset.GetParamList();
    if (params.size() != kParameterCount && params.size() != kParameterCount - 1)
        return false;
    for (std::size_t index = 0; index < params.size(); ++index)
        SetParameterAutomated(static_cast<int>(index), params[index]);
    return true;
}

// --- Console commands ------------------------------------------------------------

namespace {

/// The argument text split at single spaces (two spaces give an empty value).
std::vector<std::string_view> SplitAtSpaces(std::string_view text)
{
    std::vector<std::string_view> values;
    if (text.empty())
        return values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        values.push_back(text.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
        if (space == std::string_view::npos)
            return values;
        start = space + 1;
    }
}

/// A finite decimal number, the whole of `text`.
std::optional<double> ParseNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::int32_t Truncated(double value)
{
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::trunc(value), lo, hi));
}

/// "IntraClip.Setup": all 28 tuning values of the global record at once.
class IntraClipSetupCommand : public core::console::Command {
public:
    static constexpr std::size_t kValueCount = 28;

    bool Execute(std::string_view arguments, std::ostream& output) override
    {
        const std::vector<std::string_view> words = SplitAtSpaces(arguments);
        if (words.size() != kValueCount) {
            PrintUsage(output);
            return words.empty();
        }
        std::array<double, kValueCount> numbers{};
        for (std::size_t i = 0; i < kValueCount; ++i) {
            const std::optional<double> number = ParseNumber(words[i]);
            if (!number) {
                output << "IntraClip.Setup: value " << i + 1 << " is not a number: '"
                       << words[i].substr(0, 40) << "'\n";
                return false;
            }
            numbers[i] = *number;
        }
        IntraClipParam p{};
        dsp::intraclip::GetGlobalParam(p);
        const auto f = [&](std::size_t i) { return static_cast<float>(numbers[i]); };
        p.RefLevel = f(0);
        p.MaxGain = f(1);
        p.MaxGainDelta = f(2);
        p.PeakMax = f(3);
        p.PeakMin = f(4);
        p.BodyDynamic = f(5);
        p.MinRMSNoise = f(6);
        p.MaxRMSNoise = f(7);
        p.CompAttackTime = f(8);
        p.CompReleaseTime = f(9);
        p.PeakSmoothAttackTime = f(10);
        p.PeakSmoothReleaseTime = f(11);
        p.NoiseThresholdOffset = f(12);
        p.NoiseGateRatio = f(13);
        p.NoiseGateAttack = f(14);
        p.NoiseGateRelease = f(15);
        p.NoiseGateHoldTime = f(16);
        p.NumRMSBuckets = Truncated(numbers[17]);
        p.RMSWindowTime = f(18);
        p.SelBucketIndex = Truncated(numbers[19]);
        p.DelayCompensationTime = f(20);
        p.FinCompAttack = f(21);
        p.FinCompRelease = f(22);
        p.FinCompThresh = f(23);
        p.FinLimLookAhead = f(24);
        p.FinLimRelease = f(25);
        p.FinLimCeil = f(26);
        p.ProcessingBlockActiveBitField = Truncated(numbers[27]);
        dsp::intraclip::SetGlobalParam(p);
        output << "Parameter changed for next run.\n";
        return true;
    }

private:
    static void PrintUsage(std::ostream& output)
    {
        output << "IntraClip.Setup RefLevel MaxGain MaxGainDelta PeakMax PeakMin BodyDynamic MinRMSNoise "
                  "MaxRMSNoise CompAttackTime CompReleaseTime PeakSmoothAttackTime PeakSmoothReleaseTime ...\n"
               << "NoiseThresholdOffset NoiseGateRatio NoiseGateAttack NoiseGateRelease NoiseGateHoldTime "
                  "NumRMSBuckets RMSWindowTime SelBucketIndex DelayCompensationTime...\n"
               << "FinCompAttack FinCompRelease FinCompThresh FinLimLookAhead FinLimRelease FinLimCeil "
                  "ProcessingBlockActiveBitField\n"
               << "ProcessingBlockActiveBitField: 1=IntraClipCompressor 2=FinalizeCompressor 4=FinalizeLimiter "
                  "8=NoiseGate\n"
               << "Example: IntraClip.Setup -12 10 35 -10 -40 15 -60 -50 10 500 1000 8000 15 1.5 10 1000 250 10 "
                  "50 2 -200 10 250 -6 5 100 -1.0 15\n";
    }
};

/// "IntraClip.Debug MODE": which control curve replaces the right channel.
class IntraClipDebugCommand : public core::console::Command {
public:
    bool Execute(std::string_view arguments, std::ostream& output) override
    {
        const std::vector<std::string_view> words = SplitAtSpaces(arguments);
        const std::optional<double> mode = words.size() == 1 ? ParseNumber(words[0]) : std::nullopt;
        if (!mode) {
            output << "0=(Default) Normal Processing 1=(Control curve in right channel) 1=ShowIntraClipGainCurve "
                      "2=ShowFinalizeCompressorGainCurve\n"
                   << "3=ShowFinalizeLimiterGainCurve 4=ShowMaxGainCurve 5=ShowNoiseGateGainCurve "
                      "6=Noisefloor Estimate\n";
            return words.empty();
        }
        IntraClipParam p{};
        dsp::intraclip::GetGlobalParam(p);
        p.DebugDisplayMode = Truncated(*mode);
        dsp::intraclip::SetGlobalParam(p);
        output << (p.DebugDisplayMode > 0 ? "Show control curve in right channel\n" : "Normal processing\n");
        return true;
    }
};

} // namespace

void RegisterIntraClipConsoleCommands()
{
    core::console::CommandRegistry& registry = core::console::CommandRegistry::Instance();
    registry.RegisterCommand("IntraClip.Setup", "IntraClip.Setup - Sets all adjustable parameter",
                             [] { return std::make_unique<IntraClipSetupCommand>(); });
    registry.RegisterCommand("IntraClip.Debug",
                             "IntraClip.Debug - Enables displaying of control curve in right stereo channel",
                             [] { return std::make_unique<IntraClipDebugCommand>(); });
}

} // namespace zoc::components
