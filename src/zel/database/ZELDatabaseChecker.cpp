#include "zel/database/ZELDatabaseChecker.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELDatabaseJournal.h"
#include "zel/storage/ZELDatabaseItemClassMap.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"

// The checker's driver and the folder's own files: the journal, the meta info, the class map,
// the aspect definitions and the synonyms.

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

ZELDatabaseChecker::~ZELDatabaseChecker() {
    reset();
}

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
    aspectSortFileNames_.reset();
}

void ZELDatabaseChecker::addFinding(const std::string& file, const std::string& problem) {
    // A file stream's error describes the file over several lines; the finding names the file
    // already, so only the cause is kept, on the finding's one line.
    std::string text = problem;
    const size_t fileDetails = text.find("Error encountered with file at:");
    const size_t cause = text.rfind("Error cause: ");
    if (fileDetails != std::string::npos && cause != std::string::npos && cause > fileDetails) {
        text = text.substr(0, fileDetails) + text.substr(cause + std::strlen("Error cause: "));
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    findings_.push_back(file + ": " + text);
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
    if (std::filesystem::exists(folderURL_ / ZELDatabaseJournal::fileName, error)) {
        addFinding(ZELDatabaseJournal::fileName,
                   "interrupted save: journal present; opening the database rolls it back");
    }
    checkMetaInfo();
    checkClassMap();
    checkAspectDefinitions();
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
    // The files hold part of a save; what they would derive is undone by the rollback.
    std::error_code existsError;
    if (std::filesystem::exists(folderURL_ / ZELDatabaseJournal::fileName, existsError)) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeUnsupportedOperation,
                                         "interrupted save: open the database to roll it back "
                                         "before repairing"));
    }
    std::vector<std::string> rebuilt;
    ZELError firstError;
    for (const Store& store : stores_) {
        if (!store.storage) continue;
        ZELDiskDataStorageStrategyManager& manager = *store.storage->objectStore();
        const std::vector<std::string> tables =
            manager.rebuildDisagreeingFreeSpaceTables([&](ZELDiskDataStorageSlotVisitor visit) {
                store.storage->enumerateAssignedSlotsUsing(visit);
            });
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

void ZELDatabaseChecker::checkAspectDefinitions() {
    const std::filesystem::path url = folderURL_ / ZELDatabase::aspectsInfoFileName;
    std::error_code existsError;
    if (std::filesystem::exists(url, existsError)) {
        ZELValue plist;
        const ZELValue* identification = nullptr;
        const ZELValue* version = nullptr;
        const ZELValue* definitions = nullptr;
        if (ZELPropertyList::readFile(url.string(), &plist, nullptr) && plist.isDictionary()) {
            identification = plist.valueForKey(ZELAspect::aspectDefsFileIdentifier);
            version = plist.valueForKey("Version");
            definitions = plist.valueForKey("AspectDefs");
        }
        std::set<std::string> names;
        bool isValid = identification && identification->isString() &&
                       identification->utf8Value() == ZELAspect::aspectDefsFileIdentifier &&
                       version && version->isNumber() &&
                       version->integerValue() == ZELAspect::aspectDefsFileVersion &&
                       (!definitions || definitions->isArray());
        for (size_t i = 0; isValid && definitions && i < definitions->arrayValue().size(); ++i) {
            const ZELValue* identifier = definitions->arrayValue()[i].valueForKey("identifier");
            isValid = identifier && identifier->isString() && !identifier->stringValue().empty();
            if (isValid) {
                names.insert(ZELAspect::fileBaseNameForAspectIdentifier(identifier->stringValue()) +
                             ".sort");
            }
        }
        if (isValid) {
            aspectSortFileNames_ = std::move(names);
        } else {
            addFinding(ZELDatabase::aspectsInfoFileName, "not a valid aspect definition list");
        }
    }
    auto synonyms = ZELSynonymList::listWithFolderURL(folderURL_ / ZELDatabase::storageFolderName /
                                                      ZELDatabase::synonymsFolderName);
    ZELError error;
    if (!synonyms->loadAndGetError(&error)) {
        addFinding(relativePath(synonyms->fileURL()), error.failureReason());
    }
}
