// zel create DIR --schema SCHEMA.json
#include <ostream>

#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "ZELToolSchema.h"

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

    std::string message;
    std::optional<ZELToolSchema> schema = ZELToolReadSchema(schemaPath, &message);
    if (!schema) return ZELToolFail(output, message);
    message = ZELToolCreateDatabaseInFolder(folderArgument, *schema);
    if (!message.empty()) return ZELToolFail(output, message);
    output.out << "created database \"" << schema->identifier << "\" in " << folderArgument << " with "
               << schema->aspects.size() << (schema->aspects.size() == 1 ? " aspect" : " aspects") << std::endl;
    return ZELToolExitSuccess;
}
