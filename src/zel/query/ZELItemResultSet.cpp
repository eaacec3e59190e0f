#include "zel/query/ZELItemResultSet.h"

#include <unordered_set>

#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTickClock.h"
#include "zel/platform/ZELWorkerPool.h"

namespace {

// Progress intervals of a background load, in ticks of 1/60 s: the first report after half a
// second, later ones at most every three seconds.
constexpr uint32_t kFirstReportInterval = 30;
constexpr uint32_t kLaterReportInterval = 180;

}  // namespace

std::shared_ptr<ZELItemResultSet> ZELItemResultSet::resultSetWithItemIDs(
    const ZELIDVector& itemIDs, std::shared_ptr<ZELDatabase> database) {
    return std::make_shared<ZELItemResultSet>(itemIDs, std::move(database));
}

ZELItemResultSet::ZELItemResultSet(const ZELIDVector& itemIDs,
                                   std::shared_ptr<ZELDatabase> database)
    : db_(std::move(database)),
      itemIDs_([&] {
          auto own = itemIDs.copy();
          return own ? own : ZELIDVector::vector();
      }()),
      loadedItems_(std::make_shared<const ItemList>()) {}

ZELItemResultSet::~ZELItemResultSet() = default;

uint32_t ZELItemResultSet::itemCount() const {
    std::lock_guard<std::mutex> guard(loadLock_);
    if (isLoadFinished_ && loadedItems_) return static_cast<uint32_t>(loadedItems_->size());
    return itemIDs_->count();
}

uint32_t ZELItemResultSet::loadedItemCount() const {
    std::lock_guard<std::mutex> guard(loadLock_);
    return loadedItems_ ? static_cast<uint32_t>(loadedItems_->size()) : 0;
}

ZELItemResultSet::SharedItemList ZELItemResultSet::loadedItems() const {
    std::lock_guard<std::mutex> guard(loadLock_);
    return loadedItems_;
}

bool ZELItemResultSet::finishedLoading() const {
    std::lock_guard<std::mutex> guard(loadLock_);
    return isLoadFinished_;
}

bool ZELItemResultSet::storeLoadedItems(ItemList& list, bool finished, uint64_t loaderGeneration) {
    std::optional<SortCriteria> criteria;
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (loaderGeneration != 0 && loaderGeneration != loaderGeneration_) return false;
        if (!isLoadInBackground_ && !finished) return false;
        criteria = sortDescs_;
    }
    // Sorted outside the lock; when the criteria change meanwhile, sorted again by the new ones
    // (their setter leaves an unfinished set to the next store).
    for (;;) {
        if (criteria) ZELItemSortDescriptor::sortItems(list, *criteria);
        auto snapshot = std::make_shared<const ItemList>(list);
        {
            std::lock_guard<std::mutex> guard(loadLock_);
            if (loaderGeneration != 0 && loaderGeneration != loaderGeneration_) return false;
            if (sortDescs_ != criteria) {
                criteria = sortDescs_;
                continue;
            }
            if (!isLoadFinished_) {
                loadedItems_ = std::move(snapshot);
                if (finished) isLoadFinished_ = true;
            }
        }
        break;
    }
    if (finished) loadStateChanged_.notify_all();
    return true;
}

ZELItemResultSet::SharedItemList ZELItemResultSet::allItems() {
    {
        std::unique_lock<std::mutex> guard(loadLock_);
        // A loader that still runs finishes the set; one that was made stale by
        // discardLoadedItems never will, so the wait ends with it too.
        if (isLoadInBackground_) {
            loadStateChanged_.wait(guard, [&] { return isLoadFinished_ || !isLoaderRunning_; });
        }
        if (isLoadFinished_) return loadedItems_;
    }
    ItemList list;
    list.reserve(itemIDs_->count());
    itemIDs_->enumerateIDs([&](ZELID id, bool&) {
        if (auto item = db_->itemForItemID(id, nullptr)) list.push_back(std::move(item));
    });
    storeLoadedItems(list, true, 0);
    std::lock_guard<std::mutex> guard(loadLock_);
    return loadedItems_;
}

