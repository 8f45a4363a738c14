#pragma once
// Base of components whose parameters are one ParameterTable: it builds the
// descriptions, stores incoming values, answers GetParameter, and turns rate,
// channel and parameter changes into deferred work that the audio thread
// takes at the start of its next block (or Resume takes at once).

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>

#include "framework/DeferredWork.h"
#include "framework/MultiChannelComponentBase.h"
#include "framework/ParameterTable.h"

namespace zoc {

template <std::size_t Count>
class TableComponentBase : public MultiChannelComponentBase {
public:
    TableComponentBase(std::string componentID, core::UString title, int maxChannels, FactoryPresetTable presets,
                       const ParameterTable& table)
        : MultiChannelComponentBase(std::move(componentID), std::move(title), maxChannels, std::move(presets)),
          values_(std::span<const ParameterRow, Count>(table.rows.data(), Count)), table_(table),
          channelCount_(std::min<std::size_t>(GetNumberOfOutputChannels(), static_cast<std::size_t>(maxChannels)))
    {
        BuildParameterInfos(*this, table_, ParameterNaming::kStereo, channelCount_);
        for (std::size_t index = 0; index < Count; ++index) {
            const ParameterRow& row = table_.rows[index];
            if (row.kind == ParameterKind::kChannelCount) {
                values_.Store(index, static_cast<float>(channelCount_));
            } else if (row.kind != ParameterKind::kSwitch) {
                // A fresh component and one loaded from its saved settings
                // must hold the same values.
                values_.Store(index, StoredValue(row.kind, NearestNamedValue(index, row.defaultValue)));
            }
        }
    }

    int GetParameterCount() override { return static_cast<int>(Count); }

    /// Stores the value and asks for an update at the next block. Control
    /// thread; never blocks, never allocates.
    void SetParameter(int index, float normalized) override
    {
        if (const std::optional<float> real = RealValue(index, normalized)) {
            const auto parameter = static_cast<std::size_t>(index);
            const float value = StoredValue(table_.rows[parameter].kind, *real);
            if (values_.Store(parameter, value)) {
                OnValueStored(parameter, value);
                work_.RequestUpdate();
            }
        }
        MultiChannelComponentBase::SetParameter(index, normalized);
    }

    float GetParameter(int index) override
    {
        if (index < 0 || index >= static_cast<int>(Count))
            return 0.0f;
        const auto parameter = static_cast<std::size_t>(index);
        if (table_.rows[parameter].kind == ParameterKind::kChannelCount)
            return static_cast<float>(channelCount_) / 32.0f;
        return GetParameterInfo(index)->ToNormalized(values_[parameter]);
    }

    /// A new rate asks for a reset at the next Resume or block.
    void SetSampleRate(float rate) override
    {
        if (rate == GetSampleRate())
            return;
        MultiChannelComponentBase::SetSampleRate(rate);
        work_.RequestReset();
        work_.RequestUpdate();
    }

    /// Resets (allocating only where buffers must grow) and takes the current
    /// settings at once. Control thread, before processing.
    void Resume() override
    {
        MultiChannelComponentBase::Resume();
        work_.TakeReset();
        work_.TakeUpdate();
        Reset();
        Update();
    }

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override
    {
        if (count == channelCount_)
            return;
        channelCount_ = count;
        // Two channels keep whatever naming they have; any other count names one set.
        if (count != 2)
            BuildParameterInfos(*this, table_, ParameterNaming::kSingleSet, count);
        work_.RequestReset();
        work_.RequestUpdate();
    }

    /// Rebuilds processing state for the current rate and channel count.
    virtual void Reset() = 0;
    /// Takes in changed parameter values.
    virtual void Update() = 0;
    /// Called after a parameter took a new value, before the update request.
    virtual void OnValueStored(std::size_t /*index*/, float /*value*/) {}

    /// Audio thread, first thing in Process: runs a pending reset and update.
    void RunDeferredWork()
    {
        if (work_.TakeReset())
            Reset();
        if (work_.TakeUpdate())
            Update();
    }

    std::size_t ChannelCount() const { return channelCount_; }

    /// The value nearest `real` that a normalized setting of the parameter
    /// names exactly. Values a component derives itself (defaults, coupled
    /// parameters) are held to it, so that saving them as normalized values
    /// and loading them back gives the same values bit for bit.
    float NearestNamedValue(std::size_t index, float real)
    {
        const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(static_cast<int>(index));
        return info ? info->FromNormalized(info->ToNormalized(real)) : real;
    }

    ParameterValues<Count> values_;

private:
    /// The real value for a normalized one; a count crosses as the number
    /// itself, rounded and held to its range.
    std::optional<float> RealValue(int index, float normalized) const
    {
        if (index >= 0 && index < static_cast<int>(Count) &&
            table_.rows[static_cast<std::size_t>(index)].kind == ParameterKind::kCount) {
            if (!std::isfinite(normalized))
                return std::nullopt;
            const ParameterRow& row = table_.rows[static_cast<std::size_t>(index)];
            return std::clamp(std::floor(normalized + 0.5f), row.lo, row.hi);
        }
        return RealFromNormalized(index, normalized);
    }

    const ParameterTable& table_;
    std::atomic<std::size_t> channelCount_;
    DeferredWork work_;
};

} // namespace zoc
