#include "platform/core/Files.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoc::core::files {

namespace {

std::string ErrorText(const std::filesystem::path& path, const char* what, int error)
{
    return std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

/// Closes the descriptor when leaving scope.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    int Get() const { return descriptor_; }
    /// Closes now and reports whether close succeeded.
    bool Close()
    {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor < 0 || ::close(descriptor) == 0;
    }

private:
    int descriptor_;
};

/// A path without trailing separators: "dir/" would make the system follow
/// a link named "dir", which the checks below must see instead.
std::filesystem::path WithoutTrailingSeparator(std::filesystem::path path)
{
    while (!path.has_filename() && path.has_parent_path() && path != path.root_path())
        path = path.parent_path();
    return path;
}

/// Creates the missing parents of `directory` with mode 0700. Existing ones
/// are left as they are: they may well be shared (/tmp, the home directory).
std::string CreateMissingParents(const std::filesystem::path& directory)
{
    std::filesystem::path partial;
    const std::filesystem::path parent = directory.parent_path();
    for (const std::filesystem::path& component : parent) {
        partial /= component;
        if (component.empty() || partial == partial.root_path())
            continue;
        if (::mkdir(partial.c_str(), 0700) == 0)
            continue;
        const int error = errno;
        struct stat info {};
        if (::stat(partial.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return ErrorText(partial, "Cannot create", error);
    }
    return {};
}

bool SyncDirectory(const std::filesystem::path& directory)
{
    const Descriptor descriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return descriptor.Get() >= 0 && ::fsync(descriptor.Get()) == 0;
}

template <class T>
void AppendLittleEndian(std::vector<std::uint8_t>& bytes, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

template <class T>
T FromLittleEndian(const std::uint8_t* bytes)
{
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(bytes[i]) << (8 * i));
    return value;
}

} // namespace

std::string EnsurePrivateDirectory(const std::filesystem::path& requested)
{
    if (requested.empty())
        return "No directory given";
    const std::filesystem::path directory = WithoutTrailingSeparator(requested);

    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return ErrorText(directory, "Cannot inspect", errno);
        if (std::string error = CreateMissingParents(directory); !error.empty())
            return error;
        // Another process may create it at the same moment; the checks below
        // then judge whatever exists.
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
            return ErrorText(directory, "Cannot create", errno);
    }

    // Checking the opened directory rather than the path leaves no window for
    // the path to be swapped for a link between the check and the chmod.
    const Descriptor descriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (descriptor.Get() < 0) {
        if (errno == ELOOP)
            return directory.string() + " is a symbolic link, not a directory";
        if (errno == ENOTDIR)
            return directory.string() + " is not a directory";
        return ErrorText(directory, "Cannot open", errno);
    }
    if (::fstat(descriptor.Get(), &info) != 0)
        return ErrorText(directory, "Cannot inspect", errno);
    if (!S_ISDIR(info.st_mode))
        return directory.string() + " is not a directory";
    if (info.st_uid != ::geteuid())
        return directory.string() + " belongs to another user";
    if ((info.st_mode & 07777) != 0700 && ::fchmod(descriptor.Get(), 0700) != 0)
        return ErrorText(directory, "Cannot restrict permissions of", errno);
    return {};
}

std::filesystem::path DefaultPrivateDirectory()
{
    constexpr const char* kName = "ZoAudioComponents";
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
        return std::filesystem::path(cache) / kName;
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return std::filesystem::path(home) / ".cache" / kName;
    return std::filesystem::path("/tmp") / (std::string(kName) + "-" + std::to_string(::geteuid()));
}

std::unique_ptr<File> File::Open(const std::filesystem::path& path, Mode mode, std::string* error)
{
    int flags = O_NOFOLLOW | O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::CreateOrTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    const auto fail = [&](std::string message) {
        if (error)
            *error = std::move(message);
        return std::unique_ptr<File>();
    };

    int descriptor = -1;
    do {
        descriptor = ::open(path.c_str(), flags, 0600);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        if (errno == ELOOP)
            return fail(path.string() + " is a symbolic link");
        return fail(ErrorText(path, "Cannot open", errno));
    }
    std::unique_ptr<File> file(new File(descriptor));
    // Directories, devices and pipes are not files this library reads or writes.
    struct stat info {};
    if (::fstat(descriptor, &info) != 0)
        return fail(ErrorText(path, "Cannot inspect", errno));
    if (!S_ISREG(info.st_mode))
        return fail(path.string() + " is not a regular file");
    return file;
}

File::~File()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

std::size_t File::Read(void* data, std::size_t size)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(descriptor_, bytes + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return done;
}

bool File::Write(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::write(descriptor_, bytes + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool File::Seek(std::uint64_t position)
{
    return ::lseek(descriptor_, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

std::optional<std::uint64_t> File::Size() const
{
    struct stat info {};
    if (::fstat(descriptor_, &info) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool File::Flush()
{
    return ::fsync(descriptor_) == 0;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path)
{
    const std::unique_ptr<File> file = File::Open(path, File::Mode::Read);
    if (!file)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (const auto size = file->Size())
        bytes.reserve(static_cast<std::size_t>(*size));
    // Read to the end rather than trusting the size: the file may grow.
    std::uint8_t chunk[16384];
    for (;;) {
        errno = 0;
        const std::size_t count = file->Read(chunk, sizeof chunk);
        bytes.insert(bytes.end(), chunk, chunk + count);
        if (count < sizeof chunk) {
            if (errno != 0 && errno != EINTR)
                return std::nullopt;
            break;
        }
    }
    return bytes;
}

bool WriteFileAtomically(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes)
{
    const std::filesystem::path path = WithoutTrailingSeparator(requested);
    if (!path.has_filename())
        return false;
    std::filesystem::path directory = path.parent_path();
    if (directory.empty())
        directory = ".";

    // A hidden name in the same directory, so the rename never crosses file
    // systems; mkostemp creates it exclusively with mode 0600.
    std::string name(".");
    name.append(path.filename().string()).append(".tmp-XXXXXX");
    std::string temporary = (directory / name).string();
    Descriptor descriptor(::mkostemp(temporary.data(), O_CLOEXEC));
    if (descriptor.Get() < 0)
        return false;

    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t count = ::write(descriptor.Get(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        ok = count > 0;
        if (ok)
            done += static_cast<std::size_t>(count);
    }
    // The data must be on disk before the rename makes it visible, or a crash
    // could leave an empty file under the final name.
    ok = ok && ::fsync(descriptor.Get()) == 0;
    ok = descriptor.Close() && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncDirectory(directory);
    return true;
}

void ByteWriter::U32(std::uint32_t value)
{
    AppendLittleEndian(bytes_, value);
}

void ByteWriter::U64(std::uint64_t value)
{
    AppendLittleEndian(bytes_, value);
}

void ByteWriter::F32(float value)
{
    U32(std::bit_cast<std::uint32_t>(value));
}

void ByteWriter::F64(double value)
{
    U64(std::bit_cast<std::uint64_t>(value));
}

bool ByteReader::Take(void* out, std::size_t size)
{
    if (failed_ || size > Remaining()) {
        failed_ = true;
        return false;
    }
    if (size > 0)
        std::memcpy(out, data_.data() + position_, size);
    position_ += size;
    return true;
}

bool ByteReader::U8(std::uint8_t& value)
{
    return Take(&value, 1);
}

bool ByteReader::U32(std::uint32_t& value)
{
    std::uint8_t bytes[4];
    if (!Take(bytes, sizeof bytes))
        return false;
    value = FromLittleEndian<std::uint32_t>(bytes);
    return true;
}

bool ByteReader::U64(std::uint64_t& value)
{
    std::uint8_t bytes[8];
    if (!Take(bytes, sizeof bytes))
        return false;
    value = FromLittleEndian<std::uint64_t>(bytes);
    return true;
}

bool ByteReader::I32(std::int32_t& value)
{
    std::uint32_t bits = 0;
    if (!U32(bits))
        return false;
    value = static_cast<std::int32_t>(bits);
    return true;
}

bool ByteReader::F32(float& value)
{
    std::uint32_t bits = 0;
    if (!U32(bits))
        return false;
    value = std::bit_cast<float>(bits);
    return true;
}

bool ByteReader::F64(double& value)
{
    std::uint64_t bits = 0;
    if (!U64(bits))
        return false;
    value = std::bit_cast<double>(bits);
    return true;
}

bool ByteReader::Bytes(std::span<std::uint8_t> out)
{
    return Take(out.data(), out.size());
}

} // namespace zoc::core::files
