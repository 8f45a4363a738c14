#pragma once
// KeyframeContainer: one drawn envelope. An ordered set of keyframes (a value
// at a sample position) over a sample range, a default value for when there
// are none, and optional spline smoothing through the keyframes.
//
// Envelope components own one and read it per block; the envelope editor
// edits it and listens to its two signals. Always create it with
// core::MakeRef: the signals hand out references to the container.
//
// Threads: every operation takes the container's recursive lock, so the
// audio thread's block reads are atomic against edits from the control
// thread. Keyframes-changed notifications run on the event loop of the thread
// that made the change; slots must not wait for another thread that waits for
// the container.

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <set>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "platform/core/RefCounted.h"
#include "platform/core/String.h"

namespace zoc {

namespace dsp {
class CBezier;
}

/// One keyframe: a value at a sample position.
template <class T>
struct KeyframeBase {
    T value{};
    std::int64_t position = 0;
    /// GetValue holds this value up to the next keyframe instead of ramping.
    bool hold = false;
    /// Carried for the owner; the container never reads it.
    bool flag = false;
};

/// Orders keyframes by position only: one keyframe per position. Also
/// compares against bare positions, so a set can be searched by position.
struct LessThanKeyframe {
    using is_transparent = void;
    template <class T>
    bool operator()(const KeyframeBase<T>& a, const KeyframeBase<T>& b) const
    {
        return a.position < b.position;
    }
    template <class T>
    bool operator()(const KeyframeBase<T>& a, std::int64_t b) const
    {
        return a.position < b;
    }
    template <class T>
    bool operator()(std::int64_t a, const KeyframeBase<T>& b) const
    {
        return a < b.position;
    }
};

class KeyframeContainer : public core::RefCountedObject {
public:
    using Keyframe = KeyframeBase<float>;
    /// A container keeps its own set's nodes in a pool, so edits that stay
    /// within kReservedKeyframes (a preset, an automated setting) allocate
    /// nothing; other sets use the default heap.
    using KeyframeSet = std::pmr::set<Keyframe, LessThanKeyframe>;
    static constexpr std::size_t kReservedKeyframes = 64;
    using const_iterator = KeyframeSet::const_iterator;
    using const_reverse_iterator = KeyframeSet::const_reverse_iterator;
    using KeyframesChangedSignal = boost::signals2::signal<void(core::Ref<KeyframeContainer>, bool)>;
    using DefaultValueChangedSignal = boost::signals2::signal<void(core::Ref<KeyframeContainer>)>;

    KeyframeContainer();
    /// Copies keyframes, name, type, splines and read-only flags, default
    /// value and sample range; signals and their slots stay with each object.
    KeyframeContainer(const KeyframeContainer& other);
    KeyframeContainer& operator=(const KeyframeContainer& other);
    ~KeyframeContainer() override;

    /// Empties the set, drops the spline cache and marks the envelope changed.
    virtual void Dispose();
    /// False when a pointer is null or there are no keyframes.
    virtual bool GetFirstKeyframe(std::int64_t* position, float* value) const;
    virtual bool GetLastKeyframe(std::int64_t* position, float* value) const;
    /// The last keyframe at or before `position`.
    virtual bool GetPrevKeyframe(std::int64_t position, Keyframe& keyframe) const;
    /// The first keyframe at or after `position`.
    virtual bool GetNextKeyframe(std::int64_t position, Keyframe& keyframe) const;
    /// Removes the keyframe at `keyframe`'s position; true when one was there.
    virtual bool RemoveKeyframe(const Keyframe& keyframe);
    virtual bool RemoveKeyframeAt(std::int64_t position);
    /// Removes every keyframe in from..to (inclusive); with `close`, the
    /// keyframes after `to` move earlier by to - from, closing the gap.
    virtual void RemoveKeyframes(std::int64_t from, std::int64_t to, bool close);
    /// Replaces value and flags of the keyframe at `position`, or inserts one.
    virtual void InsertKeyframe(std::int64_t position, float value, bool hold, bool flag);
    virtual void InsertKeyframe(const Keyframe& keyframe);
    /// Inserts the envelope's current value at `position`.
    virtual void InsertKeyframeAt(std::int64_t position, bool hold, bool flag);
    virtual bool HasKeyframeAt(std::int64_t position) const;
    /// Removes all keyframes and makes `value` the default (nothing when that
    /// is already the state).
    virtual void Flatten(float value);
    /// Raises every nonzero value by `decibels`, at most to 1.
    virtual void BoostKeyframes(float decibels);
    /// Adds `delta` to the values of the keyframes in from..to, kept in 0..1.
    virtual void OffsetKeyframes(float delta, std::int64_t from, std::int64_t to);
    /// Clears `keyframes`, then copies in those in from..to.
    virtual void GetTrimmedKeyframes(std::int64_t from, std::int64_t to, KeyframeSet& keyframes) const;
    /// Moves every keyframe by `delta` samples and signals. The first
    /// argument is not used.
    virtual void ShiftKeyframes(std::int64_t unused, std::int64_t delta);
    /// Inserts each keyframe at position + offset, its value mapped from 0..1
    /// onto low..high, flags cleared.
    virtual void MergeKeyframes(const KeyframeSet& keyframes, std::int64_t offset, float low, float high);
    /// A hook for derived envelopes; does nothing here.
    virtual void CleanupKeyframes(std::int64_t from, std::int64_t to);
    /// The envelope at one position (hold keyframes step).
    virtual float GetValue(std::int64_t position);
    /// The envelope at start .. start + count - 1 into `out`; always ramps
    /// linearly between keyframes. False for count < 1 or a null `out`.
    /// Audio thread; allocates nothing unless the spline cache is stale.
    virtual bool GetValues(std::int64_t start, int count, float* out);
    /// Linear interpolation between two keyframes at `position`.
    virtual float InterpolateValue(const Keyframe& left, const Keyframe& right, std::int64_t position) const;

