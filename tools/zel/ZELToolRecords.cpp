#include "ZELToolRecords.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"

namespace {

// Converts the values under the date keys to dates; a message on failure.
std::string convertDates(ZELValue::Dictionary& values, const std::vector<ZELString>& dateKeys) {
    for (const ZELString& key : dateKeys) {
        const auto found = values.find(key);
        if (found == values.end()) continue;
        ZELValue& value = found->second;
        if (value.isNone() || value.isDate()) continue;
        if (value.isNumber()) {
            value = ZELValue(ZELDate{value.realValue()});
        } else if (std::optional<ZELDate> date = value.isString()
                                                     ? ZELJSON_DateFromISO8601(value.utf8Value())
                                                     : std::nullopt) {
            value = ZELValue(*date);
        } else {
            return "\"" + ZELStringToUTF8(key) +
                   "\" is not a date (an ISO 8601 text or a number of seconds)";
        }
    }
    return std::string();
}

}  // namespace

ZELToolProgress::ZELToolProgress(std::ostream& err, std::string label, std::string unit)
    : err_(err),
      label_(std::move(label)),
      unit_(std::move(unit)),
      started_(std::chrono::steady_clock::now()),
      lastDrawn_(started_) {}

void ZELToolProgress::update(size_t done, size_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (now - started_ < std::chrono::seconds(1) ||
        now - lastDrawn_ < std::chrono::milliseconds(250))
        return;
    lastDrawn_ = now;
    draw(done, total);
}

void ZELToolProgress::finish(size_t done, size_t total, const std::string& note) {
    if (!shown_) return;
    draw(done, total);
    err_ << note << std::endl;
    shown_ = false;
}

void ZELToolProgress::abandon() {
    if (shown_) err_ << std::endl;
    shown_ = false;
}

void ZELToolProgress::draw(size_t done, size_t total) {
    constexpr size_t kBarWidth = 30;
    const size_t filled = total ? std::min(done, total) * kBarWidth / total : 0;
    const size_t percent = total ? std::min(done, total) * 100 / total : 0;
    err_ << "\rzel: " << label_ << " [" << std::string(filled, '#')
         << std::string(kBarWidth - filled, '.') << "] " << std::setw(3) << percent << "% " << done
         << " of " << total << " " << unit_ << std::flush;
    shown_ = true;
}

bool ZELToolReadInput(const std::string& path, std::string* outText) {
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

std::optional<ZELToolRecordLines> ZELToolParseRecordLines(const std::string& text,
                                                          const std::string& sourceName,
                                                          const std::vector<ZELString>& dateKeys,
                                                          std::string* outMessage) {
    ZELToolRecordLines parsed;
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
        if (value && !value->isDictionary())
            problem = "a record must be a JSON object, not a \"$date\" or \"$data\" value";
        if (problem.empty()) problem = convertDates(*value->mutableDictionary(), dateKeys);
        if (!problem.empty()) {
            *outMessage = where + problem;
            return std::nullopt;
        }
        parsed.records.push_back(std::move(*value->mutableDictionary()));
        parsed.lines.push_back(lineNumber);
    }
    return parsed;
}

std::optional<size_t> ZELToolAddRecords(ZELDatabase& database,
                                        std::vector<ZELValue::Dictionary> records,
                                        const ZELToolSettings& settings, ZELToolProgress& progress,
                                        ZELToolAddCounts* outCounts) {
    ZELToolAddCounts counts;
    std::optional<size_t> refused;
    database.beginItemChanges();
    for (size_t index = 0; index < records.size(); ++index) {
        bool wasAdded = false;
        auto item = ZELRecordItem::itemWithValues(std::move(records[index]), settings.existenceKey,
                                                  settings.duplicateKeys);
        if (database.addItem(item, &wasAdded) == 0) {
            refused = index;
            break;
        }
        ++(wasAdded ? counts.added : counts.merged);
        progress.update(index + 1, records.size());
    }
    database.endItemChanges();
    if (outCounts) *outCounts = counts;
    return refused;
}
