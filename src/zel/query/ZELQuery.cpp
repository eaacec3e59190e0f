#include "zel/query/ZELQuery.h"

#include <unicode/uchar.h>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/query/ZELQuery+Private.h"
#include "zel/query/ZELQuery_Empty.h"
#include "zel/query/ZELQuery_MatchIDs.h"
#include "zel/query/ZELQuery_Negation.h"
#include "zel/query/ZELQuery_SubQueries.h"

// ---- Factories ----

std::shared_ptr<ZELQuery> ZELQuery::emptyQuery() { return std::make_shared<ZELQuery_Empty>(); }

std::shared_ptr<ZELQuery> ZELQuery::queryMatchingID(ZELID aspectBitID) {
    if (aspectBitID == 0) return emptyQuery();
    auto vector = ZELIDVector::vectorWithID(aspectBitID);
    return queryMatchingIDsInVector(vector.get(), ZELBooleanOperationAND);
}

std::shared_ptr<ZELQuery> ZELQuery::queryMatchingIDsInVector(const ZELIDVector* vector,
                                                             ZELBooleanOperation operation) {
    if (!vector || vector->isEmpty()) return emptyQuery();
    // copy() of an immutable vector answers the vector itself, so the node shares it safely;
    // a mutable one is copied into an immutable vector.
    auto own = vector->copy();
    if (!own) return emptyQuery();
    return std::make_shared<ZELQuery_MatchIDs>(std::move(own), operation);
}

std::shared_ptr<ZELQuery> ZELQuery::queryCombiningQueries(const QueryList& queries,
                                                          ZELBooleanOperation operation) {
    if (queries.empty()) return emptyQuery();
    if (queries.size() == 1) return queries.front();

    bool allMergeable = true;
    uint64_t totalCount = 0;
    for (const auto& query : queries) {
        auto ids = query ? query->aspectBitIDs() : nullptr;
        if (!ids || (query->booleanOperation() != operation && ids->count() != 1)) {
            allMergeable = false;
            break;
        }
        totalCount += ids->count();
    }
    if (allMergeable) {
        auto merged = ZELMutableIDVector::vectorWithCapacity(
            static_cast<uint32_t>(std::min<uint64_t>(totalCount, UINT32_MAX)));
        if (merged) {
            for (const auto& query : queries) merged->unionWithVector(*query->aspectBitIDs());
            return queryMatchingIDsInVector(merged.get(), operation);
        }
    }
    return std::make_shared<ZELQuery_SubQueries>(queries, operation);
}

std::shared_ptr<ZELQuery> ZELQuery::queryNegatingQuery(std::shared_ptr<ZELQuery> query) {
    return std::make_shared<ZELQuery_Negation>(query ? std::move(query) : emptyQuery());
}

std::shared_ptr<ZELQuery> ZELQuery::queryMatchingValue(const ZELString& value,
                                                       const ZELString& aspectIdentifier,
                                                       ZELDatabase& database) {
    return database.accessLockedUsing([&]() -> std::shared_ptr<ZELQuery> {
        auto aspect = database.aspectWithIdentifier(aspectIdentifier);
        if (!aspect) return emptyQuery();
        return queryMatchingID(aspect->aspectBitIDForValue(value, false));
    });
}

// ---- Common operations ----

std::shared_ptr<ZELQuery> ZELQuery::selfQuery() const {
    return std::const_pointer_cast<ZELQuery>(sharedFromThisAs<ZELQuery>());
}

// Follows isEqual: every query without criteria equals every other, so they all hash alike.
uint64_t ZELQuery::hash() const {
    if (!hasAnyCriteria()) return 0;
    const QueryList* children = subqueries();
    return children ? children->size() : 0;
}

bool ZELQuery::isEqual(const ZELObject& other) const {
    if (&other == this) return true;
    const auto* query = dynamic_cast<const ZELQuery*>(&other);
    if (!query) return false;
    if (hasAnyCriteria()) return isEqualToNonEmptyQuery(*query);
    return !query->hasAnyCriteria();
}

std::string ZELQuery::description() const {
    return descriptionWithDatabase(nullptr, ZELQueryDescriptionTypeDebug);
}

std::string ZELQuery::descriptionWithDatabase(ZELDatabase* database,
                                              ZELQueryDescriptionType type) const {
    if (type == ZELQueryDescriptionTypeUser) return descriptionImplementation(database, type);
    if (type == ZELQueryDescriptionTypeBrief) return descriptionHead();
    return descriptionHead() + ": \n" + descriptionImplementation(database, type);
}

// ---- Base behaviour of the overridable operations ----

bool ZELQuery::isEqualToNonEmptyQuery(const ZELQuery&) const { return false; }

std::string ZELQuery::descriptionImplementation(ZELDatabase*, ZELQueryDescriptionType) const {
    return "";
}

bool ZELQuery::hasAnyCriteria() const { return false; }

const ZELQuery::QueryList* ZELQuery::subqueries() const { return nullptr; }

std::shared_ptr<ZELIDVector> ZELQuery::aspectBitIDs() const { return nullptr; }

std::shared_ptr<ZELQuery> ZELQuery::queryByFlatteningWithQuery(
    const std::shared_ptr<ZELQuery>&) const {
    return nullptr;
}

std::shared_ptr<ZELQuery> ZELQuery::queryByFilteringConstraints(const AspectList&, ZELDatabase&,
                                                                bool) const {
    return nullptr;
}

std::shared_ptr<ZELIDVector> ZELQuery::calculateMatchingItemIDVector(ZELDatabase&,
                                                                     const ZELIDVector*) const {
    return nullptr;
}

std::optional<ZELValue::Array> ZELQuery::plistSerializationOperands(ZELDatabase*) const {
    return std::nullopt;
}

// ---- Character tests ----

namespace {

// Calls `test` with each code point of UTF-8 text until it answers true.
template <typename Test>
bool anyCodePoint(std::string_view utf8, Test test) {
    const ZELString text = ZELStringFromUTF8(utf8);
    for (size_t index = 0; index < text.size();) {
        UChar32 c = text[index++];
        if (U16_IS_LEAD(c) && index < text.size() && U16_IS_TRAIL(text[index])) {
            c = U16_GET_SUPPLEMENTARY(c, text[index++]);
        }
        if (test(c)) return true;
    }
    return false;
}

bool isNewline(UChar32 c) {
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

}  // namespace

bool ZELQueryTextContainsSpaceSeparator(std::u16string_view text) {
    // Every space separator lies in the Basic Multilingual Plane, so code units suffice.
    for (char16_t c : text) {
        if (c == u'\t' || u_charType(c) == U_SPACE_SEPARATOR) return true;
    }
    return false;
}

bool ZELQueryTextContainsWhitespaceOrNewline(std::string_view utf8) {
    return anyCodePoint(utf8, [](UChar32 c) { return u_isUWhiteSpace(c) != 0 || isNewline(c); });
}

bool ZELQueryTextContainsNewline(std::string_view utf8) { return anyCodePoint(utf8, isNewline); }
