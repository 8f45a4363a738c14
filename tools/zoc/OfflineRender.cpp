#include "tools/zoc/OfflineRender.h"

#include <chrono>
#include <cmath>
#include <exception>

#include "platform/host/OfflineSession.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

constexpr long kChunkFrames = 65536;

/// The input file as the component's reader. Runs read forward only, so
/// the file is read in order; an error is kept and raised after the run
/// (readers report no errors to the component).
class FileReader : public OfflineIInterface {
public:
    explicit FileReader(AudioReader& reader) : reader_(reader), chunk_(reader.Channels()) {}

    long GetChannelCount() const override { return static_cast<long>(reader_.Channels()); }

    long GetAudio(float** destination, long channels, std::int64_t position, long frames) override
    {
        try {
            for (std::vector<float>& channel : chunk_)
                channel.resize(static_cast<std::size_t>(std::max(frames, 1l)));
            while (next_ < position) {
                const std::int64_t skipped = reader_.Read(chunk_, std::min<std::int64_t>(frames, position - next_));
                if (skipped == 0)
                    return 0;
                next_ += skipped;
            }
            if (position != next_)
                return 0;
            const auto got = static_cast<long>(reader_.Read(chunk_, frames));
            next_ += got;
            for (long channel = 0; channel < std::min<long>(channels, GetChannelCount()); ++channel)
                std::copy_n(chunk_[static_cast<std::size_t>(channel)].begin(), got, destination[channel]);
            return got;
        } catch (...) {
            error_ = std::current_exception();
            return 0;
        }
    }

    void RethrowError() const
    {
        if (error_)
            std::rethrow_exception(error_);
    }

private:
    AudioReader& reader_;
    std::vector<std::vector<float>> chunk_;
    std::int64_t next_ = 0;
    std::exception_ptr error_;
};

void Measure(const std::vector<std::vector<float>>& planar, long frames, float& peak, double& sumSquares)
{
    for (const std::vector<float>& channel : planar)
        for (long i = 0; i < frames; ++i) {
            const float magnitude = std::fabs(channel[static_cast<std::size_t>(i)]);
            if (magnitude > peak)
                peak = magnitude;
            if (std::isfinite(magnitude))
                sumSquares += static_cast<double>(magnitude) * magnitude;
        }
}

} // namespace

RenderStats RenderOffline(host::Session& session, AudioReader* reader, std::int64_t frames, AudioWriter& writer,
                          const RenderOptions& options)
{
    RenderStats stats;
    const auto start = std::chrono::steady_clock::now();
    host::OfflineSession offline(core::Ref<host::AudioFilter>(&session.Filter()));
    if (!offline.IsValid())
        throw UsageError("the component is not an offline component");
    core::Ref<FileReader> input;
    if (reader != nullptr) {
        input = core::MakeRef<FileReader>(*reader);
        offline.SetReader(input);
    }
    offline.SetSelection(0, std::max<std::int64_t>(frames, 0));
    const std::size_t channels = offline.Channels();
    std::vector<std::vector<float>> output(channels, std::vector<float>(kChunkFrames));
    std::vector<float*> pointers(channels);
    for (std::size_t channel = 0; channel < channels; ++channel)
        pointers[channel] = output[channel].data();
    if (!offline.Start())
        throw IoError("the component's run could not start");
    const auto expected = static_cast<double>(offline.OutputFrames());
    for (;;) {
        const long got = offline.Read(pointers.data(), kChunkFrames);
        if (got == 0)
            break;
        if (options.measureLevels)
            Measure(output, got, stats.outputPeak, stats.outputSumSquares);
        writer.Write(output, 0, got);
        stats.framesOut += got;
        if (options.progress && expected > 0)
            options.progress(static_cast<double>(stats.framesOut) / expected);
    }
    const bool finished = offline.Finished();
    offline.Stop();
    if (input)
        input->RethrowError();
    if (!finished)
        throw IoError("the component's run stopped before the end");
    stats.framesIn = std::max<std::int64_t>(frames, 0);
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return stats;
}

} // namespace zoc::tool
