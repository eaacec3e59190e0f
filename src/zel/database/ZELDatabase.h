#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/platform/ZELValue.h"
#include "zel/storage/ZELDatabaseItemClassMap.h"
#include "zel/storage/ZELDiskDataStorage.h"

class ZELAspect;
class ZELAspectBitValueInfo;
class ZELAspectBitValueStorage;
class ZELDatabase;
class ZELDatabaseJournal;
class ZELDatabaseMetaInfo;
class ZELIDVectorArray;
class ZELItem;
class ZELItemDefinition;
class ZELItemExistenceMap;
class ZELItemStorage;
class ZELJoinedAspectSet;
class ZELSerializableData;
class ZELSynonymList;

// The change notification: posted on ZELNotificationCenter::defaultCenter() with the database as
// object, on the thread that ends the outermost lock hold or change batch, after the lock is
// released. Its one detail, under ZELDatabaseNotificationKey_ChangedItemIDs, is a ZELIDVector
// (as a ZELValue object) of every item added, re-indexed or removed since the last one.
extern const char* const ZELDatabaseNotification_ItemsDidChange;   // "com.tarvo.ZEL.Database.itemsDidChange"
extern const char16_t* const ZELDatabaseNotificationKey_ChangedItemIDs;  // u"changedItemIDs"

// Implemented by the host; held by the database without ownership.
class ZELDatabaseDelegate {
public:
    virtual ~ZELDatabaseDelegate() = default;
    // The host's schema version, checked against the one stored in the meta info; none: 1.
    virtual std::optional<int64_t> databaseClientSchemaVersionNumber(ZELDatabase& database);
    // A registered item class name to use for a stored class name the process lacks; none:
    // the base class "ZELItem".
    virtual std::optional<std::string> databaseEncounteredUnknownItemClassName(
        ZELDatabase& database, const std::string& className);
    // A store met an error in the background. Called on the main thread's queue.
    virtual void databaseEncounteredBackgroundError(ZELDatabase& database, const ZELError& error);
};

