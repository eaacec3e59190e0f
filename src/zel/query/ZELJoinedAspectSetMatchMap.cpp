#include "zel/query/ZELJoinedAspectSetMatchMap.h"

#include <algorithm>

#include "zel/database/ZELAspect.h"
#include "zel/idvector/ZELIDVector.h"

void ZELJoinedAspectSetMatchMap::addNormalizedTerm(const ZELString& normalizedTerm,
                                                   const std::shared_ptr<ZELAspect>& aspect,
                                                   const ZELJoinedAspectSet* joinedAspectSet) {
    if (!aspect) return;
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const JoinedSetEntry& e) {
        return e.joinedAspectSet == joinedAspectSet;
    });
    if (entry == entries_.end()) {
        entries_.push_back({joinedAspectSet, {}});
        entry = entries_.end() - 1;
    }
    auto group = std::find_if(entry->groups.begin(), entry->groups.end(),
                              [&](const auto& pair) { return pair.first == aspect.get(); });
    if (group == entry->groups.end()) {
        entry->groups.emplace_back(aspect.get(), std::make_shared<ZELAspectTermGroup>(aspect));
        group = entry->groups.end() - 1;
    }
    group->second->addNormalizedTerm(normalizedTerm);
}

void ZELJoinedAspectSetMatchMap::visitTermPermutationsUsing(
    const std::function<void(const TermCombination& combination)>& visitor) const {
    for (const auto& entry : entries_) {
        // Working storage of one joined set: each aspect's terms and a counter per aspect.
        std::vector<std::vector<ZELString>> terms;
        for (const auto& [key, group] : entry.groups) {
            terms.emplace_back(group->normalizedTerms().begin(), group->normalizedTerms().end());
        }
        if (terms.empty() ||
            std::any_of(terms.begin(), terms.end(), [](const auto& list) { return list.empty(); })) {
            continue;
        }
        std::vector<size_t> counters(terms.size(), 0);
        TermCombination combination(terms.size());
        for (;;) {
            for (size_t i = 0; i < terms.size(); ++i) {
                combination[i] = {entry.groups[i].second->aspect(), terms[i][counters[i]]};
            }
            visitor(combination);
            size_t i = 0;
            while (i < terms.size() && counters[i] + 1 >= terms[i].size()) ++i;
            if (i == terms.size()) break;
            ++counters[i];
            std::fill(counters.begin(), counters.begin() + static_cast<std::ptrdiff_t>(i), 0);
        }
    }
}

ZELQuery::QueryList ZELJoinedAspectSetMatchMap::generatedQueries() const {
    ZELQuery::QueryList queries;
    visitTermPermutationsUsing([&](const TermCombination& combination) {
        std::vector<ZELID> ids;
        for (const auto& [aspect, term] : combination) {
            const ZELID id = aspect->aspectBitIDForNormalizedValue(term, nullptr, nullptr);
            if (id == 0) return;
            ids.push_back(id);
        }
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        auto vector = ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
        queries.push_back(ZELQuery::queryMatchingIDsInVector(vector.get(), ZELBooleanOperationAND));
    });
    return queries;
}
