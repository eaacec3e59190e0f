#pragma once

#include <filesystem>
#include <memory>
#include <typeinfo>

#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorage.h"

// The "aspectValues" table of a database: aspect bit ID -> its ZELAspectBitValueInfo record.
// Records of frequently used aspect bits (use count 3 or more) stay cached through memory
// compaction. Owned by the database; used under the database lock from one thread at a time.
class ZELAspectBitValueStorage final : public ZELDiskDataStorage {
public:
    // Records with a use count below this may leave the cache when memory is compacted.
    static constexpr uint64_t kEvictableUseCountLimit = 3;

    static std::shared_ptr<ZELAspectBitValueStorage> storageWithBaseNameURL(
        std::filesystem::path baseNameURL);

    // Stores ZELAspectBitValueInfo records; blocks are declared generally static in size. Not
    // loaded yet.
    explicit ZELAspectBitValueStorage(std::filesystem::path baseNameURL);

    uint64_t aspectBitValueCount() const { return livingObjectCount(); }
    // The record, loaded and cached; null for an ID without one or when the read fails (the
    // error goes to the delegate).
    std::shared_ptr<ZELAspectBitValueInfo> aspectBitValueInfoForID(ZELID aspectBitID);
    // `object` as a term record, or null when it is anything else. This table holds nothing but
    // term records, so an exact type check stands in for a dynamic cast on the lookup paths.
    static std::shared_ptr<ZELAspectBitValueInfo> asRecord(
        std::shared_ptr<ZELStreamSerializable> object) {
        return asRecord(object.get())
                   ? std::static_pointer_cast<ZELAspectBitValueInfo>(std::move(object))
                   : nullptr;
    }
    static ZELAspectBitValueInfo* asRecord(ZELStreamSerializable* object) {
        return object && typeid(*object) == typeid(ZELAspectBitValueInfo)
                   ? static_cast<ZELAspectBitValueInfo*>(object)
                   : nullptr;
    }
    // The record in place, loaded and cached when needed, without taking a share of it: for
    // the indexing paths, which change it under the lock right away. Valid until the record
    // leaves the cache (memory compaction). Null as aspectBitValueInfoForID.
    ZELAspectBitValueInfo* recordInPlace(ZELID aspectBitID) {
        if (ZELAspectBitValueInfo* record = asRecord(cachedObjectInPlace(aspectBitID))) return record;
        return aspectBitValueInfoForID(aspectBitID).get();
    }
    // Starts bringing the cached record's key and written forms into the processor's cache.
    void prefetchRecordContents(ZELID aspectBitID) const {
        if (const ZELAspectBitValueInfo* record = asRecord(cachedObjectInPlace(aspectBitID))) {
            record->prefetchContents();
        }
    }
    // The smallest free ID, now holding `info` (dirty).
    ZELID assignIDForAspectBitValueInfo(std::shared_ptr<ZELAspectBitValueInfo> info);
    // False when `aspectBitID` is 0 or already living.
    bool assignID(ZELID aspectBitID, std::shared_ptr<ZELAspectBitValueInfo> info);
    void removeAspectBitValueInfoForID(ZELID aspectBitID) { removeObjectAtIndexID(aspectBitID); }
    // The caller changed the cached record in place (use count, votes) and marks it for saving.
    void markDirtyAspectBitValueInfoForID(ZELID aspectBitID) {
        markObjectDirtyAtIndexID(aspectBitID);
    }

    using ZELDiskDataStorage::compactMemory;
    // Base compaction evicting only clean records whose use count is below 3.
    void compactMemory(int level) override;
};
