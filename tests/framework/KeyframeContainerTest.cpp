// KeyframeContainer: envelope values against straight-line references, edits,
// spline smoothing, notifications and concurrent block reads.

#include "framework/KeyframeContainer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/core/Threads.h"

namespace zoc {
namespace {

using Keyframe = KeyframeContainer::Keyframe;

core::Ref<KeyframeContainer> Envelope(std::initializer_list<Keyframe> keyframes)
{
    auto container = core::MakeRef<KeyframeContainer>();
    for (const Keyframe& keyframe : keyframes)
        container->InsertKeyframe(keyframe);
    return container;
}

std::vector<float> Values(KeyframeContainer& container, std::int64_t start, int count)
{
    std::vector<float> out(static_cast<std::size_t>(count), -1.0f);
    EXPECT_TRUE(container.GetValues(start, count, out.data()));
    return out;
}

// The envelope should be the straight line between keyframes; block reads
// may lag it by at most one sample's step, and never jump by more than two.
TEST(KeyframeContainerTest, ValuesFollowTheLinesBetweenKeyframes)
{
    // 100: 0.2, 200: 0.6 (hold), 300: 1.0; default 0.5 never shows.
    auto envelope = Envelope({{0.2f, 100}, {0.6f, 200, true}, {1.0f, 300}});
    envelope->SetDefaultValue(0.5f);
    const auto line = [](std::int64_t n) -> double {
        if (n <= 100)
            return 0.2;
        if (n >= 300)
            return 1.0;
        return n <= 200 ? 0.2 + 0.4 * (n - 100) / 100.0 : 0.6 + 0.4 * (n - 200) / 100.0;
    };
    constexpr double kStep = 0.4 / 100.0;
    for (const int block : {400, 1, 37, 100}) {
        for (std::int64_t start = 0; start < 400; start += block) {
            const std::vector<float> values = Values(*envelope, start, block);
            for (int i = 0; i < block; ++i) {
                const std::int64_t n = start + i;
                ASSERT_NEAR(values[static_cast<std::size_t>(i)], line(n), kStep + 1e-6) << "block " << block << " n " << n;
                if (i > 0) {
                    ASSERT_LE(std::fabs(values[static_cast<std::size_t>(i)] - values[static_cast<std::size_t>(i) - 1]),
                              2 * kStep + 1e-6);
                }
            }
        }
    }
    // Single reads step on a hold keyframe instead of ramping.
    for (const auto& [position, expected] : {std::pair<std::int64_t, float>{0, 0.2f}, {100, 0.2f}, {150, 0.4f},
                                              {200, 0.6f}, {299, 0.6f}, {300, 1.0f}, {10000, 1.0f}})
        EXPECT_FLOAT_EQ(envelope->GetValue(position), expected) << position;
}

TEST(KeyframeContainerTest, FewKeyframesGiveConstantEnvelopes)
{
    struct Case {
        core::Ref<KeyframeContainer> envelope;
        float expected;
    };
    auto none = Envelope({});
    none->SetDefaultValue(0.3f);
    for (const Case& c : {Case{none, 0.3f}, Case{Envelope({{0.7f, 50}}), 0.7f}}) {
        for (const float value : Values(*c.envelope, -10, 200))
            ASSERT_EQ(value, c.expected);
        EXPECT_EQ(c.envelope->GetValue(1000), c.expected);
    }
    float unused = 0.0f;
    EXPECT_FALSE(none->GetValues(0, 0, &unused));
}

TEST(KeyframeContainerTest, EditsKeepPositionsUniqueAndValuesInRange)
{
    auto envelope = Envelope({{0.8f, 0}, {0.25f, 10}, {0.0f, 20}, {0.5f, 30}, {0.5f, 40}});
    envelope->InsertKeyframe(10, 0.3f, true, false); // replaces
    EXPECT_EQ(envelope->GetCount(), 5u);
    Keyframe at10;
    ASSERT_TRUE(envelope->GetKeyframe(10, at10));
    EXPECT_EQ(at10.value, 0.3f);
    EXPECT_TRUE(at10.hold);

    envelope->BoostKeyframes(6.0f);
    std::vector<float> boosted;
    for (auto it = envelope->Begin(); it != envelope->End(); ++it)
        boosted.push_back(it->value);
    EXPECT_EQ(boosted[0], 1.0f);                                 // 0.8 at +6 dB clamps to full scale
    EXPECT_NEAR(boosted[1], 0.3f * std::pow(10.0f, 0.3f), 1e-5f); // +6 dB
    EXPECT_EQ(boosted[2], 0.0f);                                 // silence stays silent

    envelope->OffsetKeyframes(0.6f, 25, 45);
    EXPECT_EQ(envelope->GetValue(30), 1.0f);
    EXPECT_EQ(envelope->GetValue(20), 0.0f);

    // Removing 10..20 and closing the gap pulls 30 and 40 back by 10.
    envelope->RemoveKeyframes(10, 20, true);
    std::vector<std::int64_t> positions;
    for (auto it = envelope->Begin(); it != envelope->End(); ++it)
        positions.push_back(it->position);
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 20, 30}));
    envelope->ShiftKeyframes(0, -5);
    std::int64_t first = 0;
    float value = 0.0f;
    ASSERT_TRUE(envelope->GetFirstKeyframe(&first, &value));
    EXPECT_EQ(first, -5);
}

