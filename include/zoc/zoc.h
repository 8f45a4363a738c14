#pragma once
/// @file zoc.h
/// The public C++ interface of ZoAudioComponents: create an effect by name,
/// set its parameters in real units, apply presets, save and load settings,
/// and process planar float buffers. One include; the implementation stays
/// behind it, so programs need no other header of the library.
///
/// @par Errors
/// Every failure is reported one way: a zoc::Error exception whose message is
/// one line naming what was asked and what would fit ("unknown parameter
/// 'gian'; did you mean 'gain'?"). Processing calls never throw.
///
/// @par Threads and real-time use
/// An Effect is not shared between threads without the caller's own
/// locking, with one exception: the calls marked "audio thread" may run on
/// one audio thread while the calls marked "control thread" run on one
/// other thread, as a plug-in host drives a plug-in. Prepare, Reset,
/// ConnectSideChain, ScheduleParameter, Render and Generate change how the
/// effect runs and must not overlap Process. Calls marked
/// "real-time safe" neither allocate, lock nor block once the effect has
/// started (Effect::Prepare, or its first Process); every other call may
/// allocate.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zoc {

/// The library's version, "MAJOR.MINOR.PATCH".
const char* Version();

/// The one exception type of this interface.
class Error : public std::runtime_error {
public:
    /// What went wrong, for programs that react to it.
    enum class Code {
        UnknownName,       ///< no component, parameter or preset by that name or index
        InvalidValue,      ///< a value outside its range, or text that is not one
        UnsupportedLayout, ///< the component does not take that channel count or sample rate
        InvalidSettings,   ///< settings text that is malformed or meant for another component
        WrongKind,         ///< a real-time call on an offline component, or the reverse
        Io,                ///< a file that could not be read or written
    };
    /// An error of kind `code` with a one-line `message`.
    Error(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
    /// What kind of error this is.
    Code GetCode() const { return code_; }

private:
    Code code_;
};

/// What a registered component is. Listing components creates each one once.
struct ComponentDescription {
    std::string className; ///< e.g. "Echo"; stable, the name to keep in programs
    std::string title;     ///< display title, e.g. "Hard Limiter"
    std::string id;        ///< identifier saved in settings files
    bool offline = false;  ///< runs over a whole selection (Effect::Render), not block by block
    bool generator = false; ///< makes sound without input (Effect::Generate)
    int presetCount = 0;    ///< number of factory presets
};

/// Every registered component, sorted by class name. Control thread.
std::vector<ComponentDescription> ListComponents();

/// What kind of quantity a parameter is.
enum class Unit { Number, Frequency, Decibels, Switch, Proportion, Time };

/// One parameter as the component describes it; values are in real units.
struct ParameterDescription {
    int index = 0;         ///< index for the calls taking one
    std::string name;      ///< display name, e.g. "Delay Time"
    std::string key;       ///< machine key, e.g. "delay_time"
    Unit unit = Unit::Number; ///< the kind of quantity
    std::string unitLabel; ///< e.g. "ms", "dB"; may be empty
    float minimum = 0.0f;  ///< smallest value, in the parameter's unit
    float maximum = 1.0f;  ///< largest value, in the parameter's unit
    float defaultValue = 0.0f; ///< the value a fresh effect starts with
    float value = 0.0f;        ///< the value when the description was taken
    std::string text;          ///< the value as the component displays it
    int steps = 0;             ///< 0 for a continuous parameter, else the number of steps
    bool automatable = true;   ///< may be changed while processing, and scheduled
    /// False when the current channel layout ignores the parameter (the
    /// right channel's settings on one channel); it still takes and saves
    /// values, for other layouts.
    bool inUse = true;
};

/// A curve a component draws for its settings: an equalizer's response in
/// dB over frequency, a dynamics processor's output level in dB over its
/// input level.
struct Curve {
    std::string axis;          ///< what `x` holds ("Hz", "input dB"); empty when the points are only numbered
    std::vector<double> x;     ///< the abscissa of each point; empty when `axis` is
    std::vector<float> values; ///< the curve at each point
};

/// One component instance, configured for a sample rate and channel count,
/// ready to process. Movable, not copyable; a moved-from Effect may only be
/// assigned to or destroyed.
class Effect {
public:
    /// Creates the component called `name`: its class name or its display
    /// title, case-insensitive ("echo", "Hard Limiter"). The effect takes
    /// `channels` input and output channels at `sampleRate` Hz. It starts
    /// stopped: settings made before the first Process (or Prepare) take
    /// effect at once, without the fades a running effect makes between old
    /// and new values. Control thread; allocates.
    /// @throws Error UnknownName for an unknown name (the message names
    ///   close matches), UnsupportedLayout when the component does not take
    ///   that channel count or rate.
    static Effect Create(const std::string& name, double sampleRate, int channels);

    Effect(Effect&&) noexcept;            ///< Takes over the component.
    Effect& operator=(Effect&&) noexcept; ///< Takes over the component.
    ~Effect();                            ///< Stops and releases the component.

    /// @name Identity
    /// Real-time safe.
    ///@{

