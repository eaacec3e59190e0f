#include "zel/database/ZELDatabase.h"

#include <chrono>
#include <thread>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELItem.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/storage/ZELDatabaseJournal.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"

const char* const ZELDatabaseNotification_ItemsDidChange = "com.tarvo.ZEL.Database.itemsDidChange";
const char16_t* const ZELDatabaseNotificationKey_ChangedItemIDs = u"changedItemIDs";

std::optional<int64_t> ZELDatabaseDelegate::databaseClientSchemaVersionNumber(ZELDatabase&) {
    return std::nullopt;
}

std::optional<std::string> ZELDatabaseDelegate::databaseEncounteredUnknownItemClassName(
    ZELDatabase&, const std::string&) {
    return std::nullopt;
}

void ZELDatabaseDelegate::databaseEncounteredBackgroundError(ZELDatabase&, const ZELError&) {}

std::shared_ptr<ZELDatabase> ZELDatabase::databaseWithIdentifier(std::string identifier,
                                                                 ZELDatabaseDelegate* delegate,
                                                                 std::filesystem::path folderURL) {
    return std::make_shared<ZELDatabase>(std::move(identifier), delegate, std::move(folderURL));
}

ZELDatabase::ZELDatabase(std::string identifier, ZELDatabaseDelegate* delegate,
                         std::filesystem::path folderURL)
    : ident_(std::move(identifier)), folderURL_(std::move(folderURL)), delegate_(delegate) {}

ZELDatabase::~ZELDatabase() {
    invalidate();
    for (auto& aspect : aspects_) aspect->invalidate();
    for (const auto& store : {std::static_pointer_cast<ZELDiskDataStorage>(aspectBitValueStore_),
                              std::static_pointer_cast<ZELDiskDataStorage>(itemStore_),
                              std::static_pointer_cast<ZELDiskDataStorage>(aspectBitVectorsByItemID_),
                              std::static_pointer_cast<ZELDiskDataStorage>(itemVectorsByAspectBitID_)}) {
        if (store) store->invalidate();
    }
    journal_.reset();
}

// ---- Lifecycle ----

// Polls the lock for up to two seconds. (A timed mutex would wait without polling, but thread
// checkers do not follow its timed lock.)
bool ZELDatabase::tryLockForInvalidation() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!lock_.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ZELDatabase::invalidate() {
    const bool locked = tryLockForInvalidation();
    if (!isInvalid_.exchange(true)) {
        delegate_.store(nullptr);
        // Without the lock another thread may still be working with the components; they are
        // then left to the destructor.
        if (locked) {
            std::vector<std::shared_ptr<ZELAspect>> aspects;
            {
                std::lock_guard<std::mutex> guard(aspectsLock_);
                aspects.swap(aspects_);
                joinedAspectSetByIdent_.clear();
            }
            for (auto& aspect : aspects) aspect->invalidate();
            synonymList_.reset();
            for (const auto& store :
                 {std::static_pointer_cast<ZELDiskDataStorage>(aspectBitValueStore_),
                  std::static_pointer_cast<ZELDiskDataStorage>(itemStore_),
                  std::static_pointer_cast<ZELDiskDataStorage>(aspectBitVectorsByItemID_),
                  std::static_pointer_cast<ZELDiskDataStorage>(itemVectorsByAspectBitID_)}) {
                if (!store) continue;
                store->setDelegate(nullptr);
                store->invalidate();
            }
            aspectBitValueStore_.reset();
            itemStore_.reset();
            aspectBitVectorsByItemID_.reset();
            itemVectorsByAspectBitID_.reset();
            // Rolls back what no save committed and releases the folder.
            journal_.reset();
        }
    }
    if (locked) lock_.unlock();
}

std::shared_ptr<ZELDatabaseMetaInfo> ZELDatabase::metaInfo() const { return savedInfo_; }

std::optional<std::filesystem::path> ZELDatabase::baseFolderURLAndCreate(bool create,
                                                                          ZELError* outError) {
    std::error_code error;
    if (!create || std::filesystem::is_directory(folderURL_, error)) return folderURL_;
    // Excluding the folder from backups is a desktop service with no counterpart here.
    if (!ZELFileManager::createDirectoryRecursivelyAtURL(folderURL_, outError)) return std::nullopt;
    return folderURL_;
}

