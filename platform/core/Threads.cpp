#include "platform/core/Threads.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zoc::core::threads {

namespace {

/// Linux keeps 15 bytes of a thread name; cut there without splitting a
/// UTF-8 sequence.
std::string KernelThreadName(const std::string& name)
{
    constexpr std::size_t kMaxBytes = 15;
    if (name.size() <= kMaxBytes)
        return name;
    std::size_t length = kMaxBytes;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.substr(0, length);
}

/// Applies the priority hint to the calling thread. Raising priority needs
/// privileges this library cannot count on, so only the lower levels act:
/// 0 runs the thread only when the processor is otherwise idle, 1 lowers its
/// nice value. Failures are ignored; the thread simply keeps the default.
void ApplyPriority(ThreadPriority priority)
{
    if (priority <= 0) {
        sched_param parameters{};
        parameters.sched_priority = 0;
        if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters) == 0)
            return;
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    } else if (priority == 1) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Named threads

NamedThread::NamedThread(std::string name, std::function<void()> body, ThreadPriority priority)
    : name_(std::move(name))
{
    // The thread names itself, so the name is in place before any of its code runs.
    thread_ = std::thread([kernelName = KernelThreadName(name_), body = std::move(body), priority] {
        pthread_setname_np(pthread_self(), kernelName.c_str());
        ApplyPriority(priority);
        body();
    });
}

NamedThread::~NamedThread()
{
    Join();
}

