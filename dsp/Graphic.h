#pragma once
// Graphic: a graphic equalizer over all channels at once, as one linear-phase
// FIR filter ("impulse").
//
// The sliders sit on standard centre frequencies: 10 bands an octave apart
// (31.5 Hz to 16 kHz), 20 bands half an octave apart (31.5 Hz to 22.4 kHz) or
// 30 bands a third of an octave apart (25 Hz to 20 kHz). The wanted magnitude
// runs through every band's gain at its centre and blends between
// neighbouring centres with a raised cosine over log-frequency, so it is flat
// around each centre and smooth between them; below the lowest and above the
// highest band it holds that band's gain. Bands at or above Nyquist drop out.
// The master gain is added everywhere.
//
// The filter is designed by frequency sampling: the wanted magnitude on a
// fine grid, an inverse FFT to a zero-phase response, a Kaiser window cut to
// Accuracy taps, shifted to be causal. Accuracy trades frequency resolution
// against latency and CPU: two bands f apart are told apart only by a filter
// several times rate / f long (the 25 and 31.5 Hz bands are 6.5 Hz apart, so
// at 48 kHz they want about 30000 taps), while the delay grows by half a tap
// per tap and the cost per sample with the number of partitions. The filter
// runs as a uniformly partitioned FFT convolution; the latency is
// (taps - 1) / 2 plus one convolution block.
//
// Threads. Settings (SetParameter, SetSampleRate, SetChannels), Resume,
// Suspend, GetLatency and ComputeFilterResponse belong to the control thread;
// ProcessOneSample to the audio thread; UpdateImpulses may run on a third
// thread while the audio thread processes.
//  - Gains, master gain, range and band set take effect at the next block
//    boundary of the audio thread: the filter is redesigned there from
//    preallocated buffers and the outputs of the old and new filters are
//    crossfaded over one block, so slider moves never click.
//  - A new accuracy, rate or channel count needs new buffers and transforms.
//    UpdateImpulses (or Resume) builds them beside the running ones and hands
//    them over through an atomic pointer; the audio thread runs both until
//    the new filter is primed, crossfades, and leaves the old one to be freed
//    by the next non-audio call. Until then the old filter keeps playing.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace zoc::dsp {

class Graphic {
public:
    enum Parameter : int {
        kAccuracy = 0,  ///< filter length in points (taps)
        kGain = 1,      ///< master gain, dB
        kRange = 2,     ///< the +/- span in dB the band gains may reach; gains beyond are clamped
        kReset = 3,     ///< momentary: a value of 0.5 or more sets every band to 0 dB; reads as 0
        kFirstBand = 4, ///< band gains in dB, lowest band first
        kBandSet = 34,  ///< 0: 10 bands, 1: 20 bands, 2: 30 bands
    };
    static constexpr int kMaxBands = 30;
    static constexpr int kParameterCount = kBandSet + 1;
    static constexpr int kMaxChannels = 32;

    static constexpr float kMinAccuracy = 256.0f;
    static constexpr float kMaxAccuracy = 262144.0f;
    static constexpr float kMaxGainDb = 24.0f;
    static constexpr float kMinRangeDb = 1.5f;
    static constexpr float kMaxRangeDb = 36.0f;

    /// Builds a filter for 44.1 kHz stereo at once, so output flows before
    /// any update. Allocates.
    Graphic();
    ~Graphic();
    Graphic(const Graphic&) = delete;
    Graphic& operator=(const Graphic&) = delete;

    /// Takes effect with the next UpdateImpulses or Resume.
    void SetSampleRate(int rate);
    /// 1 to kMaxChannels. Takes effect with the next UpdateImpulses or Resume;
    /// until then channels the running filter lacks output silence.
    void SetChannels(int channels);
    /// Real units; NaN is ignored, other values are clamped to the bounds.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    /// Bounds of every index (both 0 for an unknown index).
    void GetBounds(int index, float& lo, float& hi) const;
    /// Frames from input to output with the current accuracy.
    int GetLatency() const;

    /// Frees filters the audio thread has let go of.
    void Suspend();
    /// Brings the filter up to date with every setting at once and clears
    /// the signal history. Control thread, while the audio thread is idle;
    /// allocates when the accuracy, rate or channel count changed.
    void Resume();

    /// One frame: in[c] and out[c] for every channel c of SetChannels. Audio
    /// thread; never allocates, locks or blocks. The caller flushes denormals.
    void ProcessOneSample(const float* in, float* out);

    /// Builds the filter for a new accuracy, rate or channel count off the
    /// audio thread and hands it over; does nothing when none changed.
    /// Allocates; safe while the audio thread processes.
    void UpdateImpulses();

    /// Magnitude (linear) of the filter designed from the current settings
    /// at `frequency` Hz, as the windowed FIR really responds. Control thread.
    double ComputeFilterResponse(double frequency);

    int GetBandCount() const;
    /// Centre frequencies of band set 0, 1 or 2 (empty for another value).
    static std::span<const double> GetBandCentres(int bandSet);
    /// How many UpdateImpulses calls built a new filter.
    int GetUpdateCount() const { return updates_.load(std::memory_order_relaxed); }

    /// The settings a filter is designed from.
    struct Curve {
        int bandSet = 0;
        std::array<float, kMaxBands> gains{};
        float master = 0.0f;
        float range = 0.0f;
    };

private:
    struct Config {
        int rate = 0;
        int channels = 0;
        int taps = 0;
        bool operator==(const Config&) const = default;
    };
    class Designer;
    struct Engine;

    Config WantedConfig() const;
    Curve ReadCurve() const;
    void CurveChanged() { curveSerial_.fetch_add(1, std::memory_order_acq_rel); }
    void FreeRetired();
    void StartHandOver(Engine* next);
    std::unique_ptr<Engine> Build(const Config& config) const;

    // Control thread writes, audio and background threads read.
    std::atomic<int> rate_{44100};
    std::atomic<int> channels_{2};
    std::atomic<float> accuracy_;
    std::atomic<int> bandSet_{0};
    std::array<std::atomic<float>, kMaxBands> gains_{};
    std::atomic<float> master_{0.0f};
    std::atomic<float> range_;
    std::atomic<std::uint32_t> curveSerial_{0};
    std::atomic<int> updates_{0};

    // Hand-over: the newest built filter waits in pending_; the audio thread
    // pushes the one it replaced onto the retired_ list (linked through the
    // engines, so pushing never allocates) for a non-audio call to free.
    std::mutex buildMutex_; ///< serializes builds; never taken by the audio thread
    Config built_;          ///< configuration of the newest filter built
    std::atomic<Engine*> pending_{nullptr};
    std::atomic<Engine*> retired_{nullptr};

    // Audio thread.
    Engine* active_ = nullptr;
    Engine* incoming_ = nullptr;
    int primeLeft_ = 0; ///< frames the incoming filter runs before it is heard
    int fadeLeft_ = 0;
    int fadeLength_ = 1;
    std::array<float, kMaxChannels> frameIn_{};
    std::array<float, kMaxChannels> frameOut_{};
    std::array<float, kMaxChannels> frameNew_{};

    // Control thread: the response shown in the graph.
    std::mutex responseMutex_;
    std::unique_ptr<Designer> responseDesigner_;
    std::vector<float> responseMagnitude_;
    std::uint32_t responseSerial_ = 0;
    int responseRate_ = 0;
    bool responseValid_ = false;
};

} // namespace zoc::dsp