void ZELDatabase::reportSerializationError(const ZELError& error) {
    std::lock_guard<std::mutex> guard(lastFileErrorLock_);
    if (!lastFileError_.isError()) lastFileError_ = error;
}

ZELError ZELDatabase::lastSerializationError() const {
    std::lock_guard<std::mutex> guard(lastFileErrorLock_);
    return lastFileError_;
}

ZELValue ZELDatabase::clientPlistValueForKey(const ZELString& key) const {
    return savedInfo_ ? savedInfo_->clientPlistValueForKey(key) : ZELValue();
}

void ZELDatabase::setClientPlistValue(const ZELValue& value, const ZELString& key) {
    if (!savedInfo_) return;
    savedInfo_->setClientPlistValue(value, key);
    isSavedInfoDirty_ = true;
}

int64_t ZELDatabase::clientSchemaVersion() {
    ZELDatabaseDelegate* host = delegate();
    if (host) {
        if (auto version = host->databaseClientSchemaVersionNumber(*this)) return *version;
    }
    return 1;
}

std::string ZELDatabase::storagePath(const char* name) const {
    return (folderURL_ / storageFolderName / name).string();
}

bool ZELDatabase::isFolderNonEmpty(const std::filesystem::path& folder) const {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    return !error && entries != std::filesystem::directory_iterator();
}

// Steps 2 to 8 of opening; a failing step leaves its error in `err` and answers through it. An
// exception from the components passes on to bootstrapFromDisk.
void ZELDatabase::bootstrapStepsOrThrow(const std::filesystem::path& folder, ZELError* err) {
    classMap_ = ZELDatabaseItemClassMap::mapWithFileAtURL(storagePath(itemClassesFileName));
    aspectBitValueStore_ = ZELAspectBitValueStorage::storageWithBaseNameURL(
        folder / storageFolderName / aspectValueStoreName);
    aspectBitValueStore_->setDelegate(this);
    itemStore_ = ZELItemStorage::storageWithBaseNameURL(folder / storageFolderName / itemStoreName);
    itemStore_->setDelegate(this);
    aspectBitVectorsByItemID_ = ZELIDVectorArray::storageWithBaseNameURL(
        folder / storageFolderName / aspectBitVectorsStoreName);
    aspectBitVectorsByItemID_->setDelegate(this);
    itemVectorsByAspectBitID_ = ZELIDVectorArray::storageWithBaseNameURL(
        folder / storageFolderName / itemVectorsStoreName);
    itemVectorsByAspectBitID_->setDelegate(this);
    // Adding an item notes its postings; they are entered vector by vector in bulk before any
    // lookup of the table, so that every reader sees them.
    itemVectorsByAspectBitID_->setGathersAddedIDs(true);

    const std::string infoPath = (folder / ZELDatabaseMetaInfo::fileName).string();
    const int64_t schemaVersion = clientSchemaVersion();
    auto info = ZELDatabaseMetaInfo::infoWithURL(infoPath, nullptr);
    std::error_code existsError;
    const bool folderExists = std::filesystem::exists(folder, existsError);
    if (info) {
        if (!info->validForLoadIntoDatabase(ident_, schemaVersion, err)) return;
        sortFilesNeedOrderCheck_ =
            info->clientPlistValueForKey(sortFileKeyOrderClientKey).integerValue() != sortFileKeyOrder;
    } else if (folderExists && (std::filesystem::exists(infoPath, existsError) ||
                                isFolderNonEmpty(folder))) {
        // A meta info that is there but cannot be read is damage, not a new database: it fails
        // as a missing one does.
        *err = ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData,
            ZELStringWithFormat("missing %s file from non-empty database bundle folder",
                                ZELDatabaseMetaInfo::fileName));
        return;
    } else {
        // A new database, in a folder that is missing or empty: the stores write their files
        // into "storage" as they load, so it must exist before them.
        ZELError createError;
        const bool created =
            (folderExists || baseFolderURLAndCreate(true, &createError).has_value()) &&
            ZELFileManager::createDirectoryRecursivelyAtURL((folder / storageFolderName).string(),
                                                            &createError) &&
            ZELFileManager::createDirectoryRecursivelyAtURL((folder / aspectsFolderName).string(),
                                                            &createError);
        info = ZELDatabaseMetaInfo::infoWithDatabase(ident_, schemaVersion, nullptr);
        info->setClientPlistValue(ZELValue(sortFileKeyOrder), sortFileKeyOrderClientKey);
        isSavedInfoDirty_ = true;
        if (!created) {
            *err = createError;
            return;
        }
    }
    if (!classMap_->loadWithDatabase(*this, err)) return;
    // The item -> terms vectors are read when first asked for (a read that fails gives its
    // error to the delegate and answers no vector), so opening costs no more than the indexes.
    if (!aspectBitVectorsByItemID_->loadAndGetError(err)) return;
    if (!itemVectorsByAspectBitID_->loadAndGetError(err)) return;
    if (!itemStore_->loadAndGetError(err)) return;
    if (!aspectBitValueStore_->loadAndGetError(err)) return;
    // Damaged synonyms are reported and the database opens without them; the damaged file is
    // kept until the synonyms change (then it is moved aside).
    synonymList_ = ZELSynonymList::listWithFolderURL(folder / storageFolderName / synonymsFolderName);
    if (ZELError synonymsError; !synonymList_->loadAndGetError(&synonymsError)) {
        reportBackgroundError(synonymsError);
    }
    savedInfo_ = std::move(info);
}

