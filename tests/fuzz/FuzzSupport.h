#pragma once
// Shared by the fuzz targets: a private scratch folder for the files a
// target hands to the code under test.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace zoc::fuzz {

/// A folder only this user can enter, made once per process and removed
/// when it ends normally. In memory where the system offers it: a file
/// written per input must not wait for the disk.
inline const std::string& ScratchFolder()
{
    struct Folder {
        std::string path;
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder{[] {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/zoc-fuzz.XXXXXX" : "/tmp/zoc-fuzz.XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (made == nullptr)
            std::abort();
        return std::string(made);
    }()};
    return folder.path;
}

/// Writes the bytes to `name` in the scratch folder and returns its path.
inline std::string WriteScratchFile(const std::string& name, const std::uint8_t* bytes, std::size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    // A new file rather than a truncated one: replacing the contents of a
    // file makes some file systems flush it on close.
    std::remove(path.c_str());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes),
                                                                   static_cast<std::streamsize>(size));
    return path;
}

} // namespace zoc::fuzz