// The item index of one database folder: its meta info and item class map, the item store, the
// aspect bit value store and the two ID-vector arrays (item -> aspect bit IDs, aspect bit ID ->
// items), the ordered aspects, joined aspect sets and synonyms. Created by the host, held by
// std::shared_ptr; the delegate is not owned.
//
// Threads: one recursive database lock guards every read and change of the index; it may be
// taken on any thread. Item, aspect bit value and vector operations take it themselves (the
// "Requires" lines name those that expect the caller to hold it). bootstrapFromDisk and
// ensureSerialized do not take it: call them while no other thread uses the database, or hold
// the lock around them. The aspect lookups guard the aspect list with a small lock of their own,
// always taken after the database lock when both are held.
class ZELDatabase : public ZELObject,
                    public ZELDiskDataStorageDelegate,
                    public ZELDatabaseItemClassResolver {
public:
    // Folder entries. Stored; never change.
    static constexpr const char* aspectsInfoFileName = "aspects.plist";
    static constexpr const char* aspectsFolderName = "aspects";
    static constexpr const char* storageFolderName = "storage";
    static constexpr const char* itemClassesFileName = "itemClasses.plist";
    static constexpr const char* itemStoreName = "items";
    static constexpr const char* aspectValueStoreName = "aspectValues";
    static constexpr const char* aspectBitVectorsStoreName = "aspectBitIDVectors";
    static constexpr const char* itemVectorsStoreName = "itemIDVectors";
    static constexpr const char* synonymsFolderName = "synonyms";
    // The client value of the meta info under which this library notes the key order of the
    // folder's sort files: 2, the diacritic-blind order of compareZELSort. A folder without it
    // may hold lists in the plain code point order; each of them is checked when loaded and
    // re-sorted once. The key is in the library's own domain, apart from the host's keys.
    // Stored; never change.
    static constexpr const char16_t* sortFileKeyOrderClientKey = u"com.tarvo.ZEL.sortFileKeyOrder";
    static constexpr int64_t sortFileKeyOrder = 2;

    // Nothing is read from disk; call bootstrapFromDisk.
    static std::shared_ptr<ZELDatabase> databaseWithIdentifier(std::string identifier,
                                                               ZELDatabaseDelegate* delegate,
                                                               std::filesystem::path folderURL);
    ZELDatabase(std::string identifier, ZELDatabaseDelegate* delegate,
                std::filesystem::path folderURL);
    // Invalidates (saving nothing).
    ~ZELDatabase() override;
    ZELDatabase(const ZELDatabase&) = delete;
    ZELDatabase& operator=(const ZELDatabase&) = delete;

    // ---- Lifecycle (ZELDatabase.cpp) ----

    // Tries the lock for up to 2 seconds, then drops the aspects, joined sets, synonyms and
    // stores and forgets the delegate; nothing is saved. Afterwards acquireLock and
    // accessLockedUsing raise ZELDatabaseInvalidException and tryAcquireLock answers false.
    // When another thread still holds the lock after the wait, the components are left to the
    // destructor, so that work still running there never meets a torn-down store.
    void invalidate();
    bool isInvalid() const { return isInvalid_.load(); }

    const std::string& identifier() const { return ident_; }
    ZELDatabaseDelegate* delegate() const { return delegate_.load(); }
    const std::filesystem::path& folderURL() const { return folderURL_; }
    std::shared_ptr<ZELDatabaseMetaInfo> metaInfo() const;
    std::shared_ptr<ZELDatabaseItemClassMap> itemClassMap() const { return classMap_; }
    std::shared_ptr<ZELSynonymList> synonymList() const { return synonymList_; }
    bool isBootstrapped() const { return isBootstrapped_; }
    // The folder's journal (null until opened); for measuring what it costs.
    ZELDatabaseJournal* journal() const { return journal_.get(); }
    // Set by a file-load warning with read-only marking; nothing consults it.
    bool isReadOnly() const { return isReadOnly_.load(); }

    // Opens the folder: takes its one-writer lock (a folder another database holds, in this
    // process or another, fails with an error naming it), rolls back a save that did not
    // complete, validates (or creates) the meta info, loads the class map and the stores, and
    // the synonyms (damaged synonyms are reported as a background error and left out). Aspects
    // are not read: add them with
    // ensureAspectExistsWithIdentifier or restoreAspectsFromInfoFile. A failure keeps its error
    // as lastSerializationError and answers false.
    bool bootstrapFromDisk();
    // Writes the meta info (when changed), class map, "aspects.plist" (when the aspects
    // changed), every aspect's sorted list, the stores and the synonyms, as one transaction of
    // the folder's journal (ZELDatabaseJournal) together with every write to the folder since
    // the last save: true once all of it is durable; after a failure (or a kill, or a power
    // cut) the folder opens as the last completed save left it. False at once when a load or
    // save failed before.
    bool ensureSerialized();
    // After a failed save, once its cause is gone: forgets the kept error and saves again,
    // everything not yet committed (the failed save's transaction stays open until then, or
    // is rolled back when the database is invalidated). False when the database never opened.
    bool retrySerialization();
    // The folder; with `create` an unreachable folder is made with its parents. None (with the
    // file system's error) when creation fails.
    std::optional<std::filesystem::path> baseFolderURLAndCreate(bool create, ZELError* outError);
    std::filesystem::path aspectDataFolderURL() const { return folderURL_ / aspectsFolderName; }
    // Keeps the first error for good.
    void reportSerializationError(const ZELError& error);
    ZELError lastSerializationError() const;
    ZELValue clientPlistValueForKey(const ZELString& key) const;
    void setClientPlistValue(const ZELValue& value, const ZELString& key);

    // ---- Locking (ZELDatabase.cpp) ----

    // Waits for the lock; raises ZELDatabaseInvalidException (not holding it) once invalid,
    // also when invalidate ran while this thread waited.
    void acquireLock();
    // False once invalid or when another thread holds the lock.
    bool tryAcquireLock();
    // Releases one hold; after the outermost one, posts the pending change notification.
    void relinquishLock();
    // Runs `block` holding the lock (released also when it throws) and answers its result.
    template <typename Block>
    decltype(auto) accessLockedUsing(Block&& block);
    // The holder's nesting depth (0 while nobody holds the lock).
    uint64_t lockCount() const { return lockCount_.load(); }

    // ---- Aspects (ZELDatabase+Aspects.cpp) ----

    std::vector<std::shared_ptr<ZELAspect>> allAspects() const;
    std::shared_ptr<ZELAspect> aspectWithIdentifier(const ZELString& identifier) const;
    std::vector<std::shared_ptr<ZELAspect>> aspectsWithIdentifiers(
        const std::vector<ZELString>& identifiers) const;
    // The existing aspect, else a new one with aspect ID = number of aspects + 1 (loading its
    // sorted list), appended. Null, changing nothing, for an empty identifier, an invalid
    // database or when the list fails to load. Takes the database lock (a list of a folder
    // whose key order is not noted is checked against its keys), so it raises as
    // accessLockedUsing does when invalidate runs while it waits.
    std::shared_ptr<ZELAspect> ensureAspectExistsWithIdentifier(const ZELString& identifier,
                                                                ZELError* outError = nullptr);
    // Reads "aspects.plist" and appends its aspects, with their tokenizers and flags, in stored
    // order; identifiers the database already has keep their aspect. A missing file restores
    // nothing and succeeds. Other failures (damaged file, bad definition) append nothing and
    // answer the error; saving is not stopped, and the next save that writes "aspects.plist"
    // first moves the unread file aside ("aspects-damaged.plist").
    bool restoreAspectsFromInfoFile(ZELError* outError);
    void addJoinedAspectSet(const std::shared_ptr<ZELJoinedAspectSet>& set);
    std::shared_ptr<ZELJoinedAspectSet> joinedAspectSetForAspectWithIdentifier(
        const ZELString& identifier) const;
    std::vector<std::shared_ptr<ZELJoinedAspectSet>> allJoinedAspectSets() const;

    // ---- Items (ZELDatabase+Items.cpp) ----

    // Adds the item unless it duplicates a stored one; answers the new or matched ID (0 when a
    // store refused the new ID: nothing was added, and the error went to the delegate).
    ZELID addItem(const std::shared_ptr<ZELItem>& item, bool* outWasAdded);
    // addItem for each item in order, giving the same IDs and the same stored state; each
    // answer is the item's ID (0 when not added). Up to `threadCount` threads (the calling
    // thread included) tokenize the items ahead, while the calling thread enters them one by one;
    // an item's tokenizing hooks run on the thread that tokenizes it.
    std::vector<ZELID> addItems(const std::vector<std::shared_ptr<ZELItem>>& items,
                                unsigned threadCount);
    // The given item when added, the stored item when matched, null otherwise.
    std::shared_ptr<ZELItem> itemMatchingItem(const std::shared_ptr<ZELItem>& item,
                                              bool allowAdd, ZELError* outError);
    // The first stored duplicate of the definition's item; 0 when none.
    // Requires: the database lock is held.
    ZELID itemIDMatchingItemDefinition(const ZELItemDefinition& definition);
    // Re-indexes an added item whose values changed (it may merge into a stored duplicate).
    void updateIndexingForChangedItem(const std::shared_ptr<ZELItem>& item);
    void removeItemsWithIDs(const ZELIDVector& itemIDs);
    // Stored items of existence-checkable classes whose tokens `map` lacks. `isCancelled` is
    // asked after every 1000 blobs; true stops the search (the answer is then partial).
    std::shared_ptr<ZELIDVector> itemIDsForItemsMissingFromItemExistenceMap(
        const ZELItemExistenceMap& map, const std::function<bool()>& isCancelled);

    void beginItemChanges();
    void endItemChanges();
    void itemsDidChange(const ZELIDVector& itemIDs);
    // Posts the pending changes unless the lock is held or a batch is open.
    void sendChangeNotificationsIfNeeded();

    uint32_t itemCount();
    ZELID largestExistingItemID();
    std::shared_ptr<ZELIDVector> allExistingItemIDs();
    bool itemExistsForItemID(ZELID itemID);
    std::shared_ptr<ZELSerializableData> itemDataForItemID(ZELID itemID);
    // Error code 8 "itemID has not been assigned" for an ID without blob; the blob's errors.
    std::shared_ptr<ZELItem> itemForItemID(ZELID itemID, ZELError* outError);

    // Vector lookups. These take the lock themselves (briefly), so they are safe on any thread;
    // an invalidated database answers empty vectors.
    std::shared_ptr<ZELIDVector> itemIDVectorForAspectBitID(ZELID aspectBitID);
    std::shared_ptr<ZELIDVector> itemIDVectorByIntersectingItemsWithAspectBitIDs(
        const ZELIDVector& aspectBitIDs);
    std::shared_ptr<ZELIDVector> itemIDVectorByUnionOfItemsWithAspectBitIDs(
        const ZELIDVector& aspectBitIDs);
    std::shared_ptr<ZELIDVector> aspectIDVectorForItemID(ZELID itemID);
    std::shared_ptr<ZELIDVector> aspectIDVectorByUnionOfAspectIDsForItemIDs(
        const ZELIDVector& itemIDs);

    // ---- Aspect bit values (ZELDatabase+AspectBitValues.cpp) ----

    std::shared_ptr<ZELAspectBitValueStorage> aspectBitValueStore() const {
        return aspectBitValueStore_;
    }
    // A new ID (the larger of the value store's and the terms->items array's next free ID) with
    // an empty value info and an empty item vector. 0 when a store refuses it.
    // Requires: the database lock is held.
    ZELID assignAspectBitIDForNormalizedValue(const ZELString& normalized);
    // Requires: the database lock is held.
    void incrementUseCountForAspectBitID(ZELID aspectBitID, const ZELString* upvoteCanonicalString);
    // Lowers the use count; at 0 the value leaves every aspect's sorted list and the value
    // store, and false is answered (also for an ID without value).
    // Requires: the database lock is held.
    bool decrementUseCountForAspectBitID(ZELID aspectBitID);
    // One vote for a written form, without touching the use count.
    // Requires: the database lock is held.
    void upvoteCanonicalStringForAspectBitID(ZELID aspectBitID, const ZELString& writtenForm);
    // Raises the use count without a vote. Requires: the database lock is held.
    void incrementUseCountForAspectBitID(ZELID aspectBitID) {
        incrementUseCountForAspectBitID(aspectBitID, nullptr);
    }
    std::shared_ptr<ZELAspectBitValueInfo> aspectBitValueInfoForID(ZELID aspectBitID);
    std::optional<ZELString> aspectBitNormalizedValueForID(ZELID aspectBitID);
    std::optional<ZELString> aspectBitNormalizedValueForID(ZELID aspectBitID, bool load);
    std::vector<ZELString> aspectBitNormalizedValuesForIDs(const ZELID* aspectBitIDs,
                                                           uint64_t count);
    // The canonical string of the ID and the aspect whose list maps its value to it.
    std::optional<ZELString> aspectBitCanonicalValueForID(ZELID aspectBitID,
                                                          std::shared_ptr<ZELAspect>* outAspect);
    std::optional<ZELString> aspectBitCanonicalValueForID(
        ZELID aspectBitID, const std::vector<std::shared_ptr<ZELAspect>>& aspects,
        std::shared_ptr<ZELAspect>* outAspect);
    // The value info's normalized value, lent to a sorted list without copying; null when the
    // value is not available (not cached and `load` false, or unreadable).
    // Requires: the database lock is held.
    std::shared_ptr<const ZELString> sortedListKeyForAspectBitID(ZELID aspectBitID, bool load);
    // The same key in place when its record is cached, else null; valid until the record
    // leaves the cache. Requires: the database lock is held.
    const ZELString* cachedSortedListKeyForAspectBitID(ZELID aspectBitID) const;

    // ---- Diagnostics and memory (ZELDatabase+Diagnostics.cpp) ----

    // Compaction level of the disk stores; at level 2 the term side is compacted only every
    // tenth pass.
    void compactMemory(int level);
    // The bytes of added items (blobs and their term vectors) after which the item side is
    // compacted at level 2 on its own, so that adding many items holds only so many in memory;
    // 8 MB by default.
    void setItemSideByteBudget(uint64_t byteCount);
    std::string description() const override;
    std::string debugDescription();
    std::string descriptionWithDetails(bool withBlocks);
    // Computes descriptionWithDetails on a background queue and hands it to `callback` there.
    void descriptionWithDetails(bool withBlocks, std::function<void(std::string)> callback);
    std::string descriptionForAspectBitIDs(const ZELIDVector& aspectBitIDs);

    // ---- Error reporting ----

    // Logs "file load warning: <message>"; may set the read-only mark.
    void reportFileLoadWarning(const std::string& message, bool markDatabaseAsReadOnly);
    // Logs "background error: <error>" and tells the delegate on the main thread's queue.
    void reportBackgroundError(const ZELError& error);
    void diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage& storage,
                                                    const ZELError& error) override;

    // ZELDatabaseItemClassResolver, for the class map.
    bool isKnownItemClassName(const std::string& className) const override;
    std::optional<std::string> substituteForUnknownItemClassName(
        const std::string& className) const override;

    // The stores, for diagnostics, tests and readers that hold the lock for a whole walk (the
    // completion collector). Requires: the database lock is held while used.
    std::shared_ptr<ZELItemStorage> itemStore() const { return itemStore_; }
    std::shared_ptr<ZELIDVectorArray> aspectBitVectorsByItemID() const {
        return aspectBitVectorsByItemID_;
    }
    // The term -> items table with every gathered posting entered.
    std::shared_ptr<ZELIDVectorArray> itemVectorsByAspectBitID() const;

