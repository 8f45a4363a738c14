// FullReverb: room model and tail, cached in ten slots, convolved on the engine.

#include "effects/reverb/FullReverb.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

#include "dsp/Denormals.h"
#include "effects/reverb/ReverbImpulse.h"
#include "framework/Library.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/Files.h"
#include "platform/core/Localizer.h"
#include "platform/core/Random.h"

namespace zoc::components {

const std::string kFullReverbComponentID =
    core::Guid{0x7D0C5B2E, 0x41A9, 0x4E37, {0x8B, 0x6F, 0x2A, 0xC4, 0x90, 0x1D, 0x5E, 0x73}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0x1F9A6C03, 0xD85B, 0x4A72, {0xA3, 0x4E, 0x6B, 0x07, 0xF2, 0x58, 0xC9, 0x1D}};
constexpr const char* kTitleKey = "$$$/AudioComponents/FullReverbTitle=Full Reverb";

const ComponentRegistration<FullReverb> kRegistration{"FullReverb", kTitleKey, 0, kFullReverbComponentID,
                                                      kDescriptorGuid,
    "Models a room: early reflections from its size and shape, a coloured tail, dry, early and tail levels apart",
    "Great Hall"};

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

/// Frequency ranges end at half the rate; this is the end at 44.1 kHz.
constexpr float kDefaultNyquist = 22050.0f;

// Room Width, Height and Depth start as the default room's (8879.6 m^3, 0.736)
// and always show the room that Room Size and Dimension describe.
constexpr std::array<ParameterRow, FullReverb::kParameterCount> kParameters{{
    {"$$$/Effects/FullReverb/ReverbDecayTime=Reverberation Decay Time", "ms", kUnitTime, 20, 6000, 2636, true},
    {"$$$/Effects/FullReverb/PreDelayTime=Reverberation Pre-Delay Time", "ms", kUnitTime, 0, 200, 106, true},
    {"$$$/Effects/FullReverb/Diffusion=Diffusion", "ms", kUnitTime, 10, 1000, 823, true},
    {"$$$/Effects/FullReverb/Perception=Perception", "", kUnitNumber, 0, 200, 16, true},
    {"$$$/Effects/FullReverb/OutputLevelDry=Output Level (Dry)", "%", kUnitProportion, 0, 200, 73.1f, true},
    {"$$$/Effects/FullReverb/OutputLevelEarlyReflections=Output Level (Early Reflections)", "%", kUnitProportion, 0,
     200, 27.8f, true},
    {"$$$/Effects/FullReverb/OutputLevelReverberation=Output Level (Reverberation)", "%", kUnitProportion, 0, 500,
     31.5f, true},
    {"$$$/Effects/FullReverb/EarlyRoomSize=Room Size", "m\u00B3", kUnitNumber, 20, 60000, 8879.6f, true},
    {"$$$/Effects/FullReverb/EarlyDimension=Dimension", "Width\u2044Depth", kUnitNumber, 0.05f, 20, 0.736f, true},
    {"$$$/Effects/FullReverb/EarlyLocation=Left/Right Location", "L/R %", kUnitNumber, -100, 100, -3.4f, true},
    {"$$$/Effects/FullReverb/EarlyHighPass=Early Reflectsion High Pass Cutoff", "", kUnitFrequency, 20,
     kDefaultNyquist, 50, true},
    {"$$$/Effects/FullReverb/LowGain=Low Shelf Gain", "dB", kUnitDecibels, -30, 20, -15.71f, true},
    {"$$$/Effects/FullReverb/MidGain=Mid Coloration Gain", "dB", kUnitDecibels, -30, 20, -4.29f, true},
    {"$$$/Effects/FullReverb/HighGain=High Shelf Gain", "dB", kUnitDecibels, -30, 20, -23.57f, true},
    {"$$$/Effects/FullReverb/LowHz=Low Shelf Frequency", "", kUnitFrequency, 20, kDefaultNyquist, 52.22f, true},
    {"$$$/Effects/FullReverb/HighHz=High Shelf Frequency", "", kUnitFrequency, 20, kDefaultNyquist, 16950, true},
    {"$$$/Effects/FullReverb/MidHz=Mid Coloration Center Frequency", "", kUnitFrequency, 20, kDefaultNyquist, 3394.6f,
     true},
    {"$$$/Effects/FullReverb/MidQ=Mid Coloration Q", "", kUnitNumber, 0.1f, 20, 1, true},
    {"$$$/Effects/FullReverb/DecayFilterMultiple=Coloration Decay", "ms", kUnitTime, 0, 500, 200, true},
    {"$$$/Effects/FullReverb/SumInputs=Sum Inputs", "", kUnitSwitch, -0.5f, 1.49f, 1, true},
    {"$$$/Effects/FullReverb/IncludeDirect=Include Direct", "", kUnitSwitch, -0.5f, 1.49f, 1, true},
    {"$$$/Effects/FullReverb/SetReverbBasedOnRoomSize=Set Reverb Based on Room Size", "", kUnitSwitch, -0.5f, 1.49f,
     0, true},
    {"$$$/Effects/FullReverb/CalculationImpulse=Calculating Impulse", "%", kUnitProportion, 0, 100, 100, false},
    {"$$$/Effects/FullReverb/IsProcessing=Is Processing", "", kUnitSwitch, -0.5f, 1.49f, 0, false},
    // Reports the processed channel count; a value set to it is ignored,
    // since the host's layout alone decides the channels.
    {"$$$/Effects/FullReverb/NumChannels=Number of Channels", "", kUnitNumber, 1, 32, 2, false},
    {"$$$/Effects/FullReverb/RoomWidth=Room Width", "m", kUnitNumber, 0, 1000, 21.8178f, true},
    {"$$$/Effects/FullReverb/RoomHeight=Room Height", "m", kUnitNumber, 0, 1000, 29.6437f, true},
    {"$$$/Effects/FullReverb/RoomDepth=Room Depth", "m", kUnitNumber, 0, 1000, 13.7236f, true},
    {"$$$/Effects/FullReverb/OriginalSampleRate=Original Sample Rate", "Hz", kUnitFrequency, 0, 192000, 44100,
     true},
}};

constexpr float Normalized(int index, float value)
{
    const ParameterRow& row = kParameters[static_cast<std::size_t>(index)];
    return (value - row.minimum) / (row.maximum - row.minimum);
}

/// Preset frequencies are stored for the 20 .. 22050 Hz range of 44.1 kHz;
/// Original Sample Rate, applied last, maps them to hertz at any rate.
constexpr float FrequencyAt44k(float hertz) { return (hertz - 20.0f) / 22030.0f; }

struct PresetValues {
    float decay, preDelay, diffusion, perception, dry, early, reverb, room, dimension, location;
    float highPass, lowGain, midGain, highGain, lowHz, highHz, midHz, midQ, colorationDecay;
    bool sumInputs, includeDirect;
    float width, height, depth;
};

constexpr PresetRow<FullReverb::kParameterCount> Preset(const char* key, const PresetValues& v)
{
    using P = FullReverb;
    return {key,
            {Normalized(P::kDecayTime, v.decay), Normalized(P::kPreDelayTime, v.preDelay),
             Normalized(P::kDiffusion, v.diffusion), Normalized(P::kPerception, v.perception),
             Normalized(P::kDryLevel, v.dry), Normalized(P::kEarlyLevel, v.early),
             Normalized(P::kReverbLevel, v.reverb), Normalized(P::kRoomSize, v.room),
             Normalized(P::kDimension, v.dimension), Normalized(P::kLocation, v.location), FrequencyAt44k(v.highPass),
             Normalized(P::kLowGain, v.lowGain), Normalized(P::kMidGain, v.midGain),
             Normalized(P::kHighGain, v.highGain), FrequencyAt44k(v.lowHz), FrequencyAt44k(v.highHz),
             FrequencyAt44k(v.midHz), Normalized(P::kMidQ, v.midQ), Normalized(P::kColorationDecay, v.colorationDecay),
             Normalized(P::kSumInputs, v.sumInputs ? 1.0f : 0.0f),
             Normalized(P::kIncludeDirect, v.includeDirect ? 1.0f : 0.0f), Normalized(P::kReverbFromRoom, 0.0f), 1.0f,
             Normalized(P::kIsProcessing, 0.0f), 0.0625f, Normalized(P::kRoomWidth, v.width),
             Normalized(P::kRoomHeight, v.height), Normalized(P::kRoomDepth, v.depth),
             Normalized(P::kOriginalSampleRate, 44100.0f)}};
}

#define FR_PRESET(key, name) "$$$/AudioComponents/FullReverbPresets/" key "=" name

// decay, pre-delay, diffusion, perception, dry, early, reverb, room, dimension, location,
// high-pass, low/mid/high gain, low/high/mid Hz, mid Q, coloration decay, sum, direct,
// room width/height/depth.
constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, {2636, 106, 823, 16, 73.1f, 27.8f, 31.5f, 8879.6f, 0.736f, -3.4f, 50, -15.71f, -4.29f,
                               -23.57f, 52.22f, 16950, 3394.6f, 1, 200, true, true, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("ChamberPot", "Chamber Pot"),
           {402, 15.5f, 1000, 200, 50, 80, 80, 29, 1.5f, 25, 1839.9f, 0, 0, 0, 35.618f, 12480, 595.1f, 3, 300, true,
            false, 4.188f, 2.792f, 2.48f}),
    Preset(FR_PRESET("Church", "Church"),
           {2452, 75, 967, 8, 63, 71, 88, 2484, 0.38f, 10, 34.699f, -15.7f, -4.29f, -23.6f, 34.699f, 16950, 9200.4f,
            1.5f, 150, true, true, 10.15f, 26.72f, 9.156f}),
    Preset(FR_PRESET("EmptyLivingRoom", "Empty Living Room"),
           {585, 22, 670, 72, 90, 63, 86.1f, 89.741f, 1.23f, -5.7f, 100, -30, 7.86f, -2.86f, 37.3f, 6426, 89, 4, 500,
            true, true, 5.711f, 4.654f, 3.376f}),
    Preset(FR_PRESET("FootballReferee", "Football Referee"),
           {2509, 185, 100, 136, 40, 70, 40, 60000, 1.23f, -15, 20, -9.7f, 0, -7.5f, 34.699f, 5918.9f, 1651.6f, 1.5f,
            300, true, true, 53.84f, 43.77f, 25.46f}),
    Preset(FR_PRESET("FurnishedLivingRoom", "Furnished Living Room"),
           {585, 22, 965, 72, 90, 42.6f, 52, 89.741f, 1.23f, -5.7f, 100, -30, 7.86f, -25, 37.3f, 5701.4f, 89, 4, 500,
            true, true, 5.711f, 4.654f, 3.376f}),
    Preset(FR_PRESET("GhostWhispers", "Ghost Whispers"),
           {1702, 100, 1000, 200, 50, 43.9f, 304, 11500, 20, -90.7f, 14600, 0, 0, 0, 35.618f, 12480, 595.1f, 3, 300,
            true, false, 124.2f, 6.21f, 14.91f}),
    Preset(FR_PRESET("GreatHall", "Great Hall"),
           {3511, 133, 766, 45, 57.4f, 87, 98.1f, 16786, 0.68f, 4.5f, 40, 1.43f, -1, -29.3f, 209.9f, 20647, 633.19f,
            0.7f, 150, true, true, 26.04f, 38.29f, 16.84f}),
    Preset(FR_PRESET("Gymnasium", "Gymnasium"),
           {2438, 111, 612, 89, 69.4f, 78.7f, 62, 8107, 0.399f, 13.6f, 20, -14.3f, 15, -12.1f, 69.643f, 2871.6f, 40, 2,
            500, true, true, 15.58f, 39.05f, 13.33f}),
    Preset(FR_PRESET("Gymnasium2", "Gymnasium 2"),
           {2438, 111, 612, 89, 69.4f, 78.7f, 62, 8107, 0.399f, 13.6f, 20, -14.3f, 8.57f, -13.6f, 69.643f, 3735.6f,
            73.04f, 1, 400, true, true, 15.58f, 39.05f, 13.33f}),
    Preset(FR_PRESET("InTheShower", "In the Shower"),
           {535, 15, 555, 51, 85.2f, 64.8f, 108.3f, 28.78f, 0.385f, 13.6f, 20, -30, 9, 2.86f, 60.284f, 6426, 157, 4,
            500, true, true, 2.116f, 5.496f, 2.475f}),
    Preset(FR_PRESET("InTheShower2", "In the Shower 2"),
           {535, 15, 555, 51, 85.2f, 64.8f, 108.3f, 28.78f, 0.385f, 13.6f, 180, -30, 19.3f, 2.86f, 123.87f, 6426, 157, 3,
            150, true, true, 2.116f, 5.496f, 2.475f}),
    Preset(FR_PRESET("LargeAuditorium", "Large Auditorium"),
           {4283, 154.1f, 876, 45, 73.1f, 39.8f, 16.7f, 52351, 1.23f, -2.6f, 40, -15.7f, -5.71f, -25, 66.357f, 15358,
            1652.1f, 3, 500, true, true, 51.36f, 41.85f, 24.36f}),
    Preset(FR_PRESET("LectureHall", "Lecture Hall"),
           {2636, 106, 823, 16, 73.1f, 27.8f, 31.5f, 8879.6f, 0.736f, -3.4f, 50.317f, -15.7f, -4.29f, -23.6f, 52.154f,
            16950, 3394.3f, 1, 200, true, true, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("LukeWarmRoom", "Luke-Warm Room"),
           {1415, 57, 880, 22, 85.3f, 66.7f, 55.6f, 1375.1f, 1.56f, 13.6f, 80, -12.9f, -6.43f, -12.1f, 26.673f, 3066.7f,
            2312.4f, 6, 500, true, true, 16.77f, 10.77f, 7.612f}),
    Preset(FR_PRESET("MartianEcho", "Martian Echo"),
           {1908, 157.9f, 187, 193, 100, 0, 118.5f, 6458.3f, 1.5f, -20, 20, -18.6f, 20, 4.29f, 19100, 8500, 2001.7f,
            1.2f, 230, true, false, 27.96f, 18.64f, 12.39f}),
    Preset(FR_PRESET("MediumConcertHallCrisp", "Medium Concert Hall (Crisp)"),
           {2636, 106, 823, 16, 73.1f, 25, 19.4f, 8879.6f, 0.736f, -3.4f, 50, -21.4f, 4.29f, -15, 52.22f, 9691.6f,
            5226.4f, 2, 500, true, true, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("MediumConcertHallOpen", "Medium Concert Hall (Open)"),
           {2636, 106, 823, 16, 73.1f, 27.8f, 31.5f, 8879.6f, 0.736f, -3.4f, 50, -15.7f, -4.29f, -23.6f, 52.22f, 16950,
            3394.6f, 1, 200, true, true, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("MediumConcertHallWarm", "Medium Concert Hall (Warm)"),
           {2636, 106, 823, 16, 73.1f, 27.8f, 31.5f, 8879.6f, 0.736f, -3.4f, 50, -17.1f, -7.86f, -20.7f, 52.22f,
            9691.6f, 9756.1f, 3, 500, true, true, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("MediumVocalPlate", "Medium Vocal Plate"),
           {1200, 100, 750, 11, 100.5f, 9.3f, 30, 20, 0.1f, 6.8f, 100, -30, 17.2f, -12.1f, 974.86f, 21337, 522.6f, 0.5f,
            80, true, true, 0.9425f, 9.425f, 2.252f}),
    Preset(FR_PRESET("PrincipalAddressSystem", "Principal Address System"),
           {1623, 64.2f, 600, 200, 50, 70, 50, 2000, 1, 25, 1000.2f, 0, 0, 0, 35.618f, 12480, 595.1f, 3, 300, true,
            true, 15.29f, 15.29f, 8.555f}),
    Preset(FR_PRESET("RichChamber", "Rich Chamber"),
           {3000, 133, 766, 45, 90, 40, 50, 16786, 0.682f, 4.5f, 40, -4.19f, 1.01f, -27.6f, 210.6f, 16197, 1782.3f,
            0.7f, 150, true, true, 26.07f, 38.24f, 16.84f}),
    Preset(FR_PRESET("SmallClub", "Small Club"),
           {1250, 72, 833, 63, 73.1f, 27.8f, 46.3f, 2721, 0.69f, 9.1f, 70, -17.1f, 6.93f, -23.6f, 52.22f, 6750.1f, 45,
            4, 500, true, true, 14.12f, 20.46f, 9.422f}),
    Preset(FR_PRESET("SmallDryRoom", "Small Dry Room"),
           {585, 22, 670, 72, 100, 10, 50, 89.741f, 1.23f, -5.7f, 100, -30, 3.61f, -5.06f, 37.308f, 5063.4f, 124.95f,
            4, 500, true, true, 5.711f, 4.654f, 3.376f}),
    Preset(FR_PRESET("StereoPlate", "Stereo Plate"),
           {1107, 57.4f, 871, 11, 100, 15.5f, 50, 20, 0.07f, 6.8f, 100, -30, 17.2f, -12.1f, 974.86f, 21337, 522.6f,
            0.5f, 80, true, true, 0.7885f, 11.26f, 2.252f}),
    Preset(FR_PRESET("TheKingBathroom", "The King's Bathroom"),
           {1702, 25.3f, 65, 32.9f, 50, 134, 173, 1320, 5.2f, 62, 233.13f, -21.4f, -23.9f, -2.8f, 35.618f, 12480,
            595.1f, 3, 300, false, false, 30.22f, 5.812f, 7.516f}),
    Preset(FR_PRESET("TheatreCrisp", "Theatre (Crisp)"),
           {1928, 77, 823, 16, 73.1f, 25, 25.9f, 3415.5f, 1.27f, -3.4f, 50, -17.1f, 7.86f, -15, 102.24f, 9691.6f,
            7672.2f, 2, 500, true, true, 20.69f, 16.31f, 10.12f}),
    Preset(FR_PRESET("VioliHarpsiHornHal", "VioliHarpsiHornHall"),
           {2636, 106, 823, 16, 70, 25, 35, 8879.6f, 0.736f, -3.4f, 50, -21.4f, 4.29f, -15, 52.22f, 9691.6f, 5226.4f, 2,
            500, true, false, 21.82f, 29.65f, 13.72f}),
    Preset(FR_PRESET("VocalDouble", "Vocal Double"),
           {100, 106, 823, 16, 50, 50, 50, 8879.6f, 0.736f, -3.4f, 50.317f, -6.26f, 1.4f, -2.5f, 58.585f, 16950,
            3394.3f, 2, 250, true, true, 21.82f, 29.65f, 13.72f}),
};

#undef FR_PRESET

/// The synthesis is defined for ordinary audio rates; others are taken as
/// the nearest end of this range.
constexpr float kMinimumRate = 8000.0f;
constexpr float kMaximumRate = 384000.0f;

// Cache records: a magic number, the results of the synthesis (sounding
// length, direct-path delays) and every setting that shapes the responses.
constexpr std::uint32_t kCacheMagic = 0x4433221A;
constexpr std::size_t kLengthAt = 4, kDelaysAt = 8, kSettingsAt = 136, kSumInputsAt = 208, kIncludeDirectAt = 209,
                      kChannelsAt = 210;
// A record matches when its magic and its settings (offsets 136 .. 211)
// are equal, except Include Direct (209), which only the block job reads.
// Byte 210 holds the processed channel count: four channels and true stereo
// both have four impulse channels but place the listener differently.

std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <class Record>
bool SameSettings(const Record& a, const Record& b)
{
    return ReadU32(a.data()) == kCacheMagic && ReadU32(b.data()) == kCacheMagic &&
           std::memcmp(a.data() + kSettingsAt, b.data() + kSettingsAt, kIncludeDirectAt - kSettingsAt) == 0 &&
           std::memcmp(a.data() + kChannelsAt, b.data() + kChannelsAt, FullReverb::kRecordSize - kChannelsAt) == 0;
}

/// out = x * (gR h + gE e) over `count` bins.
void TimesWeighted(const float* __restrict xRe, const float* __restrict xIm, const float* __restrict hRe,
                   const float* __restrict hIm, const float* __restrict eRe, const float* __restrict eIm, float reverb,
                   float early, float* __restrict outRe, float* __restrict outIm, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const float re = reverb * hRe[k] + early * eRe[k];
        const float im = reverb * hIm[k] + early * eIm[k];
        outRe[k] = xRe[k] * re - xIm[k] * im;
        outIm[k] = xRe[k] * im + xIm[k] * re;
    }
}

/// out += x * (gR h + gE e) over `count` bins.
void AddTimesWeighted(const float* __restrict xRe, const float* __restrict xIm, const float* __restrict hRe,
                      const float* __restrict hIm, const float* __restrict eRe, const float* __restrict eIm,
                      float reverb, float early, float* __restrict outRe, float* __restrict outIm, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const float re = reverb * hRe[k] + early * eRe[k];
        const float im = reverb * hIm[k] + early * eIm[k];
        outRe[k] += xRe[k] * re - xIm[k] * im;
        outIm[k] += xRe[k] * im + xIm[k] * re;
    }
}

/// out[delay + i] += gain * in[i] for i < count.
void AddDelayed(const float* __restrict in, float gain, float* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] += gain * in[i];
}

} // namespace

