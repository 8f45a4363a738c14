#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zoc::test {

/// A fresh directory, removed with everything in it at destruction.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }
    /// Names of the files in the directory, hidden ones included, sorted.
    std::vector<std::string> Entries() const;

private:
    std::filesystem::path path_;
};

} // namespace zoc::test