void ZELItemResultSet::loadInBackgroundAndNotifyUsing(Notify notify) {
    auto self = sharedFromThisAs<ZELItemResultSet>();
    ItemList working;
    uint64_t generation = 0;
    {
        std::unique_lock<std::mutex> guard(loadLock_);
        if (isLoadFinished_) {
            guard.unlock();
            if (notify) notify(self);
            return;
        }
        if (isLoadInBackground_) return;
        isLoadInBackground_ = true;
        isLoaderRunning_ = true;
        generation = ++loaderGeneration_;
        if (loadedItems_) working = *loadedItems_;
    }
    ZELWorkerPool::global().async(
        [self, notify = std::move(notify), working = std::move(working), generation]() mutable {
            self->runLoader(notify, std::move(working), generation);
        });
}

void ZELItemResultSet::runLoader(const Notify& notify, ItemList working, uint64_t generation) {
    auto self = sharedFromThisAs<ZELItemResultSet>();
    // However the loader ends (an exception included), a waiting allItems must wake.
    struct LoaderEnd {
        ZELItemResultSet* set;
        uint64_t generation;
        ~LoaderEnd() {
            {
                std::lock_guard<std::mutex> guard(set->loadLock_);
                if (generation == set->loaderGeneration_) set->isLoaderRunning_ = false;
            }
            set->loadStateChanged_.notify_all();
        }
    } loaderEnd{this, generation};

    // The items already in the list are passed over by their IDs: counting them would skip the
    // wrong IDs when some earlier ID had no item.
    std::unordered_set<ZELID> present;
    for (const auto& item : working) {
        if (item) present.insert(item->itemID());
    }
    uint32_t lastReport = ZELTickCount();
    uint32_t interval = kFirstReportInterval;
    bool stopped = false;
    itemIDs_->enumerateIDs([&](ZELID id, bool& stop) {
        if (present.count(id) != 0) return;
        std::shared_ptr<ZELItem> item;
        try {
            item = db_->itemForItemID(id, nullptr);
        } catch (const ZELException& exception) {
            // An invalidated database gives no more items: the set finishes with those loaded.
            if (exception.name() != ZELDatabaseInvalidException) throw;
            stop = true;
            return;
        }
        if (item) working.push_back(std::move(item));
        if (static_cast<uint32_t>(ZELTickCount() - lastReport) > interval) {
            interval = kLaterReportInterval;
            if (!storeLoadedItems(working, false, generation)) {
                stopped = true;
                stop = true;
                return;
            }
            if (notify) ZELMainQueue::async([self, notify] { notify(self); });
            lastReport = ZELTickCount();
        }
    });
    bool skipStore = false;
    if (stopped) {
        std::lock_guard<std::mutex> guard(loadLock_);
        skipStore = isLoadFinished_;
    }
    if (!skipStore) storeLoadedItems(working, true, generation);
    if (notify) ZELMainQueue::async([self, notify] { notify(self); });
}

void ZELItemResultSet::cancelBackgroundLoading() {
    std::lock_guard<std::mutex> guard(loadLock_);
    isLoadInBackground_ = false;
}

bool ZELItemResultSet::takeLoadedItemsFromSimilarResultSet(const ZELItemResultSet& other) {
    SharedItemList otherItems;
    {
        std::lock_guard<std::mutex> guard(other.loadLock_);
        if (!other.isLoadFinished_ || !other.loadedItems_) return false;
        otherItems = other.loadedItems_;
    }
    if (!itemIDs_->isSubsetOfVector(*other.itemIDs_)) return false;
    ItemList list;
    list.reserve(itemIDs_->count());
    for (const auto& item : *otherItems) {
        if (item && itemIDs_->containsID(item->itemID())) list.push_back(item);
    }
    storeLoadedItems(list, true, 0);
    cancelBackgroundLoading();
    return true;
}