FullReverb::FullReverb()
    : ConvolutionReverbBase(kFullReverbComponentID, core::Localize(kTitleKey), kParameterCount, kPresets),
      cache_(GetTempDir(), "SndxFullReverb")
{
    for (int index = 0; index < kParameterCount; ++index) {
        const ParameterRow& row = kParameters[static_cast<std::size_t>(index)];
        AddParameter(row.key, row.unitLabel, row.unit, index, row.minimum, row.maximum, row.automatable);
        StoreDerived(index, row.defaultValue);
    }
    StoreDerived(kOriginalSampleRate, GetSampleRate());
    StoreValue(kChannelCount, static_cast<float>(ChannelCount()));
    SetFrequencyRanges();
    UpdateRoom();
    // The engine is sized by the first impulse, which Resume or the first
    // block builds before any audio passes, so no placeholder size is
    // allocated here; the latency is known from the settings alone.
    core::crt::srand(2);
}

FullReverb::~FullReverb()
{
    StopConvolveThread();
}

// ---------------------------------------------------------------------------
// Host operations

float FullReverb::EffectiveRate() const
{
    const float rate = GetSampleRate();
    if (!(rate >= kMinimumRate))
        return kMinimumRate;
    return std::min(rate, kMaximumRate);
}

void FullReverb::StoreDerived(int index, float value)
{
    // Held to the nearest value a normalized setting can name, so settings
    // saved as normalized values load back to the same impulse, bit for bit.
    const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    StoreValue(index, info ? info->FromNormalized(info->ToNormalized(value)) : value);
}

