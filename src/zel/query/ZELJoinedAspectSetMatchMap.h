#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "zel/query/ZELAspectTermGroup.h"
#include "zel/query/ZELQuery.h"

class ZELAspect;
class ZELJoinedAspectSet;

// Gathers terms per aspect of each joined aspect set while the user-query layer assembles a
// query, and yields one AND query per combination of one term from every aspect of a set.
// Joined sets and aspects are keys by identity and are not retained as keys (the caller keeps
// them alive while the map lives); keys are walked in the order they were first added. Lives
// for one query assembly on one thread.
class ZELJoinedAspectSetMatchMap {
public:
    // One term for each aspect of a joined set, in the order the aspects were added.
    using TermCombination = std::vector<std::pair<std::shared_ptr<ZELAspect>, ZELString>>;

    void addNormalizedTerm(const ZELString& normalizedTerm, const std::shared_ptr<ZELAspect>& aspect,
                           const ZELJoinedAspectSet* joinedAspectSet);
    // Every combination of each joined set, exactly once; the first aspect's term turns
    // fastest.
    void visitTermPermutationsUsing(
        const std::function<void(const TermCombination& combination)>& visitor) const;
    // For each combination whose terms all have aspect bits in their aspects: the match node
    // AND over those bits; in visiting order. Takes the database lock for each lookup.
    ZELQuery::QueryList generatedQueries() const;

private:
    struct JoinedSetEntry {
        const ZELJoinedAspectSet* joinedAspectSet;
        std::vector<std::pair<const ZELAspect*, std::shared_ptr<ZELAspectTermGroup>>> groups;
    };
    std::vector<JoinedSetEntry> entries_;
};
