// zoc apply with '-': audio through real pipes between two zoc processes, and
// the paths under /dev that must not become regular files.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

TEST(PipeTest, StandardOutputFeedsStandardInputInEveryStreamableFormat)
{
    struct Case {
        const char* type;
        const char* bits;
        double tolerance; // of the encoding between the two processes
    };
    const Case cases[] = {{"wav", "32f", 1e-6}, {"wav", "16", 1.0 / 16384}, {"flac", "24", 1e-6}};
    ScratchDirectory dir;
    const std::string in = dir / "in.wav";
    const Frames input = DistinctSines(2, 30000, kRate, 0.2f);
    WriteAudio(in, input, kRate);
    const double gain = std::pow(10.0, 5.99995 / 20.0); // the preset's stored gain
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.bits);
        const std::string out = dir / (std::string("out-") + c.type + c.bits + ".wav");
        // The first zoc writes into a pipe and the second reads one, so
        // neither can seek: the length is known only when the stream ends.
        const std::string command = "cat " + Quoted(in) + " | " + Quoted(ZOC_BINARY) +
                                    " apply amplify --preset '+6dB Boost' --type " + c.type + " --bits " + c.bits +
                                    " - - | " + Quoted(ZOC_BINARY) + " apply amplify - " + Quoted(out);
        ASSERT_EQ(std::system(command.c_str()), 0);
        const AudioData output = ReadAudio(out);
        ASSERT_EQ(output.Length(), input[0].size());
        ASSERT_EQ(output.samples.size(), 2u);
        for (std::size_t channel = 0; channel < 2; ++channel)
            for (std::size_t frame = 0; frame < input[0].size(); frame += 7)
                ASSERT_NEAR(output.samples[channel][frame], input[channel][frame] * gain, c.tolerance)
                    << "channel " << channel << " frame " << frame;
    }
}

} // namespace
} // namespace zoc::test
