#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/query/ZELCompletionList.h"

// A completion list of display strings mapped to completions, in an order given by a sort
// mode or given explicitly.
class ZELCompletionList_Map : public ZELCompletionList {
public:
    using Map = std::map<ZELString, ZELString>;  // display string -> completion

    // The orders of the display strings. Kept by token fields; never renumber.
    enum SortMode : int32_t {
        // The localized case-insensitive comparison of the comparison locale.
        SortModeLocalizedCaseInsensitive = 0,
        // The user's current locale's case-insensitive collation.
        SortModeUserLocaleCaseInsensitive = 1,
        // By completion, digit runs ordered by their numeric value ("2" before "10").
        SortModeNumericCompletion = 2,
    };

    // The map's keys ordered by `sortMode`; any other mode gives no display strings.
    static std::shared_ptr<ZELCompletionList_Map> listWithMap(Map map, int32_t sortMode);
    // The display strings in the given order; `sortMode` is only kept. A display string the
    // map lacks has the completion "-ERROR-".
    static std::shared_ptr<ZELCompletionList_Map> listWithMap(Map map, int32_t sortMode,
                                                              std::vector<ZELString> displayStrings);
    ZELCompletionList_Map(Map map, int32_t sortMode, std::vector<ZELString> displayStrings);

    const Map& map() const { return map_; }
    int32_t sortMode() const { return sortMode_; }
    const std::vector<ZELString>& completions() const override { return completions_; }
    const std::vector<ZELString>& displayStrings() const override { return displayStrings_; }
    // The map's entry; none when the map lacks the display string.
    std::optional<ZELString> completionForDisplayString(const ZELString& displayString) const override;
    // None for an empty set; else a new list keeping, in display order, the entries whose
    // completion is in the set, with the same sort mode.
    std::shared_ptr<ZELCompletionList> sublistWithCompletions(
        const CompletionSet& completions) const override;
    // A new list, ordered by the same sort mode, of this list's map plus each entry of
    // `fromList` whose completion is in the set (an entry of `fromList` replaces one with the
    // same display string).
    std::shared_ptr<ZELCompletionList> completionListByAddingCompletions(
        const CompletionSet& completions, const ZELCompletionList* fromList) const override;

private:
    const Map map_;
    const int32_t sortMode_;
    const std::vector<ZELString> displayStrings_;
    const std::vector<ZELString> completions_;
};
