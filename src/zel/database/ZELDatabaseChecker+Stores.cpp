#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELDatabaseChecker.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/storage/ZELDiskDataStorageIndex.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/storage/ZELDiskDataStorageStrategy_FixedSizeBlocks.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELSerializableData.h"

// Each store on its own: its index against the data files, blocks that overlap one another or
// a free block, the free space tables against what the index leaves unused, files that belong
// to no slot, and every object read back as its stored type.

namespace {

// A byte range of a data file and the object whose block it is (0 for a free block).
struct Extent {
    uint64_t start;
    uint64_t end;
    ZELID objectID;
};

uint64_t totalSize(const std::vector<ZELDiskFreeSpaceTableBlock>& blocks) {
    uint64_t total = 0;
    for (const ZELDiskFreeSpaceTableBlock& block : blocks) total += block.size;
    return total;
}

}  // namespace

void ZELDatabaseChecker::checkStores() {
    for (const char* name :
         {ZELDatabase::itemStoreName, ZELDatabase::aspectValueStoreName,
          ZELDatabase::aspectBitVectorsStoreName, ZELDatabase::itemVectorsStoreName}) {
        stores_.push_back(openStore(name));
        const Store& store = stores_.back();
        if (!store.storage) continue;
        ++storeCount_;
        checkDataFiles(store);
        checkSlots(store);
        checkStrayFiles(store);
        readObjects(store);
    }
}

ZELDatabaseChecker::Store ZELDatabaseChecker::openStore(const char* name) {
    const std::filesystem::path base = folderURL_ / ZELDatabase::storageFolderName / name;
    std::shared_ptr<ZELDiskDataStorage> storage;
    if (std::strcmp(name, ZELDatabase::itemStoreName) == 0) {
        storage = ZELItemStorage::storageWithBaseNameURL(base);
    } else if (std::strcmp(name, ZELDatabase::aspectValueStoreName) == 0) {
        storage = ZELAspectBitValueStorage::storageWithBaseNameURL(base);
    } else {
        storage = ZELIDVectorArray::storageWithBaseNameURL(base);
    }
    const std::filesystem::path indexURL = storage->indexFileURL();
    std::error_code existsError;
    if (!std::filesystem::exists(indexURL, existsError)) {
        addFinding(relativePath(indexURL), "missing");
        return Store{name, nullptr};
    }
    // The index is read on its own: the store's load would convert a legacy store and rebuild
    // tables, and the checker writes nothing.
    ZELError error;
    if (!storage->objectIndex()->loadIndexFromURL(indexURL, *storage, &error)) {
        addFinding(relativePath(indexURL), error.failureReason());
        return Store{name, nullptr};
    }
    if (storage->objectIndex()->isFileConversionRequired()) {
        addFinding(relativePath(indexURL), "legacy layout; opening the database converts it");
        return Store{name, nullptr};
    }
    // Every check walks every slot: a page that cannot be read is one finding, told before
    // the checker hears of lookups.
    if (!storage->readAllSlotsAndGetError(&error)) {
        addFinding(relativePath(indexURL), error.failureReason());
        return Store{name, nullptr};
    }
    storage->setDelegate(this);
    return Store{name, storage};
}

void ZELDatabaseChecker::checkDataFiles(const Store& store) {
    ZELDiskDataStorageStrategyManager& manager = *store.storage->objectStore();
    const std::vector<std::vector<ZELDiskFreeSpaceTableBlock>> derived =
        manager.freeBlocksDerivedFromObjects([&](ZELDiskDataStorageSlotVisitor visit) {
            store.storage->enumerateAssignedSlotsUsing(visit);
        });
    manager.fixedStrategiesEnumerateUsing([&](ZELDiskDataStorageStrategy_MultiBlock& strategy,
                                              uint64_t, bool&) {
        ZELError error;
        if (!strategy.openWithStreamFlags(ZELFileStreamFlagRead,
                                          ZELDiskDataStorageStrategy::kDefaultBufferSize, &error)) {
            addFinding(relativePath(strategy.url()), error.failureReason());
            return;
        }
        const std::string table = relativePath(strategy.freeSpaceTableURL());
        strategy.freeSpaceTable();  // read now, so that its damage is known
        if (!strategy.freeSpaceTableDamage().empty()) {
            addFinding(table, strategy.freeSpaceTableDamage());
            return;
        }
        const std::vector<ZELDiskFreeSpaceTableBlock>& unused = derived[strategy.fileNum() - 1];
        const std::vector<ZELDiskFreeSpaceTableBlock> listed = strategy.sortedFreeBlocks();
        if (!ZELDiskDataStorageStrategyManager::freeBlocksCoverSameRanges(listed, unused)) {
            addFinding(table,
                       ZELStringWithFormat(
                           "disagrees with its data file: it offers %llu bytes in %zu "
                           "blocks, the index leaves %llu bytes in %zu blocks unused",
                           static_cast<unsigned long long>(totalSize(listed)), listed.size(),
                           static_cast<unsigned long long>(totalSize(unused)), unused.size()));
        }
    });
}

