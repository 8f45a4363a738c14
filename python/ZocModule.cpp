// The Python module `zoc`: effects over numpy arrays, on the public C++
// interface alone. An Effect here remembers its component and settings and
// builds the C++ effect for whatever sample rate and channel count the audio
// it is given has, carrying the settings over.

#include <zoc/zoc.h>

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

/// Frames handed to Effect::Process per call: a multiple of the block size,
/// so blocks fall where `zoc apply` puts them.
constexpr std::int64_t kChunkFrames = 65536;
/// The most channels an array may have; more is almost always a transposed
/// (frames, channels) array.
constexpr py::ssize_t kMaxChannels = 32;
/// The layout an effect is built with before it has seen audio.
constexpr double kInitialRate = 48000.0;

/// Audio copied out of a numpy array: planar float32, one block per channel.
struct Planar {
    int channels = 0;
    std::int64_t frames = 0;
    bool oneDimensional = false;
    bool doublePrecision = false;
    std::vector<float> samples; // channel-major

    const float* Channel(int channel) const { return samples.data() + channel * frames; }
};

/// Where a checked array's samples lie, so they can be copied without the
/// GIL (the caller keeps the array alive).
struct Source {
    const char* data = nullptr;
    py::ssize_t channelStride = 0; // bytes
    py::ssize_t frameStride = 0;   // bytes
};

/// Checks an array's dtype and shape under the GIL.
std::pair<Planar, Source> Inspect(const py::array& audio)
{
    Planar planar;
    const bool isFloat = audio.dtype().is(py::dtype::of<float>());
    const bool isDouble = audio.dtype().is(py::dtype::of<double>());
    if (!isFloat && !isDouble)
        throw py::value_error("audio must be float32 or float64, not " + std::string(py::str(audio.dtype())));
    if (audio.ndim() != 1 && audio.ndim() != 2)
        throw py::value_error("audio must be shaped (channels, frames) or (frames,), not " +
                              std::to_string(audio.ndim()) + "-dimensional");
    planar.oneDimensional = audio.ndim() == 1;
    planar.doublePrecision = isDouble;
    const py::ssize_t channels = planar.oneDimensional ? 1 : audio.shape(0);
    const py::ssize_t frames = planar.oneDimensional ? audio.shape(0) : audio.shape(1);
    if (channels < 1 || channels > kMaxChannels)
        throw py::value_error("audio has " + std::to_string(channels) + " channels; it must be shaped (channels, "
                              "frames) with 1.." + std::to_string(kMaxChannels) + " channels (transpose a "
                              "(frames, channels) array with .T)");
    planar.channels = static_cast<int>(channels);
    planar.frames = static_cast<std::int64_t>(frames);
    Source source;
    source.data = static_cast<const char*>(audio.data());
    source.channelStride = planar.oneDimensional ? 0 : audio.strides(0);
    source.frameStride = planar.oneDimensional ? audio.strides(0) : audio.strides(1);
    return {std::move(planar), source};
}

/// Copies the samples in; needs no GIL.
void Fill(Planar& planar, const Source& source)
{
    planar.samples.resize(static_cast<std::size_t>(planar.channels * planar.frames));
    float* target = planar.samples.data();
    for (int channel = 0; channel < planar.channels; ++channel) {
        const char* from = source.data + channel * source.channelStride;
        for (std::int64_t i = 0; i < planar.frames; ++i, from += source.frameStride) {
            if (planar.doublePrecision) {
                double value;
                std::memcpy(&value, from, sizeof value);
                *target++ = static_cast<float>(value);
            } else {
                std::memcpy(target++, from, sizeof(float));
            }
        }
    }
}

/// Planar output as a numpy array of the input's shape kind and dtype. The
/// array is made with the GIL held; the samples are copied without it.
py::array ToArray(const std::vector<std::vector<float>>& planar, bool oneDimensional, bool doublePrecision)
{
    const auto channels = static_cast<py::ssize_t>(planar.size());
    const auto frames = static_cast<py::ssize_t>(planar.empty() ? 0 : planar[0].size());
    py::array result = doublePrecision ? py::array(py::array_t<double>({channels, frames}))
                                       : py::array(py::array_t<float>({channels, frames}));
    char* target = static_cast<char*>(result.mutable_data());
    {
        py::gil_scoped_release release;
        for (const auto& channel : planar) {
            if (doublePrecision) {
                for (const float sample : channel) {
                    const double value = sample;
                    std::memcpy(target, &value, sizeof value);
                    target += sizeof value;
                }
            } else {
                std::memcpy(target, channel.data(), channel.size() * sizeof(float));
                target += channel.size() * sizeof(float);
            }
        }
    }
    if (oneDimensional && channels == 1)
        return result.attr("reshape")(frames).cast<py::array>();
    return result;
}

