// zel query DIR QUERY.plist [--items | --describe]
#include <ostream>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"

int ZELToolQuery(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::vector<std::string> positional;
    bool showItems = false;
    bool describe = false;
    for (const std::string& argument : arguments) {
        if (argument == "--items") {
            showItems = true;
        } else if (argument == "--describe") {
            describe = true;
        } else if (argument.rfind("--", 0) == 0) {
            return ZELToolUsageError(output, "query: unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) return ZELToolUsageError(output, "query needs DIR and QUERY.plist");
    if (showItems && describe) return ZELToolUsageError(output, "query takes either --items or --describe");

    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(positional[0], &message);
    if (!opened) return ZELToolFail(output, message);
    const std::shared_ptr<ZELDatabase>& database = opened->database;

    const std::shared_ptr<ZELQuery> query = ZELToolReadQueryFile(positional[1], *database, &message);
    if (!query) return ZELToolFail(output, message);

    if (describe) {
        output.out << query->descriptionWithDatabase(database.get(), ZELQueryDescriptionTypeUser) << '\n';
        output.out.flush();
        return ZELToolExitSuccess;
    }

    std::shared_ptr<ZELItemResultSet> resultSet = query->resultSetInDatabase(database);
    std::vector<ZELID> itemIDs;
    if (resultSet && resultSet->itemIDs()) {
        resultSet->itemIDs()->enumerateIDs([&](ZELID id, bool&) { itemIDs.push_back(id); });
    }
    for (ZELID itemID : itemIDs) {
        if (!showItems) {
            output.out << itemID << '\n';
            continue;
        }
        ZELToolWriteItemLine(*database, itemID, output.out);
    }
    output.out.flush();
    return ZELToolExitSuccess;
}
