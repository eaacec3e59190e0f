#include <utility>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/query/ZELQuery_Negation.h"

std::shared_ptr<ZELItemResultSet> ZELQuery::resultSetInDatabase(
    const std::shared_ptr<ZELDatabase>& database) const {
    auto matched = database->accessLockedUsing(
        [&] { return calculateMatchingItemIDVector(*database, nullptr); });
    if (!matched) matched = ZELIDVector::vector();
    // Made after the lock is released: the set needs nothing from the index.
    return ZELItemResultSet::resultSetWithItemIDs(*matched, database);
}

std::shared_ptr<ZELQuery> ZELQuery::queryByOptimizingOperations() const {
    const QueryList* children = subqueries();
    if (!children) return selfQuery();

    if (const auto* negation = dynamic_cast<const ZELQuery_Negation*>(this)) {
        auto optimized = negation->subquery()->queryByOptimizingOperations();
        if (optimized == negation->subquery()) return selfQuery();
        return queryNegatingQuery(std::move(optimized));
    }

    const ZELBooleanOperation operation = booleanOperation();
    bool changed = false;
    QueryList list;
    list.reserve(children->size());
    for (const auto& child : *children) {
        auto optimized = child->queryByOptimizingOperations();
        if (optimized != child) changed = true;
        list.push_back(std::move(optimized));
    }

    // Merge every child of this node's operation with the first later one it can flatten
    // with, then look at the merged node again.
    for (size_t i = 0; i < list.size();) {
        bool merged = false;
        if (list[i]->booleanOperation() == operation) {
            for (size_t j = i + 1; j < list.size(); ++j) {
                if (list[j]->booleanOperation() != operation) continue;
                auto flattened = list[i]->queryByFlatteningWithQuery(list[j]);
                if (!flattened) continue;
                list[i] = std::move(flattened);
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(j));
                changed = true;
                merged = true;
                break;
            }
        }
        if (!merged) ++i;
    }

    // Negations go last, so that under AND they subtract from the smallest running set.
    size_t end = list.size();
    for (size_t i = 0; i < end;) {
        if (list[i]->booleanOperation() == ZELBooleanOperationNOT && i != end - 1) {
            std::swap(list[i], list[end - 1]);
            --end;
            changed = true;
        } else {
            ++i;
        }
    }

    if (list.size() == 1) return list.front();
    if (changed) return queryCombiningQueries(list, operation);
    return selfQuery();
}

std::shared_ptr<ZELQuery> ZELQuery::queryByFilteringConstraintsLocked(const AspectList& aspects,
                                                                 bool keepInside) const {
    // Restricting to no aspects restricts nothing.
    ZELDatabase* database = (aspects.empty() || !aspects.front()) ? nullptr
                                                                  : aspects.front()->database();
    if (!database) return selfQuery();
    return database->accessLockedUsing([&] {
        auto result = queryByFilteringConstraints(aspects, *database, keepInside);
        return result ? result : selfQuery();
    });
}

std::shared_ptr<ZELQuery> ZELQuery::queryByRestrictingConstraintsToAspects(
    const AspectList& aspects) const {
    return queryByFilteringConstraintsLocked(aspects, true);
}

std::shared_ptr<ZELQuery> ZELQuery::queryByRemovingConstraintsForAspects(
    const AspectList& aspects) const {
    return queryByFilteringConstraintsLocked(aspects, false);
}

std::shared_ptr<ZELQuery> ZELQuery::queryByRestrictingConstraintsToAspects(
    const AspectList& aspects, ZELDatabase& database) const {
    auto result = queryByFilteringConstraints(aspects, database, true);
    return result ? result : selfQuery();
}

std::shared_ptr<ZELQuery> ZELQuery::queryByRemovingConstraintsForAspects(
    const AspectList& aspects, ZELDatabase& database) const {
    auto result = queryByFilteringConstraints(aspects, database, false);
    return result ? result : selfQuery();
}
