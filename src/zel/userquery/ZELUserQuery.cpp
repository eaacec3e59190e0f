#include "zel/userquery/ZELUserQuery.h"

#include <map>
#include <vector>

#include <unicode/uchar.h>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/query/ZELGroupedMatchIDMap.h"
#include "zel/query/ZELJoinedAspectSetMatchMap.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELStringComparison.h"

const char16_t* const ZELUserQueryPlistKey_Criteria = u"criteria";

namespace {

// Space, tab or another Unicode space separator; line breaks do not count.
bool containsWhitespace(const ZELString& text) {
    for (char16_t c : text) {
        if (c == u'\t' || u_charType(c) == U_SPACE_SEPARATOR) return true;
    }
    return false;
}

ZELString parenthesizedIfSpaced(const ZELString& text) {
    return containsWhitespace(text) ? u"(" + text + u")" : text;
}

// The group through which the generated query joins the criteria by OR with the other criteria
// of that group: its one chosen group, when it is not negated and every aspect of the group is
// an OR-aspect outside any joined aspect set. Null when the criteria stands on its own.
const ZELAspectTokenFieldGroup* orGroupOfCriteria(const ZELUserCriteria& criteria) {
    const auto& groups = criteria.chosenAspectGroups();
    if (criteria.isNegate() || groups.size() != 1 || !groups.front() ||
        groups.front()->aspects().empty()) {
        return nullptr;
    }
    for (const auto& aspect : groups.front()->aspects()) {
        if (!aspect || aspect->defaultAspectBitBooleanOperation() != ZELBooleanOperationOR) {
            return nullptr;
        }
        ZELDatabase* database = aspect->database();
        if (database && database->joinedAspectSetForAspectWithIdentifier(aspect->aspectIdentifier())) {
            return nullptr;
        }
    }
    return groups.front().get();
}

}  // namespace

std::shared_ptr<ZELUserQuery> ZELUserQuery::queryWithPlistSerialization(const ZELValue& plist,
                                                                        ZELDatabase& database,
                                                                        ZELError* outError) {
    if (!plist.isDictionary()) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                  ZELErrorCodeInvalidData, "ZELUserQuery plist should be dictionary."));
        return nullptr;
    }
    const ZELValue* array = plist.valueForKey("criteria", ZELValue::Kind::Array, outError);
    if (!array) return nullptr;
    CriteriaList criterias;
    // The stored form keeps each criteria's groups by their aspects, not which criteria shared
    // a group; tokens of one field that search the same aspects share its groups (and are
    // joined by OR where the aspects say so), so groups read back with the same aspects are
    // shared too. Otherwise a saved search would find less than the search it was saved from.
    std::map<std::vector<const ZELAspect*>, std::shared_ptr<ZELAspectTokenFieldGroup>> groups;
    for (const ZELValue& element : array->arrayValue()) {
        auto criteria = ZELUserCriteria::criteriaWithPlistSerialization(element, database, outError);
        if (!criteria) return nullptr;
        ZELUserCriteria::GroupList shared;
        for (const auto& group : criteria->chosenAspectGroups()) {
            if (!group) continue;
            std::vector<const ZELAspect*> key;
            for (const auto& aspect : group->aspects()) key.push_back(aspect.get());
            shared.push_back(groups.emplace(std::move(key), group).first->second);
        }
        criteria->setAspectGroups(shared);
        criterias.push_back(std::move(criteria));
    }
    auto query = std::make_shared<ZELUserQuery>();
    query->criterias_ = std::move(criterias);
    return query;
}

void ZELUserQuery::addUserCriterias(const CriteriaList& criterias) {
    criterias_.insert(criterias_.end(), criterias.begin(), criterias.end());
    plist_.reset();
}

void ZELUserQuery::addMatchValue(const ZELString& value,
                                 const std::vector<std::shared_ptr<ZELAspect>>& aspects) {
    if (value.empty() || aspects.empty()) return;
    auto criteria = std::make_shared<ZELUserCriteria>();
    criteria->setSearchTerms({value});
    criteria->setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects(aspects)});
    addUserCriterias({criteria});
}

void ZELUserQuery::addMatchValue(const ZELString& value, const std::shared_ptr<ZELAspect>& aspect) {
    if (aspect) addMatchValue(value, std::vector<std::shared_ptr<ZELAspect>>{aspect});
}

bool ZELUserQuery::hasMatchValue(const std::optional<ZELString>& value,
                                 const ZELAspect& aspect) const {
    for (const auto& criteria : criterias_) {
        bool searchesAspect = false;
        for (const auto& chosen : criteria->chosenAspects()) {
            if (chosen.get() == &aspect) searchesAspect = true;
        }
        if (!searchesAspect) continue;
        if (!value) return true;
        for (const ZELString& term : criteria->searchTerms()) {
            if (term == *value) return true;
        }
    }
    return false;
}

bool ZELUserQuery::isEqual(const ZELUserQuery& other) const {
    if (this == &other) return true;
    if (criterias_.size() != other.criterias_.size()) return false;
    std::vector<bool> paired(other.criterias_.size(), false);
    for (const auto& criteria : criterias_) {
        bool found = false;
        for (size_t i = 0; i < other.criterias_.size() && !found; ++i) {
            if (!paired[i] && criteria->isEqual(*other.criterias_[i])) paired[i] = found = true;
        }
        if (!found) return false;
    }
    return true;
}

