#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "zel/query/ZELCompletionList.h"

class ZELAspect;
class ZELIDVector;
class ZELItemResultSet;
class ZELQuery;

// Which completions of a fixed list a search field lets the user pick: those that would still
// find items. A term counts as found in the host's current search with the field's own
// constraints taken out, so that picking another value of the same aspects stays possible.
// Stateless; any thread (it takes the database lock).
class ZELEnabledCompletions {
public:
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;
    using CompletionSet = ZELCompletionList::CompletionSet;

    // The enabled completions, or none when every one is enabled. Without a current result
    // set (or one without viable values) nothing is narrowed unless `validationRequired`, in
    // which case the values no item carries any longer are left out.
    static std::optional<CompletionSet> enabledCompletions(const CompletionSet& completions,
                                                           const AspectList& aspects,
                                                           const std::shared_ptr<ZELQuery>& activeQuery,
                                                           const std::shared_ptr<ZELItemResultSet>& activeResultSet,
                                                           bool validationRequired);

    // The completions that some aspect knows with items, among `viableAspectBitIDs` when given.
    static CompletionSet collectEnabledCompletions(const CompletionSet& completions,
                                                   const ZELIDVector* viableAspectBitIDs,
                                                   const AspectList& aspects);
};
