#include "zel/userquery/ZELDateUnitCompletionLists.h"

#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELCompletionList_Array.h"
#include "zel/query/ZELCompletionList_Map.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"

std::shared_ptr<ZELCompletionList> ZELDateUnitCompletionLists::listOfValuesInAspects(
    const AspectList& aspects) {
    ZELCompletionCollector collector;
    collector.setCompletionSortSelector(compareByZELNumericalSort);
    collector.addCompletionsInAspects(aspects);
    return ZELCompletionList_Array::listWithCompletions(collector.completionCanonicalStrings());
}

std::shared_ptr<ZELCompletionList> ZELDateUnitCompletionLists::listOfNamedValues(uint32_t unit) {
    if (unit != ZELCalendarUnitMonth && unit != ZELCalendarUnitWeekday) return nullptr;
    const ZELString pattern = unit == ZELCalendarUnitMonth ? u"LLL (LL)" : u"EEE";
    const int64_t last = ZELDateTokenizer::maximumValueForCalendarUnit(unit);
    ZELCompletionList_Map::Map map;
    int64_t wanted = 1;
    for (int64_t step = 0; step < 100 && wanted <= last; ++step) {
        ZELDateComponents start;
        start.year = 2011;
        start.month = 1 + (unit == ZELCalendarUnitMonth ? step : 0);
        start.day = 1 + (unit == ZELCalendarUnitWeekday ? step : 0);
        const auto date = ZELDateTokenizer::dateFromComponents(start);
        if (!date) break;
        if (ZELDateTokenizer::componentsOfDate(*date, unit).integerValueForCalendarUnit(unit) !=
            wanted)
            continue;
        map[ZELDateTokenizer::stringFromDate(*date, pattern)] =
            *ZELDateTokenizer::tokenStringForDateComponentValue(wanted, unit);
        ++wanted;
    }
    auto list = ZELCompletionList_Map::listWithMap(
        std::move(map), ZELCompletionList_Map::SortModeNumericCompletion);
    list->setIsListStatic(true);
    return list;
}
