#pragma once
// The Reverb's impulse cache files: an 80-byte header that names the
// settings, the impulse (K * L floats, interleaved by frame), then N floats
// per spectrum. A file serves only the exact settings its header names, and
// only when its size is exactly what those settings need; anything else is
// refused without reading past its end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "effects/reverb/ReverbImpulse.h"
#include "framework/ConvolutionReverbBase.h"

namespace zoc::components::reverb {

constexpr std::size_t kCacheHeaderSize = 80;
using CacheHeader = std::array<std::uint8_t, kCacheHeaderSize>;
using EngineBuffers = ConvolutionReverbBase::EngineBuffers;

/// The header for `settings`; the two output levels (%) are recorded but
/// never compared.
CacheHeader MakeCacheHeader(const ImpulseSettings& settings, float dryLevel, float wetLevel);

/// Both headers are well formed and name the same rate, decay, pre-delay,
/// perception, summing and diffusion.
bool SameImpulseHeader(const CacheHeader& a, const CacheHeader& b);

/// Reads the cache file at `path` into `into` (sized for `channels`
/// processed channels) when it serves `expected`, which comes from
/// MakeCacheHeader. False, with `into` in an unspecified state, for a
/// missing, foreign, short or overlong file or anything but a regular file.
bool ReadCacheFile(const std::filesystem::path& path, const CacheHeader& expected, std::size_t channels,
                   EngineBuffers& into);

/// Writes `from`'s impulse and spectra under `path` (beside it, then renamed
/// into place). A failure only costs the cache.
void WriteCacheFile(const std::filesystem::path& path, const CacheHeader& header, EngineBuffers& from);

} // namespace zoc::components::reverb
