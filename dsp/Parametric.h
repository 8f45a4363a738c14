#pragma once
// Parametric: one channel of a parametric equalizer. A high-pass, low and
// high shelves, five peaking bands and a low-pass run as a cascade of
// second-order sections, followed by a master gain.
//
// Each section is designed as a bilinear-transform biquad (pre-warped, so
// centre and corner frequencies land exactly) and run as the equivalent
// trapezoidal state-variable filter: parameters g = tan(pi f / fs) of the
// poles, k = 1/Q of the poles and a mix of input, band and low outputs.
// Unlike direct forms, its states do not pile up near DC, so single
// precision stays accurate for sections far below the sample rate: an
// eighth-order 20 Hz high-pass at 96 kHz measures within 0.01 dB of its
// design an octave below the corner (-48 dB), where single-precision
// transposed direct form II is 6 dB off.
//
// Sections are designed on the control thread (SetParameter, SetSampleRate)
// and handed to the audio thread through a lock-free triple buffer. When a
// new design arrives while audio plays, every section parameter glides
// linearly to its new value over kGlideSeconds. A state-variable filter with
// g > 0 and k > 0 is stable, and stays well behaved while its parameters
// move, so the glide turns a setting change into a smooth change of response
// instead of a step.
//
// Sections that do nothing (a band or shelf at 0 dB or switched off, filters
// off) are left out, so a flat setting passes the input through unchanged.

#include <array>
#include <atomic>
#include <cstdint>

namespace zoc::dsp {

class Parametric {
public:
    /// Parameter indexes, in real units: Hz, dB, Q, bandwidth in Hz, 0/1
    /// switches, slopes in steps of 6 dB per octave.
    enum Parameter : int {
        kLowShelfFrequency = 0,
        kLowShelfGain = 1,
        kHighShelfFrequency = 2,
        kHighShelfGain = 3,
        kBand1Frequency = 4, ///< band k (0-based): kBand1Frequency + 4k ...
        kBand1Q = 5,         ///< ... its Q,
        kBand1Gain = 6,      ///< ... its gain in dB,
        kBand1Enable = 7,    ///< ... its switch
        kMasterGain = 24,
        kConstantQ = 25,     ///< at least 0.5: the bands use their Q, else their bandwidth
        kLowShelfOrder = 26, ///< 0 first order (6 dB/oct), 1 second order
        kHighShelfOrder = 27,
        kUltraQuiet = 28, ///< 1: double-precision sections
        kLowShelfEnable = 29,
        kHighShelfEnable = 30,
        kOriginalSampleRate = 31, ///< Hz; the rate whose ranges the frequencies were set in
        kBand1Bandwidth = 32,     ///< band k: kBand1Bandwidth + k
        kHighPassEnable = 37,
        kHighPassFrequency = 38,
        kHighPassSlope = 39,
        kLowPassEnable = 40,
        kLowPassFrequency = 41,
        kLowPassSlope = 42,
        kBypass = 43,
        kLowGraphRange = 44, ///< only a hint for drawing the response
    };
    static constexpr int kParameterCount = 45;
    static constexpr int kBands = 5;

    /// Frequencies run from 10 Hz to 0.48 of the sample rate.
    static constexpr float kMinFrequency = 10.0f;
    static constexpr double kMaxFrequencyFraction = 0.48;
    /// Gains (bands, shelves, master) in dB: a symmetric range, so the
    /// middle of every range is 0 dB.
    static constexpr float kMaxGainDb = 30.0f;
    static constexpr float kMinQ = 0.1f;
    static constexpr float kMaxQ = 30.0f;
    /// Bandwidths from 0 Hz; bands narrower than kNarrowestBandwidth are
    /// designed at that width.
    static constexpr float kMinBandwidth = 0.0f;
    static constexpr double kNarrowestBandwidth = 1.0;
    static constexpr float kMaxBandwidth = 20000.0f;
    /// The highest original rate a setting can name.
    static constexpr float kMaxOriginalRate = 192000.0f;
    /// Original rates below this mean "unknown"; rates below it are raised to it.
    static constexpr float kMinOriginalRate = 1000.0f;
    /// Filter slopes in 6 dB/octave steps: Butterworth orders 1 to 8.
    static constexpr int kMinSlope = 1;
    static constexpr int kMaxSlope = 8;
    /// Coefficient changes glide over 10 ms, long enough not to click and
    /// short enough to follow a slider.
    static constexpr double kGlideSeconds = 0.01;

    Parametric();

