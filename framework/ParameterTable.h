#pragma once
// Parameter tables for components that keep their real values in one array:
// one row per parameter with its key, unit, range, default and automation
// flag, in two namings (one for stereo with left and right sides, one for
// every other layout, where the left values drive all channels). The table
// builds the descriptions, turns incoming values into stored ones and holds
// the values where the control thread writes and the audio thread reads.

#include <array>
#include <atomic>
#include <cstddef>
#include <span>
#include <string_view>

#include "framework/MultiChannelComponentBase.h"

namespace zoc {

enum class ParameterKind {
    kNumber,       ///< any value of the range
    kSwitch,       ///< on (1) from 0.5 up, else off (0)
    kChoice,       ///< a whole number: x.5 and below rounds down
    kChannelCount, ///< 1 to the channel count; stored, reported as count / 32
    kCount,        ///< a whole number lo..hi that crosses the interface as itself, not as a share of the range
};

struct ParameterRow {
    const char* key;           ///< "Key=Display text" in stereo naming
    const char* singleSetKey;  ///< the same in single-set naming
    const char* unitLabel;     ///< "ms", "%", "dB" or ""
    host::AudioFilterParameterInfoUnit unit;
    float lo;
    float hi;
    float defaultValue;
    bool automatable;          ///< in stereo naming
    bool singleSetAutomatable; ///< in single-set naming
    ParameterKind kind;
};

struct ParameterTable {
    std::string_view prefix;          ///< e.g. "$$$/Effects/Echo/"
    std::string_view singleSetPrefix; ///< e.g. "$$$/Effects/Echo/OnChannelsChanged/"
    std::span<const ParameterRow> rows;
};

/// Stereo naming for two channels, single-set naming for any other count.
enum class ParameterNaming { kStereo, kSingleSet };

/// Replaces the component's descriptions with those of `table`. A numeric
/// parameter that is not automatable is hidden; a switch stays visible. The
/// switch texts are the prefix's "On=On" and "Off=Off".
void BuildParameterInfos(MultiChannelComponentBase& component, const ParameterTable& table, ParameterNaming naming,
                         std::size_t channelCount);

/// The value a component stores for a real value from a description.
float StoredValue(ParameterKind kind, float real);

/// The normalized value of a real one on a row's range, for preset tables.
constexpr float Fraction(const ParameterRow& row, float real) { return (real - row.lo) / (row.hi - row.lo); }

/// How the preset tables of the delay-line effects store their switches.
inline constexpr float kPresetSwitchOff = 0.2513f;
inline constexpr float kPresetSwitchOn = 0.7538f;
/// How they store the channel count: 2 / 32.
inline constexpr float kPresetTwoChannels = 0.0625f;

/// The real values of a component. The control thread stores, the audio
/// thread reads while it takes changes in; each value is atomic on its own.
template <std::size_t Count>
class ParameterValues {
public:
    explicit ParameterValues(std::span<const ParameterRow, Count> rows)
    {
        for (std::size_t index = 0; index < Count; ++index)
            values_[index].store(rows[index].defaultValue, std::memory_order_relaxed);
    }

    float operator[](std::size_t index) const { return values_[index].load(std::memory_order_relaxed); }
    /// True when `value` differs from the value it replaces.
    bool Store(std::size_t index, float value)
    {
        return values_[index].exchange(value, std::memory_order_relaxed) != value;
    }

private:
    std::array<std::atomic<float>, Count> values_;
};

} // namespace zoc
