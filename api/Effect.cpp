// The public Effect: one component behind the host session that drives it,
// with names, units and settings read through the same lookups as zoc.

#include <zoc/zoc.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "api/AudioFile.h"
#include "api/Curve.h"
#include "api/Lookup.h"
#include "api/Settings.h"
#include "api/Text.h"
#include "framework/Library.h"
#include "framework/SampleRates.h"
#include "platform/host/OfflineSession.h"
#include "platform/host/Session.h"

namespace zoc {

namespace {

/// Frames copied per step of Process: the input is copied before the
/// component sees it, so `in` may equal `out` and the component may use its
/// input buffers as scratch. A multiple of the session's block size, so
/// blocks fall where they would if the session were driven directly.
constexpr std::int64_t kSliceFrames = 2048;
/// The most channels a component's layout can name.
constexpr int kMaxChannels = 32;
/// Output frames taken from an offline run per read.
constexpr long kOfflineReadFrames = 65536;

/// Keeps the library initialized while any effect exists: the first effect
/// initializes it, the last one to go terminates it.
class LibraryUse {
public:
    LibraryUse() { Initialize(); }
    ~LibraryUse() { Terminate(); }
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;
};

std::shared_ptr<LibraryUse> UseLibrary()
{
    static std::mutex mutex;
    static std::weak_ptr<LibraryUse> current;
    std::lock_guard lock(mutex);
    std::shared_ptr<LibraryUse> use = current.lock();
    if (!use) {
        use = std::make_shared<LibraryUse>();
        current = use;
    }
    return use;
}

Unit PublicUnit(host::AudioFilterParameterInfoUnit unit)
{
    switch (unit) {
    case host::kUnitFrequency:
        return Unit::Frequency;
    case host::kUnitDecibels:
        return Unit::Decibels;
    case host::kUnitSwitch:
        return Unit::Switch;
    case host::kUnitProportion:
        return Unit::Proportion;
    case host::kUnitTime:
        return Unit::Time;
    default:
        return Unit::Number;
    }
}

int SideChainBusChannels(const host::AudioFilter& filter)
{
    for (const auto& bus : filter.GetInputBuses()) {
        if (bus.GetType() == host::AudioFilterBusDescription::kSideChain)
            return static_cast<int>(bus.GetChannelCount());
    }
    return 0;
}

/// Planar buffers as an offline component's reader.
class BufferReader : public OfflineIInterface {
public:
    BufferReader(const float* const* channels, long count, std::int64_t frames)
        : channels_(channels, channels + count), frames_(frames)
    {
    }
    long GetChannelCount() const override { return static_cast<long>(channels_.size()); }
    long GetAudio(float** destination, long channels, std::int64_t position, long frames) override
    {
        if (position < 0 || position >= frames_ || frames <= 0)
            return 0;
        const auto got = static_cast<long>(std::min<std::int64_t>(frames, frames_ - position));
        for (long channel = 0; channel < std::min(channels, GetChannelCount()); ++channel)
            std::copy_n(channels_[static_cast<std::size_t>(channel)] + position, got, destination[channel]);
        return got;
    }

private:
    std::vector<const float*> channels_;
    std::int64_t frames_;
};

} // namespace

const char* Version() { return ZOC_VERSION_TEXT; }

std::vector<ComponentDescription> ListComponents()
{
    const std::shared_ptr<LibraryUse> library = UseLibrary();
    std::vector<ComponentDescription> descriptions;
    for (const api::Component& component : api::AllComponents()) {
        const core::Ref<host::AudioFilter> filter = host::utility::CreateAudioFilter(component.info.componentID);
        if (!filter)
            continue;
        descriptions.push_back({component.info.className, component.title, component.info.componentID,
                                filter->IsOfflineProcess(), filter->IsGenerator(), filter->GetNumFactoryPresets()});
    }
    return descriptions;
}

struct Effect::Impl {
    std::shared_ptr<LibraryUse> library; // first in, last out
    api::Component component;
    core::Ref<host::AudioFilter> filter;
    std::unique_ptr<host::Session> session;
    double sampleRate = 0.0;
    int channels = 0;
    int sideChannels = 0;
    bool offline = false;
    bool running = false;
    std::vector<float> defaults;              // normalized, as created
    std::vector<std::vector<float>> scratch;  // [channel][kSliceFrames], main then side-chain
    std::vector<float*> inputs;
    std::vector<float*> outputs;

