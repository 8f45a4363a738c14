#pragma once
// A small offline host for tests: configures a component, applies presets
// and parameters, resumes, runs planar signals through it in blocks and
// suspends, exactly as the real host would.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/Session.h"

namespace zoc::test {

using Signal = std::vector<std::vector<float>>; // [channel][frame]

/// `frames` frames of `channels` channels, all `value`.
Signal ConstantSignal(std::size_t channels, std::size_t frames, float value);
/// A unit impulse at `at` in every channel.
Signal ImpulseSignal(std::size_t channels, std::size_t frames, std::size_t at = 0);
/// A sine of `frequency` Hz and `amplitude`, the same in every channel.
Signal SineSignal(std::size_t channels, std::size_t frames, float sampleRate, float frequency,
                  float amplitude = 0.5f);

class TestHost {
public:
    explicit TestHost(core::Ref<host::AudioFilter> filter);

    /// Creates the registered component with this identifier.
    static TestHost ForComponent(const std::string& componentID);

    /// Proposes the channel layout and sets the rate; asserts acceptance
    /// unless `expectAccepted` is false. Returns the component's answer.
    bool Configure(std::size_t channels, float sampleRate, bool expectAccepted = true);

    host::Session& GetSession() { return *session_; }
    host::AudioFilter& Filter() { return session_->Filter(); }

    void Resume() { session_->Resume(); }
    void Suspend() { session_->Suspend(); }
    /// Runs `input` through the component in blocks of `blockSize` (resuming
    /// first unless `resume` is false) and returns the output.
    Signal Run(const Signal& input, int blockSize = 512, bool resume = true);
    /// Processes one block in place of the session's block splitting.
    void ProcessBlock(const Signal& input, Signal& output, std::size_t offset, int frames);
    /// Resumes and processes `input` block by block, calling `before(from)`
    /// ahead of the block starting at frame `from`.
    Signal RunInBlocks(const Signal& input, std::size_t block,
                       const std::function<void(std::size_t)>& before = {});
    /// Resumes, then processes 512-frame blocks of a stereo sine under an
    /// AllocationGuard: one block, then one after each change.
    void ExpectBlocksDoNotAllocate(const std::vector<std::function<void()>>& changes);

private:
    std::shared_ptr<host::Session> session_;
};

/// Largest absolute difference between two signals of the same shape.
float MaxDifference(const Signal& a, const Signal& b);

} // namespace zoc::test
