#include <set>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase+Private.h"
#include "zel/database/ZELJoinedAspectSet.h"

std::vector<std::shared_ptr<ZELAspect>> ZELDatabase::allAspects() const {
    std::lock_guard<std::mutex> guard(aspectsLock_);
    return aspects_;
}

std::shared_ptr<ZELAspect> ZELDatabase::aspectWithIdentifier(const ZELString& identifier) const {
    std::lock_guard<std::mutex> guard(aspectsLock_);
    for (const auto& aspect : aspects_) {
        if (aspect->aspectIdentifier() == identifier) return aspect;
    }
    return nullptr;
}

std::vector<std::shared_ptr<ZELAspect>> ZELDatabase::aspectsWithIdentifiers(
    const std::vector<ZELString>& identifiers) const {
    std::vector<std::shared_ptr<ZELAspect>> found;
    for (const ZELString& identifier : identifiers) {
        if (auto aspect = aspectWithIdentifier(identifier)) found.push_back(std::move(aspect));
    }
    return found;
}

// The aspect list lock is held while the new aspect loads its sorted list, so that two threads
// asking for the same new identifier get one aspect. The database lock is taken first (the
// order every path keeps): loading may check the list's order against its keys.
std::shared_ptr<ZELAspect> ZELDatabase::ensureAspectExistsWithIdentifier(const ZELString& identifier,
                                                                         ZELError* outError) {
    if (identifier.empty() || isInvalid()) return nullptr;
    return accessLockedUsing([&] { return ensureAspectExistsLocked(identifier, outError); });
}

std::shared_ptr<ZELAspect> ZELDatabase::ensureAspectExistsLocked(const ZELString& identifier,
                                                                 ZELError* outError) {
    std::lock_guard<std::mutex> guard(aspectsLock_);
    for (const auto& aspect : aspects_) {
        if (aspect->aspectIdentifier() == identifier) return aspect;
    }
    auto aspect = ZELAspect::aspectWithDatabase(this, identifier,
                                                static_cast<uint32_t>(aspects_.size() + 1), outError);
    if (!aspect) return nullptr;
    aspects_.push_back(aspect);
    aspectInfoDirty_ = true;
    return aspect;
}

bool ZELDatabase::restoreAspectsFromInfoFile(ZELError* outError) {
    if (isInvalid()) return false;
    return accessLockedUsing([&] { return restoreAspectsLocked(outError); });
}

bool ZELDatabase::restoreAspectsLocked(ZELError* outError) {
    const std::filesystem::path url = folderURL_ / aspectsInfoFileName;
    std::error_code existsError;
    if (!std::filesystem::exists(url, existsError)) return true;
    ZELError error;
    auto loaded = ZELAspect::aspectsLoadedFromInfoFileAtURL(url, this, &error);
    // The caller hears of a failure; saving goes on, and keeps the unread file aside when it
    // writes a new one.
    if (!loaded) {
        aspectsInfoUnread_ = true;
        return ZELSetError(outError, error);
    }
    std::lock_guard<std::mutex> guard(aspectsLock_);
    for (auto& aspect : *loaded) {
        const bool present = std::any_of(aspects_.begin(), aspects_.end(), [&](const auto& existing) {
            return existing->aspectIdentifier() == aspect->aspectIdentifier();
        });
        if (present) {
            aspect->invalidate();
            continue;
        }
        const auto aspectID = static_cast<uint32_t>(aspects_.size() + 1);
        if (aspect->aspectID() != aspectID) {
            aspect->setAspectID(aspectID);
            aspectInfoDirty_ = true;
        }
        aspects_.push_back(std::move(aspect));
    }
    return true;
}

void ZELDatabase::addJoinedAspectSet(const std::shared_ptr<ZELJoinedAspectSet>& set) {
    if (!set) return;
    std::lock_guard<std::mutex> guard(aspectsLock_);
    for (const ZELString& identifier : set->aspectIdentifiers()) joinedAspectSetByIdent_[identifier] = set;
}

std::shared_ptr<ZELJoinedAspectSet> ZELDatabase::joinedAspectSetForAspectWithIdentifier(
    const ZELString& identifier) const {
    std::lock_guard<std::mutex> guard(aspectsLock_);
    const auto found = joinedAspectSetByIdent_.find(identifier);
    return found == joinedAspectSetByIdent_.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<ZELJoinedAspectSet>> ZELDatabase::allJoinedAspectSets() const {
    std::lock_guard<std::mutex> guard(aspectsLock_);
    std::vector<std::shared_ptr<ZELJoinedAspectSet>> sets;
    std::set<const ZELJoinedAspectSet*> seen;
    for (const auto& [identifier, set] : joinedAspectSetByIdent_) {
        if (seen.insert(set.get()).second) sets.push_back(set);
    }
    return sets;
}
