#pragma once

#include "zel/query/ZELQuery.h"

// An inner node: the items matched by all (AND) or at least one (OR) of its children, which
// it shares with other trees; the list itself is its own copy. Made by the ZELQuery
// factories; immutable.
class ZELQuery_SubQueries : public ZELQuery {
public:
    ZELQuery_SubQueries(QueryList subqueries, ZELBooleanOperation operation);

    std::string className() const override { return "ZELQuery_SubQueries"; }
    bool isEqualToNonEmptyQuery(const ZELQuery& other) const override;
    std::string descriptionImplementation(ZELDatabase* database,
                                          ZELQueryDescriptionType type) const override;
    bool hasAnyCriteria() const override;
    const QueryList* subqueries() const override { return &subqueries_; }
    std::shared_ptr<ZELQuery> queryByFlatteningWithQuery(
        const std::shared_ptr<ZELQuery>& other) const override;
    std::shared_ptr<ZELQuery> queryByFilteringConstraints(const AspectList& aspects,
                                                          ZELDatabase& database,
                                                          bool keepInside) const override;
    // AND hands every child after the first the running intersection as its constraint and
    // stops at the first empty one.
    std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(
        ZELDatabase& database, const ZELIDVector* constraint) const override;
    std::optional<ZELValue::Array> plistSerializationOperands(ZELDatabase* database) const override;

private:
    const QueryList subqueries_;
};
