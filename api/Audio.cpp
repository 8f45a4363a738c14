// Audio files for the public interface, over the library's libsndfile code.

#include <zoc/zoc.h>

#include <algorithm>
#include <cmath>

#include "api/AudioFile.h"
#include "api/Text.h"

namespace zoc {

namespace {

/// Frames moved per libsndfile call.
constexpr std::int64_t kFileChunkFrames = 65536;

} // namespace

struct AudioFileReader::Impl {
    explicit Impl(const std::filesystem::path& path) : reader(path) {}
    api::AudioReader reader;
    std::vector<std::vector<float>> planar;
};

AudioFileReader::AudioFileReader(const std::filesystem::path& path) : impl_(std::make_unique<Impl>(path)) {}
AudioFileReader::AudioFileReader(AudioFileReader&&) noexcept = default;
AudioFileReader& AudioFileReader::operator=(AudioFileReader&&) noexcept = default;
AudioFileReader::~AudioFileReader() = default;

int AudioFileReader::Channels() const { return static_cast<int>(impl_->reader.Channels()); }
double AudioFileReader::SampleRate() const { return impl_->reader.SampleRate(); }
std::int64_t AudioFileReader::Frames() const { return impl_->reader.Frames(); }

std::int64_t AudioFileReader::Read(float* const* channels, std::int64_t frames)
{
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t got = impl_->reader.Read(impl_->planar, std::min(kFileChunkFrames, frames - done));
        if (got <= 0)
            break;
        for (std::size_t channel = 0; channel < impl_->planar.size(); ++channel)
            std::copy_n(impl_->planar[channel].data(), got, channels[channel] + done);
        done += got;
    }
    return done;
}

Audio ReadAudioFile(const std::filesystem::path& path)
{
    api::AudioReader reader(path);
    Audio audio;
    audio.sampleRate = reader.SampleRate();
    audio.channels.resize(reader.Channels());
    std::vector<std::vector<float>> planar;
    for (;;) {
        const std::int64_t got = reader.Read(planar, kFileChunkFrames);
        if (got <= 0)
            break;
        for (std::size_t channel = 0; channel < audio.channels.size(); ++channel)
            audio.channels[channel].insert(audio.channels[channel].end(), planar[channel].begin(),
                                           planar[channel].begin() + got);
    }
    return audio;
}

std::int64_t WriteAudioFile(const std::filesystem::path& path, const float* const* channels, int channelCount,
                            std::int64_t frames, double sampleRate, const std::string& bits)
{
    if (!(sampleRate >= api::AudioReader::kMinRate && sampleRate <= api::AudioReader::kMaxRate &&
          sampleRate == std::floor(sampleRate)))
        throw Error(Error::Code::InvalidValue, "a file's sample rate is a whole number of Hz in " +
                                                   std::to_string(api::AudioReader::kMinRate) + ".." +
                                                   std::to_string(api::AudioReader::kMaxRate) + ", not " +
                                                   api::FormatNumber(sampleRate));
    if (channelCount < 1)
        throw Error(Error::Code::InvalidValue, "a file needs at least one channel");
    const auto count = static_cast<std::size_t>(channelCount);
    const int rate = static_cast<int>(sampleRate);
    const api::OutputFormat format =
        api::FitFormatToSize(api::ChooseOutputFormat(path, bits), static_cast<double>(std::max<std::int64_t>(frames, 0)), count);
    api::CheckOutputFormat(format, count, rate, path);
    api::AudioWriter writer(path, format, count, rate);
    std::vector<std::vector<float>> chunk(count, std::vector<float>(static_cast<std::size_t>(kFileChunkFrames)));
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t step = std::min(kFileChunkFrames, frames - done);
        for (std::size_t channel = 0; channel < count; ++channel)
            std::copy_n(channels[channel] + done, step, chunk[channel].data());
        writer.Write(chunk, 0, step);
        done += step;
    }
    writer.Commit();
    return writer.ClippedSamples();
}

} // namespace zoc
