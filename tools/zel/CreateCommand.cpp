// zel create DIR --schema SCHEMA.json
#include <filesystem>
#include <ostream>

#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "ZELToolSchema.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/tokenizer/ZELTokenizer.h"

namespace {

namespace fs = std::filesystem;

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

int ZELToolCreate(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string folderArgument;
    std::string schemaPath;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--schema") {
            if (i + 1 == arguments.size()) return ZELToolUsageError(output, "--schema needs a file");
            schemaPath = arguments[++i];
        } else if (arguments[i].rfind("--", 0) == 0) {
            return ZELToolUsageError(output, "create: unknown option " + arguments[i]);
        } else if (folderArgument.empty()) {
            folderArgument = arguments[i];
        } else {
            return ZELToolUsageError(output, "create takes one folder");
        }
    }
    if (folderArgument.empty() || schemaPath.empty()) return ZELToolUsageError(output, "create needs DIR and --schema SCHEMA.json");

    // Everything is checked before anything is written.
    std::string message;
    std::optional<ZELToolSchema> schema = ZELToolReadSchema(schemaPath, &message);
    if (!schema) return ZELToolFail(output, message);
    const fs::path folder(folderArgument);
    message = folderProblem(folder, schema->identifier);
    if (!message.empty()) return ZELToolFail(output, message);

    std::error_code ignored;
    const bool folderExisted = fs::exists(folder, ignored);
    message = createDatabase(folder, *schema);
    if (!message.empty()) {
        // Leave the folder as it was: absent, or empty.
        fs::remove_all(folder, ignored);
        if (folderExisted) fs::create_directory(folder, ignored);
        return ZELToolFail(output, message);
    }
    output.out << "created database \"" << schema->identifier << "\" in " << folder.string() << " with "
               << schema->aspects.size() << (schema->aspects.size() == 1 ? " aspect" : " aspects") << std::endl;
    return ZELToolExitSuccess;
}
