#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zel/platform/ZELValue.h"

// One notification: its name, the object it concerns (compared by address only, never
// dereferenced) and its details.
struct ZELNotification {
    std::string name;
    const void* object = nullptr;
    ZELValue::Dictionary userInfo;
};

// Names one registration of an observer; 0 names none.
using ZELObserverToken = uint64_t;
inline constexpr ZELObserverToken ZELNoObserverToken = 0;

// Delivers notifications to the observers registered for them: the database's change
// notifications, for instance. A notification is delivered synchronously on the posting
// thread, to the observers registered when the post began, in the order they were added.
// The center's lock is not held while an observer runs, so observers may add or remove
// observers and post in turn. Once `removeObserver` has returned, the removed observer is
// not called again and none of its calls on other threads is still running; so a block may
// safely refer to an object that removes it in its destructor. (Hence: do not remove an
// observer while holding a lock that its block takes on another thread.)
// Thread-safe. `defaultCenter` lives for the whole process; other centers belong to their
// creator.
class ZELNotificationCenter {
public:
    using Block = std::function<void(const ZELNotification&)>;

    static ZELNotificationCenter& defaultCenter();

    ZELNotificationCenter() = default;
    ZELNotificationCenter(const ZELNotificationCenter&) = delete;
    ZELNotificationCenter& operator=(const ZELNotificationCenter&) = delete;

    // Calls `block` for every later notification named `name` (empty: of any name) whose
    // object is `object` (null: any object). Answers the token that removes it.
    ZELObserverToken addObserver(std::string name, const void* object, Block block);

    // Removes the observer; an unknown or already removed token is ignored. The observer's
    // block is released before this returns, unless the call comes from inside that block.
    void removeObserver(ZELObserverToken token);

    void post(std::string name, const void* object, ZELValue::Dictionary userInfo = {});

private:
    struct Observer;
    void deliver(Observer& observer, const ZELNotification& notification);

    std::mutex observersLock_;
    std::vector<std::shared_ptr<Observer>> observers_;  // guarded by observersLock_; in order added
    ZELObserverToken nextToken_ = 1;                    // guarded by observersLock_
};
