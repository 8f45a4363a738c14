#pragma once
// Envelopes drawn relative to the selection: a list of (relative position,
// amplification) pairs that stretches with the selection. Components that
// keep such an envelope implement this, so tools can edit it without knowing
// the component's class.

#include <vector>

namespace zoc {

struct LogicalKeyframe {
    /// 0 = selection start, 1 = selection end.
    float position = 0.0f;
    /// Linear gain.
    float amplification = 1.0f;
};

class LogicalKeyframeEditor {
public:
    virtual ~LogicalKeyframeEditor() = default;
    /// Replaces the envelope and rebuilds its keyframes for the current
    /// selection. Entries with a non-finite field are dropped. Control thread.
    virtual void SetLogicalKeyframes(const std::vector<LogicalKeyframe>& keyframes) = 0;
    /// The envelope as the editor shows it.
    virtual void GetLogicalKeyframes(std::vector<LogicalKeyframe>& keyframes) = 0;
};

} // namespace zoc
