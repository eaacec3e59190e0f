#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"
#include "zel/userquery/ZELAspectTokenFieldGroup.h"
#include "zel/userquery/ZELStyledTitle.h"

class ZELDatabase;
class ZELError;
class ZELSynonymList;

// The keys of a user criteria property list (docs/FORMATS.md, "Saved searches"). Stored;
// never change.
extern const char16_t* const ZELUserCriteriaPlistKey_SearchTerms;        // u"SearchTerms"
extern const char16_t* const ZELUserCriteriaPlistKey_AspectIdentifiers;  // u"AspectIdentifiers"
extern const char16_t* const ZELUserCriteriaPlistKey_BooleanOperation;   // u"BooleanOperation"
extern const char16_t* const ZELUserCriteriaPlistKey_IsNegated;          // u"IsNegated"
// Written beside the keys above (and ignored by readers that know only those): the chosen
// groups, each as the array of its aspects' identifiers.
extern const char16_t* const ZELUserCriteriaPlistKey_AspectGroups;       // u"AspectGroups"

// One token of a search: its terms (any of which may match), the aspect groups it is searched
// in, and whether it excludes instead. A plain value owned by its user query or token field;
// one thread at a time.
class ZELUserCriteria : public ZELObject {
public:
    using GroupList = std::vector<std::shared_ptr<ZELAspectTokenFieldGroup>>;
    using AspectList = ZELAspectTokenFieldGroup::AspectList;

    // Empty: no terms, no groups, not negated.
    ZELUserCriteria() = default;
    static std::shared_ptr<ZELUserCriteria> criteria() { return std::make_shared<ZELUserCriteria>(); }
    // Reads the property-list form (aspects looked up in `database`); null with the error on
    // failure.
    static std::shared_ptr<ZELUserCriteria> criteriaWithPlistSerialization(const ZELValue& plist,
                                                                           ZELDatabase& database,
                                                                           ZELError* outError);

    // Stores copies and drops the synonym-expansion cache. No display strings: the search
    // terms are shown.
    void setSearchTerms(std::vector<ZELString> terms,
                        std::optional<std::vector<ZELString>> displayStrings = std::nullopt);
    const std::vector<ZELString>& searchTerms() const { return searchTerms_; }
    const std::optional<std::vector<ZELString>>& displaySearchTerms() const { return displayTerms_; }

    // Sets all, possible and chosen groups to `groups`.
    void setAspectGroups(const GroupList& groups);
    const GroupList& allAspectGroups() const { return allGroups_; }
    void setAllAspectGroups(GroupList groups) { allGroups_ = std::move(groups); }
    const GroupList& possibleAspectGroups() const { return possibleGroups_; }
    void setPossibleAspectGroups(GroupList groups) { possibleGroups_ = std::move(groups); }
    const GroupList& chosenAspectGroups() const { return chosenGroups_; }
    void setChosenAspectGroups(GroupList groups) { chosenGroups_ = std::move(groups); }
    // The aspects of the chosen groups, each once.
    AspectList chosenAspects() const;
    bool isNegate() const { return isNegate_; }
    void setIsNegate(bool flag) { isNegate_ = flag; }

    // The synonyms of the database of the first aspect of the first of all groups; null when
    // there is no such aspect.
    std::shared_ptr<ZELSynonymList> synonymList() const;
    // The search terms with every synonym replaced by its texts; cached until the terms are
    // set again.
    const std::vector<ZELString>& aspectBitValues() const;

    ZELStyledTitle displayTitle() const { return displayTitleWithTransitory(false); }
    // `transitory`: the token is still being typed (a trailing " OR ").
    ZELStyledTitle displayTitleWithTransitory(bool transitory) const;

    // Equal terms in the same order, the same negation and the same set of chosen aspects.
    bool isEqual(const ZELUserCriteria& other) const;
    // Terms, display terms, negation and the three group lists (the groups are shared).
    std::shared_ptr<ZELUserCriteria> copy() const;
    // "ZELUserCriteria<0x...> \"title\"".
    std::string description() const override;

    // Replaces terms, groups and negation with the property list's; on failure nothing
    // changes. Errors: code 3 "ZELUserCriteria plist should be a dictionary.", the typed
    // look-up's error for "SearchTerms" or "AspectIdentifiers", code 3 "The aspect \"<id>\" is
    // unknown, and cannot be used for search criteria.".
    bool setPlistRepresentation(const ZELValue& plist, ZELDatabase& database, ZELError* outError);
    // {"SearchTerms", "AspectIdentifiers" (sorted, each once), "BooleanOperation": "OR",
    // "IsNegated", "AspectGroups"}. Read back, "AspectGroups" (when present and naming only
    // aspects of the database) gives the groups; otherwise one group of "AspectIdentifiers".
    ZELValue plistSerialization() const;

private:
    std::vector<ZELString> searchTerms_;
    std::optional<std::vector<ZELString>> displayTerms_;
    mutable std::optional<std::vector<ZELString>> aspectBitValues_;  // cache
    GroupList allGroups_;
    GroupList possibleGroups_;
    GroupList chosenGroups_;
    bool isNegate_ = false;
};