    int Index(int index) const
    {
        if (index < 0 || index >= filter->GetParameterCount())
            throw Error(Error::Code::UnknownName, component.title + ": no parameter " + std::to_string(index) +
                                                      "; indices run 0.." +
                                                      std::to_string(filter->GetParameterCount() - 1));
        return index;
    }
    int Index(const std::string& parameter) const
    {
        return api::FindParameter(*filter, component, parameter, true);
    }
    std::vector<int> Indexes(const std::string& parameter) const
    {
        return api::FindParameters(*filter, component, parameter, true);
    }

    void AllocateScratch()
    {
        scratch.assign(static_cast<std::size_t>(channels + sideChannels), std::vector<float>(kSliceFrames, 0.0f));
        inputs.assign(scratch.size(), nullptr);
        for (std::size_t channel = 0; channel < scratch.size(); ++channel)
            inputs[channel] = scratch[channel].data();
        outputs.assign(static_cast<std::size_t>(channels), nullptr);
    }

    void Start()
    {
        if (offline || running)
            return;
        session->Resume();
        // An empty call sizes the session's pointer arrays now rather than
        // in the first real block.
        session->Process(inputs.data(), outputs.data(), 0);
        running = true;
    }

    void Stop()
    {
        if (running)
            session->Suspend();
        running = false;
    }

    void Run(const float* const* in, const float* const* side, float* const* out, std::int64_t frames)
    {
        if (frames <= 0)
            return;
        if (offline) {
            for (int channel = 0; channel < channels; ++channel)
                std::fill_n(out[channel], frames, 0.0f);
            return;
        }
        Start();
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t slice = std::min(kSliceFrames, frames - done);
            for (int channel = 0; channel < channels; ++channel) {
                std::copy_n(in[channel] + done, slice, scratch[static_cast<std::size_t>(channel)].data());
                outputs[static_cast<std::size_t>(channel)] = out[channel] + done;
            }
            for (int channel = 0; channel < sideChannels; ++channel) {
                float* target = scratch[static_cast<std::size_t>(channels + channel)].data();
                if (side != nullptr && side[channel] != nullptr)
                    std::copy_n(side[channel] + done, slice, target);
                else
                    std::fill_n(target, slice, 0.0f);
            }
            session->Process(inputs.data(), outputs.data(), slice);
            done += slice;
        }
    }

    std::vector<std::vector<float>> RunOffline(const float* const* in, std::int64_t frames)
    {
        host::OfflineSession run(filter);
        if (in != nullptr)
            run.SetReader(core::MakeRef<BufferReader>(in, channels, frames));
        run.SetSelection(0, std::max<std::int64_t>(frames, 0));
        const std::size_t outputChannels = run.Channels();
        std::vector<std::vector<float>> output(outputChannels);
        std::vector<float> chunk(static_cast<std::size_t>(kOfflineReadFrames) * outputChannels);
        std::vector<float*> pointers(outputChannels);
        for (std::size_t channel = 0; channel < outputChannels; ++channel)
            pointers[channel] = chunk.data() + channel * static_cast<std::size_t>(kOfflineReadFrames);
        if (!run.Start())
            throw Error(Error::Code::WrongKind, component.title + ": the run could not start");
        for (;;) {
            const long got = run.Read(pointers.data(), kOfflineReadFrames);
            if (got == 0)
                break;
            for (std::size_t channel = 0; channel < outputChannels; ++channel)
                output[channel].insert(output[channel].end(), pointers[channel], pointers[channel] + got);
        }
        const bool finished = run.Finished();
        run.Stop();
        if (!finished)
            throw Error(Error::Code::WrongKind, component.title + ": the run stopped before the end");
        return output;
    }
};

