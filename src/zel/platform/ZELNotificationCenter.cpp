#include "zel/platform/ZELNotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <utility>

struct ZELNotificationCenter::Observer {
    ZELObserverToken token;
    std::string name;    // empty: any name
    const void* object;  // null: any object
    Block block;         // released by removeObserver once no call is running

    std::mutex callLock;
    std::condition_variable callEnded;
    bool removed = false;  // guarded by callLock; no call begins once set
    int runningCalls = 0;  // guarded by callLock; on every thread, nested calls included

    bool matches(const std::string& postedName, const void* postedObject) const {
        return (name.empty() || name == postedName) &&
               (object == nullptr || object == postedObject);
    }
};

namespace {

// The observers whose blocks run on this thread, innermost last: a removal from inside a
// block must not wait for the calls it is itself part of.
thread_local std::vector<const void*> tObserversCalledOnThisThread;

}  // namespace

ZELNotificationCenter& ZELNotificationCenter::defaultCenter() {
    // Never destroyed: threads may still post while the process exits.
    static ZELNotificationCenter* const center = new ZELNotificationCenter;
    return *center;
}

ZELObserverToken ZELNotificationCenter::addObserver(std::string name, const void* object,
                                                    Block block) {
    auto observer = std::make_shared<Observer>();
    observer->name = std::move(name);
    observer->object = object;
    observer->block = std::move(block);
    std::lock_guard<std::mutex> guard(observersLock_);
    observer->token = nextToken_++;
    observers_.push_back(observer);
    return observer->token;
}

void ZELNotificationCenter::removeObserver(ZELObserverToken token) {
    std::shared_ptr<Observer> observer;
    {
        std::lock_guard<std::mutex> guard(observersLock_);
        const auto found =
            std::find_if(observers_.begin(), observers_.end(),
                         [token](const auto& entry) { return entry->token == token; });
        if (found == observers_.end()) return;
        observer = std::move(*found);
        observers_.erase(found);
    }
    const auto ownCalls = std::count(tObserversCalledOnThisThread.begin(),
                                     tObserversCalledOnThisThread.end(), observer.get());
    Block released;
    {
        std::unique_lock<std::mutex> guard(observer->callLock);
        observer->removed = true;
        observer->callEnded.wait(guard, [&] { return observer->runningCalls == ownCalls; });
        // A block that is running on this thread cannot be destroyed under itself; it goes
        // with the last post that holds it.
        if (ownCalls == 0) released = std::move(observer->block);
    }
}

void ZELNotificationCenter::post(std::string name, const void* object,
                                 ZELValue::Dictionary userInfo) {
    const ZELNotification notification{std::move(name), object, std::move(userInfo)};
    std::vector<std::shared_ptr<Observer>> receivers;
    {
        std::lock_guard<std::mutex> guard(observersLock_);
        for (const auto& observer : observers_) {
            if (observer->matches(notification.name, notification.object)) {
                receivers.push_back(observer);
            }
        }
    }
    for (const auto& observer : receivers) deliver(*observer, notification);
}

void ZELNotificationCenter::deliver(Observer& observer, const ZELNotification& notification) {
    {
        std::lock_guard<std::mutex> guard(observer.callLock);
        if (observer.removed) return;
        ++observer.runningCalls;
    }
    tObserversCalledOnThisThread.push_back(&observer);
    // Ends the call even when the block throws.
    struct CallEnd {
        Observer& observer;
        ~CallEnd() {
            tObserversCalledOnThisThread.pop_back();
            std::lock_guard<std::mutex> guard(observer.callLock);
            --observer.runningCalls;
            observer.callEnded.notify_all();
        }
    } callEnd{observer};
    observer.block(notification);
}
