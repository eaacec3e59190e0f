#include "zel/tokenizer/ZELDateTokenizer.h"

#include <unicode/ucal.h>
#include <unicode/udat.h>

#include <climits>
#include <cmath>
#include <mutex>

#include "zel/platform/ZELLog.h"
#include "zel/tokenizer/ZELStringComparison.h"

namespace {

// The calendar in which every date tokenizer takes its components, made at first use.
class KeptCalendar {
public:
    ~KeptCalendar() {
        if (calendar_) ucal_close(calendar_);
    }

    ZELDateComponents components(ZELDate date, uint32_t units) {
        ZELDateComponents components;
        const double milliseconds = date.timeIntervalSince1970 * 1000.0;
        if (!std::isfinite(milliseconds)) return components;
        std::lock_guard<std::mutex> guard(lock_);
        UCalendar* calendar = calendarLocked();
        if (!calendar) return components;
        UErrorCode status = U_ZERO_ERROR;
        ucal_setMillis(calendar, milliseconds, &status);
        if (U_FAILURE(status)) return components;
        for (const auto& [unit, field, offset] : kFields) {
            if (!(units & unit)) continue;
            status = U_ZERO_ERROR;
            const int32_t value = ucal_get(calendar, field, &status);
            if (U_SUCCESS(status)) components.setIntegerValue(int64_t{value} + offset, unit);
        }
        return components;
    }

    std::optional<ZELDate> date(const ZELDateComponents& components) {
        std::lock_guard<std::mutex> guard(lock_);
        UCalendar* calendar = calendarLocked();
        if (!calendar) return std::nullopt;
        ucal_clear(calendar);
        for (const auto& [unit, field, offset] : kFields) {
            const int64_t value = components.integerValueForCalendarUnit(unit);
            if (unit == ZELCalendarUnitWeekday || value == ZELDateComponentUndefined) continue;
            if (value - offset < INT32_MIN || value - offset > INT32_MAX) return std::nullopt;
            ucal_set(calendar, field, static_cast<int32_t>(value - offset));
        }
        UErrorCode status = U_ZERO_ERROR;
        const UDate milliseconds = ucal_getMillis(calendar, &status);
        if (U_FAILURE(status)) return std::nullopt;
        return ZELDate{milliseconds / 1000.0};
    }

