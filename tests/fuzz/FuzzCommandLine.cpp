// Fuzz target: the words of a `zoc apply` command line (one per input line)
// before a fixed input and output file: options, component, parameter and
// preset names, values with units, --at times and --keyframes lists. Every
// command either runs or ends with one error line and exit code 1 or 2.
//
// Words that name a path are dropped and the process works inside its
// scratch folder, which also holds its presets (--save-preset), so the
// fuzzer cannot write anywhere else.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <sndfile.h>

#include "framework/Library.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tools/zoc/Zoc.h"

namespace {

/// A short stereo WAV to apply to, written once.
void WriteInput()
{
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 8000;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open("in.wav", SFM_WRITE, &info);
    if (file == nullptr)
        std::abort();
    std::vector<float> frames(2 * 800, 0.25f);
    sf_writef_float(file, frames.data(), 800);
    sf_close(file);
}

const bool kReady = [] {
    // Held for the whole run, as one `zoc` process holds it for its own:
    // each Run then only counts a reference instead of setting it up anew.
    zoc::Initialize();
    if (chdir(zoc::fuzz::ScratchFolder().c_str()) != 0)
        std::abort();
    if (setenv("XDG_CONFIG_HOME", (zoc::fuzz::ScratchFolder() + "/config").c_str(), 1) != 0)
        std::abort();
    WriteInput();
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    (void)kReady;
    std::vector<std::string> words{"apply"};
    std::string word;
    for (std::size_t i = 0; i <= size && words.size() < 24; ++i) {
        if (i == size || bytes[i] == '\n') {
            // A long tail only makes one input slow.
            if (word.rfind("--tail", 0) == 0)
                return 0;
            if (word.find('/') == std::string::npos && word.find("..") == std::string::npos)
                words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(bytes[i]));
        }
    }
    words.push_back("--quiet");
    words.push_back("in.wav");
    words.push_back("out.wav");
    std::ostringstream out;
    std::ostringstream err;
    const int code = zoc::tool::Run(words, out, err);
    if (code != 0 && code != 1 && code != 2)
        std::abort();
    return 0;
}
