#include "api/AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <limits>
#include <mutex>
#include <random>

#include "api/Text.h"

namespace zoc::api {

namespace {

Error IoError(const std::string& message) { return Error(Error::Code::Io, message); }
/// What was asked for cannot be written (zoc reports it as a usage error).
Error UsageError(const std::string& message) { return Error(Error::Code::InvalidValue, message); }

std::string Quoted(const std::filesystem::path& path)
{
    std::string text = "'";
    text += path.string();
    text += "'";
    return text;
}

constexpr char kTemporaryMark[] = ".zoc-";
constexpr std::size_t kRandomLength = 6;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string RandomSuffix()
{
    thread_local std::mt19937_64 generator{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    std::string suffix;
    for (std::size_t i = 0; i < kRandomLength; ++i)
        suffix += kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return suffix;
}

/// Eight hex digits naming this machine, so a directory shared between
/// machines never has another machine's live temporary files taken for
/// stale ones.
const std::string& HostTag()
{
    static const std::string tag = [] {
        std::array<char, 256> name{};
        if (::gethostname(name.data(), name.size() - 1) != 0)
            name[0] = '\0';
        std::uint32_t hash = 2166136261u; // FNV-1a
        for (const char* c = name.data(); *c != '\0'; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        char text[9];
        std::snprintf(text, sizeof text, "%08x", hash);
        return std::string(text);
    }();
    return tag;
}

/// The process id in a temporary name of ours made on this host, or 0.
long TemporaryOwner(const std::string& name)
{
    const std::size_t mark = name.rfind(kTemporaryMark);
    if (name.empty() || name[0] != '.' || mark == std::string::npos)
        return 0;
    const std::string tail = name.substr(mark + sizeof kTemporaryMark - 1);
    // PID-HOST-RANDOM
    const std::size_t dash = tail.find('-');
    if (dash == std::string::npos || dash == 0 || dash > 10)
        return 0;
    const std::string pid = tail.substr(0, dash);
    const std::string rest = tail.substr(dash + 1);
    if (!std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    if (rest.size() != HostTag().size() + 1 + kRandomLength || !rest.starts_with(HostTag()) ||
        rest[HostTag().size()] != '-')
        return 0;
    const std::string random = rest.substr(HostTag().size() + 1);
    if (random.find_first_not_of(kAlphabet) != std::string::npos)
        return 0;
    const long owner = std::strtol(pid.c_str(), nullptr, 10);
    return owner > 0 && owner <= std::numeric_limits<pid_t>::max() ? owner : 0;
}

/// Removes temporary files in `directory` left by processes of this user on
/// this host that no longer run.
void RemoveStaleTemporaries(const std::filesystem::path& directory)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entries(directory, error), end; !error && entries != end;
         entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const long owner = TemporaryOwner(name);
        if (owner == 0 || owner == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
            continue;
        struct stat status {};
        if (::lstat(entries->path().c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_uid == ::geteuid())
            ::unlink(entries->path().c_str());
    }
}

// Temporary files in progress, kept as plain C strings a signal handler may
// read. A slot is in use while its first byte is not zero. Batches write
// files from several threads: claiming and freeing slots takes the mutex
// (the signal handler only reads).
constexpr std::size_t kMaxPending = 64;
constexpr std::size_t kMaxPathBytes = 4096;
std::array<std::array<char, kMaxPathBytes>, kMaxPending> pendingPaths{};
std::mutex pendingMutex;

void RememberPending(const std::filesystem::path& path)
{
    const std::lock_guard lock(pendingMutex);
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
    const std::lock_guard lock(pendingMutex);
    for (auto& slot : pendingPaths) {
        if (slot[0] != '\0' && path.native() == slot.data())
            slot[0] = '\0';
    }
}

/// The signals whose default action ends the process and that a handler
/// can catch: on each, the temporaries in progress are removed first.
constexpr std::array kCleanUpSignals{SIGHUP, SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
                                     SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};

/// Holds those signals back in this thread for its lifetime: between
/// creating a temporary and remembering it, a signal would leave the file
/// behind. One that arrives meanwhile is delivered when the guard ends.
class DeferredSignals {
public:
    DeferredSignals()
    {
        sigset_t set;
        ::sigemptyset(&set);
        for (const int signal : kCleanUpSignals)
            ::sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~DeferredSignals() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    DeferredSignals(const DeferredSignals&) = delete;
    DeferredSignals& operator=(const DeferredSignals&) = delete;

private:
    sigset_t previous_{};
};

extern "C" void RemovePendingAndExit(int signal)
{
    for (auto& slot : pendingPaths) {
        if (slot[0] != '\0')
            ::unlink(slot.data());
    }
    // The default action ends the process once the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

/// The file the user means: a symbolic link is followed to what it names.
std::filesystem::path ResolveLinks(const std::filesystem::path& target)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(target, error))
        return target;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, error);
    return error ? target : resolved;
}

} // namespace

std::string TemporaryName(const std::string& name, std::size_t nameMax)
{
    const std::string suffix =
        kTemporaryMark + std::to_string(::getpid()) + "-" + HostTag() + "-" + RandomSuffix();
    // "." + NAME + suffix, with NAME cut at a character boundary if needed.
    std::size_t keep = name.size();
    if (1 + keep + suffix.size() > nameMax) {
        keep = nameMax > suffix.size() + 1 ? nameMax - suffix.size() - 1 : 0;
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep; // do not split a UTF-8 sequence
    }
    std::string temporary(1, '.');
    temporary.append(name, 0, keep);
    temporary += suffix;
    return temporary;
}

void RemoveTemporaryFilesOnSignals()
{
    for (const int signal : kCleanUpSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue; // started under nohup or the like: stay immune
        struct sigaction action {};
        action.sa_handler = RemovePendingAndExit;
        ::sigfillset(&action.sa_mask); // no other signal interrupts the clean-up
        ::sigaction(signal, &action, nullptr);
    }
}

namespace {

void PutLittleEndian(std::string& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

/// A WAV header whose RIFF and data sizes are 0xFFFFFFFF: length unknown.
std::string StreamingWavHeader(int subtype, std::size_t channels, int sampleRate)
{
    const std::uint32_t bytesPerSample = subtype == SF_FORMAT_PCM_16 ? 2 : subtype == SF_FORMAT_PCM_24 ? 3 : 4;
    const auto count = static_cast<std::uint32_t>(channels);
    std::string header = "RIFF";
    PutLittleEndian(header, 0xFFFFFFFFu, 4);
    header += "WAVEfmt ";
    PutLittleEndian(header, 16, 4);
    PutLittleEndian(header, subtype == SF_FORMAT_FLOAT ? 3 : 1, 2); // IEEE float or PCM
    PutLittleEndian(header, count, 2);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate), 4);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate) * count * bytesPerSample, 4);
    PutLittleEndian(header, count * bytesPerSample, 2);
    PutLittleEndian(header, 8 * bytesPerSample, 2);
    header += "data";
    PutLittleEndian(header, 0xFFFFFFFFu, 4);
    return header;
}

bool WriteAll(int descriptor, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool IsStream(const std::filesystem::path& path)
{
    if (path == "-")
        return true;
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

void CheckReplaceable(const std::filesystem::path& path)
{
    if (IsStream(path))
        return;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    if (!error && *absolute.begin() == "/" && std::next(absolute.begin()) != absolute.end() &&
        *std::next(absolute.begin()) == "dev" && !std::filesystem::exists(absolute, error))
        throw IoError("cannot write " + Quoted(path) + ": there is no such device, and zoc creates no files in "
                      "/dev (write to standard output with '-')");
    const std::filesystem::path target = ResolveLinks(path);
    const std::filesystem::path directory =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            throw IoError("cannot write " + Quoted(path) + ": it is a directory");
        // Root may write anything; a file without any write permission is
        // still one its owner meant to keep.
        const bool writable =
            ::geteuid() == 0 ? (existing.st_mode & 0222) != 0 : ::access(target.c_str(), W_OK) == 0;
        if (!writable)
            throw IoError("cannot replace " + Quoted(path) + ": the file is write-protected");
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0)
        throw IoError("cannot write " + Quoted(path) + ": " + std::strerror(errno));
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(ResolveLinks(target))
{
    if (!target_.has_filename())
        throw IoError("cannot write " + Quoted(target) + ": not a file name");
    // Renaming over a device or a pipe would replace it with a plain file.
    if (IsStream(target_))
        throw IoError("cannot write " + Quoted(target) + ": it is a device or a pipe, not a file");
    const std::filesystem::path directory =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    CheckReplaceable(target);
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) {
        replacing_ = true;
        mode_ = existing.st_mode & 0777;
        owner_ = existing.st_uid;
        group_ = existing.st_gid;
    }
    RemoveStaleTemporaries(directory);
    const long nameMax = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    const std::size_t limit =
        nameMax > 0 ? std::min<std::size_t>(static_cast<std::size_t>(nameMax), NAME_MAX) : NAME_MAX;
    int lastError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = directory / TemporaryName(target_.filename().string(), limit);
        const DeferredSignals deferred;
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
    throw IoError("cannot write " + Quoted(target) + ": " + std::strerror(lastError));
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

void AtomicFile::Write(const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = ::write(descriptor_, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            throw IoError("cannot write " + Quoted(target_) + ": " + std::strerror(result < 0 ? errno : EIO));
        written += static_cast<std::size_t>(result);
    }
}

void AtomicFile::Commit()
{
    mode_t mode = static_cast<mode_t>(mode_);
    if (replacing_) {
        // Keep the owner where allowed (root replacing someone's file); a
        // failure only means the new file stays ours.
        if (::fchown(descriptor_, owner_, group_) != 0) {
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0644 & ~mask;
    }
    // No fsync: the rename alone guarantees readers see either the old file
    // or the complete new one, and forcing the data to disk would double the
    // time of a short job without making the result any more whole.
    bool ok = ::fchmod(descriptor_, mode) == 0;
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
    file.Write(text);
    file.Commit();
}

namespace {

/// True when `descriptor` is a pipe whose next bytes are `magic`; looks
/// without taking them (tee copies them into a pipe of our own).
bool PipeStartsWith(int descriptor, const std::string& magic)
{
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISFIFO(status.st_mode))
        return false;
    int peek[2];
    if (::pipe2(peek, O_CLOEXEC) != 0)
        return false;
    std::string start;
    for (int attempt = 0; attempt < 1000 && start.size() < magic.size(); ++attempt) {
        const ssize_t copied = ::tee(descriptor, peek[1], magic.size(), 0);
        if (copied <= 0)
            break;
        std::string bytes(static_cast<std::size_t>(copied), '\0');
        if (::read(peek[0], bytes.data(), bytes.size()) != copied)
            break;
        start = bytes;
        if (start.size() < magic.size())
            ::usleep(1000); // the writer has not written the whole magic yet
    }
    ::close(peek[0]);
    ::close(peek[1]);
    return start == magic;
}

/// Copies what is left of `descriptor` into an unnamed temporary file and
/// returns that, from its start; closes `descriptor`.
int SpoolDescriptor(int descriptor);

} // namespace

AudioReader::AudioReader(const std::filesystem::path& path) : path_(path.string())
{
    if (path_ == "-") {
        // Standard input: libsndfile reads any format it can from a stream.
        path_ = "standard input";
        int descriptor = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0)
            throw IoError("cannot read standard input: " + std::string(std::strerror(errno)));
        // libsndfile's FLAC decoder needs to seek: FLAC from a pipe is read
        // into a private temporary file first.
        if (PipeStartsWith(descriptor, "fLaC"))
            descriptor = SpoolDescriptor(descriptor);
        file_ = sf_open_fd(descriptor, SFM_READ, &info_, SF_TRUE);
        if (!file_) {
            ::close(descriptor);
            throw IoError("cannot read standard input: " + std::string(sf_strerror(nullptr)));
        }
        CheckLayout();
        return;
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw IoError("cannot read " + Quoted(path) + ": it is a directory");
    if (::access(path_.c_str(), R_OK) != 0)
        throw IoError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    file_ = sf_open(path_.c_str(), SFM_READ, &info_);
    if (!file_)
        throw IoError("cannot read " + Quoted(path) + ": " + sf_strerror(nullptr));
    CheckLayout();
}

void AudioReader::CheckLayout()
{
    const std::string name = path_ == "standard input" ? path_ : Quoted(path_);
    if (info_.channels <= 0) {
        sf_close(file_);
        file_ = nullptr;
        throw IoError("cannot read " + name + ": no audio channels");
    }
    if (info_.samplerate < kMinRate || info_.samplerate > kMaxRate) {
        const int rate = info_.samplerate;
        sf_close(file_);
        file_ = nullptr;
        throw UsageError(name + " runs at " + std::to_string(rate) +
                         " Hz; zoc takes sample rates from 1 Hz to 768 kHz");
    }
}

AudioReader::~AudioReader()
{
    if (file_)
        sf_close(file_);
}

namespace {

/// Where private temporary files go: TMPDIR, else /tmp.
std::string TemporaryDirectory()
{
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

/// An unnamed file in `directory`, private (0600) and gone with the process
/// however it ends; -1 with errno set when none can be made.
int OpenUnnamedFile(const std::string& directory)
{
    int descriptor = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        std::string name = directory + "/.zoc-stream-XXXXXX";
        descriptor = ::mkostemp(name.data(), O_CLOEXEC);
        if (descriptor >= 0)
            ::unlink(name.c_str());
    }
    return descriptor;
}

int SpoolDescriptor(int descriptor)
{
    const int spool = OpenUnnamedFile(TemporaryDirectory());
    if (spool < 0) {
        ::close(descriptor);
        throw IoError("cannot read standard input: no temporary file (" + std::string(std::strerror(errno)) + ")");
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !WriteAll(spool, buffer.data(), static_cast<std::size_t>(got)))) {
            const int error = errno;
            ::close(descriptor);
            ::close(spool);
            throw IoError("cannot read standard input: " + std::string(std::strerror(error)));
        }
        if (got == 0)
            break;
    }
    ::close(descriptor);
    ::lseek(spool, 0, SEEK_SET);
    return spool;
}

} // namespace

AudioReader::AudioReader(int descriptor, std::size_t channels, int sampleRate, std::string name)
    : path_(std::move(name))
{
    info_.samplerate = sampleRate;
    info_.channels = static_cast<int>(channels);
    info_.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;
    file_ = sf_open_fd(descriptor, SFM_READ, &info_, SF_TRUE);
    if (!file_) {
        ::close(descriptor);
        throw IoError("cannot read back " + path_ + ": " + sf_strerror(nullptr));
    }
}

void AudioReader::SpoolToTemporaryFile()
{
    const std::string directory = TemporaryDirectory();
    int descriptor = OpenUnnamedFile(directory);
    if (descriptor < 0)
        throw IoError("cannot read " + Quoted(path_) + " into a temporary file in '" + directory +
                      "': " + std::strerror(errno));
    const auto fail = [&](const std::string& reason) {
        ::close(descriptor);
        return IoError("cannot read " + Quoted(path_) + " into a temporary file in '" + directory + "': " + reason);
    };
    constexpr sf_count_t kChunkFrames = 65536;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * Channels());
    for (;;) {
        const sf_count_t read = sf_readf_float(file_, chunk.data(), kChunkFrames);
        if (read < 0 || (read == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
            ::close(descriptor);
            throw IoError("cannot read " + Quoted(path_) + ": " + sf_strerror(file_));
        }
        if (read == 0)
            break;
        const char* bytes = reinterpret_cast<const char*>(chunk.data());
        std::size_t left = static_cast<std::size_t>(read) * Channels() * sizeof(float);
        while (left > 0) {
            const ssize_t written = ::write(descriptor, bytes, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw fail(std::strerror(written < 0 ? errno : EIO));
            bytes += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    if (::lseek(descriptor, 0, SEEK_SET) != 0)
        throw fail(std::strerror(errno));
    SF_INFO spooled{};
    spooled.samplerate = info_.samplerate;
    spooled.channels = info_.channels;
    spooled.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;
    SNDFILE* reopened = sf_open_fd(descriptor, SFM_READ, &spooled, SF_TRUE);
    if (!reopened)
        throw fail(sf_strerror(nullptr));
    sf_close(file_);
    file_ = reopened;
    info_ = spooled;
}

std::int64_t AudioReader::Read(std::vector<std::vector<float>>& planar, std::int64_t frames)
{
    const std::size_t channels = Channels();
    interleaved_.resize(static_cast<std::size_t>(frames) * channels);
    const sf_count_t read = sf_readf_float(file_, interleaved_.data(), frames);
    if (read < 0 || (read == 0 && sf_error(file_) != SF_ERR_NO_ERROR))
        throw IoError("cannot read '" + path_ + "': " + sf_strerror(file_));
    // Callers usually hand buffers of the right shape; anything smaller grows.
    if (planar.size() < channels)
        planar.resize(channels);
    for (std::size_t channel = 0; channel < channels; ++channel) {
        if (planar[channel].size() < static_cast<std::size_t>(read))
            planar[channel].resize(static_cast<std::size_t>(read));
    }
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

OutputFormat FitFormatToSize(OutputFormat format, std::optional<double> frames, std::size_t channels)
{
    const int container = format.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_AIFF)
        return format;
    const int subtype = format.format & SF_FORMAT_SUBMASK;
    const double bytesPerSample = subtype == SF_FORMAT_PCM_16 ? 2.0 : subtype == SF_FORMAT_PCM_24 ? 3.0 : 4.0;
    // Room for the header and its chunks.
    constexpr double kLimit = 0x1p32 - 0x1p16;
    if (frames && *frames * static_cast<double>(channels) * bytesPerSample < kLimit)
        return format;
    if (container == SF_FORMAT_AIFF)
        throw UsageError(frames ? "the output is too long for AIFF, which stops at 4 GiB; write .wav or .flac instead"
                                : "the input's length is unknown and AIFF stops at 4 GiB; write .wav or .flac instead");
    format.format = SF_FORMAT_RF64 | subtype;
    return format;
}

namespace {

/// libsndfile's I/O on a descriptor, remembering the first system error.
sf_count_t SinkLength(void* data)
{
    struct stat status {};
    return ::fstat(static_cast<AudioWriter::Sink*>(data)->descriptor, &status) == 0 ? status.st_size : -1;
}

sf_count_t SinkSeek(sf_count_t offset, int whence, void* data)
{
    return ::lseek(static_cast<AudioWriter::Sink*>(data)->descriptor, offset, whence);
}

sf_count_t SinkRead(void* target, sf_count_t count, void* data)
{
    auto* sink = static_cast<AudioWriter::Sink*>(data);
    ssize_t result;
    do
        result = ::read(sink->descriptor, target, static_cast<std::size_t>(count));
    while (result < 0 && errno == EINTR);
    if (result < 0 && sink->error == 0)
        sink->error = errno;
    return result < 0 ? 0 : result;
}

sf_count_t SinkWrite(const void* source, sf_count_t count, void* data)
{
    auto* sink = static_cast<AudioWriter::Sink*>(data);
    const char* bytes = static_cast<const char*>(source);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t result = ::write(sink->descriptor, bytes + done, static_cast<std::size_t>(count - done));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0) {
            if (sink->error == 0)
                sink->error = result < 0 ? errno : EIO;
            break;
        }
        done += result;
    }
    return done;
}

sf_count_t SinkTell(void* data) { return ::lseek(static_cast<AudioWriter::Sink*>(data)->descriptor, 0, SEEK_CUR); }

SF_VIRTUAL_IO kSinkIo{SinkLength, SinkSeek, SinkRead, SinkWrite, SinkTell};

/// Memory standing in for a file when an encoder is tried out.
struct MemoryFile {
    std::string bytes;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* data) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(data)->bytes.size()); }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* data)
{
    auto* file = static_cast<MemoryFile*>(data);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->position : MemoryLength(data);
    if (base + offset < 0)
        return -1;
    file->position = base + offset;
    return file->position;
}

