#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include <pthread.h>

#include "platform/core/Gate.h"
#include "platform/core/Random.h"
#include "platform/core/Threads.h"
#include "tests/support/AllocationGuard.h"

using namespace zoc::core;
using namespace zoc::core::threads;
using namespace std::chrono_literals;

TEST(GateThreaded, OpenReleasesWaitersAndCloseBlocksAgain)
{
    Gate gate;
    EXPECT_FALSE(gate.Wait(20ms));
    std::atomic<int> released{0};
    {
        const auto first = CreateNamedThread("gate waiter", [&] { gate.Wait(); ++released; });
        const auto second = CreateNamedThread("gate waiter", [&] { gate.Wait(); ++released; });
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(released.load(), 0);
        gate.Open();
    }
    EXPECT_EQ(released.load(), 2);
    EXPECT_TRUE(gate.Wait(0ms)); // stays open

    gate.Close();
    EXPECT_FALSE(gate.Wait(10ms));
    const auto opener = CreateNamedThread("gate opener", [&] {
        std::this_thread::sleep_for(20ms);
        gate.Open();
    });
    EXPECT_TRUE(gate.Wait(10s));
}

TEST(NamedThreadThreaded, NamesTheThreadCutToFifteenBytes)
{
    char name[32] = {};
    CreateNamedThread("a rather long thread name", [&] { pthread_getname_np(pthread_self(), name, sizeof name); })
        ->Join();
    EXPECT_STREQ(name, "a rather long t");
}

TEST(ProcessorTasksThreaded, RunsEveryIndexExactlyOnce)
{
    EXPECT_GE(ProcessorCount(), 2u);
    ExecuteCPUBoundTaskOnAllProcessors([](int) { FAIL(); }, 0);
    for (int count : {1, 2, 7, 1000}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
        ExecuteCPUBoundTaskOnAllProcessors([&](int index) { ++runs[static_cast<std::size_t>(index)]; }, count);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << "count " << count << " index " << i;
    }
}

TEST(ProcessorTasksThreaded, CallerTakesPartAndNothingIsAllocated)
{
    ExecuteCPUBoundTaskOnAllProcessors([](int) {}, 4); // the pool exists from here on
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> callerRan{false};
    std::atomic<bool> otherRan{false};
    std::vector<int> results(64, 0);
    {
        zoc::test::AllocationGuard guard;
        // The first task blocks until another thread has run one, so both the
        // caller and a worker must take part for this to finish.
        ExecuteCPUBoundTaskOnAllProcessors(
            [&](int index) {
                const bool isCaller = std::this_thread::get_id() == caller;
                (isCaller ? callerRan : otherRan) = true;
                while (index == 0 && !(callerRan && otherRan))
                    std::this_thread::yield();
                results[static_cast<std::size_t>(index)] = index * 2;
            },
            64);
    }
    EXPECT_TRUE(callerRan);
    EXPECT_TRUE(otherRan);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(results[static_cast<std::size_t>(i)], i * 2);
}

TEST(ProcessorTasksThreaded, SeveralCallersAtOnceIncludingNestedCalls)
{
    constexpr int kCallers = 12; // more callers than job slots
    constexpr int kRounds = 50;
    constexpr int kCount = 16;
    std::vector<std::atomic<int>> sums(kCallers);
    {
        std::vector<std::unique_ptr<NamedThread>> callers;
        for (int caller = 0; caller < kCallers; ++caller)
            callers.push_back(CreateNamedThread("caller", [&, caller] {
                for (int round = 0; round < kRounds; ++round) {
                    ExecuteCPUBoundTaskOnAllProcessors(
                        [&](int index) {
                            if (index == 0) // a task may itself spread work
                                ExecuteCPUBoundTaskOnAllProcessors([&](int) { ++sums[caller]; }, 3);
                            sums[caller] += index + 1;
                        },
                        kCount);
                }
            }));
    }
    for (int caller = 0; caller < kCallers; ++caller)
        EXPECT_EQ(sums[caller].load(), kRounds * (kCount * (kCount + 1) / 2 + 3));
}

