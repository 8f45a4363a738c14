#pragma once
// Streams an audio file through a configured component: reads in chunks,
// hands them to the session in host blocks, compensates the reported latency
// and writes the result, so a file of any length needs only a chunk of memory.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"

namespace zoc::tool {

struct RenderOptions {
    /// Write exactly the frames produced for the input's frames.
    bool raw = false;
    /// Extra output frames after the input (silence fed), aligned mode only.
    std::int64_t tailFrames = 0;
    /// Called now and then with the fraction done.
    std::function<void(double)> progress;
    /// Measure input and output peak and RMS (the demo's table needs them).
    bool measureLevels = false;
    /// Side-chain input, read alongside the input (silence after its end).
    /// The session must have been told its channel count (SetSideChain).
    AudioReader* sideChain = nullptr;
    /// The stage of a chain the side-chain feeds. It reaches that stage
    /// later by the latency of the stages before, as the input does, so the
    /// two stay in step.
    std::size_t sideChainStage = 0;
};

struct RenderStats {
    int latency = 0; ///< of the whole chain
    std::vector<int> stageLatencies; ///< of each stage, in order
    std::int64_t framesIn = 0;
    std::int64_t framesOut = 0;
    double seconds = 0.0; ///< wall time of the read-process-write loop
    float inputPeak = 0.0f;
    double inputSumSquares = 0.0;
    float outputPeak = 0.0f;
    double outputSumSquares = 0.0;
};

/// Makes the whole input the selection (in frames), resumes the session,
/// renders everything and suspends. The session must be
/// configured for the reader's channels and rate, with its block size,
/// preset and parameters already set.
RenderStats Render(host::Session& session, AudioReader& reader, AudioWriter& writer, const RenderOptions& options);

/// Render through real-time sessions in series: each block of the input goes
/// through every stage before the next is read, and the latencies of all
/// stages are compensated (and the tail fed) once, at the end of the chain.
/// A side-chain feeds the stage the options name. Every session configured as
/// for Render.
RenderStats RenderChain(const std::vector<host::Session*>& stages, AudioReader& reader, AudioWriter& writer,
                        const RenderOptions& options);

/// Level in dBFS of a linear amplitude ("-inf" for silence).
double ToDecibels(double amplitude);

} // namespace zoc::tool
