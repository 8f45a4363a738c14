#pragma once
// Shared by the fuzz targets: a private scratch folder for the files a
// target hands to the code under test.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace zoc::fuzz {

/// A folder only this user can enter, made once per process.
inline const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = "/tmp/zoc-fuzz.XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (made == nullptr)
            std::abort();
        return std::string(made);
    }();
    return folder;
}

/// Writes the bytes to `name` in the scratch folder and returns its path.
inline std::string WriteScratchFile(const std::string& name, const std::uint8_t* bytes, std::size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes),
                                                                   static_cast<std::streamsize>(size));
    return path;
}

} // namespace zoc::fuzz