std::vector<const float*> Pointers(const std::vector<std::vector<float>>& planar)
{
    std::vector<const float*> pointers;
    for (const auto& channel : planar)
        pointers.push_back(channel.data());
    return pointers;
}

std::vector<float*> Pointers(std::vector<std::vector<float>>& planar)
{
    std::vector<float*> pointers;
    for (auto& channel : planar)
        pointers.push_back(channel.data());
    return pointers;
}

std::string UnitName(zoc::Unit unit)
{
    switch (unit) {
    case zoc::Unit::Frequency:
        return "frequency";
    case zoc::Unit::Decibels:
        return "decibels";
    case zoc::Unit::Switch:
        return "switch";
    case zoc::Unit::Proportion:
        return "proportion";
    case zoc::Unit::Time:
        return "time";
    default:
        return "number";
    }
}

/// One component with its settings. Processing takes the effect's own lock
/// with the GIL released, so an effect used from two threads at once
/// serializes rather than breaks; each thread should have its own effect.
class PyEffect {
public:
    explicit PyEffect(const std::string& name)
    {
        // Most components take stereo; a few only other layouts.
        for (int channels : {2, 1, 3, 4, 5, 6, 7, 8}) {
            try {
                effect_ = std::make_unique<zoc::Effect>(zoc::Effect::Create(name, kInitialRate, channels));
                break;
            } catch (const zoc::Error& error) {
                if (error.GetCode() != zoc::Error::Code::UnsupportedLayout)
                    throw;
            }
        }
        if (!effect_)
            throw py::value_error(name + " takes none of the channel layouts 1..8");
        className_ = effect_->ClassName();
    }

    const std::string& ClassName() const { return className_; }
    /// The C++ effect, held against a call processing it on another thread.
    struct Locked {
        std::unique_lock<std::mutex> lock;
        zoc::Effect* effect;
        zoc::Effect* operator->() const { return effect; }
    };
    Locked Get() const { return {std::unique_lock(mutex_), effect_.get()}; }

    void Set(const std::string& key, const py::handle& value)
    {
        std::lock_guard lock(mutex_);
        if (py::isinstance<py::bool_>(value))
            effect_->SetParameter(key, value.cast<bool>() ? 1.0f : 0.0f);
        else if (py::isinstance<py::str>(value))
            effect_->SetParameterText(key, value.cast<std::string>());
        else {
            const double number = value.cast<double>();
            if (!std::isfinite(number))
                throw py::value_error(key + " must be a finite number, not " + std::string(py::repr(value)));
            effect_->SetParameter(key, static_cast<float>(number));
        }
    }

    void ApplyPreset(const py::handle& preset)
    {
        std::lock_guard lock(mutex_);
        if (py::isinstance<py::int_>(preset))
            effect_->ApplyPreset(preset.cast<int>());
        else
            effect_->ApplyPreset(preset.cast<std::string>());
    }

    py::dict Settings() const
    {
        std::lock_guard lock(mutex_);
        py::dict settings;
        for (const zoc::ParameterDescription& parameter : effect_->Parameters())
            settings[py::str(parameter.key)] = parameter.value;
        return settings;
    }

    py::array Process(const py::array& audio, double sampleRate, bool reset, std::optional<double> tail)
    {
        const std::int64_t tailFrames = TailFrames(sampleRate, tail);
        auto [input, source] = Inspect(audio);
        std::vector<std::vector<float>> output;
        {
            py::gil_scoped_release release;
            Fill(input, source);
            output = ProcessPlanar(input, sampleRate, reset, tailFrames);
        }
        return ToArray(output, input.oneDimensional, input.doublePrecision);
    }

    /// Checks the rate and turns `tail` seconds into frames.
    static std::int64_t TailFrames(double sampleRate, std::optional<double> tail)
    {
        if (!(std::isfinite(sampleRate) && sampleRate > 0))
            throw py::value_error("sample_rate must be a positive number of Hz");
        if (tail && !(std::isfinite(*tail) && *tail >= 0 && *tail <= 3600))
            throw py::value_error("tail must be 0..3600 seconds");
        return tail ? std::llround(*tail * sampleRate) : 0;
    }

