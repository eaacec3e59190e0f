#pragma once

#include <utility>

#include "zel/platform/ZELNotificationCenter.h"

// Owns one observer registration and removes it when destroyed or reset: a member that keeps
// an object's observer exactly as long as the object. Movable, not copyable; the center must
// outlive it. Not thread-safe itself.
class ZELScopedObserver {
public:
    ZELScopedObserver() = default;
    ZELScopedObserver(ZELNotificationCenter& center, ZELObserverToken token)
        : center_(&center), token_(token) {}
    ZELScopedObserver(ZELNotificationCenter& center, std::string name, const void* object,
                      ZELNotificationCenter::Block block)
        : center_(&center), token_(center.addObserver(std::move(name), object, std::move(block))) {}

    ZELScopedObserver(ZELScopedObserver&& other) noexcept
        : center_(other.center_), token_(std::exchange(other.token_, ZELNoObserverToken)) {}
    ZELScopedObserver& operator=(ZELScopedObserver&& other) noexcept {
        if (this != &other) {
            reset();
            center_ = other.center_;
            token_ = std::exchange(other.token_, ZELNoObserverToken);
        }
        return *this;
    }
    ZELScopedObserver(const ZELScopedObserver&) = delete;
    ZELScopedObserver& operator=(const ZELScopedObserver&) = delete;

    ~ZELScopedObserver() { reset(); }

    // Removes the observer now; afterwards the object holds none.
    void reset() {
        if (token_ != ZELNoObserverToken) {
            center_->removeObserver(std::exchange(token_, ZELNoObserverToken));
        }
    }

    ZELObserverToken token() const { return token_; }

private:
    ZELNotificationCenter* center_ = nullptr;
    ZELObserverToken token_ = ZELNoObserverToken;
};
