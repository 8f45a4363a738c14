#pragma once
// Files and byte streams for temporary and cache files. Files are opened
// without following symbolic links and created readable by their owner only.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zoc::core::files {

/// Makes `directory` (and missing parents) exist as a private directory:
/// created with mode 0700; an existing one must be a real directory (not a
/// link) owned by this user, and loses group and other permissions. Returns
/// an error message, or an empty string on success.
std::string EnsurePrivateDirectory(const std::filesystem::path& directory);

/// The default per-user private directory for this library's temporary and
/// cache files: $XDG_CACHE_HOME/ZoAudioComponents, else
/// $HOME/.cache/ZoAudioComponents, else /tmp/ZoAudioComponents-UID.
std::filesystem::path DefaultPrivateDirectory();

class File {
public:
    enum class Mode { Read, ReadWrite, CreateOrTruncate };

    /// Opens without following a link at the last path component. Returns
    /// null on failure with the reason in `error` when given.
    static std::unique_ptr<File> Open(const std::filesystem::path& path, Mode mode,
                                      std::string* error = nullptr);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    /// Reads up to size bytes; returns the count read (0 at the end or on error).
    std::size_t Read(void* data, std::size_t size);
    /// Writes all bytes; false on error.
    bool Write(const void* data, std::size_t size);
    bool Seek(std::uint64_t position);
    std::optional<std::uint64_t> Size() const;
    bool Flush();

private:
    explicit File(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

/// The whole content of a file, or nullopt when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path);

/// Writes to a temporary file beside `path`, then renames it into place, so
/// readers never see a partial file. False on any error (nothing is left).
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

/// Appends little-endian values to a byte vector.
class ByteWriter {
public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
    void F32(float value);
    void F64(double value);
    void Bytes(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    const std::vector<std::uint8_t>& Data() const { return bytes_; }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

/// Reads little-endian values from a byte span. A read past the end returns
/// false, leaves the value alone and marks the reader failed.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
    bool U8(std::uint8_t& value);
    bool U32(std::uint32_t& value);
    bool U64(std::uint64_t& value);
    bool I32(std::int32_t& value);
    bool F32(float& value);
    bool F64(double& value);
    bool Bytes(std::span<std::uint8_t> out);
    std::size_t Remaining() const { return data_.size() - position_; }
    bool Failed() const { return failed_; }

private:
    bool Take(void* out, std::size_t size);
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

} // namespace zoc::core::files