const ZELValue& ZELUserQuery::plistSerialization() const {
    if (!plist_) {
        ZELValue::Array array;
        for (const auto& criteria : criterias_) {
            ZELValue element = criteria->plistSerialization();
            if (!element.isNone()) array.push_back(std::move(element));
        }
        ZELValue::Dictionary dictionary;
        dictionary[ZELUserQueryPlistKey_Criteria] = std::move(array);
        plist_ = ZELValue(std::move(dictionary));
    }
    return *plist_;
}

// Says what generatedQueryForDatabase does: criteria of one OR-group are joined by OR, in one
// operand written where the group's first criteria stands; operands are joined by AND.
ZELString ZELUserQuery::stringRepresentation() const {
    if (criterias_.empty()) return u"{Empty Query}";
    std::vector<std::vector<ZELString>> operands;
    std::map<const ZELAspectTokenFieldGroup*, size_t> operandOfGroup;
    for (const auto& criteria : criterias_) {
        ZELString title = criteria->displayTitle().plainText();
        if (const ZELAspectTokenFieldGroup* group = orGroupOfCriteria(*criteria)) {
            const auto [found, isNew] = operandOfGroup.emplace(group, operands.size());
            if (!isNew) {
                operands[found->second].push_back(std::move(title));
                continue;
            }
        }
        operands.push_back({std::move(title)});
    }
    if (operands.size() == 1 && operands.front().size() == 1) return operands.front().front();
    ZELString text;
    for (size_t i = 0; i < operands.size(); ++i) {
        const std::vector<ZELString>& titles = operands[i];
        ZELString joined = titles.size() == 1 ? titles.front() : ZELString();
        for (size_t j = 0; titles.size() > 1 && j < titles.size(); ++j) {
            if (j) joined += u" OR ";
            joined += parenthesizedIfSpaced(titles[j]);
        }
        if (i) text += u" AND ";
        text += operands.size() == 1 ? joined : parenthesizedIfSpaced(joined);
    }
    return text;
}

std::string ZELUserQuery::description() const {
    return descriptionHead() + ": " + ZELStringToUTF8(stringRepresentation());
}

// Each criteria matches the items carrying any of its terms in any chosen aspect; criteria are
// joined by AND, except that criteria whose terms fall only into OR-aspects of one and the same
// group (told apart by identity) are joined by OR with each other in the grouped map; terms of
// OR-aspects in a joined aspect set are matched as combinations, one term per aspect; negated
// criteria exclude, after everything else.
std::shared_ptr<ZELQuery> ZELUserQuery::generatedQueryForDatabase(ZELDatabase& database) const {
    if (criterias_.empty()) return nullptr;
    ZELQuery::QueryList conjunction;
    auto negatedIDs = ZELMutableIDVector::vector();
    ZELGroupedMatchIDMap groupedIDs;
    ZELJoinedAspectSetMatchMap joinedTerms;

    for (const auto& criteria : criterias_) {
        auto plainIDs = ZELMutableIDVector::vector();
        auto groupIDs = ZELMutableIDVector::vector();
        bool isSingleGroup = true;
        const ZELAspectTokenFieldGroup* currentGroup = nullptr;
        const bool negated = criteria->isNegate();

        for (const ZELString& value : criteria->aspectBitValues()) {
            const ZELString normalized = ZELNormalizedCaseInsensitiveComparisonString(value);
            for (const auto& group : criteria->chosenAspectGroups()) {
                if (!group) continue;
                for (const auto& aspect : group->aspects()) {
                    if (!aspect) continue;
                    const bool isOR =
                        aspect->defaultAspectBitBooleanOperation() == ZELBooleanOperationOR;
                    if (!negated && isOR) {
                        auto joinedSet =
                            database.joinedAspectSetForAspectWithIdentifier(aspect->aspectIdentifier());
                        if (joinedSet) {
                            joinedTerms.addNormalizedTerm(normalized, aspect, joinedSet.get());
                            continue;
                        }
                    }
                    const ZELID id = aspect->aspectBitIDForNormalizedValue(normalized, nullptr, nullptr);
                    if (id == ZELNoID) continue;
                    if (negated) {
                        negatedIDs->addID(id);
                        isSingleGroup = false;
                    } else if (!isOR) {
                        plainIDs->addID(id);
                        isSingleGroup = false;
                    } else {
                        if (currentGroup && currentGroup != group.get()) {
                            isSingleGroup = false;
                        } else {
                            currentGroup = group.get();
                        }
                        groupIDs->addID(id);
                    }
                }
            }
        }

        if (isSingleGroup && currentGroup) {
            groupedIDs.addMatchIDs(*groupIDs, currentGroup);
        } else {
            plainIDs->unionWithVector(*groupIDs);
        }
        if (plainIDs->count() != 0) {
            conjunction.push_back(ZELQuery::queryMatchingIDsInVector(*plainIDs, ZELBooleanOperationOR));
        }
    }

    for (auto& query : groupedIDs.queriesJoinedUsingOperator(ZELBooleanOperationOR)) {
        conjunction.push_back(std::move(query));
    }
    ZELQuery::QueryList combinations = joinedTerms.generatedQueries();
    if (!combinations.empty()) {
        conjunction.push_back(ZELQuery::queryCombiningQueries(combinations, ZELBooleanOperationOR));
    }
    if (negatedIDs->count() != 0) {
        conjunction.push_back(ZELQuery::queryNegatingQuery(
            ZELQuery::queryMatchingIDsInVector(*negatedIDs, ZELBooleanOperationOR)));
    }
    if (conjunction.empty()) return nullptr;
    return ZELQuery::queryCombiningQueries(conjunction, ZELBooleanOperationAND);
}
