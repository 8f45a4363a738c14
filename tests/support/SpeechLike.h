#pragma once
// Speech-like test material: voiced phrases (a harmonic tone on a gliding
// pitch, shaped by a syllable-rate envelope) separated by pauses, over a
// constant low noise, with the phrase levels chosen by the test.

#include <cstddef>
#include <vector>

namespace zoc::test {

struct SpeechSegment {
    std::size_t start = 0;  ///< frame
    std::size_t length = 0; ///< frames
    bool phrase = false;    ///< false: a pause
    double levelDb = 0.0;   ///< RMS of the phrase (dBFS); the noise level for a pause
};

struct SpeechLike {
    std::vector<std::vector<float>> samples; ///< [channel][frame]
    std::vector<SpeechSegment> segments;
};

/// Pauses of `pauseSeconds` around phrases of `phraseSeconds` at the given
/// RMS levels, in order, with noise at `noiseDb` RMS throughout. The same
/// material comes back for the same arguments.
SpeechLike MakeSpeechLike(const std::vector<double>& phraseLevelsDb, double phraseSeconds, double pauseSeconds,
                          double noiseDb, int sampleRate, std::size_t channels = 2);

/// RMS in dBFS of all channels over [from, from + frames).
double RmsDb(const std::vector<std::vector<float>>& x, std::size_t from, std::size_t frames);

} // namespace zoc::test
