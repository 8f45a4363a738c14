#include "framework/DefaultOfflineWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace zoc {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// Two channels of 0, 1, 2, ... (the second negated), starting at `first`.
std::vector<std::vector<float>> Ramp(long frames, float first)
{
    std::vector<std::vector<float>> planar(2, std::vector<float>(static_cast<std::size_t>(frames)));
    for (long i = 0; i < frames; ++i) {
        planar[0][static_cast<std::size_t>(i)] = first + static_cast<float>(i);
        planar[1][static_cast<std::size_t>(i)] = -(first + static_cast<float>(i));
    }
    return planar;
}

struct Pointers {
    explicit Pointers(std::vector<std::vector<float>>& planar)
    {
        for (auto& channel : planar)
            all.push_back(channel.data());
    }
    const float** In() { return const_cast<const float**>(all.data()); }
    float** Out() { return all.data(); }
    std::vector<float*> all;
};

TEST(DefaultOfflineWriter, FillsTakesAndWrapsInOrder)
{
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(2, 4);
    writer->SetOpenToWrite(true);
    int mediaReady = 0;
    writer->GetMediaReadySignal().connect([&mediaReady] { ++mediaReady; });

    auto source = Ramp(6, 0.0f);
    Pointers in(source);
    EXPECT_EQ(writer->PutAudio(in.In(), 2, 0, 6), 4); // full: space gate closes
    EXPECT_EQ(mediaReady, 1);
    const auto start = Clock::now();
    EXPECT_EQ(writer->PutAudio(in.In(), 2, 4, 2), 0); // waits 50 ms for room, then gives up
    EXPECT_GE(MillisecondsSince(start), 40.0);

    std::vector<std::vector<float>> taken(2, std::vector<float>(6, 99.0f));
    Pointers out(taken);
    EXPECT_EQ(writer->GetAudio(out.Out(), 2, 3), 3);
    EXPECT_EQ(taken[0][0], 0.0f);
    EXPECT_EQ(taken[0][2], 2.0f);
    EXPECT_EQ(taken[1][2], -2.0f);

    // Three frames of room: the next put wraps around the end of the ring.
    auto more = Ramp(6, 4.0f);
    Pointers moreIn(more);
    EXPECT_EQ(writer->PutAudio(moreIn.In(), 2, 0, 6), 3);
    EXPECT_EQ(mediaReady, 2);
    EXPECT_EQ(writer->GetAudio(out.Out(), 2, 6), 4);
    const std::vector<float> expected{3.0f, 4.0f, 5.0f, 6.0f};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(taken[0][i], expected[i]) << i;
        EXPECT_EQ(taken[1][i], -expected[i]) << i;
    }
}

TEST(DefaultOfflineWriter, RefusesAndReturnsAtOnceWhenClosed)
{
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(1, 16);
    std::vector<std::vector<float>> planar(1, std::vector<float>(8, 1.0f));
    Pointers pointers(planar);
    EXPECT_EQ(writer->PutAudio(pointers.In(), 1, 0, 8), 0) << "not open to write";

    auto start = Clock::now();
    EXPECT_EQ(writer->GetAudio(pointers.Out(), 1, 8), 0);
    EXPECT_LT(MillisecondsSince(start), 50.0) << "closed and empty must not wait";

    // Open and empty: the consumer waits its 250 ms for data, then gives up.
    writer->SetOpenToWrite(true);
    start = Clock::now();
    EXPECT_EQ(writer->GetAudio(pointers.Out(), 1, 8), 0);
    EXPECT_GE(MillisecondsSince(start), 200.0);
    EXPECT_EQ(writer->GetAudio(pointers.Out(), 1, 0), 0);
}

TEST(DefaultOfflineWriter, InitializeKeepsLargerBuffersAndEmpties)
{
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(4, 1024);
    writer->SetStartAdjust(77);
    writer->SetOpenToWrite(true);
    std::vector<std::vector<float>> planar(4, std::vector<float>(16, 1.0f));
    Pointers pointers(planar);
    ASSERT_EQ(writer->PutAudio(pointers.In(), 4, 0, 10), 10);

    writer->Initialize(2, 16);
    EXPECT_EQ(writer->GetChannelCount(), 4);
    EXPECT_EQ(writer->GetCapacity(), 1024);
    EXPECT_EQ(writer->GetAvailable(), 0);
    EXPECT_EQ(writer->GetStartAdjust(), 0);
    writer->Initialize(8, 16);
    EXPECT_EQ(writer->GetChannelCount(), 8);
    EXPECT_EQ(writer->GetCapacity(), 16);

    ASSERT_EQ(writer->PutAudio(pointers.In(), 4, 0, 10), 10);
    writer->Flush();
    EXPECT_EQ(writer->GetAvailable(), 0);
    EXPECT_EQ(writer->PutAudio(pointers.In(), 4, 0, 16), 16) << "flush makes the whole ring free";
}

// One producer and one consumer, as in a run: every frame arrives once, in
// order, and closing the writer ends the consumer's loop at once.
TEST(DefaultOfflineWriterThreaded, ProducerAndConsumerCarryEveryFrameInOrder)
{
    constexpr long kFrames = 200000;
    auto writer = core::MakeRef<DefaultOfflineWriter>();
    writer->Initialize(2, 1000);
    writer->SetOpenToWrite(true);
    auto source = Ramp(kFrames, 0.0f);

    std::thread producer([&] {
        Pointers in(source);
        long sent = 0;
        long chunk = 1;
        while (sent < kFrames) {
            const long frames = std::min(chunk, kFrames - sent);
            sent += writer->PutAudio(in.In(), 2, sent, frames);
            chunk = chunk * 7 % 1531 + 1; // uneven chunk sizes, some larger than the ring
        }
        writer->SetOpenToWrite(false);
    });

    std::vector<std::vector<float>> received(2);
    std::vector<std::vector<float>> block(2, std::vector<float>(333));
    Pointers out(block);
    // Until the producer has closed the writer and everything is taken.
    for (long got; (got = writer->GetAudio(out.Out(), 2, 333)) > 0 || writer->IsOpenToWrite() ||
                   writer->GetAvailable() > 0;)
        for (std::size_t channel = 0; channel < 2; ++channel)
            received[channel].insert(received[channel].end(), block[channel].begin(), block[channel].begin() + got);
    producer.join();
    ASSERT_EQ(received[0].size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(received[0], source[0]);
    EXPECT_EQ(received[1], source[1]);
}

} // namespace
} // namespace zoc
