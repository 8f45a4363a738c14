#pragma once
// The offline runner a generator or other offline component holds: it owns
// the component's kernel and runs it over a selection on a worker thread of
// the library's background executor, reading input from the host's reader
// and putting the output into the host's writer, while the host drains the
// writer on its own thread. A component supplies only its kernel.
//
// Threads: every public operation is for the control thread. Run returns at
// once; the worker publishes progress, can be cancelled (Cancel waits until
// it has stopped) and closes the writer for writing when it is done. The
// kernel's Process runs only on the worker during a run; settings that reach
// the kernel during a run take effect at the next run (kernels take a
// snapshot in Resume).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "contracts/dsp/Kernel.h"
#include "framework/OfflineInterfaces.h"

namespace zoc {

class OfflineRunnerBase {
public:
    /// Frames the kernel processes per step.
    static constexpr int kBlockFrames = 4096;

    OfflineRunnerBase() = default;
    virtual ~OfflineRunnerBase() = default;
    OfflineRunnerBase(const OfflineRunnerBase&) = delete;
    OfflineRunnerBase& operator=(const OfflineRunnerBase&) = delete;

    void SetReader(core::Ref<OfflineIInterface> reader);
    void SetWriter(core::Ref<OfflineOInterface> writer);
    /// The selection's first frame in the source, where reading starts.
    void SetSelectionStart(std::int64_t frame);
    std::int64_t GetSelectionStart() const { return selectionStart_; }
    void SetProgressHandler(volatile float* progress);
    std::size_t GetChannels() const { return channels_; }

    /// Stops an earlier run, rewinds the kernel and starts producing output
    /// frames [start, end) of the selection: the kernel runs from the
    /// selection's start, its latency and the frames before `start` are
    /// dropped. False without a writer or a background executor.
    bool Run(std::int64_t start, std::int64_t end);
    /// Asks a run to stop and waits until it has.
    void Cancel();
    /// Cancels, then rewinds the kernel (the component's Resume).
    void Reset();
    /// Cancels, then suspends the kernel.
    void Suspend();
    /// True once a run has put all its frames into the writer.
    bool IsFinished() const { return finished_.load(std::memory_order_acquire); }
    bool IsRunning() const;
    bool IsCancelled() const { return cancel_.load(std::memory_order_acquire); }

protected:
    /// Resizes the scratch buffers (control thread, no run active).
    void AllocateChannels(std::size_t channels);

private:
    virtual void ProcessBlock(float** inputs, float** outputs, int frames) = 0;
    virtual int KernelLatency() const = 0;
    virtual void ResumeKernel() = 0;
    virtual void SuspendKernel() = 0;

    void Work(std::int64_t start, std::int64_t end);
    void ReadInput(std::int64_t position, std::int64_t inputEnd, int frames);
    void Publish(float fraction);

    core::Ref<OfflineIInterface> reader_;
    core::Ref<OfflineOInterface> writer_;
    std::int64_t selectionStart_ = 0;
    std::size_t channels_ = 0;
    std::vector<std::vector<float>> input_;
    std::vector<std::vector<float>> output_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    std::atomic<volatile float*> progress_{nullptr};

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool running_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
};

template <dsp::OfflineKernel Kernel>
class OfflineRunner final : public OfflineRunnerBase {
public:
    OfflineRunner() { AllocateChannels(2); }
    ~OfflineRunner() override { Cancel(); }

    /// The kernel, for its parameters and bounds. Its settings may change
    /// during a run; they are taken at the next Run or Reset.
    Kernel& GetKernel() { return kernel_; }
    const Kernel& GetKernel() const { return kernel_; }

    /// Cancels a run, then gives the kernel and the scratch space the count.
    void SetChannels(std::size_t channels)
    {
        Cancel();
        kernel_.SetChannels(static_cast<int>(channels));
        AllocateChannels(channels);
    }

private:
    void ProcessBlock(float** inputs, float** outputs, int frames) override { kernel_.Process(inputs, outputs, frames); }
    int KernelLatency() const override { return kernel_.GetLatency(); }
    void ResumeKernel() override { kernel_.Resume(); }
    void SuspendKernel() override { kernel_.Suspend(); }

    Kernel kernel_;
};

} // namespace zoc
