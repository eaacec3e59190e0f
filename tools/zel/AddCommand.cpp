// zel add DIR ITEMS.jsonl
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELRecordItem.h"

namespace {

// One record of the input and the line it came from.
struct InputRecord {
    size_t line;
    ZELValue::Dictionary values;
};

// Converts the values under the date keys to dates; a message on failure.
std::string convertDates(ZELValue::Dictionary& values, const std::vector<ZELString>& dateKeys) {
    for (const ZELString& key : dateKeys) {
        const auto found = values.find(key);
        if (found == values.end()) continue;
        ZELValue& value = found->second;
        if (value.isNone() || value.isDate()) continue;
        if (value.isNumber()) {
            value = ZELValue(ZELDate{value.realValue()});
        } else if (std::optional<ZELDate> date = value.isString() ? ZELJSON_DateFromISO8601(value.utf8Value()) : std::nullopt) {
            value = ZELValue(*date);
        } else {
            return "\"" + ZELStringToUTF8(key) + "\" is not a date (an ISO 8601 text or a number of seconds)";
        }
    }
    return std::string();
}

// Reads every line of `text` into records; a "FILE:LINE: problem" message on the first bad one.
std::optional<std::vector<InputRecord>> parseRecords(const std::string& text, const std::string& sourceName,
                                                     const std::vector<ZELString>& dateKeys, std::string* outMessage) {
    std::vector<InputRecord> records;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        const std::string where = sourceName + ":" + std::to_string(lineNumber) + ": ";
        nlohmann::json json;
        try {
            json = nlohmann::json::parse(line);
        } catch (const nlohmann::json::parse_error& error) {
            *outMessage = where + "not valid JSON: " + ZELJSON_ParseErrorText(error);
            return std::nullopt;
        }
        if (!json.is_object()) {
            *outMessage = where + "a record must be a JSON object";
            return std::nullopt;
        }
        std::string problem;
        std::optional<ZELValue> value = ZELJSON_ValueFromJSON(json, &problem);
        if (value && !value->isDictionary()) problem = "a record must be a JSON object, not a \"$date\" or \"$data\" value";
        if (!problem.empty()) {
            *outMessage = where + problem;
            return std::nullopt;
        }
        InputRecord record{lineNumber, std::move(*value->mutableDictionary())};
        problem = convertDates(record.values, dateKeys);
        if (!problem.empty()) {
            *outMessage = where + problem;
            return std::nullopt;
        }
        records.push_back(std::move(record));
    }
    return records;
}

bool readInput(const std::string& path, std::string* outText) {
    std::ostringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
        *outText = text.str();
        return !std::cin.bad();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    text << file.rdbuf();
    *outText = text.str();
    return !file.bad();
}

}  // namespace

int ZELToolAdd(const std::vector<std::string>& arguments, ZELToolOutput output) {
    for (const std::string& argument : arguments) {
        if (argument.size() > 1 && argument.rfind("-", 0) == 0) return ZELToolUsageError(output, "add: unknown option " + argument);
    }
    if (arguments.size() != 2) return ZELToolUsageError(output, "add needs DIR and ITEMS.jsonl");
    const std::string& folder = arguments[0];
    const std::string& itemsPath = arguments[1];
    const std::string sourceName = itemsPath == "-" ? "<stdin>" : itemsPath;

    // Everything is read and checked before the first record is added.
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(folder, &message);
    if (!opened) return ZELToolFail(output, message);
    std::string text;
    if (!readInput(itemsPath, &text)) return ZELToolFail(output, sourceName + ": cannot read the file");
    std::optional<std::vector<InputRecord>> records = parseRecords(text, sourceName, opened->settings.dateKeys, &message);
    if (!records) return ZELToolFail(output, message);

    ZELDatabase& database = *opened->database;
    const auto started = std::chrono::steady_clock::now();
    auto lastProgress = started;
    bool showedProgress = false;
    size_t added = 0;
    size_t matched = 0;
    database.beginItemChanges();
    for (InputRecord& record : *records) {
        bool wasAdded = false;
        const ZELID itemID =
            database.addItem(ZELRecordItem::itemWithValues(std::move(record.values), opened->settings.existenceKey), &wasAdded);
        if (itemID == 0) {
            // Nothing is saved, so the folder stays as it was.
            database.endItemChanges();
            if (showedProgress) output.err << '\n';
            return ZELToolFail(output, sourceName + ":" + std::to_string(record.line) +
                                           ": the database refused the record (nothing was saved)");
        }
        ++(wasAdded ? added : matched);
        const auto now = std::chrono::steady_clock::now();
        if (now - started >= std::chrono::seconds(1) && now - lastProgress >= std::chrono::milliseconds(250)) {
            output.err << "\rzel: " << sourceName << ": " << added + matched << " of " << records->size() << " records"
                       << std::flush;
            lastProgress = now;
            showedProgress = true;
        }
    }
    database.endItemChanges();
    if (showedProgress) output.err << "\rzel: " << sourceName << ": " << records->size() << " of " << records->size() << " records, saving" << std::endl;
    if (!database.ensureSerialized()) {
        return ZELToolFail(output, folder + ": cannot save the database: " + ZELToolErrorText(database.lastSerializationError()));
    }
    output.out << "added " << added << (added == 1 ? " record" : " records") << ", matched " << matched
               << (matched == 1 ? " duplicate" : " duplicates") << "; " << database.itemCount() << " items in "
               << folder << std::endl;
    return ZELToolExitSuccess;
}
