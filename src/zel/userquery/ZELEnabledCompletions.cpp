#include "zel/userquery/ZELEnabledCompletions.h"

#include <algorithm>
#include <set>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELStringComparison.h"

namespace {

bool hasCriteria(const std::shared_ptr<ZELQuery>& query) {
    return query && !query->isEqual(ZELQuery::emptyQuery());
}

}  // namespace

ZELEnabledCompletions::CompletionSet ZELEnabledCompletions::collectEnabledCompletions(
    const CompletionSet& completions, const ZELIDVector* viableAspectBitIDs, const AspectList& aspects) {
    CompletionSet enabled;
    for (const ZELString& completion : completions) {
        const ZELString normalized = ZELNormalizedCaseInsensitiveComparisonString(completion);
        for (const auto& aspect : aspects) {
            uint64_t useCount = 0;
            const ZELID id = aspect->aspectBitIDForNormalizedValue(normalized, nullptr, &useCount);
            if (id != 0 && useCount != 0 && (!viableAspectBitIDs || viableAspectBitIDs->containsID(id))) {
                enabled.insert(completion);
                break;
            }
        }
    }
    return enabled;
}

std::optional<ZELEnabledCompletions::CompletionSet> ZELEnabledCompletions::enabledCompletions(
    const CompletionSet& completions, const AspectList& aspects, const std::shared_ptr<ZELQuery>& activeQuery,
    const std::shared_ptr<ZELItemResultSet>& activeResultSet, bool validationRequired) {
    if (aspects.empty()) return std::nullopt;
    ZELDatabase* database = aspects.front()->database();
    std::shared_ptr<ZELIDVector> viable = activeResultSet ? activeResultSet->viableAspectBitIDs() : nullptr;
    if (!viable && !validationRequired) return std::nullopt;

    CompletionSet enabled;
    if (viable && activeQuery && database) {
        const auto shared = std::static_pointer_cast<ZELDatabase>(database->shared_from_this());
        const auto reduced = activeQuery->queryByRemovingConstraintsForAspects(aspects);
        // Aspects in a joined set are tested against the query without the other joined sets'
        // constraints as well; the rest against the reduced query.
        std::vector<std::shared_ptr<ZELJoinedAspectSet>> joinedSets;
        AspectList plainAspects;
        for (const auto& aspect : aspects) {
            auto joined = database->joinedAspectSetForAspectWithIdentifier(aspect->aspectIdentifier());
            if (!joined) {
                plainAspects.push_back(aspect);
            } else if (std::find(joinedSets.begin(), joinedSets.end(), joined) == joinedSets.end()) {
                joinedSets.push_back(joined);
            }
        }
        const auto viableOf = [&](const std::shared_ptr<ZELQuery>& query) -> std::shared_ptr<ZELIDVector> {
            if (!hasCriteria(query)) return nullptr;
            if (query == activeQuery) return viable;
            return query->resultSetInDatabase(shared)->viableAspectBitIDs();
        };
        if (!plainAspects.empty()) {
            const auto ids = viableOf(reduced);
            if (!hasCriteria(reduced) || ids) enabled.merge(collectEnabledCompletions(completions, ids.get(), plainAspects));
        }
        for (const auto& joined : joinedSets) {
            AspectList members;
            for (const auto& aspect : aspects) {
                if (joined->aspectIdentifiers().count(aspect->aspectIdentifier())) members.push_back(aspect);
            }
            AspectList others;
            for (const auto& other : joinedSets) {
                if (other == joined) continue;
                for (const ZELString& identifier : other->aspectIdentifiers()) {
                    if (auto aspect = database->aspectWithIdentifier(identifier)) others.push_back(aspect);
                }
            }
            const auto query = others.empty() ? reduced : reduced->queryByRemovingConstraintsForAspects(others);
            const auto ids = viableOf(query);
            if (!hasCriteria(query) || ids) enabled.merge(collectEnabledCompletions(completions, ids.get(), members));
        }
    } else {
        enabled = collectEnabledCompletions(completions, viable.get(), aspects);
    }
    if (enabled.size() == completions.size()) return std::nullopt;
    return enabled;
}
