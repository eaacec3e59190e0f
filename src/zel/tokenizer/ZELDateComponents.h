#pragma once

#include <cstdint>

// The calendar units of date components: the codes the date tokenizers and the date token
// field use (the platform calendar's unit codes). Stored in definitions; never renumber.
enum ZELCalendarUnit : uint32_t {
    ZELCalendarUnitYear = 4,
    ZELCalendarUnitMonth = 8,
    ZELCalendarUnitDay = 16,
    ZELCalendarUnitHour = 32,
    ZELCalendarUnitMinute = 64,
    ZELCalendarUnitSecond = 128,
    ZELCalendarUnitWeekday = 512,
};

// The value of a component that is not set (the largest signed 64-bit integer).
inline constexpr int64_t ZELDateComponentUndefined = INT64_MAX;

// Calendar components of a date: year, month (1-12), day of the month, hour (0-23), minute,
// second, and weekday (1 = Sunday ... 7 = Saturday). Plain value.
struct ZELDateComponents {
    int64_t year = ZELDateComponentUndefined;
    int64_t month = ZELDateComponentUndefined;
    int64_t day = ZELDateComponentUndefined;
    int64_t hour = ZELDateComponentUndefined;
    int64_t minute = ZELDateComponentUndefined;
    int64_t second = ZELDateComponentUndefined;
    int64_t weekday = ZELDateComponentUndefined;

    // The component of `unit`; ZELDateComponentUndefined for a code that names none.
    int64_t integerValueForCalendarUnit(uint32_t unit) const {
        switch (unit) {
            case ZELCalendarUnitYear: return year;
            case ZELCalendarUnitMonth: return month;
            case ZELCalendarUnitDay: return day;
            case ZELCalendarUnitHour: return hour;
            case ZELCalendarUnitMinute: return minute;
            case ZELCalendarUnitSecond: return second;
            case ZELCalendarUnitWeekday: return weekday;
            default: return ZELDateComponentUndefined;
        }
    }

    // Sets the component of `unit`; a code that names none is ignored.
    void setIntegerValue(int64_t value, uint32_t unit) {
        switch (unit) {
            case ZELCalendarUnitYear: year = value; break;
            case ZELCalendarUnitMonth: month = value; break;
            case ZELCalendarUnitDay: day = value; break;
            case ZELCalendarUnitHour: hour = value; break;
            case ZELCalendarUnitMinute: minute = value; break;
            case ZELCalendarUnitSecond: second = value; break;
            case ZELCalendarUnitWeekday: weekday = value; break;
            default: break;
        }
    }

    friend bool operator==(const ZELDateComponents&, const ZELDateComponents&) = default;
};
