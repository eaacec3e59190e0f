#include "ZELJSON.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELData+Base64.h"

namespace {

constexpr const char* kDateKey = "$date";
constexpr const char* kDataKey = "$data";
constexpr int64_t kSecondsPerDay = 86400;
// 0000-01-01T00:00:00Z and 10000-01-01T00:00:00Z.
constexpr double kFirstISO8601Second = -62167219200.0;
constexpr double kEndISO8601Second = 253402300800.0;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil); `month` 1 to 12.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    int64_t year;
    int64_t month;
    int64_t day;
};

// The inverse of daysFromCivil.
CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex + (monthIndex < 10 ? 3 : -9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool isLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t daysInMonth(int64_t year, int64_t month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads exactly `count` ASCII digits at `*position`.
bool readDigits(std::string_view text, size_t* position, size_t count, int64_t* outValue) {
    if (*position + count > text.size()) return false;
    int64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[*position + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *position += count;
    *outValue = value;
    return true;
}

std::optional<ZELValue> valueFromJSON(const nlohmann::json& json, int depth, std::string* outMessage) {
    // `depth` counts the containers around `json`.
    if ((json.is_array() || json.is_object()) && depth >= ZELJSON_MaximumNestingDepth) {
        *outMessage = ZELStringWithFormat("values nest deeper than %d levels", ZELJSON_MaximumNestingDepth);
        return std::nullopt;
    }
    switch (json.type()) {
    case nlohmann::json::value_t::null:
    case nlohmann::json::value_t::discarded:
        return ZELValue();
    case nlohmann::json::value_t::boolean:
        return ZELValue(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
        return ZELValue(json.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
        const uint64_t value = json.get<uint64_t>();
        if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return ZELValue(static_cast<int64_t>(value));
        }
        return ZELValue(static_cast<double>(value));
    }
    case nlohmann::json::value_t::number_float:
        return ZELValue(json.get<double>());
    case nlohmann::json::value_t::string:
        return ZELValue::fromUTF8(json.get_ref<const std::string&>());
    case nlohmann::json::value_t::binary:
        return ZELValue(ZELValue::Data(json.get_binary().begin(), json.get_binary().end()));
    case nlohmann::json::value_t::array: {
        ZELValue::Array array;
        array.reserve(json.size());
        for (const nlohmann::json& element : json) {
            std::optional<ZELValue> value = valueFromJSON(element, depth + 1, outMessage);
            if (!value) return std::nullopt;
            array.push_back(std::move(*value));
        }
        return ZELValue(std::move(array));
    }
    case nlohmann::json::value_t::object:
        break;
    }
    if (json.size() == 1 && json.contains(kDateKey)) {
        const nlohmann::json& date = json[kDateKey];
        if (date.is_number()) return ZELValue(ZELDate{date.get<double>()});
        if (date.is_string()) {
            if (std::optional<ZELDate> parsed = ZELJSON_DateFromISO8601(date.get_ref<const std::string&>())) {
                return ZELValue(*parsed);
            }
        }
        *outMessage = "\"$date\" needs an ISO 8601 date text or a number of seconds since 1970";
        return std::nullopt;
    }
    if (json.size() == 1 && json.contains(kDataKey)) {
        const nlohmann::json& data = json[kDataKey];
        if (data.is_string()) {
            if (std::optional<ZELData> bytes = ZELData_WithBase64String(data.get_ref<const std::string&>())) {
                return ZELValue(ZELValue::Data(std::move(*bytes)));
            }
        }
        *outMessage = "\"$data\" needs a base64 text";
        return std::nullopt;
    }
    ZELValue::Dictionary dictionary;
    for (const auto& [key, element] : json.items()) {
        std::optional<ZELValue> value = valueFromJSON(element, depth + 1, outMessage);
        if (!value) return std::nullopt;
        dictionary.insert_or_assign(ZELStringFromUTF8(key), std::move(*value));
    }
    return ZELValue(std::move(dictionary));
}

}  // namespace

std::optional<ZELValue> ZELJSON_ValueFromJSON(const nlohmann::json& json, std::string* outMessage) {
    std::string ignored;
    return valueFromJSON(json, 0, outMessage ? outMessage : &ignored);
}

nlohmann::json ZELJSON_JSONFromValue(const ZELValue& value) {
    switch (value.kind()) {
    case ZELValue::Kind::None:
    case ZELValue::Kind::Object:
        return nullptr;
    case ZELValue::Kind::Boolean:
        return value.booleanValue();
    case ZELValue::Kind::Integer:
        return value.integerValue();
    case ZELValue::Kind::Real:
        return value.realValue();
    case ZELValue::Kind::String:
        return value.utf8Value();
    case ZELValue::Kind::Date: {
        const double interval = value.dateValue().timeIntervalSince1970;
        // Only the years 0000 to 9999 have a text form that reads back; others keep their number.
        if (std::isfinite(interval) && interval >= kFirstISO8601Second && interval < kEndISO8601Second) {
            return nlohmann::json{{kDateKey, ZELJSON_ISO8601FromDate(value.dateValue())}};
        }
        return nlohmann::json{{kDateKey, interval}};
    }
    case ZELValue::Kind::Data:
        return nlohmann::json{{kDataKey, ZELData_Base64String(value.dataValue())}};
    case ZELValue::Kind::Array: {
        nlohmann::json array = nlohmann::json::array();
        for (const ZELValue& element : value.arrayValue()) array.push_back(ZELJSON_JSONFromValue(element));
        return array;
    }
    case ZELValue::Kind::Dictionary: {
        nlohmann::json object = nlohmann::json::object();
        for (const auto& [key, element] : value.dictionaryValue()) {
            object[ZELStringToUTF8(key)] = ZELJSON_JSONFromValue(element);
        }
        return object;
    }
    }
    return nullptr;
}

std::optional<ZELDate> ZELJSON_DateFromISO8601(std::string_view text) {
    size_t position = 0;
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, &position, 4, &year) || position >= text.size() || text[position++] != '-' ||
        !readDigits(text, &position, 2, &month) || position >= text.size() || text[position++] != '-' ||
        !readDigits(text, &position, 2, &day)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
    double fraction = 0.0;
    int64_t zoneOffsetSeconds = 0;
    if (position < text.size() && (text[position] == 'T' || text[position] == ' ')) {
        ++position;
        if (!readDigits(text, &position, 2, &hour) || position >= text.size() || text[position++] != ':' ||
            !readDigits(text, &position, 2, &minute)) {
            return std::nullopt;
        }
        if (position < text.size() && text[position] == ':') {
            ++position;
            if (!readDigits(text, &position, 2, &second)) return std::nullopt;
            if (position < text.size() && (text[position] == '.' || text[position] == ',')) {
                ++position;
                double scale = 0.1;
                const size_t firstDigit = position;
                while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
                    fraction += (text[position] - '0') * scale;
                    scale /= 10;
                    ++position;
                }
                if (position == firstDigit) return std::nullopt;
            }
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
        if (position < text.size() && text[position] == 'Z') {
            ++position;
        } else if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
            const int64_t sign = text[position++] == '-' ? -1 : 1;
            int64_t zoneHours = 0, zoneMinutes = 0;
            if (!readDigits(text, &position, 2, &zoneHours)) return std::nullopt;
            if (position < text.size() && text[position] == ':') ++position;
            if (!readDigits(text, &position, 2, &zoneMinutes)) return std::nullopt;
            if (zoneHours > 23 || zoneMinutes > 59) return std::nullopt;
            zoneOffsetSeconds = sign * (zoneHours * 3600 + zoneMinutes * 60);
        }
    }
    if (position != text.size()) return std::nullopt;
    const int64_t seconds =
        daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second - zoneOffsetSeconds;
    return ZELDate{static_cast<double>(seconds) + fraction};
}

