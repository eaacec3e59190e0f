#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/query/ZELItemSortDescriptor.h"

class ZELDatabase;
class ZELIDVector;
class ZELItem;

// The answer to a query: a fixed vector of item IDs and the items themselves, loaded on
// demand at once (allItems) or on the global worker pool with progress reports on the main
// thread's queue (loadInBackgroundAndNotifyUsing), kept sorted by the client's criteria. Also
// answers which aspect bits occur among its items. Held by std::shared_ptr; shares its
// database. Any thread may use a set: its own lock (loadLock_) guards every field but the
// database and the IDs, and is never held while the database lock is requested. A stored
// list of items is immutable and may be kept by readers while loading goes on.
class ZELItemResultSet : public ZELObject {
public:
    using ItemList = std::vector<std::shared_ptr<ZELItem>>;
    using SharedItemList = std::shared_ptr<const ItemList>;
    using SortCriteria = std::vector<ZELItemSortDescriptor>;
    using Notify = std::function<void(const std::shared_ptr<ZELItemResultSet>& set)>;

    static std::shared_ptr<ZELItemResultSet> resultSetWithItemIDs(
        const ZELIDVector& itemIDs, std::shared_ptr<ZELDatabase> database);
    // Use resultSetWithItemIDs: the set must be owned by a std::shared_ptr.
    ZELItemResultSet(const ZELIDVector& itemIDs, std::shared_ptr<ZELDatabase> database);
    ~ZELItemResultSet() override;

    const std::shared_ptr<ZELDatabase>& database() const { return db_; }
    const std::shared_ptr<ZELIDVector>& itemIDs() const { return itemIDs_; }
    // The number of loaded items once loading is finished, else the number of IDs.
    uint32_t itemCount() const;
    uint32_t loadedItemCount() const;
    // The items loaded so far, sorted; null after discardLoadedItems.
    SharedItemList loadedItems() const;
    bool finishedLoading() const;

    // Every item (IDs without an item left out), loading them on this thread if needed; while
    // a background load runs, waits for it. Requires: the caller does not hold the database
    // lock (the loader takes it for every item).
    SharedItemList allItems();
    // Starts a background load. On a finished set `notify` is called at once on this thread;
    // while a load runs nothing is started and `notify` is never called. Otherwise `notify`
    // is called on the main thread's queue after about 30 ticks, then at most every 180 ticks,
    // and once at the end. The loader keeps the set alive until that last call. When the
    // database is invalidated meanwhile, the set finishes with the items loaded so far.
    void loadInBackgroundAndNotifyUsing(Notify notify);
    // A running loader stops at its next progress point and finishes the set with the items
    // it has loaded, unless the set was finished meanwhile.
    void cancelBackgroundLoading();
    // When `other` has finished loading and holds all of this set's IDs: this set takes the
    // matching items of `other` (in its order), finishes and cancels its own load; true.
    bool takeLoadedItemsFromSimilarResultSet(const ZELItemResultSet& other);
    // Loads the finished set's items with those IDs again; items the database no longer has
    // are removed. The set's IDs stay as they are. Nothing happens before loading finished.
    void forceReloadItemsWithIDs(const ZELIDVector& itemIDs);
    // A finished set drops its items and becomes unfinished; a later allItems or background
    // load loads them again. Nothing happens before loading finished.
    void discardLoadedItems();

    std::optional<SortCriteria> loadedItemSortDescriptors() const;
    // Stores the criteria; a finished set is sorted again at once, an unfinished one at its
    // next store. None keeps the present order.
    void setLoadedItemSortDescriptors(std::optional<SortCriteria> criteria);

    // The union of the aspect bit IDs of the set's items, asked of the database once and
    // cached; null for a set without IDs.
    std::shared_ptr<ZELIDVector> viableAspectBitIDs();

    // The hash of the IDs.
    uint64_t hash() const;
    // Another result set with an equal ID vector; the loaded items take no part.
    bool isEqual(const ZELObject& other) const;
    // "ZELItemResultSet<0x...> holds N items" (itemCount).
    std::string description() const override;
    std::string className() const override { return "ZELItemResultSet"; }

private:
    // Sorts `list` (outside the lock) and stores a snapshot of it as the loaded items unless
    // the set is finished already; with `finished` the set becomes finished. False, storing
    // nothing, when no background load is on and `finished` is false (a cancelled loader
    // learns so that it must stop), or when `loaderGeneration` (0: not a loader) is not the
    // current load's.
    bool storeLoadedItems(ItemList& list, bool finished, uint64_t loaderGeneration);
    void runLoader(const Notify& notify, ItemList working, uint64_t generation);

    const std::shared_ptr<ZELDatabase> db_;
    const std::shared_ptr<ZELIDVector> itemIDs_;

    mutable std::mutex loadLock_;
    std::condition_variable loadStateChanged_;      // waited on by allItems
    std::shared_ptr<ZELIDVector> viableAspectIDs_;  // guarded by loadLock_
    bool isLoadInBackground_ = false;               // guarded by loadLock_
    bool isLoadFinished_ = false;                   // guarded by loadLock_
    SharedItemList loadedItems_;                    // guarded by loadLock_
    std::optional<SortCriteria> sortDescs_;         // guarded by loadLock_
    // Each background load has a generation; discarding the items makes a running loader's
    // generation stale, so that it stores nothing more. Guarded by loadLock_.
    uint64_t loaderGeneration_ = 0;
    bool isLoaderRunning_ = false;  // the current generation's loader has not ended
};
