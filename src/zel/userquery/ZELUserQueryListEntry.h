#pragma once

#include <memory>
#include <optional>
#include <string>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"

class ZELDatabase;
class ZELError;
class ZELUserQuery;

// The keys of an entry property list, also the content of a query file (docs/FORMATS.md,
// "Saved searches"). Stored; never change.
extern const char16_t* const ZELUserQueryListEntryPlistKey_Title;  // u"title"
extern const char16_t* const ZELUserQueryListEntryPlistKey_Query;  // u"query"

// A saved search: a title and a user query. Made from a property list it keeps only the list
// and reads the query on the first request that succeeds (then keeps it, whatever database is
// named later); made from a query it takes the property list from the query when first
// written. Owned by its list; one thread at a time.
class ZELUserQueryListEntry : public ZELObject {
public:
    static std::shared_ptr<ZELUserQueryListEntry> entryWithTitle(
        std::optional<ZELString> title, std::shared_ptr<ZELUserQuery> userQuery);
    // Title from the string under "title" (none when absent or not a string), property list a
    // copy of the value under "query". Never fails.
    static std::shared_ptr<ZELUserQueryListEntry> entryWithPlistSerialization(
        const ZELValue& dictionary);

    const std::optional<ZELString>& title() const { return title_; }
    void setTitle(std::optional<ZELString> title) { title_ = std::move(title); }

    const std::shared_ptr<ZELUserQuery>& userQueryRaw() const { return query_; }
    // The held query, else one read from the property list (kept when it succeeds); null with
    // the reader's error otherwise, and the next request tries again.
    std::shared_ptr<ZELUserQuery> userQueryWithDatabase(ZELDatabase& database, ZELError* outError);
    const std::optional<ZELValue>& queryPlist() const { return queryPlist_; }

    // {"title": title, "query": the kept property list, else the query's (then kept)}. An entry
    // without title leaves "title" out, which reads back as no title.
    ZELValue plistSerialization();

    // When both hold queries: the queries are equal (titles play no part). Otherwise the two
    // property lists, titles included, are equal.
    bool isEqual(ZELUserQueryListEntry& other);

    // "ZELUserQueryListEntry<0x...> \"title\"".
    std::string description() const override;

    ZELUserQueryListEntry(std::optional<ZELString> title, std::shared_ptr<ZELUserQuery> query,
                          std::optional<ZELValue> queryPlist);

private:
    std::optional<ZELString> title_;
    std::shared_ptr<ZELUserQuery> query_;
    std::optional<ZELValue> queryPlist_;
};