TEST(ExecutorThreaded, RunsOnWorkersAndDrainsOnLastRelease)
{
    Ref<Executor> executor = CreateCPUBoundExecutor(2);
    EXPECT_FALSE(executor->CanRunInPlace());
    std::atomic<int> ran{0};
    std::atomic<int> inPlace{0};
    Gate start;
    const std::thread::id poster = std::this_thread::get_id();
    // The executor stays alive until its queue is drained. More tasks than
    // its preallocated ring holds, so the overflow drains as well.
    constexpr int kTasks = 1000;
    Executor* const raw = executor.get();
    for (int i = 0; i < kTasks; ++i)
        executor->Post([&, poster, raw] {
            start.Wait();
            EXPECT_NE(std::this_thread::get_id(), poster);
            inPlace += raw->CanRunInPlace() ? 1 : 0;
            ++ran;
        });
    EXPECT_EQ(ran.load(), 0); // Post never runs the task itself
    start.Open();
    executor.reset();
    EXPECT_EQ(ran.load(), kTasks);
    EXPECT_EQ(inPlace.load(), kTasks);
}

TEST(ExecutorThreaded, LastReferenceMayGoAwayInsideItsOwnTask)
{
    std::atomic<bool> lateTaskRan{false};
    Gate done;
    {
        Ref<Executor> executor = CreateCPUBoundExecutor(1);
        Executor* raw = executor.get();
        raw->Post([keep = executor, &lateTaskRan, &done]() mutable {
            keep->Post([&] {
                lateTaskRan = true;
                done.Open();
            });
            keep.reset(); // not the last one yet: the test still holds one
        });
        raw->Post([keep = std::move(executor)]() mutable { keep.reset(); });
    }
    EXPECT_TRUE(done.Wait(10s));
    EXPECT_TRUE(lateTaskRan);
}

TEST(EventLoopThreaded, TasksPostedFromOtherThreadsRunWhenTheOwnerPumps)
{
    std::atomic<int> ran{0};
    std::thread::id owner;
    Ref<Executor> loop;
    Gate posted;
    Gate adapted;
    const auto loopThread = CreateNamedThread("event loop", [&] {
        EXPECT_FALSE(AdaptCurrentEventLoopAsExecutor(false));
        loop = AdaptCurrentEventLoopAsExecutor(true);
        owner = std::this_thread::get_id();
        adapted.Open();
        posted.Wait();
        EXPECT_TRUE(loop->CanRunInPlace());
        // Three from the test thread, one each posted by those while running.
        EXPECT_EQ(RunPendingEvents(), 6u);
        EXPECT_EQ(RunPendingEvents(), 0u);
    });
    adapted.Wait();
    EXPECT_FALSE(loop->CanRunInPlace());
    for (int i = 0; i < 3; ++i)
        loop->Post([&] {
            EXPECT_EQ(std::this_thread::get_id(), owner);
            ++ran;
            AdaptCurrentEventLoopAsExecutor(false)->Post([&] { ++ran; });
        });
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ran.load(), 0);
    posted.Open();
    loopThread->Join();
    EXPECT_EQ(ran.load(), 6);
    loop->Post([] {}); // the thread is gone; the task is simply never run
}

// The classic sequence, kept per thread: a new thread starts as if seeded
// with 1 and does not move another thread's sequence.
TEST(RandomThreaded, ReproducesTheClassicSequenceInEachThread)
{
    crt::srand(1);
    EXPECT_EQ(crt::rand(), 41);
    int otherFirst = 0;
    CreateNamedThread("rand", [&] { otherFirst = crt::rand(); })->Join();
    EXPECT_EQ(otherFirst, 41);
    for (int expected : {18467, 6334, 26500, 19169})
        EXPECT_EQ(crt::rand(), expected);
}
