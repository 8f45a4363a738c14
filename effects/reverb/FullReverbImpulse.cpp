// Synthesis of the Full Reverb's reverberation and early-reflection responses.

#include "effects/reverb/FullReverbImpulse.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "dsp/Butterworth.h"
#include "dsp/Denormals.h"
#include "dsp/FilterSection.h"
#include "effects/reverb/ReverbImpulse.h"
#include "platform/core/Random.h"

namespace zoc::components::fullreverb {

namespace {

using reverb::TruncateTo32;
using reverb::TruncateTo64;

/// Feet per metre; the room model works in feet.
constexpr double kFeetPerMetre = 3.280839895;
/// Metres, to feet and back: the room parameters show this round trip.
constexpr double kRoundTrip = 3.280839895 * 0.30480000000121915;
/// Speed of sound, feet per second.
constexpr double kSpeedOfSound = 1130.0;
/// Ear and mouth heights of a seated listener and a standing speaker (ft).
constexpr double kSourceHeight = 6.510214840197056;
constexpr double kListenerHeight = 3.5390069743952925;
/// (kSourceHeight - kListenerHeight)^2.
constexpr double kHeightDifferenceSquared = 8.828076181802272;
/// Half the distance between the ears (m).
constexpr double kHalfEarSpacing = 0.167;
/// Absorption of floor and ceiling per reflection; walls absorb nothing.
constexpr double kFloorGain = 0.75;
constexpr double kCeilingGain = 0.85;
/// A jittered image is never nearer than this (ft), which keeps 1/d^2 finite.
constexpr double kNearestImage = 1.0;
/// Image counts per axis.
constexpr int kMinImages = 4;
constexpr int kMaxImages = 100;

/// The rate the event amplitudes are designed for. The number of events
/// grows with the rate, so their amplitudes scale with the square root of
/// kDesignRate / rate: the tail sounds equally loud at every rate.
constexpr double kDesignRate = 44100.0;

/// Impulses longer than this (frames) are cut: 6 s at 384 kHz with room.
constexpr std::int32_t kMaxImpulseLength = 1 << 22;
/// Events weaker than this (2^-20) do not count towards the sounding length.
constexpr float kAudibleLevel = 9.536743e-07f;
/// The sounding length is searched in chunks of this many frames and ends
/// this many frames after the last chunk that sounds.
constexpr std::int32_t kLengthChunk = 1000;
/// The coloration sections run over the response at most this many times:
/// a Coloration Decay below one frame would never advance, and very short
/// steps cost minutes for a colour the ear cannot tell apart. No preset
/// comes near it (the shortest step gives about 22 passes).
constexpr std::int32_t kMaxColorationPasses = 64;

/// The 21-bit linear congruential generator of the tail's events.
class EventGenerator {
public:
    explicit EventGenerator(std::uint32_t seed) : state_(seed % 412123u) {}
    /// Uniform in [0, 1).
    double Next()
    {
        state_ = static_cast<std::uint32_t>((524309ull * state_ + 1ull) & 0x1FFFFFull);
        return static_cast<double>(state_) * (1.0 / 2097152.0);
    }

private:
    std::uint32_t state_;
};

/// Seeds from everything that shapes the responses except the coloration,
/// which seeds the runtime generator (used to pick a cache slot).
std::uint32_t EventSeed(const Settings& settings, const Sizes& sizes)
{
    const std::int64_t mixed = TruncateTo64(static_cast<double>(settings.roomSize) * 10000019.0) ^
                               TruncateTo64(static_cast<double>(settings.location) * 100000007.0) ^
                               TruncateTo64(static_cast<double>(settings.dimension) * 10007.0) ^
                               TruncateTo64(static_cast<double>(settings.perception) * 100003.0) ^
                               TruncateTo64(static_cast<double>(settings.diffusion) * 1000003.0);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(mixed)) ^
           static_cast<std::uint32_t>(sizes.decaySamples) ^ static_cast<std::uint32_t>(sizes.attackSamples);
}

/// The signed events of one channel's tail, at stride K.
void AddTailEvents(const Settings& settings, const Sizes& sizes, EventGenerator& generator, float* response,
                   std::size_t stride)
{
    const double diffusionShape = 4.5 - static_cast<float>(settings.diffusion * 3300.0f) / 1000000.0;
    const double level = std::pow(10.0, (diffusionShape - 2.24) * 6.0 / 20.0);
    const double exponent = static_cast<float>(std::pow(2.0, 7.0 * settings.perception / 200.0));
    const double spread = std::pow(10.0, diffusionShape);
    const double decay = -2.6 * sizes.eventSpan / sizes.decaySamples;
    double shapeSum = 0.0;
    for (int i = 0; i < 100; ++i)
        shapeSum += std::pow(i / 100.0, exponent);
    const double scale = level * 2.0 / shapeSum / (exponent / 12.0 + 1.0) / std::sqrt(0.6) *
                         std::sqrt(kDesignRate / settings.sampleRate);
    const double logSpread = std::log(spread + 1.0);
    const std::int32_t events = TruncateTo32(sizes.eventSpan * 0.6);
    const double lastFrame = sizes.impulseLength - 2;

    // Each event's amplitude comes from the uniform that placed the one before.
    double u = generator.Next();
    for (const float sign : {1.0f, -1.0f}) {
        for (std::int32_t i = 0; i < events; ++i) {
            const double weight = std::pow(u, exponent) * scale;
            u = generator.Next();
            const double x = std::log(u * spread + 1.0) / logSpread;
            const std::int32_t t = std::clamp(TruncateTo32(lastFrame * x), 0, sizes.impulseLength - 1);
            const auto amplitude =
                static_cast<float>(std::pow((1.0 - x) + 0.2, 2.5) * weight * std::pow(10.0, x * decay));
            response[static_cast<std::size_t>(t) * stride] += sign * amplitude;
        }
    }
}

/// A 96 dB exponential fade-in over the attack frames.
void FadeIn(const Sizes& sizes, float* response, std::size_t stride)
{
    const float growth = std::exp(std::log(65536.0f) / static_cast<float>(sizes.attackSamples));
    float gain = 1.0f / 65536.0f;
    for (std::int32_t t = 0; t < sizes.impulseLength && gain < 1.0f; ++t) {
        gain *= growth;
        response[static_cast<std::size_t>(t) * stride] *= gain;
    }
}

/// The coloration: from every step's start frame to the end, both responses
/// pass through peak, low shelf and high shelf once more, each design
/// gliding in from flat over one step. Later parts of the responses are thus
/// cut more often: the cut bands die away faster, as air and walls make
/// high frequencies do in a real room.
void Colour(const Settings& settings, const Sizes& sizes, float* reverberation, float* early, std::size_t stride)
{
    using dsp::FilterSection;
    std::array<FilterSection, 3> tail{FilterSection(dsp::fPARA), FilterSection(dsp::fLOSHELVE),
                                      FilterSection(dsp::fHISHELVE)};
    std::array<FilterSection, 3> reflections = tail;
    const float smoothing = settings.colorationDecay / 1000.0f;
    for (FilterSection& section : tail)
        section.setSmoothingTime(smoothing);
    for (FilterSection& section : reflections)
        section.setSmoothingTime(smoothing);

    const std::int32_t length = sizes.impulseLength;
    const std::int32_t shortest = std::max(1, (length + kMaxColorationPasses - 1) / kMaxColorationPasses);
    const std::int32_t step =
        std::max(shortest, TruncateTo32(settings.sampleRate * settings.colorationDecay / 1000.0f));
    const float rate = settings.sampleRate;
    for (std::int32_t start = 0; start < length; start += step) {
        for (FilterSection& section : tail)
            section.ClearCoefficients();
        // Boosts colour the response once; only cuts repeat. A boost
        // repeated at every step would outgrow any decay (+17 dB every 80 ms
        // in the plate presets) and make the tail swell without bound.
        const auto gain = [&](float decibels) { return start == 0 ? decibels : std::min(decibels, 0.0f); };
        tail[0].Setup(rate, settings.midFrequency, gain(settings.midGain), settings.midQ, 0.1f, 0.1f);
        tail[1].Setup(rate, settings.lowFrequency, gain(settings.lowGain), 1.0f, 0.1f, 0.1f);
        tail[2].Setup(rate, settings.highFrequency, gain(settings.highGain), 1.0f, 0.1f, 0.1f);
        for (std::size_t s = 0; s < tail.size(); ++s)
            reflections[s].CopyCoefficients(tail[s]);
        for (std::int32_t t = start; t < length; ++t) {
            float& r = reverberation[static_cast<std::size_t>(t) * stride];
            r = tail[2].processOneSample(tail[1].processOneSample(tail[0].processOneSample(r)));
            float& e = early[static_cast<std::size_t>(t) * stride];
            e = reflections[2].processOneSample(reflections[1].processOneSample(reflections[0].processOneSample(e)));
        }
    }
}

/// Frames of one channel's tail up to 1000 after the last chunk that holds
/// a sample above the audible level (searched from a quarter of the length).
std::int32_t SoundingLength(const Sizes& sizes, const float* response, std::size_t stride)
{
    const std::int32_t length = sizes.impulseLength;
    std::int32_t candidate = length / 4;
    for (std::int32_t start = length / 4; start < length; start += kLengthChunk) {
        const std::int32_t end = std::min(length, start + kLengthChunk);
        for (std::int32_t t = start; t < end; ++t) {
            if (response[static_cast<std::size_t>(t) * stride] > kAudibleLevel) {
                candidate = end + kLengthChunk;
                break;
            }
        }
    }
    return candidate;
}

/// A linear fade to zero over the last twentieth of the sounding length;
/// frames after it are silent.
void FadeOut(const Sizes& sizes, std::int32_t length, float* response, std::size_t stride)
{
    const auto start = static_cast<std::int32_t>((19 * static_cast<std::int64_t>(length)) / 20);
    const float fall = 1.0f / static_cast<float>(length - start);
    float gain = 1.0f;
    for (std::int32_t t = start; t < length; ++t) {
        response[static_cast<std::size_t>(t) * stride] *= gain;
        gain -= fall;
    }
    for (std::int32_t t = length; t < sizes.impulseLength; ++t)
        response[static_cast<std::size_t>(t) * stride] = 0.0f;
}

} // namespace

