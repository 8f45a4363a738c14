// Registry of named kernel creators.

#include "framework/DSPKernelFactory.h"

#include <map>
#include <mutex>

namespace zoc::DSPKernelFactory {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, AnalyzerCreator> analyzers;
    std::map<std::string, ProcessorCreator> processors;
};

Registry& GetRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

void AddAnalyzerCreator(const std::string& name, AnalyzerCreator creator)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    registry.analyzers.erase(name);
    registry.analyzers.emplace(name, std::move(creator));
}

void AddProcessorCreator(const std::string& name, ProcessorCreator creator)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    registry.processors.erase(name);
    registry.processors.emplace(name, std::move(creator));
}

std::unique_ptr<dsp::DSPAnalyzer> CreateAnalyzer(const std::string& name, float sampleRate, int argument)
{
    AnalyzerCreator creator;
    {
        Registry& registry = GetRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.analyzers.find(name);
        if (found == registry.analyzers.end())
            return nullptr;
        creator = found->second;
    }
    return creator(sampleRate, argument);
}

std::unique_ptr<dsp::DSPProcess> CreateProcessor(const std::string& name, float sampleRate, int argument)
{
    ProcessorCreator creator;
    {
        Registry& registry = GetRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.processors.find(name);
        if (found == registry.processors.end())
            return nullptr;
        creator = found->second;
    }
    return creator(sampleRate, argument);
}

void RemoveCreator(const std::string& name)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    registry.analyzers.erase(name);
    registry.processors.erase(name);
}

bool HasAnalyzerCreator(const std::string& name)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.analyzers.count(name) != 0;
}

} // namespace zoc::DSPKernelFactory
