// KeyframeContainer: keyframe set, interpolation and spline smoothing.

#include "framework/KeyframeContainer.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "dsp/CBezier.h"
#include "platform/core/Threads.h"

namespace zoc {

using Lock = std::lock_guard<std::recursive_mutex>;

KeyframeContainer::KeyframeContainer() { Reserve(); }

KeyframeContainer::KeyframeContainer(const KeyframeContainer& other) : core::RefCountedObject()
{
    Reserve();
    Lock lock(other.mutex_);
    keyframes_ = other.keyframes_;
    name_ = other.name_;
    type_ = other.type_;
    splines_ = other.splines_;
    readOnly_ = other.readOnly_;
    defaultValue_ = other.defaultValue_;
    sampleLeft_ = other.sampleLeft_;
    sampleWidth_ = other.sampleWidth_;
}

KeyframeContainer& KeyframeContainer::operator=(const KeyframeContainer& other)
{
    if (this == &other)
        return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    keyframes_ = other.keyframes_;
    name_ = other.name_;
    type_ = other.type_;
    splines_ = other.splines_;
    readOnly_ = other.readOnly_;
    defaultValue_ = other.defaultValue_;
    sampleLeft_ = other.sampleLeft_;
    sampleWidth_ = other.sampleWidth_;
    DropBezier();
    modified_ = true;
    return *this;
}

KeyframeContainer::~KeyframeContainer() = default;

void KeyframeContainer::Reserve()
{
    // The pool keeps the nodes of a cleared set for the next inserts.
    for (std::size_t i = 0; i < kReservedKeyframes; ++i)
        keyframes_.insert(Keyframe{0.0f, static_cast<std::int64_t>(i)});
    keyframes_.clear();
    // The spline runs through the keyframes and the two ends of the range.
    splinePoints_.reserve(2 * (kReservedKeyframes + 2));
    spareBezier_ = std::make_unique<dsp::CBezier>();
    spareBezier_->Reserve(static_cast<int>(kReservedKeyframes + 2));
}

void KeyframeContainer::DropBezier()
{
    if (bezier_)
        spareBezier_ = std::move(bezier_);
}

// ---------------------------------------------------------------------------
// Reading

std::size_t KeyframeContainer::GetCount() const
{
    Lock lock(mutex_);
    return keyframes_.size();
}

bool KeyframeContainer::IsEmpty() const
{
    Lock lock(mutex_);
    return keyframes_.empty();
}

void KeyframeContainer::GetKeyframes(KeyframeSet& keyframes) const
{
    Lock lock(mutex_);
    keyframes = keyframes_;
}

void KeyframeContainer::GetKeyframes(KeyframeSet& keyframes, std::int64_t from, std::int64_t to) const
{
    Lock lock(mutex_);
    for (auto it = keyframes_.lower_bound(from); it != keyframes_.end() && it->position <= to; ++it)
        keyframes.insert(*it);
}

void KeyframeContainer::GetTrimmedKeyframes(std::int64_t from, std::int64_t to, KeyframeSet& keyframes) const
{
    Lock lock(mutex_);
    keyframes.clear();
    GetKeyframes(keyframes, from, to);
}

bool KeyframeContainer::GetFirstKeyframe(std::int64_t* position, float* value) const
{
    Lock lock(mutex_);
    if (position == nullptr || value == nullptr || keyframes_.empty())
        return false;
    *position = keyframes_.begin()->position;
    *value = keyframes_.begin()->value;
    return true;
}

bool KeyframeContainer::GetLastKeyframe(std::int64_t* position, float* value) const
{
    Lock lock(mutex_);
    if (position == nullptr || value == nullptr || keyframes_.empty())
        return false;
    *position = keyframes_.rbegin()->position;
    *value = keyframes_.rbegin()->value;
    return true;
}

bool KeyframeContainer::GetNextKeyframe(std::int64_t position, Keyframe& keyframe) const
{
    Lock lock(mutex_);
    const auto it = keyframes_.lower_bound(position);
    if (it == keyframes_.end())
        return false;
    keyframe = *it;
    return true;
}

bool KeyframeContainer::GetPrevKeyframe(std::int64_t position, Keyframe& keyframe) const
{
    Lock lock(mutex_);
    auto it = keyframes_.upper_bound(position);
    if (it == keyframes_.begin())
        return false;
    keyframe = *--it;
    return true;
}

bool KeyframeContainer::GetKeyframe(std::int64_t position, Keyframe& keyframe) const
{
    Lock lock(mutex_);
    const auto it = keyframes_.find(position);
    if (it == keyframes_.end())
        return false;
    keyframe = *it;
    return true;
}

KeyframeContainer::const_iterator KeyframeContainer::GetKeyframe(std::int64_t position, float value) const
{
    Lock lock(mutex_);
    const auto it = keyframes_.find(position);
    return it != keyframes_.end() && it->value == value ? it : keyframes_.end();
}

bool KeyframeContainer::HasKeyframeAt(std::int64_t position) const
{
    Lock lock(mutex_);
    return keyframes_.contains(position);
}

bool KeyframeContainer::HasSameKeyframes(const KeyframeContainer& other) const
{
    if (this == &other)
        return true;
    std::scoped_lock lock(mutex_, other.mutex_);
    return std::equal(keyframes_.begin(), keyframes_.end(), other.keyframes_.begin(), other.keyframes_.end(),
                      [](const Keyframe& a, const Keyframe& b) {
                          return a.position == b.position && a.value == b.value && a.hold == b.hold;
                      });
}

std::int64_t KeyframeContainer::GetSampleLeft() const
{
    Lock lock(mutex_);
    return sampleLeft_;
}

std::int64_t KeyframeContainer::GetSampleWidth() const
{
    Lock lock(mutex_);
    return sampleWidth_;
}

float KeyframeContainer::GetDefaultValue() const
{
    Lock lock(mutex_);
    return defaultValue_;
}

bool KeyframeContainer::AreSplinesEnabled() const
{
    Lock lock(mutex_);
    return splines_;
}

// ---------------------------------------------------------------------------
// Changing

void KeyframeContainer::SetModified()
{
    Lock lock(mutex_);
    modified_ = true;
}

void KeyframeContainer::InsertKeyframe(std::int64_t position, float value, bool hold, bool flag)
{
    Lock lock(mutex_);
    if (auto it = keyframes_.find(position); it != keyframes_.end()) {
        // Rewrite the node in place: the position, and so the order, stays.
        auto next = std::next(it);
        auto node = keyframes_.extract(it);
        node.value().value = value;
        node.value().hold = hold;
        node.value().flag = flag;
        keyframes_.insert(next, std::move(node));
    } else {
        keyframes_.insert(Keyframe{value, position, hold, flag});
    }
    modified_ = true;
}

void KeyframeContainer::InsertKeyframe(const Keyframe& keyframe)
{
    InsertKeyframe(keyframe.position, keyframe.value, keyframe.hold, keyframe.flag);
}

void KeyframeContainer::InsertKeyframeAt(std::int64_t position, bool hold, bool flag)
{
    Lock lock(mutex_);
    InsertKeyframe(position, GetValue(position), hold, flag);
}

bool KeyframeContainer::RemoveKeyframe(const Keyframe& keyframe) { return RemoveKeyframeAt(keyframe.position); }

bool KeyframeContainer::RemoveKeyframeAt(std::int64_t position)
{
    Lock lock(mutex_);
    const auto it = keyframes_.find(position);
    modified_ = true;
    if (it == keyframes_.end())
        return false;
    keyframes_.erase(it);
    return true;
}

void KeyframeContainer::RemoveKeyframes(std::int64_t from, std::int64_t to, bool close)
{
    if (to < from)
        return;
    Lock lock(mutex_);
    keyframes_.erase(keyframes_.lower_bound(from), keyframes_.upper_bound(to));
    if (close) {
        // Every later keyframe moves by the same amount, so their order and
        // distinctness hold; they land after `from`, past the earlier ones.
        const std::int64_t gap = to - from;
        auto it = keyframes_.upper_bound(to);
        while (it != keyframes_.end()) {
            auto node = keyframes_.extract(it++);
            node.value().position -= gap;
            keyframes_.insert(it, std::move(node));
        }
    }
    modified_ = true;
}

template <class Edit>
void KeyframeContainer::EditValues(std::int64_t from, std::int64_t to, Edit edit)
{
    for (auto it = keyframes_.lower_bound(from); it != keyframes_.end() && it->position <= to;) {
        auto next = std::next(it);
        auto node = keyframes_.extract(it);
        node.value().value = edit(node.value().value);
        keyframes_.insert(next, std::move(node));
        it = next;
    }
    modified_ = true;
}

void KeyframeContainer::BoostKeyframes(float decibels)
{
    Lock lock(mutex_);
    EditValues(INT64_MIN, INT64_MAX, [decibels](float value) {
        if (!(value > 0.0f))
            return value; // silence stays silence
        return std::min(1.0f, std::pow(10.0f, std::log10(value) + decibels / 20.0f));
    });
}

void KeyframeContainer::OffsetKeyframes(float delta, std::int64_t from, std::int64_t to)
{
    if (delta == 0.0f)
        return;
    Lock lock(mutex_);
    EditValues(from, to, [delta](float value) { return std::clamp(value + delta, 0.0f, 1.0f); });
}

void KeyframeContainer::ShiftKeyframes(std::int64_t, std::int64_t delta)
{
    if (delta == 0)
        return;
    Lock lock(mutex_);
    KeyframeSet shifted;
    for (Keyframe keyframe : keyframes_) {
        keyframe.position += delta;
        shifted.insert(shifted.end(), keyframe);
    }
    SetKeyframes(shifted, true);
}

void KeyframeContainer::MergeKeyframes(const KeyframeSet& keyframes, std::int64_t offset, float low, float high)
{
    Lock lock(mutex_);
    for (const Keyframe& keyframe : keyframes)
        InsertKeyframe(keyframe.position + offset, low + (high - low) * keyframe.value, false, false);
}

void KeyframeContainer::Flatten(float value)
{
    {
        Lock lock(mutex_);
        if (keyframes_.empty() && defaultValue_ == value)
            return;
        keyframes_.clear();
        modified_ = true;
    }
    SetDefaultValue(value);
}

void KeyframeContainer::SetKeyframes(const KeyframeSet& keyframes, bool flag)
{
    {
        Lock lock(mutex_);
        if (&keyframes != &keyframes_)
            keyframes_ = keyframes;
        modified_ = true;
    }
    SendKeyframesChangedSignal(flag);
}

void KeyframeContainer::Clear()
{
    Lock lock(mutex_);
    keyframes_.clear();
}

void KeyframeContainer::Dispose()
{
    Lock lock(mutex_);
    keyframes_.clear();
    DropBezier();
    modified_ = true;
}

void KeyframeContainer::CleanupKeyframes(std::int64_t, std::int64_t) {}

void KeyframeContainer::SetDefaultValue(float value)
{
    {
        Lock lock(mutex_);
        if (value == defaultValue_)
            return;
        defaultValue_ = value;
    }
    defaultValueChanged_(Self());
}

void KeyframeContainer::SetSampleRange(std::int64_t left, std::int64_t width)
{
    {
        Lock lock(mutex_);
        if (left == sampleLeft_ && width == sampleWidth_)
            return;
        sampleLeft_ = left;
        sampleWidth_ = width;
        modified_ = true;
        if (!splines_)
            return;
        AdjustForBezier();
    }
    SendKeyframesChangedSignal(true);
}

void KeyframeContainer::EnableSplines(bool on)
{
    {
        Lock lock(mutex_);
        if (on == splines_)
            return;
        splines_ = on;
        if (on)
            AdjustForBezier();
    }
    SendKeyframesChangedSignal(true);
}

bool KeyframeContainer::CanShowSplines()
{
    Lock lock(mutex_);
    AdjustForBezier();
    return splines_ && bezier_ != nullptr;
}

const dsp::CBezier* KeyframeContainer::GetBezier()
{
    Lock lock(mutex_);
    AdjustForBezier();
    return splines_ ? bezier_.get() : nullptr;
}

// ---------------------------------------------------------------------------
// Values

void KeyframeContainer::AdjustForBezier()
{
    if (!splines_ || (!modified_ && bezier_))
        return;
    modified_ = false;

    const std::size_t count = keyframes_.size();
    const bool allEqual = std::all_of(keyframes_.begin(), keyframes_.end(),
                                      [&](const Keyframe& k) { return k.value == keyframes_.begin()->value; });
    // The spline reaches the ends of the range, holding the outer values, so
    // the curve leaves the first and enters the last keyframe smoothly.
    const bool addStart = count > 1 && !allEqual && keyframes_.begin()->position != sampleLeft_;
    const bool addEnd = count > 1 && !allEqual && keyframes_.rbegin()->position != sampleLeft_ + sampleWidth_;
    const std::size_t points = count + (addStart ? 1 : 0) + (addEnd ? 1 : 0);
    if (points < 3 || allEqual) {
        DropBezier(); // too few distinct points: plain linear ramps
        return;
    }
    splinePoints_.clear();
    splinePoints_.reserve(2 * points);
    if (addStart) {
        splinePoints_.push_back(static_cast<double>(sampleLeft_));
        splinePoints_.push_back(keyframes_.begin()->value);
    }
    for (const Keyframe& keyframe : keyframes_) {
        splinePoints_.push_back(static_cast<double>(keyframe.position));
        splinePoints_.push_back(keyframe.value);
    }
    if (addEnd) {
        splinePoints_.push_back(static_cast<double>(sampleLeft_ + sampleWidth_));
        splinePoints_.push_back(keyframes_.rbegin()->value);
    }
    if (!bezier_)
        bezier_ = spareBezier_ ? std::move(spareBezier_) : std::make_unique<dsp::CBezier>();
    bezier_->SetPoints(static_cast<int>(points), splinePoints_.data());
}

float KeyframeContainer::InterpolateValue(const Keyframe& left, const Keyframe& right, std::int64_t position) const
{
    const double fraction =
        static_cast<double>(position - left.position) / static_cast<double>(right.position - left.position);
    return left.value + static_cast<float>(fraction * static_cast<double>(right.value - left.value));
}

float KeyframeContainer::GetValue(std::int64_t position)
{
    Lock lock(mutex_);
    AdjustForBezier();
    if (splines_ && bezier_)
        return static_cast<float>(bezier_->GetBezier(static_cast<double>(position)));
    if (keyframes_.empty())
        return defaultValue_;
    if (keyframes_.size() == 1)
        return keyframes_.begin()->value;
    const auto right = keyframes_.lower_bound(position);
    if (right == keyframes_.end())
        return keyframes_.rbegin()->value;
    if (right->position == position || right == keyframes_.begin())
        return right->value;
    const Keyframe& left = *std::prev(right);
    return left.hold ? left.value : InterpolateValue(left, *right, position);
}

bool KeyframeContainer::GetValues(std::int64_t start, int count, float* out)
{
    if (count < 1 || out == nullptr)
        return false;
    Lock lock(mutex_);
    AdjustForBezier();
    if (splines_ && bezier_)
        return bezier_->GetBeziers(out, static_cast<double>(start), static_cast<double>(start + count - 1), count);

    auto next = keyframes_.begin();
    float passed = defaultValue_;
    while (next != keyframes_.end() && next->position < start) {
        passed = next->value;
        ++next;
    }
    std::int64_t current = start;
    std::int64_t remaining = count;
    while (remaining > 0) {
        if (next == keyframes_.end()) {
            std::fill_n(out, remaining, passed);
            break;
        }
        const std::int64_t span = std::min(next->position - current + 1, remaining);
        if (next == keyframes_.begin()) {
            // Up to the first keyframe the envelope holds its value.
            std::fill_n(out, span, next->value);
        } else {
            // Ramp from the interpolated value here towards the next keyframe.
            const float value = InterpolateValue(*std::prev(next), *next, current);
            const double step =
                static_cast<double>(next->value - value) / static_cast<double>(next->position - current + 1);
            if (step == 0.0) {
                std::fill_n(out, span, value);
            } else {
                for (std::int64_t i = 0; i < span; ++i)
                    out[i] = static_cast<float>(value + step * static_cast<double>(i));
            }
        }
        out += span;
        current += span;
        remaining -= span;
        passed = next->value;
        ++next;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Notifications

core::Ref<KeyframeContainer> KeyframeContainer::Self()
{
    // A container nobody holds by reference (on the stack, in a test) must
    // not be deleted by the temporary reference a slot receives.
    return UseCount() > 0 ? core::Ref<KeyframeContainer>(this) : nullptr;
}

void KeyframeContainer::SendKeyframesChangedSignal(bool flag)
{
    auto emit = [self = Self(), signal = &keyframesChanged_, flag] { (*signal)(self, flag); };
    // A thread without an event loop emits in place, as it would on a loop
    // of its own; creating one here would allocate on an audio thread.
    const core::Ref<core::threads::Executor> loop = core::threads::AdaptCurrentEventLoopAsExecutor(false);
    if (loop && !loop->CanRunInPlace())
        loop->Post(std::move(emit));
    else
        emit();
}

} // namespace zoc