void NamedThread::Join()
{
    if (!thread_.joinable())
        return;
    // A thread cannot join itself; when its own handle goes away inside it,
    // let it finish on its own.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

std::unique_ptr<NamedThread> CreateNamedThread(std::string name, std::function<void()> body,
                                               ThreadPriority priority)
{
    return std::make_unique<NamedThread>(std::move(name), std::move(body), priority);
}

// ---------------------------------------------------------------------------
// Worker pool executor

namespace {

std::size_t HardwareThreads()
{
    return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

/// First in, first out. The first kRingSize waiting tasks sit in a ring
/// allocated up front, so queueing a task whose callable fits in
/// std::function's own storage (a lambda capturing a pointer or two)
/// allocates nothing; only a flood beyond the ring spills into a deque.
class TaskQueue {
public:
    static constexpr std::size_t kRingSize = 256;

    TaskQueue() : ring_(kRingSize) {}

    bool Empty() const { return ringCount_ == 0 && overflow_.empty(); }

    void Push(Executor::Task task)
    {
        // Once tasks wait in the overflow, newer ones queue behind them.
        if (overflow_.empty() && ringCount_ < ring_.size()) {
            ring_[(ringHead_ + ringCount_) % ring_.size()] = std::move(task);
            ++ringCount_;
        } else {
            overflow_.push_back(std::move(task));
        }
    }

    /// The oldest task; the queue must not be empty.
    Executor::Task Pop()
    {
        Executor::Task task;
        if (ringCount_ > 0) {
            task.swap(ring_[ringHead_]);
            ringHead_ = (ringHead_ + 1) % ring_.size();
            --ringCount_;
        } else {
            task = std::move(overflow_.front());
            overflow_.pop_front();
        }
        return task;
    }

private:
    std::vector<Executor::Task> ring_;
    std::size_t ringHead_ = 0;
    std::size_t ringCount_ = 0;
    std::deque<Executor::Task> overflow_;
};

/// The queue shared by a pool's workers. Workers hold it too, so it outlives
/// the executor when the last reference goes away inside one of its tasks.
struct PoolQueue {
    std::mutex mutex;
    std::condition_variable changed;
    TaskQueue tasks;
    bool stopping = false;
};

/// The pool whose worker is the calling thread, if any.
thread_local const PoolQueue* currentPool = nullptr;

void RunPoolWorker(const std::shared_ptr<PoolQueue>& queue)
{
    currentPool = queue.get();
    std::unique_lock lock(queue->mutex);
    for (;;) {
        queue->changed.wait(lock, [&] { return queue->stopping || !queue->tasks.Empty(); });
        // Stopping still finishes what is queued, including tasks that the
        // draining tasks post in turn.
        if (queue->tasks.Empty())
            return;
        Executor::Task task = queue->tasks.Pop();
        lock.unlock();
        task();
        task = nullptr; // release what the task captured before taking the lock
        lock.lock();
    }
}

class PoolExecutor final : public Executor {
public:
    // Workers start with the first task, so an executor that is never used
    // (a short command-line run) costs no threads.
    explicit PoolExecutor(std::size_t workers) : queue_(std::make_shared<PoolQueue>()), workerCount_(workers) {}

    ~PoolExecutor() override
    {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->stopping = true;
        }
        queue_->changed.notify_all();
        // When the last reference is dropped by one of our own tasks, that
        // worker cannot join itself; NamedThread detaches it and it finishes
        // the queue with the others.
        workers_.clear();
    }

    void Post(Task task) override
    {
        // The task may hold the last reference to this executor and run (and
        // destroy it) before Post returns, so keep the queue alive on our own.
        const std::shared_ptr<PoolQueue> queue = queue_;
        std::call_once(started_, [this] { StartWorkers(); });
        {
            std::lock_guard lock(queue->mutex);
            queue->tasks.Push(std::move(task));
        }
        queue->changed.notify_one();
    }

    bool CanRunInPlace() const override { return currentPool == queue_.get(); }

private:
    void StartWorkers()
    {
        workers_.reserve(workerCount_);
        for (std::size_t i = 0; i < workerCount_; ++i) {
            workers_.push_back(CreateNamedThread("zoc pool " + std::to_string(i + 1),
                                                 [queue = queue_] { RunPoolWorker(queue); }));
        }
    }

    std::shared_ptr<PoolQueue> queue_;
    std::size_t workerCount_;
    std::once_flag started_;
    std::vector<std::unique_ptr<NamedThread>> workers_;
};

} // namespace

Ref<Executor> CreateCPUBoundExecutor(std::size_t workers)
{
    return Ref<Executor>(new PoolExecutor(workers > 0 ? workers : HardwareThreads()));
}

// ---------------------------------------------------------------------------
// Processor-wide task runner
//
// A fixed set of job slots in static storage: a caller takes a free slot,
// publishes its task there, wakes the workers and works on the job itself.
// Everyone claims indices from the slot's atomic counter. Nothing is
// allocated per call, and several callers can run jobs at the same time; when
// every slot is busy the caller simply runs its job alone.

namespace {

enum JobState : int { kJobFree, kJobSettingUp, kJobActive, kJobFinishing };

struct alignas(64) JobSlot {
    std::atomic<int> state{kJobFree};
    // Written by the owning caller while the slot is kJobSettingUp; read by
    // others only after they saw kJobActive.
    std::optional<IndexedTask> task;
    int count = 0;
    std::atomic<int> next{0};
    std::atomic<int> remaining{0};
    // Threads other than the owner that are looking at this job. The owner
    // waits for them to leave before the slot can carry another job.
    std::atomic<int> visitors{0};
};

/// Claims and runs indices of the job until none are left; returns whether
/// this thread ran any.
bool WorkOnJob(JobSlot& job)
{
    const int count = job.count;
    bool ranAny = false;
    for (;;) {
        const int index = job.next.fetch_add(1, std::memory_order_relaxed);
        if (index >= count)
            return ranAny;
        (*job.task)(index);
        ranAny = true;
        if (job.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1)
            job.remaining.notify_all();
    }
}

class ProcessorPool {
public:
    ProcessorPool()
    {
        const std::size_t workers = std::max<std::size_t>(1, HardwareThreads() - 1);
        workers_.reserve(workers);
        for (std::size_t i = 0; i < workers; ++i)
            workers_.push_back(CreateNamedThread("zoc cpu " + std::to_string(i + 1), [this] { RunWorker(); }));
    }

    ~ProcessorPool()
    {
        stopping_.store(true);
        wakeups_.fetch_add(1);
        wakeups_.notify_all();
        workers_.clear();
    }

    std::size_t ThreadCount() const { return workers_.size() + 1; }

    void Execute(IndexedTask task, int count)
    {
        JobSlot* job = TakeFreeSlot();
        if (!job) {
            for (int index = 0; index < count; ++index)
                task(index);
            return;
        }
        job->task.emplace(task);
        job->count = count;
        job->next.store(0, std::memory_order_relaxed);
        job->remaining.store(count, std::memory_order_relaxed);
        job->state.store(kJobActive);
        wakeups_.fetch_add(1);
        wakeups_.notify_all();

        WorkOnJob(*job);
        for (int left = job->remaining.load(std::memory_order_acquire); left != 0;
             left = job->remaining.load(std::memory_order_acquire))
            job->remaining.wait(left, std::memory_order_acquire);

        // Workers that arrive from now on see the job is over and leave; wait
        // for those already inside before the slot takes another job.
        job->state.store(kJobFinishing);
        for (int visitors = job->visitors.load(); visitors != 0; visitors = job->visitors.load())
            job->visitors.wait(visitors);
        job->state.store(kJobFree);
    }

private:
    static constexpr std::size_t kSlots = 8;

    JobSlot* TakeFreeSlot()
    {
        for (JobSlot& slot : slots_) {
            int expected = kJobFree;
            if (slot.state.compare_exchange_strong(expected, kJobSettingUp))
                return &slot;
        }
        return nullptr;
    }

    void RunWorker()
    {
        for (;;) {
            // Read the wake-up count before looking for work, so a job
            // published after the search still wakes this worker.
            const std::uint32_t seen = wakeups_.load();
            if (stopping_.load())
                return;
            bool worked = false;
            for (JobSlot& slot : slots_) {
                if (slot.state.load(std::memory_order_relaxed) != kJobActive)
                    continue;
                // Announce the visit first, then confirm the job is still on:
                // either the owner sees this visitor or this visitor sees the
                // job finishing.
                slot.visitors.fetch_add(1);
                // A job whose indices are all taken does not count as work,
                // or the worker would spin until its owner closes it.
                if (slot.state.load() == kJobActive && WorkOnJob(slot))
                    worked = true;
                if (slot.visitors.fetch_sub(1) == 1)
                    slot.visitors.notify_all();
            }
            if (!worked)
                wakeups_.wait(seen);
        }
    }

    std::array<JobSlot, kSlots> slots_;
    std::atomic<std::uint32_t> wakeups_{0};
    std::atomic<bool> stopping_{false};
    std::vector<std::unique_ptr<NamedThread>> workers_;
};

ProcessorPool& SharedProcessorPool()
{
    static ProcessorPool pool;
    return pool;
}

} // namespace

void ExecuteCPUBoundTaskOnAllProcessors(IndexedTask task, int count)
{
    if (count <= 0)
        return;
    if (count == 1) {
        task(0);
        return;
    }
    SharedProcessorPool().Execute(task, count);
}

std::size_t ProcessorCount()
{
    return SharedProcessorPool().ThreadCount();
}

// ---------------------------------------------------------------------------
// Per-thread event loops

namespace {

struct EventQueue {
    std::thread::id owner = std::this_thread::get_id();
    std::mutex mutex;
    std::deque<Executor::Task> tasks;
};

class EventLoopExecutor final : public Executor {
public:
    explicit EventLoopExecutor(std::shared_ptr<EventQueue> queue) : queue_(std::move(queue)) {}

    void Post(Task task) override
    {
        std::lock_guard lock(queue_->mutex);
        queue_->tasks.push_back(std::move(task));
    }

    /// True on the loop's own thread. A task posted from there still waits
    /// for the next RunPendingEvents, but running it directly is fine too.
    bool CanRunInPlace() const override { return std::this_thread::get_id() == queue_->owner; }

private:
    std::shared_ptr<EventQueue> queue_;
};

/// The calling thread's loop, created on first use. Executors share the
/// queue, so tasks posted after the thread ended are just dropped with it.
thread_local std::shared_ptr<EventQueue> currentLoop;
thread_local Ref<Executor> currentLoopExecutor;

} // namespace

Ref<Executor> AdaptCurrentEventLoopAsExecutor(bool createIfMissing)
{
    if (!currentLoopExecutor) {
        if (!createIfMissing)
            return nullptr;
        currentLoop = std::make_shared<EventQueue>();
        currentLoopExecutor = Ref<Executor>(new EventLoopExecutor(currentLoop));
    }
    return currentLoopExecutor;
}

std::size_t RunPendingEvents()
{
    if (!currentLoop)
        return 0;
    std::size_t ran = 0;
    for (;;) {
        Executor::Task task;
        {
            std::lock_guard lock(currentLoop->mutex);
            if (currentLoop->tasks.empty())
                return ran;
            task = std::move(currentLoop->tasks.front());
            currentLoop->tasks.pop_front();
        }
        task();
        ++ran;
    }
}

} // namespace zoc::core::threads
