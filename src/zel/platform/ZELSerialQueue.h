#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "zel/platform/ZELObject.h"

// A named queue that runs its tasks one at a time, in the order they were queued, on a
// thread of its own (started with the first task): the completion collectors'
// "ZELCompletionCollectorQueue" and the like. `named` answers the same queue for the same
// name for the life of the process; the queues are shut down at exit (waiting tasks dropped,
// the running one finished). Thread-safe.
class ZELSerialQueue : public ZELObject {
public:
    static std::shared_ptr<ZELSerialQueue> named(const std::string& name);

    ~ZELSerialQueue() override;

    const std::string& name() const { return name_; }

    // Queues `task`. An exception escaping it is logged. Dropped after shutdown.
    void async(std::function<void()> task);

    // Runs `task` on the queue after the tasks queued before it and waits for it; an
    // exception from it reaches the caller. Called from the queue's own thread, it runs the
    // task at once. After shutdown it returns without running the task. Two queues that wait
    // on each other with `sync` deadlock, as any two locks taken in opposite orders do.
    void sync(const std::function<void()>& task);

    // True on the queue's thread, that is, inside one of its tasks.
    bool isCurrent() const;

    std::string description() const override;  // head and name

private:
    explicit ZELSerialQueue(std::string name, bool stopped);
    friend struct ZELSerialQueueRegistry;

    // Answers false when the queue is shut down (the task is then destroyed unrun).
    bool enqueue(std::function<void()>& task);
    void run();
    void shutdown();

    const std::string name_;
    std::atomic<std::thread::id> threadID_{};  // set by the queue's thread when it starts
    std::mutex lock_;
    std::condition_variable taskQueued_;
    std::deque<std::function<void()>> tasks_;  // guarded by lock_
    bool stopped_;                             // guarded by lock_
    std::thread thread_;                       // guarded by lock_; started by the first task
};
