#include "zel/userquery/ZELUserCriteria.h"

#include <algorithm>
#include <set>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELError.h"

const char16_t* const ZELUserCriteriaPlistKey_SearchTerms = u"SearchTerms";
const char16_t* const ZELUserCriteriaPlistKey_AspectIdentifiers = u"AspectIdentifiers";
const char16_t* const ZELUserCriteriaPlistKey_BooleanOperation = u"BooleanOperation";
const char16_t* const ZELUserCriteriaPlistKey_IsNegated = u"IsNegated";
const char16_t* const ZELUserCriteriaPlistKey_AspectGroups = u"AspectGroups";

namespace {

using Style = ZELStyledTitle::Style;

// The groups under "AspectGroups": one group per array of identifiers. None when the key is
// absent or anything in it is not an identifier of an aspect of the database; the criteria is
// then read by "AspectIdentifiers" alone.
std::optional<ZELUserCriteria::GroupList> groupsFromPlist(const ZELValue& plist,
                                                          ZELDatabase& database) {
    const ZELValue* stored = plist.valueForKey(std::u16string_view(ZELUserCriteriaPlistKey_AspectGroups));
    if (!stored || !stored->isArray() || stored->arrayValue().empty()) return std::nullopt;
    ZELUserCriteria::GroupList groups;
    for (const ZELValue& identifiers : stored->arrayValue()) {
        if (!identifiers.isArray() || identifiers.arrayValue().empty()) return std::nullopt;
        ZELUserCriteria::AspectList aspects;
        for (const ZELValue& identifier : identifiers.arrayValue()) {
            auto aspect = identifier.isString() ? database.aspectWithIdentifier(identifier.stringValue())
                                                : nullptr;
            if (!aspect) return std::nullopt;
            aspects.push_back(std::move(aspect));
        }
        groups.push_back(ZELAspectTokenFieldGroup::groupWithAspects(std::move(aspects)));
    }
    return groups;
}

}  // namespace

std::shared_ptr<ZELUserCriteria> ZELUserCriteria::criteriaWithPlistSerialization(
    const ZELValue& plist, ZELDatabase& database, ZELError* outError) {
    auto criteria = std::make_shared<ZELUserCriteria>();
    if (!criteria->setPlistRepresentation(plist, database, outError)) return nullptr;
    return criteria;
}

void ZELUserCriteria::setSearchTerms(std::vector<ZELString> terms,
                                     std::optional<std::vector<ZELString>> displayStrings) {
    searchTerms_ = std::move(terms);
    displayTerms_ = std::move(displayStrings);
    aspectBitValues_.reset();
}

void ZELUserCriteria::setAspectGroups(const GroupList& groups) {
    allGroups_ = groups;
    possibleGroups_ = groups;
    chosenGroups_ = groups;
}

ZELUserCriteria::AspectList ZELUserCriteria::chosenAspects() const {
    return ZELAspectTokenFieldGroup::aspectsInGroups(chosenGroups_);
}

std::shared_ptr<ZELSynonymList> ZELUserCriteria::synonymList() const {
    if (allGroups_.empty() || !allGroups_.front() || allGroups_.front()->aspects().empty()) {
        return nullptr;
    }
    const auto& aspect = allGroups_.front()->aspects().front();
    ZELDatabase* database = aspect ? aspect->database() : nullptr;
    return database ? database->synonymList() : nullptr;
}

const std::vector<ZELString>& ZELUserCriteria::aspectBitValues() const {
    if (!aspectBitValues_) {
        const auto synonyms = synonymList();
        std::vector<ZELString> values;
        for (const ZELString& term : searchTerms_) {
            std::optional<std::vector<ZELString>> expansion;
            if (synonyms) expansion = synonyms->aspectBitValuesForSynonym(term);
            if (expansion) {
                values.insert(values.end(), expansion->begin(), expansion->end());
            } else {
                values.push_back(term);
            }
        }
        aspectBitValues_ = std::move(values);
    }
    return *aspectBitValues_;
}

ZELStyledTitle ZELUserCriteria::displayTitleWithTransitory(bool transitory) const {
    const std::vector<ZELString>& terms = displayTerms_ ? *displayTerms_ : searchTerms_;
    ZELStyledTitle title;

    // The group prefix says where the token searches when that is not simply everywhere.
    bool showsPrefix = chosenGroups_.size() < possibleGroups_.size();
    for (const auto& group : chosenGroups_) {
        if (!group) continue;
        for (const auto& aspect : group->aspects()) {
            if (aspect && aspect->isShowBitValueLabel()) showsPrefix = true;
        }
    }
    if (showsPrefix) {
        if (chosenGroups_.empty()) {
            title.append(u"Disabled: ", Style::Operator);
        } else {
            ZELString labels;
            for (size_t i = 0; i < chosenGroups_.size(); ++i) {
                if (i) labels += u"/";
                const auto& group = chosenGroups_[i];
                labels += group && group->label() ? *group->label() : ZELString(u"?");
            }
            title.append(labels + u": ", Style::Term);
        }
    }

    for (size_t i = 0; i < terms.size(); ++i) {
        if (i) title.append(u" OR ", Style::Operator);
        title.append(terms[i], Style::Term);
    }
    if (transitory) title.append(u" OR ", Style::Operator);

    if (isNegate_) {
        const bool parenthesized = terms.size() >= 2;
        title.prepend(u" ", Style::Term);
        title.prepend(parenthesized ? u"NOT(" : u"NOT", Style::Operator);
        if (parenthesized) {
            title.append(u" ", Style::Term);
            title.append(u")", Style::Operator);
        }
    }
    return title;
}