void FullReverb::SetFrequencyRanges()
{
    const float nyquist = EffectiveRate() / 2.0f;
    for (int index : {kEarlyHighPass, kLowFrequency, kHighFrequency, kMidFrequency}) {
        if (auto* generic = dynamic_cast<GenericParameterInfo*>(GetParameterInfo(index).get()))
            generic->SetHiBound(nyquist);
        StoreDerived(index, std::min(Value(index), nyquist));
    }
}

void FullReverb::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    {
        std::lock_guard lock(ImpulseMutex());
        ClearRoleTables();
    }
    ConvolutionReverbBase::SetSampleRate(rate);
    SetFrequencyRanges();
    // Frequencies set from now on are set at this rate.
    StoreValue(kOriginalSampleRate, GetSampleRate());
    parametersChanged_ = true;
    impulseDirty_ = true;
}

void FullReverb::OnNumberOfChannelsChanged(std::size_t count)
{
    if (count == ChannelCount())
        return;
    std::lock_guard lock(ImpulseMutex());
    SetChannelCount(std::min<std::size_t>(count, kMaxChannels));
    StoreValue(kChannelCount, static_cast<float>(ChannelCount()));
    ClearRoleTables();
    parametersChanged_ = true;
    impulseDirty_ = true;
}

void FullReverb::Resume()
{
    ConvolutionReverbBase::Resume();
    isProcessing_ = true;
    StoreValue(kIsProcessing, 1.0f);
    core::crt::srand(2);
    parametersChanged_ = false;
    PrepareHandOver();
    {
        std::lock_guard lock(ImpulseMutex());
        RebuildImpulseNow(); // and restarts the blocks from silence
    }
    StartConvolveThread();
    UseBufferSetA();
}

