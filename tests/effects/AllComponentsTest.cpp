// Properties every registered real-time component must have, whatever it
// does: bad samples, bad parameter values, bad settings, odd layouts and
// absurd rates never break it, and the audio thread does not allocate. The
// catalog is walked, so a component added later is covered without a change
// here.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "contracts/host/PresetData.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/core/String.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/TestHost.h"

namespace zoc {
namespace {

using test::Signal;

constexpr float kRate = 48000.0f;
/// Longer than the memory any component has beside its latency and tail
/// (the longest line or filter), so whatever entered before must have left
/// by then.
constexpr std::size_t kMemoryFrames = 2 * 48000;

std::vector<ComponentInfo> RealTimeComponents()
{
    Initialize();
    return GetRealTimeComponentCatalog();
}

/// Index of the first non-finite sample at or after `from`, or the length.
std::size_t FirstNonFinite(const Signal& signal, std::size_t from)
{
    std::size_t first = signal.empty() ? 0 : signal[0].size();
    for (const std::vector<float>& channel : signal)
        for (std::size_t i = from; i < channel.size() && i < first; ++i)
            if (!std::isfinite(channel[i]))
                first = i;
    return first;
}

std::string PresetLabel(host::AudioFilter& filter, int preset)
{
    return filter.GetNumFactoryPresets() == 0 ? std::to_string(preset)
                                              : core::ToUtf8(filter.GetFactoryPresetName(preset));
}

// A few NaN and infinite samples, and later a stretch near the largest
// float, must not outlive the component's memory (its latency, its tail,
// its processing block and any line or filter), with any factory preset.
TEST(AllComponents, NonFiniteAndHugeInputDoNotOutliveTheComponentsMemory)
{
    constexpr std::size_t kHugeFrames = 4800;
    const float huge = std::numeric_limits<float>::max() * 0.9f;
    for (const ComponentInfo& info : RealTimeComponents()) {
        test::TestHost host = test::TestHost::ForComponent(info.componentID);
        host.Configure(2, kRate);
        const int presets = std::max(1, host.Filter().GetNumFactoryPresets());
        for (int preset = 0; preset < presets; ++preset) {
            if (host.Filter().GetNumFactoryPresets() > 0)
                host.Filter().SetFactoryPreset(preset);
            host.Resume();
            // Block convolvers hold up to a block (half their latency) more
            // than latency and tail.
            const std::size_t memory = kMemoryFrames + 2 * static_cast<std::size_t>(host.Filter().GetInitialDelay()) +
                                       static_cast<std::size_t>(host.Filter().GetTail() * kRate);
            // Long-memory components (the reverbs) render several seconds per
            // preset: four presets of theirs cover the block engine's paths.
            if (preset >= 4 && memory > static_cast<std::size_t>(kRate)) {
                host.Suspend();
                break;
            }
            const std::size_t hugeFrom = 2 * memory;
            Signal input = test::SineSignal(2, 4 * memory, kRate, 441.0f, 0.25f);
            // The bad samples come a second in, past any start-up muting.
            const std::size_t badFrom = static_cast<std::size_t>(kRate);
            for (std::vector<float>& channel : input) {
                channel[badFrom] = std::numeric_limits<float>::quiet_NaN();
                channel[badFrom + 500] = std::numeric_limits<float>::infinity();
                channel[badFrom + 1000] = -std::numeric_limits<float>::infinity();
                for (std::size_t i = hugeFrom; i < hugeFrom + kHugeFrames; ++i)
                    channel[i] = (i / 24) % 2 == 0 ? huge : -huge;
            }
            const Signal output = host.Run(input, 512);
            // (first frame that must be finite, end of that stretch)
            const std::pair<std::size_t, std::size_t> clean[] = {
                {badFrom + 1000 + memory, hugeFrom}, {hugeFrom + kHugeFrames + memory, input[0].size()}};
            for (const auto& [from, to] : clean) {
                EXPECT_GE(FirstNonFinite(output, from), to)
                    << info.className << ", preset " << PresetLabel(host.Filter(), preset);
            }
        }
    }
}

/// Every parameter reads back as a number.
void ExpectParametersFinite(host::AudioFilter& filter, const std::string& what)
{
    for (int p = 0; p < filter.GetParameterCount(); ++p)
        EXPECT_TRUE(std::isfinite(filter.GetParameter(p))) << what << ": parameter " << p;
}

// Hosts and saved files send anything: NaN, infinities and values outside
// 0..1 for every parameter and beyond the last index, preset numbers that do
// not exist, and settings with too few or too many values. Each is refused
// or clamped; what is stored stays a number and the output stays finite.
TEST(AllComponents, BadParameterValuesPresetsAndSettingsAreRefusedOrClamped)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Signal input = test::SineSignal(2, 8192, kRate, 441.0f, 0.25f);
    for (const ComponentInfo& info : RealTimeComponents()) {
        test::TestHost host = test::TestHost::ForComponent(info.componentID);
        host::AudioFilter& filter = host.Filter();
        host.Configure(2, kRate);
        const int count = filter.GetParameterCount();
        for (float bad : {nan, -5.0f, 7.0f, inf, -inf, 1e30f}) {
            for (int index = -1; index <= count; ++index) {
                filter.SetParameter(index, bad);
                filter.SetParameterAutomated(index, bad);
            }
            ExpectParametersFinite(filter, info.className);
        }
        const int presets = filter.GetNumFactoryPresets();
        for (int preset : {-1, presets, presets + 1, 1 << 30})
            filter.SetFactoryPreset(preset);
        EXPECT_TRUE(filter.GetFactoryPresetName(presets).empty()) << info.className;

        host::PresetData saved;
        filter.SaveSettings(saved);
        const std::vector<float> values = saved.GetParamList();
        for (std::size_t length : {std::size_t{0}, values.size() / 2, values.size() + 1, values.size() + 100}) {
            host::PresetData wrong = saved;
            std::vector<float> list(length, nan);
            std::copy_n(values.begin(), std::min(length, values.size()), list.begin());
            wrong.SetParamList(list);
            (void)filter.LoadSettings(wrong);
            ExpectParametersFinite(filter, info.className + " after " + std::to_string(length) + " values");
        }
        const Signal output = host.Run(input, 512);
        EXPECT_EQ(FirstNonFinite(output, 0), output[0].size()) << info.className;
    }
}

// The audio thread allocates nothing in steady blocks, nor when the host
// automates any parameter or reads them all, nor when a factory preset is
// chosen, nor in the first block after such a change.
TEST(AllComponents, SteadyBlocksAutomationAndPresetsDoNotAllocate)
{
    const Signal input = test::SineSignal(2, 512, kRate, 440.0f);
    Signal output = input;
    for (const ComponentInfo& info : RealTimeComponents()) {
        SCOPED_TRACE(info.className);
        test::TestHost host = test::TestHost::ForComponent(info.componentID);
        host::AudioFilter& filter = host.Filter();
        host.Configure(2, kRate);
        host.Resume();
        const auto block = [&] { host.ProcessBlock(input, output, 0, 512); };
        const auto changeThenBlocks = [&](const std::function<void()>& change) {
            test::AllocationGuard guard;
            change();
            block();
            block();
        };
        block();
        changeThenBlocks([&] {
            for (int p = 0; p < filter.GetParameterCount(); ++p)
                (void)filter.GetParameter(p);
        });
        for (int p = 0; p < filter.GetParameterCount(); ++p) {
            const core::Ref<host::AudioFilterParameterInfo> parameter = filter.GetParameterInfo(p);
            if (parameter && parameter->CanBeAutomated())
                for (float value : {0.9f, 0.3f})
                    changeThenBlocks([&] { filter.SetParameterAutomated(p, value); });
        }
        for (int preset = 0; preset < filter.GetNumFactoryPresets(); ++preset) {
            SCOPED_TRACE(preset);
            changeThenBlocks([&] { filter.SetFactoryPreset(preset); });
        }
        host.Suspend();
    }
}

// Whatever rate a host passes, a component neither crashes nor sizes its
// buffers from an absurd value, reports a sane latency and tail, puts out
// numbers, and works again at a sane rate. A layout it refuses leaves it
// running on one it accepts.
TEST(AllComponents, AbsurdSampleRatesAndRefusedLayoutsAreSurvived)
{
    const float rates[] = {1.0e9f, 2147483647.0f, 1.0e30f, std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(), 0.0f, -48000.0f, 0.5f, 1.0f};
    const Signal input = test::SineSignal(2, 4096, kRate, 441.0f, 0.25f);
    for (const ComponentInfo& info : RealTimeComponents()) {
        test::TestHost host = test::TestHost::ForComponent(info.componentID);
        for (float rate : rates) {
            host.Configure(2, rate);
            EXPECT_LE(host.Filter().GetSampleRate(), 768000.0f) << info.className << " at " << rate;
            EXPECT_GE(host.Filter().GetInitialDelay(), 0) << info.className << " at " << rate;
            EXPECT_TRUE(std::isfinite(host.Filter().GetTail())) << info.className << " at " << rate;
            const Signal output = host.Run(input, 512);
            ASSERT_EQ(output.size(), 2u);
            EXPECT_EQ(FirstNonFinite(output, 0), input[0].size()) << info.className << " at " << rate;
        }
        for (std::size_t channels : {0u, 3u, 7u, 9u, 40u}) {
            host.Configure(channels, kRate, false);
            const Signal output = host.Run(test::SineSignal(channels, 2048, kRate, 441.0f, 0.25f), 512);
            EXPECT_EQ(FirstNonFinite(output, 0), channels == 0 ? 0u : output[0].size())
                << info.className << ", " << channels << " channels";
        }
        host.Configure(2, kRate);
        const Signal output = host.Run(test::SineSignal(2, kMemoryFrames, kRate, 441.0f, 0.25f), 512);
        EXPECT_EQ(FirstNonFinite(output, 0), output[0].size()) << info.className;
    }
}

} // namespace
} // namespace zoc
