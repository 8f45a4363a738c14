#include "tools/zoc/AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <array>
#include <atomic>
#include <csignal>
#include <random>

#include "tools/zoc/Cli.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

std::string Quoted(const std::filesystem::path& path)
{
    std::string text = "'";
    text += path.string();
    text += "'";
    return text;
}

std::string RandomSuffix()
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 generator{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    std::string suffix;
    for (int i = 0; i < 6; ++i)
        suffix += kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return suffix;
}

// Temporary files in progress, kept as plain C strings a signal handler may
// read. A slot is in use while its first byte is not zero.
constexpr std::size_t kMaxPending = 8;
constexpr std::size_t kMaxPathBytes = 4096;
std::array<std::array<char, kMaxPathBytes>, kMaxPending> pendingPaths{};

void RememberPending(const std::filesystem::path& path)
{
    const std::string& text = path.native();
    if (text.size() >= kMaxPathBytes)
        return;
    for (auto& slot : pendingPaths) {
        if (slot[0] == '\0') {
            std::memcpy(slot.data() + 1, text.data() + 1, text.size() - 1);
            slot[text.size()] = '\0';
            std::atomic_signal_fence(std::memory_order_seq_cst);
            slot[0] = text[0]; // publish last
            return;
        }
    }
}

void ForgetPending(const std::filesystem::path& path)
{
    for (auto& slot : pendingPaths) {
        if (slot[0] != '\0' && path.native() == slot.data())
            slot[0] = '\0';
    }
}

extern "C" void RemovePendingAndExit(int signal)
{
    for (auto& slot : pendingPaths) {
        if (slot[0] != '\0')
            ::unlink(slot.data());
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void RemoveTemporaryFilesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, RemovePendingAndExit);
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target))
{
    const std::filesystem::path directory =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    if (!target_.has_filename())
        throw IoError("cannot write " + Quoted(target_) + ": not a file name");
    int lastError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".";
        name += target_.filename().string();
        name += ".zoc-";
        name += RandomSuffix();
        const std::filesystem::path candidate = directory / name;
        descriptor_ = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (descriptor_ >= 0) {
            temporary_ = candidate;
            RememberPending(temporary_);
            return;
        }
        lastError = errno;
        if (lastError != EEXIST)
            break;
    }
    throw IoError("cannot write " + Quoted(target_) + ": " + std::strerror(lastError));
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() noexcept
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        ForgetPending(temporary_);
    }
    temporary_.clear();
}

void AtomicFile::Commit()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    // No fsync: the rename alone guarantees readers see either the old file
    // or the complete new one, and forcing the data to disk would double the
    // time of a short job without making the result any more whole.
    bool ok = ::fchmod(descriptor_, 0644 & ~mask) == 0;
    int error = ok ? 0 : errno;
    if (::close(descriptor_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    descriptor_ = -1;
    if (ok && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        Discard();
        throw IoError("cannot write " + Quoted(target_) + ": " + std::strerror(error));
    }
    ForgetPending(temporary_);
    temporary_.clear();
}

void WriteFileAtomically(const std::filesystem::path& path, const std::string& text)
{
    AtomicFile file(path);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = ::write(file.Descriptor(), text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            throw IoError("cannot write " + Quoted(path) + ": " + std::strerror(errno));
        written += static_cast<std::size_t>(result);
    }
    file.Commit();
}

AudioReader::AudioReader(const std::filesystem::path& path) : path_(path.string())
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw IoError("cannot read " + Quoted(path) + ": it is a directory");
    if (::access(path_.c_str(), R_OK) != 0)
        throw IoError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    file_ = sf_open(path_.c_str(), SFM_READ, &info_);
    if (!file_)
        throw IoError("cannot read " + Quoted(path) + ": " + sf_strerror(nullptr));
    if (info_.channels <= 0 || info_.samplerate <= 0) {
        sf_close(file_);
        throw IoError("cannot read " + Quoted(path) + ": no audio channels");
    }
}

AudioReader::~AudioReader()
{
    if (file_)
        sf_close(file_);
}

std::int64_t AudioReader::Read(std::vector<std::vector<float>>& planar, std::int64_t frames)
{
    const std::size_t channels = Channels();
    interleaved_.resize(static_cast<std::size_t>(frames) * channels);
    const sf_count_t read = sf_readf_float(file_, interleaved_.data(), frames);
    if (read < 0 || (read == 0 && sf_error(file_) != SF_ERR_NO_ERROR))
        throw IoError("cannot read '" + path_ + "': " + sf_strerror(file_));
    const float* source = interleaved_.data();
    for (sf_count_t frame = 0; frame < read; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel)
            planar[channel][static_cast<std::size_t>(frame)] = *source++;
    }
    return read;
}

