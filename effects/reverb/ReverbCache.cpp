// The Reverb's impulse cache files.

#include "effects/reverb/ReverbCache.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zoc::components::reverb {

namespace {

static_assert(std::endian::native == std::endian::little, "cache files hold little-endian floats");

constexpr std::uint32_t kCacheMagic = 0x44332214;
constexpr std::uint32_t kCacheVersion = 2;
constexpr std::size_t kMagicAt = 0, kHeaderSizeAt = 4, kDataBytesAt = 8, kLengthAt = 12, kVersionAt = 16,
                      kRateAt = 20, kDecayAt = 24, kPreDelayAt = 32, kPerceptionAt = 40, kSumAt = 64,
                      kDiffusionAt = 72;

std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool AllFinite(const float* values, std::size_t count)
{
    // Exponent bits all set: infinity or NaN. Counted rather than branched
    // on, so the loop vectorises.
    std::size_t bad = 0;
    for (std::size_t i = 0; i < count; ++i)
        bad += (std::bit_cast<std::uint32_t>(values[i]) & 0x7F800000u) == 0x7F800000u;
    return bad == 0;
}

/// Spectra a file holds: two per channel, or eight for true stereo (both
/// direct responses and the two cross responses).
std::size_t SpectrumCount(bool sumInputs, std::size_t channels)
{
    return sumInputs || channels != 2 ? 2 * channels : 8;
}

/// The spectrum arrays in file order.
std::vector<float*> FileSpectra(EngineBuffers& engine, bool sumInputs)
{
    const std::size_t channels = engine.Channels();
    if (!sumInputs && channels == 2)
        return {engine.ImpulseRe(0),         engine.ImpulseIm(0),         engine.CrossLeftToRightRe(),
                engine.CrossLeftToRightIm(), engine.CrossRightToLeftRe(), engine.CrossRightToLeftIm(),
                engine.ImpulseRe(1),         engine.ImpulseIm(1)};
    std::vector<float*> spectra;
    for (std::size_t c = 0; c < channels; ++c) {
        spectra.push_back(engine.ImpulseRe(c));
        spectra.push_back(engine.ImpulseIm(c));
    }
    return spectra;
}

} // namespace

CacheHeader MakeCacheHeader(const ImpulseSettings& settings, float dryLevel, float wetLevel)
{
    const ImpulseSizes sizes = ComputeSizes(settings);
    core::files::ByteWriter writer;
    writer.U32(kCacheMagic);
    writer.U32(kCacheHeaderSize);
    writer.U32(sizes.impulseChannels * static_cast<std::uint32_t>(sizes.impulseLength) * 4u);
    writer.U32(static_cast<std::uint32_t>(sizes.impulseLength));
    writer.U32(kCacheVersion);
    writer.U32(static_cast<std::uint32_t>(settings.sampleRate));
    writer.F64(settings.decayTime);
    writer.F64(settings.preDelayTime);
    writer.F64(settings.perception);
    writer.F64(dryLevel);
    writer.F64(wetLevel);
    writer.U32(settings.sumInputs ? 1 : 0);
    writer.U32(0);
    writer.F64(settings.diffusion);
    CacheHeader header{};
    std::copy_n(writer.Data().begin(), std::min(writer.Data().size(), header.size()), header.begin());
    return header;
}

bool SameImpulseHeader(const CacheHeader& a, const CacheHeader& b)
{
    for (const CacheHeader* header : {&a, &b}) {
        if (ReadU32(header->data() + kMagicAt) != kCacheMagic ||
            ReadU32(header->data() + kHeaderSizeAt) != kCacheHeaderSize ||
            ReadU32(header->data() + kVersionAt) != kCacheVersion)
            return false;
    }
    const auto equal = [&](std::size_t at, std::size_t size) {
        return std::memcmp(a.data() + at, b.data() + at, size) == 0;
    };
    return equal(kRateAt, 4) && equal(kDecayAt, 8) && equal(kPreDelayAt, 8) && equal(kPerceptionAt, 8) &&
           equal(kSumAt, 4) && equal(kDiffusionAt, 8);
}

bool ReadCacheFile(core::files::File& file, std::uint64_t size, const CacheHeader& expected, std::size_t channels,
                   EngineBuffers& into)
{
    if (channels == 0 || channels > static_cast<std::size_t>(ConvolutionReverbBase::kMaxChannels))
        return false;
    CacheHeader stored{};
    if (file.Read(stored.data(), stored.size()) != stored.size() || !SameImpulseHeader(expected, stored))
        return false;
    // The length must be the one the settings give, which also bounds it.
    const std::uint32_t length = ReadU32(stored.data() + kLengthAt);
    if (length == 0 || length != ReadU32(expected.data() + kLengthAt))
        return false;
    const bool sumInputs = ReadU32(stored.data() + kSumAt) != 0;
    const std::uint64_t impulseChannels = sumInputs ? channels : channels + 2;
    const std::uint64_t impulseBytes = impulseChannels * length * 4u;
    if (ReadU32(stored.data() + kDataBytesAt) != impulseBytes)
        return false;
    const std::uint32_t fftSize = FFTSizeFor(static_cast<std::int32_t>(length));
    const std::uint64_t expectedSize =
        kCacheHeaderSize + impulseBytes + SpectrumCount(sumInputs, channels) * std::uint64_t{fftSize} * 4u;
    if (size != expectedSize)
        return false;

    into.SetSizes(fftSize, length, static_cast<std::uint32_t>(impulseChannels), channels);
    dsp::AlignedBuffer& impulse = into.ImpulseStorage();
    if (file.Read(impulse.Data(), impulse.Size() * sizeof(float)) != impulse.Size() * sizeof(float))
        return false;
    if (!AllFinite(impulse.Data(), impulse.Size()))
        return false;
    const std::size_t spectrumBytes = static_cast<std::size_t>(fftSize) * sizeof(float);
    for (float* spectrum : FileSpectra(into, sumInputs)) {
        // A damaged file could hold infinities or NaN that would sound
        // forever through the convolution: such a file is not trusted.
        if (file.Read(spectrum, spectrumBytes) != spectrumBytes || !AllFinite(spectrum, fftSize))
            return false;
    }
    return true;
}

std::vector<std::uint8_t> CacheFileBytes(const CacheHeader& header, EngineBuffers& from)
{
    const bool sumInputs = ReadU32(header.data() + kSumAt) != 0;
    const std::vector<float*> spectra = FileSpectra(from, sumInputs);
    const dsp::AlignedBuffer& impulse = from.ImpulseStorage();
    const std::size_t spectrumBytes = static_cast<std::size_t>(from.FFTSize()) * sizeof(float);
    std::vector<std::uint8_t> bytes(header.size() + impulse.Size() * sizeof(float) + spectra.size() * spectrumBytes);
    std::uint8_t* at = bytes.data();
    std::memcpy(at, header.data(), header.size());
    at += header.size();
    std::memcpy(at, impulse.Data(), impulse.Size() * sizeof(float));
    at += impulse.Size() * sizeof(float);
    for (const float* spectrum : spectra) {
        std::memcpy(at, spectrum, spectrumBytes);
        at += spectrumBytes;
    }
    return bytes;
}

} // namespace zoc::components::reverb
