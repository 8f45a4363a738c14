#pragma once
// Per-channel circular delay lines of one common length, in one block of
// memory. Positions are plain indexes shared by all channels; the owner moves
// them, the lines only store and wrap.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zoc::dsp {

class DelayLines {
public:
    /// Zeroes `channels` lines of `length` frames each. Allocates only when the
    /// lines need more memory than they already hold; control thread or the
    /// first block after a rate or channel change.
    void Allocate(std::size_t channels, int length)
    {
        channels_ = channels;
        length_ = length > 0 ? length : 1;
        storage_.assign(channels_ * static_cast<std::size_t>(length_), 0.0f);
    }

    /// Makes room for `channels` lines of `length` frames, so that Allocate
    /// within that size allocates nothing.
    void Reserve(std::size_t channels, int length)
    {
        storage_.reserve(channels * static_cast<std::size_t>(std::max(length, 1)));
    }

    std::size_t Channels() const { return channels_; }
    int Length() const { return length_; }
    bool Empty() const { return channels_ == 0; }

    float* Channel(std::size_t channel) { return storage_.data() + channel * static_cast<std::size_t>(length_); }
    const float* Channel(std::size_t channel) const
    {
        return storage_.data() + channel * static_cast<std::size_t>(length_);
    }

    /// `position` moved back by `delay` frames (forward when negative), wrapped
    /// into 0..Length()-1. Valid for |delay| < Length().
    int Behind(int position, int delay) const
    {
        int index = position - delay;
        if (index < 0)
            index += length_;
        else if (index >= length_)
            index -= length_;
        return index;
    }

    /// The position one frame later.
    int Next(int position) const { return position + 1 == length_ ? 0 : position + 1; }

private:
    std::vector<float> storage_;
    std::size_t channels_ = 0;
    int length_ = 1;
};

} // namespace zoc::dsp
