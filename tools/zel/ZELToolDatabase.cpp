#include "ZELToolDatabase.h"

#include <filesystem>

#include "ZELJSON.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELQuery.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/tokenizer/ZELTokenizer.h"

namespace fs = std::filesystem;

std::optional<int64_t> ZELToolDatabaseDelegate::databaseClientSchemaVersionNumber(ZELDatabase&) {
    return clientVersion_;
}

ZELToolOpenDatabase::~ZELToolOpenDatabase() {
    if (database) database->invalidate();
}

std::string ZELToolErrorText(const ZELError& error) {
    return error.failureReason().empty() ? error.description() : error.failureReason();
}

namespace {

// Why `folder` cannot take a new database with `identifier`; empty when it can (it does not
// exist, or is an empty folder).
std::string folderProblem(const fs::path& folder, const std::string& identifier) {
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (!fs::exists(status)) return std::string();
    if (!fs::is_directory(status)) return folder.string() + ": exists and is not a folder";
    const fs::path infoPath = folder / ZELDatabaseMetaInfo::fileName;
    if (fs::exists(infoPath, error)) {
        ZELError readError;
        std::shared_ptr<ZELDatabaseMetaInfo> info = ZELDatabaseMetaInfo::infoWithURL(infoPath.string(), &readError);
        if (!info) return infoPath.string() + ": " + ZELToolErrorText(readError);
        if (info->databaseIdentifier() != identifier) {
            return folder.string() + ": the folder belongs to the database \"" + info->databaseIdentifier() +
                   "\", not \"" + identifier + "\"";
        }
        return folder.string() + ": the database \"" + identifier + "\" exists already";
    }
    if (!fs::is_empty(folder, error) || error) return folder.string() + ": the folder is not empty and holds no database";
    return std::string();
}

// Makes and saves the database; a message on failure.
std::string createDatabase(const fs::path& folder, const ZELToolSchema& schema) {
    ZELRecordItem::registerItemClass();
    // The stores cannot yet open in an existing empty folder (they expect its "storage"
    // subfolder, which the database makes only with the folder itself), so an empty folder is
    // handed over as a missing one. The caller makes it again if creation fails.
    std::error_code error;
    if (fs::is_directory(folder, error) && fs::is_empty(folder, error)) fs::remove(folder, error);
    ZELToolOpenDatabase created;
    created.delegate = std::make_unique<ZELToolDatabaseDelegate>(schema.clientVersion);
    created.database = ZELDatabase::databaseWithIdentifier(schema.identifier, created.delegate.get(), folder);
    ZELDatabase& database = *created.database;
    if (!database.bootstrapFromDisk()) {
        return folder.string() + ": cannot create the database: " + ZELToolErrorText(database.lastSerializationError());
    }
    for (const ZELToolAspectSchema& definition : schema.aspects) {
        ZELError error;
        std::shared_ptr<ZELAspect> aspect = database.ensureAspectExistsWithIdentifier(definition.identifier, &error);
        if (!aspect) {
            return folder.string() + ": cannot make the aspect \"" + ZELStringToUTF8(definition.identifier) +
                   "\": " + ZELToolErrorText(error);
        }
        aspect->setAspectValueTokenizer(
            ZELTokenizer::tokenizerForSerializedRepresentation(definition.tokenizerRepresentation, nullptr));
        aspect->setIsShowBitValueLabel(definition.showsLabel);
        aspect->setDefaultAspectBitBooleanOperation(definition.defaultBooleanOp);
        aspect->setIsUsedToDetectDuplicates(definition.detectsDuplicates);
    }
    database.setClientPlistValue(ZELToolSettings::fromSchema(schema).plistValue(), ZELToolSettings::clientPlistKey);
    if (!database.ensureSerialized()) {
        return folder.string() + ": cannot save the database: " + ZELToolErrorText(database.lastSerializationError());
    }
    return std::string();
}

}  // namespace

std::string ZELToolCreateDatabaseInFolder(const std::string& folderPath, const ZELToolSchema& schema) {
    // Everything is checked before anything is written.
    const fs::path folder(folderPath);
    std::string message = folderProblem(folder, schema.identifier);
    if (!message.empty()) return message;
    std::error_code ignored;
    const bool folderExisted = fs::exists(folder, ignored);
    message = createDatabase(folder, schema);
    if (!message.empty()) {
        // Leave the folder as it was: absent, or empty.
        fs::remove_all(folder, ignored);
        if (folderExisted) fs::create_directory(folder, ignored);
    }
    return message;
}

std::optional<ZELToolOpenDatabase> ZELToolOpenOrCreateDatabase(const std::string& folder, const ZELToolSchema& schema,
                                                               std::string* outMessage) {
    std::error_code ignored;
    if (!fs::exists(folder, ignored) || (fs::is_directory(folder, ignored) && fs::is_empty(folder, ignored))) {
        *outMessage = ZELToolCreateDatabaseInFolder(folder, schema);
        if (!outMessage->empty()) return std::nullopt;
    }
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(folder, outMessage);
    if (opened && opened->database->identifier() != schema.identifier) {
        *outMessage = folder + ": the folder belongs to the database \"" + opened->database->identifier() + "\", not \"" +
                      schema.identifier + "\"";
        return std::nullopt;
    }
    return opened;
}

std::optional<ZELToolOpenDatabase> ZELToolOpenDatabaseInFolder(const std::string& folder, std::string* outMessage) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) {
        *outMessage = folder + ": no such database folder";
        return std::nullopt;
    }
    const std::string infoPath = (fs::path(folder) / ZELDatabaseMetaInfo::fileName).string();
    if (!fs::exists(infoPath, ignored)) {
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
        *outMessage = (fs::path(folder) / ZELDatabase::aspectsInfoFileName).string() + ": " +
                      ZELToolErrorText(error);
        return std::nullopt;
    }
    opened.settings = ZELToolSettings::fromPlistValue(opened.database->clientPlistValueForKey(ZELToolSettings::clientPlistKey));
    for (const ZELString& identifier : opened.settings.duplicateDetectionAspects) {
        if (auto aspect = opened.database->aspectWithIdentifier(identifier)) aspect->setIsUsedToDetectDuplicates(true);
    }
    for (const std::shared_ptr<ZELAspect>& aspect : opened.database->allAspects()) {
        if (auto tokenizer = aspect->aspectValueTokenizer()) ZELToolRegisterDetectedTextGetter(tokenizer->clientObjectValueGetter());
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

std::shared_ptr<ZELQuery> ZELToolReadQueryFile(const std::string& path, ZELDatabase& database,
                                               std::string* outMessage) {
    ZELValue plist;
    ZELError error;
    if (!ZELPropertyList::readFile(path, &plist, &error)) {
        *outMessage = ZELToolErrorText(error);  // names the file
        return nullptr;
    }
    std::shared_ptr<ZELQuery> query = ZELQuery::queryWithPlistSerialization(plist, &database, &error);
    if (!query) *outMessage = path + ": " + ZELToolErrorText(error);
    return query;
}
