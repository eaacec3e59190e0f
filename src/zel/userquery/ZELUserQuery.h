#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"
#include "zel/userquery/ZELUserCriteria.h"

class ZELAspect;
class ZELDatabase;
class ZELError;
class ZELQuery;

// The key of a user query property list (docs/FORMATS.md, "Saved searches"). Stored; never
// change.
extern const char16_t* const ZELUserQueryPlistKey_Criteria;  // u"criteria"

// A search in the user's terms: the criteria of the search field's tokens, in order. Saved in
// query files and shown as token titles; it generates the ZELQuery that is evaluated. A plain
// value owned by its user (a token field, a saved-search entry); one thread at a time.
class ZELUserQuery : public ZELObject {
public:
    using CriteriaList = std::vector<std::shared_ptr<ZELUserCriteria>>;

    ZELUserQuery() = default;
    static std::shared_ptr<ZELUserQuery> query() { return std::make_shared<ZELUserQuery>(); }
    // Reads the property-list form; null with the error on failure: code 3 "ZELUserQuery plist
    // should be dictionary.", the typed look-up's error for "criteria", or the first failing
    // criteria's error.
    static std::shared_ptr<ZELUserQuery> queryWithPlistSerialization(const ZELValue& plist,
                                                                     ZELDatabase& database,
                                                                     ZELError* outError);

    const CriteriaList& userCriterias() const { return criterias_; }
    // Keeps the cached property list (see addUserCriterias).
    void setUserCriterias(CriteriaList criterias) { criterias_ = std::move(criterias); }
    // Appends and drops the cached property list.
    void addUserCriterias(const CriteriaList& criterias);
    // One new criteria holding `value` alone, searched in one new group of `aspects`. An
    // empty value or no aspects: nothing.
    void addMatchValue(const ZELString& value, const std::vector<std::shared_ptr<ZELAspect>>& aspects);
    void addMatchValue(const ZELString& value, const std::shared_ptr<ZELAspect>& aspect);
    // Some criteria searches `aspect` and, when a value is given, holds it among its terms.
    bool hasMatchValue(const std::optional<ZELString>& value, const ZELAspect& aspect) const;
    bool isEmpty() const { return criterias_.empty(); }

    // As many criteria, each pairing with a distinct equal criteria of the other, in any order.
    bool isEqual(const ZELUserQuery& other) const;

    // {"criteria": [criteria property lists]}; built on first request and cached.
    const ZELValue& plistSerialization() const;
    // The criteria titles joined as the generated query joins them: by " OR " within one group
    // of OR-aspects (not negated, outside joined aspect sets), by " AND " otherwise, each part
    // wrapped in parentheses when it holds whitespace and there are several; "{Empty Query}"
    // without criteria.
    ZELString stringRepresentation() const;
    // "ZELUserQuery<0x...>: <stringRepresentation>".
    std::string description() const override;

    // The query the criteria stand for in `database`; null when nothing is left to search.
    // Takes the database lock for each term lookup.
    std::shared_ptr<ZELQuery> generatedQueryForDatabase(ZELDatabase& database) const;

private:
    CriteriaList criterias_;
    mutable std::optional<ZELValue> plist_;  // cache of plistSerialization
};
