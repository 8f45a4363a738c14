#pragma once
// The Full Reverb's two impulse responses and the room they come from.
//
// The reverberation tail is a cloud of signed events, denser and louder
// early, whose positions follow a logarithmic law and whose amplitudes fall
// exponentially, under a fade-in over the pre-delay. The early reflections
// come from an image-source model of a rectangular room, high-passed. Both
// then pass repeatedly through the coloration sections (low shelf, peak,
// high shelf), so the colour deepens as the response goes on. Everything is
// seeded from the settings: equal settings give equal impulses everywhere.

#include <array>
#include <cstdint>
#include <functional>

namespace zoc::components::fullreverb {

/// Impulse channels are at most this many (the engine's channel limit).
inline constexpr std::uint32_t kMaxImpulseChannels = 32;

/// What shapes the responses (times in ms, frequencies in Hz, room in m^3).
struct Settings {
    float sampleRate = 44100.0f;
    float decayTime = 2636.0f;
    float preDelayTime = 106.0f;
    float diffusion = 823.0f;
    float perception = 16.0f;
    float roomSize = 8879.6f;
    float dimension = 0.736f; ///< width / depth
    float location = -3.4f;   ///< left/right, -100 .. 100 %
    float highPass = 50.0f;   ///< early reflections' high-pass corner
    float lowGain = -15.71f;
    float midGain = -4.29f;
    float highGain = -23.57f;
    float lowFrequency = 52.22f;
    float highFrequency = 16950.0f;
    float midFrequency = 3394.6f;
    float midQ = 1.0f;
    float colorationDecay = 200.0f;
    bool sumInputs = true;
    bool includeDirect = true;
    std::uint32_t channels = 2; ///< processed channels
};

struct Sizes {
    std::int32_t decaySamples = 0;  ///< Ls
    std::int32_t attackSamples = 0; ///< A: frames of the fade-in, at least 10
    std::int32_t impulseLength = 0; ///< L1 = 1.45 Ls: length of both responses
    std::int32_t eventSpan = 0;     ///< L2 = 1.2 Ls: sets the number of events and their decay
    std::uint32_t impulseChannels = 0; ///< K: channels, plus two cross responses for true stereo
};

Sizes ComputeSizes(const Settings& settings);

/// The room in metres: width along x, depth along y (away from the source
/// wall), height along z. Height comes from the volume, the floor plan from
/// the volume and the width/depth ratio.
struct Room {
    double width = 0.0;
    double depth = 0.0;
    double height = 0.0;
};
Room RoomFor(double volume, double dimension);

/// The Room Width, Room Height and Room Depth parameters (m) for a volume
/// and a dimension, in that order.
std::array<double, 3> RoomParameters(double volume, double dimension);

/// Decay (ms) and pre-delay (ms) that suit a room: a Sabine estimate with an
/// average absorption of 0.2, and half the sum of the room's edges in feet
/// as pre-delay, each held to the parameter's maximum.
struct RoomReverb {
    float decayTime = 0.0f;
    float preDelayTime = 0.0f;
};
RoomReverb ReverbForRoom(double volume, double dimension);

/// What the synthesis found out besides the samples.
struct Result {
    /// Frames of the reverberation response that carry sound (the rest is
    /// zero), at most L1.
    std::uint32_t length = 0;
    /// Arrival of the direct path per impulse channel, in frames after the
    /// nearest one.
    std::array<std::uint32_t, kMaxImpulseChannels> directDelays{};
};

/// Writes K * L1 floats of reverberation and of early reflections,
/// interleaved by frame. `progress` hears the fraction done (0 .. 0.9).
/// Allocates; for a worker or control thread.
Result Synthesize(const Settings& settings, const Sizes& sizes, float* reverberation, float* early,
                  const std::function<void(float)>& progress);

/// The early reflections of impulse channel `channel` into `early`
/// (interleaved over K channels, L1 frames), high-passed; returns the
/// direct path's arrival in frames.
std::uint32_t AddEarlyReflections(const Settings& settings, const Sizes& sizes, std::uint32_t channel, float* early);

} // namespace zoc::components::fullreverb
