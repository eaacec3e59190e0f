#include "zel/userquery/ZELUserQueryListEntry.h"

#include "zel/userquery/ZELUserQuery.h"

const char16_t* const ZELUserQueryListEntryPlistKey_Title = u"title";
const char16_t* const ZELUserQueryListEntryPlistKey_Query = u"query";

ZELUserQueryListEntry::ZELUserQueryListEntry(std::optional<ZELString> title,
                                             std::shared_ptr<ZELUserQuery> query,
                                             std::optional<ZELValue> queryPlist)
    : title_(std::move(title)), query_(std::move(query)), queryPlist_(std::move(queryPlist)) {}

std::shared_ptr<ZELUserQueryListEntry> ZELUserQueryListEntry::entryWithTitle(
    std::optional<ZELString> title, std::shared_ptr<ZELUserQuery> userQuery) {
    return std::make_shared<ZELUserQueryListEntry>(std::move(title), std::move(userQuery),
                                                   std::nullopt);
}

std::shared_ptr<ZELUserQueryListEntry> ZELUserQueryListEntry::entryWithPlistSerialization(
    const ZELValue& dictionary) {
    std::optional<ZELString> title;
    if (const ZELValue* value = dictionary.valueForKey(ZELUserQueryListEntryPlistKey_Title);
        value && value->isString()) {
        title = value->stringValue();
    }
    std::optional<ZELValue> plist;
    if (const ZELValue* value = dictionary.valueForKey(ZELUserQueryListEntryPlistKey_Query)) {
        plist = *value;
    }
    return std::make_shared<ZELUserQueryListEntry>(std::move(title), nullptr, std::move(plist));
}

std::shared_ptr<ZELUserQuery> ZELUserQueryListEntry::userQueryWithDatabase(ZELDatabase& database,
                                                                          ZELError* outError) {
    if (!query_) {
        query_ = ZELUserQuery::queryWithPlistSerialization(queryPlist_ ? *queryPlist_ : ZELValue(),
                                                           database, outError);
    }
    return query_;
}

ZELValue ZELUserQueryListEntry::plistSerialization() {
    if (!queryPlist_) {
        queryPlist_ = query_ ? query_->plistSerialization() : ZELValue(ZELValue::Dictionary{});
    }
    ZELValue::Dictionary dictionary;
    if (title_) dictionary[ZELUserQueryListEntryPlistKey_Title] = *title_;
    dictionary[ZELUserQueryListEntryPlistKey_Query] = *queryPlist_;
    return dictionary;
}

bool ZELUserQueryListEntry::isEqual(ZELUserQueryListEntry& other) {
    if (this == &other) return true;
    if (query_ && other.query_) return query_->isEqual(*other.query_);
    return plistSerialization() == other.plistSerialization();
}

std::string ZELUserQueryListEntry::description() const {
    return descriptionHead() + " \"" + (title_ ? ZELStringToUTF8(*title_) : std::string()) + "\"";
}
