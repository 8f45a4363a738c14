#pragma once
// Audio files through libsndfile, for the zoc command and the public
// interface alike. Failures throw zoc::Error: Io when a file cannot be read
// or written, InvalidValue when what is asked for cannot be written (an
// unknown extension, a sample format the container cannot hold).
//
// Audio files through libsndfile, read and written in planar chunks, and
// output that appears all at once: everything is written to a hidden
// temporary file beside the target and renamed over it only when complete.
//
// Temporary files are named ".NAME.zoc-PID-HOST-RANDOM" (NAME shortened so
// the whole stays within the file system's name limit). A run that creates
// one in a directory first removes the stale ones there: same host, owned by
// the same user, and left by a process that no longer exists (a run that was
// killed outright).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sndfile.h>

#include <zoc/zoc.h>

namespace zoc::api {

/// A file created next to `target` under a hidden temporary name (mode 0600,
/// created exclusively, never through a symbolic link) that replaces `target`
/// on Commit. Destroying it without Commit removes the temporary file and
/// leaves `target` untouched. A `target` that is a symbolic link is written
/// through: the file it points to is replaced and the link stays.
class AtomicFile {
public:
    /// IoError when `target` is a directory, a file the user may not write
    /// (for root: one without any write permission), or when the temporary
    /// file cannot be created.
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    int Descriptor() const { return descriptor_; }
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    /// Writes all of `text`; IoError on failure.
    void Write(const std::string& text);
    /// Gives the permissions (and, where allowed, the owner) of the file it
    /// replaces, or 0644 less the umask for a new file, closes and renames
    /// over the target. IoError on failure.
    void Commit();

private:
    void Discard() noexcept;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    bool replacing_ = false; ///< target existed when the file was created
    unsigned mode_ = 0;      ///< its permission bits
    unsigned owner_ = 0;
    unsigned group_ = 0;
};

/// True for "-" (standard output) and for an existing file that is neither
/// a regular file nor a directory (a pipe, a device): output to these is
/// written directly, not through a temporary file.
bool IsStream(const std::filesystem::path& path);

/// IoError unless an AtomicFile could replace `path`: not a directory, not
/// write-protected, in a directory the user may write.
void CheckReplaceable(const std::filesystem::path& path);

/// The temporary name AtomicFile uses for a file called `name` when the
/// directory allows names of at most `nameMax` bytes.
std::string TemporaryName(const std::string& name, std::size_t nameMax);

/// Makes the signals that end a process (hang-up, interrupt, quit, broken
/// pipe, alarms, user signals, CPU and file size limits) remove the temporary
/// files of unfinished AtomicFiles first, so an interrupted run leaves
/// nothing. A signal ignored when zoc started stays ignored (nohup).
void RemoveTemporaryFilesOnSignals();

/// Writes `text` to `path` through an AtomicFile.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

class AudioReader {
public:
    /// Opens any format libsndfile reads ("-": standard input); IoError
    /// when it cannot.
    explicit AudioReader(const std::filesystem::path& path);
    /// Reads raw native-endian 32-bit float frames from an open descriptor
    /// (taken over and closed with the reader), from where it stands.
    AudioReader(int descriptor, std::size_t channels, int sampleRate, std::string name);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    /// Lowest and highest sample rate zoc takes (a usage error otherwise).
    static constexpr int kMinRate = 1;
    static constexpr int kMaxRate = 768000;

    std::size_t Channels() const { return static_cast<std::size_t>(info_.channels); }
    int SampleRate() const { return info_.samplerate; }
    /// Frames in the file as its header tells; meaningless unless LengthKnown.
    std::int64_t Frames() const { return info_.frames; }
    /// False for a stream (pipe, socket, terminal), whose header cannot be
    /// trusted to tell its length.
    bool LengthKnown() const { return info_.seekable != 0; }
    /// Reads the rest of a stream into an unnamed private temporary file and
    /// reads from there from now on, so its length is known. IoError when the
    /// stream or the temporary file fails.
    void SpoolToTemporaryFile();
    /// Reads up to `frames` frames into planar[channel][0..] (growing
    /// `planar` where it is too small); returns the count read, 0 at the
    /// end. IoError on a read error.
    std::int64_t Read(std::vector<std::vector<float>>& planar, std::int64_t frames);

private:
    void CheckLayout();
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

/// The format for output of about `frames` frames (nullopt: unknown, as from
/// a stream). WAV and AIFF keep 32-bit sizes: WAV output that may reach
/// 4 GiB becomes RF64, written as plain WAV as long as it stays under 4 GiB
/// and given 64-bit sizes beyond (shorter output stays plain WAV, which every
/// reader takes); AIFF output that may reach 4 GiB is a usage error.
OutputFormat FitFormatToSize(OutputFormat format, std::optional<double> frames, std::size_t channels);

class AudioWriter {
public:
    /// Creates the temporary file and its header ("-" and other streams are
    /// written directly, see IsStream); usage error when the format
    /// cannot hold this many channels at this rate, IoError when the file
    /// cannot be created.
    AudioWriter(const std::filesystem::path& path, const OutputFormat& format, std::size_t channels,
                int sampleRate);
    /// A writer of raw 32-bit float frames into an unnamed private temporary
    /// file (in TMPDIR, else /tmp) that vanishes with the process: a place
    /// to park rendered output for a second pass (ReadBack).
    AudioWriter(std::size_t channels, int sampleRate);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    /// Writes planar[channel][offset .. offset+frames).
    void Write(const std::vector<std::vector<float>>& planar, std::size_t offset, std::int64_t frames);
    /// Finishes the encoding (the file is complete but not yet in place).
    void Finish();
    /// Finishes if needed and puts the file in place.
    void Commit();
    /// For a temporary writer: finishes and returns a reader of everything
    /// written, from the start. The writer is done with the file after this.
    AudioReader ReadBack();

    /// Largest magnitude of the finite samples written so far.
    float Peak() const { return peak_; }
    /// Samples beyond full scale (magnitude above 1) that the encoding could
    /// not hold: integer, FLAC and Vorbis output clip them; float keeps them.
    std::int64_t ClippedSamples() const { return clipped_; }

    /// Where libsndfile's reads and writes go, and the system error of the
    /// first one that failed (so a full disk is reported as such rather than
    /// as whatever the encoder makes of it).
    struct Sink {
        int descriptor = -1;
        int error = 0;
    };

private:
    [[noreturn]] void Fail(const std::string& reason) const;
    std::string path_;
    std::size_t channels_;
    std::optional<AtomicFile> file_;
    Sink sink_;
    SNDFILE* sound_ = nullptr;
    bool finiteOnly_ = false; ///< the encoding cannot hold NaN or infinity
    std::vector<float> interleaved_;
    int temporary_ = -1; ///< descriptor of a private temporary file, else -1
    int sampleRate_ = 0;
    float peak_ = 0.0f;
    std::int64_t clipped_ = 0;
};

/// Checks that a format can hold this layout (usage error otherwise): the
/// encoder is tried on a few frames in memory, so limits of the encoders
/// (rates FLAC or Vorbis cannot take) show before any processing.
void CheckOutputFormat(const OutputFormat& format, std::size_t channels, int sampleRate,
                       const std::filesystem::path& path);

} // namespace zoc::api
