#include "zel/query/ZELCompletionList_Array.h"

#include "zel/query/ZELCompletionList+Private.h"

std::shared_ptr<ZELCompletionList_Array> ZELCompletionList_Array::listWithCompletions(
    std::vector<ZELString> completions) {
    return std::make_shared<ZELCompletionList_Array>(std::move(completions));
}

ZELCompletionList_Array::ZELCompletionList_Array(std::vector<ZELString> completions)
    : completions_(std::move(completions)) {}

std::optional<ZELString> ZELCompletionList_Array::completionForDisplayString(
    const ZELString& displayString) const {
    return displayString;
}

std::shared_ptr<ZELCompletionList> ZELCompletionList_Array::sublistWithCompletions(
    const CompletionSet& completions) const {
    std::vector<ZELString> sorted(completions.begin(), completions.end());
    ZELCompletionSortLocalizedCaseInsensitive(sorted);
    return listWithCompletions(std::move(sorted));
}

std::shared_ptr<ZELCompletionList> ZELCompletionList_Array::completionListByAddingCompletions(
    const CompletionSet& completions, const ZELCompletionList*) const {
    if (completions.empty()) return sharedList();
    CompletionSet all(completions_.begin(), completions_.end());
    all.insert(completions.begin(), completions.end());
    std::vector<ZELString> sorted(all.begin(), all.end());
    ZELCompletionSortLocalizedCaseInsensitive(sorted);
    return listWithCompletions(std::move(sorted));
}
