#pragma once
// Audio files through libsndfile, read and written in planar chunks, and
// output that appears all at once: everything is written to a hidden
// temporary file beside the target and renamed over it only when complete.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sndfile.h>

namespace zoc::tool {

/// A file created next to `target` under a hidden temporary name (mode 0600,
/// created exclusively) that replaces `target` on Commit. Destroying it
/// without Commit removes the temporary file and leaves `target` untouched.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    int Descriptor() const { return descriptor_; }
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    /// Flushes to disk, gives the usual permissions (0644 less the umask),
    /// closes and renames over the target. IoError on failure.
    void Commit();

private:
    void Discard() noexcept;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
};

/// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of unfinished
/// AtomicFiles before the process ends, so an interrupted run leaves nothing.
void RemoveTemporaryFilesOnSignals();

/// Writes `text` to `path` through an AtomicFile.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

class AudioReader {
public:
    /// Opens any format libsndfile reads; IoError when it cannot.
    explicit AudioReader(const std::filesystem::path& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    std::size_t Channels() const { return static_cast<std::size_t>(info_.channels); }
    int SampleRate() const { return info_.samplerate; }
    /// Frames in the file as its header tells.
    std::int64_t Frames() const { return info_.frames; }
    /// Reads up to `frames` frames into planar[channel][0..]; returns the
    /// count read, 0 at the end. IoError on a read error.
    std::int64_t Read(std::vector<std::vector<float>>& planar, std::int64_t frames);

private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
};

/// The output encoding: container from the file name, sample format from
/// --bits ("16", "24", "32f"; empty for the container's default).
struct OutputFormat {
    int format = 0; ///< libsndfile SF_FORMAT_* value
    std::string description;
};
/// Usage error for an unknown extension or a sample format the container
/// cannot hold.
OutputFormat ChooseOutputFormat(const std::filesystem::path& path, const std::string& bits);

class AudioWriter {
public:
    /// Creates the temporary file and its header; usage error when the format
    /// cannot hold this many channels at this rate, IoError when the file
    /// cannot be created.
    AudioWriter(const std::filesystem::path& path, const OutputFormat& format, std::size_t channels,
                int sampleRate);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    /// Writes planar[channel][offset .. offset+frames).
    void Write(const std::vector<std::vector<float>>& planar, std::size_t offset, std::int64_t frames);
    /// Finishes the file and puts it in place.
    void Commit();

private:
    std::string path_;
    std::size_t channels_;
    std::optional<AtomicFile> file_;
    SNDFILE* sound_ = nullptr;
    bool finiteOnly_ = false; ///< the encoding cannot hold NaN or infinity
    std::vector<float> interleaved_;
};

/// Checks that a format can hold this layout (usage error otherwise).
void CheckOutputFormat(const OutputFormat& format, std::size_t channels, int sampleRate,
                       const std::filesystem::path& path);

} // namespace zoc::tool