TEST(KeyframeContainerTest, SplinesNeedThreeDistinctPointsAndStayWithinTheKeyframes)
{
    struct Case {
        const char* what;
        std::initializer_list<Keyframe> keyframes;
        bool spline;
    };
    // The range is 0..1000: keyframes inside it gain start and end points.
    for (const Case& c : {Case{"two at the range ends", {{0.0f, 0}, {1.0f, 1000}}, false},
                          Case{"two inside the range", {{0.0f, 250}, {1.0f, 750}}, true},
                          Case{"three equal", {{0.5f, 0}, {0.5f, 500}, {0.5f, 1000}}, false},
                          Case{"three at the ends", {{0.0f, 0}, {1.0f, 500}, {0.0f, 1000}}, true}}) {
        auto envelope = Envelope(c.keyframes);
        envelope->SetSampleRange(0, 1000);
        envelope->EnableSplines(true);
        EXPECT_EQ(envelope->CanShowSplines(), c.spline) << c.what;
        const std::vector<float> values = Values(*envelope, 0, 1001);
        for (std::size_t n = 0; n < values.size(); ++n) {
            ASSERT_GE(values[n], 0.0f) << c.what;
            ASSERT_LE(values[n], 1.0f) << c.what;
        }
        if (!c.spline)
            continue;
        // Smooth: the second difference of a spline is tiny compared with
        // the kink a straight-line envelope has at a keyframe.
        float worstBend = 0.0f;
        for (std::size_t n = 1; n + 1 < values.size(); ++n)
            worstBend = std::max(worstBend, std::fabs(values[n + 1] - 2 * values[n] + values[n - 1]));
        EXPECT_LT(worstBend, 1e-4f) << c.what;
    }
}

TEST(KeyframeContainerTest, SignalsFireOnceOnTheChangingThread)
{
    auto envelope = Envelope({{0.0f, 0}, {1.0f, 500}, {0.0f, 1000}});
    std::vector<bool> flags;
    int defaults = 0;
    const std::thread::id self = std::this_thread::get_id();
    envelope->GetKeyframesChangedSignal().connect([&](core::Ref<KeyframeContainer> sender, bool flag) {
        EXPECT_EQ(sender.get(), envelope.get());
        EXPECT_EQ(std::this_thread::get_id(), self);
        flags.push_back(flag);
    });
    envelope->GetDefaultValueChangedSignal().connect([&](core::Ref<KeyframeContainer>) { ++defaults; });

    envelope->InsertKeyframe(200, 0.5f, false, false); // plain edits are silent
    envelope->EnableSplines(true);
    envelope->EnableSplines(true); // no change, no signal
    KeyframeContainer::KeyframeSet set;
    envelope->GetKeyframes(set);
    envelope->SetKeyframes(set, false);
    envelope->ShiftKeyframes(0, 10);
    envelope->SetDefaultValue(0.25f);
    envelope->SetDefaultValue(0.25f);
    core::threads::RunPendingEvents();
    EXPECT_EQ(flags, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(defaults, 1);
}

// A writer edits while a reader takes blocks: every block must be a
// consistent envelope (all values inside the keyframes' 0.25..0.75).
TEST(KeyframeContainerThreaded, BlockReadsStayConsistentDuringEdits)
{
    auto envelope = Envelope({{0.25f, 0}, {0.75f, 4096}});
    envelope->SetSampleRange(0, 4096);
    envelope->SetDefaultValue(0.5f);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int round = 0; round < 2000; ++round) {
            const std::int64_t position = (round * 97) % 4096;
            envelope->InsertKeyframe(position, round % 2 ? 0.25f : 0.75f, round % 3 == 0, false);
            if (round % 5 == 0)
                envelope->RemoveKeyframeAt(position);
            if (round % 50 == 0)
                envelope->EnableSplines(round % 100 == 0);
        }
        done = true;
        core::threads::RunPendingEvents();
    });
    std::vector<float> block(256);
    std::size_t reads = 0;
    while (!done || reads < 100) {
        const std::int64_t start = static_cast<std::int64_t>(reads * 256) % 4096;
        ASSERT_TRUE(envelope->GetValues(start, 256, block.data()));
        for (const float value : block)
            ASSERT_TRUE(value >= 0.25f - 1e-6f && value <= 0.75f + 1e-6f) << value;
        ++reads;
    }
    writer.join();
}

} // namespace
} // namespace zoc