    /// Process without the GIL: takes the effect's own lock.
    std::vector<std::vector<float>> ProcessPlanar(const Planar& input, double sampleRate, bool reset,
                                                  std::int64_t tailFrames)
    {
        std::lock_guard lock(mutex_);
        Configure(sampleRate, input.channels);
        if (effect_->IsGenerator())
            throw zoc::Error(zoc::Error::Code::WrongKind,
                             effect_->Title() + " makes sound without input; use zoc.generate");
        if (!reset)
            return Stream(input);
        if (automation_.empty() || effect_->IsOffline())
            return RenderWhole(*effect_, input, tailFrames);
        // Automation runs on a copy, so the effect keeps its own values.
        zoc::Effect automated = zoc::Effect::Create(className_, sampleRate, input.channels);
        automated.LoadSettings(effect_->SaveSettings());
        for (const auto& [key, points] : automation_) {
            for (const auto& [seconds, value] : points)
                automated.ScheduleParameter(std::llround(seconds * sampleRate), key, value);
        }
        return RenderWhole(automated, input, tailFrames);
    }

    /// Changes `key` at the given times (seconds from the start of the clip)
    /// in every whole-clip call that follows. An empty list removes it.
    void Automate(const std::string& key, const std::vector<std::pair<double, double>>& points)
    {
        std::lock_guard lock(mutex_);
        const zoc::ParameterDescription parameter = effect_->Describe(key);
        if (!parameter.automatable)
            throw py::value_error(parameter.key + " cannot change while processing");
        std::vector<std::pair<double, float>> checked;
        for (const auto& [seconds, value] : points) {
            if (!(std::isfinite(seconds) && seconds >= 0))
                throw py::value_error("automation times must be seconds >= 0");
            if (!(value >= parameter.minimum && value <= parameter.maximum))
                throw py::value_error(parameter.key + " runs " + std::to_string(parameter.minimum) + ".." +
                                      std::to_string(parameter.maximum) + "; " + std::to_string(value) +
                                      " is outside");
            checked.emplace_back(seconds, static_cast<float>(value));
        }
        std::erase_if(automation_, [&](const auto& entry) { return entry.first == parameter.key; });
        if (!checked.empty())
            automation_.emplace_back(parameter.key, std::move(checked));
    }

    std::string Repr() const
    {
        std::lock_guard lock(mutex_);
        std::string text = "zoc.Effect('" + className_ + "'";
        for (const zoc::ParameterDescription& parameter : effect_->Parameters())
        {
            char value[32];
            std::snprintf(value, sizeof value, "%.7g", static_cast<double>(parameter.value));
            text += ", " + parameter.key + "=" + value;
        }
        return text + ")";
    }

    void Reset()
    {
        py::gil_scoped_release release;
        std::lock_guard lock(mutex_);
        effect_->Reset();
    }

private:
    /// Rebuilds the C++ effect for a new rate or channel count, keeping the
    /// settings.
    void Configure(double sampleRate, int channels)
    {
        if (effect_->SampleRate() == sampleRate && effect_->Channels() == channels)
            return;
        const std::string settings = effect_->SaveSettings();
        auto replacement = std::make_unique<zoc::Effect>(zoc::Effect::Create(className_, sampleRate, channels));
        replacement->LoadSettings(settings);
        effect_ = std::move(replacement);
    }

    /// The whole clip from a fresh start, aligned for the latency, with
    /// `tailFrames` more frames of what the effect makes after the input.
    static std::vector<std::vector<float>> RenderWhole(zoc::Effect& effect, const Planar& input,
                                                       std::int64_t tailFrames)
    {
        if (effect.IsOffline()) {
            std::vector<const float*> in;
            for (int channel = 0; channel < input.channels; ++channel)
                in.push_back(input.Channel(channel));
            return effect.Render(in.data(), input.frames);
        }
        effect.Reset();
        const std::int64_t latency = effect.Latency();
        const std::int64_t total = input.frames + latency + tailFrames;
        const auto channels = static_cast<std::size_t>(input.channels);
        // The input followed by silence for the latency and the tail.
        std::vector<std::vector<float>> padded(channels, std::vector<float>(static_cast<std::size_t>(total), 0.0f));
        for (std::size_t channel = 0; channel < channels; ++channel)
            std::copy_n(input.Channel(static_cast<int>(channel)), input.frames, padded[channel].data());
        std::vector<std::vector<float>> rendered(channels, std::vector<float>(static_cast<std::size_t>(total)));
        RunChunks(effect, padded, rendered, total);
        for (auto& channel : rendered)
            channel.erase(channel.begin(), channel.begin() + latency);
        return rendered;
    }

