#include <system_error>

#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELDatabaseChecker.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"
#include "zel/stream/ZELFileStream.h"

// Where the bytes of a database folder go, store by store, from the indexes and the free space
// tables.

namespace {

// The sizes of the regular files under `url` (or of `url` itself when it is a file).
uint64_t fileBytesAt(const std::filesystem::path& url) {
    std::error_code error;
    if (std::filesystem::is_regular_file(url, error)) return std::filesystem::file_size(url, error);
    uint64_t total = 0;
    for (std::filesystem::recursive_directory_iterator it(url, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const uintmax_t size = it->file_size(sizeError);
            if (!sizeError) total += size;
        }
    }
    return total;
}

}  // namespace

ZELDatabaseChecker::DiskUsage ZELDatabaseChecker::diskUsage() {
    reset();
    DiskUsage usage;
    usage.totalBytes = fileBytesAt(folderURL_);
    uint64_t storeBytes = 0;
    for (const char* name :
         {ZELDatabase::itemStoreName, ZELDatabase::aspectValueStoreName,
          ZELDatabase::aspectBitVectorsStoreName, ZELDatabase::itemVectorsStoreName}) {
        stores_.push_back(openStore(name));
        if (!stores_.back().storage) continue;
        usage.stores.push_back(diskUsageOfStore(stores_.back()));
        storeBytes += usage.stores.back().totalBytes;
    }
    usage.otherFileBytes = usage.totalBytes > storeBytes ? usage.totalBytes - storeBytes : 0;
    reset();
    return usage;
}

ZELDatabaseChecker::StoreDiskUsage ZELDatabaseChecker::diskUsageOfStore(const Store& store) {
    ZELDiskDataStorage& storage = *store.storage;
    ZELDiskDataStorageStrategyManager& manager = *storage.objectStore();
    StoreDiskUsage usage;
    usage.name = store.name;
    usage.indexBytes = fileBytesAt(storage.indexFileURL());
    usage.totalBytes = usage.indexBytes + fileBytesAt(storage.baseFileNameURL());
    for (uint64_t slot = 0; slot < storage.assignedCount(); ++slot) {
        const ZELDiskDataStorageObjectInfo& info = storage.assignedObjectInfoAtIndex(slot);
        if (!info.hasStoredData()) continue;
        ++usage.objectCount;
        usage.objectBytes += info.length;
        // A one-object file holds its object alone, after the file header.
        if (ZELDiskDataStorageStrategy_MultiBlock* strategy =
                manager.fixedStrategyForFileNumber(info.fileNumber)) {
            const uint64_t block = strategy->actualBlockSizeForObjectAtOffset(info.offset, info.length);
            if (block > info.length) usage.blockSlack += block - info.length;
        }
    }
    manager.fixedStrategiesEnumerateUsing(
        [&](ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t, bool&) {
            ZELError error;
            if (!strategy.openWithStreamFlags(ZELFileStreamFlagRead,
                                              ZELDiskDataStorageStrategy::kDefaultBufferSize, &error)) {
                return;
            }
            // A store opened for reading leaves its free space tables unread until asked.
            if (!strategy.freeSpaceTable()) return;
            for (const ZELDiskFreeSpaceTableBlock& block : strategy.sortedFreeBlocks()) {
                usage.freeBytes += block.size;
            }
        });
    const uint64_t accounted = usage.indexBytes + usage.objectBytes + usage.blockSlack + usage.freeBytes;
    usage.otherBytes = usage.totalBytes > accounted ? usage.totalBytes - accounted : 0;
    return usage;
}
