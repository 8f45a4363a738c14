#include "dsp/Stretch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

#include "dsp/Denormals.h"

namespace zoc::dsp {

namespace {

constexpr int kMinRate = 1;
constexpr int kMaxRate = 768000;

// The interpolator: 32 taps, frames −15..+16 around the read position.
constexpr int kTaps = 32;
constexpr int kTapsBefore = 15;
constexpr int kTapsAfter = kTaps - kTapsBefore;
constexpr int kPhases = 512;
/// Offsets of the narrowed table, rebuilt whenever the ratio above 1
/// changes: fewer, so that a rebuild takes tens of microseconds. Mixing
/// neighbouring rows linearly stays within about -70 dB of the exact kernel.
constexpr int kNarrowPhases = 128;
/// Kaiser β of the sinc's window: sidelobes near −80 dB, so the images of a
/// read between frames stay below what the splices leave.
constexpr double kKaiserBeta = 8.0;
/// The history repeats its first frames after its end, so that a read near
/// the end never wraps.
constexpr std::size_t kHistoryPad = kTaps;

// Per precision step: the search half-range and the comparison window (ms),
// the frames between compared samples and between coarse candidates, and
// the head life used with the default setting (ms).
constexpr std::array<double, 3> kSearchMs{5.0, 8.0, 12.0};
constexpr std::array<double, 3> kWindowMs{20.0, 25.0, 30.0};
constexpr std::array<int, 3> kStride{4, 2, 1};
constexpr std::array<int, 3> kCoarseStep{2, 1, 1};
constexpr std::array<double, 3> kDefaultLifeMs{40.0, 60.0, 80.0};
/// Default fade share: 0.3 near unity, growing by 0.5 per octave of shift,
/// at most 0.8. Far shifts splice more material per period, and a longer
/// fade hides what alignment cannot match.
constexpr double kDefaultMinOverlap = 0.3;
constexpr double kDefaultOverlapPerOctave = 0.5;
constexpr double kDefaultMaxOverlap = 0.8;
/// Frames of slack on the drift bound for rounding and the fraction a new
/// head inherits from the old.
constexpr double kBoundSlack = 2.0;

/// Rows of the windowed sinc at 0, 1/kPhases, ..., 1 frame; each row sums to 1.
const std::vector<float>& InterpolationTable()
{
    static const std::vector<float> table = [] {
        std::vector<float> rows(static_cast<std::size_t>(kPhases + 1) * kTaps);
        const double halfWidth = kTaps / 2.0;
        const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
        for (int phase = 0; phase <= kPhases; ++phase) {
            const double fraction = static_cast<double>(phase) / kPhases;
            std::array<double, kTaps> row{};
            double sum = 0.0;
            for (int tap = 0; tap < kTaps; ++tap) {
                const double distance = (tap - kTapsBefore) - fraction;
                double sinc = 1.0;
                if (distance != 0.0)
                    sinc = std::round(distance) == distance
                               ? 0.0
                               : std::sin(std::numbers::pi * distance) / (std::numbers::pi * distance);
                const double x = distance / halfWidth;
                const double window = std::abs(x) >= 1.0
                                          ? 0.0
                                          : std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - x * x)) / norm;
                row[static_cast<std::size_t>(tap)] = sinc * window;
                sum += sinc * window;
            }
            for (int tap = 0; tap < kTaps; ++tap)
                rows[static_cast<std::size_t>(phase * kTaps + tap)] =
                    static_cast<float>(row[static_cast<std::size_t>(tap)] / sum);
        }
        return rows;
    }();
    return table;
}

/// The Kaiser window over |distance| / half width in 0..1, at kWindowPoints + 1 points.
constexpr int kWindowPoints = 2048;
const std::vector<double>& KaiserTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> values(kWindowPoints + 2, 0.0);
        const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
        for (int i = 0; i <= kWindowPoints; ++i) {
            const double x = static_cast<double>(i) / kWindowPoints;
            values[static_cast<std::size_t>(i)] = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - x * x)) / norm;
        }
        return values;
    }();
    return table;
}

/// The kTaps-term dot product in eight partial sums added in a fixed tree:
/// the same result on every run, and a loop the compiler vectorizes.
inline float Dot(const float* weights, const float* samples)
{
    constexpr int kLanes = 8;
    float lanes[kLanes] = {};
    for (int tap = 0; tap < kTaps; tap += kLanes)
        for (int lane = 0; lane < kLanes; ++lane)
            lanes[lane] += weights[tap + lane] * samples[tap + lane];
    return ((lanes[0] + lanes[4]) + (lanes[2] + lanes[6])) + ((lanes[1] + lanes[5]) + (lanes[3] + lanes[7]));
}