    /// The next frames of a stream: as many frames out as in, delayed by
    /// the latency, the state carried over from the previous call.
    std::vector<std::vector<float>> Stream(const Planar& input)
    {
        if (effect_->IsOffline())
            throw zoc::Error(zoc::Error::Code::WrongKind, effect_->Title() +
                                                              " runs over a whole clip at once; "
                                                              "call it with reset=True");
        const auto channels = static_cast<std::size_t>(input.channels);
        std::vector<std::vector<float>> in(channels), out(channels);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const float* source = input.Channel(static_cast<int>(channel));
            in[channel].assign(source, source + input.frames);
            out[channel].resize(static_cast<std::size_t>(input.frames));
        }
        RunChunks(*effect_, in, out, input.frames);
        return out;
    }

    static void RunChunks(zoc::Effect& effect, const std::vector<std::vector<float>>& in,
                          std::vector<std::vector<float>>& out, std::int64_t frames)
    {
        std::vector<const float*> inputs = Pointers(in);
        std::vector<float*> outputs = Pointers(out);
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t step = std::min(kChunkFrames, frames - done);
            effect.Process(inputs.data(), outputs.data(), step);
            for (auto& pointer : inputs)
                pointer += step;
            for (auto& pointer : outputs)
                pointer += step;
            done += step;
        }
    }

    std::string className_;
    std::unique_ptr<zoc::Effect> effect_;
    std::vector<std::pair<std::string, std::vector<std::pair<double, float>>>> automation_;
    mutable std::mutex mutex_;
};

std::shared_ptr<PyEffect> MakeEffect(const std::string& name, const py::object& preset, const py::kwargs& params)
{
    auto effect = std::make_shared<PyEffect>(name);
    if (!preset.is_none())
        effect->ApplyPreset(preset);
    for (const auto& [key, value] : params)
        effect->Set(key.cast<std::string>(), value);
    return effect;
}

/// Effects in series, each fed the previous one's output; every effect is
/// aligned for its own latency, so the chain is too.
class PyChain {
public:
    explicit PyChain(std::vector<std::shared_ptr<PyEffect>> effects) : effects_(std::move(effects))
    {
        for (const auto& effect : effects_)
            if (!effect)
                throw py::value_error("a chain holds zoc.Effect objects, not None");
    }

    const std::vector<std::shared_ptr<PyEffect>>& Effects() const { return effects_; }

    py::array Process(const py::array& audio, double sampleRate, bool reset, std::optional<double> tail)
    {
        const std::int64_t tailFrames = PyEffect::TailFrames(sampleRate, tail);
        auto [signal, source] = Inspect(audio);
        const bool oneDimensional = signal.oneDimensional;
        const bool doublePrecision = signal.doublePrecision;
        std::vector<std::vector<float>> output;
        {
            py::gil_scoped_release release;
            Fill(signal, source);
            // The tail is silence after the input that every effect hears.
            if (reset && tailFrames > 0)
                signal = FromPlanar(ToPlanar(signal, tailFrames));
            output = ToPlanar(signal, 0);
            for (const auto& effect : effects_) {
                output = effect->ProcessPlanar(signal, sampleRate, reset, 0);
                signal = FromPlanar(output);
            }
        }
        return ToArray(output, oneDimensional, doublePrecision);
    }

private:
    static std::vector<std::vector<float>> ToPlanar(const Planar& planar, std::int64_t extraFrames)
    {
        std::vector<std::vector<float>> channels(static_cast<std::size_t>(planar.channels));
        for (int channel = 0; channel < planar.channels; ++channel) {
            auto& target = channels[static_cast<std::size_t>(channel)];
            target.assign(planar.Channel(channel), planar.Channel(channel) + planar.frames);
            target.resize(target.size() + static_cast<std::size_t>(extraFrames), 0.0f);
        }
        return channels;
    }

    static Planar FromPlanar(const std::vector<std::vector<float>>& channels)
    {
        Planar planar;
        planar.channels = static_cast<int>(channels.size());
        planar.frames = channels.empty() ? 0 : static_cast<std::int64_t>(channels[0].size());
        for (const auto& channel : channels)
            planar.samples.insert(planar.samples.end(), channel.begin(), channel.end());
        return planar;
    }

    std::vector<std::shared_ptr<PyEffect>> effects_;
};