void ZELDatabaseChecker::checkSlots(const Store& store) {
    ZELDiskDataStorage& storage = *store.storage;
    ZELDiskDataStorageStrategyManager& manager = *storage.objectStore();
    const std::string index = relativePath(storage.indexFileURL());
    std::map<uint64_t, std::vector<Extent>> extents;  // by file number
    uint64_t livingCount = 0;
    ZELID largestID = 0;
    for (uint64_t slot = 0; slot < storage.assignedCount(); ++slot) {
        const ZELDiskDataStorageObjectInfo& info = storage.assignedObjectInfoAtIndex(slot);
        if (!info.hasStoredData()) continue;
        const auto objectID = static_cast<ZELID>(slot + 1);
        ++livingCount;
        largestID = objectID;
        const std::string object = ZELStringWithFormat("object %u ", objectID);
        if (info.length < ZELDiskDataStorageStrategy::kObjectBlockHeaderLength) {
            addFinding(index,
                       object + ZELStringWithFormat("has length %u, shorter than its length prefix",
                                                    info.length));
            continue;
        }
        if (ZELDiskDataStorageStrategy_MultiBlock* strategy =
                manager.fixedStrategyForFileNumber(info.fileNumber)) {
            const std::string file = relativePath(strategy->url());
            const uint64_t bound = manager.fixedStrategySizeBoundForFileNumber(info.fileNumber);
            const uint64_t header = strategy->dataFileHeaderLength();
            const uint64_t end =
                info.offset + strategy->actualBlockSizeForObjectAtOffset(info.offset, info.length);
            const auto* fixed = dynamic_cast<ZELDiskDataStorageStrategy_FixedSizeBlocks*>(strategy);
            if (info.length > bound) {
                addFinding(index, object + ZELStringWithFormat("of %u bytes is too large for %s",
                                                               info.length, file.c_str()));
            }
            if (info.offset < header) {
                addFinding(index, object + ZELStringWithFormat("lies inside the header of %s",
                                                               file.c_str()));
            } else if (fixed && (info.offset - header) % fixed->fixedBlockSize() != 0) {
                addFinding(index,
                           object + ZELStringWithFormat("at offset %u is off the block grid of %s",
                                                        info.offset, file.c_str()));
            }
            if (end > strategy->currentFileLength()) {
                addFinding(
                    file,
                    object + ZELStringWithFormat(
                                 "(offset %u, block of %llu bytes) runs past the end of "
                                 "the file (%llu bytes)",
                                 info.offset, static_cast<unsigned long long>(end - info.offset),
                                 static_cast<unsigned long long>(strategy->currentFileLength())));
            }
            extents[info.fileNumber].push_back(Extent{info.offset, end, objectID});
        } else if (info.fileNumber >= ZELDiskDataStorageStrategyManager::kFirstOneBlockFileNumber) {
            const std::filesystem::path url =
                manager.dataFileURLForFileNumber(info.fileNumber, false);
            std::error_code sizeError;
            const uintmax_t size = std::filesystem::file_size(url, sizeError);
            if (sizeError) {
                addFinding(relativePath(url), object + "is stored here, but the file is missing");
            } else if (info.offset != 4) {
                addFinding(index, object + ZELStringWithFormat(
                                               "lies at offset %u of its one-object file, not 4",
                                               info.offset));
            } else if (uint64_t{info.offset} + info.length > size) {
                addFinding(relativePath(url),
                           object + ZELStringWithFormat(
                                        "of %u bytes runs past the end of the file (%llu bytes)",
                                        info.length, static_cast<unsigned long long>(size)));
            }
            extents[info.fileNumber].push_back(
                Extent{info.offset, uint64_t{info.offset} + info.length, objectID});
        } else {
            addFinding(index, object + ZELStringWithFormat("names data file %u, which no store has",
                                                           static_cast<unsigned>(info.fileNumber)));
        }
    }
    if (livingCount != storage.livingObjectCount()) {
        addFinding(index, ZELStringWithFormat("header counts %u living objects, entries hold %llu",
                                              storage.livingObjectCount(),
                                              static_cast<unsigned long long>(livingCount)));
    }
    if (largestID > storage.largestAssignedObjectIndexID()) {
        addFinding(index, ZELStringWithFormat("header names %u as the largest ID, but object %u "
                                              "is stored",
                                              storage.largestAssignedObjectIndexID(), largestID));
    }

    // Overlaps, in one sweep per file over the object blocks and the free blocks by offset.
    manager.fixedStrategiesEnumerateUsing(
        [&](ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t, bool&) {
            for (const ZELDiskFreeSpaceTableBlock& block : strategy.sortedFreeBlocks()) {
                extents[strategy.fileNum()].push_back(
                    Extent{block.offset, block.offset + block.size, 0});
            }
        });
    for (auto& [fileNumber, fileExtents] : extents) {
        std::sort(fileExtents.begin(), fileExtents.end(),
                  [](const Extent& a, const Extent& b) { return a.start < b.start; });
        const std::string file = relativePath(manager.dataFileURLForFileNumber(fileNumber, false));
        Extent reach{0, 0, 0};
        for (const Extent& extent : fileExtents) {
            if (extent.start < reach.end && (extent.objectID != 0 || reach.objectID != 0)) {
                if (extent.objectID != 0 && reach.objectID != 0) {
                    addFinding(file,
                               ZELStringWithFormat("objects %u and %u name overlapping blocks",
                                                   reach.objectID, extent.objectID));
                } else {
                    addFinding(file,
                               ZELStringWithFormat("the block of object %u overlaps a free block",
                                                   std::max(reach.objectID, extent.objectID)));
                }
            }
            if (extent.end > reach.end) reach = extent;
        }
    }
}

