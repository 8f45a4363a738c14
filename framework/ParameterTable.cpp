// Descriptions and stored values from parameter tables.

#include "framework/ParameterTable.h"

#include <cmath>
#include <string>

#include "platform/core/Localizer.h"

namespace zoc {

void BuildParameterInfos(MultiChannelComponentBase& component, const ParameterTable& table, ParameterNaming naming,
                         std::size_t channelCount)
{
    const bool stereo = naming == ParameterNaming::kStereo;
    const std::string prefix(stereo ? table.prefix : table.singleSetPrefix);
    component.ClearParameterInfos();
    for (std::size_t index = 0; index < table.rows.size(); ++index) {
        const ParameterRow& row = table.rows[index];
        const core::UString name = core::Localize(prefix + (stereo ? row.key : row.singleSetKey));
        const bool automatable = stereo ? row.automatable : row.singleSetAutomatable;
        if (row.kind == ParameterKind::kSwitch) {
            component.AddParameterInfo(
                index, core::MakeRef<BoolParameterInfo>(name, core::FromUtf8(row.unitLabel),
                                                        core::Localize(prefix + "On=On"),
                                                        core::Localize(prefix + "Off=Off"), automatable));
            continue;
        }
        if (row.kind == ParameterKind::kCount) {
            component.AddParameterInfo(index, core::MakeRef<CountParameterInfo>(
                                                  name, core::FromUtf8(row.unitLabel), static_cast<int>(index),
                                                  static_cast<int>(row.lo), static_cast<int>(row.hi), automatable));
            continue;
        }
        const float hi = row.kind == ParameterKind::kChannelCount ? static_cast<float>(channelCount) : row.hi;
        component.AddParameterInfo(index, core::MakeRef<GenericParameterInfo>(
                                              name, core::FromUtf8(row.unitLabel), row.unit,
                                              static_cast<int>(index), row.lo, hi, automatable));
    }
}

float StoredValue(ParameterKind kind, float real)
{
    switch (kind) {
    case ParameterKind::kSwitch:
        return real >= 0.5f ? 1.0f : 0.0f;
    case ParameterKind::kChoice:
        return std::fmax(0.0f, std::ceil(real - 0.5f));
    default:
        return real;
    }
}

} // namespace zoc
