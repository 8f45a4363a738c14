// Library initialization, the background executor and the temporary directory.

#include "framework/Library.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>

#include "contracts/host/AudioFilterRegistrar.h"
#include "dsp/NoisePrintAnalyzer.h"
#include "effects/dynamics/IntraClipComponent.h"
#include "framework/DSPKernelFactory.h"
#include "platform/core/CommandRegistry.h"
#include "platform/core/Files.h"
#include "platform/core/String.h"
#include "platform/core/Threads.h"

namespace zoc {
namespace {

constexpr const char* kNoisePrintAnalyzerName = "NoNoise.CaptureNoisePrint";
constexpr int kDefaultPreviewQuality = 10;

struct LibraryState {
    std::mutex mutex; // guards the executor, the analyzer and the directory
    int initializeCount = 0;
    core::Ref<core::threads::Executor> executor;
    std::unique_ptr<dsp::NoisePrintAnalyzer> noisePrintAnalyzer;
    std::filesystem::path tempDir;
    bool tempDirReady = false;
};

LibraryState& State()
{
    static LibraryState state;
    return state;
}

std::atomic<int> previewQuality{kDefaultPreviewQuality};

/// "SetTimeStretchPreviewQ Q": the preview quality of time stretching.
class SetTimeStretchPreviewQCommand : public core::console::Command {
public:
    bool Execute(std::string_view arguments, std::ostream& output) override
    {
        const std::optional<double> value = core::StringToNumber(core::FromUtf8(arguments));
        if (!value || (*value != 10.0 && *value != 11.0 && *value != 12.0)) {
            output << "SetTimeStretchPreviewQ: expected 10, 11 or 12, got '" << arguments << "'\n";
            return false;
        }
        previewQuality = static_cast<int>(*value);
        output << "Time stretch preview Q set to " << previewQuality << "\n";
        return true;
    }
};

void RegisterConsoleCommands()
{
    core::console::CommandRegistry::Instance().RegisterCommand(
        "SetTimeStretchPreviewQ", "SetTimeStretchPreviewQ - Sets time stretch preview Q - 10, 11, or 12",
        [] { return std::make_unique<SetTimeStretchPreviewQCommand>(); });
    components::RegisterIntraClipConsoleCommands();
}

} // namespace

void Initialize()
{
    // The executor it replaces is dropped outside the lock: it finishes its
    // queued tasks first, and they may post more work.
    core::Ref<core::threads::Executor> replaced;
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.initializeCount == 0) {
        state.noisePrintAnalyzer = std::make_unique<dsp::NoisePrintAnalyzer>(44100.0f);
        DSPKernelFactory::AddAnalyzerCreator(kNoisePrintAnalyzerName, [](float sampleRate, int frameSize) {
            return std::make_unique<dsp::NoisePrintAnalyzer>(
                sampleRate, frameSize > 0 ? frameSize : dsp::NoisePrintAnalyzer::kDefaultFrameSize);
        });
        RegisterConsoleCommands();
        host::Initialize();
    }
    ++state.initializeCount;
    replaced = std::exchange(state.executor, core::threads::CreateCPUBoundExecutor());
}

void Terminate()
{
    core::Ref<core::threads::Executor> released;
    {
        LibraryState& state = State();
        std::lock_guard lock(state.mutex);
        if (state.initializeCount > 0 && --state.initializeCount == 0)
            state.noisePrintAnalyzer.reset();
        released = std::move(state.executor);
    }
    // Dropped outside the lock: the executor finishes its queued tasks first,
    // and they may post more work.
    released.reset();
}

int GetInitializeCount()
{
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    return state.initializeCount;
}

bool PostBackgroundTask(std::function<void()> task)
{
    core::Ref<core::threads::Executor> executor;
    {
        LibraryState& state = State();
        std::lock_guard lock(state.mutex);
        executor = state.executor;
    }
    if (!executor)
        return false;
    executor->Post(std::move(task));
    return true;
}

std::filesystem::path GetTempDir()
{
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.tempDir.empty())
        state.tempDir = core::files::DefaultPrivateDirectory();
    if (!state.tempDirReady)
        state.tempDirReady = core::files::EnsurePrivateDirectory(state.tempDir).empty();
    return state.tempDir;
}

void SetupTempDir(const std::filesystem::path& directory)
{
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    state.tempDir = directory;
    state.tempDirReady = false;
}

int GetTimeStretchPreviewQuality() { return previewQuality; }

bool HasNoisePrintAnalyzer()
{
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    return state.noisePrintAnalyzer != nullptr;
}

} // namespace zoc