void FullReverb::Suspend()
{
    ConvolutionReverbBase::Suspend();
    isProcessing_ = false;
    StoreValue(kIsProcessing, 0.0f);
    StopConvolveThread();
}

void FullReverb::UpdateRoom()
{
    const std::array<double, 3> room = fullreverb::RoomParameters(Value(kRoomSize), Value(kDimension));
    StoreDerived(kRoomWidth, static_cast<float>(room[0]));
    StoreDerived(kRoomHeight, static_cast<float>(room[1]));
    StoreDerived(kRoomDepth, static_cast<float>(room[2]));
}

void FullReverb::TakeReverbFromRoom()
{
    const fullreverb::RoomReverb reverb = fullreverb::ReverbForRoom(Value(kRoomSize), Value(kDimension));
    StoreDerived(kDecayTime, reverb.decayTime);
    StoreDerived(kPreDelayTime, reverb.preDelayTime);
}

void FullReverb::SetParameter(int index, float normalized)
{
    if (index != kCalculatingImpulse && index != kIsProcessing && index != kChannelCount) {
        if (std::optional<float> value = RealFromNormalized(index, normalized)) {
            if (index == kSumInputs || index == kIncludeDirect || index == kReverbFromRoom)
                *value = *value < 0.5f ? 0.0f : 1.0f;
            if (*value != Value(index)) {
                if (index == kOriginalSampleRate) {
                    // Not stored: the frequencies were set as shares of the
                    // range at that rate; they become hertz at this one.
                    const float span = *value * 0.5f - 20.0f;
                    const float nyquist = EffectiveRate() / 2.0f;
                    for (int frequency : {kEarlyHighPass, kLowFrequency, kHighFrequency, kMidFrequency})
                        StoreDerived(frequency, std::min(GetParameter(frequency) * span + 20.0f, nyquist));
                } else {
                    StoreValue(index, *value);
                    if (index == kRoomSize || index == kDimension) {
                        UpdateRoom();
                        if (Value(kReverbFromRoom) != 0.0f)
                            TakeReverbFromRoom();
                    }
                    if (index == kReverbFromRoom && *value != 0.0f)
                        TakeReverbFromRoom();
                }
                if (index != kDryLevel && index != kEarlyLevel && index != kReverbLevel)
                    impulseDirty_ = true;
            }
        }
    }
    ConvolutionReverbBase::SetParameter(index, normalized);
}

