#pragma once
// The host's base for parameter descriptions: name, unit label, unit, and the
// mapping between normalized (0 to 1) and real values.

#include "platform/core/RefCounted.h"
#include "platform/core/String.h"

namespace zoc::host {

enum AudioFilterParameterInfoUnit : int {
    kUnitNumber = 0,
    kUnitFrequency = 1,
    kUnitDecibels = 2,
    kUnitSwitch = 3,
    kUnitProportion = 4,
    kUnitTime = 5,
};

class AudioFilterParameterInfo : public core::RefCountedObject {
public:
    AudioFilterParameterInfo(core::UString name, core::UString unitLabel, AudioFilterParameterInfoUnit unit)
        : name_(std::move(name)), unitLabel_(std::move(unitLabel)), unit_(unit)
    {
    }

    virtual float ToNormalized(float value) const { return value; }
    virtual float FromNormalized(float normalized) const { return normalized; }
    /// Whether the host may ramp the value between automation points.
    virtual bool CanRamp() const { return unit_ != kUnitSwitch; }
    virtual bool CanBeAutomated() const { return true; }
    virtual bool SupportsStringForArbitraryValues() const { return true; }
    virtual core::UString GetParameterString(float normalized) const;
    /// 0 for a continuous parameter, else the number of steps.
    virtual int GetStepCount() const { return unit_ == kUnitSwitch ? 1 : 0; }

    const core::UString& GetName() const { return name_; }
    void SetName(core::UString name) { name_ = std::move(name); }
    const core::UString& GetUnitLabel() const { return unitLabel_; }
    AudioFilterParameterInfoUnit GetUnit() const { return unit_; }
    bool IsExposed() const { return exposed_; }
    void SetExposed(bool exposed) { exposed_ = exposed; }

private:
    core::UString name_;
    core::UString unitLabel_;
    AudioFilterParameterInfoUnit unit_;
    bool exposed_ = true;
};

} // namespace zoc::host
