#include "tests/support/SpeechLike.h"

#include <cmath>
#include <numbers>

#include "tests/support/Measure.h"

namespace zoc::test {

namespace {

/// One phrase at unit RMS: 22 harmonics of a pitch gliding around 140 Hz
/// with a -6 dB/octave tilt, under syllables at 4.5 per second that rise and
/// fall between 3 % and full amplitude.
std::vector<double> Phrase(std::size_t frames, int rate, unsigned seed)
{
    std::vector<double> x(frames);
    const double twoPi = 2.0 * std::numbers::pi;
    const double offset = 0.37 * seed;
    double phase = 0.0, energy = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double pitch = 140.0 * (1.0 + 0.15 * std::sin(twoPi * 0.7 * t + offset));
        phase += twoPi * pitch / rate;
        double voice = 0.0;
        for (int k = 1; k <= 22; ++k)
            voice += std::sin(k * phase + k * offset) / k;
        const double syllable = std::pow(std::sin(std::numbers::pi * 4.5 * t + offset), 2.0);
        x[i] = voice * (0.03 + 0.97 * syllable);
        energy += x[i] * x[i];
    }
    const double scale = 1.0 / std::sqrt(energy / static_cast<double>(frames));
    for (double& v : x)
        v *= scale;
    return x;
}

} // namespace

SpeechLike MakeSpeechLike(const std::vector<double>& phraseLevelsDb, double phraseSeconds, double pauseSeconds,
                          double noiseDb, int sampleRate, std::size_t channels)
{
    const auto phraseFrames = static_cast<std::size_t>(phraseSeconds * sampleRate);
    const auto pauseFrames = static_cast<std::size_t>(pauseSeconds * sampleRate);
    const std::size_t total = pauseFrames + phraseLevelsDb.size() * (phraseFrames + pauseFrames);
    SpeechLike speech;
    speech.samples.assign(channels, std::vector<float>(total));
    // Uniform noise has an RMS of 1/sqrt(3).
    const double noiseScale = FromDb(noiseDb) * std::sqrt(3.0);
    for (std::size_t c = 0; c < channels; ++c) {
        const std::vector<float> noise = Noise(total, 101 + static_cast<unsigned>(c));
        for (std::size_t i = 0; i < total; ++i)
            speech.samples[c][i] = static_cast<float>(noiseScale * noise[i]);
    }
    std::size_t at = 0;
    speech.segments.push_back({at, pauseFrames, false, noiseDb});
    at += pauseFrames;
    for (std::size_t p = 0; p < phraseLevelsDb.size(); ++p) {
        const std::vector<double> phrase = Phrase(phraseFrames, sampleRate, static_cast<unsigned>(p + 1));
        const double gain = FromDb(phraseLevelsDb[p]);
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < phraseFrames; ++i)
                speech.samples[c][at + i] += static_cast<float>(gain * phrase[i]);
        speech.segments.push_back({at, phraseFrames, true, phraseLevelsDb[p]});
        at += phraseFrames;
        speech.segments.push_back({at, pauseFrames, false, noiseDb});
        at += pauseFrames;
    }
    return speech;
}

double RmsDb(const std::vector<std::vector<float>>& x, std::size_t from, std::size_t frames)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (const std::vector<float>& channel : x)
        for (std::size_t i = from; i < from + frames && i < channel.size(); ++i, ++count)
            sum += static_cast<double>(channel[i]) * channel[i];
    return 10.0 * std::log10(sum / static_cast<double>(std::max<std::size_t>(count, 1)) + 1e-30);
}

} // namespace zoc::test