    std::size_t GetCount() const;
    bool IsEmpty() const;
    /// Iterators over the set; valid only while no other thread edits.
    const_iterator Begin() const { return keyframes_.begin(); }
    const_iterator End() const { return keyframes_.end(); }
    const_reverse_iterator RBegin() const { return keyframes_.rbegin(); }
    const_reverse_iterator REnd() const { return keyframes_.rend(); }
    void GetKeyframes(KeyframeSet& keyframes) const;
    /// Adds the keyframes in from..to to `keyframes` without clearing it.
    void GetKeyframes(KeyframeSet& keyframes, std::int64_t from, std::int64_t to) const;
    bool GetKeyframe(std::int64_t position, Keyframe& keyframe) const;
    /// The keyframe with exactly this position and value, or End().
    const_iterator GetKeyframe(std::int64_t position, float value) const;
    /// Same count and the same position, value and hold flag one by one.
    bool HasSameKeyframes(const KeyframeContainer& other) const;

    /// Replaces all keyframes, then signals keyframes-changed with `flag`.
    void SetKeyframes(const KeyframeSet& keyframes, bool flag);
    /// Empties the set without marking the envelope changed.
    void Clear();

    const core::UString& GetName() const { return name_; }
    void SetName(core::UString name) { name_ = std::move(name); }
    std::uint32_t GetType() const { return type_; }
    void SetType(std::uint32_t type) { type_ = type; }
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    std::int64_t GetSampleLeft() const;
    std::int64_t GetSampleWidth() const;
    float GetDefaultValue() const;
    /// Stores a new default and, if it changed, signals at once in the
    /// calling thread.
    void SetDefaultValue(float value);
    /// The range the envelope spans; splines reach its ends.
    void SetSampleRange(std::int64_t left, std::int64_t width);
    bool AreSplinesEnabled() const;
    void EnableSplines(bool on);
    /// Marks the spline cache stale.
    void SetModified();
    /// True when splines are on and the keyframes make a spline. Rebuilds a
    /// stale spline cache (call it on the control thread after edits so the
    /// audio thread finds the cache ready).
    bool CanShowSplines();
    /// The spline cache after a rebuild; null when splines are off or the
    /// keyframes make none. Valid until the next edit.
    const dsp::CBezier* GetBezier();

    KeyframesChangedSignal& GetKeyframesChangedSignal() { return keyframesChanged_; }
    DefaultValueChangedSignal& GetDefaultValueChangedSignal() { return defaultValueChanged_; }

private:
    /// Rebuilds the spline cache when splines are on and it is stale.
    void AdjustForBezier();
    /// Emits keyframes-changed on the calling thread's event loop.
    void SendKeyframesChangedSignal(bool flag);
    core::Ref<KeyframeContainer> Self();
    /// Rewrites the values of the keyframes in from..to in place.
    template <class Edit>
    void EditValues(std::int64_t from, std::int64_t to, Edit edit);

    /// Fills the node pool and the spare spline up to kReservedKeyframes.
    void Reserve();
    /// Puts the spline cache aside for reuse (splines off or no spline).
    void DropBezier();

    mutable std::recursive_mutex mutex_;
    std::pmr::unsynchronized_pool_resource nodes_; // guarded by mutex_, like the set
    KeyframeSet keyframes_{&nodes_};
    core::UString name_;
    std::uint32_t type_ = 0;
    bool splines_ = false;
    bool modified_ = false;
    bool readOnly_ = false;
    float defaultValue_ = 1.0f;
    KeyframesChangedSignal keyframesChanged_;
    DefaultValueChangedSignal defaultValueChanged_;
    std::int64_t sampleLeft_ = 0;
    std::int64_t sampleWidth_ = 0;
    std::unique_ptr<dsp::CBezier> bezier_;
    std::unique_ptr<dsp::CBezier> spareBezier_; // a reserved cache, taken when splines come back
    std::vector<double> splinePoints_; // scratch for the rebuild, kept to avoid reallocating
};

} // namespace zoc
