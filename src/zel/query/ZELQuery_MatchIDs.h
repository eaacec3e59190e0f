#pragma once

#include <memory>

#include "zel/query/ZELQuery.h"

// A leaf: the items that carry all (AND) or at least one (OR) of its aspect bit IDs. Holds its
// own immutable copy of the IDs; made by the ZELQuery factories; immutable.
class ZELQuery_MatchIDs : public ZELQuery {
public:
    // Requires: `aspectBitIDs` is immutable and not empty (the factories see to it).
    ZELQuery_MatchIDs(std::shared_ptr<ZELIDVector> aspectBitIDs, ZELBooleanOperation operation);

    std::string className() const override { return "ZELQuery_MatchIDs"; }
    bool isEqualToNonEmptyQuery(const ZELQuery& other) const override;
    std::string descriptionImplementation(ZELDatabase* database,
                                          ZELQueryDescriptionType type) const override;
    bool hasAnyCriteria() const override;
    std::shared_ptr<ZELIDVector> aspectBitIDs() const override { return ids_; }
    std::shared_ptr<ZELQuery> queryByFlatteningWithQuery(
        const std::shared_ptr<ZELQuery>& other) const override;
    std::shared_ptr<ZELQuery> queryByFilteringConstraints(const AspectList& aspects,
                                                          ZELDatabase& database,
                                                          bool keepInside) const override;
    std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(
        ZELDatabase& database, const ZELIDVector* constraint) const override;
    std::optional<ZELValue::Array> plistSerializationOperands(ZELDatabase* database) const override;

private:
    const std::shared_ptr<ZELIDVector> ids_;
};