    /// The integer sample rate. Frequencies keep their values in hertz (and
    /// report them clamped to the new range). Control thread.
    void SetSampleRate(int rate);
    /// Each kernel filters one channel; the count is not used.
    void SetChannels(int) {}
    /// A value in real units, clamped to GetBounds; NaN is ignored. Designs
    /// the sections again. The original sample rate maps the frequencies
    /// received before it (see EffectiveFrequency in the source) and then
    /// reads as the current rate. Control thread; does not allocate.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    /// The range of every parameter; the frequency ranges follow the rate.
    void GetBounds(int index, float& lo, float& hi) const;
    /// IIR sections: no latency.
    int GetLatency() const { return 0; }
    void Suspend() {}
    /// Clears the filter memory and takes the current design without a glide.
    /// Control thread, while no Process runs.
    void Resume();
    /// Filters `frames` samples; `in` and `out` may be the same array.
    /// Audio thread; never allocates, locks or blocks.
    void Process(const float* in, float* out, int frames);
    /// Linear magnitude of what Process does at `frequency` Hz once any glide
    /// has ended: the product of every active section's |H(e^jw)| and the
    /// master gain (with the precision of the coefficients the audio path
    /// runs), 1 when bypassed. Control thread.
    double ComputeFilterResponse(double frequency) const;
    /// The frequency in hertz a frequency parameter designs with now.
    double EffectiveFrequency(int index) const;

private:
    /// Section slots in the order the signal runs through them: the
    /// high-pass first (rumble goes before any boost), shelves, bands, the
    /// low-pass last.
    static constexpr int kFilterSlots = (kMaxSlope + 1) / 2;
    static constexpr int kHighPassSlot = 0;
    static constexpr int kLowShelfSlot = kHighPassSlot + kFilterSlots;
    static constexpr int kHighShelfSlot = kLowShelfSlot + 1;
    static constexpr int kFirstBandSlot = kHighShelfSlot + 1;
    static constexpr int kLowPassSlot = kFirstBandSlot + kBands;
    static constexpr int kSlots = kLowPassSlot + kFilterSlots;

    /// A section as a trapezoidal state-variable filter: g and k set the
    /// poles, the output is m0 x + m1 band + m2 low. The default passes the
    /// input unchanged.
    struct Section {
        double g = 1.0, k = 1.0, m0 = 1.0, m1 = 0.0, m2 = 0.0;
    };
    struct Design {
        std::array<Section, kSlots> sections{};
        std::uint32_t activeSlots = 0; ///< bit per slot that filters
        double gain = 1.0;             ///< master gain, linear
        bool bypass = false;
        bool ultraQuiet = false;
        int glideFrames = 1;
    };
    /// The two integrator states of a section.
    struct SectionState {
        double ic1 = 0.0;
        double ic2 = 0.0;
    };
    /// What the sample loop runs: a1 = 1 / (1 + g (g + k)), a2 = g a1,
    /// a3 = g a2, then m0, m1, m2.
    template <class T>
    using Coefficients = std::array<T, 6>;
    template <class T>
    static Coefficients<T> LoopCoefficients(const Section& section);
    static Section SectionFromBiquad(double b0, double b1, double b2, double a1, double a2);

    bool IsFrequency(int index) const;
    void UpdateDesign();
    void Publish();
    /// Audio side: takes the newest published design, if any, and starts a glide.
    void TakeNewDesign();
    void SnapToTarget();
    void PrepareSteadyPath();
    void ProcessGlide(const float* in, float* out, int frames);
    void ProcessSteady(const float* in, float* out, int frames);
    double MaxFrequency(double rate) const { return kMaxFrequencyFraction * rate; }

    // Control thread.
    int rate_ = 44100;
    std::array<float, kParameterCount> values_{};
    /// Frequency parameters in hertz, not yet clamped to the current rate.
    std::array<double, kParameterCount> hertz_{};
    Design design_;

    // Hand-over: the control thread writes slot `back_`, then swaps it with
    // `latest_`; the audio thread swaps `front_` with `latest_` when the
    // fresh bit is set.
    static constexpr unsigned kFresh = 4;
    std::array<Design, 3> slots_{};
    std::atomic<unsigned> latest_{1};
    unsigned back_ = 0;
    unsigned front_ = 2;

    // Audio thread.
    Design target_;
    std::array<Section, kSlots> current_{}; ///< coefficients in force
    std::array<Section, kSlots> step_{};    ///< per-frame glide increments
    std::array<SectionState, kSlots> state_{};
    double gain_ = 1.0;
    double gainStep_ = 0.0;
    std::uint32_t glideSlots_ = 0;
    int glideLeft_ = 0;
    /// The steady path: active slots in order and their float coefficients.
    std::array<int, kSlots> order_{};
    int orderCount_ = 0;
    std::uint32_t steadySlots_ = 0;
    std::array<Coefficients<float>, kSlots> floatCoefficients_{};
    std::array<Coefficients<double>, kSlots> doubleCoefficients_{};
};

} // namespace zoc::dsp
