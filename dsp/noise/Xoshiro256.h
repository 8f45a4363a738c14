#pragma once
// The noise generators' random source: xoshiro256** (a 256-bit state,
// period 2^256 - 1, passes BigCrush), seeded through splitmix64 so that
// neighbouring seeds give unrelated streams. Deterministic on every platform.

#include <cmath>
#include <cstdint>

namespace zoc::dsp::noise {

class Xoshiro256 {
public:
    explicit Xoshiro256(std::uint64_t seed = 0) { Seed(seed); }

    void Seed(std::uint64_t seed)
    {
        for (std::uint64_t& word : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t Next()
    {
        const std::uint64_t result = Rotate(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = Rotate(state_[3], 45);
        return result;
    }

    /// One sample of white noise of unit variance: the sum of the four 16-bit
    /// fields of one draw, centred. Its distribution is close to Gaussian
    /// (kurtosis 2.7) but bounded at +-sqrt(12) = +-3.46, so white noise
    /// never has a stray peak.
    float White()
    {
        const std::uint64_t r = Next();
        const auto sum = static_cast<std::int64_t>((r & 0xFFFF) + ((r >> 16) & 0xFFFF) + ((r >> 32) & 0xFFFF) +
                                                   (r >> 48));
        return static_cast<float>(static_cast<double>(sum - 131070) * kWhiteScale);
    }

    /// 1 / standard deviation of the sum of four uniform 16-bit integers.
    static inline const double kWhiteScale = std::sqrt(3.0 / (65536.0 * 65536.0 - 1.0));

private:
    static std::uint64_t Rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    std::uint64_t state_[4] = {};
};

} // namespace zoc::dsp::noise
