// Fuzz target: any bytes as a Reverb impulse cache file, read for a
// channel count picked by the first byte. The reader expects the header the
// Reverb would build for the settings this file's header names (held to
// the parameters' ranges), so the fuzzer gets past the comparison to the
// sizes and the data. A file is either refused or read whole and clean.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "effects/reverb/ReverbCache.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace zoc::components::reverb;

double ReadF64(const std::uint8_t* bytes, std::size_t at)
{
    double value = 0.0;
    std::memcpy(&value, bytes + at, sizeof value);
    return value;
}

float Within(double value, float minimum, float maximum)
{
    if (!(value >= minimum))
        return minimum;
    return static_cast<float>(std::min<double>(value, maximum));
}

ImpulseSettings SettingsNamedBy(const std::uint8_t* file, std::size_t size, std::size_t channels)
{
    ImpulseSettings settings;
    settings.channels = static_cast<std::uint32_t>(channels);
    if (size < kCacheHeaderSize)
        return settings;
    std::uint32_t rate = 0;
    std::memcpy(&rate, file + 20, sizeof rate);
    std::uint32_t sum = 0;
    std::memcpy(&sum, file + 64, sizeof sum);
    settings.sampleRate = std::clamp(static_cast<float>(rate), 8000.0f, 384000.0f);
    settings.decayTime = Within(ReadF64(file, 24), 20.0f, 6000.0f);
    settings.preDelayTime = Within(ReadF64(file, 32), 0.0f, 200.0f);
    settings.perception = Within(ReadF64(file, 40), 0.0f, 200.0f);
    settings.sumInputs = sum != 0;
    settings.diffusion = Within(ReadF64(file, 72), 10.0f, 4000.0f);
    return settings;
}

bool AllFinite(const float* values, std::size_t count)
{
    return std::all_of(values, values + count, [](float value) { return std::isfinite(value); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static EngineBuffers engine;
    if (size == 0)
        return 0;
    const std::size_t channels = 1 + bytes[0] % 4;
    const std::uint8_t* file = bytes + 1;
    const std::size_t fileSize = size - 1;
    const ImpulseSettings settings = SettingsNamedBy(file, fileSize, channels);
    const CacheHeader expected = MakeCacheHeader(settings, 100.0f, 35.0f);
    const std::string path = zoc::fuzz::WriteScratchFile("SndxReverb0.tmp", file, fileSize);
    const std::unique_ptr<zoc::core::files::File> opened =
        zoc::core::files::File::Open(path, zoc::core::files::File::Mode::Read);
    if (!opened || !ReadCacheFile(*opened, fileSize, expected, channels, engine))
        return 0;
    // Read whole: the sizes are those the settings give, and every value
    // is finite.
    const ImpulseSizes sizes = ComputeSizes(settings);
    if (engine.ImpulseLength() != static_cast<std::uint32_t>(sizes.impulseLength) ||
        engine.ImpulseChannelCount() != sizes.impulseChannels || engine.Channels() != channels ||
        engine.FFTSize() != FFTSizeFor(sizes.impulseLength) ||
        engine.ImpulseStorage().Size() != std::size_t{sizes.impulseChannels} * engine.ImpulseLength() ||
        !AllFinite(engine.ImpulseStorage().Data(), engine.ImpulseStorage().Size()))
        __builtin_trap();
    for (std::size_t c = 0; c < channels; ++c) {
        if (!AllFinite(engine.ImpulseRe(c), engine.FFTSize()) || !AllFinite(engine.ImpulseIm(c), engine.FFTSize()))
            __builtin_trap();
    }
    return 0;
}