float FullReverb::GetParameter(int index)
{
    const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    if (index < 0 || index >= kParameterCount || !info)
        return 0.0f;
    return info->ToNormalized(Value(index));
}

int FullReverb::GetInitialDelay()
{
    // The engine always runs the full length L (the silent end included), so
    // the latency follows from the settings before any impulse exists.
    const fullreverb::Sizes sizes = fullreverb::ComputeSizes(CurrentSettings());
    return ReportedLatency(reverb::FFTSizeFor(sizes.impulseLength), sizes.impulseLength);
}

double FullReverb::GetTail()
{
    const fullreverb::Settings settings = CurrentSettings();
    return static_cast<double>(fullreverb::ComputeSizes(settings).impulseLength) / settings.sampleRate;
}

// ---------------------------------------------------------------------------
// Engine

void FullReverb::ConvolveBlock()
{
    RunStandardJob(PartOf(Active()).mode == Mode::Summed);
}

void FullReverb::MultiplySpectra(bool /*sumInputs*/, std::size_t channels)
{
    // Under the engine mutex: the mode and spectra are those of one impulse.
    EarlyPart& part = PartOf(Active());
    const std::size_t bins = FFTSize() / 2 + 1;
    const float reverb = Value(kReverbLevel) / 100.0f;
    const float early = 0.5f * (Value(kEarlyLevel) / 100.0f);
    channels = std::min<std::size_t>(channels, Active().ImpulseChannelCount());
    if (part.mode == Mode::Summed) {
        float* averageRe = part.averageRe.Data();
        float* averageIm = part.averageIm.Data();
        std::copy_n(InputSpectrumRe(0), bins, averageRe);
        std::copy_n(InputSpectrumIm(0), bins, averageIm);
        for (std::size_t c = 1; c < channels; ++c) {
            const float* re = InputSpectrumRe(c);
            const float* im = InputSpectrumIm(c);
            for (std::size_t k = 0; k < bins; ++k) {
                averageRe[k] += re[k];
                averageIm[k] += im[k];
            }
        }
        const float share = 1.0f / static_cast<float>(std::max<std::size_t>(channels, 1));
        for (std::size_t k = 0; k < bins; ++k) {
            averageRe[k] *= share;
            averageIm[k] *= share;
        }
        for (std::size_t c = 0; c < channels; ++c)
            TimesWeighted(averageRe, averageIm, ImpulseRe(c), ImpulseIm(c), part.re[c].Data(), part.im[c].Data(),
                          reverb, early, OutputSpectrumRe(c), OutputSpectrumIm(c), bins);
        return;
    }
    for (std::size_t c = 0; c < channels; ++c)
        TimesWeighted(InputSpectrumRe(c), InputSpectrumIm(c), ImpulseRe(c), ImpulseIm(c), part.re[c].Data(),
                      part.im[c].Data(), reverb, early, OutputSpectrumRe(c), OutputSpectrumIm(c), bins);
    if (part.mode == Mode::TrueStereo && channels == 2) {
        AddTimesWeighted(InputSpectrumRe(1), InputSpectrumIm(1), CrossRightToLeftRe(), CrossRightToLeftIm(),
                         part.crossRightToLeftRe.Data(), part.crossRightToLeftIm.Data(), reverb, early,
                         OutputSpectrumRe(0), OutputSpectrumIm(0), bins);
        AddTimesWeighted(InputSpectrumRe(0), InputSpectrumIm(0), CrossLeftToRightRe(), CrossLeftToRightIm(),
                         part.crossLeftToRightRe.Data(), part.crossLeftToRightIm.Data(), reverb, early,
                         OutputSpectrumRe(1), OutputSpectrumIm(1), bins);
    }
}

