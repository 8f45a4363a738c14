// The stand-in host's driving of a component.

#include "platform/host/Session.h"

#include <gtest/gtest.h>

namespace zoc::host {
namespace {

// Records the block sizes it sees and the frame at which parameter 0 changed.
class RecordingFilter : public AudioFilter {
public:
    RecordingFilter() : AudioFilter("recording", u"Recording") {}
    int GetParameterCount() override { return 1; }
    void SetParameter(int index, float value) override
    {
        changes.emplace_back(position, value);
        AudioFilter::SetParameter(index, value);
    }
    void Process(float** in, float** out, int frames) override
    {
        blocks.push_back(frames);
        for (int i = 0; i < frames; ++i)
            out[0][i] = in[0][i] + 1.0f;
        position += frames;
    }
    std::vector<int> blocks;
    std::vector<std::pair<std::int64_t, float>> changes;
    std::int64_t position = 0;
};

TEST(Session, SplitsBlocksWhereChangesAreScheduled)
{
    core::Ref<RecordingFilter> filter(new RecordingFilter);
    Session session(filter);
    ASSERT_TRUE(session.Configure(1, 48000.0f));
    session.SetBlockSize(512);
    session.ScheduleParameter(700, 0, 0.25f);
    session.ScheduleParameter(100, 0, 0.5f);
    session.ScheduleParameter(700, 0, 0.75f);
    session.Resume();

    std::vector<float> input(1500, 1.0f);
    std::vector<float> output(1500, 0.0f);
    float* in = input.data();
    float* out = output.data();
    session.Process(&in, &out, 1000);
    session.Process(&in, &out, 500);

    EXPECT_EQ(filter->blocks, (std::vector<int>{100, 512, 88, 300, 500}));
    ASSERT_EQ(filter->changes.size(), 3u);
    EXPECT_EQ(filter->changes[0], (std::pair<std::int64_t, float>{100, 0.5f}));
    // Changes at the same frame keep the order they were scheduled in.
    EXPECT_EQ(filter->changes[1], (std::pair<std::int64_t, float>{700, 0.25f}));
    EXPECT_EQ(filter->changes[2], (std::pair<std::int64_t, float>{700, 0.75f}));
    EXPECT_EQ(output[999], 2.0f);
    EXPECT_EQ(session.Position(), 1500);
}

TEST(Session, DefaultFilterTakesAnyLayoutAndPassesThrough)
{
    core::Ref<AudioFilter> filter(new AudioFilter("plain", u"Plain"));
    Session session(filter);
    ASSERT_TRUE(session.Configure(6, 44100.0f));
    EXPECT_EQ(filter->GetNumberOfOutputChannels(), 6u);
    EXPECT_EQ(filter->GetSampleRate(), 44100.0f);
    std::vector<std::vector<float>> channels(6, std::vector<float>(10, 0.5f));
    std::vector<float*> pointers;
    for (auto& channel : channels)
        pointers.push_back(channel.data());
    session.Resume();
    session.Process(pointers.data(), pointers.data(), 10);
    EXPECT_EQ(channels[5][9], 0.5f);
}

} // namespace
} // namespace zoc::host
