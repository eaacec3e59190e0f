#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "zel/query/ZELQuery.h"

class ZELIDVector;
class ZELMutableIDVector;

// Gathers aspect bit IDs by a grouping object (compared by identity, not retained) while the
// user-query layer assembles a query, and yields one match query per group. Groups are walked
// in the order they were first added. Lives for one query assembly on one thread.
class ZELGroupedMatchIDMap {
public:
    // The first vector of a group is copied in; later ones are united into it.
    void addMatchIDs(const ZELIDVector& aspectBitIDs, const void* groupingObject);
    // One queryMatchingIDsInVector(group's IDs, operation) per group (the empty query for an
    // empty group).
    ZELQuery::QueryList queriesJoinedUsingOperator(ZELBooleanOperation operation) const;

private:
    std::vector<std::pair<const void*, std::shared_ptr<ZELMutableIDVector>>> groups_;
};
