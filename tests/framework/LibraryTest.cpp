// Library entry points, the kernel factory and the component registry.

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/DSPKernelFactory.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/core/CommandRegistry.h"
#include "platform/core/Gate.h"
#include "tests/support/ScratchDirectory.h"

namespace zoc {
namespace {

using core::console::CommandRegistry;

TEST(LibraryThreaded, InitializeIsCounted)
{
    Initialize();
    Initialize();
    EXPECT_TRUE(CommandRegistry::Instance().HasCommand("SetTimeStretchPreviewQ"));
    EXPECT_TRUE(DSPKernelFactory::HasAnalyzerCreator("NoNoise.CaptureNoisePrint"));
    EXPECT_TRUE(host::IsInitialized());

    core::Gate ran;
    PostBackgroundTask([&] { ran.Open(); });
    EXPECT_TRUE(ran.Wait(std::chrono::milliseconds(5000)));

    Terminate();
    EXPECT_TRUE(HasNoisePrintAnalyzer());
    EXPECT_TRUE(CommandRegistry::Instance().HasCommand("SetTimeStretchPreviewQ"));

    // Every Terminate drops the executor; the next Initialize brings a new one.
    Terminate();
    EXPECT_FALSE(HasNoisePrintAnalyzer());
    EXPECT_EQ(GetInitializeCount(), 0);

    std::atomic<bool> ranAfter{false};
    PostBackgroundTask([&] { ranAfter = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ranAfter);

    Initialize();
    core::Gate ranAgain;
    PostBackgroundTask([&] { ranAgain.Open(); });
    EXPECT_TRUE(ranAgain.Wait(std::chrono::milliseconds(5000)));
    Terminate();
}

TEST(Library, PreviewQualityCommand)
{
    Initialize();
    std::ostringstream output;
    EXPECT_TRUE(CommandRegistry::Instance().Execute("SetTimeStretchPreviewQ 12", output));
    EXPECT_EQ(GetTimeStretchPreviewQuality(), 12);
    for (const char* bad : {"SetTimeStretchPreviewQ 13", "SetTimeStretchPreviewQ", "SetTimeStretchPreviewQ x"}) {
        std::ostringstream error;
        EXPECT_FALSE(CommandRegistry::Instance().Execute(bad, error)) << bad;
        EXPECT_NE(error.str().find("10, 11 or 12"), std::string::npos) << bad;
    }
    EXPECT_EQ(GetTimeStretchPreviewQuality(), 12);
    Terminate();
}

TEST(Library, TempDirIsPrivate)
{
    const test::ScratchDirectory scratch;
    const std::filesystem::path directory = scratch.Path() / "private";
    SetupTempDir(directory);
    EXPECT_EQ(GetTempDir(), directory);
    struct stat info {};
    ASSERT_EQ(stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

struct CountingAnalyzer : dsp::DSPAnalyzer {
    explicit CountingAnalyzer(int tag) : tag(tag) {}
    void Analyze(const float*, int) override {}
    void Reset() override {}
    int tag;
};

TEST(DSPKernelFactory, ReplacesCreatesAndRemoves)
{
    EXPECT_EQ(DSPKernelFactory::CreateAnalyzer("Test.Analyzer", 48000.0f, 0), nullptr);
    DSPKernelFactory::AddAnalyzerCreator("Test.Analyzer",
                                         [](float, int n) { return std::make_unique<CountingAnalyzer>(n); });
    DSPKernelFactory::AddAnalyzerCreator("Test.Analyzer",
                                         [](float, int n) { return std::make_unique<CountingAnalyzer>(n + 100); });
    auto analyzer = DSPKernelFactory::CreateAnalyzer("Test.Analyzer", 48000.0f, 5);
    ASSERT_NE(analyzer, nullptr);
    EXPECT_EQ(static_cast<CountingAnalyzer&>(*analyzer).tag, 105);
    DSPKernelFactory::RemoveCreator("Test.Analyzer");
    EXPECT_EQ(DSPKernelFactory::CreateAnalyzer("Test.Analyzer", 48000.0f, 5), nullptr);
}

TEST(Registration, EveryCatalogEntryCreatesIndependentComponents)
{
    const auto catalog = GetComponentCatalog();
    ASSERT_FALSE(catalog.empty());
    for (const ComponentInfo& info : catalog) {
        auto first = host::utility::CreateAudioFilter(info.componentID);
        auto second = host::utility::CreateAudioFilter(info.componentID);
        ASSERT_TRUE(first && second) << info.className;
        EXPECT_NE(first.get(), second.get());
        EXPECT_EQ(first->GetComponentID(), info.componentID);
        EXPECT_EQ(second->GetComponentID(), info.componentID);
        auto descriptor = first->CreateFilterDescriptor({}, false);
        ASSERT_TRUE(descriptor);
        EXPECT_EQ(descriptor->GetGuid(), info.descriptorGuid);
        EXPECT_EQ(descriptor->GetVersion(), 1ul);
    }
    EXPECT_EQ(host::utility::CreateAudioFilter("{00000000-0000-0000-0000-000000000000}"), nullptr);
}

} // namespace
} // namespace zoc
