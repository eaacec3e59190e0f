#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A pool of background threads that run independent tasks, in no promised order: the
// platform's default-priority global queue (result-set loading, background diagnostics).
// `global()` lives for the whole process and is shut down at exit; another pool belongs to
// its creator and must not be destroyed by one of its own tasks. Thread-safe.
class ZELWorkerPool {
public:
    // The process-wide pool: as many threads as the hardware runs at once, at least 2.
    static ZELWorkerPool& global();

    explicit ZELWorkerPool(size_t threadCount);
    ~ZELWorkerPool();  // shuts down

    ZELWorkerPool(const ZELWorkerPool&) = delete;
    ZELWorkerPool& operator=(const ZELWorkerPool&) = delete;

    // Queues `task` for one of the pool's threads. After shutdown the task is dropped:
    // destroyed without running. An exception escaping a task is logged.
    void async(std::function<void()> task);

    // Stops the pool: waiting tasks are dropped, running ones finish and the threads are
    // joined (a pool thread that shuts down its own pool is detached instead). Later calls do
    // nothing.
    void shutdown();

    size_t threadCount() const { return threadCount_; }

private:
    void run();

    const size_t threadCount_;
    std::mutex lock_;
    std::condition_variable taskQueued_;
    std::deque<std::function<void()>> tasks_;  // guarded by lock_
    bool stopped_ = false;                     // guarded by lock_
    std::vector<std::thread> threads_;         // guarded by lock_
};
