#pragma once
// A float array on a 64-byte boundary (a cache line, and enough for any SIMD
// width), for buffers that FFT plans or vector loops run over. It grows only
// when asked to and zero-fills what it gains; nothing else allocates.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace zoc::dsp {

class AlignedBuffer {
public:
    static constexpr std::size_t kAlignment = 64;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t size) { Resize(size); }

    /// Makes the buffer hold `size` values: the first min(old, new) keep
    /// their values, the rest are zero. Allocates unless the size is unchanged.
    void Resize(std::size_t size)
    {
        if (size == size_)
            return;
        Storage grown;
        if (size > 0) {
            const std::size_t bytes = (size * sizeof(float) + kAlignment - 1) / kAlignment * kAlignment;
            grown.reset(static_cast<float*>(std::aligned_alloc(kAlignment, bytes)));
            if (!grown)
                throw std::bad_alloc();
            const std::size_t kept = size < size_ ? size : size_;
            if (kept > 0)
                std::memcpy(grown.get(), data_.get(), kept * sizeof(float));
            std::memset(grown.get() + kept, 0, (size - kept) * sizeof(float));
        }
        data_ = std::move(grown);
        size_ = size;
    }

    /// Frees the memory.
    void Release()
    {
        data_.reset();
        size_ = 0;
    }

    void Zero()
    {
        if (size_ > 0)
            std::memset(data_.get(), 0, size_ * sizeof(float));
    }

    float* Data() { return data_.get(); }
    const float* Data() const { return data_.get(); }
    std::size_t Size() const { return size_; }
    float& operator[](std::size_t index) { return data_[index]; }
    float operator[](std::size_t index) const { return data_[index]; }

private:
    struct Free {
        void operator()(float* pointer) const { std::free(pointer); }
    };
    using Storage = std::unique_ptr<float[], Free>;
    Storage data_;
    std::size_t size_ = 0;
};

} // namespace zoc::dsp
