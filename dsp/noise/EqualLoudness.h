#pragma once
// Equal-loudness contours of ISO 226:2003: the sound pressure level a pure
// tone needs at each frequency to sound as loud as a 1 kHz tone of the given
// loudness level. Grey noise follows the inverse of one of them.

namespace zoc::dsp::noise {

/// Lowest and highest frequency the standard's table covers.
inline constexpr double kEqualLoudnessLowest = 20.0;
inline constexpr double kEqualLoudnessHighest = 12500.0;

/// Sound pressure level (dB SPL) of a tone at `hertz` on the contour of
/// `phon` (20..90 is the standard's range). Between the table's frequencies
/// the level is interpolated linearly in log frequency; outside 20 Hz to
/// 12.5 kHz the end values hold.
double EqualLoudnessLevel(double hertz, double phon);

} // namespace zoc::dsp::noise