int PrecisionStep(float precision) { return std::clamp(static_cast<int>(std::lround(precision)), 0, 2); }

int Frames(double milliseconds, int rate)
{
    return std::max(1, static_cast<int>(std::lround(milliseconds * rate / 1000.0)));
}

} // namespace

Stretch::Stretch()
{
    InterpolationTable();
    KaiserTable();
    Allocate();
    Initialize();
}

void Stretch::SetSampleRate(int rate)
{
    rate_ = std::clamp(rate, kMinRate, kMaxRate);
    changed_ = true;
    Allocate();
    Initialize();
}

void Stretch::SetChannels(int channels)
{
    channels_ = std::clamp(channels, 1, kMaxChannels);
    Allocate();
    Initialize();
}

void Stretch::SetParameter(int index, float value)
{
    if (std::isnan(value))
        return;
    float lo = 0.0f, hi = 0.0f;
    GetBounds(index, lo, hi);
    const float clamped = std::clamp(value, lo, hi);
    switch (index) {
    case kTransposeRatio: ratio_ = clamped; return; // taken every block, no re-plan
    case kPrecision: precision_ = clamped; break;
    case kFrequency: frequency_ = clamped; break;
    case kOverlapping: overlapping_ = clamped; break;
    case kUseDefaultSetting: useDefault_ = clamped >= 0.5f; break;
    default: return;
    }
    changed_ = true;
}

float Stretch::GetParameter(int index) const
{
    switch (index) {
    case kTransposeRatio: return ratio_;
    case kPrecision: return precision_;
    case kFrequency: return frequency_;
    case kOverlapping: return overlapping_;
    case kUseDefaultSetting: return useDefault_ ? 1.0f : 0.0f;
    default: return 0.0f;
    }
}

void Stretch::GetBounds(int index, float& lo, float& hi) const
{
    switch (index) {
    case kTransposeRatio: lo = kMinRatio, hi = kMaxRatio; break;
    case kPrecision: lo = 0.0f, hi = kMaxPrecision; break;
    case kFrequency: lo = kMinFrequency, hi = kMaxFrequency; break;
    default: lo = 0.0f, hi = 1.0f; break;
    }
}

int Stretch::GetLatency(bool pending) const { return pending ? Plan(Load()).latency : latencyInForce_.load(); }

Stretch::Settings Stretch::Load() const
{
    return {SnapRatio(ratio_), precision_, frequency_, overlapping_, useDefault_};
}

double Stretch::SnapRatio(float ratio)
{
    const double value = std::clamp(static_cast<double>(ratio), double{kMinRatio}, double{kMaxRatio});
    return std::abs(value - 1.0) < kUnityTolerance ? 1.0 : value;
}

Stretch::Geometry Stretch::Plan(const Settings& settings) const
{
    const auto step = static_cast<std::size_t>(PrecisionStep(settings.precision));
    Geometry geometry;
    geometry.fromRatio = settings.useDefault;
    if (settings.useDefault) {
        geometry.life = std::max(2, Frames(kDefaultLifeMs[step], rate_));
    } else {
        geometry.period = std::max(1, static_cast<int>(std::lround(rate_ / double{settings.frequency})));
        geometry.fade = std::clamp(static_cast<int>(std::lround(settings.overlapping * geometry.period)), 1,
                                   geometry.period);
        geometry.life = geometry.period + geometry.fade;
    }
    geometry.search = Frames(kSearchMs[step], rate_);
    geometry.window = Frames(kWindowMs[step], rate_);
    geometry.stride = kStride[step];
    geometry.coarseStep = kCoarseStep[step];
    geometry.bound = geometry.life / 2.0 + geometry.search + kBoundSlack;
    geometry.latency = static_cast<int>(std::ceil(geometry.bound)) + kTapsAfter + 1;
    return geometry;
}

Stretch::Splice Stretch::Shape(double ratio) const
{
    if (!geometry_.fromRatio)
        return {geometry_.period, geometry_.fade};
    const double share = std::clamp(kDefaultMinOverlap + kDefaultOverlapPerOctave * std::abs(std::log2(ratio)),
                                    kDefaultMinOverlap, kDefaultMaxOverlap);
    const int fade = std::max(1, static_cast<int>(std::lround(geometry_.life * share / (1.0 + share))));
    return {std::max(1, geometry_.life - fade), fade};
}

