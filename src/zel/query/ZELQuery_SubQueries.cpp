#include "zel/query/ZELQuery_SubQueries.h"

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"

ZELQuery_SubQueries::ZELQuery_SubQueries(QueryList subqueries, ZELBooleanOperation operation)
    : ZELQuery(operation), subqueries_(std::move(subqueries)) {}

bool ZELQuery_SubQueries::isEqualToNonEmptyQuery(const ZELQuery& other) const {
    const auto* node = dynamic_cast<const ZELQuery_SubQueries*>(&other);
    if (!node || node->subqueries_.size() != subqueries_.size()) return false;
    for (size_t index = 0; index < subqueries_.size(); ++index) {
        if (!subqueries_[index]->isEqual(node->subqueries_[index])) return false;
    }
    return true;
}

bool ZELQuery_SubQueries::hasAnyCriteria() const {
    for (const auto& child : subqueries_) {
        if (child->hasAnyCriteria()) return true;
    }
    return false;
}

std::string ZELQuery_SubQueries::descriptionImplementation(ZELDatabase* database,
                                                           ZELQueryDescriptionType type) const {
    const char* word = booleanOperation() == ZELBooleanOperationAND ? "AND" : "OR";
    const std::string separator = type == ZELQueryDescriptionTypeDebug
                                      ? ZELStringWithFormat("\n    %s \n", word)
                                      : ZELStringWithFormat(" %s ", word);
    std::string result;
    for (size_t index = 0; index < subqueries_.size(); ++index) {
        if (index > 0) result += separator;
        result += "(" + subqueries_[index]->descriptionImplementation(database, type) + ")";
    }
    return result;
}

std::shared_ptr<ZELQuery> ZELQuery_SubQueries::queryByFlatteningWithQuery(
    const std::shared_ptr<ZELQuery>& other) const {
    const auto* node = dynamic_cast<const ZELQuery_SubQueries*>(other.get());
    if (!node) return nullptr;
    QueryList joined = subqueries_;
    joined.insert(joined.end(), node->subqueries_.begin(), node->subqueries_.end());
    return queryCombiningQueries(joined, booleanOperation());
}

std::shared_ptr<ZELQuery> ZELQuery_SubQueries::queryByFilteringConstraints(
    const AspectList& aspects, ZELDatabase& database, bool keepInside) const {
    QueryList remaining;
    bool changed = false;
    for (const auto& child : subqueries_) {
        auto result = child->queryByFilteringConstraints(aspects, database, keepInside);
        if (!result || !result->hasAnyCriteria()) {
            changed = true;
            continue;
        }
        if (!result->isEqual(child)) changed = true;
        remaining.push_back(std::move(result));
    }
    if (!changed) return selfQuery();
    if (remaining.empty()) return emptyQuery();
    // Built directly: a single remaining child stays wrapped.
    return std::make_shared<ZELQuery_SubQueries>(std::move(remaining), booleanOperation());
}

std::shared_ptr<ZELIDVector> ZELQuery_SubQueries::calculateMatchingItemIDVector(
    ZELDatabase& database, const ZELIDVector* constraint) const {
    const bool isAND = booleanOperation() == ZELBooleanOperationAND;
    std::shared_ptr<ZELMutableIDVector> accumulator;
    for (const auto& child : subqueries_) {
        const ZELIDVector* childConstraint = (isAND && accumulator) ? accumulator.get() : constraint;
        // A child that cannot be evaluated counts as matching nothing.
        auto result = child->calculateMatchingItemIDVector(database, childConstraint);
        if (!accumulator) {
            accumulator = result ? result->mutableCopy() : ZELMutableIDVector::vector();
            if (!accumulator) return ZELIDVector::vector();
        } else if (isAND) {
            if (result) {
                accumulator->intersectWithVector(*result);
            } else {
                accumulator = ZELMutableIDVector::vector();
            }
        } else if (result) {
            accumulator->unionWithVector(*result);
        }
        if (isAND && accumulator->isEmpty()) break;
    }
    if (!accumulator) return ZELIDVector::vector();
    return accumulator;
}

std::optional<ZELValue::Array> ZELQuery_SubQueries::plistSerializationOperands(
    ZELDatabase* database) const {
    ZELValue::Array operands;
    for (const auto& child : subqueries_) {
        ZELValue value = child->plistSerializationImplementation(database);
        if (!value.isNone()) operands.push_back(std::move(value));
    }
    return operands;
}
