#pragma once
// The library's entry points: initialization, the background executor and
// the directory for temporary files.

#include <filesystem>
#include <functional>

namespace zoc {

/// Counted. The first call registers the console commands and the noise-print
/// analyzer and initializes the host framework; every call installs a fresh
/// background executor.
void Initialize();
/// Undoes one Initialize: drops the executor; the last call also releases the
/// shared noise-print analyzer.
void Terminate();
int GetInitializeCount();

/// Runs `task` on the library's background executor; does nothing before
/// Initialize or after the last Terminate. True when the task was posted.
bool PostBackgroundTask(std::function<void()> task);

/// The directory for temporary and cache files: a private per-user directory
/// (mode 0700) unless SetupTempDir chose another. Created on first use.
std::filesystem::path GetTempDir();
/// Chooses the directory for temporary files (made private when created).
void SetupTempDir(const std::filesystem::path& directory);

/// The preview quality set by the "SetTimeStretchPreviewQ" command (10, 11 or 12).
int GetTimeStretchPreviewQuality();

/// True while the shared noise-print analyzer exists (between the first
/// Initialize and the last Terminate).
bool HasNoisePrintAnalyzer();

} // namespace zoc
