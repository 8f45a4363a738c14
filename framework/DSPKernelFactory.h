#pragma once
// A process-wide registry of named analyzer and processor creators, through
// which other parts of the application create kernels by name.

#include <functional>
#include <memory>
#include <string>

#include "contracts/dsp/Kernel.h"

namespace zoc::DSPKernelFactory {

/// Creators take (sample rate, an argument whose meaning the creator sets).
using AnalyzerCreator = std::function<std::unique_ptr<dsp::DSPAnalyzer>(float sampleRate, int argument)>;
using ProcessorCreator = std::function<std::unique_ptr<dsp::DSPProcess>(float sampleRate, int argument)>;

/// Replaces any creator registered under `name`.
void AddAnalyzerCreator(const std::string& name, AnalyzerCreator creator);
void AddProcessorCreator(const std::string& name, ProcessorCreator creator);
/// Null when no creator has that name.
std::unique_ptr<dsp::DSPAnalyzer> CreateAnalyzer(const std::string& name, float sampleRate, int argument);
std::unique_ptr<dsp::DSPProcess> CreateProcessor(const std::string& name, float sampleRate, int argument);
/// Removes the name from both registries.
void RemoveCreator(const std::string& name);
bool HasAnalyzerCreator(const std::string& name);

} // namespace zoc::DSPKernelFactory