    const std::string& ClassName() const; ///< Class name, e.g. "HardLimiter".
    const std::string& Title() const;     ///< Display title, e.g. "Hard Limiter".
    double SampleRate() const;            ///< The rate given to Create.
    int Channels() const;                 ///< The channel count given to Create.
    /// True for components that run over a whole selection (Render, Generate).
    bool IsOffline() const;
    /// True for offline components that make sound without input.
    bool IsGenerator() const;
    ///@}

    /// @name Parameters
    /// A parameter is chosen by its index, its display name or its key
    /// (case-insensitive); "3", "Delay Time" and "delay_time" all work.
    /// Getters are real-time safe when given an index; everything taking a
    /// name, and every description, allocates. Setters are control-thread
    /// calls that take no lock against Process: the new value is taken up at
    /// the start of the next block.
    ///@{

    /// Parameter indexes run 0..ParameterCount()-1.
    int ParameterCount() const;
    /// The index of a parameter. A name the component uses in mono works on
    /// every layout; where it stands for several channels ("gain" on a
    /// stereo Amplify) this is the first of them. @throws Error UnknownName.
    int FindParameter(const std::string& parameter) const;
    /// Every described parameter, in index order. (Some components leave
    /// indexes undescribed for channel layouts that do not use them.)
    std::vector<ParameterDescription> Parameters() const;
    /// The description of one parameter. @throws Error UnknownName,
    /// also for an index the current layout leaves undescribed.
    ParameterDescription Describe(int index) const;
    /// Describe by index, key or name.
    ParameterDescription Describe(const std::string& parameter) const;

    /// The value in real units.
    float GetParameter(int index) const;
    /// GetParameter by index, key or name.
    float GetParameter(const std::string& parameter) const;
    /// Sets a value in real units. @throws Error InvalidValue outside the
    /// parameter's range (NaN included), UnknownName for no such parameter.
    void SetParameter(int index, float value);
    /// SetParameter by index, key or name. A mono name that stands for
    /// several channels on this layout sets all of them.
    void SetParameter(const std::string& parameter, float value);
    /// Sets a value from text as a user typed it: a number with an optional
    /// unit matching the parameter's ("90ms", "0.5s", "-3dB", "1.5kHz",
    /// "1.5k", "40%"), or on/off, true/false, yes/no for switches.
    /// @throws Error InvalidValue for a unit of another kind.
    void SetParameterText(const std::string& parameter, const std::string& text);

    /// The value normalized to 0..1, as presets and settings hold it.
    float GetNormalized(int index) const;
    /// @throws Error InvalidValue outside 0..1.
    void SetNormalized(int index, float normalized);

    /// Sets a parameter to `value` (real units) when processing reaches
    /// frame `frame`, counted from creation or the last Reset. Process
    /// splits its block there, so the change lands on that exact frame.
    /// Control thread, between Process calls; allocates.
    void ScheduleParameter(std::int64_t frame, const std::string& parameter, float value);
    ///@}

    /// @name Presets and settings
    /// Control thread; allocate.
    ///@{

    /// Factory preset names, in index order.
    std::vector<std::string> Presets() const;
    /// Applies a factory preset chosen by name (case-insensitive) or by its
    /// index written as a number. @throws Error UnknownName.
    void ApplyPreset(const std::string& preset);
    /// Applies the factory preset at `index`. @throws Error UnknownName.
    void ApplyPreset(int index);

    /// The current settings as the JSON text `zoc --save-settings` writes.
    std::string SaveSettings() const;
    /// Loads settings text as SaveSettings or `zoc` wrote it. Checks
    /// everything before changing anything: on error the effect is as it was.
    /// @throws Error InvalidSettings naming the offending field.
    void LoadSettings(const std::string& json);
    /// SaveSettings into a file, replaced atomically. @throws Error Io.
    void SaveSettingsFile(const std::filesystem::path& path) const;
    /// LoadSettings from a file. @throws Error Io or InvalidSettings.
    void LoadSettingsFile(const std::filesystem::path& path);

    /// The curve the component draws for its current settings at `points`
    /// points (1..65536), at the effect's sample rate. Control thread;
    /// allocates. @throws Error WrongKind for a component that draws no
    /// curve, InvalidValue for a point count outside 1..65536 or settings
    /// that leave nothing to draw.
    zoc::Curve Curve(int points = 101) const;
    ///@}

    /// @name Real-time processing
    ///@{

    /// Frames by which the output lags the input. Real-time safe.
    int Latency() const;
    /// Starts the effect now (allocating its delay lines, tables and
    /// threads), so that the first Process is real-time safe. Process starts
    /// a stopped effect itself, allocating in that call. Control thread.
    void Prepare();
    /// Stops the effect: its signal state (delay lines, envelopes, tails) is
    /// cleared when it starts again, and the frame count restarts, keeping
    /// the settings. Changes scheduled for frames not yet reached stay
    /// scheduled, counted from the restart. Control thread.
    void Reset();

