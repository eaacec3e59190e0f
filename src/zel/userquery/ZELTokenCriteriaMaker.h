#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/userquery/ZELUserCriteria.h"

class ZELAspect;

// Makes the criteria of a search field's tokens: from picked completions, and from criteria
// that another field or a pasted query brings. Which groups a token is searched in follows
// from the aspects that know its terms. Stateless; any thread (it takes the database lock for
// each term lookup).
class ZELTokenCriteriaMaker {
public:
    using AspectList = ZELUserCriteria::AspectList;
    using GroupList = ZELUserCriteria::GroupList;

    // The canonical string of the completion's normalized form in the last aspect, in order,
    // that knows it; none when no aspect does. The aspects that know it and their aspect bit
    // IDs are passed out when asked (without either, the walk stops at the first that knows it).
    static std::optional<ZELString> canonicalStringForCompletion(const ZELString& completion,
                                                                 const AspectList& aspects,
                                                                 AspectList* outAspects,
                                                                 std::vector<ZELID>* outIDs);

    // Chooses the criteria's groups: the field's groups sharing an aspect with the aspects of
    // `consideredAspects` that know the terms. When exactly two groups result and one holds
    // every aspect of the other, the larger is dropped. All groups become `fieldGroups`.
    static void prepareCriteria(ZELUserCriteria& criteria, const AspectList& consideredAspects,
                                const GroupList& fieldGroups);

    // New criteria of the terms (with their display strings), prepared as above.
    static std::shared_ptr<ZELUserCriteria> criteriaForCompletions(
        std::vector<ZELString> terms, std::optional<std::vector<ZELString>> displayStrings,
        const AspectList& possibleAspects, const GroupList& fieldGroups);

    // The field's own criteria for `source` (another field's token, or one read from a saved or
    // pasted query), or null when the field refuses it: its groups share no aspect with the
    // field's, none of its terms is known in the field's aspects, or one of its chosen groups
    // matches none of the new criteria's possible groups. The terms become their canonical
    // strings with `displayTerms` (parallel to the source's terms) for display; the negation is
    // kept.
    static std::shared_ptr<ZELUserCriteria> criteriaFromSourceCriteria(
        const ZELUserCriteria& source, const std::vector<ZELString>& displayTerms,
        const GroupList& fieldGroups);
};