OutputFormat ChooseOutputFormat(const std::filesystem::path& path, const std::string& bits)
{
    const std::string extension = ToLower(path.extension().string());
    if (!bits.empty() && bits != "16" && bits != "24" && bits != "32f")
        throw UsageError("--bits must be 16, 24 or 32f, not '" + bits + "'");
    auto sampleFormat = [&](const std::string& fallback) {
        const std::string chosen = bits.empty() ? fallback : bits;
        if (chosen == "16")
            return SF_FORMAT_PCM_16;
        if (chosen == "24")
            return SF_FORMAT_PCM_24;
        return SF_FORMAT_FLOAT;
    };
    auto label = [&](const std::string& container, const std::string& fallback) {
        const std::string chosen = bits.empty() ? fallback : bits;
        return container + (chosen == "32f" ? " 32-bit float" : " " + chosen + "-bit");
    };
    if (extension == ".wav")
        return {SF_FORMAT_WAV | sampleFormat("32f"), label("WAV", "32f")};
    if (extension == ".aif" || extension == ".aiff")
        return {SF_FORMAT_AIFF | sampleFormat("32f"), label("AIFF", "32f")};
    if (extension == ".flac") {
        if (bits == "32f")
            throw UsageError("FLAC cannot hold 32-bit float samples; use --bits 16 or 24");
        return {SF_FORMAT_FLAC | sampleFormat("24"), label("FLAC", "24")};
    }
    if (extension == ".ogg") {
        if (!bits.empty())
            throw UsageError("--bits does not apply to Ogg Vorbis output");
        return {SF_FORMAT_OGG | SF_FORMAT_VORBIS, "Ogg Vorbis"};
    }
    throw UsageError("cannot tell the output format from '" + path.filename().string() +
                     "'; use .wav, .flac, .aiff, .aif or .ogg");
}

void CheckOutputFormat(const OutputFormat& format, std::size_t channels, int sampleRate,
                       const std::filesystem::path& path)
{
    SF_INFO info{};
    info.channels = static_cast<int>(channels);
    info.samplerate = sampleRate;
    info.format = format.format;
    if (!sf_format_check(&info))
        throw UsageError(format.description + " cannot hold " + std::to_string(channels) + " channels at " +
                         std::to_string(sampleRate) + " Hz (" + path.filename().string() + ")");
}

AudioWriter::AudioWriter(const std::filesystem::path& path, const OutputFormat& format, std::size_t channels,
                         int sampleRate)
    : path_(path.string()), channels_(channels)
{
    CheckOutputFormat(format, channels, sampleRate, path);
    file_.emplace(path);
    SF_INFO info{};
    info.channels = static_cast<int>(channels);
    info.samplerate = sampleRate;
    info.format = format.format;
    sound_ = sf_open_fd(file_->Descriptor(), SFM_WRITE, &info, SF_FALSE);
    if (!sound_)
        throw IoError("cannot write '" + path_ + "': " + sf_strerror(nullptr));
    // Integer formats clip out-of-range samples instead of wrapping around.
    sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // No peak chunk: it carries a time stamp, and the same render should give
    // the same bytes.
    sf_command(sound_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const int subtype = format.format & SF_FORMAT_SUBMASK;
    finiteOnly_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE;
}

AudioWriter::~AudioWriter()
{
    if (sound_)
        sf_close(sound_);
}

void AudioWriter::Write(const std::vector<std::vector<float>>& planar, std::size_t offset, std::int64_t frames)
{
    if (frames <= 0)
        return;
    interleaved_.resize(static_cast<std::size_t>(frames) * channels_);
    float* target = interleaved_.data();
    const std::size_t end = offset + static_cast<std::size_t>(frames);
    for (std::size_t frame = offset; frame < end; ++frame) {
        for (std::size_t channel = 0; channel < channels_; ++channel)
            *target++ = planar[channel][frame];
    }
    if (finiteOnly_) {
        // Integer and compressed encodings have no NaN or infinity: silence
        // for NaN, full scale for infinities.
        for (float& sample : interleaved_) {
            if (std::isnan(sample))
                sample = 0.0f;
            else if (std::isinf(sample))
                sample = sample > 0.0f ? 1.0f : -1.0f;
        }
    }
    if (sf_writef_float(sound_, interleaved_.data(), frames) != frames) {
        const std::string reason = sf_error(sound_) != SF_ERR_NO_ERROR ? sf_strerror(sound_) : "the encoder failed";
        throw IoError("cannot write '" + path_ + "': " + reason);
    }
}

void AudioWriter::Commit()
{
    // sf_close writes the final header; no sync to disk (see AtomicFile::Commit).
    const int error = sf_close(sound_);
    sound_ = nullptr;
    if (error != 0)
        throw IoError("cannot write '" + path_ + "': " + sf_error_number(error));
    file_->Commit();
}

} // namespace zoc::tool
