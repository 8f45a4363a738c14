// Ring of impulse cache files shared by the convolution reverbs.

#include "framework/ImpulseCache.h"

#include <memory>
#include <system_error>

namespace zoc::components {

std::mutex& ImpulseCacheMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::filesystem::path ImpulseCacheRing::SlotPath(int slot) const
{
    return directory_ / (prefix_ + std::to_string(slot) + ".tmp");
}

bool ImpulseCacheRing::Search(const std::function<void()>& found,
                              const std::function<bool(core::files::File& file, std::uint64_t size)>& load)
{
    // Only a directory that is private to this user is trusted.
    if (!core::files::EnsurePrivateDirectory(directory_).empty())
        return false;
    for (int i = 0; i < kSlots; ++i) {
        const int slot = (lastSlot_ + i) % kSlots;
        const std::filesystem::path path = SlotPath(slot);
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            continue;
        if (found)
            found();
        // Opened without following links; anything but a regular file is refused.
        const std::unique_ptr<core::files::File> file =
            core::files::File::Open(path, core::files::File::Mode::Read);
        if (!file)
            continue;
        const std::optional<std::uint64_t> size = file->Size();
        if (size && load(*file, *size)) {
            lastSlot_ = slot;
            return true;
        }
    }
    return false;
}

void ImpulseCacheRing::Save(int slot, std::span<const std::uint8_t> bytes)
{
    if (slot < 0 || slot >= kSlots)
        return;
    lastSlot_ = slot;
    if (core::files::EnsurePrivateDirectory(directory_).empty())
        core::files::WriteFileAtomically(SlotPath(slot), bytes);
}

} // namespace zoc::components