py::array Generate(const std::string& name, const py::object& preset, double seconds, double sampleRate,
                   int channels, const py::kwargs& params)
{
    if (!(std::isfinite(seconds) && seconds >= 0 && seconds <= 3600))
        throw py::value_error("seconds must be 0..3600");
    zoc::Effect generator = zoc::Effect::Create(name, sampleRate, channels);
    if (!generator.IsGenerator())
        throw py::value_error(generator.Title() + " is not a generator; use zoc.Effect");
    if (!preset.is_none()) {
        if (py::isinstance<py::int_>(preset))
            generator.ApplyPreset(preset.cast<int>());
        else
            generator.ApplyPreset(preset.cast<std::string>());
    }
    for (const auto& [key, value] : params) {
        if (py::isinstance<py::str>(value))
            generator.SetParameterText(key.cast<std::string>(), value.cast<std::string>());
        else {
            const double number = value.cast<double>();
            if (!std::isfinite(number))
                throw py::value_error(key.cast<std::string>() + " must be a finite number");
            generator.SetParameter(key.cast<std::string>(), static_cast<float>(number));
        }
    }
    std::vector<std::vector<float>> output;
    {
        py::gil_scoped_release release;
        output = generator.Generate(std::llround(seconds * sampleRate));
    }
    return ToArray(output, channels == 1, false);
}

/// The sample format for zoc.write's `bits`: 16, 24, 32 (float), "32f" or
/// None for the format's default.
std::string BitsText(const py::object& bits)
{
    if (bits.is_none())
        return "";
    if (py::isinstance<py::str>(bits)) {
        const std::string text = bits.cast<std::string>();
        if (text == "16" || text == "24" || text == "32f")
            return text;
    } else if (py::isinstance<py::int_>(bits) && !py::isinstance<py::bool_>(bits)) {
        const long value = bits.cast<long>();
        if (value == 16 || value == 24)
            return std::to_string(value);
        if (value == 32)
            return "32f";
    }
    throw py::value_error("bits must be 16, 24, 32 (float) or None, not " + std::string(py::repr(bits)));
}

py::tuple Read(const std::filesystem::path& path)
{
    zoc::Audio audio;
    {
        py::gil_scoped_release release;
        audio = zoc::ReadAudioFile(path);
    }
    return py::make_tuple(ToArray(audio.channels, false, false), audio.sampleRate);
}

void Write(const std::filesystem::path& path, const py::array& audio, double sampleRate, const py::object& bits)
{
    const std::string format = BitsText(bits);
    auto [planar, source] = Inspect(audio);
    std::int64_t clipped = 0;
    {
        py::gil_scoped_release release;
        Fill(planar, source);
        std::vector<const float*> channels;
        for (int channel = 0; channel < planar.channels; ++channel)
            channels.push_back(planar.Channel(channel));
        clipped = zoc::WriteAudioFile(path, channels.data(), planar.channels, planar.frames, sampleRate, format);
    }
    if (clipped > 0)
        PyErr_WarnEx(PyExc_UserWarning,
                     (path.string() + ": " + std::to_string(clipped) + " samples beyond full scale were clipped").c_str(), 1);
}

/// An open audio file read block by block: `with zoc.open(path) as f:
/// for block in f.blocks(4096): ...`.
class PyAudioFile {
public:
    explicit PyAudioFile(const std::filesystem::path& path) : path_(path.string())
    {
        py::gil_scoped_release release;
        reader_.emplace(path);
    }

    int Channels() const { return Open().Channels(); }
    double SampleRate() const { return Open().SampleRate(); }
    std::int64_t Frames() const { return Open().Frames(); }

    /// Up to `frames` more frames, (channels, n) float32; n is 0 at the end.
    py::array Read(std::int64_t frames)
    {
        if (frames < 1)
            throw py::value_error("frames must be at least 1");
        zoc::AudioFileReader& reader = Open();
        const auto channels = static_cast<std::size_t>(reader.Channels());
        std::vector<std::vector<float>> planar(channels, std::vector<float>(static_cast<std::size_t>(frames)));
        {
            py::gil_scoped_release release;
            std::vector<float*> pointers = Pointers(planar);
            const std::int64_t got = reader.Read(pointers.data(), frames);
            for (auto& channel : planar)
                channel.resize(static_cast<std::size_t>(got));
        }
        return ToArray(planar, false, false);
    }

    void Close() { reader_.reset(); }

private:
    zoc::AudioFileReader& Open() const
    {
        if (!reader_)
            throw py::value_error(path_ + " is closed");
        return const_cast<zoc::AudioFileReader&>(*reader_);
    }

    std::string path_;
    std::optional<zoc::AudioFileReader> reader_;
};

/// A Python identifier from a display title: its words capitalized and
/// joined, everything but letters and digits dropped ("Graphic Equalizer
/// (10 Bands)" -> "GraphicEqualizer10Bands").
std::string IdentifierOf(const std::string& text)
{
    std::string name;
    bool wordStart = true;
    for (const char c : text) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (alnum)
            name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStart = !alnum;
    }
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        name.insert(0, "_");
    return name;
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