    /// Side-chain channels the component can take; 0 when it has no
    /// side-chain input. Real-time safe.
    int SideChainChannels() const;
    /// Feeds `channels` side-chain channels (0 disconnects) to the
    /// side-chain overload of Process. Stops the effect like Reset.
    /// Control thread; allocates.
    /// @throws Error UnsupportedLayout for more than SideChainChannels().
    void ConnectSideChain(int channels);

    /// Processes `frames` frames: `in` and `out` hold Channels() pointers to
    /// planar float buffers, which may be the same buffers. A connected
    /// side-chain hears silence. Audio thread; real-time safe once the
    /// effect has started (see Prepare). Real-time
    /// components only: an offline one (IsOffline) fills `out` with silence
    /// here and runs through Render or Generate instead.
    void Process(const float* const* in, float* const* out, std::int64_t frames);
    /// The same with the side-chain input: as many pointers in `sideChain`
    /// as ConnectSideChain was given. Audio thread; real-time safe once
    /// started.
    void Process(const float* const* in, const float* const* sideChain, float* const* out, std::int64_t frames);
    ///@}

    /// @name Offline components and generators
    /// Control thread; allocate; block until the run is done.
    ///@{

    /// Runs a generator over `frames` frames and returns its output, one
    /// vector per channel. @throws Error WrongKind for other components.
    std::vector<std::vector<float>> Generate(std::int64_t frames);
    /// Runs an offline component (or a real-time one, aligned for its
    /// latency) over a whole input of `frames` frames, Channels() pointers
    /// in `in`, and returns the output, whose length may differ from the
    /// input's for components that change duration.
    std::vector<std::vector<float>> Render(const float* const* in, std::int64_t frames);
    ///@}

private:
    struct Impl;
    explicit Effect(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend class Chain;
};

/// Effects in series: the output of each feeds the next. All effects share
/// one channel count and sample rate. Movable, not copyable.
class Chain {
public:
    Chain(); ///< An empty chain.
    Chain(Chain&&) noexcept;            ///< Takes over the effects.
    Chain& operator=(Chain&&) noexcept; ///< Takes over the effects.
    ~Chain();                           ///< Releases the effects.

    /// Appends an effect and returns it; the reference stays valid while
    /// the chain lives. Control thread; allocates.
    /// @throws Error UnsupportedLayout when its channel count or sample rate
    ///   differs from the effects already in the chain, WrongKind for an
    ///   offline component.
    Effect& Add(Effect effect);
    std::size_t Size() const;                          ///< Number of effects.
    Effect& operator[](std::size_t index);             ///< The effect at `index`, in processing order.
    const Effect& operator[](std::size_t index) const; ///< The effect at `index`, in processing order.

    /// The sum of the effects' latencies. Real-time safe.
    int Latency() const;
    /// Prepares every effect (Effect::Prepare). Control thread; allocates.
    void Prepare();
    /// Resets every effect. Control thread.
    void Reset();
    /// Runs `frames` frames through every effect in turn. `in` and `out` may
    /// be the same buffers; an empty chain leaves `out` as it is. Audio
    /// thread; real-time safe.
    void Process(const float* const* in, float* const* out, std::int64_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// @name Audio files
/// Any format libsndfile reads (WAV, AIFF, FLAC, Ogg Vorbis, ...); output
/// formats follow the file name's extension. Control thread; allocate.
///@{

/// Planar audio with its rate.
struct Audio {
    double sampleRate = 0.0;
    std::vector<std::vector<float>> channels; ///< one vector per channel, all of one length
};

/// Reads a file block by block. Movable, not copyable.
class AudioFileReader {
public:
    /// Opens `path`. @throws Error Io when it cannot be read as audio.
    explicit AudioFileReader(const std::filesystem::path& path);
    AudioFileReader(AudioFileReader&&) noexcept;            ///< Takes over the file.
    AudioFileReader& operator=(AudioFileReader&&) noexcept; ///< Takes over the file.
    ~AudioFileReader();                                     ///< Closes the file.

    int Channels() const;       ///< Channels in the file.
    double SampleRate() const;  ///< The file's rate in Hz.
    std::int64_t Frames() const; ///< Frames in the file, as its header tells.
    /// Reads up to `frames` frames into Channels() buffers; returns the
    /// count read, 0 at the end. @throws Error Io on a read error.
    std::int64_t Read(float* const* channels, std::int64_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Reads a whole file. @throws Error Io.
Audio ReadAudioFile(const std::filesystem::path& path);

/// Writes `frames` frames of `channelCount` planar channels to `path`,
/// which appears whole or not at all (it is written beside and renamed).
/// The format follows the extension; `bits` chooses the sample format: "16",
/// "24", "32f", or empty for the format's default. Returns the samples
/// beyond full scale that the format clipped (integer formats, FLAC, Vorbis).
/// @throws Error InvalidValue for an unknown extension, a sample format or
///   layout the format cannot hold, a rate that is not a whole number of Hz;
///   Io when the file cannot be written.
std::int64_t WriteAudioFile(const std::filesystem::path& path, const float* const* channels, int channelCount,
                            std::int64_t frames, double sampleRate, const std::string& bits = "");
///@}

} // namespace zoc
