#include "framework/OfflineRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "framework/DefaultOfflineWriter.h"
#include "framework/Library.h"

namespace zoc {
namespace {

/// Output = input + the frame's index, delayed by `latency` frames: shows
/// which frames a run reads, drops and delivers.
class CountingKernel {
public:
    void SetSampleRate(int) {}
    void SetChannels(int channels) { channels_ = channels; }
    void SetParameter(int, float value) { latency_ = static_cast<int>(value); }
    float GetParameter(int) const { return static_cast<float>(latency_); }
    void GetBounds(int, float& lo, float& hi) const { lo = 0.0f, hi = 1000.0f; }
    int GetLatency() const { return latency_; }
    void SetDuration(long long frames) { duration_ = frames; }
    long long GetProcessedDuration() const { return duration_; }
    void Resume()
    {
        position_ = 0;
        history_.assign(static_cast<std::size_t>(channels_), std::vector<float>(static_cast<std::size_t>(latency_), 0.0f));
    }
    void Suspend() {}
    void Process(float** inputs, float** outputs, int frames)
    {
        for (int channel = 0; channel < channels_; ++channel) {
            auto& history = history_[static_cast<std::size_t>(channel)];
            for (int k = 0; k < frames; ++k) {
                const float value = inputs[channel][k] + static_cast<float>(position_ + k);
                history.push_back(value);
                outputs[channel][k] = history.front();
                history.erase(history.begin());
            }
        }
        position_ += frames;
    }

private:
    int channels_ = 2;
    int latency_ = 0;
    long long duration_ = 0;
    long long position_ = 0;
    std::vector<std::vector<float>> history_;
};

/// A source whose frame p holds 1000 * p in every channel.
class ScaledPositionReader : public OfflineIInterface {
public:
    explicit ScaledPositionReader(std::int64_t frames) : frames_(frames) {}
    long GetChannelCount() const override { return 2; }
    long GetAudio(float** destination, long channels, std::int64_t position, long frames) override
    {
        const long delivered = static_cast<long>(std::clamp<std::int64_t>(frames_ - position, 0, frames));
        for (long channel = 0; channel < channels; ++channel)
            for (long k = 0; k < delivered; ++k)
                destination[channel][k] = 1000.0f * static_cast<float>(position + k);
        return delivered;
    }

private:
    std::int64_t frames_;
};

class OfflineRunnerThreaded : public ::testing::Test {
protected:
    void SetUp() override { Initialize(); }
    void TearDown() override { Terminate(); }

    /// Drains the writer until the run is over.
    std::vector<float> Drain(DefaultOfflineWriter& writer, std::size_t channel = 0)
    {
        std::vector<float> result;
        std::vector<std::vector<float>> block(2, std::vector<float>(1000));
        std::vector<float*> pointers{block[0].data(), block[1].data()};
        for (long got; (got = writer.GetAudio(pointers.data(), 2, 1000)) > 0 || writer.IsOpenToWrite() ||
                       writer.GetAvailable() > 0;)
            result.insert(result.end(), block[channel].begin(), block[channel].begin() + got);
        return result;
    }
};

TEST_F(OfflineRunnerThreaded, DeliversTheRequestedRangeAfterLatencyFromTheSelection)
{
    OfflineRunner<CountingKernel> runner;
    runner.SetChannels(2);
    runner.GetKernel().SetParameter(0, 37.0f); // latency
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(2, 512); // smaller than a block: the worker must wait for room
    runner.SetWriter(writer);
    runner.SetReader(core::MakeRef<ScaledPositionReader>(20000));
    runner.SetSelectionStart(100);
    alignas(float) float progress = -1.0f;
    runner.SetProgressHandler(&progress);

    constexpr std::int64_t kStart = 5000;
    constexpr std::int64_t kEnd = 13000;
    ASSERT_TRUE(runner.Run(kStart, kEnd));
    const std::vector<float> output = Drain(*writer);
    ASSERT_EQ(output.size(), static_cast<std::size_t>(kEnd - kStart));
    // Output frame j of the selection is kernel frame j: its index plus the
    // source frame 100 + j it read.
    for (std::int64_t j = kStart; j < kEnd; j += 997)
        EXPECT_EQ(output[static_cast<std::size_t>(j - kStart)], static_cast<float>(j) + 1000.0f * static_cast<float>(100 + j))
            << j;
    runner.Cancel();
    EXPECT_TRUE(runner.IsFinished());
    EXPECT_EQ(std::atomic_ref<float>(progress).load(), 1.0f);
}

TEST_F(OfflineRunnerThreaded, CancelStopsARunNobodyDrains)
{
    OfflineRunner<CountingKernel> runner;
    runner.SetChannels(2);
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(2, 256);
    runner.SetWriter(writer);
    ASSERT_TRUE(runner.Run(0, 1 << 20));
    const auto start = std::chrono::steady_clock::now();
    runner.Cancel();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_FALSE(runner.IsRunning());
    EXPECT_FALSE(runner.IsFinished());
    EXPECT_FALSE(writer->IsOpenToWrite()) << "the consumer must see the end";

    // A new run after the cancelled one starts from the beginning.
    writer->Initialize(2, 256);
    ASSERT_TRUE(runner.Run(0, 3000));
    const std::vector<float> output = Drain(*writer);
    ASSERT_EQ(output.size(), 3000u);
    EXPECT_EQ(output[0], 0.0f);
    EXPECT_EQ(output[2999], 2999.0f);
}

TEST(OfflineRunner, DoesNotStartWithoutWriterOrExecutor)
{
    OfflineRunner<CountingKernel> runner;
    runner.SetChannels(1);
    EXPECT_FALSE(runner.Run(0, 100)) << "no writer";
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(1, 64);
    runner.SetWriter(writer);
    if (GetInitializeCount() == 0) {
        EXPECT_FALSE(runner.Run(0, 100)) << "no background executor";
        EXPECT_FALSE(writer->IsOpenToWrite());
    }
}

} // namespace
} // namespace zoc
