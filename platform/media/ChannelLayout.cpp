#include "platform/media/ChannelLayout.h"

#include <array>
#include <initializer_list>

namespace zoc::media {

namespace {

struct LabelNames {
    std::string_view description;
    std::string_view abbreviation;
};

// Indexed by AudioChannelLabel.
constexpr std::array<LabelNames, kChannelLabelCount> kLabelNames = {{
    {"", ""},
    {"$$$/Media/Channel/Left=Left", "L"},
    {"$$$/Media/Channel/Right=Right", "R"},
    {"$$$/Media/Channel/Center=Center", "C"},
    {"$$$/Media/Channel/LFE=Low Frequency Effects", "LFE"},
    {"$$$/Media/Channel/LeftSurround=Left Surround", "Ls"},
    {"$$$/Media/Channel/RightSurround=Right Surround", "Rs"},
    {"$$$/Media/Channel/LeftCenter=Left Center", "Lc"},
    {"$$$/Media/Channel/RightCenter=Right Center", "Rc"},
    {"$$$/Media/Channel/CenterSurround=Center Surround", "Cs"},
    {"$$$/Media/Channel/LeftSideSurround=Left Side Surround", "Lsd"},
    {"$$$/Media/Channel/RightSideSurround=Right Side Surround", "Rsd"},
    {"$$$/Media/Channel/TopCenter=Top Center", "Tc"},
    {"$$$/Media/Channel/Mono=Mono", "M"},
}};

AudioChannelLayout MakeLayout(std::initializer_list<AudioChannelLabel> labels)
{
    AudioChannelLayout layout;
    layout.reserve(labels.size());
    for (const AudioChannelLabel label : labels)
        layout.push_back(AudioChannelDescription{label});
    return layout;
}

} // namespace

AudioChannelLayout MonoLayout()
{
    return MakeLayout({kChannelMono});
}

AudioChannelLayout StereoLayout()
{
    return MakeLayout({kChannelLeft, kChannelRight});
}

AudioChannelLayout Surround51Layout()
{
    return MakeLayout({kChannelLeft, kChannelRight, kChannelCenter, kChannelLFE, kChannelLeftSurround,
                       kChannelRightSurround});
}

AudioChannelLayout Surround71Layout()
{
    return MakeLayout({kChannelLeft, kChannelRight, kChannelCenter, kChannelLFE, kChannelLeftSurround,
                       kChannelRightSurround, kChannelLeftSideSurround, kChannelRightSideSurround});
}

AudioChannelLayout LayoutForChannelCount(std::size_t count)
{
    switch (count) {
    case 1:
        return MonoLayout();
    case 2:
        return StereoLayout();
    case 6:
        return Surround51Layout();
    case 8:
        return Surround71Layout();
    default:
        return AudioChannelLayout(count);
    }
}

std::string_view AudioChannelLabelDescription(AudioChannelLabel label)
{
    return label < kChannelLabelCount ? kLabelNames[label].description : std::string_view();
}

std::string_view AudioChannelLabelAbbreviation(AudioChannelLabel label)
{
    return label < kChannelLabelCount ? kLabelNames[label].abbreviation : std::string_view();
}

} // namespace zoc::media
