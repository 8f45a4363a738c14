#pragma once
// Drives one offline component the way the host does: configure, set the
// reader, the writer and the selection, call OfflineRun, then drain the
// writer on this thread while the component's run produces on a worker, and
// follow the run's progress. The command line, the tests and the benchmarks
// share it.
//
// The session works with the component library's offline classes, which sit
// above this host library, so it is defined entirely in this header and
// compiled into whatever uses it.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "framework/AudioOfflineComponent.h"
#include "framework/DefaultOfflineWriter.h"
#include "platform/host/Session.h"

namespace zoc::host {

class OfflineSession {
public:
    /// Ring size of the writer: about 1.4 s at 48 kHz, plenty for the
    /// producer to run ahead while the consumer writes a file.
    static constexpr long kRingFrames = 65536;

    /// `filter` must be an offline component (IsValid tells).
    explicit OfflineSession(core::Ref<AudioFilter> filter)
        : filter_(filter), offline_(dynamic_cast<AudioOfflineComponent*>(filter.get())), session_(filter),
          writer_(core::MakeRef<DefaultOfflineWriter>())
    {
    }
    ~OfflineSession() { Stop(); }
    OfflineSession(const OfflineSession&) = delete;
    OfflineSession& operator=(const OfflineSession&) = delete;

    bool IsValid() const { return offline_ != nullptr; }
    AudioFilter& Filter() { return *filter_; }
    /// The real-time session over the same component, for configuring it:
    /// layout, rate, presets and parameters.
    Session& Configuration() { return session_; }
    bool Configure(std::size_t channels, float sampleRate) { return session_.Configure(channels, sampleRate); }

    /// Input of the run; none for a generator (it then reads silence).
    void SetReader(core::Ref<zoc::OfflineIInterface> reader) { reader_ = std::move(reader); }

    /// The selection: its first frame in the source and its length in frames.
    void SetSelection(std::int64_t start, std::int64_t frames)
    {
        filter_->SetSelectionLeft(static_cast<double>(std::max<std::int64_t>(start, 0)));
        filter_->SetCurrentDuration(static_cast<double>(std::max<std::int64_t>(frames, 0)));
    }

    /// Frames the run will produce.
    std::int64_t OutputFrames() { return static_cast<std::int64_t>(filter_->GetProcessedDuration()); }
    std::size_t Channels() { return filter_->GetNumberOfOutputChannels(); }

    /// Resumes the component, hands it the reader and a fresh writer and
    /// starts the run over the whole processed duration. False when the
    /// component did not start.
    bool Start()
    {
        if (!IsValid())
            return false;
        Stop();
        filter_->Resume();
        writer_->Initialize(static_cast<long>(Channels()), kRingFrames);
        offline_->SetOfflineReader(reader_);
        offline_->SetOfflineWriter(writer_);
        std::atomic_ref<float>(progress_).store(0.0f);
        offline_->SetProgressHandler(&progress_);
        delivered_ = 0;
        running_ = offline_->OfflineRun(0, OutputFrames());
        return running_;
    }

    /// Takes up to `frames` frames of the output into destination[channel];
    /// blocks until some are there. 0 once the run is over and everything
    /// has been taken.
    long Read(float* const* destination, long frames)
    {
        if (!running_ || frames <= 0)
            return 0;
        for (;;) {
            const long got =
                writer_->GetAudio(const_cast<float**>(destination), static_cast<long>(Channels()), frames);
            if (got > 0) {
                delivered_ += got;
                return got;
            }
            if (!writer_->IsOpenToWrite() && writer_->GetAvailable() == 0)
                return 0;
        }
    }

    /// The run's published progress, 0..1.
    float Progress() const { return std::atomic_ref<float>(const_cast<float&>(progress_)).load(); }
    /// True when the run put every frame (false after a cut-short run).
    bool Finished() { return offline_ != nullptr && offline_->OfflineProcessFinished(); }
    std::int64_t Delivered() const { return delivered_; }

    /// Suspends the component, which ends a run still going.
    void Stop()
    {
        if (!running_)
            return;
        running_ = false;
        filter_->Suspend();
        offline_->SetProgressHandler(nullptr);
    }

private:
    core::Ref<AudioFilter> filter_;
    AudioOfflineComponent* offline_;
    Session session_;
    core::Ref<DefaultOfflineWriter> writer_;
    core::Ref<zoc::OfflineIInterface> reader_;
    alignas(float) float progress_ = 0.0f;
    std::int64_t delivered_ = 0;
    bool running_ = false;
};

} // namespace zoc::host