bool ZELDatabase::bootstrapFromDisk() {
    if (isInvalid()) return false;
    auto folder = baseFolderURLAndCreate(false, nullptr);
    if (!folder) return false;
    if (isBootstrapped_) return true;
    ZELError err;
    // The lock and the roll back need the folder itself; a new database's folder is made here.
    std::error_code existsError;
    if (!std::filesystem::is_directory(*folder, existsError) &&
        !baseFolderURLAndCreate(true, &err)) {
        reportSerializationError(err);
        return false;
    }
    if (!journal_) journal_ = ZELDatabaseJournal::journalForFolder(*folder, &err);
    if (!journal_) {
        reportSerializationError(err);
        return false;
    }
    try {
        bootstrapStepsOrThrow(*folder, &err);
    } catch (const ZELException& exception) {
        err = ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, exception.reason());
    } catch (const std::exception& exception) {
        err = ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, exception.what());
    }
    if (err.isError()) {
        reportSerializationError(err);
        return false;
    }
    isBootstrapped_ = true;
    return true;
}

bool ZELDatabase::ensureSerialized() {
    if (isInvalid() || !isBootstrapped_) return false;
    if (lastSerializationError().isError()) return false;
    ZELError err;
    auto fail = [&] {
        reportSerializationError(err);
        return false;
    };
    std::error_code existsError;
    if (!std::filesystem::is_directory(folderURL_, existsError)) {
        if (!baseFolderURLAndCreate(true, &err)) return fail();
        isSavedInfoDirty_ = true;
    }
    auto info = ZELDatabaseMetaInfo::infoWithDatabase(ident_, clientSchemaVersion(), savedInfo_.get());
    if (isSavedInfoDirty_ || !savedInfo_ || !info->isEqualToInfo(*savedInfo_)) {
        if (!info->writeToURL((folderURL_ / ZELDatabaseMetaInfo::fileName).string(), &err)) {
            return fail();
        }
        savedInfo_ = info;
        isSavedInfoDirty_ = false;
    }
    if (!ZELFileManager::createDirectoryRecursivelyAtURL((folderURL_ / storageFolderName).string(),
                                                         &err) ||
        !ZELFileManager::createDirectoryRecursivelyAtURL(aspectDataFolderURL().string(), &err)) {
        return fail();
    }
    if (!classMap_->ensureSerializedAndGetError(&err)) return fail();
    const auto aspects = allAspects();
    if (aspectInfoDirty_.exchange(false)) {
        // A file that failed to restore is kept beside the new one.
        const std::filesystem::path url = folderURL_ / aspectsInfoFileName;
        if ((aspectsInfoUnread_ && std::filesystem::exists(url, existsError) &&
             !ZELFileManager::moveDamagedItemAsideAtURL(url.string(), &err)) ||
            !ZELAspect::saveInfoForAspects(aspects, url, &err)) {
            aspectInfoDirty_ = true;
            return fail();
        }
        aspectsInfoUnread_ = false;
    }
    for (const auto& aspect : aspects) {
        if (!aspect->ensureSerializedAndGetError(&err)) return fail();
    }
    if (!itemVectorsByAspectBitID_->saveGatheredIDsAndGetError(&err) ||
        !itemVectorsByAspectBitID_->ensureSerializedAndGetError(&err) ||
        !aspectBitVectorsByItemID_->ensureSerializedAndGetError(&err) ||
        !itemStore_->ensureSerializedAndGetError(&err) ||
        !aspectBitValueStore_->ensureSerializedAndGetError(&err) ||
        !synonymList_->ensureSerializedAndGetError(&err)) {
        return fail();
    }
    if (sortFilesNeedOrderCheck_ && !recordSortFileKeyOrderIfChecked(&err)) return fail();
    // The commit point: until here a kill or a power cut leaves the last save.
    if (!journal_->commit(&err)) return fail();
    return true;
}

