#pragma once

#include "zel/query/ZELQuery.h"

// The query without criteria: matches no item. Made by ZELQuery::emptyQuery; immutable.
class ZELQuery_Empty : public ZELQuery {
public:
    ZELQuery_Empty() : ZELQuery(ZELBooleanOperationAND) {}

    std::string className() const override { return "ZELQuery_Empty"; }
    std::string descriptionImplementation(ZELDatabase* database,
                                          ZELQueryDescriptionType type) const override;
    bool hasAnyCriteria() const override { return false; }
    std::shared_ptr<ZELQuery> queryByFlatteningWithQuery(
        const std::shared_ptr<ZELQuery>& other) const override;
    std::shared_ptr<ZELQuery> queryByFilteringConstraints(const AspectList& aspects,
                                                          ZELDatabase& database,
                                                          bool keepInside) const override;
    std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(
        ZELDatabase& database, const ZELIDVector* constraint) const override;
    ZELValue plistSerializationImplementation(ZELDatabase* database) const override;
};
