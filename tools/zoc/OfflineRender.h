#pragma once
// Runs an offline component (a generator, or an effect that needs the whole
// selection) over a file or over silence: the component's worker produces
// into the ring writer while this thread drains it into the output file.

#include <cstdint>

#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Render.h"

namespace zoc::tool {

/// Makes `frames` frames the selection, runs the configured component over
/// them (reading `reader` when given, silence otherwise) and writes what it
/// produces. The component must be offline; its settings already applied.
/// IoError when the run cannot start or stops short, or the input fails.
RenderStats RenderOffline(host::Session& session, AudioReader* reader, std::int64_t frames, AudioWriter& writer,
                          const RenderOptions& options);

} // namespace zoc::tool