bool ZELDatabase::retrySerialization() {
    if (isInvalid() || !isBootstrapped_) return false;
    {
        std::lock_guard<std::mutex> guard(lastFileErrorLock_);
        lastFileError_ = ZELError();
    }
    return ensureSerialized();
}

// ---- Locking ----

void ZELDatabase::raiseInvalid() const {
    ZELRaise(ZELDatabaseInvalidException,
             ZELStringWithFormat("%s has been invalidated", descriptionHead().c_str()));
}

void ZELDatabase::acquireLock() {
    if (isInvalid() || !acquireLockIfValid()) raiseInvalid();
}

// Validity is asked again once the lock is held: invalidate may have dropped the components
// while this thread waited for it.
bool ZELDatabase::acquireLockIfValid() {
    lock_.lock();
    if (isInvalid()) {
        lock_.unlock();
        return false;
    }
    threadDidAcquireLock();
    return true;
}

bool ZELDatabase::tryAcquireLock() {
    if (isInvalid() || !lock_.try_lock()) return false;
    if (isInvalid()) {
        lock_.unlock();
        return false;
    }
    threadDidAcquireLock();
    return true;
}

void ZELDatabase::relinquishLock() {
    threadWillRelinquishLock();
    const uint64_t depth = lockCount_.load();
    lock_.unlock();
    if (depth == 0) sendChangeNotificationsIfNeeded();
}

void ZELDatabase::threadDidAcquireLock() { lockCount_.fetch_add(1); }

void ZELDatabase::threadWillRelinquishLock() { lockCount_.fetch_sub(1); }

// ---- Error reporting ----

void ZELDatabase::reportFileLoadWarning(const std::string& message, bool markDatabaseAsReadOnly) {
    ZELLogFormat("file load warning: %s", message.c_str());
    if (markDatabaseAsReadOnly) isReadOnly_ = true;
}

void ZELDatabase::reportBackgroundError(const ZELError& error) {
    ZELLogFormat("background error: %s", error.description().c_str());
    // The database and the error stay alive until the delegate has heard of it.
    auto self = std::static_pointer_cast<ZELDatabase>(weak_from_this().lock());
    if (!self) return;
    ZELMainQueue::async([self, error] {
        if (ZELDatabaseDelegate* host = self->delegate()) {
            host->databaseEncounteredBackgroundError(*self, error);
        }
    });
}

void ZELDatabase::diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage&,
                                                             const ZELError& error) {
    reportBackgroundError(error);
}

bool ZELDatabase::isKnownItemClassName(const std::string& className) const {
    return ZELItemClass::itemClassNamed(className).has_value();
}

std::optional<std::string> ZELDatabase::substituteForUnknownItemClassName(
    const std::string& className) const {
    ZELDatabaseDelegate* host = delegate();
    if (!host) return std::nullopt;
    return host->databaseEncounteredUnknownItemClassName(const_cast<ZELDatabase&>(*this),
                                                         className);
}