Sizes ComputeSizes(const Settings& settings)
{
    const float rate = settings.sampleRate;
    Sizes sizes;
    sizes.decaySamples = std::max(16, TruncateTo32(rate * settings.decayTime / 1000.0f));
    sizes.attackSamples = std::max(10, TruncateTo32(settings.preDelayTime * rate / 1000.0f));
    sizes.impulseLength = std::clamp(TruncateTo32(sizes.decaySamples * 1.45), 16, kMaxImpulseLength);
    sizes.eventSpan = TruncateTo32(sizes.decaySamples * 1.2);
    const std::uint32_t channels = std::clamp<std::uint32_t>(settings.channels, 1, kMaxImpulseChannels);
    sizes.impulseChannels = !settings.sumInputs && channels == 2 ? 4 : channels;
    return sizes;
}

Room RoomFor(double volume, double dimension)
{
    Room room;
    room.height = (std::pow(volume, 0.333) - 3.1) * 27.5 / 43.0 + 2.5;
    room.depth = std::sqrt(volume / dimension / room.height);
    room.width = dimension * room.depth;
    return room;
}

std::array<double, 3> RoomParameters(double volume, double dimension)
{
    const Room room = RoomFor(volume, dimension);
    return {room.width * kRoundTrip, room.depth * kRoundTrip, room.height * kRoundTrip};
}

