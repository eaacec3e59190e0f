// zel complete DIR PREFIX [--aspect ID]... [--limit N] [--within QUERY.plist]
#include <ostream>

#include <nlohmann/json.hpp>

#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELAspect.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"

namespace {

// A decimal count without sign or spaces; none when the text is not one or overflows.
std::optional<uint64_t> parseCount(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(digit - '0');
    }
    return value;
}

}  // namespace

int ZELToolComplete(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::vector<std::string> positional;
    std::vector<std::string> aspectIdentifiers;
    uint64_t limit = ZELCompletionCollector::noLimit;
    std::string queryFile;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        const bool takesValue = argument == "--aspect" || argument == "--limit" || argument == "--within";
        if (takesValue && index + 1 >= arguments.size()) {
            return ZELToolUsageError(output, "complete: " + argument + " needs a value");
        }
        if (argument == "--aspect") {
            aspectIdentifiers.push_back(arguments[++index]);
        } else if (argument == "--limit") {
            const std::optional<uint64_t> count = parseCount(arguments[++index]);
            if (!count || *count > ZELCompletionCollector::noLimit) {
                return ZELToolUsageError(output, "complete: --limit needs a count, not \"" + arguments[index] + "\"");
            }
            limit = *count == 0 ? ZELCompletionCollector::noLimit : *count;
        } else if (argument == "--within") {
            queryFile = arguments[++index];
        } else if (argument.rfind("--", 0) == 0) {
            return ZELToolUsageError(output, "complete: unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) return ZELToolUsageError(output, "complete needs DIR and PREFIX");

    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(positional[0], &message);
    if (!opened) return ZELToolFail(output, message);
    const std::shared_ptr<ZELDatabase>& database = opened->database;

    std::vector<std::shared_ptr<ZELAspect>> aspects;
    if (aspectIdentifiers.empty()) {
        aspects = database->allAspects();
    } else {
        for (const std::string& identifier : aspectIdentifiers) {
            std::shared_ptr<ZELAspect> aspect = database->aspectWithIdentifier(ZELStringFromUTF8(identifier));
            if (!aspect) {
                return ZELToolFail(output, positional[0] + ": no aspect \"" + identifier + "\"");
            }
            aspects.push_back(std::move(aspect));
        }
    }

    std::shared_ptr<ZELItemResultSet> resultSet;
    if (!queryFile.empty()) {
        const std::shared_ptr<ZELQuery> query = ZELToolReadQueryFile(queryFile, *database, &message);
        if (!query) return ZELToolFail(output, message);
        resultSet = query->resultSetInDatabase(database);
        if (!resultSet) return ZELToolFail(output, queryFile + ": the query cannot be evaluated");
    }

    const ZELString prefix = ZELStringFromUTF8(positional[1]);
    bool surpassed = false;
    const std::vector<ZELString> completions =
        ZELCompletionCollector::completionsForMatchingPrefix(&prefix, aspects, resultSet, limit, &surpassed);
    for (const ZELString& completion : completions) {
        output.out << nlohmann::json(ZELStringToUTF8(completion)).dump() << '\n';
    }
    output.out << completions.size() << (completions.size() == 1 ? " completion" : " completions")
               << (surpassed ? ", more exist" : "") << '\n';
    output.out.flush();
    return ZELToolExitSuccess;
}
