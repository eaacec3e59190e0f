#include "zel/query/ZELGroupedMatchIDMap.h"

#include <algorithm>

#include "zel/idvector/ZELMutableIDVector.h"

void ZELGroupedMatchIDMap::addMatchIDs(const ZELIDVector& aspectBitIDs, const void* groupingObject) {
    auto group = std::find_if(groups_.begin(), groups_.end(),
                              [&](const auto& pair) { return pair.first == groupingObject; });
    if (group != groups_.end()) {
        group->second->unionWithVector(aspectBitIDs);
        return;
    }
    auto copy = aspectBitIDs.mutableCopy();
    groups_.emplace_back(groupingObject, copy ? std::move(copy) : ZELMutableIDVector::vector());
}

ZELQuery::QueryList ZELGroupedMatchIDMap::queriesJoinedUsingOperator(
    ZELBooleanOperation operation) const {
    ZELQuery::QueryList queries;
    queries.reserve(groups_.size());
    for (const auto& [key, ids] : groups_) {
        queries.push_back(ZELQuery::queryMatchingIDsInVector(ids.get(), operation));
    }
    return queries;
}
