#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorageObjectInfo.h"
#include "zel/storage/ZELDiskDataStorageSlotTable.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"
#include "zel/stream/ZELStreamSerializable.h"

class ZELDiskDataStorage;
class ZELDiskDataStorageIndex;
class ZELDiskDataStorageStrategyManager;

// Told of the errors a disk data storage meets while reading an object or a page of its index
// for a lookup (which then yields null), and of derived data it rebuilt before its first write.
// Implemented by the database, which forwards both to its own delegate. Called on the thread of
// the lookup or the save, under the database lock.
class ZELDiskDataStorageDelegate {
public:
    virtual ~ZELDiskDataStorageDelegate() = default;
    virtual void diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage& storage,
                                                            const ZELError& error) = 0;
    // A warning: a damaged free space table was rebuilt from the index before the store's first
    // write; nothing stored was lost. The message names the file and the damage. By default it
    // is handled as a background error.
    virtual void diskDataStorageDidRepairDerivedData(ZELDiskDataStorage& storage,
                                                     const ZELError& warning) {
        diskDataStorageDidEncounterBackgroundError(storage, warning);
    }
};

// A range of slot indexes; length 0 = empty.
struct ZELDiskDataStorageIndexRange {
    uint64_t location = 0;
    uint64_t length = 0;
};

// The persistent object store under every large table of the database: it maps dense object IDs
// (1, 2, ...) to stream-serializable objects kept in block-structured data files, caches loaded
// objects, remembers which IDs changed since the last save and writes only those back. It holds
// the slot table (the slot of ID n at index n - 1) and the ID bookkeeping; the strategy manager
// places the bytes in data files and the index reads and writes the index file B.index next to
// the data folder B. The typed stores are its subclasses: they call the constructor, set the
// stored type and call didFinishInit.
//
// Owned by the database (or a test); used under the database lock from one thread at a time.
class ZELDiskDataStorage : public ZELObject, public ZELMemoryMetricsProvider {
public:
    using Object = std::shared_ptr<ZELStreamSerializable>;
    // Answers whether the object with `objectID` may leave the cache; setting `stop` ends the
    // walk after this call.
    using EvictionPredicate =
        std::function<bool(const Object& object, ZELID objectID, bool isClean, bool& stop)>;

    // A store of `storedType` objects on `baseNameURL`, after didFinishInit; not loaded yet.
    static std::shared_ptr<ZELDiskDataStorage> storageWithBaseNameURL(
        std::filesystem::path baseNameURL, ZELStreamDeserializer storedType);

    // Keeps the URL, creates the strategy manager on it and an empty index.
    explicit ZELDiskDataStorage(std::filesystem::path baseNameURL);
    ~ZELDiskDataStorage() override;
    ZELDiskDataStorage(const ZELDiskDataStorage&) = delete;
    ZELDiskDataStorage& operator=(const ZELDiskDataStorage&) = delete;

    // Runs resetToEmpty; subclasses call it at the end of their construction.
    virtual void didFinishInit();
    // Back to the freshly created state in memory (files are not touched): manager and index
    // reset, no error kept, no cached object, no slot, nothing dirty. The next save rewrites the
    // whole index.
    virtual void resetToEmpty();
    // Drops the URL and the delegate, resets, closes every file. Later loads and saves fail.
    virtual void invalidate();

    // ---- Configuration ----

    // The stored type: objects are written and read as it, without a class name before them.
    const ZELStreamDeserializer& serializableObjectClass() const;
    void setSerializableObjectClass(ZELStreamDeserializer storedType);
    // A hint passed to the strategy manager; nothing depends on it.
    void setIsDataBlockSizeGenerallyStatic(bool flag);
    ZELDiskDataStorageDelegate* delegate() const { return delegate_; }
    void setDelegate(ZELDiskDataStorageDelegate* delegate) { delegate_ = delegate; }
    const std::filesystem::path& baseFileNameURL() const { return baseURL_; }
    // The base URL with the extension "index" (B.index).
    std::filesystem::path indexFileURL() const;
    ZELDiskDataStorageIndex* objectIndex() const { return objectIndex_.get(); }
    ZELDiskDataStorageStrategyManager* objectStore() const { return objectStore_.get(); }
    // The first error met by a lookup since the last reset; a no-error value while none.
    const ZELError& lastError() const { return lastError_; }

    // ---- IDs and slots ----

