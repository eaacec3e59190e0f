#pragma once

#include <memory>

#include "zel/query/ZELQuery.h"

// An inner node: the items not matched by its one child, counted within the constraint
// handed down by its parent, or within all existing items when there is none. Its operation
// is NOT. Made by ZELQuery::queryNegatingQuery; immutable.
class ZELQuery_Negation : public ZELQuery {
public:
    explicit ZELQuery_Negation(std::shared_ptr<ZELQuery> subquery);

    std::string className() const override { return "ZELQuery_Negation"; }
    const std::shared_ptr<ZELQuery>& subquery() const { return children_.front(); }

    bool isEqualToNonEmptyQuery(const ZELQuery& other) const override;
    std::string descriptionImplementation(ZELDatabase* database,
                                          ZELQueryDescriptionType type) const override;
    bool hasAnyCriteria() const override;
    const QueryList* subqueries() const override { return &children_; }
    std::shared_ptr<ZELQuery> queryByFilteringConstraints(const AspectList& aspects,
                                                          ZELDatabase& database,
                                                          bool keepInside) const override;
    std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(
        ZELDatabase& database, const ZELIDVector* constraint) const override;
    std::optional<ZELValue::Array> plistSerializationOperands(ZELDatabase* database) const override;

private:
    const QueryList children_;  // the one child
};
