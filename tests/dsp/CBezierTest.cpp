#include "dsp/CBezier.h"

#include <gtest/gtest.h>

#include <vector>

using zoc::dsp::CBezier;

namespace {

CBezier Curve(const std::vector<double>& points)
{
    CBezier curve;
    curve.SetPoints(static_cast<int>(points.size() / 2), points.data());
    return curve;
}

} // namespace

TEST(CBezier, PassesThroughItsPointsAndHoldsTheEnds)
{
    const std::vector<double> points{-1.0, 2.0, 0.0, -0.5, 0.5, 3.0, 2.0, 1.0, 3.5, 1.5};
    const auto curve = Curve(points);
    for (std::size_t i = 0; i < points.size(); i += 2)
        EXPECT_NEAR(curve.GetBezier(points[i]), points[i + 1], 1e-12);
    EXPECT_EQ(curve.GetBezier(-10.0), 2.0);
    EXPECT_EQ(curve.GetBezier(10.0), 1.5);
    // Two points make a straight line.
    EXPECT_NEAR(Curve({0.0, 1.0, 4.0, 3.0}).GetBezier(1.0), 1.5, 1e-12);
    // Of points with equal x the last one counts.
    EXPECT_NEAR(Curve({0.0, 1.0, 2.0, 5.0, 2.0, 3.0, 4.0, 3.0}).GetBezier(2.0), 3.0, 1e-12);
    // Unsorted input is sorted first.
    const auto shuffled = Curve({2.0, 1.0, -1.0, 2.0, 3.5, 1.5, 0.5, 3.0, 0.0, -0.5});
    for (double x = -1.0; x <= 3.5; x += 0.1)
        EXPECT_EQ(shuffled.GetBezier(x), curve.GetBezier(x));
    // No points give zero, one point its value everywhere.
    CBezier empty;
    EXPECT_EQ(empty.GetBezier(0.3), 0.0);
    empty.SetPoints(0, nullptr);
    EXPECT_EQ(empty.GetBezier(-5.0), 0.0);
    const auto single = Curve({1.0, 0.7});
    for (double x : {-3.0, 1.0, 8.0})
        EXPECT_EQ(single.GetBezier(x), 0.7);
}

TEST(CBezier, MonotoneDataGivesAMonotoneSmoothCurveWithoutOvershoot)
{
    // Flat stretches next to steep ones: where an ordinary spline overshoots.
    const std::vector<double> points{0.0, 0.0, 1.0, 0.0, 1.1, 1.0, 3.0, 1.0, 3.2, 1.05, 6.0, 5.0};
    const auto curve = Curve(points);
    double previous = curve.GetBezier(0.0);
    for (int i = 1; i <= 6000; ++i) {
        const double x = i * 0.001;
        const double y = curve.GetBezier(x);
        ASSERT_GE(y, previous - 1e-12) << "falls at x=" << x;
        previous = y;
    }
    for (std::size_t k = 0; k + 2 < points.size(); k += 2) {
        for (int i = 1; i < 100; ++i) {
            const double y = curve.GetBezier(points[k] + (points[k + 2] - points[k]) * i / 100.0);
            ASSERT_GE(y, points[k + 1] - 1e-12) << "span " << k / 2;
            ASSERT_LE(y, points[k + 3] + 1e-12) << "span " << k / 2;
        }
    }
    // A local peak stays a peak: the curve is flat there and never higher.
    const auto peak = Curve({0.0, 0.0, 1.0, 1.0, 2.0, 0.2});
    for (double x = 0.0; x <= 2.0; x += 0.01)
        ASSERT_LE(peak.GetBezier(x), 1.0 + 1e-12);
    // Smooth: the slope is continuous through an interior point.
    const double h = 1e-6;
    const double left = (curve.GetBezier(3.0) - curve.GetBezier(3.0 - h)) / h;
    const double right = (curve.GetBezier(3.0 + h) - curve.GetBezier(3.0)) / h;
    EXPECT_NEAR(left, right, 1e-4);
}

TEST(CBezier, GetBeziersSamplesTheSameCurve)
{
    const auto curve = Curve({0.0, 0.0, 0.3, 0.8, 0.6, 0.2, 1.0, 1.0});
    std::vector<float> out(33, -1.0f);
    ASSERT_TRUE(curve.GetBeziers(out.data(), -0.2, 1.2, 33));
    for (int i = 0; i < 33; ++i)
        EXPECT_EQ(out[i], static_cast<float>(curve.GetBezier(-0.2 + 1.4 * i / 32))) << i;
    ASSERT_TRUE(curve.GetBeziers(out.data(), 0.3, 0.9, 1));
    EXPECT_EQ(out[0], 0.8f);
    EXPECT_FALSE(curve.GetBeziers(out.data(), 0.0, 1.0, 0));
    EXPECT_FALSE(curve.GetBeziers(nullptr, 0.0, 1.0, 4));
}