    ZELID largestAssignedObjectIndexID() const;
    uint32_t livingObjectCount() const;
    // min(largest assigned ID, slots allocated).
    uint64_t assignedCount() const;
    uint64_t slotCapacity() const { return slots_.size(); }
    // Requires: index < assignedCount(). Reads the slot's page of the index file when needed.
    ZELDiskDataStorageObjectInfo& assignedObjectInfoAtIndex(uint64_t index) {
        return slots_[index];
    }
    // Every slot below assignedCount(), ascending; reads the pages of the index not read yet.
    void enumerateAssignedSlotsUsing(ZELDiskDataStorageSlotVisitor visitor) const;
    // Reads every page of the index not read yet; false with the read's error when one failed
    // (since the index was read). Lookups read the pages they need on their own.
    bool readAllSlotsAndGetError(ZELError* outError) const;
    // The slot's offset (and length); 0 for an index >= assignedCount().
    uint32_t assignedOffsetForObjectAtIndex(uint64_t index, uint32_t* outLength) const;
    // True when the ID's slot has stored data or a cached object.
    bool isLivingObjectAtIndexID(ZELID objectID) const;
    // The smallest ID that is not living; freed IDs are reused, smallest first.
    ZELID smallestUnassignedObjectIndexID();
    ZELID nextUnassignedUniqueIndexID() { return smallestUnassignedObjectIndexID(); }
    // False when `objectID` is 0 or living; else assigns it, stores `object` in its slot and
    // marks it dirty. Raises ZELOutOfMemoryException when the slot table cannot grow.
    bool assignUniqueIndexID(ZELID objectID, Object object);
    // Assigns nextUnassignedUniqueIndexID() to `object` and answers it.
    ZELID assignUniqueIndexIDForObject(Object object);
    // Frees the ID's stored block (once the next save no longer names it), drops its object and
    // marks it dirty. Nothing for an ID out of range or not living.
    void removeObjectAtIndexID(ZELID objectID);

    // ---- Objects ----

    // Null for an ID outside the assigned slots. A cached object is answered directly; with
    // `load` false the cache is all that is consulted. Otherwise the object is read as
    // `requiredClass` (kept in the slot with `cache`). A read that fails yields null; its error
    // is kept as lastError (the first one) and given to the delegate.
    Object objectAtIndexID(ZELID objectID, bool load, bool cache,
                           const ZELStreamDeserializer& requiredClass);
    // The same as the stored type.
    Object objectAtIndexID(ZELID objectID, bool load, bool cache);
    // Loads (when not cached) as `forcedClass`.
    Object objectAtIndexID(ZELID objectID, const ZELStreamDeserializer& loadWithForcedClass,
                           bool cache);
    // The cached object of `objectID` in place, or null when none is cached; loads nothing and
    // reads no page. Valid until the slot's object is next evicted or replaced.
    ZELStreamSerializable* cachedObjectInPlace(ZELID objectID) const;
    // Hints for a run of lookups: start bringing into the processor's cache the slot of
    // `objectID`, or the object cached there. They read no page and change nothing.
    void prefetchSlot(ZELID objectID) const;
    void prefetchCachedObject(ZELID objectID) const;
    // Replaces the cached object of an assigned ID (an ID outside is ignored); with `markDirty`
    // the slot is marked dirty.
    void setObject(Object object, ZELID objectID, bool markDirty);
    // Drops the cached object when it is clean (saved and unchanged since): a changed object is
    // never dropped before it is saved.
    void evictCachedObjectAtIndexID(ZELID objectID);
    // For every clean cached object in ascending ID order, drops it when `predicate` answers
    // true. Dirty or never-stored objects are never evicted (and not shown to the predicate).
    void evictCachedObjectsPassing(const EvictionPredicate& predicate);
    // Marks an assigned ID dirty and widens the dirty range to cover it.
    void markObjectDirtyAtIndexID(ZELID objectID);
    // Clears the dirty marks of the slots in the range and empties the dirty range.
    void clearObjectDirtyInRange(uint64_t location, uint64_t length);
    // The smallest range of slot indexes covering every dirty slot.
    ZELDiskDataStorageIndexRange fullDirtyRange() const { return fullDirtyRange_; }

    // ---- Enumeration (disk-optimal order: ascending file number, then offset) ----

    // The given slot indexes, sorted in place into disk-optimal order.
    void enumerateObjectInfosWithIndexes(uint64_t* indexes, uint64_t count,
                                         ZELFunctionRef<void(uint64_t index, bool& stop)> visitor);
    // Every slot index below assignedCount(), disk-optimal.
    void enumerateObjectInfoInDiskOptimalOrderUsing(
        ZELFunctionRef<void(uint64_t index, bool& stop)> visitor);
    // Every ID in the caller's order, with its object or null; the objects are fetched first in
    // disk-optimal order with `load` as both the load and the cache flag.
    void enumerateObjectsWithIndexIDs(const ZELID* objectIDs, uint64_t count, bool load,
                                      ZELFunctionRef<void(const Object& object)> visitor);
    // Ascending ID 1 ... largest, skipping IDs without an object; with `force` the whole store
    // is loaded first (loadAllAndGetError; nothing is visited when it fails) and every object is
    // loaded and cached.
    void enumerateObjectsForceLoad(
        bool force, ZELFunctionRef<void(const Object& object, ZELID objectID, bool& stop)> visitor);
    // Disk-optimal; slots without stored data are skipped. The bytes are the object's serialized
    // bytes without the length prefix, valid only during the call.
    void enumerateObjectDataInDiskOptimalOrderUsing(
        ZELFunctionRef<void(ZELID objectID, const uint8_t* bytes, uint64_t byteCount, bool& stop)>
            visitor);
    // Ascending ID over cached objects only; isClean = not dirty and stored.
    void enumerateInMemoryObjectsUsing(
        ZELFunctionRef<void(const Object& object, ZELID objectID, bool isClean, bool& stop)>
            visitor);
    // Ascending over the dirty range, dirty slots only.
    void enumerateDirtyObjectIndexesUsing(ZELFunctionRef<void(uint64_t index, bool& stop)> visitor);