RoomReverb ReverbForRoom(double volume, double dimension)
{
    const Room room = RoomFor(volume, dimension);
    const double w = room.width * kFeetPerMetre;
    const double d = room.depth * kFeetPerMetre;
    const double h = room.height * kFeetPerMetre;
    const auto seconds = static_cast<float>(w * 0.049 * d * h / (2.0 * w * d + 2.0 * w * h + 2.0 * d * h) * 5.0);
    RoomReverb reverb;
    reverb.decayTime = std::min(seconds * 1000.0f, 6000.0f);
    reverb.preDelayTime = static_cast<float>(std::min((w + d + h) * 0.5, 200.0));
    return reverb;
}

std::uint32_t AddEarlyReflections(const Settings& settings, const Sizes& sizes, std::uint32_t channel, float* early)
{
    const double dimension = std::clamp(static_cast<double>(settings.dimension), 0.001, 1000.0);
    const Room room = RoomFor(settings.roomSize, dimension);
    const double rate = settings.sampleRate;

    // Placement in metres: the listener a little off centre, against the
    // pan; one source (or a pair, for true stereo) towards the front wall.
    const double centre = room.width / 2.0;
    const double location = settings.location / 100.0;
    const double listenerX = centre - location * room.width * 0.1;
    const double listenerY = room.depth * 0.6180339887 * 4.0 / 3.0;
    const bool twoChannels = settings.channels == 2;
    const std::array<double, 2> earX{twoChannels ? listenerX - kHalfEarSpacing : listenerX,
                                     twoChannels ? listenerX + kHalfEarSpacing : listenerX};
    std::array<double, 2> sourceX{location * room.width * 0.42 + centre, 0.0};
    double sourceY = room.depth * 0.22;
    if (twoChannels && !settings.sumInputs) {
        sourceX = {(location - 0.23) * room.width * 0.26 + centre, (location + 0.23) * room.width * 0.26 + centre};
        sourceY = room.depth * 0.28;
    }
    // Impulse channel k hears source k / 2 at ear k % 2 (two channels), or
    // the one source at the one ear.
    const auto pairOf = [&](std::uint32_t k) { return twoChannels ? std::pair{k / 2, k % 2} : std::pair{0u, 0u}; };
    const auto directDistance = [&](std::uint32_t k) {
        const auto [source, ear] = pairOf(k);
        const double dx = (sourceX[source] - earX[ear]) * kFeetPerMetre;
        const double dy = (sourceY - listenerY) * kFeetPerMetre;
        return std::sqrt(dx * dx + dy * dy + kHeightDifferenceSquared);
    };
    double reference = directDistance(0);
    for (std::uint32_t k = 1; k < sizes.impulseChannels; ++k)
        reference = std::min(reference, directDistance(k));

    const double width = room.width * kFeetPerMetre;
    const double depth = room.depth * kFeetPerMetre;
    const double height = room.height * kFeetPerMetre;
    const auto [source, ear] = pairOf(channel);
    const double sx = sourceX[source] * kFeetPerMetre, sy = sourceY * kFeetPerMetre, sz = kSourceHeight;
    const double lx = earX[ear] * kFeetPerMetre, ly = listenerY * kFeetPerMetre, lz = kListenerHeight;

    // Orders: about 3333 images in all, spread over the axes by the room's
    // proportions (the vertical ones thinned by the floor and ceiling losses).
    const double widthPerDepth = width / depth;
    const double vertical = (width / height) * kCeilingGain * kFloorGain * kCeilingGain * kFloorGain;
    const std::int32_t order =
        TruncateTo32(std::exp(std::log(3333.3333333333335 / widthPerDepth / vertical) / 3.0) + 2.0);
    const auto countFor = [&](double share) {
        const std::int64_t count = (static_cast<std::int64_t>(TruncateTo32(order * share)) / 2) * 2 + 1;
        return static_cast<int>(std::clamp<std::int64_t>(count, kMinImages, kMaxImages));
    };
    const int countX = countFor(1.0), countY = countFor(widthPerDepth), countZ = countFor(vertical);

    std::vector<double> verticalGain(static_cast<std::size_t>(countZ));
    for (int index = 0; index < countZ; ++index) {
        const int m = index - countZ / 2;
        double gain = 1.0;
        bool floor = m < 0;
        for (int r = 0; r < std::abs(m); ++r, floor = !floor)
            gain *= floor ? kFloorGain : kCeilingGain;
        verticalGain[static_cast<std::size_t>(index)] = gain;
    }
    const auto image = [](int i, double size, double position) {
        return i % 2 == 0 ? i * size + position : (i + 1) * size - position;
    };

    // Visits every image but the first floor image with its amplitude and arrival.
    const auto visit = [&](auto&& use) {
        for (int xi = 0; xi < countX; ++xi) {
            const int i = xi - countX / 2;
            const double dx = image(i, width, sx) - lx;
            for (int yi = 0; yi < countY; ++yi) {
                const int j = yi - countY / 2;
                const double dy = image(j, depth, sy) - ly;
                for (int zi = 0; zi < countZ; ++zi) {
                    const int m = zi - countZ / 2;
                    if (i == 0 && j == 0 && m == -1)
                        continue;
                    const double dz = image(m, height, sz) - lz;
                    const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
                    const int reflections = std::abs(i) + std::abs(j) + std::abs(m);
                    // A fixed pseudo-random spread of path lengths, growing
                    // with the order, so high orders do not ring periodically.
                    const double jitter = static_cast<double>(((41 * m + 29 + 17 * i + j) * 1933) % 59) / 59.0;
                    const double path =
                        std::max(kNearestImage, distance + (2.0 * jitter - 1.0) * reflections / 48.0);
                    double amplitude = verticalGain[static_cast<std::size_t>(zi)] / (path * path);
                    if ((i + j + m) % 2 != 0)
                        amplitude = -amplitude;
                    const std::int32_t arrival =
                        TruncateTo32(std::max(0.0, (path - reference) / kSpeedOfSound * rate));
                    use(i == 0 && j == 0 && m == 0, amplitude, arrival);
                }
            }
        }
    };
    double largest = 1e-9;
    std::uint32_t direct = 0;
    visit([&](bool isDirect, double amplitude, std::int32_t arrival) {
        largest = std::max(largest, std::fabs(amplitude));
        if (isDirect)
            direct = static_cast<std::uint32_t>(arrival);
    });
    const std::size_t stride = sizes.impulseChannels;
    visit([&](bool isDirect, double amplitude, std::int32_t arrival) {
        if (!isDirect && arrival < sizes.impulseLength)
            early[static_cast<std::size_t>(arrival) * stride + channel] += static_cast<float>(amplitude / largest);
    });

    ButterworthFilter_impl highPass;
    highPass.Design(settings.highPass / rate, 0.5, 2, 10);
    highPass.ProcessBlock(early + channel, sizes.impulseLength, static_cast<int>(stride));

    // Relative to a direct sound of 1, the reflections of a small room with
    // hard walls carry many times its energy (over 40 times in the plate
    // presets' rooms) and ring at the room's modes. They are held to the
    // energy of a unit impulse, so the early level means the same in every
    // room; larger rooms stay below it and keep their own level.
    double energy = 0.0;
    for (std::int32_t t = 0; t < sizes.impulseLength; ++t) {
        const double value = early[static_cast<std::size_t>(t) * stride + channel];
        energy += value * value;
    }
    if (energy > 1.0) {
        const auto scale = static_cast<float>(1.0 / std::sqrt(energy));
        for (std::int32_t t = 0; t < sizes.impulseLength; ++t)
            early[static_cast<std::size_t>(t) * stride + channel] *= scale;
    }
    return direct;
}