sf_count_t MemoryRead(void* target, sf_count_t count, void* data)
{
    auto* file = static_cast<MemoryFile*>(data);
    const sf_count_t size = MemoryLength(data);
    const sf_count_t available = std::clamp<sf_count_t>(size - file->position, 0, count);
    std::memcpy(target, file->bytes.data() + file->position, static_cast<std::size_t>(available));
    file->position += available;
    return available;
}

sf_count_t MemoryWrite(const void* source, sf_count_t count, void* data)
{
    auto* file = static_cast<MemoryFile*>(data);
    const auto end = static_cast<std::size_t>(file->position + count);
    if (file->bytes.size() < end)
        file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->position, source, static_cast<std::size_t>(count));
    file->position += count;
    return count;
}

sf_count_t MemoryTell(void* data) { return static_cast<MemoryFile*>(data)->position; }

SF_VIRTUAL_IO kMemoryIo{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};

/// True when libsndfile encodes a few frames of this layout without error.
bool EncoderAccepts(int format, std::size_t channels, int sampleRate)
{
    SF_INFO info{};
    info.channels = static_cast<int>(channels);
    info.samplerate = sampleRate;
    info.format = format;
    if (!sf_format_check(&info))
        return false;
    MemoryFile memory;
    SNDFILE* sound = sf_open_virtual(&kMemoryIo, SFM_WRITE, &info, &memory);
    if (!sound)
        return false;
    const std::vector<float> silence(channels * 16, 0.0f);
    const bool written = sf_writef_float(sound, silence.data(), 16) == 16;
    return sf_close(sound) == 0 && written;
}

} // namespace