void Stretch::Allocate()
{
    // The longest head life: a period and a fade as long as the period at
    // the lowest splice frequency; the widest search and window at the top step.
    const int life = 2 * static_cast<int>(std::ceil(rate_ / double{kMinFrequency}));
    const double bound = life / 2.0 + Frames(kSearchMs[2], rate_) + kBoundSlack;
    const auto latency = static_cast<std::size_t>(std::ceil(bound)) + kTapsAfter + 1;
    // Reads reach back L + bound + the taps before; a search reaches back
    // as far as the new head may start plus one comparison window.
    const std::size_t reach = latency + static_cast<std::size_t>(std::ceil(bound)) + kTaps +
                              static_cast<std::size_t>(Frames(kWindowMs[2], rate_)) + 64;
    size_ = std::bit_ceil(reach);
    history_.assign(static_cast<std::size_t>(channels_) * (size_ + kHistoryPad), 0.0f);
    sum_.assign(size_, 0.0f);
    const auto longestWindow = static_cast<std::size_t>(Frames(kWindowMs[2], rate_));
    const auto widestSearch = static_cast<std::size_t>(Frames(kSearchMs[2], rate_));
    taper_.assign(longestWindow, 0.0f);
    taperSquares_.assign(longestWindow, 0.0f);
    referenceTapered_.assign(longestWindow, 0.0f);
    candidates_.assign(longestWindow + 2 * widestSearch + 2, 0.0f);
    candidateSquares_.assign(longestWindow + 2 * widestSearch + 2, 0.0f);
    narrowTable_.assign(static_cast<std::size_t>(kNarrowPhases + 1) * kTaps, 0.0f);
    narrowCutoff_ = 0.0;
    scores_.assign(2 * static_cast<std::size_t>(Frames(kSearchMs[2], rate_)) + 1, 0.0);
}

void Stretch::BuildTaper()
{
    // A Hann taper on the comparison: an untapered window cuts a tone at
    // arbitrary phases, and its ends pull the correlation peak off the
    // tone's true lag by a fraction of a frame at every splice, which adds
    // up to a small error of pitch.
    const int window = geometry_.window;
    for (int k = 0; k < window; ++k) {
        const auto weight = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (k + 0.5) / window));
        taper_[static_cast<std::size_t>(k)] = weight;
        taperSquares_[static_cast<std::size_t>(k)] = weight * weight;
    }
}

void Stretch::Initialize()
{
    changed_ = false;
    geometry_ = Plan(Load());
    BuildTaper();
    latencyInForce_ = geometry_.latency;
    std::fill(history_.begin(), history_.end(), 0.0f);
    std::fill(sum_.begin(), sum_.end(), 0.0f);
    written_ = 0;
    fading_ = false;
    fadePosition_ = 0;
    const double ratio = SnapRatio(ratio_);
    const Splice splice = Shape(ratio);
    period_ = splice.period;
    sinceSplice_ = 0;
    // The first head starts where a spliced one would, on silence.
    active_ = ratio == 1.0 ? 0.0 : -(ratio - 1.0) * (splice.period + splice.fade) / 2.0;
    incoming_ = active_;
}

void Stretch::TakeSettings()
{
    if (!changed_.exchange(false))
        return;
    const Geometry next = Plan(Load());
    // Heads keep their place in the input: offsets move by the change of
    // the nominal delay, then stay within the new bound.
    const double shift = next.latency - geometry_.latency;
    geometry_ = next;
    BuildTaper();
    latencyInForce_ = next.latency;
    active_ = std::clamp(active_ + shift, -next.bound, next.bound);
    incoming_ = std::clamp(incoming_ + shift, -next.bound, next.bound);
    if (!next.fromRatio)
        period_ = std::min(period_, next.period);
}

