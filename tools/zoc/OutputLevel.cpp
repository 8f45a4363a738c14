#include "tools/zoc/OutputLevel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <vector>

#include "tools/zoc/Cli.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

constexpr std::int64_t kChunkFrames = 65536;

/// "+3.1" or "-0.4": a level with its sign, to a tenth of a dB.
std::string SignedDecibels(double decibels)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", decibels);
    return text;
}

} // namespace

double ParseNormalizePeak(const std::string& text)
{
    std::string_view number = text;
    for (const std::string_view unit : {"dBFS", "dB"}) {
        if (number.size() > unit.size() && EqualsIgnoreCase(number.substr(number.size() - unit.size()), unit)) {
            number.remove_suffix(unit.size());
            break;
        }
    }
    const std::optional<double> peak = ParseNumber(number);
    if (!peak || *peak > 0.0 || *peak < kLowestNormalizePeak)
        throw UsageError("--normalize takes a peak in dBFS from -100 to 0 (such as -1), not '" + text + "'");
    return *peak;
}

RenderStats RenderAtLevel(const std::function<RenderStats(AudioWriter&)>& render, AudioWriter& writer,
                          std::size_t channels, int sampleRate, std::optional<double> peakDecibels)
{
    if (!peakDecibels)
        return render(writer);
    AudioWriter parked(channels, sampleRate);
    const RenderStats stats = render(parked);
    const float peak = parked.Peak();
    const double target = std::pow(10.0, *peakDecibels / 20.0);
    const double gain = peak > 0.0f ? target / peak : 1.0;
    // Rounding may carry the loudest sample a hair past the target; the
    // target is a ceiling, so such samples are held to it.
    const auto ceiling = static_cast<float>(target);
    AudioReader reader = parked.ReadBack();
    std::vector<std::vector<float>> chunk(channels, std::vector<float>(kChunkFrames));
    for (;;) {
        const std::int64_t frames = reader.Read(chunk, kChunkFrames);
        if (frames == 0)
            break;
        for (std::vector<float>& channel : chunk) {
            for (std::int64_t i = 0; i < frames; ++i) {
                float& sample = channel[static_cast<std::size_t>(i)];
                sample = static_cast<float>(sample * gain);
                if (std::fabs(sample) > ceiling)
                    sample = std::copysign(ceiling, sample);
            }
        }
        writer.Write(chunk, 0, frames);
    }
    return stats;
}

void WarnIfClipped(const AudioWriter& writer, const std::filesystem::path& output, std::ostream& err)
{
    const std::int64_t clipped = writer.ClippedSamples();
    if (clipped == 0)
        return;
    const std::string extension = ToLower(output.extension().string());
    // FLAC and Vorbis hold no float samples; a float WAV keeps everything.
    const bool integerContainer = extension == ".wav" || extension == ".aif" || extension == ".aiff";
    err << "zoc: warning: " << clipped << (clipped == 1 ? " sample" : " samples") << " clipped in "
        << output.filename().string() << " (peak " << SignedDecibels(ToDecibels(writer.Peak())) << " dBFS); "
        << (integerContainer ? "use --bits 32f to keep them, or --normalize -1"
                             : "use --normalize -1, or write .wav with --bits 32f to keep them")
        << std::endl;
}

} // namespace zoc::tool
