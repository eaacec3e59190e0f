#pragma once

#include <memory>
#include <mutex>
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
// written. Owned by its list, which any thread may use: the entry's own lock guards the title
// and both caches, and is never held while the query is read (which takes the database lock).
class ZELUserQueryListEntry : public ZELObject {
public:
    static std::shared_ptr<ZELUserQueryListEntry> entryWithTitle(
        std::optional<ZELString> title, std::shared_ptr<ZELUserQuery> userQuery);
    // Title from the string under "title" (none when absent or not a string), property list a
    // copy of the value under "query". Never fails.
    static std::shared_ptr<ZELUserQueryListEntry> entryWithPlistSerialization(
        const ZELValue& dictionary);

    std::optional<ZELString> title() const;
    void setTitle(std::optional<ZELString> title);

    std::shared_ptr<ZELUserQuery> userQueryRaw() const;
    // The held query, else one read from the property list (kept when it succeeds); null with
    // the reader's error otherwise, and the next request tries again. Two threads reading at
    // once both read; the first query kept is the one answered.
    std::shared_ptr<ZELUserQuery> userQueryWithDatabase(ZELDatabase& database, ZELError* outError);
    std::optional<ZELValue> queryPlist() const;

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
    mutable std::mutex cacheLock_;
    std::optional<ZELString> title_;         // guarded by cacheLock_
    std::shared_ptr<ZELUserQuery> query_;    // guarded by cacheLock_
    std::optional<ZELValue> queryPlist_;     // guarded by cacheLock_
};
