#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "zel/platform/ZELString.h"

class ZELCompletionList;

// The fixed list of a field over an aspect with few values: every completion once, under a
// display string of its own, filtered locally as the user types. Stateless; any thread.
class ZELSmallListCompletions {
public:
    // How typed text must occur in a display string to match it. Kept by hosts; never renumber.
    enum MatchingMode : int32_t {
        MatchingModeStart = 0,      // at the start
        MatchingModeWordStart = 1,  // at the start or right after a punctuation character
        MatchingModeAnywhere = 2,   // anywhere
    };
    using DisplayStringGenerator = std::function<ZELString(const ZELString& completion)>;

    // A ZELCompletionList_Map of the completions in the user locale's order. Each display
    // string is the generator's (the completion itself without one); a display string met
    // before gets " (2)", " (3)", … the first that no other display string has, so that no
    // completion is lost and the list is the same from run to run.
    static std::shared_ptr<ZELCompletionList> listWithCompletions(
        const std::vector<ZELString>& completions, const DisplayStringGenerator& generator);

    // Whether `input` occurs in `displayString`, ignoring case, where `mode` accepts it.
    static bool displayStringMatches(const ZELString& displayString, const ZELString& input,
                                     int32_t mode);

    // The entries of `list` whose display strings match; the whole list for empty input.
    static std::shared_ptr<ZELCompletionList> filteredList(
        const std::shared_ptr<ZELCompletionList>& list, const ZELString& input, int32_t mode);
};
