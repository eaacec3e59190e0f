#include "ZELToolDatabase.h"

#include "ZELJSON.h"

#include <filesystem>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"

std::optional<int64_t> ZELToolDatabaseDelegate::databaseClientSchemaVersionNumber(ZELDatabase&) {
    return clientVersion_;
}

ZELToolOpenDatabase::~ZELToolOpenDatabase() {
    if (database) database->invalidate();
}

std::string ZELToolErrorText(const ZELError& error) {
    return error.failureReason().empty() ? error.description() : error.failureReason();
}

std::optional<ZELToolOpenDatabase> ZELToolOpenDatabaseInFolder(const std::string& folder, std::string* outMessage) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        *outMessage = folder + ": no such database folder";
        return std::nullopt;
    }
    const std::string infoPath = (std::filesystem::path(folder) / ZELDatabaseMetaInfo::fileName).string();
    if (!std::filesystem::exists(infoPath, ignored)) {
        *outMessage = folder + ": not a database folder (it has no " + ZELDatabaseMetaInfo::fileName + ")";
        return std::nullopt;
    }
    ZELError error;
    std::shared_ptr<ZELDatabaseMetaInfo> info = ZELDatabaseMetaInfo::infoWithURL(infoPath, &error);
    if (!info) {
        *outMessage = infoPath + ": " + ZELToolErrorText(error);
        return std::nullopt;
    }
    // Records must be known before the class map resolves the stored class names.
    ZELRecordItem::registerItemClass();
    ZELToolOpenDatabase opened;
    opened.delegate = std::make_unique<ZELToolDatabaseDelegate>(info->clientSchemaVersion());
    opened.database = ZELDatabase::databaseWithIdentifier(info->databaseIdentifier(), opened.delegate.get(), folder);
    if (!opened.database->bootstrapFromDisk()) {
        *outMessage = folder + ": cannot open the database: " + ZELToolErrorText(opened.database->lastSerializationError());
        return std::nullopt;
    }
    if (!opened.database->restoreAspectsFromInfoFile(&error)) {
        *outMessage = (std::filesystem::path(folder) / ZELDatabase::aspectsInfoFileName).string() + ": " +
                      ZELToolErrorText(error);
        return std::nullopt;
    }
    opened.settings = ZELToolSettings::fromPlistValue(opened.database->clientPlistValueForKey(ZELToolSettings::clientPlistKey));
    for (const ZELString& identifier : opened.settings.duplicateDetectionAspects) {
        if (auto aspect = opened.database->aspectWithIdentifier(identifier)) aspect->setIsUsedToDetectDuplicates(true);
    }
    return opened;
}

void ZELToolWriteItemLine(ZELDatabase& database, ZELID itemID, std::ostream& out) {
    ZELError error;
    std::shared_ptr<ZELItem> item = database.itemForItemID(itemID, &error);
    out << "item " << itemID;
    if (!item) {
        out << ": unreadable: " << ZELToolErrorText(error) << '\n';
    } else if (const auto* record = dynamic_cast<const ZELRecordItem*>(item.get())) {
        out << " " << ZELJSON_JSONFromValue(ZELValue(record->values())).dump() << '\n';
    } else {
        out << " (" << ZELItemClass::registeredNameForItem(*item) << ")\n";
    }
}