    // ---- Persistence ----

    // Opens the store: reads B.index's header (converting a legacy store; the entries of a
    // current one are read page by page as slots are used), then checks every shared data
    // file's header (its free space table is read when first needed). A missing B.index
    // creates an empty store and its index, unless the data folder B exists (code 3: its
    // objects would be lost).
    //
    // The free space tables are compared with the index before the store first writes (the
    // first save with something to write): a table that could not be read or disagrees with
    // the index and its data file is rebuilt, and the delegate is warned
    // (diskDataStorageDidRepairDerivedData). A session that only reads never pays for it.
    bool loadAndGetError(ZELError* outError);
    // Called by the index loader: forgets the ID guess and the dirty range and answers the slot
    // table to attach the index file to, or to fill; nothing is dirty afterwards.
    ZELDiskDataStorageSlotTable& slotTableForLoadingIndex();
    // Reads every stored object into the cache with large read buffers, reloading the index
    // first unless there are unsaved changes. The delegate is not told of errors met here; the
    // first one fails the call.
    bool loadAllAndGetError(ZELError* outError);
    // Writes the dirty objects, then the index; the dirty marks are cleared only when both
    // succeeded. Blocks the objects left are reused only after that. A store that has never
    // assigned an ID is written even with nothing dirty (that is how its index file is made).
    // Fails with the slot table's read error once a page of the index could not be read.
    bool ensureSerializedAndGetError(ZELError* outError);
    // Levels 2 and 3 save and then evict every clean object; other levels only evict. A failed
    // save is logged ("data store compacting error: ...") and the eviction still runs. After a
    // save the slot table lets go of its clean pages, which are read again from the index file
    // when next used.
    virtual void compactMemory(int level);
    virtual void compactMemory(int level, const EvictionPredicate& evictObjectsPassing);

    // ---- Diagnostics ----

    // The store's own size and slot table as RAM, the index file as disk bytes, then the data
    // files, free space tables and per-object figures.
    void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const override;
    // The memory estimate of a cached object; 8 bytes plus its serialized size unless a
    // subclass knows better.
    virtual uint64_t byteCountInActiveRAMForObject(const ZELStreamSerializable& object) const;
    // "<type><0x...>, largestID=<n>, <metrics summary>".
    std::string description() const override;
    // The same head, the metrics summary, then "DISK ALLOCATION BREAKDOWN:" and the block
    // tables.
    std::string descriptionDetailed() const;

protected:
    // Keeps `error` as lastError when none is kept, and gives it to the delegate.
    void reportStreamError(const ZELError& error);

private:
    bool isInvalidated() const { return !objectStore_; }
    bool failIfInvalidated(ZELError* outError) const;
    void resetStorage();
    void growSlotsToInclude(uint64_t index);
    void markSlotDirty(uint64_t index);
    // Slot indexes sorted into disk-optimal order.
    void sortIndexesInDiskOptimalOrder(uint64_t* indexes, uint64_t count) const;
    Object loadObjectInSlot(uint64_t index, bool cache, const ZELStreamDeserializer& type);
    bool convertLegacyStoreAndGetError(ZELError* outError);
    // Right after a save: lets the slot table go of the pages the index file holds as they are.
    void dropCleanSlotPages();
    // Before the first write after loading: reads every slot, corrects the living count and the
    // largest ID when the index header disagrees with the entries, and rebuilds the free space
    // tables that disagree with the slots (warning the delegate). Fails when a page of the
    // index cannot be read: nothing may be written over entries the store does not know.
    bool checkSlotsBeforeWritingAndGetError(ZELError* outError);

    std::filesystem::path baseURL_;
    ZELDiskDataStorageDelegate* delegate_ = nullptr;  // not owned
    ZELError lastError_;
    std::unique_ptr<ZELDiskDataStorageIndex> objectIndex_;
    std::unique_ptr<ZELDiskDataStorageStrategyManager> objectStore_;  // null once invalidated
    uint64_t smallestUnusedObjectIndexGuess_ = 0;
    ZELDiskDataStorageIndexRange fullDirtyRange_;
    // The slot table; its size is the number of slots allocated (empty when grown).
    ZELDiskDataStorageSlotTable slots_;
    // Set when the index is loaded, cleared by checkSlotsBeforeWritingAndGetError.
    bool needsSlotCheck_ = false;
};
