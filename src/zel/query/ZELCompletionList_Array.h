#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/query/ZELCompletionList.h"

// A completion list whose completions are their own display strings.
class ZELCompletionList_Array : public ZELCompletionList {
public:
    static std::shared_ptr<ZELCompletionList_Array> listWithCompletions(
        std::vector<ZELString> completions);
    explicit ZELCompletionList_Array(std::vector<ZELString> completions);

    const std::vector<ZELString>& completions() const override { return completions_; }
    const std::vector<ZELString>& displayStrings() const override { return completions_; }
    // The display string itself.
    std::optional<ZELString> completionForDisplayString(const ZELString& displayString) const override;
    // A new list of the set's strings (whether or not this list holds them), sorted by the
    // localized case-insensitive comparison.
    std::shared_ptr<ZELCompletionList> sublistWithCompletions(
        const CompletionSet& completions) const override;
    // A new list of the union of this list's completions and the set, sorted as above;
    // `fromList` is not used.
    std::shared_ptr<ZELCompletionList> completionListByAddingCompletions(
        const CompletionSet& completions, const ZELCompletionList* fromList) const override;

private:
    const std::vector<ZELString> completions_;
};