Result Synthesize(const Settings& settings, const Sizes& sizes, float* reverberation, float* early,
                  const std::function<void(float)>& progress)
{
    dsp::ScopedFlushDenormals flushDenormals;
    const auto report = [&](float fraction) {
        if (progress)
            progress(fraction);
    };
    report(0.1f);
    const std::uint32_t channels = sizes.impulseChannels;
    const std::size_t stride = channels;

    const std::uint32_t seed = EventSeed(settings, sizes);
    EventGenerator generator(seed);
    const float colourSum = settings.midGain + settings.lowGain + settings.highGain + settings.lowFrequency +
                            settings.midFrequency + settings.highFrequency;
    core::crt::srand(static_cast<unsigned>(TruncateTo32(colourSum)) + seed);

    Result result;
    std::int32_t length = 0;
    for (std::uint32_t k = 0; k < channels; ++k) {
        report(0.1f + 0.6f * static_cast<float>(k) / static_cast<float>(channels));
        AddTailEvents(settings, sizes, generator, reverberation + k, stride);
        FadeIn(sizes, reverberation + k, stride);
        result.directDelays[k] = AddEarlyReflections(settings, sizes, k, early);
        Colour(settings, sizes, reverberation + k, early + k, stride);
        length = std::max(length, std::min(SoundingLength(sizes, reverberation + k, stride), sizes.impulseLength));
    }
    for (std::uint32_t k = 0; k < channels; ++k)
        FadeOut(sizes, length, reverberation + k, stride);
    for (std::uint32_t k = 0; k < channels; ++k) {
        report(0.7f + 0.2f * static_cast<float>(k) / static_cast<float>(channels));
        reverb::BlockDC(early + k, static_cast<std::size_t>(sizes.impulseLength), stride);
        reverb::BlockDC(reverberation + k, static_cast<std::size_t>(sizes.impulseLength), stride);
    }
    result.length = static_cast<std::uint32_t>(length);
    return result;
}

} // namespace zoc::components::fullreverb
