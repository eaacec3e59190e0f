#include "zel/platform/ZELSerialQueue.h"

#include <future>
#include <map>
#include <utility>

#include "zel/platform/ZELQueue+Private.h"

// The queues by name. Never destroyed, so that a queue asked for during exit is still
// answered; the queues' threads are joined when static objects are destroyed.
struct ZELSerialQueueRegistry {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<ZELSerialQueue>> queues;  // guarded by lock
    bool shutDown = false;  // guarded by lock; queues made after shutdown start stopped

    static ZELSerialQueueRegistry& shared() {
        static ZELSerialQueueRegistry* const registry = new ZELSerialQueueRegistry;
        static const struct ShutdownAtExit {
            ~ShutdownAtExit() { registry->shutdownAll(); }
        } shutdownAtExit;
        return *registry;
    }

    std::shared_ptr<ZELSerialQueue> queueNamed(const std::string& name) {
        std::lock_guard<std::mutex> guard(lock);
        std::shared_ptr<ZELSerialQueue>& queue = queues[name];
        if (!queue) queue.reset(new ZELSerialQueue(name, shutDown));
        return queue;
    }

    void shutdownAll() {
        std::map<std::string, std::shared_ptr<ZELSerialQueue>> all;
        {
            std::lock_guard<std::mutex> guard(lock);
            shutDown = true;
            all = queues;
        }
        for (auto& [name, queue] : all) queue->shutdown();
    }
};

std::shared_ptr<ZELSerialQueue> ZELSerialQueue::named(const std::string& name) {
    return ZELSerialQueueRegistry::shared().queueNamed(name);
}

ZELSerialQueue::ZELSerialQueue(std::string name, bool stopped)
    : name_(std::move(name)), stopped_(stopped) {}

ZELSerialQueue::~ZELSerialQueue() {
    shutdown();
}

void ZELSerialQueue::async(std::function<void()> task) {
    if (task) enqueue(task);
}

void ZELSerialQueue::sync(const std::function<void()>& task) {
    if (!task) return;
    if (isCurrent()) {
        task();
        return;
    }
    // The packaged task carries the result or exception back. Only the queued wrapper holds
    // it, so that when the wrapper is dropped unrun at shutdown, the broken promise releases
    // the caller.
    auto packaged = std::make_shared<std::packaged_task<void()>>([&task] { task(); });
    std::future<void> done = packaged->get_future();
    std::function<void()> wrapper = [packaged = std::move(packaged)] { (*packaged)(); };
    if (!enqueue(wrapper)) return;
    done.wait();
    try {
        done.get();
    } catch (const std::future_error& error) {
        if (error.code() != std::future_errc::broken_promise) throw;
    }
}

bool ZELSerialQueue::isCurrent() const {
    return threadID_.load() == std::this_thread::get_id();
}

std::string ZELSerialQueue::description() const {
    return descriptionHead() + " " + name_;
}

bool ZELSerialQueue::enqueue(std::function<void()>& task) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!stopped_) {
            tasks_.push_back(std::move(task));
            if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
            taskQueued_.notify_one();
            return true;
        }
    }
    task = nullptr;  // dropped; its captures are released outside the lock
    return false;
}

void ZELSerialQueue::run() {
    threadID_.store(std::this_thread::get_id());
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        taskQueued_.wait(guard, [this] { return stopped_ || !tasks_.empty(); });
        if (stopped_) return;
        {
            const std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            guard.unlock();
            ZELRunBackgroundTask(task, name_.c_str());
        }
        guard.lock();
    }
}

void ZELSerialQueue::shutdown() {
    std::deque<std::function<void()>> dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopped_ = true;
        dropped.swap(tasks_);
        thread.swap(thread_);
    }
    taskQueued_.notify_all();
    dropped.clear();
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}
