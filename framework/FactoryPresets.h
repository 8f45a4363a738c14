#pragma once
// Factory preset tables: one row per preset, a localizable key and one
// normalized value per parameter, applied in parameter order through the
// host's SetParameterAutomated.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "platform/core/String.h"

namespace zoc {

namespace host {
class AudioFilter;
}

/// The key every default row uses.
inline constexpr const char* kDefaultPresetKey = "$$$/AudioComponents/DefaultPresetName=(Default)";

template <std::size_t ParameterCount>
struct PresetRow {
    const char* key;
    std::array<float, ParameterCount> values;
};

/// A view of a component's static preset table.
class FactoryPresetTable {
public:
    FactoryPresetTable() = default;
    template <std::size_t N>
    FactoryPresetTable(std::span<const PresetRow<N>> rows) // NOLINT: implicit on purpose
    {
        for (const auto& row : rows)
            rows_.push_back({row.key, std::span<const float>(row.values)});
    }
    template <std::size_t N, std::size_t R>
    FactoryPresetTable(const std::array<PresetRow<N>, R>& rows) // NOLINT: implicit on purpose
        : FactoryPresetTable(std::span<const PresetRow<N>>(rows))
    {
    }

    int Count() const { return static_cast<int>(rows_.size()); }
    /// Localized name of row `index`, empty when there is no such row.
    core::UString Name(int index) const;
    /// Applies row `index` through SetParameterAutomated for every parameter
    /// in order; an index outside the table does nothing.
    void Apply(host::AudioFilter& filter, int index) const;
    /// The normalized values of a row (empty when there is no such row).
    std::span<const float> Values(int index) const;

private:
    struct Row {
        const char* key;
        std::span<const float> values;
    };
    std::vector<Row> rows_;
};

} // namespace zoc