Effect::Effect(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Effect::Effect(Effect&&) noexcept = default;
Effect& Effect::operator=(Effect&&) noexcept = default;
Effect::~Effect() = default;

Effect Effect::Create(const std::string& name, double sampleRate, int channels)
{
    auto impl = std::make_unique<Impl>();
    impl->library = UseLibrary();
    impl->component = api::FindComponent(name);
    const std::string& title = impl->component.title;
    if (!(sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate))
        throw Error(Error::Code::UnsupportedLayout, title + ": sample rate " + api::FormatNumber(sampleRate) +
                                                        " Hz is outside " + api::FormatNumber(kMinSampleRate) +
                                                        ".." + api::FormatNumber(kMaxSampleRate) + " Hz");
    if (channels < 1 || channels > kMaxChannels)
        throw Error(Error::Code::UnsupportedLayout, title + ": " + std::to_string(channels) +
                                                        " channels; a layout has 1.." +
                                                        std::to_string(kMaxChannels));
    impl->filter = api::CreateComponent(impl->component);
    impl->session = std::make_unique<host::Session>(impl->filter);
    if (!impl->session->Configure(static_cast<std::size_t>(channels), static_cast<float>(sampleRate)))
        throw Error(Error::Code::UnsupportedLayout,
                    title + " does not take " + std::to_string(channels) + " channels");
    impl->sampleRate = sampleRate;
    impl->channels = channels;
    impl->offline = impl->filter->IsOfflineProcess();
    for (int index = 0; index < impl->filter->GetParameterCount(); ++index)
        impl->defaults.push_back(impl->filter->GetParameter(index));
    impl->AllocateScratch();
    return Effect(std::move(impl));
}

const std::string& Effect::ClassName() const { return impl_->component.info.className; }
const std::string& Effect::Title() const { return impl_->component.title; }
double Effect::SampleRate() const { return impl_->sampleRate; }
int Effect::Channels() const { return impl_->channels; }
bool Effect::IsOffline() const { return impl_->offline; }
bool Effect::IsGenerator() const { return impl_->filter->IsGenerator(); }

int Effect::ParameterCount() const { return impl_->filter->GetParameterCount(); }
int Effect::FindParameter(const std::string& parameter) const { return impl_->Index(parameter); }

std::vector<ParameterDescription> Effect::Parameters() const
{
    std::vector<ParameterDescription> descriptions;
    for (int index = 0; index < ParameterCount(); ++index) {
        if (impl_->filter->GetParameterInfo(index))
            descriptions.push_back(Describe(index));
    }
    return descriptions;
}

ParameterDescription Effect::Describe(int index) const
{
    host::AudioFilter& filter = *impl_->filter;
    const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(impl_->Index(index));
    if (!info)
        throw Error(Error::Code::UnknownName, Title() + ": parameter " + std::to_string(index) +
                                                  " is not in use for this channel layout");
    ParameterDescription description;
    description.index = index;
    description.name = core::ToUtf8(info->GetName());
    description.key = api::ParameterKey(description.name, index);
    description.unit = PublicUnit(info->GetUnit());
    description.unitLabel = core::ToUtf8(info->GetUnitLabel());
    const api::ValueRange range = api::RangeOf(*info);
    description.minimum = range.min;
    description.maximum = range.max;
    description.defaultValue = info->FromNormalized(impl_->defaults[static_cast<std::size_t>(index)]);
    description.value = info->FromNormalized(filter.GetParameter(index));
    description.text = core::ToUtf8(filter.GetParameterString(index));
    description.steps = info->GetStepCount();
    description.automatable = info->CanBeAutomated();
    description.inUse = api::IsInUse(filter, index);
    return description;
}

ParameterDescription Effect::Describe(const std::string& parameter) const
{
    return Describe(impl_->Index(parameter));
}

float Effect::GetParameter(int index) const
{
    host::AudioFilter& filter = *impl_->filter;
    const float normalized = filter.GetParameter(impl_->Index(index));
    const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(index);
    return info ? info->FromNormalized(normalized) : normalized;
}

float Effect::GetParameter(const std::string& parameter) const { return GetParameter(impl_->Index(parameter)); }

void Effect::SetParameter(int index, float value)
{
    impl_->session->SetParameter(index, api::NormalizedFromValue(*impl_->filter, Title(), impl_->Index(index), value));
}

void Effect::SetParameter(const std::string& parameter, float value)
{
    // Every value is checked before any parameter changes.
    std::vector<std::pair<int, float>> values;
    for (const int index : impl_->Indexes(parameter))
        values.emplace_back(index, api::NormalizedFromValue(*impl_->filter, Title(), index, value));
    for (const auto& [index, normalized] : values)
        impl_->session->SetParameter(index, normalized);
}

void Effect::SetParameterText(const std::string& parameter, const std::string& text)
{
    std::vector<std::pair<int, float>> values;
    for (const int index : impl_->Indexes(parameter))
        values.emplace_back(index, api::NormalizedFromText(*impl_->filter, Title(), index, text));
    for (const auto& [index, normalized] : values)
        impl_->session->SetParameter(index, normalized);
}

float Effect::GetNormalized(int index) const { return impl_->filter->GetParameter(impl_->Index(index)); }

void Effect::SetNormalized(int index, float normalized)
{
    impl_->Index(index);
    if (!(normalized >= 0.0f && normalized <= 1.0f))
        throw Error(Error::Code::InvalidValue, Title() + ": normalized value " + api::FormatNumber(normalized) +
                                                   " for parameter " + std::to_string(index) + " is outside 0..1");
    impl_->session->SetParameter(index, normalized);
}

void Effect::ScheduleParameter(std::int64_t frame, const std::string& parameter, float value)
{
    std::vector<std::pair<int, float>> values;
    for (const int index : impl_->Indexes(parameter)) {
        if (!impl_->filter->GetParameterInfo(index)->CanBeAutomated())
            throw Error(Error::Code::InvalidValue, Title() + ": '" + Describe(index).name +
                                                       "' cannot change while processing; set it before");
        values.emplace_back(index, api::NormalizedFromValue(*impl_->filter, Title(), index, value));
    }
    for (const auto& [index, normalized] : values)
        impl_->session->ScheduleParameter(std::max<std::int64_t>(frame, 0), index, normalized);
}

std::vector<std::string> Effect::Presets() const
{
    std::vector<std::string> names;
    for (int index = 0; index < impl_->filter->GetNumFactoryPresets(); ++index)
        names.push_back(core::ToUtf8(impl_->filter->GetFactoryPresetName(index)));
    return names;
}

void Effect::ApplyPreset(const std::string& preset)
{
    impl_->session->ApplyPreset(api::FindPreset(*impl_->filter, Title(), preset));
}

void Effect::ApplyPreset(int index)
{
    const int count = impl_->filter->GetNumFactoryPresets();
    if (index < 0 || index >= count)
        throw Error(Error::Code::UnknownName, count == 0 ? Title() + " has no presets"
                                                         : Title() + ": no preset " + std::to_string(index) +
                                                               "; indices run 0.." + std::to_string(count - 1));
    impl_->session->ApplyPreset(index);
}

std::string Effect::SaveSettings() const { return api::SettingsText(*impl_->filter, impl_->component); }

void Effect::LoadSettings(const std::string& json)
{
    api::LoadSettingsText(json, "text", *impl_->filter, impl_->component);
}

void Effect::SaveSettingsFile(const std::filesystem::path& path) const
{
    api::WriteFileAtomically(path, SaveSettings());
}

void Effect::LoadSettingsFile(const std::filesystem::path& path)
{
    api::LoadSettingsFile(path, *impl_->filter, impl_->component);
}

zoc::Curve Effect::Curve(int points) const
{
    constexpr int kMostPoints = 65536;
    if (points < 1 || points > kMostPoints)
        throw Error(Error::Code::InvalidValue, Title() + ": a curve has 1.." + std::to_string(kMostPoints) +
                                                   " points, not " + std::to_string(points));
    zoc::Curve curve;
    bool hasCurve = false;
    if (!api::DrawCurve(*impl_->filter, ClassName(), static_cast<std::size_t>(points), curve, hasCurve)) {
        if (hasCurve)
            throw Error(Error::Code::InvalidValue, Title() + " draws no curve with these settings");
        throw Error(Error::Code::WrongKind, Title() + " draws no curve");
    }
    return curve;
}

int Effect::Latency() const { return std::max(0, impl_->filter->GetInitialDelay()); }

void Effect::Prepare() { impl_->Start(); }

void Effect::Reset() { impl_->Stop(); }

int Effect::SideChainChannels() const
{
    return impl_->filter->CanUseSideChaining() ? SideChainBusChannels(*impl_->filter) : 0;
}

void Effect::ConnectSideChain(int channels)
{
    if (channels < 0 || channels > SideChainChannels())
        throw Error(Error::Code::UnsupportedLayout,
                    SideChainChannels() == 0
                        ? Title() + " takes no side-chain input"
                        : Title() + " takes 0.." + std::to_string(SideChainChannels()) + " side-chain channels, not " +
                              std::to_string(channels));
    impl_->sideChannels = channels;
    impl_->session->SetSideChain(static_cast<std::size_t>(channels));
    impl_->AllocateScratch();
    impl_->Stop();
}

void Effect::Process(const float* const* in, float* const* out, std::int64_t frames)
{
    impl_->Run(in, nullptr, out, frames);
}

void Effect::Process(const float* const* in, const float* const* sideChain, float* const* out, std::int64_t frames)
{
    impl_->Run(in, sideChain, out, frames);
}

std::vector<std::vector<float>> Effect::Generate(std::int64_t frames)
{
    if (!IsGenerator())
        throw Error(Error::Code::WrongKind, Title() + " is not a generator; use Process or Render");
    return impl_->RunOffline(nullptr, frames);
}

std::vector<std::vector<float>> Effect::Render(const float* const* in, std::int64_t frames)
{
    if (impl_->offline)
        return impl_->RunOffline(in, frames);
    // Real time: the whole input, then silence for the latency, with the
    // output's first `latency` frames dropped so it lines up with the input.
    Reset();
    const std::int64_t length = std::max<std::int64_t>(frames, 0);
    const auto channels = static_cast<std::size_t>(Channels());
    std::vector<std::vector<float>> output(channels, std::vector<float>(static_cast<std::size_t>(length)));
    std::vector<std::vector<float>> silence(channels, std::vector<float>(kSliceFrames, 0.0f));
    std::vector<std::vector<float>> skipped(channels, std::vector<float>(kSliceFrames));
    std::vector<const float*> inputs(channels);
    std::vector<float*> outputs(channels);
    std::int64_t toSkip = Latency();
    std::int64_t written = 0;
    for (std::int64_t fed = 0; written < length;) {
        const bool fromInput = fed < length;
        const std::int64_t slice = std::min(kSliceFrames, fromInput ? length - fed : toSkip + length - written);
        const std::int64_t skip = std::min(toSkip, slice);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            inputs[channel] = fromInput ? in[channel] + fed : silence[channel].data();
            // Frames before the latency go to a throwaway buffer.
            outputs[channel] = skip > 0 ? skipped[channel].data() : output[channel].data() + written;
        }
        const std::int64_t step = skip > 0 ? skip : std::min(slice, length - written);
        Process(inputs.data(), outputs.data(), step);
        fed += fromInput ? step : 0;
        toSkip -= skip;
        written += skip > 0 ? 0 : step;
    }
    return output;
}

} // namespace zoc