/// The docstring of a component's class: what it is, its parameters with
/// range, unit and default, and its presets.
std::string ClassDoc(const zoc::ComponentDescription& component, const zoc::Effect& effect)
{
    std::string doc = component.title + ".\n\n";
    if (component.generator)
        doc += "Makes sound without input: zoc.generate('" + component.className + "', seconds=..., ...).\n\n";
    else
        doc += "effect = zoc." + component.className + "(preset=None, **parameters); effect(audio, sample_rate)\n\n";
    doc += "Parameters (keyword: range, unit, default):\n";
    for (const zoc::ParameterDescription& parameter : effect.Parameters()) {
        doc += "    " + parameter.key + ": ";
        if (parameter.unit == zoc::Unit::Switch)
            doc += "True/False";
        else
            doc += Number(parameter.minimum) + ".." + Number(parameter.maximum);
        if (!parameter.unitLabel.empty())
            doc += " " + parameter.unitLabel;
        doc += ", default " + Number(parameter.defaultValue);
        if (parameter.name != parameter.key)
            doc += "  (" + parameter.name + ")";
        if (!parameter.automatable)
            doc += ", fixed while processing";
        doc += "\n";
    }
    const std::vector<std::string> presets = effect.Presets();
    if (!presets.empty()) {
        doc += "\nPresets (preset=...):\n";
        for (const std::string& preset : presets)
            doc += "    " + preset + "\n";
    }
    return doc;
}

/// One class per registered component, subclasses of zoc.Effect named by
/// class name (zoc.Echo), plus the display title's name where that differs
/// (zoc.ParametricEqualizer for ParametricEQ). Instances pickle as the class
/// they were made from.
void AddComponentClasses(py::module_& module)
{
    py::dict scope;
    scope["Effect"] = module.attr("Effect");
    py::exec(R"(
def make_class(class_name, doc):
    def __init__(self, *, preset=None, **parameters):
        Effect.__init__(self, class_name, preset=preset, **parameters)
    __init__.__doc__ = doc
    return type(class_name, (Effect,), {"__init__": __init__, "__doc__": doc, "__module__": "zoc",
                                        "__qualname__": class_name, "__slots__": ()})
)",
             scope);
    const py::object makeClass = scope["make_class"];
    for (const zoc::ComponentDescription& component : zoc::ListComponents()) {
        std::optional<zoc::Effect> effect;
        for (int channels : {2, 1}) {
            try {
                effect.emplace(zoc::Effect::Create(component.className, kInitialRate, channels));
                break;
            } catch (const zoc::Error&) {
            }
        }
        if (!effect || py::hasattr(module, component.className.c_str()))
            continue;
        const py::object type = makeClass(component.className, ClassDoc(component, *effect));
        module.attr(component.className.c_str()) = type;
        const std::string alias = IdentifierOf(component.title);
        if (!py::hasattr(module, alias.c_str()))
            module.attr(alias.c_str()) = type;
    }
}

} // namespace