void FullReverb::FinishJob(std::size_t channels)
{
    const EarlyPart& part = PartOf(Active());
    const float dry = Value(kDryLevel) / 100.0f;
    const std::size_t hop = HopSize();
    channels = std::min<std::size_t>(channels, Active().ImpulseChannelCount());
    if (Value(kIncludeDirect) == 0.0f) {
        for (std::size_t c = 0; c < channels; ++c)
            AddDelayed(JobInput(c), dry, JobOutput(c), hop);
        return;
    }
    // Over the direct path: later and quieter for the farther ear, down to
    // 0.3 of the dry level from 42 frames on. A delay stays below N - B, so
    // the delayed block still fits the job's output.
    const std::size_t latest = FFTSize() - hop;
    const auto add = [&](std::size_t from, std::size_t to, std::size_t impulseChannel) {
        const std::size_t delay = std::min<std::size_t>(part.directDelays[impulseChannel], latest);
        const float gain = dry * (1.0f - std::min(static_cast<float>(delay) / 60.0f, 0.7f));
        AddDelayed(JobInput(from), gain, JobOutput(to) + delay, hop);
    };
    for (std::size_t c = 0; c < channels; ++c)
        add(c, c, c);
    if (part.mode == Mode::TrueStereo && channels == 2) {
        add(1, 0, 2);
        add(0, 1, 3);
    }
}

void FullReverb::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    std::lock_guard lock(ImpulseMutex());
    if (parametersChanged_) {
        core::crt::srand(2);
        parametersChanged_ = false;
    }
    UpdateImpulse();

    const std::size_t channels = ChannelCount();
    if (frames <= 0)
        return;
    if (!HasRoles()) {
        for (std::size_t c = 0; c < channels; ++c)
            std::fill_n(outputs[c], frames, 0.0f);
        return;
    }
    for (int done = 0; done < frames;) {
        // The hop is read again after each boundary: a rebuilt impulse may
        // come with another one.
        if (blockPosition_ == HopSize())
            AdvanceBlock();
        const std::uint32_t hop = HopSize();
        const std::size_t position = blockPosition_;
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(hop - position, frames - done));
        for (std::size_t c = 0; c < channels; ++c) {
            // The input is taken before the output is written, so the host
            // may pass one buffer for both. The dry signal joins in the job.
            TakeInput(inputs[c] + done, FillBuffer(c) + position, count);
            std::copy_n(PlayBuffer(c) + position, count, outputs[c] + done);
        }
        blockPosition_ += static_cast<std::uint32_t>(count);
        done += static_cast<int>(count);
    }
}

// ---------------------------------------------------------------------------
// Impulse

fullreverb::Settings FullReverb::CurrentSettings() const
{
    fullreverb::Settings settings;
    settings.sampleRate = EffectiveRate();
    settings.decayTime = Value(kDecayTime);
    settings.preDelayTime = Value(kPreDelayTime);
    settings.diffusion = Value(kDiffusion);
    settings.perception = Value(kPerception);
    settings.roomSize = Value(kRoomSize);
    settings.dimension = Value(kDimension);
    settings.location = Value(kLocation);
    settings.highPass = Value(kEarlyHighPass);
    settings.lowGain = Value(kLowGain);
    settings.midGain = Value(kMidGain);
    settings.highGain = Value(kHighGain);
    settings.lowFrequency = Value(kLowFrequency);
    settings.highFrequency = Value(kHighFrequency);
    settings.midFrequency = Value(kMidFrequency);
    settings.midQ = Value(kMidQ);
    settings.colorationDecay = Value(kColorationDecay);
    settings.sumInputs = Value(kSumInputs) != 0.0f;
    settings.includeDirect = Value(kIncludeDirect) != 0.0f;
    settings.channels = static_cast<std::uint32_t>(std::max<std::size_t>(ChannelCount(), 1));
    return settings;
}

FullReverb::Record FullReverb::MakeRecord(const fullreverb::Settings& settings, const fullreverb::Sizes& sizes)
{
    core::files::ByteWriter writer;
    writer.U32(kCacheMagic);
    writer.U32(0); // sounding length: filled in after the synthesis
    for (std::uint32_t k = 0; k < fullreverb::kMaxImpulseChannels; ++k)
        writer.U32(0); // direct-path delays: likewise
    writer.U32(sizes.impulseChannels);
    writer.U32(static_cast<std::uint32_t>(sizes.decaySamples));
    writer.U32(static_cast<std::uint32_t>(sizes.attackSamples));
    writer.F32(settings.sampleRate);
    writer.F32(settings.roomSize);
    writer.F32(settings.dimension);
    writer.F32(settings.location);
    for (float value : {settings.lowGain, settings.midGain, settings.highGain, settings.lowFrequency,
                        settings.highFrequency, settings.midFrequency, settings.midQ})
        writer.F32(value);
    writer.F32(settings.diffusion);
    writer.F32(settings.perception);
    writer.F32(settings.colorationDecay);
    writer.F32(settings.highPass);
    writer.U8(settings.sumInputs ? 1 : 0);
    writer.U8(settings.includeDirect ? 1 : 0);
    writer.U8(static_cast<std::uint8_t>(settings.channels));
    writer.U8(0);
    Record record{};
    std::copy(writer.Data().begin(), writer.Data().end(), record.begin());
    return record;
}

