#include "zel/userquery/ZELTokenCriteriaMaker.h"

#include <algorithm>

#include "zel/database/ZELAspect.h"
#include "zel/tokenizer/ZELStringComparison.h"

std::optional<ZELString> ZELTokenCriteriaMaker::canonicalStringForCompletion(
    const ZELString& completion, const AspectList& aspects, AspectList* outAspects,
    std::vector<ZELID>* outIDs) {
    const ZELString normalized = ZELNormalizedCaseInsensitiveComparisonString(completion);
    std::optional<ZELString> canonical;
    for (const auto& aspect : aspects) {
        std::optional<ZELString> found;
        const ZELID id = aspect->aspectBitIDForNormalizedValue(normalized, &found, nullptr);
        if (id == 0) continue;
        canonical = found ? found : completion;
        if (outAspects) outAspects->push_back(aspect);
        if (outIDs) outIDs->push_back(id);
        if (!outAspects && !outIDs) break;
    }
    return canonical;
}

void ZELTokenCriteriaMaker::prepareCriteria(ZELUserCriteria& criteria,
                                            const AspectList& consideredAspects,
                                            const GroupList& fieldGroups) {
    AspectList gathered;
    for (const ZELString& term : criteria.searchTerms()) {
        AspectList found;
        canonicalStringForCompletion(term, consideredAspects, &found, nullptr);
        for (const auto& aspect : found) {
            if (std::find(gathered.begin(), gathered.end(), aspect) == gathered.end()) {
                gathered.push_back(aspect);
            }
        }
        if (gathered.size() >= consideredAspects.size()) break;
    }
    GroupList groups;
    for (const auto& group : fieldGroups) {
        if (group->intersectsAspects(gathered)) groups.push_back(group);
    }
    if (groups.size() == 2) {
        if (groups[0]->containsAllAspects(groups[1]->aspects())) {
            groups.erase(groups.begin());
        } else if (groups[1]->containsAllAspects(groups[0]->aspects())) {
            groups.pop_back();
        }
    }
    criteria.setAllAspectGroups(fieldGroups);
    criteria.setPossibleAspectGroups(groups);
    criteria.setChosenAspectGroups(std::move(groups));
}

std::shared_ptr<ZELUserCriteria> ZELTokenCriteriaMaker::criteriaForCompletions(
    std::vector<ZELString> terms, std::optional<std::vector<ZELString>> displayStrings,
    const AspectList& possibleAspects, const GroupList& fieldGroups) {
    auto criteria = ZELUserCriteria::criteria();
    criteria->setSearchTerms(std::move(terms), std::move(displayStrings));
    prepareCriteria(*criteria, possibleAspects, fieldGroups);
    return criteria;
}

std::shared_ptr<ZELUserCriteria> ZELTokenCriteriaMaker::criteriaFromSourceCriteria(
    const ZELUserCriteria& source, const std::vector<ZELString>& displayTerms,
    const GroupList& fieldGroups) {
    const AspectList fieldAspects = ZELAspectTokenFieldGroup::aspectsInGroups(fieldGroups);
    const AspectList sourceAspects =
        ZELAspectTokenFieldGroup::aspectsInGroups(source.allAspectGroups());
    if (std::none_of(sourceAspects.begin(), sourceAspects.end(), [&](const auto& aspect) {
            return std::find(fieldAspects.begin(), fieldAspects.end(), aspect) !=
                   fieldAspects.end();
        })) {
        return nullptr;
    }
    std::vector<ZELString> terms;
    std::vector<ZELString> displays;
    for (size_t i = 0; i < source.searchTerms().size(); ++i) {
        auto canonical = canonicalStringForCompletion(source.searchTerms()[i], fieldAspects,
                                                      nullptr, nullptr);
        if (!canonical) continue;
        terms.push_back(*canonical);
        displays.push_back(i < displayTerms.size() ? displayTerms[i] : *canonical);
    }
    if (terms.empty()) return nullptr;
    auto criteria = criteriaForCompletions(std::move(terms), std::move(displays), fieldAspects,
                                           fieldGroups);
    criteria->setIsNegate(source.isNegate());
    GroupList chosen;
    for (const auto& sourceGroup : source.chosenAspectGroups()) {
        bool found = false;
        for (const auto& group : criteria->possibleAspectGroups()) {
            if (!group->intersectsAspects(sourceGroup->aspects())) continue;
            found = true;
            if (std::find(chosen.begin(), chosen.end(), group) == chosen.end()) {
                chosen.push_back(group);
            }
        }
        if (!found) return nullptr;
    }
    if (criteria->possibleAspectGroups().empty()) return nullptr;
    criteria->setChosenAspectGroups(std::move(chosen));
    return criteria;
}
