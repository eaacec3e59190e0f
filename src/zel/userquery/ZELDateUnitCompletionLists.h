#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class ZELAspect;
class ZELCompletionList;

// The lists the date search field offers for each date unit: the years and days its aspects
// hold, and the names of the months and weekdays of the date tokenizers' calendar. Stateless;
// any thread (collecting takes the database lock), so that the field builds them off the GUI
// thread.
class ZELDateUnitCompletionLists {
public:
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;

    // Every value of the aspects, digit runs ordered by their numeric value.
    static std::shared_ptr<ZELCompletionList> listOfValuesInAspects(const AspectList& aspects);

    // A static list mapping each month ("LLL (LL)", as "Mar (03)") or weekday ("EEE") of the
    // tokenizers' calendar to its token ("3"; weekdays counted from Sunday = 1, as the calendar
    // numbers them), in the order of their numbers. The calendar is walked from 1 January 2011
    // by months or by days, taking each value when it first comes, for at most 100 steps.
    // Null for any other unit.
    static std::shared_ptr<ZELCompletionList> listOfNamedValues(uint32_t unit);
};
