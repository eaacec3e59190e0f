#include "zel/query/ZELCompletionList.h"

#include <algorithm>

#include "zel/query/ZELCompletionList+Private.h"
#include "zel/query/ZELCompletionList_Array.h"
#include "zel/tokenizer/ZELCharacterClasses+Private.h"
#include "zel/tokenizer/ZELStringComparison.h"

bool ZELCompletionNormalizedTextHasPrefix(std::u16string_view normalizedText,
                                          std::u16string_view normalizedPrefix) {
    if (normalizedText.size() < normalizedPrefix.size() ||
        normalizedText.substr(0, normalizedPrefix.size()) != normalizedPrefix) {
        return false;
    }
    if (normalizedText.size() == normalizedPrefix.size() || normalizedPrefix.empty()) return true;
    // The text goes on: the prefix must not stop before a trailing surrogate or before the
    // accents of its last character.
    const char16_t next = normalizedText[normalizedPrefix.size()];
    if (next >= 0xDC00 && next < 0xE000) return false;
    size_t unitCount;
    const char32_t codePoint = ZELCodePointAt(normalizedText, normalizedPrefix.size(), &unitCount);
    return !ZELCharacterIsIn(codePoint, ZELCharacterClassNonspacingMark);
}

void ZELCompletionSortLocalizedCaseInsensitive(std::vector<ZELString>& strings) {
    std::stable_sort(strings.begin(), strings.end(), [](const ZELString& a, const ZELString& b) {
        return compareZELLocalizedCaseInsensitive(a, b) < 0;
    });
}

std::shared_ptr<ZELCompletionList> ZELCompletionList::listWithCompletions(
    std::vector<ZELString> completions) {
    return ZELCompletionList_Array::listWithCompletions(std::move(completions));
}

const std::vector<ZELString>& ZELCompletionList::completions() const {
    static const std::vector<ZELString> none;
    return none;
}

const std::vector<ZELString>& ZELCompletionList::displayStrings() const {
    return completions();
}

std::optional<ZELString> ZELCompletionList::completionForDisplayString(const ZELString&) const {
    return std::nullopt;
}

std::shared_ptr<ZELCompletionList> ZELCompletionList::sublistWithCompletions(
    const CompletionSet&) const {
    return nullptr;
}

std::shared_ptr<ZELCompletionList> ZELCompletionList::completionListByAddingCompletions(
    const CompletionSet&, const ZELCompletionList*) const {
    return nullptr;
}

bool ZELCompletionList::enumerateEntries(EntryVisitor visitor) const {
    const std::vector<ZELString>& shown = displayStrings();
    const std::vector<ZELString>& picked = completions();
    bool stop = false;
    for (size_t index = 0; index < shown.size(); ++index) {
        static const ZELString none;
        visitor(index < picked.size() ? picked[index] : none, shown[index], stop);
        if (stop) return false;
    }
    return true;
}

ZELCompletionList::CompletionSet ZELCompletionList::completionsWithDiplayStringPrefix(
    const ZELString& prefix) const {
    CompletionSet found;
    const ZELString normalizedPrefix = ZELNormalizedCaseInsensitiveComparisonString(prefix);
    enumerateEntries([&](const ZELString& completion, const ZELString& displayString, bool&) {
        if (normalizedPrefix.empty() ||
            ZELCompletionNormalizedTextHasPrefix(
                ZELNormalizedCaseInsensitiveComparisonString(displayString), normalizedPrefix)) {
            found.insert(completion);
        }
    });
    return found;
}

std::optional<ZELString> ZELCompletionList::displayStringForCompletion(
    const ZELString& completion) const {
    std::optional<ZELString> found;
    enumerateEntries([&](const ZELString& candidate, const ZELString& displayString, bool& stop) {
        if (candidate == completion) {
            found = displayString;
            stop = true;
        }
    });
    return found;
}

std::string ZELCompletionList::description() const {
    constexpr size_t shownAtMost = 30;
    const std::vector<ZELString>& shown = displayStrings();
    std::string joined;
    const size_t joinedCount = shown.size() > shownAtMost ? shownAtMost : shown.size();
    for (size_t index = 0; index < joinedCount; ++index) {
        if (index > 0) joined += ", ";
        joined += ZELStringToUTF8(shown[index]);
    }
    if (shown.size() > shownAtMost) joined += "...";
    return ZELStringWithFormat("%s - %lu completions: %s", descriptionHead().c_str(),
                               static_cast<unsigned long>(shown.size()), joined.c_str());
}

std::shared_ptr<ZELCompletionList> ZELCompletionList::sharedList() const {
    return std::const_pointer_cast<ZELCompletionList>(sharedFromThisAs<const ZELCompletionList>());
}
