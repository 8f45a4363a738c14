// Monotone piecewise-cubic curve in Bezier form.

#include "dsp/CBezier.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace zoc::dsp {

void CBezier::Reserve(int count)
{
    const auto size = static_cast<std::size_t>(std::max(count, 0));
    x_.reserve(size);
    y_.reserve(size);
    slopes_.reserve(size);
    sorted_.reserve(size);
    secants_.reserve(size);
}

void CBezier::SetPoints(int count, const double* points)
{
    sorted_.clear();
    if (points != nullptr && count > 0) {
        for (int i = 0; i < count; ++i)
            sorted_.emplace_back(points[2 * i], points[2 * i + 1]);
    }
    // Insertion sort: stable, in place (no scratch allocation), and quick for
    // the handful of points a curve has.
    for (std::size_t i = 1; i < sorted_.size(); ++i) {
        for (std::size_t k = i; k > 0 && sorted_[k].first < sorted_[k - 1].first; --k)
            std::swap(sorted_[k], sorted_[k - 1]);
    }
    x_.clear();
    y_.clear();
    for (const auto& [x, y] : sorted_) {
        if (!x_.empty() && x == x_.back()) {
            y_.back() = y;
            continue;
        }
        x_.push_back(x);
        y_.push_back(y);
    }

    const std::size_t n = x_.size();
    slopes_.assign(n, 0.0);
    if (n < 2)
        return;
    std::vector<double>& secants = secants_;
    secants.resize(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k)
        secants[k] = (y_[k + 1] - y_[k]) / (x_[k + 1] - x_[k]);
    // Ends take the neighbouring secant; inner points the mean of the two
    // secants, or a flat tangent at a local extremum.
    slopes_[0] = secants[0];
    slopes_[n - 1] = secants[n - 2];
    for (std::size_t k = 1; k + 1 < n; ++k)
        slopes_[k] = secants[k - 1] * secants[k] > 0.0 ? 0.5 * (secants[k - 1] + secants[k]) : 0.0;
    // Fritsch-Carlson: scale tangents that are too steep for their span
    // (alpha^2 + beta^2 > 9) back onto the circle of radius 3. That keeps
    // both tangents within three times the secant, which is what holds the
    // Bezier control points inside the span.
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (secants[k] == 0.0) {
            slopes_[k] = 0.0;
            slopes_[k + 1] = 0.0;
            continue;
        }
        const double alpha = slopes_[k] / secants[k];
        const double beta = slopes_[k + 1] / secants[k];
        const double radius = alpha * alpha + beta * beta;
        if (radius > 9.0) {
            const double tau = 3.0 / std::sqrt(radius);
            slopes_[k] = tau * alpha * secants[k];
            slopes_[k + 1] = tau * beta * secants[k];
        }
    }
}

double CBezier::GetBezier(double x) const
{
    const std::size_t n = x_.size();
    if (n == 0)
        return 0.0;
    if (x <= x_.front())
        return y_.front();
    if (x >= x_.back())
        return y_.back();
    const std::size_t k =
        static_cast<std::size_t>(std::upper_bound(x_.begin(), x_.end(), x) - x_.begin()) - 1;
    const double width = x_[k + 1] - x_[k];
    const double t = (x - x_[k]) / width;
    const double u = 1.0 - t;
    // Control points a third of the span along each end tangent.
    const double p0 = y_[k];
    const double p1 = y_[k] + slopes_[k] * width / 3.0;
    const double p2 = y_[k + 1] - slopes_[k + 1] * width / 3.0;
    const double p3 = y_[k + 1];
    return u * u * u * p0 + 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 + t * t * t * p3;
}

bool CBezier::GetBeziers(float* out, double start, double end, int count) const
{
    if (out == nullptr || count < 1)
        return false;
    if (count == 1) {
        out[0] = static_cast<float>(GetBezier(start));
        return true;
    }
    const double span = end - start;
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<float>(GetBezier(start + span * i / (count - 1)));
    return true;
}

} // namespace zoc::dsp
