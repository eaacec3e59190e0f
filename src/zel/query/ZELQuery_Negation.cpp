#include "zel/query/ZELQuery_Negation.h"

#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/query/ZELQuery+Private.h"

ZELQuery_Negation::ZELQuery_Negation(std::shared_ptr<ZELQuery> subquery)
    : ZELQuery(ZELBooleanOperationNOT), children_{std::move(subquery)} {}

bool ZELQuery_Negation::isEqualToNonEmptyQuery(const ZELQuery& other) const {
    const auto* negation = dynamic_cast<const ZELQuery_Negation*>(&other);
    return negation && subquery()->isEqual(negation->subquery());
}

bool ZELQuery_Negation::hasAnyCriteria() const { return subquery()->hasAnyCriteria(); }

std::string ZELQuery_Negation::descriptionImplementation(ZELDatabase* database,
                                                         ZELQueryDescriptionType type) const {
    const std::string child = subquery()->descriptionImplementation(database, type);
    if (type == ZELQueryDescriptionTypeUser) {
        return ZELQueryTextContainsWhitespaceOrNewline(child) ? "(NOT (" + child + "))"
                                                              : "(NOT " + child + ")";
    }
    return ZELQueryTextContainsNewline(child) ? "(NOT:(\n" + child + "\n))" : "(NOT (" + child + "))";
}

std::shared_ptr<ZELQuery> ZELQuery_Negation::queryByFilteringConstraints(
    const AspectList& aspects, ZELDatabase& database, bool keepInside) const {
    auto result = subquery()->queryByFilteringConstraints(aspects, database, keepInside);
    // Without constraints below it the negation goes too: it must not turn into "all items".
    if (!result || !result->hasAnyCriteria()) return emptyQuery();
    if (result->isEqual(subquery())) return selfQuery();
    return queryNegatingQuery(std::move(result));
}

std::shared_ptr<ZELIDVector> ZELQuery_Negation::calculateMatchingItemIDVector(
    ZELDatabase& database, const ZELIDVector* constraint) const {
    auto matched = subquery()->calculateMatchingItemIDVector(database, constraint);
    std::shared_ptr<ZELIDVector> universe;
    if (!constraint) {
        universe = database.allExistingItemIDs();
        if (!universe) universe = ZELIDVector::vector();
        constraint = universe.get();
    }
    if (!matched) return constraint->mutableCopy();
    return constraint->vectorBySubtracting(*matched);
}

std::optional<ZELValue::Array> ZELQuery_Negation::plistSerializationOperands(
    ZELDatabase* database) const {
    ZELValue value = subquery()->plistSerializationImplementation(database);
    if (value.isNone()) return std::nullopt;
    return ZELValue::Array{std::move(value)};
}
