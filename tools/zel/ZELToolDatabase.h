#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "ZELToolSchema.h"
#include "zel/database/ZELDatabase.h"

// The delegate of the databases the tool opens: answers the client schema version the folder
// was made with. (Background errors are logged to standard error by the database itself.)
class ZELToolDatabaseDelegate : public ZELDatabaseDelegate {
public:
    explicit ZELToolDatabaseDelegate(int64_t clientVersion) : clientVersion_(clientVersion) {}
    std::optional<int64_t> databaseClientSchemaVersionNumber(ZELDatabase& database) override;

private:
    int64_t clientVersion_;
};

// An existing database folder opened by a command: the database with its aspects restored
// from "aspects.plist", their duplicate-detection flags set from the tool's settings. The
// delegate lives as long as the database.
struct ZELToolOpenDatabase {
    std::unique_ptr<ZELToolDatabaseDelegate> delegate;
    std::shared_ptr<ZELDatabase> database;
    ZELToolSettings settings;

    ZELToolOpenDatabase() = default;
    ZELToolOpenDatabase(ZELToolOpenDatabase&&) = default;
    ZELToolOpenDatabase& operator=(ZELToolOpenDatabase&&) = default;
    // Invalidates the database (saving nothing).
    ~ZELToolOpenDatabase();
};

// Makes the database that `schema` describes in `folder` (which must not exist or be empty)
// and saves it; the tool's settings go to its client values. Answers a one-line message naming
// the folder on failure, when the folder is left as it was, else an empty text.
std::string ZELToolCreateDatabaseInFolder(const std::string& folder, const ZELToolSchema& schema);

// Opens the database in `folder`, first making it as `schema` describes when the folder does
// not exist or is empty. None with a one-line message when it cannot, or when the folder
// holds a database of another identifier.
std::optional<ZELToolOpenDatabase> ZELToolOpenOrCreateDatabase(const std::string& folder, const ZELToolSchema& schema,
                                                               std::string* outMessage);

// Opens the database in `folder` with the identifier and client version its meta info names;
// nothing on disk changes. None with a one-line message naming the folder or file when the
// folder is not a database or cannot be opened.
std::optional<ZELToolOpenDatabase> ZELToolOpenDatabaseInFolder(const std::string& folder, std::string* outMessage);

class ZELQuery;
// The query of a query property-list file (`zel query`, `zel complete --within`). The file is
// read before the query, so that a missing or damaged file is told apart from a query the
// database cannot answer; either message names the file. Null with the message on failure.
std::shared_ptr<ZELQuery> ZELToolReadQueryFile(const std::string& path, ZELDatabase& database,
                                               std::string* outMessage);

// The message of a database error: its failure reason, else its description.
std::string ZELToolErrorText(const ZELError& error);

// Writes one line for the item: "item ID" and the record's values as JSON, its class name for
// an item that is not a record, or why it cannot be read.
void ZELToolWriteItemLine(ZELDatabase& database, ZELID itemID, std::ostream& out);
