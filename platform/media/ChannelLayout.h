#pragma once
// Channel layouts: ordered lists of channel descriptions with speaker labels.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zoc::media {

enum AudioChannelLabel : std::uint32_t {
    kChannelUnlabeled = 0,
    kChannelLeft = 1,
    kChannelRight = 2,
    kChannelCenter = 3,
    kChannelLFE = 4,
    kChannelLeftSurround = 5,
    kChannelRightSurround = 6,
    kChannelLeftCenter = 7,
    kChannelRightCenter = 8,
    kChannelCenterSurround = 9,
    kChannelLeftSideSurround = 10,
    kChannelRightSideSurround = 11,
    kChannelTopCenter = 12,
    kChannelMono = 13,
    kChannelLabelCount
};

struct AudioChannelDescription {
    AudioChannelLabel label = kChannelUnlabeled;
    friend bool operator==(const AudioChannelDescription&, const AudioChannelDescription&) = default;
};

using AudioChannelLayout = std::vector<AudioChannelDescription>;

AudioChannelLayout MonoLayout();
AudioChannelLayout StereoLayout();
/// L, R, C, LFE, Ls, Rs (the order of 5.1 WAV files).
AudioChannelLayout Surround51Layout();
/// L, R, C, LFE, Ls, Rs, Lsd, Rsd.
AudioChannelLayout Surround71Layout();
/// The usual layout for a channel count: 1 mono, 2 stereo, 6 5.1, 8 7.1;
/// other counts are unlabeled channels.
AudioChannelLayout LayoutForChannelCount(std::size_t count);

/// Localizable key of the label's full name ("$$$/Media/Channel/Left=Left");
/// empty for an unlabeled channel.
std::string_view AudioChannelLabelDescription(AudioChannelLabel label);
/// Short name: L, R, C, LFE, Ls, Rs, ...; empty for an unlabeled channel.
std::string_view AudioChannelLabelAbbreviation(AudioChannelLabel label);

} // namespace zoc::media
