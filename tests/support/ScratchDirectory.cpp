#include "tests/support/ScratchDirectory.h"

#include <algorithm>
#include <random>

namespace zoc::test {

ScratchDirectory::ScratchDirectory()
{
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("zoc-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::vector<std::string> ScratchDirectory::Entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace zoc::test
