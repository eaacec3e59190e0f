#include "zel/database/ZELDatabaseChecker.h"

#include <system_error>

#include "zel/database/ZELDatabase.h"
#include "zel/storage/ZELDatabaseItemClassMap.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"

// The checker's driver and the folder's own files: the journal, the meta info, the class map.

namespace {

// Resolves every stored class name to itself: the checker only asks which tokens exist.
class ZELCheckerClassResolver final : public ZELDatabaseItemClassResolver {
public:
    bool isKnownItemClassName(const std::string&) const override { return true; }
    std::optional<std::string> substituteForUnknownItemClassName(
        const std::string&) const override {
        return std::nullopt;
    }
};

}  // namespace

ZELDatabaseChecker::ZELDatabaseChecker(std::filesystem::path folderURL)
    : folderURL_(std::move(folderURL)) {}

ZELDatabaseChecker::~ZELDatabaseChecker() { reset(); }

void ZELDatabaseChecker::reset() {
    for (Store& store : stores_) {
        if (store.storage) store.storage->invalidate();
    }
    findings_.clear();
    stores_.clear();
    storeCount_ = 0;
    classMap_.reset();
    itemClassTokens_.clear();
    itemTerms_.clear();
    termItems_.clear();
    values_.clear();
    readableStores_.clear();
    sortFiles_.clear();
}

void ZELDatabaseChecker::addFinding(const std::string& file, const std::string& problem) {
    findings_.push_back(file + ": " + problem);
}

std::string ZELDatabaseChecker::relativePath(const std::filesystem::path& url) const {
    return url.lexically_relative(folderURL_).generic_string();
}

void ZELDatabaseChecker::diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage& storage,
                                                                    const ZELError& error) {
    addFinding(relativePath(storage.indexFileURL()),
               ZELStringWithFormat("object %u cannot be read: %s", readingObjectID_,
                                   error.failureReason().c_str()));
}

std::vector<std::string> ZELDatabaseChecker::check() {
    reset();
    std::error_code error;
    if (!std::filesystem::is_directory(folderURL_, error)) {
        addFinding(folderURL_.string(), "not a database folder");
        return findings_;
    }
    // A journal means the folder holds part of a save until an open rolls it back; the rest is
    // still checked, so that the report shows what the interruption left.
    if (std::filesystem::exists(folderURL_ / journalFileName, error)) {
        addFinding(journalFileName,
                   "interrupted save: journal present; opening the database rolls it back");
    }
    checkMetaInfo();
    checkClassMap();
    checkStores();
    checkItemsAgainstVectors();
    checkVectorInverses();
    checkUseCounts();
    readSortFiles();
    checkSortFiles();
    return findings_;
}

bool ZELDatabaseChecker::repair(std::vector<std::string>* outRebuilt, ZELError* outError) {
    check();
    std::vector<std::string> rebuilt;
    ZELError firstError;
    for (const Store& store : stores_) {
        if (!store.storage) continue;
        ZELDiskDataStorageStrategyManager& manager = *store.storage->objectStore();
        const std::vector<std::string> tables = manager.rebuildDisagreeingFreeSpaceTables(
            &store.storage->assignedObjectInfoAtIndex(0), store.storage->assignedCount());
        if (tables.empty()) continue;
        // No block is released here, so the commit only writes the rebuilt tables.
        ZELError writeError;
        if (!manager.commitReleasedBlocksAndGetError(&writeError) && !firstError) {
            firstError = writeError;
        }
        rebuilt.insert(rebuilt.end(), tables.begin(), tables.end());
    }
    ZELError sortError;
    if (!rebuildSortFiles(&rebuilt, &sortError) && !firstError) firstError = sortError;
    if (outRebuilt) *outRebuilt = std::move(rebuilt);
    if (firstError) return ZELSetError(outError, firstError);
    return true;
}

void ZELDatabaseChecker::checkMetaInfo() {
    const std::filesystem::path url = folderURL_ / ZELDatabaseMetaInfo::fileName;
    std::error_code existsError;
    if (!std::filesystem::exists(url, existsError)) {
        addFinding(ZELDatabaseMetaInfo::fileName, "missing");
        return;
    }
    ZELError error;
    const auto info = ZELDatabaseMetaInfo::infoWithURL(url.string(), &error);
    // The identifier and schema version are the host's to judge; the layout fields are ours.
    if (!info || !info->validForLoadIntoDatabase(info->databaseIdentifier(),
                                                 info->clientSchemaVersion(), &error)) {
        addFinding(ZELDatabaseMetaInfo::fileName, error.failureReason());
    }
}

void ZELDatabaseChecker::checkClassMap() {
    const std::filesystem::path url =
        folderURL_ / ZELDatabase::storageFolderName / ZELDatabase::itemClassesFileName;
    std::error_code existsError;
    if (!std::filesystem::exists(url, existsError)) {
        addFinding(relativePath(url), "missing");
        return;
    }
    auto map = ZELDatabaseItemClassMap::mapWithFileAtURL(url.string());
    ZELError error;
    if (!map->loadWithDatabase(ZELCheckerClassResolver(), &error)) {
        addFinding(relativePath(url), error.failureReason());
        return;
    }
    classMap_ = std::move(map);
}
