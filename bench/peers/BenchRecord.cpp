#include "BenchRecord.h"

#include "zel/tokenizer/ZELDateTokenizer.h"

namespace {

std::string textForKey(const ZELValue::Dictionary& entry, const char16_t* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->second.isString() ? found->second.utf8Value()
                                                            : std::string();
}

std::string dateToken(const ZELDateComponents& components, ZELCalendarUnit unit) {
    const auto token = ZELDateTokenizer::tokenStringForDateComponentValue(
        components.integerValueForCalendarUnit(unit), unit);
    return token ? ZELStringToUTF8(*token) : std::string();
}

}  // namespace

BenchRecord BenchRecord::fromChangelogEntry(const ZELValue::Dictionary& entry) {
    BenchRecord record;
    record.package = textForKey(entry, u"package");
    record.version = textForKey(entry, u"version");
    record.distribution = textForKey(entry, u"distribution");
    record.urgency = textForKey(entry, u"urgency");
    record.authorName = textForKey(entry, u"authorName");
    record.authorEmail = textForKey(entry, u"authorEmail");
    record.body = textForKey(entry, u"body");
    const auto date = entry.find(u"date");
    if (date != entry.end() && date->second.isDate()) {
        record.hasDate = true;
        record.date = date->second.dateValue().timeIntervalSince1970;
        const ZELDateComponents components = ZELDateTokenizer::componentsOfDate(
            date->second.dateValue(), ZELCalendarUnitYear | ZELCalendarUnitMonth |
                                          ZELCalendarUnitDay | ZELCalendarUnitWeekday);
        record.year = dateToken(components, ZELCalendarUnitYear);
        record.month = dateToken(components, ZELCalendarUnitMonth);
        record.day = dateToken(components, ZELCalendarUnitDay);
        record.weekday = dateToken(components, ZELCalendarUnitWeekday);
    }
    return record;
}

ZELValue::Dictionary BenchRecord::changelogEntry() const {
    ZELValue::Dictionary entry;
    entry[u"package"] = ZELValue::fromUTF8(package);
    entry[u"version"] = ZELValue::fromUTF8(version);
    entry[u"distribution"] = ZELValue::fromUTF8(distribution);
    entry[u"urgency"] = ZELValue::fromUTF8(urgency);
    entry[u"authorName"] = ZELValue::fromUTF8(authorName);
    entry[u"authorEmail"] = ZELValue::fromUTF8(authorEmail);
    if (hasDate) entry[u"date"] = ZELValue(ZELDate{date});
    entry[u"body"] = ZELValue::fromUTF8(body);
    return entry;
}
