// Parameter descriptions.

#include "framework/ParameterInfo.h"

#include <cmath>

#include "platform/core/Localizer.h"

namespace zoc {

GenericParameterInfo::GenericParameterInfo(core::UString name, core::UString unitLabel,
                                           host::AudioFilterParameterInfoUnit unit, int id, float lo, float hi,
                                           bool automatable, bool logarithmic, std::size_t leadingFormatCount,
                                           std::size_t secondCount)
    : AudioFilterParameterInfo(std::move(name), std::move(unitLabel), unit), id_(id), lo_(lo), hi_(hi),
      automatable_(automatable), logarithmic_(logarithmic), leadingFormatCount_(leadingFormatCount),
      secondCount_(secondCount == 2 ? 2 : 6)
{
    if (!automatable)
        SetExposed(false);
}

float GenericParameterInfo::ToNormalized(float value) const
{
    const float normalized = logarithmic_ ? std::log(value / lo_) / hi_ : (value - lo_) / (hi_ - lo_);
    // The quotient can land a float or two beside the normalized value that
    // FromNormalized maps back onto `value`. Take that one where it exists,
    // so a value saved as a normalized one loads back to the same value bit
    // for bit (settings, pickled effects, copies for another rate).
    constexpr int kMaxSteps = 4;
    float back = FromNormalized(normalized);
    if (back == value || !std::isfinite(back) || !std::isfinite(value) || !(normalized >= 0.0f) ||
        !(normalized <= 1.0f))
        return normalized;
    // FromNormalized is monotonic: rising when the top of the range is above its bottom.
    const bool rising = FromNormalized(1.0f) > FromNormalized(0.0f);
    const bool below = back < value;
    const float toward = below == rising ? 1.0f : 0.0f;
    float candidate = normalized;
    for (int step = 0; step < kMaxSteps && candidate != toward; ++step) {
        candidate = std::nextafter(candidate, toward);
        back = FromNormalized(candidate);
        if (back == value)
            return candidate;
        if ((back < value) != below)
            break; // stepped over: no normalized value names `value` exactly
    }
    return normalized;
}

float GenericParameterInfo::FromNormalized(float normalized) const
{
    if (logarithmic_)
        return lo_ * std::exp(normalized * hi_);
    return lo_ + normalized * (hi_ - lo_);
}

float GenericParameterInfo::GetMinValue() const { return std::fmin(FromNormalized(0.0f), FromNormalized(1.0f)); }
float GenericParameterInfo::GetMaxValue() const { return std::fmax(FromNormalized(0.0f), FromNormalized(1.0f)); }

std::size_t GenericParameterInfo::DecimalsFor(float value)
{
    const float magnitude = std::fabs(value);
    if (magnitude > 100.0f)
        return 0;
    if (magnitude > 10.0f)
        return 1;
    if (magnitude > 1.0f)
        return 2;
    if (magnitude > 0.1f)
        return 3;
    return 4;
}

core::UString GenericParameterInfo::GetParameterString(float normalized) const
{
    const float value = FromNormalized(normalized);
    return core::NumberToString(value, leadingFormatCount_, DecimalsFor(value));
}

CountParameterInfo::CountParameterInfo(core::UString name, core::UString unitLabel, int id, int first, int last,
                                       bool automatable)
    : GenericParameterInfo(std::move(name), std::move(unitLabel), host::kUnitNumber, id, 0.0f, 1.0f, automatable),
      first_(first), last_(last)
{
}

core::UString CountParameterInfo::GetParameterString(float normalized) const
{
    return core::NumberToString(std::round(FromNormalized(normalized)), 1, 0);
}

BoolParameterInfo::BoolParameterInfo(core::UString name, core::UString unitLabel, core::UString onText,
                                     core::UString offText, bool automatable)
    : AudioFilterParameterInfo(std::move(name), std::move(unitLabel), host::kUnitSwitch),
      automatable_(automatable), onText_(std::move(onText)), offText_(std::move(offText))
{
}

core::UString BoolParameterInfo::GetParameterString(float normalized) const
{
    return normalized > 0.5f ? onText_ : offText_;
}

core::UString ScaleParameterInfo::GetParameterString(float normalized) const
{
    switch (static_cast<int>(normalized * 3.0f)) {
    case 0:
        return core::Localize("$$$/Effects/PitchCorrect/ScaleParamMajor=Major");
    case 1:
        return core::Localize("$$$/Effects/PitchCorrect/ScaleParamMinor=Minor");
    default:
        return core::Localize("$$$/Effects/PitchCorrect/ScaleParamChromatic=Chromatic");
    }
}

core::UString KeyParameterInfo::GetParameterString(float normalized) const
{
    const int k = static_cast<int>(normalized * 11.0f + 0.5f);
    const int note = ((14 - k) % 12 + 12) % 12;
    return GetNoteString(note, -1, false);
}

bool AudioParamInterface::GetKeyFrameParameter(unsigned long, float&) { return false; }

core::UString GetNoteString(int note, int octave, bool flats)
{
    static constexpr const char16_t* kSharps[] = {u"C", u"C#", u"D", u"D#", u"E", u"F",
                                                  u"F#", u"G", u"G#", u"A", u"A#", u"B"};
    static constexpr const char16_t* kFlats[] = {u"C", u"Db", u"D", u"Eb", u"E", u"F",
                                                 u"Gb", u"G", u"Ab", u"A", u"Bb", u"B"};
    const int index = ((note % 12) + 12) % 12;
    core::UString text = flats ? kFlats[index] : kSharps[index];
    if (octave >= 0)
        text += core::FromUtf8(std::to_string(octave));
    return text;
}

std::optional<float> SanitizeNormalized(float normalized)
{
    if (std::isnan(normalized))
        return std::nullopt;
    return std::fmin(1.0f, std::fmax(0.0f, normalized));
}

} // namespace zoc
