// Fuzz target: any bytes as an audio file for zoc's reader (every format
// libsndfile knows: headers, chunk sizes, rates, channel counts). A file is
// either read or refused with one error; nothing else may happen.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string path = zoc::fuzz::WriteScratchFile("input", bytes, size);
    try {
        zoc::tool::AudioReader reader(path);
        std::vector<std::vector<float>> planar;
        // A header may claim far more than the file holds; reading stops at
        // the real end, and a bound keeps one input from running for long.
        std::int64_t total = 0;
        while (total < (1 << 20)) {
            const std::int64_t read = reader.Read(planar, 4096);
            if (read <= 0)
                break;
            total += read;
        }
    } catch (const zoc::Error&) {
    }
    return 0;
}