void Stretch::Process(float** in, float** out, int frames)
{
    if (frames < 1)
        return;
    ScopedFlushDenormals flushDenormals;
    TakeSettings();
    const double ratio = SnapRatio(ratio_);
    const double drift = ratio - 1.0;
    // A head reading faster than the input would fold everything above the
    // input's Nyquist frequency / ratio back into the band: the read filter
    // closes to that frequency.
    const double cutoff = std::min(1.0, 1.0 / ratio);
    if (cutoff < 1.0 && cutoff != narrowCutoff_)
        BuildNarrowTable(cutoff);
    const double bound = geometry_.bound;
    const auto channels = static_cast<std::size_t>(channels_);
    const std::size_t mask = size_ - 1;
    const std::size_t stride = size_ + kHistoryPad;
    const std::size_t frameCount = static_cast<std::size_t>(frames);
    // After a change of ratio the heads drift at the new speed: a running
    // fade ends before either head would leave the bound, and the next
    // splice comes early enough for its own fade to fit.
    if (fading_)
        FitFade(drift);
    const int nextFade = Shape(ratio).fade;

    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        // Write the new frame; the head reads may reach it.
        const std::size_t at = static_cast<std::size_t>(written_) & mask;
        float total = 0.0f;
        for (std::size_t channel = 0; channel < channels; ++channel) {
            float sample = in[channel][frame];
            if (!std::isfinite(sample))
                sample = 0.0f;
            float* line = history_.data() + channel * stride;
            line[at] = sample;
            if (at < kHistoryPad)
                line[size_ + at] = sample;
            total += sample;
        }
        sum_[at] = total;

        // Splice when the period is over, or earlier when the head would
        // otherwise leave the bound during the next fade (after a change of
        // ratio).
        if (!fading_) {
            const double reach = active_ + drift * (nextFade + 1);
            if (sinceSplice_ >= period_ || reach > bound || reach < -bound)
                StartSplice(ratio);
        }

        alignas(64) float weights[kTaps];
        alignas(64) float incomingWeights[kTaps];
        const std::int64_t first = Weights(active_, cutoff, weights);
        if (fading_) {
            const std::int64_t incomingFirst = Weights(incoming_, cutoff, incomingWeights);
            const double angle =
                std::numbers::pi * (fadeFrom_ + (1.0 - fadeFrom_) * (fadePosition_ + 0.5) / fadeLength_);
            const auto gainIn = static_cast<float>(0.5 - 0.5 * std::cos(angle));
            const float gainOut = 1.0f - gainIn;
            for (int tap = 0; tap < kTaps; ++tap) {
                weights[tap] *= gainOut;
                incomingWeights[tap] *= gainIn;
            }
            const std::size_t start = static_cast<std::size_t>(first) & mask;
            const std::size_t incomingStart = static_cast<std::size_t>(incomingFirst) & mask;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                const float* line = history_.data() + channel * stride;
                out[channel][frame] = Dot(weights, line + start) + Dot(incomingWeights, line + incomingStart);
            }
            incoming_ += drift;
            if (++fadePosition_ >= fadeLength_) {
                fading_ = false;
                active_ = incoming_;
            } else {
                active_ += drift;
            }
        } else {
            const std::size_t start = static_cast<std::size_t>(first) & mask;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                out[channel][frame] = Dot(weights, history_.data() + channel * stride + start);
            }
            active_ += drift;
        }
        // A safety net: splices and fades are timed so that the heads stay
        // inside the bound, and a read beyond it would reach unwritten frames.
        active_ = std::clamp(active_, -bound, bound);
        incoming_ = std::clamp(incoming_, -bound, bound);
        ++sinceSplice_;
        ++written_;
    }
}

void Stretch::StartSplice(double ratio)
{
    const Splice splice = Shape(ratio);
    period_ = splice.period;
    sinceSplice_ = 0;
    if (ratio == 1.0) {
        // At unity the head belongs on the nominal delay; once there it stays.
        if (active_ == 0.0)
            return;
        incoming_ = 0.0;
    } else {
        incoming_ = Align(active_, -(ratio - 1.0) * (splice.period + splice.fade) / 2.0);
    }
    fading_ = true;
    fadePosition_ = 0;
    fadeFrom_ = 0.0;
    fadeLength_ = splice.fade;
    FitFade(ratio - 1.0);
}

int Stretch::Room(double offset, double drift) const
{
    constexpr int kFar = 1 << 30;
    const double distance = drift > 0.0 ? geometry_.bound - offset : geometry_.bound + offset;
    if (std::abs(drift) * kFar <= distance)
        return kFar;
    return static_cast<int>(std::max(0.0, std::floor(distance / std::abs(drift))));
}

