#include <fcntl.h>

#include <system_error>
#include <utility>
#include <vector>

#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/storage/ZELDiskDataStorageIndex.h"
#include "zel/storage/ZELDiskDataStorageMigrator.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"

// Loading, saving and compacting a disk data storage.

bool ZELDiskDataStorage::loadAndGetError(ZELError* outError) {
    if (failIfInvalidated(outError)) return false;
    const std::filesystem::path indexURL = indexFileURL();
    std::error_code existsError;
    if (!std::filesystem::exists(indexURL, existsError)) {
        // Without its index, a data folder's objects cannot be found; starting over would
        // overwrite them.
        if (std::filesystem::exists(baseURL_, existsError)) {
            return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                             ZELErrorCodeInvalidData,
                                             "ZELDiskDataStorage index file is missing from a "
                                             "non-empty data folder"));
        }
        resetToEmpty();
        return ensureSerializedAndGetError(outError);
    }

    objectStore_->discardReleasedBlocks();
    if (!objectIndex_->loadIndexFromURL(indexURL, *this, outError)) return false;
    if (objectIndex_->isFileConversionRequired()) {
        if (!convertLegacyStoreAndGetError(outError)) return false;
    } else {
        // Left by a conversion interrupted after its new index was in place.
        ZELDiskDataStorageMigrator::removeLegacyFilesAtBaseURL(baseURL_);
    }
    if (!objectStore_->preflightLoadAndGetError(outError)) return false;
    needsSlotCheck_ = true;
    return true;
}

bool ZELDiskDataStorage::checkSlotsBeforeWritingAndGetError(ZELError* outError) {
    if (!needsSlotCheck_) return true;
    if (!readAllSlotsAndGetError(outError)) return false;
    uint64_t livingCount = 0;
    uint64_t lastLivingIndex = 0;
    const uint64_t count = assignedCount();
    for (uint64_t index = 0; index < count; ++index) {
        const ZELDiskDataStorageObjectInfo& info = slots_[index];
        if (!info.hasStoredData() && !info.object) continue;
        ++livingCount;
        lastLivingIndex = index + 1;
    }
    objectIndex_->didCountLivingSlots(livingCount, static_cast<ZELID>(lastLivingIndex),
                                      indexFileURL());
    const auto walk = [this](ZELDiskDataStorageSlotVisitor visit) {
        enumerateAssignedSlotsUsing(visit);
    };
    // Before the first write every slot has its saved placement, or was removed and its block
    // released.
    for (const std::string& warning :
         objectStore_->rebuildFreeSpaceTablesDisagreeingWithSavedIndex(walk)) {
        ZELLogFormat("%s", warning.c_str());
        if (delegate_) {
            delegate_->diskDataStorageDidRepairDerivedData(
                *this, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, warning));
        }
    }
    needsSlotCheck_ = false;
    return true;
}

bool ZELDiskDataStorage::readAllSlotsAndGetError(ZELError* outError) const {
    if (slots_.readAllPages()) return true;
    return ZELSetError(outError, slots_.readError());
}

void ZELDiskDataStorage::enumerateAssignedSlotsUsing(ZELDiskDataStorageSlotVisitor visitor) const {
    const uint64_t count = assignedCount();
    for (uint64_t index = 0; index < count; ++index) visitor(slots_[index]);
}

// The objects move into the size-class files (the migrator), the index is rewritten whole in
// version 10, and only then do the legacy files go: an interruption at any point leaves a store
// that loads (converting again when the legacy index is still there).
bool ZELDiskDataStorage::convertLegacyStoreAndGetError(ZELError* outError) {
    ZELDiskDataStorageMigrator migrator(*this);
    if (!migrator.migrateDataAndGetError(outError)) return false;
    const uint64_t count = assignedCount();
    for (uint64_t index = 0; index < count; ++index) markSlotDirty(index);
    if (!objectIndex_->writeIndexToURL(indexFileURL(), *this, outError)) return false;
    clearObjectDirtyInRange(0, count);
    objectIndex_->setIsFileConversionRequired(false);
    ZELDiskDataStorageMigrator::removeLegacyFilesAtBaseURL(baseURL_);
    return true;
}

ZELDiskDataStorageSlotTable& ZELDiskDataStorage::slotTableForLoadingIndex() {
    smallestUnusedObjectIndexGuess_ = 0;
    fullDirtyRange_ = ZELDiskDataStorageIndexRange();
    return slots_;
}

