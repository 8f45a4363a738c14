#pragma once
// zoc reads and writes audio files through the library's own file code
// (api/AudioFile.h), the same the public interface and the bindings use.

#include "api/AudioFile.h"

namespace zoc::tool {

using api::AtomicFile;
using api::AudioReader;
using api::AudioWriter;
using api::CheckOutputFormat;
using api::CheckReplaceable;
using api::ChooseOutputFormat;
using api::FitFormatToSize;
using api::IsStream;
using api::OutputFormat;
using api::RemoveTemporaryFilesOnSignals;
using api::TemporaryName;
using api::WriteFileAtomically;

} // namespace zoc::tool
