#pragma once
// Band-limited single-cycle tables of the sawtooth and the triangle, two per
// octave of fundamental frequency, plus a sine table. Table t holds the first
// 16384 / 2^(t/2) harmonics, so a tone whose top harmonic must stay below a
// cutoff takes the richest table that fits: nothing is generated above the
// cutoff, hence nothing folds back, and at most a half octave of harmonics
// below the cutoff is left out. Tables of up to 1024 harmonics hold at least
// four samples per period of their highest harmonic, richer ones two, which
// keeps the linear-interpolation images below -65 dB. Built once per process
// (about 1.7 MB), shared read-only.

#include <array>
#include <cstddef>
#include <vector>

namespace zoc::dsp::tones {

class BandLimitedTables {
public:
    static constexpr int kTableCount = 29;             ///< 16384, 11585, 8192, ... 1 harmonics
    static constexpr int kMostHarmonics = 16384;
    static constexpr int kSineSize = 4096;

    struct Table {
        const float* samples = nullptr; ///< size + 2 values: the cycle, then its first two again
        int size = 0;
        int harmonics = 0;
    };

    /// The process-wide tables (built on first use; thread-safe).
    static const BandLimitedTables& Get();

    /// The richest table whose top harmonic stays at or below `cutoff` for a
    /// fundamental of `frequency` (both in cycles per sample).
    static int TableFor(double frequency, double cutoff)
    {
        int index = 0;
        while (index < kTableCount - 1 && HarmonicsOf(index) * frequency > cutoff)
            ++index;
        return index;
    }

    /// Harmonics in table `index`.
    static int HarmonicsOf(int index)
    {
        const int octaves = index / 2;
        // 16384 / sqrt(2) = 11585.2: the odd tables sit half an octave lower.
        return index % 2 == 0 ? kMostHarmonics >> octaves : 11585 >> octaves;
    }

    const Table& Sawtooth(int index) const { return sawtooth_[static_cast<std::size_t>(index)]; }
    const Table& Triangle(int index) const { return triangle_[static_cast<std::size_t>(index)]; }
    const Table& Sine() const { return sine_; }

    /// The value at `phase` (cycles, 0 <= phase < 1), linearly interpolated.
    static float Lookup(const Table& table, double phase)
    {
        const double position = phase * table.size;
        const int index = static_cast<int>(position);
        const float fraction = static_cast<float>(position - index);
        const float a = table.samples[index];
        return a + fraction * (table.samples[index + 1] - a);
    }

private:
    BandLimitedTables();

    std::vector<float> storage_;
    std::array<Table, kTableCount> sawtooth_{};
    std::array<Table, kTableCount> triangle_{};
    Table sine_{};
};

} // namespace zoc::dsp::tones
