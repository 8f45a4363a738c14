#pragma once
// The convolution reverbs' impulse cache: a ring of ten files
// "<prefix><slot>.tmp" in the library's private temporary directory, each a
// header of the reverb's own followed by its impulse and spectra. Settings
// used before load instead of being synthesised again.
//
// Files are trusted only as far as this code checks them: the directory must
// be private to the user, a slot must be a regular file (links and anything
// else are refused without being followed), and the reverb checks the header
// and the exact size before it reads the data. Files are written beside
// their slot and renamed into place, so a reader never sees half a file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "platform/core/Files.h"

namespace zoc::components {

/// Impulse recalculation and cache-file access, one at a time in the
/// process, for every convolution reverb. Taken after an instance's impulse
/// mutex and before its engine mutex.
std::mutex& ImpulseCacheMutex();

class ImpulseCacheRing {
public:
    static constexpr int kSlots = 10;

    ImpulseCacheRing(std::filesystem::path directory, std::string prefix)
        : directory_(std::move(directory)), prefix_(std::move(prefix))
    {
    }

    std::filesystem::path SlotPath(int slot) const;
    /// Looks at the slots in turn, from the one used last. For each slot that
    /// exists, `found` is told first (for progress), then `load` gets the
    /// open file and its size; its true answer ends the search and makes the
    /// slot the last one used. False when no slot loaded or the directory is
    /// not private.
    bool Search(const std::function<void()>& found,
                const std::function<bool(core::files::File& file, std::uint64_t size)>& load);
    /// Replaces slot `slot` (0 .. 9) with `bytes` and makes it the last one
    /// used. A failure only costs the cache.
    void Save(int slot, std::span<const std::uint8_t> bytes);

private:
    std::filesystem::path directory_;
    std::string prefix_;
    int lastSlot_ = 0;
};

} // namespace zoc::components
