#include "zel/query/ZELCompletionList_Map.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <climits>

#include "zel/platform/ZELLog.h"
#include "zel/query/ZELCompletionList+Private.h"
#include "zel/tokenizer/ZELStringComparison.h"

namespace {

// The marker completion of a display string that the map lacks.
const ZELString kMissingCompletion = u"-ERROR-";

// The user's current locale's collator at secondary strength (case ignored, accents count),
// one per thread since ICU collators are not thread-safe. Null when ICU cannot open one.
UCollator* userLocaleCaseInsensitiveCollator() {
    struct Holder {
        UCollator* collator = nullptr;
        Holder() {
            UErrorCode status = U_ZERO_ERROR;
            collator = ucol_open(ZELCurrentUserLocaleIdentifier().c_str(), &status);
            if (U_FAILURE(status)) {
                ZELLogFormat("user locale collator unavailable: %s", u_errorName(status));
                collator = nullptr;
                return;
            }
            ucol_setStrength(collator, UCOL_SECONDARY);
            ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        }
        ~Holder() {
            if (collator) ucol_close(collator);
        }
    };
    thread_local Holder holder;
    return holder.collator;
}

int compareInUserLocaleCaseInsensitive(const ZELString& a, const ZELString& b) {
    UCollator* collator = userLocaleCaseInsensitiveCollator();
    if (!collator) return compareZELLocalizedCaseInsensitive(a, b);
    auto length = [](const ZELString& text) {
        return text.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(text.size());
    };
    const UCollationResult result =
        ucol_strcoll(collator, reinterpret_cast<const UChar*>(a.data()), length(a),
                     reinterpret_cast<const UChar*>(b.data()), length(b));
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

// The map's keys in the order of `sortMode`; no keys for an unknown mode. Keys the order
// finds equal keep the map's (code unit) order.
std::vector<ZELString> displayStringsSortedByMode(const ZELCompletionList_Map::Map& map,
                                                  int32_t sortMode) {
    std::vector<ZELString> keys;
    keys.reserve(map.size());
    for (const auto& [displayString, completion] : map) keys.push_back(displayString);
    switch (sortMode) {
        case ZELCompletionList_Map::SortModeLocalizedCaseInsensitive:
            ZELCompletionSortLocalizedCaseInsensitive(keys);
            break;
        case ZELCompletionList_Map::SortModeUserLocaleCaseInsensitive:
            std::stable_sort(keys.begin(), keys.end(), [](const ZELString& a, const ZELString& b) {
                return compareInUserLocaleCaseInsensitive(a, b) < 0;
            });
            break;
        case ZELCompletionList_Map::SortModeNumericCompletion:
            std::stable_sort(keys.begin(), keys.end(), [&](const ZELString& a, const ZELString& b) {
                return compareByZELNumericalSort(map.at(a), map.at(b)) < 0;
            });
            break;
        default:
            keys.clear();
            break;
    }
    return keys;
}

std::vector<ZELString> completionsForDisplayStrings(const ZELCompletionList_Map::Map& map,
                                                    const std::vector<ZELString>& displayStrings) {
    std::vector<ZELString> completions;
    completions.reserve(displayStrings.size());
    for (const ZELString& displayString : displayStrings) {
        const auto found = map.find(displayString);
        completions.push_back(found != map.end() ? found->second : kMissingCompletion);
    }
    return completions;
}

}  // namespace

std::shared_ptr<ZELCompletionList_Map> ZELCompletionList_Map::listWithMap(Map map, int32_t sortMode) {
    std::vector<ZELString> displayStrings = displayStringsSortedByMode(map, sortMode);
    return listWithMap(std::move(map), sortMode, std::move(displayStrings));
}

std::shared_ptr<ZELCompletionList_Map> ZELCompletionList_Map::listWithMap(
    Map map, int32_t sortMode, std::vector<ZELString> displayStrings) {
    return std::make_shared<ZELCompletionList_Map>(std::move(map), sortMode, std::move(displayStrings));
}

ZELCompletionList_Map::ZELCompletionList_Map(Map map, int32_t sortMode,
                                             std::vector<ZELString> displayStrings)
    : map_(std::move(map)),
      sortMode_(sortMode),
      displayStrings_(std::move(displayStrings)),
      completions_(completionsForDisplayStrings(map_, displayStrings_)) {}

std::optional<ZELString> ZELCompletionList_Map::completionForDisplayString(
    const ZELString& displayString) const {
    const auto found = map_.find(displayString);
    if (found == map_.end()) return std::nullopt;
    return found->second;
}

std::shared_ptr<ZELCompletionList> ZELCompletionList_Map::sublistWithCompletions(
    const CompletionSet& completions) const {
    if (completions.empty()) return nullptr;
    Map kept;
    std::vector<ZELString> order;
    for (size_t index = 0; index < displayStrings_.size(); ++index) {
        if (!completions.count(completions_[index])) continue;
        order.push_back(displayStrings_[index]);
        const auto found = map_.find(displayStrings_[index]);
        if (found != map_.end()) kept.insert(*found);
    }
    return listWithMap(std::move(kept), sortMode_, std::move(order));
}

std::shared_ptr<ZELCompletionList> ZELCompletionList_Map::completionListByAddingCompletions(
    const CompletionSet& completions, const ZELCompletionList* fromList) const {
    if (completions.empty()) return sharedList();
    Map combined = map_;
    if (fromList) {
        fromList->enumerateEntries(
            [&](const ZELString& completion, const ZELString& displayString, bool&) {
                if (completions.count(completion)) combined.insert_or_assign(displayString, completion);
            });
    }
    return listWithMap(std::move(combined), sortMode_);
}
