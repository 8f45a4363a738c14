// Graphic equalizers (10, 20 and 30 bands) over the dsp::Graphic kernel.

#include "effects/filters/GraphicEQ.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#include "dsp/Denormals.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "framework/ResponseCurve.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kGraphicEQ10BandsComponentID = ComponentGuid(5).AsString();
const std::string kGraphicEQ20BandsComponentID = ComponentGuid(6).AsString();
const std::string kGraphicEQ30BandsComponentID = ComponentGuid(7).AsString();

namespace {

using dsp::Graphic;

constexpr const char* kTitle10 = "$$$/AudioComponents/GraphicEQ10Title=Graphic Equalizer (10 Bands)";
constexpr const char* kTitle20 = "$$$/AudioComponents/GraphicEQ20Title=Graphic Equalizer (20 Bands)";
constexpr const char* kTitle30 = "$$$/AudioComponents/GraphicEQ30Title=Graphic Equalizer (30 Bands)";

const ComponentRegistration<GraphicEQ10Bands> kRegistration10{"GraphicEQ10Bands", kTitle10, 0,
                                                              kGraphicEQ10BandsComponentID, DescriptorGuid(5),
    "Shapes the tone with ten fixed octave bands, in linear phase",
    "Lo-Fidelity"};
const ComponentRegistration<GraphicEQ20Bands> kRegistration20{"GraphicEQ20Bands", kTitle20, 0,
                                                              kGraphicEQ20BandsComponentID, DescriptorGuid(6),
    "Shapes the tone with twenty fixed half-octave bands, in linear phase",
    "Tinny and Brittle"};
const ComponentRegistration<GraphicEQ30Bands> kRegistration30{"GraphicEQ30Bands", kTitle30, 0,
                                                              kGraphicEQ30BandsComponentID, DescriptorGuid(7),
    "Shapes the tone with thirty fixed third-octave bands, in linear phase",
    "Classic V"};

// Presets are written in dB per band (lowest band first) and stored as
// fractions of the kernel's ranges. Every preset uses the default accuracy;
// the range is the default +/-15 dB unless a preset needs more. The last
// parameter, IsProcessing, is not part of a preset.
constexpr float kAccuracyFraction = 0.121f;
constexpr float kDefaultRangeFraction = 0.3924f;

constexpr float BandFraction(float decibels) { return (decibels + Graphic::kMaxRangeDb) / (2.0f * Graphic::kMaxRangeDb); }
constexpr float GainFraction(float decibels) { return (decibels + Graphic::kMaxGainDb) / (2.0f * Graphic::kMaxGainDb); }
constexpr float RangeFraction(float decibels)
{
    return (decibels - Graphic::kMinRangeDb) / (Graphic::kMaxRangeDb - Graphic::kMinRangeDb);
}

template <std::size_t Bands>
constexpr PresetRow<Bands + 4> Preset(const char* key, const std::array<float, Bands>& decibels, float rangeDb = 0.0f,
                                      float masterDb = 0.0f)
{
    PresetRow<Bands + 4> row{key, {}};
    row.values[GraphicEQ::kAccuracy] = kAccuracyFraction;
    row.values[GraphicEQ::kGain] = GainFraction(masterDb);
    row.values[GraphicEQ::kRange] = rangeDb > 0.0f ? RangeFraction(rangeDb) : kDefaultRangeFraction;
    row.values[GraphicEQ::kReset] = 0.0f;
    for (std::size_t band = 0; band < Bands; ++band)
        row.values[GraphicEQ::kFirstBand + band] = BandFraction(decibels[band]);
    return row;
}

constexpr PresetRow<14> P10(const char* key, const std::array<float, 10>& decibels, float rangeDb = 0.0f,
                           float masterDb = 0.0f)
{
    return Preset<10>(key, decibels, rangeDb, masterDb);
}
constexpr PresetRow<24> P20(const char* key, const std::array<float, 20>& decibels) { return Preset<20>(key, decibels); }
constexpr PresetRow<34> P30(const char* key, const std::array<float, 30>& decibels, float rangeDb = 0.0f,
                           float masterDb = 0.0f)
{
    return Preset<30>(key, decibels, rangeDb, masterDb);
}

#define ZOC_GEQ10(key) "$$$/AudioComponents/GraphicQE10Presets/" key
#define ZOC_GEQ20(key) "$$$/AudioComponents/GraphicEQ20Presets/" key
#define ZOC_GEQ30(key) "$$$/AudioComponents/GraphicQE30Presets/" key

// 31.5 Hz, 63, 125, 250, 500, 1k, 2k, 4k, 8k, 16k
constexpr std::array kPresets10{
    P10(kDefaultPresetKey, {}),
    P10(ZOC_GEQ10("1965=1965"), {-12, -8, -3, 0, 2, 3, 2, -2, -8, -14}),
    P10(ZOC_GEQ10("1965_2=1965 - Part 2"), {-15, -15, -9, -2, 3, 5, 3, -6, -15, -15}),
    P10(ZOC_GEQ10("LoFidelity=Lo-Fidelity"), {-15, -15, -15, -8, 0, 5, 6, 0, -15, -15}),
    P10(ZOC_GEQ10("MusicalPresence=Musical Presence"), {0, 0, 0, -1, 0, 1, 3, 4, 2, 1}),
    P10(ZOC_GEQ10("NotchEveryTwoOctaves=Notch Every Two Octaves"), {-15, 0, -15, 0, -15, 0, -15, 0, -15, 0}),
    P10(ZOC_GEQ10("QuickHiPassFilter=Quick Hi-Pass Filter"), {-30, -24, -12, -3, 0, 0, 0, 0, 0, 0}, 30.0f),
    P10(ZOC_GEQ10("QuickLowPassFilter=Quick Low-Pass Filter"), {0, 0, 0, 0, 0, 0, -3, -12, -24, -30}, 30.0f),
    P10(ZOC_GEQ10("RattleTheTrunk=Rattle The Trunk (Be Careful)"), {15, 15, 9, 3, 0, 0, 0, 0, 0, 0}, 0.0f, -3.0f),
    P10(ZOC_GEQ10("SimpleBassCut=Simple Bass Cut"), {-9, -6, -3, -1, 0, 0, 0, 0, 0, 0}),
    P10(ZOC_GEQ10("SimpleBassLift=Simple Bass Lift"), {6, 5, 3, 1, 0, 0, 0, 0, 0, 0}),
    P10(ZOC_GEQ10("SimpleHighCut=Simple High Cut"), {0, 0, 0, 0, 0, 0, -1, -3, -6, -9}),
    P10(ZOC_GEQ10("SimpleHighLift=Simple High Lift"), {0, 0, 0, 0, 0, 0, 1, 3, 5, 6}),
    P10(ZOC_GEQ10("VocalPresenceBoost=Vocal Presence - Boost"), {0, 0, -1, -1, 0, 2, 4, 3, 1, 0}),
    P10(ZOC_GEQ10("VocalPresenceCut=Vocal Presence - Cut"), {0, 0, 1, 1, 0, -2, -4, -3, -1, 0}),
};

// 31.5 Hz, 45, 63, 90, 125, 180, 250, 355, 500, 710,
// 1k, 1.4k, 2k, 2.8k, 4k, 5.6k, 8k, 11.2k, 16k, 22.4k
constexpr std::array kPresets20{
    P20(kDefaultPresetKey, {}),
    P20(ZOC_GEQ20("20BandClassicV=20 Band Classic V"),
        {6, 5.5f, 5, 4, 3, 2, 0.5f, -1, -2.5f, -3.5f, -4, -3.5f, -2.5f, -1, 0.5f, 2, 3.5f, 5, 6, 6}),
    P20(ZOC_GEQ20("BowedString=Bowed String"), {-6, -4, -2, 0, 1, 2, 2, 1, 0, -1, -1, 0, 1, 2, 3, 2, 1, 0, -2, -3}),
    P20(ZOC_GEQ20("BrightAndPunchy=Bright and Punchy"), {2, 3, 4, 3, 1, 0, -1, -2, -2, -1, 0, 1, 2, 3, 4, 5, 5, 4, 3, 2}),
    P20(ZOC_GEQ20("CymbalShimmer=Cymbal Shimmer"),
        {-12, -12, -12, -9, -6, -3, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 5, 6, 6, 5}),
    P20(ZOC_GEQ20("DarkAndDull=Dark and Dull"), {2, 2, 2, 1, 1, 0, 0, 0, 0, 0, -1, -2, -3, -5, -7, -9, -11, -12, -12, -12}),
    P20(ZOC_GEQ20("DestinationCarStereo=Destination - Car Stereo"),
        {-6, -5, -4, -3, -2, -1, 0, 0, -1, -1, 0, 0, 1, 2, 2, 1, 0, 0, -1, -2}),
    P20(ZOC_GEQ20("HeavyGuitar=Heavy Guitar"), {-12, -9, -6, -2, 1, 3, 3, 1, -2, -3, -2, 0, 2, 4, 3, 1, -2, -6, -9, -12}),
    P20(ZOC_GEQ20("LivenUpDeadSamples=Liven up dead samples"), {1, 1, 2, 2, 1, 0, -1, -1, 0, 0, 1, 2, 3, 3, 4, 4, 5, 5, 4, 3}),
    P20(ZOC_GEQ20("NotchEveryOctave=Notch Every Octave"),
        {-15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0}),
    P20(ZOC_GEQ20("PossibleBass=Possible Bass"), {9, 9, 8, 6, 4, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    P20(ZOC_GEQ20("SlopingHighEndBoost=Sloping High End Boost"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
    P20(ZOC_GEQ20("SlopingLowEndBoost=Sloping Low End Boost"), {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    P20(ZOC_GEQ20("TinnyAndBrittle=Tinny and Brittle"),
        {-15, -15, -15, -12, -9, -6, -3, 0, 0, 1, 2, 3, 4, 5, 6, 6, 5, 4, 2, 0}),
    P20(ZOC_GEQ20("VocalMagic=Vocal Magic (breath)"), {-9, -6, -4, -2, -1, 0, 0, -1, -1, 0, 0, 0, 1, 1, 2, 3, 4, 5, 6, 6}),
};

// 25 Hz, 31.5, 40, 50, 63, 80, 100, 125, 160, 200,
// 250, 315, 400, 500, 630, 800, 1k, 1.25k, 1.6k, 2k,
// 2.5k, 3.15k, 4k, 5k, 6.3k, 8k, 10k, 12.5k, 16k, 20k
constexpr std::array kPresets30{
    P30(kDefaultPresetKey, {}),
    P30(ZOC_GEQ30("Bass=Bass - Increased Clarity"),
        {-9, -6, -3, 0, 1, 2, 2, 1, 0, -1, -2, -2, -1, 0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 0, -1, -2, -3, -3, -3, -3}),
    P30(ZOC_GEQ30("BkgVocal=Bkg. Vocal - Separate from Lead Vocal"),
        {-15, -15, -12, -9, -6, -4, -3, -2, -1, 0, 0, 0, 0, 0, 0, 0, -1, -2, -3, -4, -4, -3, -2, -1, 0, 0, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("ClassicV=Classic V"),
        {7, 7, 6, 5, 4, 3, 2, 1, 0, -1, -2, -3, -4, -4, -5, -5, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 7}),
    P30(ZOC_GEQ30("DestinationHomeTheater=Destination - Home Theater"),
        {3, 3, 2, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -2, -2, -3}),
    P30(ZOC_GEQ30("Drums=Drums"),
        {0, 2, 3, 4, 4, 3, 1, 0, -1, -2, -3, -4, -4, -3, -2, -1, 0, 1, 2, 3, 3, 3, 2, 2, 2, 3, 3, 3, 2, 1}),
    P30(ZOC_GEQ30("GenericAttackBooster=Generic Attack Booster"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("GenericMudRemoval=Generic Mud Removal"),
        {0, 0, 0, 0, 0, 0, 0, -1, -2, -3, -4, -5, -4, -3, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("GentleHiBoost=Gentle Hi Boost"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3, 3, 3, 3, 3}),
    P30(ZOC_GEQ30("GentleHiCut=Gentle Hi Cut"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -0.5f, -1, -1.5f, -2, -2.5f, -3, -3, -3, -3, -3, -3}),
    P30(ZOC_GEQ30("GentleLowBoost=Gentle Low Boost"),
        {3, 3, 3, 3, 3, 2.5f, 2, 1.5f, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("GentleLowCut=Gentle Low Cut"),
        {-3, -3, -3, -3, -3, -2.5f, -2, -1.5f, -1, -0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("GentleMidBoost=Gentle Mid Boost"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3, 3, 2.5f, 2, 1.5f, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0}),
    P30(ZOC_GEQ30("GentleMidCut=Gentle Mid Cut"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -0.5f, -1, -1.5f, -2, -2.5f, -3, -3, -3, -2.5f, -2, -1.5f, -1, -0.5f, 0, 0, 0, 0, 0,
         0, 0}),
    P30(ZOC_GEQ30("Guitar=Guitar - Increases Attack"),
        {-12, -12, -9, -6, -3, -1, 0, 0, -1, -1, -2, -2, -1, 0, 0, 1, 1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 0, -1, -2, -3}),
    P30(ZOC_GEQ30("Keyboards=Keyboards - Bright and Clear"),
        {-3, -2, -1, 0, 0, 0, 0, 0, -1, -1, -2, -2, -1, 0, 0, 0, 1, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 3, 3}),
    P30(ZOC_GEQ30("Kick=Kick - Less Boxy, more Attack"),
        {2, 4, 5, 5, 4, 2, 0, -2, -3, -4, -5, -6, -6, -5, -3, -1, 0, 1, 2, 3, 4, 4, 3, 2, 0, -2, -3, -4, -6, -6}),
    P30(ZOC_GEQ30("LeadVocal=Lead Vocal - Presence and Clarity"),
        {-15, -15, -12, -9, -6, -3, -1, 0, 0, -1, -2, -2, -1, 0, 0, 0, 0, 1, 1, 2, 3, 3, 3, 2, 1, 1, 2, 2, 1, 0}),
    P30(ZOC_GEQ30("NotchEvery23Octave=Notch Every 2/3 Octave"),
        {-15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0, -15, 0,
         -15, 0}),
    // The standard phono playback curve (3180, 318 and 75 us), 0 dB at 1 kHz.
    P30(ZOC_GEQ30("RIAADeEmphasis=RIAA De-Emphasis"),
        {19.0f, 18.5f, 17.8f, 16.9f, 15.9f, 14.5f, 13.1f, 11.6f, 9.8f, 8.2f, 6.7f, 5.2f, 3.8f, 2.6f, 1.6f,
         0.8f, 0.0f, -0.7f, -1.6f, -2.6f, -3.7f, -5.0f, -6.6f, -8.2f, -10.0f, -11.9f, -13.7f, -15.6f, -17.7f, -19.6f},
        20.0f, -6.0f),
    P30(ZOC_GEQ30("Snare=Snare - Increase Snap"),
        {-12, -12, -12, -9, -6, -3, -1, 0, 1, 2, 1, -1, -2, -3, -3, -2, -1, 0, 1, 2, 3, 4, 5, 5, 4, 3, 2, 1, 0, 0}),
    P30(ZOC_GEQ30("TakeTheGongOut=Take the \"gong\" out of the cymbals"),
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2, -4, -6, -6, -4, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
};

const GraphicEQMember kMember10{10, 0, "$$$/Effects/GraphicEQ10/", "Band", "Gain=Master Gain", kPresets10};
const GraphicEQMember kMember20{20, 1, "$$$/Effects/GraphicEQ20/", "EQBand", "Gain=Gain", kPresets20};
const GraphicEQMember kMember30{30, 2, "$$$/Effects/GraphicEQ30/", "EQBand", "Gain=Gain", kPresets30};

/// Counts a running impulse update down when the update ends, also by an
/// exception.
struct UpdateTicket {
    explicit UpdateTicket(std::atomic<int>& count) : running(count) {}
    std::atomic<int>& running;
    ~UpdateTicket() { running.fetch_sub(1, std::memory_order_acq_rel); }
};

} // namespace

GraphicEQ10Bands::GraphicEQ10Bands() : GraphicEQ(kMember10, kGraphicEQ10BandsComponentID, kTitle10) {}
GraphicEQ20Bands::GraphicEQ20Bands() : GraphicEQ(kMember20, kGraphicEQ20BandsComponentID, kTitle20) {}
GraphicEQ30Bands::GraphicEQ30Bands() : GraphicEQ(kMember30, kGraphicEQ30BandsComponentID, kTitle30) {}

GraphicEQ::GraphicEQ(const GraphicEQMember& member, const std::string& componentID, const char* titleKey)
    : MultiChannelComponentBase(componentID, core::Localize(titleKey), kMaxChannels, member.presets),
      bands_(member.bands),
      channelCount_(std::min<std::size_t>(GetNumberOfOutputChannels(), static_cast<std::size_t>(kMaxChannels)))
{
    kernel_.SetParameter(Graphic::kBandSet, static_cast<float>(member.bandSet));
    kernel_.SetSampleRate(static_cast<int>(GetSampleRate()));
    kernel_.SetChannels(static_cast<int>(channelCount_.load()));
    BuildParameterInfos(member);
}

GraphicEQ::~GraphicEQ()
{
    // A posted update still uses the kernel: wait until it is done or dropped.
    while (runningUpdates_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

void GraphicEQ::BuildParameterInfos(const GraphicEQMember& member)
{
    using enum host::AudioFilterParameterInfoUnit;
    const std::string prefix = member.keyPrefix;
    auto add = [&](int index, const std::string& key, const char16_t* unitLabel, host::AudioFilterParameterInfoUnit unit,
                   bool automatable, bool kernelBounds) {
        float lo = 0.0f;
        float hi = 1.0f;
        if (kernelBounds)
            kernel_.GetBounds(index, lo, hi);
        AddParameterInfo(static_cast<std::size_t>(index),
                         core::MakeRef<GenericParameterInfo>(core::Localize(prefix + key), unitLabel, unit, index, lo,
                                                             hi, automatable));
    };
    add(kAccuracy, "Accuracy=Accuracy", u"points", kUnitNumber, false, true);
    add(kGain, member.gainKey, u"dB", kUnitDecibels, true, true);
    add(kRange, "Range=Range", u"dB", kUnitDecibels, true, true);
    add(kReset, "Reset=Reset", u"", kUnitNumber, false, false);
    for (int band = 1; band <= bands_; ++band) {
        const std::string number = std::to_string(band);
        add(kFirstBand + band - 1, member.bandKeyStem + number + "=EQ Band " + number, u"dB", kUnitDecibels, true,
            true);
    }
    add(IsProcessingIndex(), "IsProcessing=Is Processing", u"", kUnitNumber, false, false);
}

void GraphicEQ::SetParameter(int index, float normalized)
{
    if (index == IsProcessingIndex())
        return;
    if (const std::optional<float> real = RealFromNormalized(index, normalized)) {
        kernel_.SetParameter(index, *real);
        if (index == kAccuracy)
            updateNeeded_.store(true, std::memory_order_release);
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float GraphicEQ::GetParameter(int index)
{
    if (index == IsProcessingIndex())
        return active_.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    if (!info)
        return 0.0f;
    return info->ToNormalized(kernel_.GetParameter(index));
}

void GraphicEQ::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    kernel_.SetSampleRate(static_cast<int>(GetSampleRate()));
    updateNeeded_.store(true, std::memory_order_release);
}

void GraphicEQ::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_.store(std::min<std::size_t>(count, kMaxChannels), std::memory_order_relaxed);
    kernel_.SetChannels(static_cast<int>(count));
    updateNeeded_.store(true, std::memory_order_release);
}

void GraphicEQ::Resume()
{
    kernel_.Resume();
    updateNeeded_.store(false, std::memory_order_release);
    // Starts the executor's workers here, on the control thread, should
    // nothing have used it yet: the first post from Process must not.
    PostBackgroundTask([] {});
    active_.store(true, std::memory_order_relaxed);
    MultiChannelComponentBase::Resume();
}

void GraphicEQ::Suspend()
{
    MultiChannelComponentBase::Suspend();
    kernel_.Suspend();
    active_.store(false, std::memory_order_relaxed);
}

void GraphicEQ::RunImpulseUpdates()
{
    const UpdateTicket ticket(runningUpdates_);
    // Changes that arrive while the filters are rebuilt are taken up by the
    // same task, so only the first block after a quiet spell posts.
    do
        kernel_.UpdateImpulses();
    while (updateNeeded_.exchange(false, std::memory_order_acq_rel));
}

void GraphicEQ::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    // Clearing the flag with an exchange keeps a change made meanwhile by the
    // control thread from being lost.
    if (IsRenderingOffline()) {
        // A file render rebuilds in place, so a change is heard from this
        // block on whatever the machine's load: the same command gives the
        // same output.
        if (runningUpdates_.load(std::memory_order_acquire) == 0 &&
            updateNeeded_.exchange(false, std::memory_order_acq_rel))
            kernel_.UpdateImpulses();
    } else if (runningUpdates_.load(std::memory_order_acquire) == 0 &&
               updateNeeded_.exchange(false, std::memory_order_acq_rel)) {
        runningUpdates_.store(1, std::memory_order_release);
        // The task captures only `this`, so it fits in std::function's own
        // storage and posting allocates nothing. The executor runs every task
        // it accepts, also while shutting down; a refused post (before
        // Initialize or after Terminate) is counted back here.
        if (!PostBackgroundTask([this] { RunImpulseUpdates(); }))
            runningUpdates_.store(0, std::memory_order_release);
    }
    const std::size_t channels = channelCount_.load(std::memory_order_relaxed);
    for (int frame = 0; frame < frames; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel)
            frameIn_[channel] = inputs[channel][frame];
        kernel_.ProcessOneSample(frameIn_.data(), frameOut_.data());
        for (std::size_t channel = 0; channel < channels; ++channel)
            outputs[channel][frame] = frameOut_[channel];
    }
}

bool GraphicEQ::GetCurveData(int index, std::size_t points, std::vector<float>& curve)
{
    if (index != 0)
        return false;
    return DrawResponseCurve(points, GetSampleRate(), [&](double f) { return kernel_.ComputeFilterResponse(f); },
                             curve);
}

} // namespace zoc::components
