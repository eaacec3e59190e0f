#include "zel/platform/ZELMainQueue.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct QueuedTask {
    uint64_t sequence;  // position in the order of queuing; rounds of a drain end at one
    ZELMainQueue::Task task;
};

struct MainQueueState {
    std::mutex lock;
    std::condition_variable taskQueued;                  // signalled when a task enters the FIFO
    std::deque<QueuedTask> tasks;                        // guarded by lock
    uint64_t nextSequence = 0;                           // guarded by lock
    std::shared_ptr<const ZELMainQueue::Poster> poster;  // guarded by lock; null: the FIFO
    std::atomic<std::thread::id> mainThread{};           // default id: none marked yet
};

// Never destroyed: background threads may still queue work while the process exits.
MainQueueState& state() {
    static MainQueueState* const instance = new MainQueueState;
    return *instance;
}

void claimMainThreadIfNoneMarked() {
    std::thread::id none;
    state().mainThread.compare_exchange_strong(none, std::this_thread::get_id());
}

// Takes the oldest task if it was queued before `roundEnd`; an empty task when there is none.
ZELMainQueue::Task takeTaskQueuedBefore(uint64_t roundEnd) {
    MainQueueState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.tasks.empty() || s.tasks.front().sequence >= roundEnd) return {};
    ZELMainQueue::Task task = std::move(s.tasks.front().task);
    s.tasks.pop_front();
    return task;
}

}  // namespace

void ZELMainQueue::async(Task task) {
    if (!task) return;
    MainQueueState& s = state();
    std::shared_ptr<const Poster> poster;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.poster) {
            s.tasks.push_back({s.nextSequence++, std::move(task)});
            s.taskQueued.notify_all();
            return;
        }
        poster = s.poster;
    }
    // Outside the lock: a poster that runs the task at once may queue more work.
    (*poster)(std::move(task));
}

size_t ZELMainQueue::drain() {
    MainQueueState& s = state();
    claimMainThreadIfNoneMarked();
    size_t ran = 0;
    for (int round = 0; round < kMaxDrainRounds; ++round) {
        uint64_t roundEnd;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (s.tasks.empty()) break;
            roundEnd = s.nextSequence;
        }
        // One task at a time, so that a nested drain continues with the same FIFO.
        while (Task task = takeTaskQueuedBefore(roundEnd)) {
            task();
            ++ran;
        }
    }
    return ran;
}

bool ZELMainQueue::waitAndDrain(std::chrono::milliseconds timeout) {
    MainQueueState& s = state();
    claimMainThreadIfNoneMarked();
    {
        std::unique_lock<std::mutex> guard(s.lock);
        if (!s.taskQueued.wait_for(guard, timeout, [&s] { return !s.tasks.empty(); })) {
            return false;
        }
    }
    return drain() > 0;
}

void ZELMainQueue::setPoster(Poster poster) {
    MainQueueState& s = state();
    std::shared_ptr<const Poster> installed;
    std::deque<QueuedTask> waiting;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (poster) {
            installed = std::make_shared<const Poster>(std::move(poster));
            waiting.swap(s.tasks);
        }
        s.poster = installed;
    }
    for (QueuedTask& queued : waiting) (*installed)(std::move(queued.task));
}

void ZELMainQueue::markCurrentThreadAsMain() {
    state().mainThread.store(std::this_thread::get_id());
}

bool ZELMainQueue::isMainThread() {
    return state().mainThread.load() == std::this_thread::get_id();
}
