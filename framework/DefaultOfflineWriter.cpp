// The offline ring buffer.

#include "framework/DefaultOfflineWriter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zoc {

void DefaultOfflineWriter::Initialize(long channels, long capacity)
{
    channels = std::max(channels, 0l);
    capacity = std::max(capacity, 0l);
    std::lock_guard lock(mutex_);
    if (channels > channels_ || capacity > capacity_) {
        channels_ = channels;
        capacity_ = capacity;
        buffers_.clear();
        for (long channel = 0; channel < channels_; ++channel)
            buffers_.emplace_back(new float[static_cast<std::size_t>(capacity_)]());
    }
    available_ = 0;
    readPosition_ = 0;
    writePosition_ = 0;
    startAdjust_ = 0;
    spaceGate_.Open();
    dataGate_.Close();
}

long DefaultOfflineWriter::GetChannelCount() const
{
    std::lock_guard lock(mutex_);
    return channels_;
}

long DefaultOfflineWriter::GetCapacity() const
{
    std::lock_guard lock(mutex_);
    return capacity_;
}

void DefaultOfflineWriter::SetOpenToWrite(bool open)
{
    openToWrite_.store(open, std::memory_order_release);
    if (!open)
        dataGate_.Open();
}

void DefaultOfflineWriter::Flush()
{
    std::lock_guard lock(mutex_);
    available_ = 0;
    readPosition_ = 0;
    writePosition_ = 0;
    spaceGate_.Open();
    dataGate_.Close();
}

long DefaultOfflineWriter::PutAudio(const float** source, long channels, std::int64_t sourceOffset, long frames)
{
    if (!IsOpenToWrite() || frames <= 0 || source == nullptr)
        return 0;
    if (!spaceGate_.Wait(std::chrono::milliseconds(kPutWaitMs)))
        return 0;
    long taken = 0;
    bool full = false;
    {
        std::lock_guard lock(mutex_);
        taken = std::min(frames, capacity_ - available_);
        if (taken <= 0)
            return 0;
        // Channels the caller does not supply stay silent.
        const long supplied = std::min(channels, channels_);
        const long first = std::min(taken, capacity_ - writePosition_);
        for (long channel = 0; channel < channels_; ++channel) {
            float* ring = buffers_[static_cast<std::size_t>(channel)].get();
            if (channel < supplied && source[channel] != nullptr) {
                const float* from = source[channel] + sourceOffset;
                std::memcpy(ring + writePosition_, from, static_cast<std::size_t>(first) * sizeof(float));
                std::memcpy(ring, from + first, static_cast<std::size_t>(taken - first) * sizeof(float));
            } else {
                std::fill_n(ring + writePosition_, first, 0.0f);
                std::fill_n(ring, taken - first, 0.0f);
            }
        }
        available_ += static_cast<int>(taken);
        writePosition_ = static_cast<int>((writePosition_ + taken) % capacity_);
        full = available_ == capacity_;
        if (full)
            spaceGate_.Close();
    }
    if (full)
        mediaReady_();
    dataGate_.Open();
    return taken;
}

long DefaultOfflineWriter::GetAudio(float** destination, long channels, long frames)
{
    if (frames <= 0 || destination == nullptr)
        return 0;
    {
        std::lock_guard lock(mutex_);
        if (!IsOpenToWrite() && available_ == 0)
            return 0;
    }
    if (!dataGate_.Wait(std::chrono::milliseconds(kGetWaitMs)))
        return 0;
    long delivered = 0;
    {
        std::lock_guard lock(mutex_);
        delivered = std::min<long>(frames, available_);
        const long first = std::min(delivered, capacity_ - readPosition_);
        const long wanted = std::min(channels, channels_);
        for (long channel = 0; channel < wanted; ++channel) {
            if (destination[channel] == nullptr)
                continue;
            const float* ring = buffers_[static_cast<std::size_t>(channel)].get();
            std::memcpy(destination[channel], ring + readPosition_, static_cast<std::size_t>(first) * sizeof(float));
            std::memcpy(destination[channel] + first, ring, static_cast<std::size_t>(delivered - first) * sizeof(float));
        }
        if (capacity_ > 0)
            readPosition_ = static_cast<int>((readPosition_ + delivered) % capacity_);
        available_ -= static_cast<int>(delivered);
        if (available_ == 0)
            dataGate_.Close();
    }
    spaceGate_.Open();
    return delivered;
}

long DefaultOfflineWriter::GetAvailable() const
{
    std::lock_guard lock(mutex_);
    return available_;
}

void DefaultOfflineWriter::SetStartAdjust(std::int64_t frames)
{
    std::lock_guard lock(mutex_);
    startAdjust_ = frames;
}

std::int64_t DefaultOfflineWriter::GetStartAdjust() const
{
    std::lock_guard lock(mutex_);
    return startAdjust_;
}

} // namespace zoc