bool ZELDiskDataStorage::loadAllAndGetError(ZELError* outError) {
    if (failIfInvalidated(outError)) return false;
    lastError_ = ZELError();
    ZELDiskDataStorageDelegate* const savedDelegate = delegate_;
    delegate_ = nullptr;
    const ZELError error = objectStore_->readMassTransactionVisitor([&]() -> ZELError {
        ZELError loadError;
        // Reloading the index would throw away unsaved changes.
        const bool didLoad = fullDirtyRange_.length == 0
                                 ? loadAndGetError(&loadError)
                                 : objectStore_->preflightLoadAndGetError(&loadError);
        if (!didLoad) return loadError;
        enumerateObjectInfoInDiskOptimalOrderUsing([&](uint64_t index, bool&) {
            const ZELDiskDataStorageObjectInfo& info = slots_[index];
            if (info.hasStoredData() && !info.object) {
                loadObjectInSlot(index, true, serializableObjectClass());
            }
        });
        return ZELError();
    });
    delegate_ = savedDelegate;
    if (error) return ZELSetError(outError, error);
    if (lastError_) return ZELSetError(outError, lastError_);
    return true;
}

bool ZELDiskDataStorage::ensureSerializedAndGetError(ZELError* outError) {
    if (failIfInvalidated(outError)) return false;
    const ZELDiskDataStorageIndexRange range = fullDirtyRange_;
    // Free tables a failed save could not write are written now.
    if (range.length == 0 && largestAssignedObjectIndexID() > 0) {
        return objectStore_->commitReleasedBlocksAndGetError(outError);
    }
    if (!checkSlotsBeforeWritingAndGetError(outError)) return false;
    // A page let go of after an earlier save that could not be read again reads as empty
    // slots: nothing may be written over entries the store does not know.
    if (slots_.readError()) return ZELSetError(outError, slots_.readError());

    // Writes are gathered, so a failure may surface after blocks were placed whose bytes never
    // reached their file. A failed save therefore puts every object it placed back in the block
    // it had (still named by the saved index, and not yet released), so that the placements
    // agree with the files again and the next save places them anew.
    struct Placement {
        uint64_t index;
        uint32_t offset;
        uint32_t length;
        uint16_t fileNumber;
    };
    std::vector<Placement> previousPlacements;
    const uint64_t releasedCount = objectStore_->releasedBlockCount();
    const ZELError writeError = objectStore_->writeMassTransactionVisitor([&]() -> ZELError {
        ZELError error;
        slots_.enumerateReadSlots(
            range.location, range.location + range.length,
            [&](uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop) {
                // A removed ID has neither an object nor stored data: only its entry changes.
                if (!info.dirty || !info.object) return;
                previousPlacements.push_back({index, info.offset, info.length, info.fileNumber});
                stop = !objectStore_->writeDataForObjectWithInfo(info, &error);
            });
        return error;
    });
    if (writeError) {
        for (const Placement& placement : previousPlacements) {
            ZELDiskDataStorageObjectInfo& info = slots_[placement.index];
            info.offset = placement.offset;
            info.length = placement.length;
            info.fileNumber = placement.fileNumber;
        }
        objectStore_->keepReleasedBlocks(releasedCount);
        objectStore_->rebuildFreeSpaceTablesDisagreeingWithSavedIndex(
            [this](ZELDiskDataStorageSlotVisitor visit) { enumerateAssignedSlotsUsing(visit); });
        return ZELSetError(outError, writeError);
    }
    if (!objectIndex_->writeIndexToURL(indexFileURL(), *this, outError)) return false;
    clearObjectDirtyInRange(range.location, range.length);
    // The saved index no longer names the blocks objects left: now they may be reused. A free
    // table that could not be written fails the save, so that a torn table is never committed;
    // it stays changed, and the next save writes it.
    return objectStore_->commitReleasedBlocksAndGetError(outError);
}

void ZELDiskDataStorage::compactMemory(int level, const EvictionPredicate& evictObjectsPassing) {
    const bool saves = level == 2 || level == 3;
    ZELError error;
    const bool didSave = saves && ensureSerializedAndGetError(&error);
    if (saves && !didSave) {
        ZELLogFormat("data store compacting error: %s", error.description().c_str());
    }
    evictCachedObjectsPassing(evictObjectsPassing);
    if (didSave) dropCleanSlotPages();
}

void ZELDiskDataStorage::dropCleanSlotPages() {
    // The index file holds every slot as kept only when nothing changed since it was written
    // and it is the file the store writes (a legacy store's is replaced by its conversion).
    if (fullDirtyRange_.length != 0 || needsSlotCheck_ || objectIndex_->isWholeRewriteRequired() ||
        objectIndex_->isFileConversionRequired()) {
        return;
    }
    const std::filesystem::path url = indexFileURL();
    const int fd = ZELFileSystem::shared().open(url.string(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return;  // the pages stay
    slots_.dropCleanPages(url.string(), fd, ZELDiskDataStorageIndex::kHeaderLength,
                          assignedCount());
}