void FullReverb::PublishProgress(float progress)
{
    progress_.store(progress, std::memory_order_relaxed);
    StoreValue(kCalculatingImpulse, progress * 100.0f);
    BumpParameterDirtyCount();
}

FullReverb::EarlyPart& FullReverb::PartOf(const EngineBuffers& buffers)
{
    // The engine has two sets of buffers; each gets one part for good.
    for (EarlyPart& part : parts_) {
        if (part.owner.load(std::memory_order_acquire) == &buffers)
            return part;
    }
    for (EarlyPart& part : parts_) {
        const EngineBuffers* none = nullptr;
        if (part.owner.compare_exchange_strong(none, &buffers, std::memory_order_acq_rel))
            return part;
    }
    return parts_[0];
}

const FullReverb::EarlyPart& FullReverb::ActivePart() const
{
    return const_cast<FullReverb*>(this)->PartOf(Active());
}

void FullReverb::PrepareBuffers(const fullreverb::Sizes& sizes, std::uint32_t channels, bool sumInputs,
                                EngineBuffers& into, EarlyPart& part)
{
    const std::uint32_t fftSize = reverb::FFTSizeFor(sizes.impulseLength);
    into.SetSizes(fftSize, static_cast<std::uint32_t>(sizes.impulseLength), sizes.impulseChannels, channels);
    part.mode = sumInputs ? Mode::Summed : (channels == 2 ? Mode::TrueStereo : Mode::Separate);
    const std::size_t samples = static_cast<std::size_t>(sizes.impulseChannels) * sizes.impulseLength;
    into.ImpulseStorage().Zero();
    part.early.Resize(samples);
    part.early.Zero();
    const std::size_t bins = fftSize / 2 + 1;
    for (std::size_t c = 0; c < kMaxChannels; ++c) {
        for (dsp::AlignedBuffer* buffer : {&part.re[c], &part.im[c]}) {
            if (c < channels)
                buffer->Resize(bins);
            else
                buffer->Release();
        }
    }
    for (dsp::AlignedBuffer* buffer : {&part.crossLeftToRightRe, &part.crossLeftToRightIm, &part.crossRightToLeftRe,
                                       &part.crossRightToLeftIm}) {
        if (part.mode == Mode::TrueStereo)
            buffer->Resize(bins);
        else
            buffer->Release();
    }
    part.averageRe.Resize(bins);
    part.averageIm.Resize(bins);
}

fullreverb::Settings FullReverb::SettingsOf(const SettingsSnapshot& snapshot) const
{
    const auto value = [&](int index) { return snapshot.values[static_cast<std::size_t>(index)]; };
    fullreverb::Settings settings;
    const float rate = snapshot.sampleRate;
    settings.sampleRate = !(rate >= kMinimumRate) ? kMinimumRate : std::min(rate, kMaximumRate);
    settings.decayTime = value(kDecayTime);
    settings.preDelayTime = value(kPreDelayTime);
    settings.diffusion = value(kDiffusion);
    settings.perception = value(kPerception);
    settings.roomSize = value(kRoomSize);
    settings.dimension = value(kDimension);
    settings.location = value(kLocation);
    settings.highPass = value(kEarlyHighPass);
    settings.lowGain = value(kLowGain);
    settings.midGain = value(kMidGain);
    settings.highGain = value(kHighGain);
    settings.lowFrequency = value(kLowFrequency);
    settings.highFrequency = value(kHighFrequency);
    settings.midFrequency = value(kMidFrequency);
    settings.midQ = value(kMidQ);
    settings.colorationDecay = value(kColorationDecay);
    settings.sumInputs = value(kSumInputs) != 0.0f;
    settings.includeDirect = value(kIncludeDirect) != 0.0f;
    settings.channels = static_cast<std::uint32_t>(std::clamp<std::size_t>(snapshot.channels, 1, kMaxChannels));
    return settings;
}

bool FullReverb::SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const
{
    // Levels, Include Direct (read by the block job), outputs and the room
    // parameters (shown, not used) do not shape the responses.
    if (a.sampleRate != b.sampleRate || a.channels != b.channels || a.values.size() != b.values.size())
        return false;
    for (int index : {kDecayTime, kPreDelayTime, kDiffusion, kPerception, kRoomSize, kDimension, kLocation,
                      kEarlyHighPass, kLowGain, kMidGain, kHighGain, kLowFrequency, kHighFrequency, kMidFrequency,
                      kMidQ, kColorationDecay, kSumInputs}) {
        const auto at = static_cast<std::size_t>(index);
        if (at >= a.values.size() || a.values[at] != b.values[at])
            return false;
    }
    return true;
}

void FullReverb::BuildImpulse(const SettingsSnapshot& snapshot, EngineBuffers& into)
{
    const fullreverb::Settings settings = SettingsOf(snapshot);
    const fullreverb::Sizes sizes = fullreverb::ComputeSizes(settings);
    const Record record = MakeRecord(settings, sizes);
    EarlyPart& part = PartOf(into);
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
            return LoadSlot(file, size, record, sizes, settings.channels, into, part);
        });
    if (!loaded)
        Synthesize(settings, sizes, record, into, part);
    isCalculating_ = false;
    PublishProgress(1.0f);
}