PYBIND11_MODULE(zoc, module)
{
    module.doc() = "ZoAudioComponents: audio effects over numpy arrays";
    module.attr("__version__") = zoc::Version();

    static py::exception<zoc::Error> unused(module, "_Unused");
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const zoc::Error& error) {
            switch (error.GetCode()) {
            case zoc::Error::Code::UnknownName:
                PyErr_SetString(PyExc_KeyError, error.what());
                break;
            case zoc::Error::Code::Io:
                PyErr_SetString(PyExc_OSError, error.what());
                break;
            default:
                PyErr_SetString(PyExc_ValueError, error.what());
            }
        }
    });
    module.attr("__dict__").attr("pop")("_Unused");

    module.def(
        "components",
        [] {
            std::vector<std::string> names;
            for (const zoc::ComponentDescription& component : zoc::ListComponents())
                names.push_back(component.className);
            return names;
        },
        "The class names of every registered component, sorted.");

    py::class_<PyEffect, std::shared_ptr<PyEffect>>(module, "Effect",
                         "One audio effect: Effect('Echo', preset='Spooky', delay_time=200). Keywords are "
                         "parameter keys in real units. Safe to use from one thread at a time; give each "
                         "thread its own effect.")
        .def(py::init(&MakeEffect), py::arg("name"), py::kw_only(), py::arg("preset") = py::none())
        .def_property_readonly("name", &PyEffect::ClassName, "The component's class name.")
        .def_property_readonly("title", [](const PyEffect& self) { return self.Get()->Title(); })
        .def_property_readonly("offline", [](const PyEffect& self) { return self.Get()->IsOffline(); })
        .def_property_readonly("latency", [](const PyEffect& self) { return self.Get()->Latency(); },
                               "Frames by which streamed output lags its input at the last sample rate used.")
        .def_property_readonly("presets", [](const PyEffect& self) { return self.Get()->Presets(); })
        .def("apply_preset", &PyEffect::ApplyPreset, py::arg("preset"),
             "Applies a factory preset by name (case-insensitive) or index.")
        .def_property_readonly("settings", &PyEffect::Settings, "Parameter keys and values in real units.")
        .def_property_readonly(
            "parameters",
            [](const PyEffect& self) {
                py::list result;
                for (const zoc::ParameterDescription& parameter : self.Get()->Parameters()) {
                    py::dict entry;
                    entry["key"] = parameter.key;
                    entry["name"] = parameter.name;
                    entry["unit"] = UnitName(parameter.unit);
                    entry["label"] = parameter.unitLabel;
                    entry["minimum"] = parameter.minimum;
                    entry["maximum"] = parameter.maximum;
                    entry["default"] = parameter.defaultValue;
                    entry["value"] = parameter.value;
                    entry["in_use"] = parameter.inUse;
                    result.append(entry);
                }
                return result;
            },
            "Every parameter: key, name, unit, range, default, value and whether this layout uses it.")
        .def(
            "set",
            [](PyEffect& self, const py::kwargs& params) {
                for (const auto& [key, value] : params)
                    self.Set(key.cast<std::string>(), value);
            },
            "Sets parameters by key: effect.set(gain=-6).")
        .def(
            "get", [](const PyEffect& self, const std::string& key) { return self.Get()->GetParameter(key); },
            py::arg("key"), "A parameter's value in real units.")
        .def("process", &PyEffect::Process, py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
             py::arg("reset") = true, py::arg("tail") = py::none(),
             "Processes float32 or float64 audio shaped (channels, frames) or (frames,) and returns the "
             "same shape and dtype. reset=True renders the clip from a fresh start aligned for the latency, "
             "plus `tail` seconds after it; reset=False streams: the state carries over between calls and "
             "the output lags by `latency` frames.")
        .def("__call__", &PyEffect::Process, py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
             py::arg("reset") = true, py::arg("tail") = py::none())
        .def(
            "save", [](const PyEffect& self, const std::filesystem::path& path) { self.Get()->SaveSettingsFile(path); },
            py::arg("path"), "Writes the settings as the JSON `zoc --save-settings` writes.")
        .def("reset", &PyEffect::Reset, "Clears the signal state, keeping the settings.")
        .def("automate", &PyEffect::Automate, py::arg("key"), py::arg("points"),
             "Sets `key` to each (seconds, value) at that time in every whole-clip call: "
             "effect.automate('left', [(0.0, -6), (1.5, 0)]). An empty list removes the automation.")
        .def(
            "curve",
            [](const PyEffect& self, int points) {
                zoc::Curve curve;
                {
                    auto effect = self.Get();
                    curve = effect->Curve(points);
                }
                py::array_t<double> x(static_cast<py::ssize_t>(curve.values.size()));
                for (std::size_t k = 0; k < curve.values.size(); ++k)
                    x.mutable_at(static_cast<py::ssize_t>(k)) = curve.x.empty() ? static_cast<double>(k) : curve.x[k];
                py::array_t<float> values(static_cast<py::ssize_t>(curve.values.size()), curve.values.data());
                return py::make_tuple(x, values);
            },
            py::arg("points") = 101,
            "The curve the component draws for its settings, as numpy arrays (x, values): an equalizer's "
            "response (Hz, dB) at the last sample rate used, a dynamics processor's output level over its "
            "input level (dB, dB); x numbers the points where the component names no axis. ValueError for "
            "components without a curve.")
        .def("__repr__", &PyEffect::Repr)
        .def(py::pickle(
            [](const PyEffect& self) { return py::make_tuple(self.ClassName(), self.Get()->SaveSettings()); },
            [](const py::tuple& state) {
                if (state.size() != 2)
                    throw py::value_error("a pickled zoc.Effect holds a class name and settings");
                auto effect = std::make_shared<PyEffect>(state[0].cast<std::string>());
                effect->Get()->LoadSettings(state[1].cast<std::string>());
                return effect;
            }));

    py::class_<PyChain>(module, "Chain", "Effects in series: zoc.Chain([zoc.Effect('Echo'), zoc.Effect('Reverb')]).")
        .def(py::init<std::vector<std::shared_ptr<PyEffect>>>(), py::arg("effects"))
        .def_property_readonly("effects", &PyChain::Effects)
        .def("__len__", [](const PyChain& self) { return self.Effects().size(); })
        .def("process", &PyChain::Process, py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
             py::arg("reset") = true, py::arg("tail") = py::none(), "Runs the audio through every effect in turn.")
        .def("__call__", &PyChain::Process, py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
             py::arg("reset") = true, py::arg("tail") = py::none())
        .def(py::pickle([](const PyChain& self) { return py::make_tuple(py::cast(self.Effects())); },
                        [](const py::tuple& state) {
                            return PyChain(state[0].cast<std::vector<std::shared_ptr<PyEffect>>>());
                        }));

    module.def(
        "load",
        [](const std::string& path) {
            // The file names its component; the effect then loads it whole.
            py::object text;
            try {
                text = py::module_::import("pathlib").attr("Path")(path).attr("read_text")();
            } catch (const py::error_already_set& error) {
                if (error.matches(PyExc_OSError))
                    throw zoc::Error(zoc::Error::Code::Io, path + ": cannot be read");
                throw;
            }
            py::object settings;
            try {
                settings = py::module_::import("json").attr("loads")(text);
            } catch (const py::error_already_set&) {
                throw zoc::Error(zoc::Error::Code::InvalidSettings, path + " is not a settings file (not JSON)");
            }
            if (!py::isinstance<py::dict>(settings) || !settings.contains("component") ||
                !py::isinstance<py::str>(settings["component"]))
                throw zoc::Error(zoc::Error::Code::InvalidSettings, path + " names no component");
            auto effect = std::make_shared<PyEffect>(settings["component"].cast<std::string>());
            effect->Get()->LoadSettingsFile(path);
            return effect;
        },
        py::arg("path"), "An effect from a settings file that effect.save or zoc --save-settings wrote.");

    module.def("read", &Read, py::arg("path"),
               "Reads a whole audio file (any format libsndfile reads): (audio, sample_rate), audio float32 "
               "shaped (channels, frames). OSError when it cannot be read.");
    module.def("write", &Write, py::arg("path"), py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
               py::arg("bits") = py::none(),
               "Writes audio shaped (channels, frames) or (frames,) to `path`; the extension picks the format "
               "(.wav, .aiff, .flac, .ogg, ...), bits the sample format (16, 24, 32 for float; None for the "
               "format's default). The file appears whole or not at all. ValueError for what the format "
               "cannot hold, OSError when it cannot be written; a warning when samples were clipped.");
    py::class_<PyAudioFile>(module, "AudioFile",
                            "An audio file open for reading block by block; made by zoc.open(path).")
        .def_property_readonly("channels", &PyAudioFile::Channels)
        .def_property_readonly("sample_rate", &PyAudioFile::SampleRate)
        .def_property_readonly("frames", &PyAudioFile::Frames, "Frames in the file, as its header tells.")
        .def("read", &PyAudioFile::Read, py::arg("frames"),
             "Up to `frames` more frames, float32 shaped (channels, n); n is 0 at the end.")
        .def(
            "blocks",
            [](py::object self, std::int64_t frames) {
                if (frames < 1)
                    throw py::value_error("frames must be at least 1");
                py::dict scope;
                scope["source"] = self;
                scope["frames"] = frames;
                py::exec("def each(source, frames):\n"
                         "    while True:\n"
                         "        block = source.read(frames)\n"
                         "        if block.shape[1] == 0:\n"
                         "            return\n"
                         "        yield block\n"
                         "result = each(source, frames)\n",
                         scope);
                return scope["result"];
            },
            py::arg("frames"), "Yields blocks of `frames` frames (the last may be shorter) to the end.")
        .def("close", &PyAudioFile::Close)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyAudioFile& self, const py::args&) { self.Close(); });
    module.def(
        "open", [](const std::filesystem::path& path) { return PyAudioFile(path); }, py::arg("path"),
        "Opens an audio file for reading block by block: with zoc.open(path) as f: for block in f.blocks(4096).");

    AddComponentClasses(module);

    module.def("generate", &Generate, py::arg("name"), py::kw_only(), py::arg("preset") = py::none(),
               py::arg("seconds") = 1.0, py::arg("sample_rate") = 48000.0, py::arg("channels") = 1,
               "Makes `seconds` of sound with a generator (Tones, Noise): float32 shaped (frames,) for one "
               "channel, else (channels, frames).");
}
