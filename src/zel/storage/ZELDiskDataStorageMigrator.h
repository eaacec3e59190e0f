#pragma once

#include <filesystem>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"

class ZELDiskDataStorage;
class ZELDiskDataStorageStrategy;
class ZELDiskDataStorageStrategyManager;

// Converts a legacy store (all objects in the single data file B.data, exactly sized blocks,
// with an optional free space table B.free) to the size-class files of the current layout. It
// copies every object into a new data folder built beside B, then moves that folder into place
// as B. The store then writes its index in the current version, and only after that are the
// legacy files removed (removeLegacyFilesAtBaseURL), so that an interrupted conversion is simply
// run again at the next load. Made by the store's load for one conversion; runs on the loading
// thread under the database lock.
//
// Legacy data file B.data, little-endian: uint32 data file version = 8, then one block per
// object at its index entry's offset: uint32 N, then the N object bytes.
class ZELDiskDataStorageMigrator final : public ZELObject {
public:
    // `storage` outlives the migrator; its slot table holds the legacy entries just read.
    explicit ZELDiskDataStorageMigrator(ZELDiskDataStorage& storage);

    // The store's base URL B.
    const std::filesystem::path& sourceBaseURL() const;

    // Copies every object and puts the new data folder at B. On failure the legacy files and the
    // legacy index are untouched, and the slot table may already name new places.
    bool migrateDataAndGetError(ZELError* outError);
    // Copies every object of the store's slots from `oldStore` into `manager` inside one write
    // transaction, in disk order, updating each slot's placement and marking it dirty. An object
    // that cannot be read fails with code 6 "could not read object during migration".
    ZELError populateDataInNewStore(ZELDiskDataStorageStrategyManager& manager,
                                    ZELDiskDataStorageStrategy& oldStore);
    // Puts the folder `temporaryURL` in the place of B (replacing a folder left by an
    // interrupted conversion).
    static bool replaceDataAtBaseURL(const std::filesystem::path& baseURL,
                                     const std::filesystem::path& temporaryURL, ZELError* outError);
    // Deletes B.data and B.free (failures are ignored).
    static void removeLegacyFilesAtBaseURL(const std::filesystem::path& baseURL);
    static std::filesystem::path legacyDataFileURL(const std::filesystem::path& baseURL);
    static std::filesystem::path legacyFreeSpaceTableURL(const std::filesystem::path& baseURL);

private:
    ZELDiskDataStorage& storage_;
};
