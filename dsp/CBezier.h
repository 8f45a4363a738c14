#pragma once
// CBezier: a smooth curve through a set of (x, y) points, for response
// curves drawn as a few handles (gain curves, transfer curves). Each span
// between neighbouring points is a cubic Bezier whose inner control points
// follow monotone (Fritsch-Carlson) tangents: the control points stay within
// the span's own y range, so the curve never overshoots between points and
// rising data gives a rising curve. Left of the first and right of the last
// point the curve holds the end values.

#include <utility>
#include <vector>

namespace zoc::dsp {

class CBezier {
public:
    /// Takes `count` (x, y) pairs, interleaved, sorted by x (sorted here if
    /// not). Of points with equal x the last one counts. Allocates; control
    /// thread.
    void SetPoints(int count, const double* points);

    int PointCount() const { return static_cast<int>(x_.size()); }

    /// The curve at x: 0 with no points, the point's y with one.
    /// Real-time safe.
    double GetBezier(double x) const;

    /// Fills out[0..count-1] with the curve at x = start + (end - start) * i /
    /// (count - 1) (just start when count is 1). False, and nothing written,
    /// when count < 1 or out is null. Real-time safe.
    bool GetBeziers(float* out, double start, double end, int count) const;

    /// Makes room for `count` points, so that SetPoints with at most that
    /// many never allocates (call it at set-up, not on the audio thread).
    void Reserve(int count);

private:
    std::vector<double> x_;
    std::vector<double> y_;
    /// Tangent dy/dx at each point.
    std::vector<double> slopes_;
    // Scratch space for SetPoints, kept so a reserved curve never allocates.
    std::vector<std::pair<double, double>> sorted_;
    std::vector<double> secants_;
};

} // namespace zoc::dsp
