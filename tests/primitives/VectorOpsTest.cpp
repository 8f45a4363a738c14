#include "primitives/VectorOps.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace zp = zoc::primitives;

namespace {

constexpr std::size_t kLengths[] = {0, 1, 7, 1023};
constexpr float kGuard = -12345.0f; // fills the slots around every output array
constexpr float kFactor = 0.3f;

// Values in [-4, 4) with a sprinkling of signed zeros, NaN and infinity.
std::vector<float> Signal(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-4.0f, 4.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = dist(rng);
    const float specials[] = {-0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(), -INFINITY};
    for (std::size_t i = 3; i < n; i += 97) v[i] = specials[i % 4];
    return v;
}

bool SameFloat(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) || (std::isnan(a) && std::isnan(b));
}

// Element i of `actual` equals element i of `expected` bit for bit, and the
// guard slots either side of it are untouched.
void ExpectSame(const float* actual, const std::vector<float>& expected, const char* what)
{
    EXPECT_EQ(actual[-1], kGuard) << what << ": wrote before the start";
    EXPECT_EQ(actual[expected.size()], kGuard) << what << ": wrote past the end";
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_TRUE(SameFloat(actual[i], expected[i])) << what << " n=" << expected.size() << " i=" << i
                                                       << ": " << actual[i] << " vs " << expected[i];
}

// A buffer whose data starts at an odd float offset, so it is never 16-byte aligned.
struct Misaligned {
    std::vector<float> storage;
    explicit Misaligned(const std::vector<float>& v, std::size_t offset = 1) : storage(v.size() + offset + 1, kGuard)
    {
        data = storage.data() + offset;
        for (std::size_t i = 0; i < v.size(); ++i) data[i] = v[i];
    }
    float* data;
};

using Binary = std::function<void(const float*, const float*, float*, std::size_t)>;
using Elementwise = std::function<float(float, float)>;

} // namespace

TEST(VectorOps, BinaryOpsMatchScalarLoopOutOfPlaceAndInPlace)
{
    const std::pair<Binary, Elementwise> cases[] = {
        {zp::Add, [](float a, float b) { return a + b; }},
        {zp::Subtract, [](float a, float b) { return a - b; }},
        {zp::Multiply, [](float a, float b) { return a * b; }},
        {[](const float* a, const float*, float* d, std::size_t n) { zp::Scale(a, kFactor, d, n); },
         [](float a, float) { return a * kFactor; }},
        {[](const float* a, const float*, float* d, std::size_t n) { zp::Abs(a, d, n); },
         [](float a, float) { return std::fabs(a); }},
        {[](const float* a, const float*, float* d, std::size_t n) { zp::Square(a, d, n); },
         [](float a, float) { return a * a; }},
        {[](const float* a, const float*, float* d, std::size_t n) { zp::Copy(a, d, n); },
         [](float a, float) { return a; }},
    };
    for (const auto& [op, f] : cases) {
        for (std::size_t n : kLengths) {
            const auto a = Signal(n, 1), b = Signal(n, 2);
            std::vector<float> expected(n), same(n);
            for (std::size_t i = 0; i < n; ++i) expected[i] = f(a[i], b[i]), same[i] = f(a[i], a[i]);
            Misaligned ma(a, 1), mb(b, 2), out(std::vector<float>(n, 0.0f), 3);
            op(ma.data, mb.data, out.data, n);
            ExpectSame(out.data, expected, "out of place");
            op(ma.data, mb.data, ma.data, n);
            ExpectSame(ma.data, expected, "destination == a");
            Misaligned ma2(a);
            op(ma2.data, mb.data, mb.data, n);
            ExpectSame(mb.data, expected, "destination == b");
            op(ma2.data, ma2.data, ma2.data, n);
            ExpectSame(ma2.data, same, "destination == a == b");
        }
    }
}

