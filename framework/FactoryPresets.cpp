// Factory preset tables.

#include "framework/FactoryPresets.h"

#include "contracts/host/AudioFilter.h"
#include "platform/core/Localizer.h"

namespace zoc {

core::UString FactoryPresetTable::Name(int index) const
{
    // Compared unsigned, so negative indexes are out of range too.
    if (static_cast<unsigned>(index) >= rows_.size())
        return {};
    return core::Localize(rows_[static_cast<std::size_t>(index)].key);
}

std::span<const float> FactoryPresetTable::Values(int index) const
{
    if (static_cast<unsigned>(index) >= rows_.size())
        return {};
    return rows_[static_cast<std::size_t>(index)].values;
}

void FactoryPresetTable::Apply(host::AudioFilter& filter, int index) const
{
    const std::span<const float> values = Values(index);
    const int count = std::min(filter.GetParameterCount(), static_cast<int>(values.size()));
    for (int parameter = 0; parameter < count; ++parameter)
        filter.SetParameterAutomated(parameter, values[static_cast<std::size_t>(parameter)]);
}

} // namespace zoc
