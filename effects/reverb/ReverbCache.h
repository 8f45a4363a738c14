#pragma once
// The Reverb's impulse cache files: an 80-byte header that names the
// settings, the impulse (K * L floats, interleaved by frame), then N floats
// per spectrum. A file serves only the exact settings its header names, and
// only when its size is exactly what those settings need; anything else is
// refused without reading past its end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "effects/reverb/ReverbImpulse.h"
#include "framework/ConvolutionReverbBase.h"
#include "platform/core/Files.h"

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

/// Reads an open cache file of `size` bytes, from its start, into `into`
/// (sized for `channels` processed channels) when it serves `expected`,
/// which comes from MakeCacheHeader. False, with `into` in an unspecified
/// state, for a foreign, short or overlong file or one holding a value that
/// is not finite.
bool ReadCacheFile(core::files::File& file, std::uint64_t size, const CacheHeader& expected, std::size_t channels,
                   EngineBuffers& into);

/// The bytes of a cache file for `from`'s impulse and spectra.
std::vector<std::uint8_t> CacheFileBytes(const CacheHeader& header, EngineBuffers& from);

} // namespace zoc::components::reverb
