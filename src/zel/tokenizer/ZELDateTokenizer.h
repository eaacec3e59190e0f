#pragma once

#include <optional>
#include <string>

#include "zel/platform/ZELTypes.h"
#include "zel/tokenizer/ZELDateComponents.h"
#include "zel/tokenizer/ZELTokenizer.h"

// Indexes one calendar component of a date value (its year by default) as a number text, so
// that a date aspect can be searched and completed like any other. Components are taken in
// the kept calendar: the user's calendar and time zone as they were at the first date
// operation of the process (ICU's default calendar for the default locale and the TZ time
// zone), kept for the rest of the process. The subclasses differ only in their unit.
// Shared like every tokenizer; the kept calendar is guarded by its own lock.
class ZELDateTokenizer : public ZELTokenizer {
public:
    // The unit this class indexes; the year for ZELDateTokenizer itself.
    virtual ZELCalendarUnit calendarUnit() const { return ZELCalendarUnitYear; }

    // The token of a component value: none for ZELDateComponentUndefined, negative values and
    // values beyond the 32-bit range; "%04d" for the year, "%d" for every other unit.
    static std::optional<ZELString> tokenStringForDateComponentValue(int64_t value, uint32_t unit);

    // Collects the token of the date's component (date values only).
    void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const override;

    // The typed number as a day token, whatever the class's unit: "987" and "0987" yield
    // "987"; text without leading digits yields "0"; a negative number yields nothing.
    std::vector<ZELString> tokensForUserInput(const ZELString& text) const override;

    // The components of `date` named in `units` (a bit set of ZELCalendarUnit) in the kept
    // calendar; the others, and any the calendar cannot compute, stay undefined.
    static ZELDateComponents componentsOfDate(ZELDate date, uint32_t units);

    // The moment described by the defined components in the kept calendar (undefined ones
    // as at 1970-01-01 00:00:00; the weekday is ignored; values out of range roll over, as
    // month 13 into the next year), or none when the calendar cannot compute it.
    static std::optional<ZELDate> dateFromComponents(const ZELDateComponents& components);

    // `date` written with the ICU date pattern in the kept calendar (its time zone and its
    // locale's names); empty when ICU cannot write it.
    static ZELString stringFromDate(ZELDate date, const ZELString& pattern);

    // The largest value of the unit in the kept calendar (12 months and 7 weekdays in the
    // Gregorian calendar, 13 months in the Hebrew one); ZELDateComponentUndefined for a code
    // that names no unit.
    static int64_t maximumValueForCalendarUnit(uint32_t unit);

    // Replaces the kept calendar by the default calendar of `localeIdentifier` in the time
    // zone `timeZoneIdentifier` ("" for the process's default time zone), for tests and hosts
    // that fix their calendar. Answers false, keeping the calendar, for a time zone ICU does
    // not know or when ICU cannot make the calendar.
    static bool setCalendar(const std::string& timeZoneIdentifier, const std::string& localeIdentifier);
};

class ZELDateYearTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitYear; }
};

class ZELDateMonthTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitMonth; }
};

class ZELDateDayTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitDay; }
};

class ZELDateHourTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitHour; }
};

class ZELDateMinuteTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitMinute; }
};

class ZELDateSecondTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitSecond; }
};

class ZELDateWeekdayTokenizer : public ZELDateTokenizer {
public:
    ZELCalendarUnit calendarUnit() const override { return ZELCalendarUnitWeekday; }
};
