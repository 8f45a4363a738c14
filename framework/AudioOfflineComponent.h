#pragma once
// Bases of components that run over a whole selection: they pull their input
// through the host's reader and push their output into a writer, on a worker
// thread started by OfflineRun, while the host drains the writer.

#include <cstddef>
#include <cstdint>
#include <string>

#include "contracts/host/AudioFilter.h"
#include "framework/OfflineInterfaces.h"

namespace zoc {

class AudioOfflineComponent : public host::AudioFilter {
public:
    AudioOfflineComponent(std::string componentID, core::UString title);

    /// Control thread, before OfflineRun. The base keeps nothing.
    virtual void SetOfflineReader(core::Ref<OfflineIInterface> reader);
    /// Control thread, before OfflineRun. The base keeps nothing.
    virtual void SetOfflineWriter(core::Ref<OfflineOInterface> writer);
    /// Text the host shows when the run is over; the base leaves it empty.
    virtual void GetCompletionText(core::UString& text);
    /// Starts a run over frames [start, end) of the selection and returns at
    /// once; false when it cannot start. The base does nothing and succeeds.
    virtual bool OfflineRun(std::int64_t start, std::int64_t end);
    /// Where the run publishes its progress (0..1); the host reads it while
    /// the run goes on. The base ignores it.
    virtual void SetProgressHandler(volatile float* progress);
};

namespace components {

class MultiChannelOfflineComponent : public AudioOfflineComponent {
public:
    MultiChannelOfflineComponent(std::string componentID, core::UString title, int maxChannels);

    /// Takes exactly one input and one output layout of the same channel
    /// count (more channels than the maximum run as one), rebuilds the buses
    /// every time, even for the current layout, and reports the count.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;

    int GetMaxChannelCount() const { return maxChannels_; }

protected:
    virtual void OnNumberOfChannelsChanged(std::size_t count) = 0;

private:
    int maxChannels_;
};

} // namespace components
} // namespace zoc