void Stretch::FitFade(double drift)
{
    // Normally both heads have room for the whole fade (the splice came
    // early enough). Only a sudden change of ratio during a fade, or a
    // splice forced right after one, leaves less: the fade then ends in the
    // frames left, its gain carrying on from where it was, rather than a
    // head stopping at the bound and playing at the input's own pitch.
    const int left = fadeLength_ - fadePosition_;
    const int room = std::max(1, std::min(Room(active_, drift), Room(incoming_, drift)));
    if (left <= room)
        return;
    fadeFrom_ += (1.0 - fadeFrom_) * fadePosition_ / fadeLength_;
    fadeLength_ = room;
    fadePosition_ = 0;
}

double Stretch::Align(double current, double target)
{
    const int search = geometry_.search;
    const int window = geometry_.window;
    const std::int64_t nominal = written_ - geometry_.latency;
    std::int64_t reference = nominal + std::llround(current);
    std::int64_t centre = nominal + std::llround(target);
    // Compare what the old head is about to play with what each candidate
    // would play; where that is not yet written, compare the frames just
    // before instead (the same lag, seen a little earlier).
    const std::int64_t back = std::max<std::int64_t>(0, std::max(reference, centre + search) + window - written_);
    reference -= back;
    centre -= back;

    // Coarse pass: every `coarse`-th lag on a thinned comparison. The new
    // head goes to the highest local peak; a peak at the edge of the range
    // is taken only when there is no other, as the true peak may lie beyond
    // it and the refinement below needs both neighbours.
    // Gather the compared frames once, unwrapped: the tapered reference and
    // every candidate frame (lags -search - 1 to search + 1) with its square.
    const std::size_t mask = size_ - 1;
    for (int k = 0; k < window; ++k) {
        const auto at = static_cast<std::size_t>(k);
        referenceTapered_[at] = sum_[static_cast<std::size_t>(reference + k) & mask] * taper_[at];
    }
    const int span = window + 2 * search + 2;
    for (int j = 0; j < span; ++j) {
        const float value = sum_[static_cast<std::size_t>(centre - search - 1 + j) & mask];
        candidates_[static_cast<std::size_t>(j)] = value;
        candidateSquares_[static_cast<std::size_t>(j)] = value * value;
    }

    const int coarse = geometry_.coarseStep;
    const int count = 2 * search / coarse + 1;
    for (int i = 0; i < count; ++i)
        scores_[static_cast<std::size_t>(i)] = Similarity(-search + i * coarse, geometry_.stride);
    auto score = [this](int i) { return scores_[static_cast<std::size_t>(i)]; };
    auto closer = [&](int i, int j) { // i beats j: higher, or as high and nearer the nominal place
        const int lagI = -search + i * coarse, lagJ = -search + j * coarse;
        return score(i) > score(j) || (score(i) == score(j) && std::abs(lagI) < std::abs(lagJ));
    };
    int pick = -1;
    for (int i = 1; i + 1 < count; ++i)
        if (score(i) >= score(i - 1) && score(i) >= score(i + 1) && (pick < 0 || closer(i, pick)))
            pick = i;
    if (pick < 0) {
        pick = 0;
        for (int i = 1; i < count; ++i)
            if (closer(i, pick))
                pick = i;
    }
    int best = -search + pick * coarse;
    double bestScore = score(pick);
    // Fine pass around it on the full comparison.
    if (geometry_.stride > 1 || coarse > 1) {
        const int around = best;
        bestScore = -1.0e300;
        for (int lag = std::max(-search, around - coarse); lag <= std::min(search, around + coarse); ++lag)
            if (const double value = Similarity(lag, 1); value > bestScore) {
                bestScore = value;
                best = lag;
            }
    }
    // A parabola through the peak and its neighbours places it between frames.
    double refine = 0.0;
    const double before = Similarity(best - 1, 1);
    const double after = Similarity(best + 1, 1);
    const double curvature = before - 2.0 * bestScore + after;
    if (curvature < 0.0)
        refine = std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
    const double offset = current + static_cast<double>(centre + best - reference) + refine;
    return std::clamp(offset, -geometry_.bound, geometry_.bound);
}