std::string ZELJSON_ISO8601FromDate(ZELDate date) {
    const double interval = date.timeIntervalSince1970;
    // Outside the years 0000 to 9999 a date has no text form that reads back: its seconds.
    if (!std::isfinite(interval) || interval < kFirstISO8601Second || interval >= kEndISO8601Second) {
        return ZELStringWithFormat("%.17g", interval);
    }
    const double wholeSeconds = std::floor(interval);
    int64_t micros = std::llround((interval - wholeSeconds) * 1e6);
    int64_t seconds = static_cast<int64_t>(wholeSeconds);
    if (micros >= 1000000) {
        seconds += 1;
        micros -= 1000000;
    }
    int64_t days = seconds / kSecondsPerDay;
    int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        days -= 1;
    }
    const CivilDate civil = civilFromDays(days);
    std::string text = ZELStringWithFormat("%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                                           static_cast<long long>(civil.year), static_cast<long long>(civil.month),
                                           static_cast<long long>(civil.day), static_cast<long long>(secondOfDay / 3600),
                                           static_cast<long long>(secondOfDay / 60 % 60),
                                           static_cast<long long>(secondOfDay % 60));
    if (micros != 0) {
        std::string digits = ZELStringWithFormat(".%06lld", static_cast<long long>(micros));
        while (digits.back() == '0') digits.pop_back();
        text += digits;
    }
    return text + "Z";
}

std::string ZELJSON_ParseErrorText(const nlohmann::json::parse_error& error) {
    const std::string text = error.what();
    const size_t position = text.find("parse error");
    const size_t colon = position == std::string::npos ? std::string::npos : text.find(": ", position);
    return colon == std::string::npos ? text : text.substr(colon + 2);
}
