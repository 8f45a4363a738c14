// The worker loop of offline runs: read, process, drop latency, put.

#include "framework/OfflineRunner.h"

#include <algorithm>
#include <atomic>

#include "dsp/Denormals.h"
#include "framework/Library.h"

namespace zoc {

void OfflineRunnerBase::SetReader(core::Ref<OfflineIInterface> reader)
{
    Cancel();
    reader_ = std::move(reader);
}

void OfflineRunnerBase::SetWriter(core::Ref<OfflineOInterface> writer)
{
    Cancel();
    writer_ = std::move(writer);
}

void OfflineRunnerBase::SetSelectionStart(std::int64_t frame)
{
    Cancel();
    selectionStart_ = std::max<std::int64_t>(frame, 0);
}

void OfflineRunnerBase::SetProgressHandler(volatile float* progress)
{
    progress_.store(progress, std::memory_order_release);
}

void OfflineRunnerBase::AllocateChannels(std::size_t channels)
{
    channels_ = channels;
    input_.assign(channels, std::vector<float>(kBlockFrames, 0.0f));
    output_.assign(channels, std::vector<float>(kBlockFrames, 0.0f));
    inputPointers_.resize(channels);
    outputPointers_.resize(channels);
    for (std::size_t channel = 0; channel < channels; ++channel) {
        inputPointers_[channel] = input_[channel].data();
        outputPointers_[channel] = output_[channel].data();
    }
}

bool OfflineRunnerBase::Run(std::int64_t start, std::int64_t end)
{
    Cancel();
    if (!writer_ || channels_ == 0)
        return false;
    start = std::max<std::int64_t>(start, 0);
    end = std::max(end, start);
    ResumeKernel();
    cancel_.store(false, std::memory_order_release);
    finished_.store(false, std::memory_order_release);
    Publish(0.0f);
    writer_->SetOpenToWrite(true);
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    if (PostBackgroundTask([this, start, end] { Work(start, end); }))
        return true;
    // No executor (the library is not initialized): nothing will run.
    writer_->SetOpenToWrite(false);
    std::lock_guard lock(mutex_);
    running_ = false;
    return false;
}

void OfflineRunnerBase::Cancel()
{
    std::unique_lock lock(mutex_);
    if (!running_)
        return;
    cancel_.store(true, std::memory_order_release);
    stopped_.wait(lock, [this] { return !running_; });
}

void OfflineRunnerBase::Reset()
{
    Cancel();
    ResumeKernel();
}

void OfflineRunnerBase::Suspend()
{
    Cancel();
    SuspendKernel();
}

bool OfflineRunnerBase::IsRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void OfflineRunnerBase::ReadInput(std::int64_t position, std::int64_t inputEnd, int frames)
{
    long delivered = 0;
    long readChannels = 0;
    if (reader_ && position < inputEnd) {
        readChannels = std::min<long>(static_cast<long>(channels_), reader_->GetChannelCount());
        const long wanted = static_cast<long>(std::min<std::int64_t>(frames, inputEnd - position));
        if (readChannels > 0)
            delivered = std::clamp(reader_->GetAudio(inputPointers_.data(), readChannels,
                                                     selectionStart_ + position, wanted),
                                   0l, wanted);
    }
    // Past the source, and in channels the reader lacks, the input is silence.
    for (std::size_t channel = 0; channel < channels_; ++channel) {
        const long from = static_cast<long>(channel) < readChannels ? delivered : 0;
        std::fill(input_[channel].begin() + from, input_[channel].begin() + frames, 0.0f);
    }
}

void OfflineRunnerBase::Work(std::int64_t start, std::int64_t end)
{
    dsp::ScopedFlushDenormals denormals;
    const std::int64_t total = end - start;
    std::int64_t toDrop = start + std::max(0, KernelLatency());
    std::int64_t remaining = total;
    std::int64_t position = 0; // frames the kernel has processed
    bool complete = true;
    try {
        while (remaining > 0) {
            if (IsCancelled()) {
                complete = false;
                break;
            }
            ReadInput(position, end, kBlockFrames);
            ProcessBlock(inputPointers_.data(), outputPointers_.data(), kBlockFrames);
            position += kBlockFrames;
            const std::int64_t dropped = std::min<std::int64_t>(toDrop, kBlockFrames);
            toDrop -= dropped;
            std::int64_t offset = dropped;
            std::int64_t keep = std::min(kBlockFrames - dropped, remaining);
            while (keep > 0 && !IsCancelled()) {
                const long taken = writer_->PutAudio(const_cast<const float**>(outputPointers_.data()),
                                                     static_cast<long>(channels_), offset, static_cast<long>(keep));
                offset += taken;
                keep -= taken;
                remaining -= taken;
            }
            Publish(static_cast<float>(static_cast<double>(total - remaining) / static_cast<double>(total)));
        }
    } catch (...) {
        // Readers and kernels report no errors; should one throw anyway, the
        // run ends short instead of taking the process down.
        complete = false;
    }
    if (complete)
        Publish(1.0f);
    finished_.store(complete, std::memory_order_release);
    writer_->SetOpenToWrite(false);
    std::lock_guard lock(mutex_);
    running_ = false;
    stopped_.notify_all();
}

void OfflineRunnerBase::Publish(float fraction)
{
    volatile float* progress = progress_.load(std::memory_order_acquire);
    if (progress != nullptr)
        std::atomic_ref<float>(const_cast<float&>(*progress)).store(fraction, std::memory_order_relaxed);
}

} // namespace zoc
