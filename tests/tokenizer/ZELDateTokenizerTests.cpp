#include <gtest/gtest.h>

#include "TokenizerTestSupport.h"
#include "zel/tokenizer/ZELDateTokenizer.h"

// The test environment keeps the calendar of "en_US" in "Europe/Berlin".

namespace {

ZELDate BerlinDate(int64_t year, int64_t month, int64_t day, int64_t hour = 12, int64_t minute = 0,
                   int64_t second = 0) {
    const std::optional<ZELDate> date = ZELDateTokenizer::dateFromComponents(
        {.year = year, .month = month, .day = day, .hour = hour, .minute = minute, .second = second});
    EXPECT_TRUE(date.has_value());
    return date.value_or(ZELDate{});
}

template <typename T>
std::optional<ZELTokenSet> DateTokens(ZELDate date) {
    return ZELTokenizer::tokenizer<T>()->tokensForValue(ZELValue(date));
}

}  // namespace

TEST(ZELDateTokenizer, EachClassIndexesItsComponent) {
    // 2024-03-03 was a Sunday; 10:30:45 in Berlin is 09:30:45 UTC (winter time).
    const ZELDate date{1709458245.0};
    EXPECT_EQ(date.timeIntervalSince1970, BerlinDate(2024, 3, 3, 10, 30, 45).timeIntervalSince1970);
    EXPECT_EQ(DateTokens<ZELDateTokenizer>(date), Tokens({"2024"}));
    EXPECT_EQ(DateTokens<ZELDateYearTokenizer>(date), Tokens({"2024"}));
    EXPECT_EQ(DateTokens<ZELDateMonthTokenizer>(date), Tokens({"3"}));
    EXPECT_EQ(DateTokens<ZELDateDayTokenizer>(date), Tokens({"3"}));
    EXPECT_EQ(DateTokens<ZELDateHourTokenizer>(date), Tokens({"10"}));
    EXPECT_EQ(DateTokens<ZELDateMinuteTokenizer>(date), Tokens({"30"}));
    EXPECT_EQ(DateTokens<ZELDateSecondTokenizer>(date), Tokens({"45"}));
    EXPECT_EQ(DateTokens<ZELDateWeekdayTokenizer>(date), Tokens({"1"}));
    // Summer time: UTC+2.
    EXPECT_EQ(DateTokens<ZELDateHourTokenizer>(ZELDate{1721037600.0}), Tokens({"12"}));  // 2024-07-15 10:00 UTC
    // Just before midnight UTC on New Year's Eve is already the next year in Berlin.
    EXPECT_EQ(DateTokens<ZELDateYearTokenizer>(ZELDate{1735689300.0}), Tokens({"2025"}));  // 2024-12-31 23:55 UTC
}

TEST(ZELDateTokenizer, ComponentValuesAndUserInputBecomeTokenStrings) {
    // Years are padded to four digits, other units not; values out of range have no token.
    EXPECT_EQ(DateTokens<ZELDateYearTokenizer>(BerlinDate(987, 6, 15)), Tokens({"0987"}));
    EXPECT_EQ(ZELDateTokenizer::tokenStringForDateComponentValue(5, ZELCalendarUnitYear), U("0005"));
    EXPECT_EQ(ZELDateTokenizer::tokenStringForDateComponentValue(12345, ZELCalendarUnitYear), U("12345"));
    EXPECT_EQ(ZELDateTokenizer::tokenStringForDateComponentValue(7, ZELCalendarUnitMinute), U("7"));
    EXPECT_FALSE(ZELDateTokenizer::tokenStringForDateComponentValue(-1, ZELCalendarUnitDay));
    EXPECT_FALSE(ZELDateTokenizer::tokenStringForDateComponentValue(ZELDateComponentUndefined, ZELCalendarUnitDay));
    EXPECT_FALSE(ZELDateTokenizer::tokenStringForDateComponentValue(int64_t{1} << 32, ZELCalendarUnitDay));

    // User input is formatted as a day.
    const auto years = ZELTokenizer::tokenizer<ZELDateYearTokenizer>();
    EXPECT_EQ(years->tokensForUserInput(U("987")), TokenList({"987"}));
    EXPECT_EQ(years->tokensForUserInput(U("0987")), TokenList({"987"}));
    EXPECT_EQ(years->tokensForUserInput(U(" 42nd")), TokenList({"42"}));
    EXPECT_EQ(years->tokensForUserInput(U("March")), TokenList({"0"}));
    EXPECT_TRUE(years->tokensForUserInput(U("-5")).empty());
    EXPECT_TRUE(years->tokensForUserInput(U("99999999999")).empty());  // beyond 32 bits
}

TEST(ZELDateTokenizer, ValuesThatAreNotDatesYieldNothing) {
    const auto years = ZELTokenizer::tokenizer<ZELDateYearTokenizer>();
    EXPECT_EQ(years->tokensForValue(ZELValue(U("2024"))), ZELTokenSet{});
    EXPECT_EQ(years->tokensForValue(ZELValue(ZELDate{std::numeric_limits<double>::infinity()})), ZELTokenSet{});
    EXPECT_FALSE(years->tokensForValue(ZELValue()).has_value());
    // A list of dates yields each date's token.
    EXPECT_EQ(years->tokensForValue(ZELValue(ZELValue::Array{ZELValue(BerlinDate(1999, 1, 1)),
                                                             ZELValue(BerlinDate(2001, 1, 1))})),
              Tokens({"1999", "2001"}));
}

TEST(ZELDateTokenizer, TheCalendarCanBeReplacedButNotByAnUnknownZone) {
    const ZELDate date{1709458245.0};  // 09:30:45 UTC
    EXPECT_FALSE(ZELDateTokenizer::setCalendar("Mars/Olympus_Mons", "en_US"));
    EXPECT_EQ(DateTokens<ZELDateHourTokenizer>(date), Tokens({"10"}));  // still Berlin
    ASSERT_TRUE(ZELDateTokenizer::setCalendar("Asia/Tokyo", "en_US"));
    EXPECT_EQ(DateTokens<ZELDateHourTokenizer>(date), Tokens({"18"}));
    ASSERT_TRUE(ZELDateTokenizer::setCalendar("Europe/Berlin", "en_US"));
}