void CheckOutputFormat(const OutputFormat& format, std::size_t channels, int sampleRate,
                       const std::filesystem::path& path)
{
    if (!EncoderAccepts(format.format, channels, sampleRate))
        throw UsageError(format.description + " cannot hold " + std::to_string(channels) +
                         (channels == 1 ? " channel at " : " channels at ") +
                         std::to_string(sampleRate) + " Hz (" + path.filename().string() + ")");
}

AudioWriter::AudioWriter(const std::filesystem::path& path, const OutputFormat& format, std::size_t channels,
                         int sampleRate)
    : path_(path.string()), channels_(channels)
{
    CheckOutputFormat(format, channels, sampleRate, path);
    SF_INFO info{};
    info.channels = static_cast<int>(channels);
    info.samplerate = sampleRate;
    info.format = format.format;
    if (IsStream(path)) {
        // Standard output, a pipe or a device is written as it goes; given
        // its own descriptor, libsndfile sees whether it can seek back to
        // the header and writes the streaming form of the header if not.
        const int descriptor = path_ == "-" ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                            : ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (path_ == "-")
            path_ = "standard output";
        if (descriptor < 0)
            Fail(std::strerror(errno));
        const int container = format.format & SF_FORMAT_TYPEMASK;
        if (::lseek(descriptor, 0, SEEK_CUR) < 0 && (container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF)) {
            // libsndfile writes WAV and AIFF only where it can seek back to
            // the header. A pipe gets WAV with the sizes left at their
            // largest, the form programs that stream WAV write and readers
            // take as "until the stream ends"; the samples follow raw.
            if (container == SF_FORMAT_AIFF) {
                ::close(descriptor);
                throw UsageError("AIFF cannot be streamed to a pipe; use --type wav or flac");
            }
            const std::string header = StreamingWavHeader(format.format & SF_FORMAT_SUBMASK, channels, sampleRate);
            if (!WriteAll(descriptor, header.data(), header.size())) {
                sink_.error = errno;
                ::close(descriptor);
                Fail(std::strerror(errno));
            }
            info.format = SF_FORMAT_RAW | (format.format & SF_FORMAT_SUBMASK) | SF_ENDIAN_LITTLE;
        }
        sound_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
        if (!sound_) {
            ::close(descriptor);
            Fail(sf_strerror(nullptr));
        }
    } else {
        file_.emplace(path);
        sink_.descriptor = file_->Descriptor();
        sound_ = sf_open_virtual(&kSinkIo, SFM_WRITE, &info, &sink_);
        if (!sound_)
            Fail(sf_strerror(nullptr));
    }
    if ((format.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
        sf_command(sound_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // Integer formats clip out-of-range samples instead of wrapping around.
    sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // No peak chunk: it carries a time stamp, and the same render should give
    // the same bytes.
    sf_command(sound_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const int subtype = format.format & SF_FORMAT_SUBMASK;
    finiteOnly_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE;
}

AudioWriter::AudioWriter(std::size_t channels, int sampleRate)
    : path_("a temporary file in '" + TemporaryDirectory() + "'"), channels_(channels), sampleRate_(sampleRate)
{
    temporary_ = OpenUnnamedFile(TemporaryDirectory());
    if (temporary_ < 0)
        throw IoError("cannot create " + path_ + ": " + std::strerror(errno));
    sink_.descriptor = temporary_;
    SF_INFO info{};
    info.channels = static_cast<int>(channels);
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;
    sound_ = sf_open_virtual(&kSinkIo, SFM_WRITE, &info, &sink_);
    if (!sound_)
        Fail(sf_strerror(nullptr));
}

AudioReader AudioWriter::ReadBack()
{
    Finish();
    if (::lseek(temporary_, 0, SEEK_SET) != 0)
        Fail(std::strerror(errno));
    const int descriptor = temporary_;
    temporary_ = -1;
    return AudioReader(descriptor, channels_, sampleRate_, path_);
}

void AudioWriter::Fail(const std::string& reason) const
{
    // A failed system call explains more than the encoder's view of it.
    throw IoError("cannot write '" + path_ + "': " + (sink_.error != 0 ? std::strerror(sink_.error) : reason));
}

AudioWriter::~AudioWriter()
{
    if (sound_)
        sf_close(sound_);
    if (temporary_ >= 0)
        ::close(temporary_);
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
    float peak = peak_;
    if (finiteOnly_) {
        // Integer and compressed encodings have no NaN or infinity: silence
        // for NaN, full scale for infinities. Anything else beyond full
        // scale is clipped by the encoder (or by whoever plays Vorbis back).
        std::int64_t clipped = 0;
        for (float& sample : interleaved_) {
            if (std::isnan(sample))
                sample = 0.0f;
            else if (std::isinf(sample))
                sample = sample > 0.0f ? 1.0f : -1.0f;
            const float magnitude = std::fabs(sample);
            peak = std::max(peak, magnitude);
            clipped += magnitude > 1.0f ? 1 : 0;
        }
        clipped_ += clipped;
    } else {
        for (const float sample : interleaved_) {
            const float magnitude = std::fabs(sample);
            if (magnitude > peak && std::isfinite(magnitude))
                peak = magnitude;
        }
    }
    peak_ = peak;
    if (sf_writef_float(sound_, interleaved_.data(), frames) != frames || sink_.error != 0)
        Fail(sf_error(sound_) != SF_ERR_NO_ERROR ? sf_strerror(sound_) : "the encoder failed");
}

void AudioWriter::Finish()
{
    if (!sound_)
        return;
    // sf_close writes the final header; no sync to disk (see AtomicFile::Commit).
    const int error = sf_close(sound_);
    sound_ = nullptr;
    if (error != 0 || sink_.error != 0)
        Fail(sf_error_number(error));
}

void AudioWriter::Commit()
{
    Finish();
    if (file_)
        file_->Commit();
}

} // namespace zoc::api
