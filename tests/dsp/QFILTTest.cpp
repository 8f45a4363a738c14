#include "dsp/QFILT.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/Measure.h"

namespace zoc::dsp {
namespace {

// Any band more than 0.001 dB off switches the filter on; a copied lane
// carries on sample for sample as the lane it copies.
TEST(QFILT, SmallBoostsCountAndACopiedLaneCarriesOn)
{
    EXPECT_FALSE(QFILT::Gains::FromDecibels({0.0005f, 0, 0, 0, 0, 0, 0, -0.0005f}).active);
    EXPECT_TRUE(QFILT::Gains::FromDecibels({0, 0, 0, 0.05f, 0, 0, 0, 0}).active);

    QFILT filter;
    filter.SetGains(QFILT::Gains::FromDecibels({6, 0, -6, 0, 3, 0, -3, 0}));
    const std::vector<float> noise = test::Noise(400, 5);
    std::vector<QFILT::Lanes> block(noise.size());
    for (std::size_t i = 0; i < noise.size(); ++i)
        block[i] = QFILT::Lanes{noise[i], i < 200 ? 0.0f : noise[i], 0.0f, 0.0f};
    filter.Process(block.data(), 200);
    filter.CopyLane(0, 1);
    filter.Process(block.data() + 200, 200);
    for (std::size_t i = 200; i < block.size(); ++i)
        ASSERT_EQ(block[i][1], block[i][0]) << i;
}

} // namespace
} // namespace zoc::dsp