void ZELDatabaseChecker::checkStrayFiles(const Store& store) {
    ZELDiskDataStorage& storage = *store.storage;
    ZELDiskDataStorageStrategyManager& manager = *storage.objectStore();
    std::set<std::filesystem::path> expected;
    manager.fixedStrategiesEnumerateUsing(
        [&](ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t, bool&) {
            expected.insert(strategy.url());
            expected.insert(strategy.freeSpaceTableURL());
        });
    for (uint64_t slot = 0; slot < storage.assignedCount(); ++slot) {
        const ZELDiskDataStorageObjectInfo& info = storage.assignedObjectInfoAtIndex(slot);
        if (info.hasStoredData() &&
            info.fileNumber >= ZELDiskDataStorageStrategyManager::kFirstOneBlockFileNumber) {
            expected.insert(manager.dataFileURLForFileNumber(info.fileNumber, false));
        }
    }
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(storage.baseFileNameURL(), error), end;
         !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && !expected.count(it->path())) {
            addFinding(relativePath(it->path()), "stray file: no slot of the store names it");
        }
    }
    for (const char* extension : {"data", "free"}) {
        std::filesystem::path legacy = storage.baseFileNameURL();
        legacy.replace_extension(extension);
        if (std::filesystem::exists(legacy, error)) {
            addFinding(relativePath(legacy), "legacy file left beside a current store");
        }
    }
}

void ZELDatabaseChecker::readObjects(const Store& store) {
    ZELDiskDataStorage& storage = *store.storage;
    const std::string name = store.name;
    const std::string index = relativePath(storage.indexFileURL());
    bool isWhole = true;
    storage.enumerateObjectInfoInDiskOptimalOrderUsing([&](uint64_t slot, bool&) {
        if (!storage.assignedObjectInfoAtIndex(slot).hasStoredData()) return;
        readingObjectID_ = static_cast<ZELID>(slot + 1);
        // Read without caching: the checker keeps only what the cross-checks need.
        const ZELDiskDataStorage::Object object =
            storage.objectAtIndexID(readingObjectID_, true, false);
        if (!object) {
            isWhole = false;  // the read error is a finding already
            return;
        }
        if (name == ZELDatabase::itemStoreName) {
            const auto blob = std::dynamic_pointer_cast<ZELSerializableData>(object);
            uint32_t token = 0;
            // The class token, then the two halves of the existence token.
            if (!blob || blob->value().size() < 12) {
                addFinding(index, ZELStringWithFormat("item %u has a blob shorter than 12 bytes",
                                                      readingObjectID_));
            } else {
                std::memcpy(&token, blob->value().data(), sizeof(token));
            }
            itemClassTokens_[readingObjectID_] = token;
        } else if (name == ZELDatabase::aspectValueStoreName) {
            const auto info = std::dynamic_pointer_cast<ZELAspectBitValueInfo>(object);
            if (info) values_[readingObjectID_] = Value{info->normalizedValue(), info->useCount()};
        } else if (const auto vector = std::dynamic_pointer_cast<ZELIDVector>(object)) {
            std::vector<ZELID> ids;
            ids.reserve(vector->count());
            bool isAscending = true;
            vector->enumerateIDs([&](ZELID id, bool&) {
                if (!ids.empty() && id <= ids.back()) isAscending = false;
                ids.push_back(id);
            });
            if (!isAscending) {
                addFinding(index, ZELStringWithFormat("vector %u is not strictly ascending",
                                                      readingObjectID_));
                // The cross-checks search it.
                std::sort(ids.begin(), ids.end());
            }
            (name == ZELDatabase::aspectBitVectorsStoreName ? itemTerms_
                                                            : termItems_)[readingObjectID_] =
                std::move(ids);
        }
    });
    readingObjectID_ = 0;
    if (isWhole) readableStores_.insert(name);
}
