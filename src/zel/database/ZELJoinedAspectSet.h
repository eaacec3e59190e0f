#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"

// Names aspects whose terms are searched together (a sender and a recipient, say). The
// database keeps each set under every identifier it contains. The identifiers are copied in
// and out and read and replaced atomically, so any thread may use a set.
class ZELJoinedAspectSet : public ZELObject {
public:
    static std::shared_ptr<ZELJoinedAspectSet> setWithAspectIdentifiers(
        std::set<ZELString> identifiers);
    explicit ZELJoinedAspectSet(std::set<ZELString> identifiers);

    std::set<ZELString> aspectIdentifiers() const;
    void setAspectIdentifiers(std::set<ZELString> identifiers);
    // Copying answers the same object.
    std::shared_ptr<ZELJoinedAspectSet> copy() { return sharedFromThisAs<ZELJoinedAspectSet>(); }

    // "ZELJoinedAspectSet<0x...>{a, b}".
    std::string description() const override;

private:
    mutable std::mutex identifiersLock_;
    std::set<ZELString> aspectIdentifiers_;  // guarded by identifiersLock_
};
