#pragma once
// Shared measuring loop of the component benchmarks: 48 kHz stereo 512-frame
// blocks of program-like material, a second of warm-up after Resume, then
// timed blocks. Reports frames per second and the real-time factor (audio
// seconds processed per second of processing).

#include <functional>

#include <benchmark/benchmark.h>

#include "platform/host/Session.h"

namespace zoc::bench {

constexpr float kSampleRate = 48000.0f;
constexpr int kChannels = 2;
constexpr int kBlock = 512;

/// Times `session`'s component, configured and set up by the caller but not
/// resumed. `beforeBlock`, when given, runs before every timed block (a
/// parameter change, say) and is timed with it.
void TimeBlocks(benchmark::State& state, host::Session& session,
                const std::function<void(std::int64_t block)>& beforeBlock = {});

} // namespace zoc::bench