    ZELString format(ZELDate date, const ZELString& pattern) {
        const double milliseconds = date.timeIntervalSince1970 * 1000.0;
        if (!std::isfinite(milliseconds)) return {};
        std::lock_guard<std::mutex> guard(lock_);
        UCalendar* calendar = calendarLocked();
        if (!calendar) return {};
        UErrorCode status = U_ZERO_ERROR;
        const char* locale = ucal_getLocaleByType(calendar, ULOC_VALID_LOCALE, &status);
        UDateFormat* format =
            udat_open(UDAT_PATTERN, UDAT_PATTERN, U_SUCCESS(status) ? locale : nullptr, nullptr, 0,
                      reinterpret_cast<const UChar*>(pattern.data()),
                      static_cast<int32_t>(pattern.size()), &status);
        if (U_FAILURE(status)) return {};
        udat_setCalendar(format, calendar);  // a copy: its time zone and numbering
        UChar text[128];
        const int32_t length = udat_format(format, milliseconds, text, 128, nullptr, &status);
        udat_close(format);
        if (U_FAILURE(status) || length > 128) return {};
        return ZELString(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
    }

    int64_t maximum(uint32_t unit) {
        std::lock_guard<std::mutex> guard(lock_);
        UCalendar* calendar = calendarLocked();
        for (const auto& [fieldUnit, field, offset] : kFields) {
            if (fieldUnit != unit || !calendar) continue;
            UErrorCode status = U_ZERO_ERROR;
            const int32_t value = ucal_getLimit(calendar, field, UCAL_MAXIMUM, &status);
            if (U_SUCCESS(status)) return int64_t{value} + offset;
        }
        return ZELDateComponentUndefined;
    }

    bool replace(const std::string& timeZoneIdentifier, const std::string& localeIdentifier) {
        UCalendar* made = open(timeZoneIdentifier, localeIdentifier.c_str());
        if (!made) return false;
        std::lock_guard<std::mutex> guard(lock_);
        if (calendar_) ucal_close(calendar_);
        calendar_ = made;
        return true;
    }

private:
    struct Field {
        ZELCalendarUnit unit;
        UCalendarDateFields field;
        int64_t offset;  // added to ICU's value: ICU counts months from 0
    };
    static constexpr Field kFields[] = {
        {ZELCalendarUnitYear, UCAL_YEAR, 0},          {ZELCalendarUnitMonth, UCAL_MONTH, 1},
        {ZELCalendarUnitDay, UCAL_DATE, 0},           {ZELCalendarUnitHour, UCAL_HOUR_OF_DAY, 0},
        {ZELCalendarUnitMinute, UCAL_MINUTE, 0},      {ZELCalendarUnitSecond, UCAL_SECOND, 0},
        {ZELCalendarUnitWeekday, UCAL_DAY_OF_WEEK, 0},
    };

    // Requires: lock_ is held.
    UCalendar* calendarLocked() {
        if (!calendar_) calendar_ = open("", nullptr);
        return calendar_;
    }

    static UCalendar* open(const std::string& timeZoneIdentifier, const char* localeIdentifier) {
        const ZELString zone = ZELStringFromUTF8(timeZoneIdentifier);
        UErrorCode status = U_ZERO_ERROR;
        if (!zone.empty()) {
            // ucal_open quietly answers a calendar in "Etc/Unknown" for a zone it does not know.
            UChar canonical[128];
            UBool isSystemZone = false;
            ucal_getCanonicalTimeZoneID(reinterpret_cast<const UChar*>(zone.data()),
                                        static_cast<int32_t>(zone.size()), canonical, 128, &isSystemZone,
                                        &status);
            if (U_FAILURE(status) || !isSystemZone) {
                ZELLogFormat("unknown time zone \"%s\"", timeZoneIdentifier.c_str());
                return nullptr;
            }
        }
        UCalendar* calendar =
            ucal_open(zone.empty() ? nullptr : reinterpret_cast<const UChar*>(zone.data()),
                      static_cast<int32_t>(zone.size()), localeIdentifier, UCAL_DEFAULT, &status);
        if (U_FAILURE(status)) {
            ZELLogFormat("calendar for time zone \"%s\" unavailable: %s", timeZoneIdentifier.c_str(),
                         u_errorName(status));
            return nullptr;
        }
        ucal_setAttribute(calendar, UCAL_LENIENT, 1);
        return calendar;
    }

    std::mutex lock_;
    UCalendar* calendar_ = nullptr;  // guarded by lock_
};

KeptCalendar& keptCalendar() {
    static KeptCalendar calendar;
    return calendar;
}

}  // namespace

std::optional<ZELString> ZELDateTokenizer::tokenStringForDateComponentValue(int64_t value, uint32_t unit) {
    if (value == ZELDateComponentUndefined || value < 0 || value > INT32_MAX) return std::nullopt;
    const int component = static_cast<int>(value);
    return ZELStringFromUTF8(unit == ZELCalendarUnitYear ? ZELStringWithFormat("%04d", component)
                                                         : ZELStringWithFormat("%d", component));
}

ZELString ZELDateTokenizer::stringFromDate(ZELDate date, const ZELString& pattern) {
    return keptCalendar().format(date, pattern);
}

int64_t ZELDateTokenizer::maximumValueForCalendarUnit(uint32_t unit) {
    return keptCalendar().maximum(unit);
}

void ZELDateTokenizer::collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const {
    if (!value.isDate()) return;
    const ZELCalendarUnit unit = calendarUnit();
    const ZELDateComponents components = componentsOfDate(value.dateValue(), unit);
    if (const auto token = tokenStringForDateComponentValue(components.integerValueForCalendarUnit(unit), unit)) {
        state.collectFoundToken(*token);
    }
}

std::vector<ZELString> ZELDateTokenizer::tokensForUserInput(const ZELString& text) const {
    const auto token = tokenStringForDateComponentValue(ZELStringIntegerValue(text), ZELCalendarUnitDay);
    if (!token) return {};
    return {*token};
}

ZELDateComponents ZELDateTokenizer::componentsOfDate(ZELDate date, uint32_t units) {
    return keptCalendar().components(date, units);
}

std::optional<ZELDate> ZELDateTokenizer::dateFromComponents(const ZELDateComponents& components) {
    return keptCalendar().date(components);
}

bool ZELDateTokenizer::setCalendar(const std::string& timeZoneIdentifier, const std::string& localeIdentifier) {
    return keptCalendar().replace(timeZoneIdentifier, localeIdentifier);
}