void ZELItemResultSet::forceReloadItemsWithIDs(const ZELIDVector& itemIDs) {
    SharedItemList current;
    std::optional<SortCriteria> criteria;
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (!isLoadFinished_ || !loadedItems_) return;
        current = loadedItems_;
    }
    ItemList list(*current);
    const uint32_t total = itemIDs.count();
    uint32_t handled = 0;
    for (size_t index = 0; index < list.size() && handled < total;) {
        if (!list[index] || !itemIDs.containsID(list[index]->itemID())) {
            ++index;
            continue;
        }
        ++handled;
        if (auto fresh = db_->itemForItemID(list[index]->itemID(), nullptr)) {
            list[index++] = std::move(fresh);
        } else {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
        }
    }
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        criteria = sortDescs_;
    }
    for (;;) {
        if (criteria) ZELItemSortDescriptor::sortItems(list, *criteria);
        auto snapshot = std::make_shared<const ItemList>(list);
        std::lock_guard<std::mutex> guard(loadLock_);
        if (sortDescs_ != criteria) {
            criteria = sortDescs_;
            continue;
        }
        // A set discarded meanwhile stays discarded.
        if (isLoadFinished_) loadedItems_ = std::move(snapshot);
        break;
    }
}

void ZELItemResultSet::discardLoadedItems() {
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (!isLoadFinished_) return;
        loadedItems_.reset();
        isLoadFinished_ = false;
        // The finished load no longer runs: a later allItems must not wait for it, and a new
        // background load must start. A loader still on its way out stores nothing more.
        isLoadInBackground_ = false;
        isLoaderRunning_ = false;
        ++loaderGeneration_;
    }
    loadStateChanged_.notify_all();
}

std::optional<ZELItemResultSet::SortCriteria> ZELItemResultSet::loadedItemSortDescriptors() const {
    std::lock_guard<std::mutex> guard(loadLock_);
    return sortDescs_;
}

void ZELItemResultSet::setLoadedItemSortDescriptors(std::optional<SortCriteria> criteria) {
    SharedItemList current;
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (sortDescs_ != criteria) sortDescs_ = criteria;
        if (!isLoadFinished_ || !criteria || !loadedItems_) return;
        current = loadedItems_;
    }
    // Sorted outside the lock (the value getters are client code); a list stored meanwhile
    // was already sorted by these or newer criteria.
    ItemList list(*current);
    ZELItemSortDescriptor::sortItems(list, *criteria);
    auto snapshot = std::make_shared<const ItemList>(std::move(list));
    std::lock_guard<std::mutex> guard(loadLock_);
    if (loadedItems_ == current && sortDescs_ == criteria) loadedItems_ = std::move(snapshot);
}

std::shared_ptr<ZELIDVector> ZELItemResultSet::viableAspectBitIDs() {
    {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (viableAspectIDs_) return viableAspectIDs_;
    }
    if (itemIDs_->isEmpty()) return nullptr;
    auto answer = db_->aspectIDVectorByUnionOfAspectIDsForItemIDs(*itemIDs_);
    auto own = answer ? answer->copy() : nullptr;
    if (!own) return nullptr;
    std::lock_guard<std::mutex> guard(loadLock_);
    if (!viableAspectIDs_) viableAspectIDs_ = std::move(own);
    return viableAspectIDs_;
}

uint64_t ZELItemResultSet::hash() const { return itemIDs_->hash(); }

bool ZELItemResultSet::isEqual(const ZELObject& other) const {
    if (&other == this) return true;
    const auto* set = dynamic_cast<const ZELItemResultSet*>(&other);
    return set && set->itemIDs_->isEqual(*itemIDs_);
}

std::string ZELItemResultSet::description() const {
    return ZELStringWithFormat("%s holds %ld items", descriptionHead().c_str(),
                               static_cast<long>(itemCount()));
}
