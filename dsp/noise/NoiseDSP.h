#pragma once
// Noise synthesiser of the noise generator: brown, pink, white or grey noise
// in four stereo styles, at a set level, with an optional DC offset, over a
// duration, generated or mixed onto the existing audio.
//
// Parameters, in real units (index: meaning, bounds):
//  0 Color, rounded: 0 brown (-6 dB/octave), 1 pink (-3 dB/octave),
//    2 white, 3 grey (inverse ISO 226 40-phon contour; GreyFilter). 0..3
//  1 Style, rounded: 0 spatial stereo (the second channel of each pair is
//    the first delayed by Distance, as if the source stood off to the
//    left); 1 independent channels (a separate stream each); 2 mono (every
//    channel the same); 3 inverse (the second channel of each pair is the
//    negated first). 0..3
//  2 Intensity: level; the noise's RMS is Intensity - 56 dBFS, so 0..38
//    spans -56..-18 dBFS RMS (35, the default, is -21 dBFS). At -18 dBFS the
//    peaks of Gaussian-like noise stay 8 standard deviations below full
//    scale: no sample clips. 0..38
//  3 Distance: inter-channel delay of spatial stereo, ms (fractional delays
//    through a first-order Thiran allpass, flat in level). 0..1
//  4 DC Offset: 0.5 none; the offset is 2 * (value - 0.5) of full scale, so
//    0.75 adds +50 %. The noise is scaled by 1 - |offset| so the sum keeps
//    its headroom. 0..1
//  5 Duration: ms of noise to make; 0 (the default) makes the host's
//    duration (SetDuration). 0..3600000
//  6 Preview mode: the host renders a preview; the sound is the same. 0..1
//  7 Operation mode: below 0.5 the noise replaces the input; from 0.5 it is
//    added to it. 0..1
//
// The noise fades in and out over 10 ms (raised cosine) at the start and end
// of the duration, so it starts and stops without a click. Past the duration
// the output is silence (or the input, when adding).
//
// The same settings always give the same samples: every stream has its own
// xoshiro256** generator with a fixed seed (stream k of independent channels
// is the same whatever the style), rewound by Resume. Filters start settled:
// Resume runs a quarter second of noise through them before the first sample.
//
// Threads: settings on the control thread; Resume takes a snapshot of them
// (and allocates), Process works on the snapshot only and does not allocate.

#include <array>
#include <cstdint>
#include <vector>

#include "dsp/noise/ColorFilters.h"
#include "dsp/noise/GreyFilter.h"
#include "dsp/noise/Xoshiro256.h"

namespace zoc::dsp::noise {

class NoiseDSP {
public:
    static constexpr int kParameterCount = 8;
    static constexpr int kMaxChannels = 32;

    enum Parameter : int {
        kColor = 0,
        kStyle = 1,
        kIntensity = 2,
        kDistance = 3,
        kDCOffset = 4,
        kDuration = 5,
        kPreviewMode = 6,
        kOperationMode = 7,
    };
    enum Color : int { kBrown = 0, kPink = 1, kWhite = 2, kGrey = 3 };
    enum Style : int { kSpatialStereo = 0, kIndependent = 1, kMono = 2, kInverse = 3 };

    /// RMS level (dBFS) of the noise at an Intensity.
    static double RmsDbfs(double intensity) { return intensity - 56.0; }

    NoiseDSP();

    void SetSampleRate(int rate);
    int GetSampleRate() const { return rate_; }
    void SetChannels(int channels);
    int GetChannels() const { return channels_; }
    /// Clamped to the bounds; NaN is ignored.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    void GetBounds(int index, float& lo, float& hi) const;
    int GetLatency() const { return 0; }

    /// The host's duration, frames.
    void SetDuration(long long frames);
    long long GetDuration() const { return duration_; }
    /// Frames the run makes: Duration when set, else the host's duration.
    long long GetProcessedDuration() const;

    /// Takes the settings, rewinds every stream and settles the filters.
    void Resume();
    void Suspend() {}

    /// The next `frames` frames of every channel. `inputs` may be null
    /// (silence) and may be the same buffers as `outputs`.
    void Process(float** inputs, float** outputs, int frames);

private:
    static constexpr int kChunk = 1024;

    /// One noise stream and the history a delayed channel reads from.
    struct Stream {
        Xoshiro256 random;
        PinkFilter pink;
        BrownFilter brown;
        GreyFilter grey;
        std::vector<float> line; ///< history (history_ frames), then the chunk
        float allpassOut = 0.0f;
    };

    void Prepare();
    void Render(int frames);
    float FadeAt(long long position) const;

    int rate_ = 48000;
    int channels_ = 2;
    std::array<float, kParameterCount> settings_{};
    long long duration_ = 0;

    // The snapshot Process works on.
    int color_ = kBrown;
    int style_ = kSpatialStereo;
    bool add_ = false;
    float level_ = 0.0f;  ///< noise gain, after the offset's headroom
    float offset_ = 0.0f; ///< DC
    int delayFrames_ = 0; ///< whole frames of the spatial delay
    float allpass_ = 0.0f;
    bool fractional_ = false;
    long long runDuration_ = 0;
    long long fadeFrames_ = 0;

    // Running state.
    long long position_ = 0;
    int history_ = 0;
    GreyDesign greyDesign_;
    std::vector<Stream> streams_;
    std::vector<float> noise_; ///< [channel][kChunk]
};

} // namespace zoc::dsp::noise
