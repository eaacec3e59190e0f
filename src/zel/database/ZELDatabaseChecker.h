#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorage.h"

class ZELDatabaseItemClassMap;

// Checks a database folder that no process has open, and repairs what can be derived from the
// rest of it. A check reads every file the layouts describe (meta info, class map, the four
// stores with their indexes, data files and free space tables, the sort files), cross-checks the
// stores against one another, and answers one line per problem naming the file and what is
// wrong; it never writes. Repair rebuilds only derived data (free space tables from the indexes
// and data files, sort files from the value store) and never adds or drops an item.
//
// Every length read from the folder is checked by the library's readers before anything is
// allocated for it, so damaged files give findings, never a crash. Owned by its caller; one
// thread at a time.
class ZELDatabaseChecker final : private ZELDiskDataStorageDelegate {
public:
    explicit ZELDatabaseChecker(std::filesystem::path folderURL);
    ~ZELDatabaseChecker() override;
    ZELDatabaseChecker(const ZELDatabaseChecker&) = delete;
    ZELDatabaseChecker& operator=(const ZELDatabaseChecker&) = delete;

    // Checks the folder: one line per finding, "<file relative to the folder>: <problem>";
    // empty when the folder is clean.
    std::vector<std::string> check();
    // Rewrites every free space table that disagrees with its store's index and data file, and
    // every sort file that is out of order or holds IDs without a value (or, with a single sort
    // file, lacks some); unreadable stores are left alone. Answers one line per rebuilt file in
    // `outRebuilt`; false with the error when a file could not be written, or at once (code 10)
    // when a journal shows an interrupted save, which an open must roll back first.
    bool repair(std::vector<std::string>* outRebuilt, ZELError* outError);

    // Where a store's bytes go. `objectBytes`: the stored objects with their length prefixes;
    // `blockSlack`: what their blocks hold beyond that; `freeBytes`: the blocks the free space
    // tables offer; `indexBytes`: the index file; `otherBytes`: the rest of the store's files
    // (data file headers, ranges too small to track, the free space table files);
    // `totalBytes`: every file of the store (sizes, not allocated blocks).
    struct StoreDiskUsage {
        std::string name;
        uint64_t objectCount = 0;
        uint64_t objectBytes = 0;
        uint64_t blockSlack = 0;
        uint64_t freeBytes = 0;
        uint64_t indexBytes = 0;
        uint64_t otherBytes = 0;
        uint64_t totalBytes = 0;
    };
    struct DiskUsage {
        std::vector<StoreDiskUsage> stores;  // the readable stores, in the database's order
        uint64_t otherFileBytes = 0;         // the folder's files outside the stores
        uint64_t totalBytes = 0;             // every file of the folder
    };
    // The breakdown of the folder's bytes per store; reads the indexes and free space tables
    // only. A store whose index cannot be read is left out (its files count as other files).
    DiskUsage diskUsage();

    // Figures of the last check: the stores and sort files read, the items stored.
    uint64_t storeCount() const { return storeCount_; }
    uint64_t sortFileCount() const { return sortFiles_.size(); }
    uint64_t itemCount() const { return itemClassTokens_.size(); }

private:
    // One of the four stores: its name under "storage" and the store, open for reading only
    // (null when its index could not be read).
    struct Store {
        const char* name;
        std::shared_ptr<ZELDiskDataStorage> storage;
    };
    struct SortFile {
        std::string name;  // relative to the folder
        std::vector<ZELID> ids;
        bool isReadable = false;
    };

    void diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage& storage,
                                                    const ZELError& error) override;
    void diskDataStorageDidRepairDerivedData(ZELDiskDataStorage&, const ZELError&) override {}

    void reset();
    void addFinding(const std::string& file, const std::string& problem);
    std::string relativePath(const std::filesystem::path& url) const;

    // ZELDatabaseChecker.cpp: the folder's own files.
    void checkMetaInfo();
    void checkClassMap();
    void checkAspectDefinitions();

    // ZELDatabaseChecker+Stores.cpp: each store's index, data files and free space tables.
    void checkStores();
    Store openStore(const char* name);
    void checkDataFiles(const Store& store);
    void checkSlots(const Store& store);
    void checkStrayFiles(const Store& store);
    void readObjects(const Store& store);
    StoreDiskUsage diskUsageOfStore(const Store& store);

    // ZELDatabaseChecker+Terms.cpp: the stores against one another, the sort files.
    void checkItemsAgainstVectors();
    void checkVectorInverses();
    void checkUseCounts();
    void readSortFiles();
    void checkSortFiles();
    // The IDs each sort file should hold: the IDs of values, each once, in sort order; a value
    // in no sort file joins the only sort file when there is one.
    std::vector<std::vector<ZELID>> derivedSortFileIDs() const;
    bool rebuildSortFiles(std::vector<std::string>* outRebuilt, ZELError* outError);

    std::filesystem::path folderURL_;
    std::vector<std::string> findings_;
    std::vector<Store> stores_;
    uint64_t storeCount_ = 0;
    std::shared_ptr<ZELDatabaseItemClassMap> classMap_;  // null when unreadable
    ZELID readingObjectID_ = 0;  // the object being read, for the read errors
    // What the stores hold, as read.
    std::map<ZELID, uint32_t> itemClassTokens_;
    std::map<ZELID, std::vector<ZELID>> itemTerms_;  // aspectBitIDVectors
    std::map<ZELID, std::vector<ZELID>> termItems_;  // itemIDVectors
    struct Value {
        ZELString normalized;
        uint64_t useCount;
    };
    std::map<ZELID, Value> values_;
    // Which stores were read whole, so that cross-checks do not report what damage hid.
    std::set<std::string> readableStores_;
    std::vector<SortFile> sortFiles_;
    // The sort file names of the aspects "aspects.plist" defines; none while it is unreadable.
    std::optional<std::set<std::string>> aspectSortFileNames_;
};