bool ZELUserCriteria::isEqual(const ZELUserCriteria& other) const {
    if (this == &other) return true;
    if (searchTerms_ != other.searchTerms_ || isNegate_ != other.isNegate_) return false;
    auto aspectSet = [](const AspectList& aspects) {
        std::set<const ZELAspect*> set;
        for (const auto& aspect : aspects) set.insert(aspect.get());
        return set;
    };
    return aspectSet(chosenAspects()) == aspectSet(other.chosenAspects());
}

std::shared_ptr<ZELUserCriteria> ZELUserCriteria::copy() const {
    auto criteria = std::make_shared<ZELUserCriteria>();
    criteria->setSearchTerms(searchTerms_, displayTerms_);
    criteria->isNegate_ = isNegate_;
    criteria->allGroups_ = allGroups_;
    criteria->possibleGroups_ = possibleGroups_;
    criteria->chosenGroups_ = chosenGroups_;
    return criteria;
}

std::string ZELUserCriteria::description() const {
    return descriptionHead() + " \"" + ZELStringToUTF8(displayTitle().plainText()) + "\"";
}

bool ZELUserCriteria::setPlistRepresentation(const ZELValue& plist, ZELDatabase& database,
                                             ZELError* outError) {
    if (!plist.isDictionary()) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeInvalidData,
                                         "ZELUserCriteria plist should be a dictionary."));
    }
    const ZELValue* terms = plist.valueForKey("SearchTerms", ZELValue::Kind::Array, outError);
    if (!terms) return false;
    const ZELValue* identifiers =
        plist.valueForKey("AspectIdentifiers", ZELValue::Kind::Array, outError);
    if (!identifiers) return false;

    AspectList aspects;
    for (const ZELValue& identifier : identifiers->arrayValue()) {
        auto aspect = identifier.isString() ? database.aspectWithIdentifier(identifier.stringValue())
                                            : nullptr;
        if (!aspect) {
            return ZELSetError(
                outError,
                ZELError::errorWithZELErrorCode(
                    ZELErrorCodeInvalidData,
                    ZELStringWithFormat(
                        "The aspect \"%s\" is unknown, and cannot be used for search criteria.",
                        identifier.isString() ? identifier.utf8Value().c_str() : "(not a string)")));
        }
        aspects.push_back(std::move(aspect));
    }

    // Terms that are not strings cannot be searched; they are left out rather than read as "".
    std::vector<ZELString> searchTerms;
    for (const ZELValue& term : terms->arrayValue()) {
        if (term.isString()) searchTerms.push_back(term.stringValue());
    }
    setSearchTerms(std::move(searchTerms));
    if (auto groups = groupsFromPlist(plist, database)) {
        setAspectGroups(*groups);
    } else {
        setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects(std::move(aspects))});
    }
    const ZELValue* negated = plist.valueForKey(ZELUserCriteriaPlistKey_IsNegated);
    isNegate_ = negated && negated->booleanValue();
    return true;
}

ZELValue ZELUserCriteria::plistSerialization() const {
    std::set<ZELString> identifiers;
    for (const auto& aspect : chosenAspects()) identifiers.insert(aspect->aspectIdentifier());
    ZELValue::Array identifierArray(identifiers.begin(), identifiers.end());
    ZELValue::Array termArray(searchTerms_.begin(), searchTerms_.end());
    ZELValue::Array groupArray;
    for (const auto& group : chosenGroups_) {
        if (!group || group->aspects().empty()) continue;
        ZELValue::Array groupIdentifiers;
        for (const auto& aspect : group->aspects()) groupIdentifiers.push_back(aspect->aspectIdentifier());
        groupArray.push_back(std::move(groupIdentifiers));
    }
    ZELValue::Dictionary dictionary;
    dictionary[ZELUserCriteriaPlistKey_AspectGroups] = std::move(groupArray);
    dictionary[ZELUserCriteriaPlistKey_SearchTerms] = std::move(termArray);
    dictionary[ZELUserCriteriaPlistKey_AspectIdentifiers] = std::move(identifierArray);
    dictionary[ZELUserCriteriaPlistKey_BooleanOperation] = ZELValue(u"OR");
    dictionary[ZELUserCriteriaPlistKey_IsNegated] = isNegate_;
    return dictionary;
}
