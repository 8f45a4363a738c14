#include "tools/zoc/Render.h"

#include "tools/zoc/OfflineRender.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace zoc::tool {

namespace {

constexpr std::int64_t kChunkFrames = 65536;

void Measure(const std::vector<std::vector<float>>& planar, std::size_t offset, std::int64_t frames, float& peak,
             double& sumSquares)
{
    for (const std::vector<float>& channel : planar) {
        const std::size_t end = offset + static_cast<std::size_t>(frames);
        for (std::size_t i = offset; i < end; ++i) {
            const float magnitude = std::fabs(channel[i]);
            if (magnitude > peak) // NaN never compares greater
                peak = magnitude;
            if (std::isfinite(magnitude))
                sumSquares += static_cast<double>(magnitude) * magnitude;
        }
    }
}

} // namespace

RenderStats Render(host::Session& session, AudioReader& reader, AudioWriter& writer, const RenderOptions& options)
{
    if (session.Filter().IsOfflineProcess())
        return RenderOffline(session, &reader, std::max<std::int64_t>(reader.Frames(), 0), writer, options);
    return RenderChain({&session}, reader, writer, options);
}

RenderStats RenderChain(const std::vector<host::Session*>& stages, AudioReader& reader, AudioWriter& writer,
                        const RenderOptions& options)
{
    const std::size_t channels = reader.Channels();
    std::vector<std::vector<float>> input(channels, std::vector<float>(kChunkFrames));
    // Stages write alternately into two buffers, each reading the other.
    std::vector<std::vector<float>> buffers[2] = {
        std::vector<std::vector<float>>(channels, std::vector<float>(kChunkFrames)),
        std::vector<std::vector<float>>(channels, std::vector<float>(kChunkFrames))};
    std::vector<float*> inputPointers(channels);
    std::vector<float*> bufferPointers[2] = {std::vector<float*>(channels), std::vector<float*>(channels)};
    for (std::size_t channel = 0; channel < channels; ++channel) {
        inputPointers[channel] = input[channel].data();
        bufferPointers[0][channel] = buffers[0][channel].data();
        bufferPointers[1][channel] = buffers[1][channel].data();
    }
    // Each stage reads the input or what the stage before wrote; side-chain
    // channels follow the main ones in the inputs of the stage they feed.
    std::vector<std::vector<float*>> stageInputs;
    for (std::size_t stage = 0; stage < stages.size(); ++stage)
        stageInputs.push_back(stage == 0 ? inputPointers : bufferPointers[(stage - 1) % 2]);
    const std::size_t sideChannels = options.sideChain ? options.sideChain->Channels() : 0;
    const std::size_t sideStage = std::min(options.sideChainStage, stages.size() - 1);
    std::vector<std::vector<float>> side(sideChannels, std::vector<float>(kChunkFrames));
    std::vector<std::vector<float>> sideRead(sideChannels, std::vector<float>(kChunkFrames));
    for (std::size_t channel = 0; channel < sideChannels; ++channel)
        stageInputs[sideStage].push_back(side[channel].data());
    bool sideChainDone = sideChannels == 0;
    const std::vector<std::vector<float>>& output = buffers[(stages.size() - 1) % 2];

    RenderStats stats;
    const auto start = std::chrono::steady_clock::now();
    // A stream's header does not know its length: no duration, no progress.
    const std::int64_t inputFrames = reader.LengthKnown() ? std::max<std::int64_t>(reader.Frames(), 0) : 0;
    for (host::Session* session : stages) {
        // The whole input is the selection; envelopes count it in frames.
        session->Filter().SetSelectionLeft(0.0);
        session->Filter().SetCurrentDuration(static_cast<double>(inputFrames));
        // A file is rendered, not played: work a component would defer while
        // playing runs in place, so the same command gives the same output.
        session->SetRenderingOffline(true);
        session->Resume();
        const int latency = std::max(0, session->Filter().GetInitialDelay());
        stats.stageLatencies.push_back(latency);
        stats.latency += latency;
    }
    std::int64_t sideDelayLeft = 0;
    for (std::size_t stage = 0; stage < sideStage; ++stage)
        sideDelayLeft += stats.stageLatencies[stage];
    // Aligned output: feed latency + tail frames of silence after the input
    // and drop the first `latency` frames of output.
    std::int64_t toSkip = options.raw ? 0 : stats.latency;
    std::int64_t silenceLeft = options.raw ? 0 : stats.latency + options.tailFrames;
    const double expected = reader.LengthKnown() ? static_cast<double>(inputFrames + silenceLeft) : 0.0;

    bool inputDone = false;
    std::int64_t fed = 0;
    while (true) {
        std::int64_t frames = 0;
        if (!inputDone) {
            frames = reader.Read(input, kChunkFrames);
            if (frames == 0)
                inputDone = true;
            else {
                stats.framesIn += frames;
                if (options.measureLevels)
                    Measure(input, 0, frames, stats.inputPeak, stats.inputSumSquares);
            }
        }
        if (inputDone) {
            frames = std::min(silenceLeft, kChunkFrames);
            if (frames == 0)
                break;
            silenceLeft -= frames;
            for (std::vector<float>& channel : input)
                std::fill_n(channel.begin(), frames, 0.0f);
        }
        if (sideChannels > 0) {
            // Silence while the side-chain waits for its stage's latency,
            // then the file, then silence after its end.
            const std::int64_t delay = std::min(sideDelayLeft, frames);
            sideDelayLeft -= delay;
            const std::int64_t sideFrames =
                sideChainDone || delay == frames ? 0 : options.sideChain->Read(sideRead, frames - delay);
            sideChainDone = sideChainDone || sideFrames < frames - delay;
            for (std::size_t channel = 0; channel < sideChannels; ++channel) {
                std::vector<float>& out = side[channel];
                std::fill_n(out.begin(), delay, 0.0f);
                std::copy_n(sideRead[channel].begin(), sideFrames, out.begin() + delay);
                std::fill(out.begin() + delay + sideFrames, out.begin() + frames, 0.0f);
            }
        }
        for (std::size_t stage = 0; stage < stages.size(); ++stage)
            stages[stage]->Process(stageInputs[stage].data(), bufferPointers[stage % 2].data(), frames);
        fed += frames;
        const std::int64_t skipped = std::min(toSkip, frames);
        toSkip -= skipped;
        const std::int64_t keep = frames - skipped;
        if (options.measureLevels)
            Measure(output, static_cast<std::size_t>(skipped), keep, stats.outputPeak, stats.outputSumSquares);
        writer.Write(output, static_cast<std::size_t>(skipped), keep);
        stats.framesOut += keep;
        if (options.progress && expected > 0)
            options.progress(static_cast<double>(fed) / expected);
    }
    for (host::Session* session : stages)
        session->Suspend();
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return stats;
}

double ToDecibels(double amplitude)
{
    if (!(amplitude > 0.0))
        return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(amplitude);
}

} // namespace zoc::tool