protected:
    // Called on every acquire and every release by the holder; a subclass calls the base.
    virtual void threadDidAcquireLock();
    virtual void threadWillRelinquishLock();

private:
    friend class ZELAspect;

    [[noreturn]] void raiseInvalid() const;
    bool tryLockForInvalidation();
    int64_t clientSchemaVersion();
    std::string pathInFolder(const char* name) const;
    std::string storagePath(const char* name) const;
    void bootstrapStepsOrThrow(const std::filesystem::path& folder, ZELError* err);
    bool isFolderNonEmpty(const std::filesystem::path& folder) const;
    // After a save: once every sort file in the aspects folder belongs to an aspect loaded
    // (so checked) this session, notes the key order in the meta info and writes it.
    bool recordSortFileKeyOrderIfChecked(ZELError* outError);
    // Requires: the database lock is held.
    std::shared_ptr<ZELAspect> ensureAspectExistsLocked(const ZELString& identifier,
                                                        ZELError* outError);
    bool restoreAspectsLocked(ZELError* outError);

    // Item internals (ZELDatabase+Items.cpp).
    ZELID addOrMatchItem(const std::shared_ptr<ZELItem>& item, bool allowAdd, ZELID updatingID,
                         bool* outWasAdded);
    ZELID addOrMatchItemDefinition(const std::shared_ptr<ZELItem>& item,
                                   const ZELItemDefinition& definition, bool allowAdd,
                                   ZELID updatingID, bool* outWasAdded);
    std::shared_ptr<ZELItemDefinition> tokenizeItem(const std::shared_ptr<ZELItem>& item);
    ZELID storeNewItem(const std::shared_ptr<ZELItem>& item, const ZELItemDefinition& definition,
                       ZELID updatingID);
    // Counts `byteCount` more bytes held by the item side (blobs and item -> terms vectors) and,
    // past the item side byte budget since the item side was last compacted, compacts it at
    // level 2.
    // Requires: the database lock is held (ZELDatabase+Diagnostics.cpp).
    void noteItemSideBytes(uint64_t byteCount);
    void compactItemSide(int level);
    void removeItemsWithIDs(const ZELIDVector& itemIDs,
                            const std::vector<std::shared_ptr<ZELItem>>* items, bool isUpdating);
    void releaseAspectBitIDs(const ZELIDVector& aspectBitIDs);
    std::shared_ptr<ZELSerializableData> databaseBlobForItem(const ZELItem& item, ZELID itemID);
    std::shared_ptr<ZELItem> itemForDatabaseBlob(const ZELSerializableData& blob, ZELID itemID,
                                                 ZELError* outError);
    // Runs `block` under the lock and answers its result; answers `whenUnavailable` without
    // running it when the database is invalid or not open.
    template <typename Result, typename Block>
    Result lockedLookup(Result whenUnavailable, Block&& block);
    // Takes the lock unless the database is invalid (checked with the lock held, so that the
    // components cannot be torn down meanwhile).
    bool acquireLockIfValid();

    const std::string ident_;
    const std::filesystem::path folderURL_;
    std::shared_ptr<ZELDatabaseMetaInfo> savedInfo_;
    std::shared_ptr<ZELDatabaseItemClassMap> classMap_;
    bool isBootstrapped_ = false;
    // Holds the folder's lock from opening to invalidation; destroyed after the stores.
    std::unique_ptr<ZELDatabaseJournal> journal_;
    mutable std::mutex lastFileErrorLock_;
    ZELError lastFileError_;  // guarded by lastFileErrorLock_
    bool isSavedInfoDirty_ = false;
    // Set on opening a folder whose meta info does not note the key order of its sort files:
    // every list loaded meanwhile is checked. Read under the database lock.
    bool sortFilesNeedOrderCheck_ = false;
    std::atomic<ZELDatabaseDelegate*> delegate_;
    std::recursive_mutex lock_;  // the database lock, "ZELDatabase"
    std::atomic<uint64_t> lockCount_{0};
    std::atomic<bool> isReadOnly_{false};
    std::atomic<bool> isInvalid_{false};
    std::atomic<bool> aspectInfoDirty_{false};
    std::atomic<bool> aspectsInfoUnread_{false};  // "aspects.plist" failed to restore
    std::atomic<uint64_t> itemChangeLevel_{0};
    // The pending changes; taken and cleared atomically, so that a change noted while another
    // thread posts is neither lost nor posted twice.
    std::mutex changedItemIDsLock_;
    std::shared_ptr<ZELMutableIDVector> changedItemIDs_;  // guarded by changedItemIDsLock_
    uint64_t compactCount_ = 0;                           // under the database lock
    // Bytes of items added since the item side was last compacted; under the database lock.
    uint64_t itemSideByteCount_ = 0;
    uint64_t itemSideByteBudget_ = uint64_t{8} << 20;  // under the database lock
    mutable std::mutex aspectsLock_;
    std::vector<std::shared_ptr<ZELAspect>> aspects_;  // guarded by aspectsLock_
    std::map<ZELString, std::shared_ptr<ZELJoinedAspectSet>> joinedAspectSetByIdent_;  // aspectsLock_
    std::shared_ptr<ZELItemStorage> itemStore_;
    std::shared_ptr<ZELAspectBitValueStorage> aspectBitValueStore_;
    std::shared_ptr<ZELIDVectorArray> aspectBitVectorsByItemID_;
    std::shared_ptr<ZELIDVectorArray> itemVectorsByAspectBitID_;
    std::shared_ptr<ZELSynonymList> synonymList_;
};

template <typename Block>
decltype(auto) ZELDatabase::accessLockedUsing(Block&& block) {
    acquireLock();
    struct Relinquisher {
        ZELDatabase* db;
        ~Relinquisher() { db->relinquishLock(); }
    } relinquisher{this};
    return block();
}