double Stretch::Similarity(int lag, int stride) const
{
    const int window = geometry_.window;
    const float* reference = referenceTapered_.data();
    const float* weights = taperSquares_.data();
    const float* candidate = candidates_.data() + (lag + geometry_.search + 1);
    const float* squares = candidateSquares_.data() + (lag + geometry_.search + 1);
    if (stride > 1) {
        // Four partial sums, so the additions need not wait on each other.
        float cross[4] = {}, energy[4] = {};
        int k = 0;
        for (; k + 3 * stride < window; k += 4 * stride)
            for (int lane = 0; lane < 4; ++lane) {
                cross[lane] += reference[k + lane * stride] * candidate[k + lane * stride];
                energy[lane] += weights[k + lane * stride] * squares[k + lane * stride];
            }
        for (; k < window; k += stride) {
            cross[0] += reference[k] * candidate[k];
            energy[0] += weights[k] * squares[k];
        }
        const double crossSum = (double{cross[0]} + cross[2]) + (double{cross[1]} + cross[3]);
        const double energySum = (double{energy[0]} + energy[2]) + (double{energy[1]} + energy[3]);
        return crossSum / std::sqrt(energySum + 1.0e-20);
    }
    // Eight partial sums in a fixed order: the same result on every run,
    // and loops the compiler can vectorize.
    constexpr int kLanes = 8;
    float cross[kLanes] = {}, energy[kLanes] = {};
    int k = 0;
    for (; k + kLanes <= window; k += kLanes)
        for (int lane = 0; lane < kLanes; ++lane) {
            cross[lane] += reference[k + lane] * candidate[k + lane];
            energy[lane] += weights[k + lane] * squares[k + lane];
        }
    double crossSum = 0.0, energySum = 0.0;
    for (int lane = 0; lane < kLanes; ++lane) {
        crossSum += cross[lane];
        energySum += energy[lane];
    }
    for (; k < window; ++k) {
        crossSum += reference[k] * candidate[k];
        energySum += weights[k] * squares[k];
    }
    return crossSum / std::sqrt(energySum + 1.0e-20);
}

void Stretch::BuildNarrowTable(double cutoff)
{
    // The sinc narrowed to the cutoff, under the same window, at
    // kNarrowPhases + 1 offsets; sin(pi c d) by rotating one phasor along a row.
    const std::vector<double>& window = KaiserTable();
    const double halfWidth = kTaps / 2.0;
    const double angle = std::numbers::pi * cutoff;
    const double stepCos = std::cos(angle), stepSin = std::sin(angle);
    for (int phase = 0; phase <= kNarrowPhases; ++phase) {
        const double startDistance = -kTapsBefore - static_cast<double>(phase) / kNarrowPhases;
        double sinValue = std::sin(angle * startDistance), cosValue = std::cos(angle * startDistance);
        std::array<double, kTaps> raw{};
        double sum = 0.0;
        for (int tap = 0; tap < kTaps; ++tap) {
            const double distance = startDistance + tap;
            const double sinc = std::abs(distance) < 1.0e-9 ? cutoff : sinValue / (std::numbers::pi * distance);
            const double position = std::min(std::abs(distance) / halfWidth * kWindowPoints, double{kWindowPoints});
            const auto index = static_cast<std::size_t>(position);
            const double share = position - static_cast<double>(index);
            const double taper = window[index] + share * (window[index + 1] - window[index]);
            raw[static_cast<std::size_t>(tap)] = sinc * taper;
            sum += sinc * taper;
            const double nextSin = sinValue * stepCos + cosValue * stepSin;
            cosValue = cosValue * stepCos - sinValue * stepSin;
            sinValue = nextSin;
        }
        for (int tap = 0; tap < kTaps; ++tap)
            narrowTable_[static_cast<std::size_t>(phase * kTaps + tap)] =
                static_cast<float>(raw[static_cast<std::size_t>(tap)] / sum);
    }
    narrowCutoff_ = cutoff;
}

std::int64_t Stretch::Weights(double offset, double cutoff, float* weights) const
{
    const double whole = std::floor(offset);
    const bool narrow = cutoff < 1.0;
    const int phases = narrow ? kNarrowPhases : kPhases;
    const double scaled = (offset - whole) * phases;
    const int phase = std::min(static_cast<int>(scaled), phases - 1);
    const auto fraction = static_cast<float>(scaled - phase);
    const float* row = (narrow ? narrowTable_.data() : InterpolationTable().data()) +
                       static_cast<std::size_t>(phase) * kTaps;
    const float* next = row + kTaps;
    for (int tap = 0; tap < kTaps; ++tap)
        weights[tap] = row[tap] + fraction * (next[tap] - row[tap]);
    return written_ - geometry_.latency + static_cast<std::int64_t>(whole) - kTapsBefore;
}

} // namespace zoc::dsp
