#include "zel/storage/ZELDiskDataStorageMigrator.h"

#include <optional>
#include <string>
#include <system_error>

#include "zel/platform/ZELException.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/storage/ZELDiskDataStorageStrategy_ExactlySizeBlocks.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/stream/ZELFileStream.h"

namespace {

// Migration streams the old file in disk order with 1 MiB buffers in both directions.
constexpr uint64_t kMigrationBufferSize = 1048576;

ZELError couldNotReadObject() {
    return ZELError::errorWithZELErrorCode(ZELErrorCodeIOFailure,
                                           "could not read object during migration");
}

}  // namespace

ZELDiskDataStorageMigrator::ZELDiskDataStorageMigrator(ZELDiskDataStorage& storage)
    : storage_(storage) {}

const std::filesystem::path& ZELDiskDataStorageMigrator::sourceBaseURL() const {
    return storage_.baseFileNameURL();
}

std::filesystem::path ZELDiskDataStorageMigrator::legacyDataFileURL(
    const std::filesystem::path& baseURL) {
    std::filesystem::path url = baseURL;
    url += ".data";
    return url;
}

std::filesystem::path ZELDiskDataStorageMigrator::legacyFreeSpaceTableURL(
    const std::filesystem::path& baseURL) {
    std::filesystem::path url = baseURL;
    url += ".free";
    return url;
}

bool ZELDiskDataStorageMigrator::migrateDataAndGetError(ZELError* outError) {
    const std::filesystem::path baseURL = sourceBaseURL();
    // The new folder is built beside B, on the same file system, so that it can be renamed into
    // place.
    const std::optional<std::string> temporaryPath =
        ZELFileManager::temporaryItemURLForReplacingItemAtURL(baseURL.string(), outError);
    if (!temporaryPath) return false;
    const std::filesystem::path temporaryURL = *temporaryPath;
    ZELLogFormat("migrating v1 data from %s...", baseURL.filename().c_str());

    ZELDiskDataStorageStrategy_ExactlySizeBlocks oldStore(0, legacyDataFileURL(baseURL));
    ZELError error;
    {
        ZELDiskDataStorageStrategyManager newStore(temporaryURL);
        newStore.setSerializableObjectClass(storage_.serializableObjectClass());
        newStore.setDataStreamReadBufferSize(0, kMigrationBufferSize);
        error = populateDataInNewStore(newStore, oldStore);
    }
    if (!error) {
        // A store without objects made no data file; its folder is still put in place.
        ZELFileManager::createDirectoryRecursivelyAtURL(temporaryURL.string(), nullptr);
        replaceDataAtBaseURL(baseURL, temporaryURL, &error);
    }
    ZELFileSystem::removeTree(ZELFileSystem::shared(), temporaryURL.parent_path().string());
    if (error) return ZELSetError(outError, error);
    return true;
}

ZELError ZELDiskDataStorageMigrator::populateDataInNewStore(
    ZELDiskDataStorageStrategyManager& manager, ZELDiskDataStorageStrategy& oldStore) {
    ZELError error;
    if (!oldStore.openWithStreamFlags(ZELFileStreamFlagRead, kMigrationBufferSize, &error)) {
        return error;
    }
    const ZELStreamDeserializer& storedType = manager.serializableObjectClass();
    error = manager.writeMassTransactionVisitor([&]() -> ZELError {
        ZELError visitError;
        storage_.enumerateObjectInfoInDiskOptimalOrderUsing([&](uint64_t index, bool& stop) {
            const auto objectID = static_cast<ZELID>(index + 1);
            ZELDiskDataStorageObjectInfo& info = storage_.assignedObjectInfoAtIndex(index);
            if (!info.hasStoredData()) {
                storage_.markObjectDirtyAtIndexID(objectID);
                return;
            }
            // Legacy lengths count the object bytes alone, as does the legacy block prefix.
            const uint64_t objectByteCount = info.length;
            ZELDiskDataStorageObjectInfo copy;
            visitError = oldStore.accessReadStreamForObjectAtOffset(
                info.offset, info.length, [&](ZELStream& stream) -> ZELError {
                    if (!stream.checkReadableByteCount(objectByteCount))
                        return couldNotReadObject();
                    if (storedType) {
                        copy.object =
                            stream.newReadZELSerializableOfLength(objectByteCount, storedType);
                    } else {
                        try {
                            copy.object = stream.newReadZELSerializableOfLength(objectByteCount);
                        } catch (const ZELException&) {
                            return couldNotReadObject();
                        }
                    }
                    return copy.object ? ZELError() : couldNotReadObject();
                });
            if (!visitError) {
                copy.dirty = 1;
                manager.writeDataForObjectWithInfo(copy, &visitError);
            }
            if (visitError) {
                stop = true;
                return;
            }
            info.fileNumber = copy.fileNumber;
            info.offset = copy.offset;
            info.length = copy.length;
            storage_.markObjectDirtyAtIndexID(objectID);
        });
        return visitError;
    });
    ZELError closeError;
    if (!oldStore.closeAndGetError(&closeError) && !error) error = closeError;
    return error;
}

bool ZELDiskDataStorageMigrator::replaceDataAtBaseURL(const std::filesystem::path& baseURL,
                                                      const std::filesystem::path& temporaryURL,
                                                      ZELError* outError) {
    return ZELFileManager::replaceItemAtURL(baseURL.string(), temporaryURL.string(), outError);
}

void ZELDiskDataStorageMigrator::removeLegacyFilesAtBaseURL(const std::filesystem::path& baseURL) {
    ZELFileSystem::shared().unlink(legacyDataFileURL(baseURL).string());
    ZELFileSystem::shared().unlink(legacyFreeSpaceTableURL(baseURL).string());
}
