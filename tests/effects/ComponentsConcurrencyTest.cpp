// Components of different kinds processing on their own audio threads while
// a control thread applies presets, loads saved settings and reads
// parameters, as a host does (the reverbs rebuild their impulses on their
// own workers meanwhile); and
// the library's Initialize/Terminate pairs from several threads. Run under
// ThreadSanitizer in CI (suite name ends in "Threaded").

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "contracts/host/PresetData.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "tests/support/TestHost.h"

namespace zoc {
namespace {

core::Ref<host::AudioFilter> Create(const std::string& className)
{
    for (const ComponentInfo& info : GetComponentCatalog())
        if (info.className == className)
            return host::utility::CreateAudioFilter(info.componentID);
    return nullptr;
}

TEST(ComponentsThreaded, ProcessingWhileTheControlThreadChangesPresets)
{
    Initialize();
    // A low rate keeps the reverbs' impulse rebuilds short under the sanitizers.
    constexpr float kRate = 11025.0f;
    const std::vector<std::string> kinds = {"Echo",    "Dynamics", "ParametricEQ", "GraphicEQ10Bands",
                                            "Chorus", "Reverb",   "FullReverb"};
    std::vector<core::Ref<host::AudioFilter>> filters;
    std::vector<std::unique_ptr<test::TestHost>> hosts;
    for (const std::string& kind : kinds) {
        filters.push_back(Create(kind));
        ASSERT_TRUE(filters.back()) << kind;
        hosts.push_back(std::make_unique<test::TestHost>(filters.back()));
        hosts.back()->Configure(2, kRate);
        hosts.back()->Resume();
    }

    std::atomic<bool> done{false};
    std::vector<std::thread> audio;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        audio.emplace_back([&, i] {
            const test::Signal input = test::SineSignal(2, 256, kRate, 441.0f);
            test::Signal output = input;
            for (int block = 0; block < 400 || !done.load(); ++block) {
                hosts[i]->ProcessBlock(input, output, 0, 256);
                for (const std::vector<float>& channel : output)
                    for (float sample : channel)
                        ASSERT_TRUE(std::isfinite(sample)) << kinds[i];
            }
        });
    }
    std::thread control([&] {
        for (int round = 0; round < 30; ++round) {
            for (core::Ref<host::AudioFilter>& filter : filters) {
                host::PresetData saved;
                filter->SaveSettings(saved);
                filter->SetFactoryPreset(round % std::max(1, filter->GetNumFactoryPresets()));
                if (round % 3 == 0)
                    filter->LoadSettings(saved);
                for (int p = 0; p < filter->GetParameterCount(); ++p) {
                    (void)filter->GetParameter(p);
                    (void)filter->GetParameterString(p);
                }
                (void)filter->GetInitialDelay();
            }
        }
        done.store(true);
    });
    control.join();
    for (std::thread& thread : audio)
        thread.join();
    for (auto& host : hosts)
        host->Suspend();
    Terminate();
}

TEST(ComponentsThreaded, InitializeAndTerminateFromSeveralThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                Initialize();
                core::Ref<host::AudioFilter> filter = Create("Amplify");
                EXPECT_TRUE(filter);
                Terminate();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace
} // namespace zoc
