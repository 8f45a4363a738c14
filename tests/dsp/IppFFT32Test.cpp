#include "dsp/IppFFT32.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

#include "tests/support/Measure.h"

namespace zoc::dsp {
namespace {

TEST(IppFFT32, BothDirectionsMatchTheDefinitionOnAlignedAndUnalignedArrays)
{
    for (int n : {1, 2, 8, 60, 256}) {
        SCOPED_TRACE(n);
        const auto points = static_cast<std::size_t>(n);
        const std::vector<float> re = test::Noise(points, 1);
        const std::vector<float> im = test::Noise(points, 2);
        IppFFT32 fft(n);
        for (bool aligned : {true, false}) {
            // One float past an aligned start is never on a 64-byte boundary.
            const std::size_t offset = aligned ? 0 : 1;
            AlignedBuffer inRe(points + 1), inIm(points + 1), outRe(points + 1), outIm(points + 1);
            std::copy(re.begin(), re.end(), inRe.Data() + offset);
            std::copy(im.begin(), im.end(), inIm.Data() + offset);
            for (int sign : {-1, 1}) {
                if (sign < 0)
                    fft.Forward(inRe.Data() + offset, inIm.Data() + offset, outRe.Data() + offset,
                                outIm.Data() + offset);
                else
                    fft.Inverse(inRe.Data() + offset, inIm.Data() + offset, outRe.Data() + offset,
                                outIm.Data() + offset);
                const auto want = test::Dft(re, im, sign);
                for (std::size_t k = 0; k < points; ++k) {
                    EXPECT_NEAR(outRe[k + offset], want[k].real(), 1e-4 * n);
                    EXPECT_NEAR(outIm[k + offset], want[k].imag(), 1e-4 * n);
                }
                // The forward transform leaves its input as it was.
                if (sign < 0) {
                    EXPECT_TRUE(std::equal(re.begin(), re.end(), inRe.Data() + offset));
                    EXPECT_TRUE(std::equal(im.begin(), im.end(), inIm.Data() + offset));
                }
            }
        }
    }
}

TEST(IppFFT32, RoundTripScalesBySizeAndOneArrayMayServeAsBothInputParts)
{
    const int n = 1024;
    const std::vector<float> x = test::Noise(n, 3);
    AlignedBuffer signal(n), re(n), im(n), backRe(n), backIm(n);
    std::copy(x.begin(), x.end(), signal.Data());
    IppFFT32 fft;
    fft.Init(2 * n); // a smaller size plans again
    fft.Init(n);
    fft.Init(n); // planned once; a second call changes nothing
    // z = x + i x: both parts of the result are x.
    fft.Forward(signal.Data(), signal.Data(), re.Data(), im.Data());
    fft.Inverse(re.Data(), im.Data(), backRe.Data(), backIm.Data());
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(backRe[i] / n, x[i], 1e-5f);
        EXPECT_NEAR(backIm[i] / n, x[i], 1e-5f);
    }
    EXPECT_THROW(IppFFT32(0), std::invalid_argument);
}

} // namespace
} // namespace zoc::dsp
