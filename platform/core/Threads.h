#pragma once
// Threads, executors and the processor-wide task runner.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

#include "platform/core/RefCounted.h"

namespace zoc::core::threads {

/// Scheduling hint for named threads: 0 idle ... 3 above normal, 4 time critical.
/// On Linux without privileges only the nice value can be lowered, so values
/// above 2 keep the default priority.
using ThreadPriority = int;

/// A started thread that is joined when the handle is destroyed.
class NamedThread {
public:
    NamedThread(std::string name, std::function<void()> body, ThreadPriority priority);
    NamedThread(const NamedThread&) = delete;
    NamedThread& operator=(const NamedThread&) = delete;
    ~NamedThread();

    const std::string& Name() const { return name_; }
    std::thread::id Id() const { return thread_.get_id(); }
    void Join();

private:
    std::string name_;
    std::thread thread_;
};

/// Starts `body` on a new thread named `name` (the name is cut to the 15
/// characters Linux keeps).
std::unique_ptr<NamedThread> CreateNamedThread(std::string name, std::function<void()> body,
                                               ThreadPriority priority = 2);

/// Runs posted tasks somewhere else: on a pool of workers or on a thread's
/// event loop.
class Executor : public RefCountedObject {
public:
    using Task = std::function<void()>;
    /// Queues a task; never runs it inside the call.
    virtual void Post(Task task) = 0;
    /// True when a task may run at once in the calling thread instead of
    /// being posted (the caller already is the thread this executor serves).
    virtual bool CanRunInPlace() const = 0;
};

/// A pool of worker threads, one per processor unless `workers` is given.
/// Destroying the last reference finishes the queued tasks, then joins, so
/// every posted task runs. Workers start with the first post; after that,
/// posting a task whose callable fits in std::function's own storage (a
/// lambda capturing a pointer) allocates nothing.
Ref<Executor> CreateCPUBoundExecutor(std::size_t workers = 0);

/// A non-owning reference to a callable taking a task index. Passing one
/// never allocates.
class IndexedTask {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, IndexedTask>>>
    IndexedTask(F&& function) noexcept // NOLINT: implicit on purpose
        : object_(const_cast<void*>(static_cast<const void*>(&function))),
          call_([](void* object, int index) { (*static_cast<std::remove_reference_t<F>*>(object))(index); })
    {
    }
    void operator()(int index) const { call_(object_, index); }

private:
    void* object_;
    void (*call_)(void*, int);
};

/// Runs task(0) ... task(count - 1) spread over all processors (the calling
/// thread takes part) and returns when all are done. Safe to call from
/// several threads at once; allocates nothing once the worker pool exists.
void ExecuteCPUBoundTaskOnAllProcessors(IndexedTask task, int count);

/// The number of threads ExecuteCPUBoundTaskOnAllProcessors uses, callers
/// included. Starts the pool, so a component can start it before processing.
std::size_t ProcessorCount();

/// The calling thread's event loop as an executor. Tasks posted to it run when
/// the thread pumps its loop with RunPendingEvents. With `createIfMissing`
/// false, returns null for a thread that never adapted its loop.
Ref<Executor> AdaptCurrentEventLoopAsExecutor(bool createIfMissing);

/// Runs the tasks posted to the calling thread's event loop so far (and those
/// they post in turn); returns how many ran.
std::size_t RunPendingEvents();

} // namespace zoc::core::threads
