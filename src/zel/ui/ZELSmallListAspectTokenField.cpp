#include "zel/ui/ZELSmallListAspectTokenField.h"

#include "zel/query/ZELCompletionCollector.h"
#include "zel/userquery/ZELEnabledCompletions.h"

ZELSmallListAspectTokenField::ZELSmallListAspectTokenField(QWidget* parent)
    : ZELAspectTokenField(parent) {}

const std::shared_ptr<ZELCompletionList>&
ZELSmallListAspectTokenField::precomputedCompletionList() {
    if (!precomputedList_) {
        precomputedList_ = ZELSmallListCompletions::listWithCompletions(
            ZELCompletionCollector::completionsForMatchingPrefix(
                nullptr, aspects(), nullptr, ZELCompletionCollector::noLimit, nullptr),
            displayStringGenerator_);
    }
    return precomputedList_;
}

void ZELSmallListAspectTokenField::databaseDidChange() {
    precomputedList_.reset();
    ZELAspectTokenField::databaseDidChange();
}

std::optional<ZELCompletionList::CompletionSet>
ZELSmallListAspectTokenField::completionListEnabledCompletions(ZELCompletionListWindowController&) {
    const auto& completions = precomputedCompletionList()->completions();
    return ZELEnabledCompletions::enabledCompletions({completions.begin(), completions.end()},
                                                     aspects(), activeQuery(),
                                                     activeItemResultSet(), true);
}

std::shared_ptr<ZELCompletionList> ZELSmallListAspectTokenField::completionListForUserInputPrefix(
    const ZELString& input, uint64_t, bool* outReachedLimit, AspectList* outAspects) {
    if (outReachedLimit) *outReachedLimit = false;
    if (outAspects) *outAspects = aspects();
    return ZELSmallListCompletions::filteredList(precomputedCompletionList(), input, matchingMode_);
}

void ZELSmallListAspectTokenField::updateCompletionListInBackground(const ZELString& prefix,
                                                                    uint64_t limit, bool) {
    bool reachedLimit = false;
    auto list = completionListForUserInputPrefix(prefix, limit, &reachedLimit, nullptr);
    setDisplayedCompletionList(std::move(list), reachedLimit, prefix);
}
