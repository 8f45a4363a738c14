#pragma once
// Parameter descriptions: how a normalized value (0 to 1) maps to a real
// value and how it is shown as text.

#include <cstddef>
#include <string_view>

#include "contracts/host/AudioFilterParameterInfo.h"

namespace zoc {

/// A number on a linear or logarithmic scale. In a logarithmic description
/// `hi` is an exponent: values run from lo to lo * e^hi.
class GenericParameterInfo : public host::AudioFilterParameterInfo {
public:
    GenericParameterInfo(core::UString name, core::UString unitLabel, host::AudioFilterParameterInfoUnit unit,
                         int id, float lo, float hi, bool automatable, bool logarithmic = false,
                         std::size_t leadingFormatCount = 1, std::size_t secondCount = 6);

    float ToNormalized(float value) const override;
    float FromNormalized(float normalized) const override;
    bool CanBeAutomated() const override { return automatable_; }
    /// Decimals follow the magnitude: 0 above 100, 1 above 10, 2 above 1,
    /// 3 above 0.1, else 4.
    core::UString GetParameterString(float normalized) const override;

    int GetId() const { return id_; }
    float GetLoBound() const { return lo_; }
    float GetHiBound() const { return hi_; }
    void SetLoBound(float lo) { lo_ = lo; }
    void SetHiBound(float hi) { hi_ = hi; }
    bool IsLogarithmic() const { return logarithmic_; }
    /// Decimal places the host's number formatter allows (2 or 6).
    std::size_t GetSecondCount() const { return secondCount_; }
    /// The smallest and largest real values the description takes.
    virtual float GetMinValue() const;
    virtual float GetMaxValue() const;

    /// Decimals shown for a real value of this magnitude.
    static std::size_t DecimalsFor(float value);

private:
    int id_;
    float lo_;
    float hi_;
    bool automatable_;
    bool logarithmic_;
    std::size_t leadingFormatCount_;
    std::size_t secondCount_;
};

/// A whole count that crosses the host interface as the number itself: the
/// description's range is 0 to 1, which maps every value onto itself, so
/// presets and saved settings carry 4.0 for four. The counts it takes run
/// from `first` to `last`, and that is the range it reports.
class CountParameterInfo : public GenericParameterInfo {
public:
    CountParameterInfo(core::UString name, core::UString unitLabel, int id, int first, int last, bool automatable);

    float GetMinValue() const override { return static_cast<float>(first_); }
    float GetMaxValue() const override { return static_cast<float>(last_); }
    int GetStepCount() const override { return last_ - first_; }
    /// The count, without decimals.
    core::UString GetParameterString(float normalized) const override;

private:
    int first_;
    int last_;
};

/// An on/off switch stored as 0 or 1.
class BoolParameterInfo : public host::AudioFilterParameterInfo {
public:
    BoolParameterInfo(core::UString name, core::UString unitLabel, core::UString onText, core::UString offText,
                      bool automatable);

    float ToNormalized(float value) const override { return value; }
    float FromNormalized(float normalized) const override { return normalized; }
    bool CanBeAutomated() const override { return automatable_; }
    core::UString GetParameterString(float normalized) const override;

private:
    bool automatable_;
    core::UString onText_;
    core::UString offText_;
};

/// Musical scale selector: Major, Minor, Chromatic.
class ScaleParameterInfo : public GenericParameterInfo {
public:
    using GenericParameterInfo::GenericParameterInfo;
    core::UString GetParameterString(float normalized) const override;
};

/// Musical key selector; shows the note name.
class KeyParameterInfo : public GenericParameterInfo {
public:
    using GenericParameterInfo::GenericParameterInfo;
    core::UString GetParameterString(float normalized) const override;
};

/// Gives keyframed values of parameters to a component.
class AudioParamInterface {
public:
    virtual ~AudioParamInterface() = default;
    virtual bool GetKeyFrameParameter(unsigned long id, float& value);
};

/// Note name of a MIDI-style note number modulo 12: C, C#, D, ... B.
core::UString GetNoteString(int note, int octave = -1, bool flats = false);

/// Brings a normalized value from the host into 0..1; NaN gives nullopt so the
/// caller keeps its current value.
std::optional<float> SanitizeNormalized(float normalized);

} // namespace zoc