TEST(VectorOps, InPlaceVariantsAndFillMatchScalarLoop)
{
    for (std::size_t n : kLengths) {
        const auto x = Signal(n, 3), y = Signal(n, 4);
        std::vector<float> scaled(n), added(n), filled(n, 0.25f);
        for (std::size_t i = 0; i < n; ++i) scaled[i] = x[i] * -1.7f, added[i] = x[i] + y[i];
        Misaligned a(x), b(x, 2), c(y, 3), d(std::vector<float>(n, 0.0f), 2);
        zp::ScaleInPlace(a.data, -1.7f, n);
        ExpectSame(a.data, scaled, "ScaleInPlace");
        zp::AddInPlace(c.data, b.data, n);
        ExpectSame(b.data, added, "AddInPlace");
        zp::Fill(0.25f, d.data, n);
        ExpectSame(d.data, filled, "Fill");
    }
}

TEST(VectorOps, MultiplyAccumulateRoundsProductBeforeAdding)
{
    // (1 + 2^-23)(1 - 2^-23) = 1 - 2^-46 rounds to 1, so the rounded result is
    // exactly 0 while a fused multiply-add would give -2^-46.
    const float eps = std::numeric_limits<float>::epsilon();
    std::vector<float> a = {1.0f + eps}, b = {1.0f - eps}, acc = {-1.0f};
    zp::MultiplyAccumulate(a.data(), b.data(), acc.data(), 1);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(acc[0]), 0u);

    for (std::size_t n : kLengths) {
        const auto x = Signal(n, 5), y = Signal(n, 6), z = Signal(n, 7);
        std::vector<float> expected(n), expectedSquare(n);
        std::size_t fusedWouldDiffer = 0;
        for (std::size_t i = 0; i < n; ++i) {
            volatile float product = x[i] * y[i], square = z[i] * z[i];
            expected[i] = z[i] + product;
            expectedSquare[i] = z[i] + square;
            fusedWouldDiffer += !SameFloat(expected[i], std::fma(x[i], y[i], z[i]));
        }
        if (n > 100) {
            EXPECT_GT(fusedWouldDiffer, n / 10) << "data does not tell fused from rounded";
        }
        Misaligned ma(x), mb(y, 2), acc1(z, 3), acc2(z);
        zp::MultiplyAccumulate(ma.data, mb.data, acc1.data, n);
        ExpectSame(acc1.data, expected, "MultiplyAccumulate");
        zp::MultiplyAccumulate(acc2.data, acc2.data, acc2.data, n);
        ExpectSame(acc2.data, expectedSquare, "MultiplyAccumulate, all the same array");
    }
}

TEST(VectorOps, ReverseOutOfPlaceAndInPlaceForOddAndEvenLengths)
{
    for (std::size_t n : {0, 1, 2, 7, 8, 1023, 1024}) {
        const auto x = Signal(n, 8);
        const std::vector<float> expected(x.rbegin(), x.rend());
        Misaligned in(x), out(std::vector<float>(n, 0.0f), 2);
        zp::Reverse(in.data, out.data, n);
        ExpectSame(out.data, expected, "Reverse");
        zp::Reverse(in.data, in.data, n);
        ExpectSame(in.data, expected, "Reverse in place");
    }
}

TEST(VectorOps, LnMatchesStdLogIncludingEdgeValues)
{
    const float inf = std::numeric_limits<float>::infinity();
    auto x = Signal(1023, 9);
    for (auto& v : x) v = std::fabs(v) * 1000.0f;
    const std::vector<float> edges = {0.0f, -0.0f, -1.0f, -inf, 1.0f, inf, std::numeric_limits<float>::quiet_NaN(),
                                      std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()};
    x.insert(x.begin(), edges.begin(), edges.end());
    std::vector<float> expected(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) expected[i] = std::log(x[i]);
    Misaligned in(x), out(std::vector<float>(x.size(), 0.0f), 2);
    zp::Ln(in.data, out.data, x.size());
    ExpectSame(out.data, expected, "Ln");
    EXPECT_EQ(out.data[0], -inf);
    EXPECT_EQ(out.data[1], -inf);
    EXPECT_TRUE(std::isnan(out.data[2]) && std::isnan(out.data[3]));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(out.data[4]), 0u);
    zp::Ln(in.data, in.data, x.size());
    ExpectSame(in.data, expected, "Ln in place");
}
