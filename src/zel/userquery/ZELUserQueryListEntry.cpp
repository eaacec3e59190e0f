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

std::optional<ZELString> ZELUserQueryListEntry::title() const {
    std::lock_guard<std::mutex> guard(cacheLock_);
    return title_;
}

void ZELUserQueryListEntry::setTitle(std::optional<ZELString> title) {
    std::lock_guard<std::mutex> guard(cacheLock_);
    title_ = std::move(title);
}

std::shared_ptr<ZELUserQuery> ZELUserQueryListEntry::userQueryRaw() const {
    std::lock_guard<std::mutex> guard(cacheLock_);
    return query_;
}

std::optional<ZELValue> ZELUserQueryListEntry::queryPlist() const {
    std::lock_guard<std::mutex> guard(cacheLock_);
    return queryPlist_;
}

std::shared_ptr<ZELUserQuery> ZELUserQueryListEntry::userQueryWithDatabase(ZELDatabase& database,
                                                                          ZELError* outError) {
    ZELValue plist;
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        if (query_) return query_;
        if (queryPlist_) plist = *queryPlist_;
    }
    auto read = ZELUserQuery::queryWithPlistSerialization(plist, database, outError);
    if (!read) return nullptr;
    std::lock_guard<std::mutex> guard(cacheLock_);
    if (!query_) query_ = std::move(read);
    return query_;
}

ZELValue ZELUserQueryListEntry::plistSerialization() {
    std::lock_guard<std::mutex> guard(cacheLock_);
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
    const auto query = userQueryRaw();
    const auto otherQuery = other.userQueryRaw();
    if (query && otherQuery) return query->isEqual(*otherQuery);
    return plistSerialization() == other.plistSerialization();
}

std::string ZELUserQueryListEntry::description() const {
    const auto shownTitle = title();
    return descriptionHead() + " \"" + (shownTitle ? ZELStringToUTF8(*shownTitle) : std::string()) +
           "\"";
}
