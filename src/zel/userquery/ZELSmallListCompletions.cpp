#include "zel/userquery/ZELSmallListCompletions.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <string>

#include "zel/query/ZELCompletionList_Map.h"

namespace {

// The text with each code point case-folded; folding keeps every code point's length in
// UTF-16 for the scripts the lists hold, and the few that change are left as they are, so
// positions in the folded text are positions in the original.
ZELString foldedKeepingPositions(const ZELString& text) {
    ZELString folded;
    folded.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        const UChar32 fold = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        const UChar32 kept = U16_LENGTH(fold) == U16_LENGTH(c) ? fold : c;
        if (U16_LENGTH(kept) == 1) {
            folded.push_back(static_cast<char16_t>(kept));
        } else {
            folded.push_back(static_cast<char16_t>(U16_LEAD(kept)));
            folded.push_back(static_cast<char16_t>(U16_TRAIL(kept)));
        }
    }
    return folded;
}

}  // namespace

std::shared_ptr<ZELCompletionList> ZELSmallListCompletions::listWithCompletions(
    const std::vector<ZELString>& completions, const DisplayStringGenerator& generator) {
    ZELCompletionList_Map::Map map;
    for (const ZELString& completion : completions) {
        const ZELString display = generator ? generator(completion) : completion;
        ZELString unique = display;
        for (uint64_t n = 2; map.count(unique); ++n) {
            const std::string suffix = " (" + std::to_string(n) + ")";
            unique = display + ZELString(suffix.begin(), suffix.end());
        }
        map.emplace(std::move(unique), completion);
    }
    return ZELCompletionList_Map::listWithMap(
        std::move(map), ZELCompletionList_Map::SortModeUserLocaleCaseInsensitive);
}

bool ZELSmallListCompletions::displayStringMatches(const ZELString& displayString,
                                                   const ZELString& input, int32_t mode) {
    const ZELString text = foldedKeepingPositions(displayString);
    const ZELString wanted = foldedKeepingPositions(input);
    for (size_t at = text.find(wanted); at != ZELString::npos; at = text.find(wanted, at + 1)) {
        if (at == 0 || mode == MatchingModeAnywhere) return true;
        if (mode == MatchingModeWordStart) {
            UChar32 before;
            size_t index = at;
            U16_PREV(displayString.data(), 0, index, before);
            if (u_ispunct(before)) return true;
        }
    }
    return false;
}

std::shared_ptr<ZELCompletionList> ZELSmallListCompletions::filteredList(
    const std::shared_ptr<ZELCompletionList>& list, const ZELString& input, int32_t mode) {
    if (input.empty()) return list;
    ZELCompletionList::CompletionSet matching;
    list->enumerateEntries([&](const ZELString& completion, const ZELString& display, bool&) {
        if (displayStringMatches(display, input, mode)) matching.insert(completion);
    });
    if (matching.empty()) return ZELCompletionList::listWithCompletions({});
    return list->sublistWithCompletions(matching);
}
