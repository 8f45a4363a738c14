#pragma once
// A linear crossfade between two sets of processing settings, with one slot
// for a change that arrives while a fade runs. The owner renders every frame
// with both sets while Fading() and mixes them with IncomingWeight(), one
// frame at a time or in runs of up to Remaining() frames.
//
// Audio thread only: the owner calls Change at the start of a block.

#include <algorithm>

namespace zoc {

template <class Settings>
class SettingsFade {
public:
    /// Jumps to `settings` with no fade and nothing waiting.
    void Reset(const Settings& settings, int fadeFrames)
    {
        current_ = incoming_ = waiting_ = settings;
        length_ = std::max(1, fadeFrames);
        remaining_ = 0;
        hasWaiting_ = false;
    }

    /// Starts a fade to `settings`, or, while one runs, keeps them to fade to
    /// next; a later change replaces an earlier waiting one. True when a new
    /// fade started.
    bool Change(const Settings& settings)
    {
        if (remaining_ == 0) {
            if (settings == current_)
                return false;
            incoming_ = settings;
            remaining_ = length_;
            return true;
        }
        waiting_ = settings;
        // Coming back to the set being faded in leaves nothing to wait for.
        hasWaiting_ = !(settings == incoming_);
        return false;
    }

    bool Fading() const { return remaining_ > 0; }
    /// Share of the incoming set in this frame: 0 on the first frame of a
    /// fade, rising by 1/length per frame.
    float IncomingWeight() const { return IncomingWeight(0); }
    /// IncomingWeight() `ahead` frames later in the same fade (ahead < Remaining()).
    float IncomingWeight(int ahead) const
    {
        return static_cast<float>(length_ - remaining_ + ahead) / static_cast<float>(length_);
    }
    /// Frames left in the running fade, 0 when none runs.
    int Remaining() const { return remaining_; }
    const Settings& Current() const { return current_; }
    const Settings& Incoming() const { return incoming_; }
    int Length() const { return length_; }

    /// Moves on by one frame. True when the fade ended with this frame: the
    /// incoming set is now current, and a waiting change, if any, has started
    /// its own fade (Fading() tells).
    bool Advance() { return Advance(1); }
    /// Advance() `frames` times, for 0 < frames <= Remaining() while a fade
    /// runs (any count otherwise): the fade can end only with the last frame.
    bool Advance(int frames)
    {
        if (remaining_ == 0)
            return false;
        remaining_ -= frames;
        if (remaining_ > 0)
            return false;
        current_ = incoming_;
        if (hasWaiting_) {
            hasWaiting_ = false;
            incoming_ = waiting_;
            remaining_ = length_;
        }
        return true;
    }

private:
    Settings current_{};
    Settings incoming_{};
    Settings waiting_{};
    int length_ = 1;
    int remaining_ = 0;
    bool hasWaiting_ = false;
};

} // namespace zoc
