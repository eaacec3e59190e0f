#include "zel/platform/ZELWorkerPool.h"

#include <algorithm>
#include <utility>

#include "zel/platform/ZELQueue+Private.h"

ZELWorkerPool& ZELWorkerPool::global() {
    // The pool itself is never destroyed, so that work queued during exit is dropped rather
    // than handed to a dead object; its threads are joined when static objects are destroyed.
    static ZELWorkerPool* const pool =
        new ZELWorkerPool(std::max<size_t>(2, std::thread::hardware_concurrency()));
    static const struct ShutdownAtExit {
        ~ShutdownAtExit() { pool->shutdown(); }
    } shutdownAtExit;
    return *pool;
}

ZELWorkerPool::ZELWorkerPool(size_t threadCount) : threadCount_(std::max<size_t>(1, threadCount)) {
    std::lock_guard<std::mutex> guard(lock_);
    threads_.reserve(threadCount_);
    for (size_t i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { run(); });
}

ZELWorkerPool::~ZELWorkerPool() {
    shutdown();
}

void ZELWorkerPool::async(std::function<void()> task) {
    if (!task) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!stopped_) {
            tasks_.push_back(std::move(task));
            taskQueued_.notify_one();
            return;
        }
    }
    // Dropped; its captures are released here, outside the lock.
}

void ZELWorkerPool::shutdown() {
    std::deque<std::function<void()>> dropped;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopped_) return;
        stopped_ = true;
        dropped.swap(tasks_);
        threads.swap(threads_);
    }
    taskQueued_.notify_all();
    dropped.clear();
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void ZELWorkerPool::run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        taskQueued_.wait(guard, [this] { return stopped_ || !tasks_.empty(); });
        if (stopped_) return;
        {
            const std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            guard.unlock();
            ZELRunBackgroundTask(task, "the worker pool");
        }
        guard.lock();
    }
}