bool FullReverb::LoadSlot(core::files::File& file, std::uint64_t size, const Record& record,
                          const fullreverb::Sizes& sizes, std::uint32_t channels, EngineBuffers& into,
                          EarlyPart& part)
{
    Record stored{};
    if (file.Read(stored.data(), stored.size()) != stored.size() || !SameSettings(record, stored))
        return false;
    const std::uint64_t fftSize = reverb::FFTSizeFor(sizes.impulseLength);
    const std::uint64_t samples = static_cast<std::uint64_t>(sizes.impulseChannels) * sizes.impulseLength;
    const bool trueStereo = stored[kSumInputsAt] == 0 && channels == 2;
    const std::uint64_t spectra = 2 * (trueStereo ? 8 : 2 * static_cast<std::uint64_t>(channels));
    if (size != kRecordSize + 2 * samples * 4 + spectra * (fftSize / 2 + 1) * 4)
        return false;
    const std::uint32_t length = ReadU32(stored.data() + kLengthAt);
    if (length == 0 || length > static_cast<std::uint32_t>(sizes.impulseLength))
        return false;

    PrepareBuffers(sizes, channels, stored[kSumInputsAt] != 0, into, part);
    const std::size_t bytes = static_cast<std::size_t>(samples) * sizeof(float);
    if (file.Read(part.early.Data(), bytes) != bytes || file.Read(into.ImpulseStorage().Data(), bytes) != bytes)
        return false;
    const std::size_t spectrumBytes = static_cast<std::size_t>(fftSize / 2 + 1) * sizeof(float);
    for (float* spectrum : CachedSpectra(into, part)) {
        if (file.Read(spectrum, spectrumBytes) != spectrumBytes)
            return false;
    }
    part.soundingLength = length;
    for (std::uint32_t k = 0; k < fullreverb::kMaxImpulseChannels; ++k)
        part.directDelays[k] = ReadU32(stored.data() + kDelaysAt + 4 * k);
    return true;
}

std::vector<float*> FullReverb::CachedSpectra(EngineBuffers& into, EarlyPart& part)
{
    const std::size_t channels = into.Channels();
    std::vector<float*> spectra;
    for (std::size_t c = 0; c < channels; ++c) {
        spectra.push_back(into.ImpulseRe(c));
        spectra.push_back(into.ImpulseIm(c));
        spectra.push_back(part.re[c].Data());
        spectra.push_back(part.im[c].Data());
    }
    if (part.mode == Mode::TrueStereo) {
        for (float* spectrum : {into.CrossRightToLeftRe(), into.CrossRightToLeftIm(), into.CrossLeftToRightRe(),
                                into.CrossLeftToRightIm(), part.crossRightToLeftRe.Data(),
                                part.crossRightToLeftIm.Data(), part.crossLeftToRightRe.Data(),
                                part.crossLeftToRightIm.Data()})
            spectra.push_back(spectrum);
    }
    return spectra;
}

void FullReverb::Synthesize(const fullreverb::Settings& settings, const fullreverb::Sizes& sizes, Record record,
                            EngineBuffers& into, EarlyPart& part)
{
    PrepareBuffers(sizes, settings.channels, settings.sumInputs, into, part);
    const fullreverb::Result result =
        fullreverb::Synthesize(settings, sizes, into.ImpulseStorage().Data(), part.early.Data(),
                               [this](float progress) { PublishProgress(progress); });
    part.soundingLength = result.length;
    part.directDelays = result.directDelays;

    PublishProgress(0.9f);
    ComputeSpectra(into, part);

    core::files::ByteWriter writer;
    writer.U32(result.length);
    for (std::uint32_t delay : result.directDelays)
        writer.U32(delay);
    std::copy(writer.Data().begin(), writer.Data().end(), record.begin() + kLengthAt);

    const std::vector<float*> spectra = CachedSpectra(into, part);
    const std::size_t samples = part.early.Size();
    const std::size_t spectrumBytes = (into.FFTSize() / 2 + 1) * sizeof(float);
    std::vector<std::uint8_t> bytes(kRecordSize + 2 * samples * sizeof(float) + spectra.size() * spectrumBytes);
    std::uint8_t* at = bytes.data();
    std::memcpy(at, record.data(), kRecordSize);
    at += kRecordSize;
    std::memcpy(at, part.early.Data(), samples * sizeof(float));
    at += samples * sizeof(float);
    std::memcpy(at, into.ImpulseStorage().Data(), samples * sizeof(float));
    at += samples * sizeof(float);
    for (const float* spectrum : spectra) {
        std::memcpy(at, spectrum, spectrumBytes);
        at += spectrumBytes;
    }
    // The slot comes from the runtime generator, which the settings seeded.
    cache_.Save(core::crt::rand() % ImpulseCacheRing::kSlots, bytes);
}

void FullReverb::ComputeSpectra(EngineBuffers& into, EarlyPart& part)
{
    const std::size_t channels = into.Channels();
    const std::size_t impulseChannels = into.ImpulseChannelCount();
    const std::size_t length = into.ImpulseLength();
    const std::size_t fftSize = into.FFTSize();
    const auto bins = static_cast<std::uint32_t>(fftSize / 2 + 1);
    float* first = into.TransformScratch(0);
    float* second = into.TransformScratch(1);
    // One impulse channel of a response, zero-padded to N.
    const auto extract = [&](const float* response, std::size_t channel, float* target) {
        for (std::size_t t = 0; t < length; ++t)
            target[t] = response[t * impulseChannels + channel];
        std::fill(target + length, target + fftSize, 0.0f);
    };
    const float* reverberation = into.ImpulseStorage().Data();
    const float* early = part.early.Data();
    // Each impulse channel's two responses share one transform.
    for (std::size_t c = 0; c < channels; ++c) {
        extract(reverberation, c, first);
        extract(early, c, second);
        into.ForwardTwoReal(first, second, into.ImpulseRe(c), into.ImpulseIm(c), part.re[c].Data(),
                            part.im[c].Data(), bins);
    }
    if (part.mode == Mode::TrueStereo) {
        // Impulse channel 2 carries the right input into the left output
        // (the second source to the first ear), channel 3 the left into the right.
        extract(reverberation, 2, first);
        extract(early, 2, second);
        into.ForwardTwoReal(first, second, into.CrossRightToLeftRe(), into.CrossRightToLeftIm(),
                            part.crossRightToLeftRe.Data(), part.crossRightToLeftIm.Data(), bins);
        extract(reverberation, 3, first);
        extract(early, 3, second);
        into.ForwardTwoReal(first, second, into.CrossLeftToRightRe(), into.CrossLeftToRightIm(),
                            part.crossLeftToRightRe.Data(), part.crossLeftToRightIm.Data(), bins);
    }
}

} // namespace zoc::components
