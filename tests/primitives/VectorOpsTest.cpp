#include "primitives/VectorOps.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace zp = zoc::primitives;

namespace {

constexpr std::size_t kLengths[] = {0, 1, 7, 1023};
constexpr float kGuard = -12345.0f; // fills the slots around every output array
constexpr float kFactor = 0.3f;

// Values in [-4, 4) with a sprinkling of signed zeros, one, the smallest
// denormal, NaN and both infinities.
std::vector<float> Signal(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-4.0f, 4.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = dist(rng);
    const float specials[] = {-0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(), -INFINITY, INFINITY, 1.0f,
                              std::numeric_limits<float>::denorm_min()};
    for (std::size_t i = 3; i < n; i += 97) v[i] = specials[i % 7];
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

// A buffer whose data starts 1 to 3 floats past the vector's own (aligned)
// start, framed by guard values.
struct Misaligned {
    std::vector<float> storage;
    explicit Misaligned(const std::vector<float>& v, std::size_t offset = 1) : storage(v.size() + offset + 1, kGuard)
    {
        data = storage.data() + offset;
        for (std::size_t i = 0; i < v.size(); ++i) data[i] = v[i];
    }
    float* data;
};

// op(a, b, destination, n), and the value the plain loop gives for one element
// from a[i], b[i] and the destination's previous value.
using Op = std::function<void(const float*, const float*, float*, std::size_t)>;
using Reference = std::function<float(float a, float b, float old)>;

} // namespace

TEST(VectorOps, EveryOpMatchesScalarLoopWithEachAllowedAliasing)
{
    const std::tuple<const char*, Op, Reference> cases[] = {
        {"Copy", [](auto a, auto, auto d, auto n) { zp::Copy(a, d, n); }, [](float a, float, float) { return a; }},
        {"Fill", [](auto, auto, auto d, auto n) { zp::Fill(0.25f, d, n); }, [](float, float, float) { return 0.25f; }},
        {"Scale", [](auto a, auto, auto d, auto n) { zp::Scale(a, kFactor, d, n); },
         [](float a, float, float) { return a * kFactor; }},
        {"ScaleInPlace", [](auto, auto, auto d, auto n) { zp::ScaleInPlace(d, kFactor, n); },
         [](float, float, float old) { return old * kFactor; }},
        {"Add", zp::Add, [](float a, float b, float) { return a + b; }},
        {"AddInPlace", [](auto a, auto, auto d, auto n) { zp::AddInPlace(a, d, n); },
         [](float a, float, float old) { return old + a; }},
        {"Subtract", zp::Subtract, [](float a, float b, float) { return a - b; }},
        {"Multiply", zp::Multiply, [](float a, float b, float) { return a * b; }},
        {"MultiplyAccumulate", zp::MultiplyAccumulate,
         [](float a, float b, float old) {
             volatile float product = a * b; // stored, so it cannot fuse with the add
             return old + product;
         }},
        {"ScaleAccumulate", [](auto a, auto, auto d, auto n) { zp::ScaleAccumulate(a, kFactor, d, n); },
         [](float a, float, float old) {
             volatile float product = a * kFactor;
             return old + product;
         }},
        {"Abs", [](auto a, auto, auto d, auto n) { zp::Abs(a, d, n); }, [](float a, float, float) { return std::fabs(a); }},
        {"Square", [](auto a, auto, auto d, auto n) { zp::Square(a, d, n); }, [](float a, float, float) { return a * a; }},
        {"Ln", [](auto a, auto, auto d, auto n) { zp::Ln(a, d, n); }, [](float a, float, float) { return std::log(a); }},
    };
    const char* aliasing[] = {"distinct arrays", "destination == a", "destination == b", "destination == a == b"};
    for (const auto& [name, op, reference] : cases) {
        for (std::size_t n : kLengths) {
            for (int alias = 0; alias < 4; ++alias) {
                Misaligned a(Signal(n, 1), 1), b(Signal(n, 2), 2), d(Signal(n, 3), 3);
                float* pb = alias == 3 ? a.data : b.data;
                float* pd = alias == 0 ? d.data : alias == 2 ? b.data : a.data;
                std::vector<float> expected(n);
                for (std::size_t i = 0; i < n; ++i) expected[i] = reference(a.data[i], pb[i], pd[i]);
                op(a.data, pb, pd, n);
                ExpectSame(pd, expected, (std::string(name) + ", " + aliasing[alias]).c_str());
            }
        }
    }
}

TEST(VectorOps, MultiplyAccumulateNeverFuses)
{
    // (1 + 2^-23)(1 - 2^-23) = 1 - 2^-46 rounds to 1, so the rounded result is
    // exactly 0 while a fused multiply-add would give -2^-46.
    const float eps = std::numeric_limits<float>::epsilon();
    float a = 1.0f + eps, b = 1.0f - eps, acc = -1.0f;
    zp::MultiplyAccumulate(&a, &b, &acc, 1);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(acc), 0u);
    // The comparison above with the stored-product loop only proves something
    // if fusing would change many of the results for the same data.
    const auto x = Signal(1023, 1), y = Signal(1023, 2), z = Signal(1023, 3);
    std::size_t fusedDiffers = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        volatile float product = x[i] * y[i];
        fusedDiffers += !SameFloat(z[i] + product, std::fma(x[i], y[i], z[i]));
    }
    EXPECT_GT(fusedDiffers, x.size() / 10);
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
