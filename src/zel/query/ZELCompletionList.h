#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"

// A list of completions shown to the user: completion strings (what a pick inserts) and their
// display strings (what the list shows), in display order. The token field and the completion
// window show, filter and combine these lists. Abstract root of a class cluster:
// ZELCompletionList_Array (each completion is its own display string) and
// ZELCompletionList_Map (display strings mapped to completions). Held by std::shared_ptr; a
// list never changes once built (only its isListStatic mark may be set), so it may be read
// from any thread.
class ZELCompletionList : public ZELObject {
public:
    using CompletionSet = std::set<ZELString>;
    using EntryVisitor =
        ZELFunctionRef<void(const ZELString& completion, const ZELString& displayString, bool& stop)>;

    // A ZELCompletionList_Array of `completions` in the given order.
    static std::shared_ptr<ZELCompletionList> listWithCompletions(std::vector<ZELString> completions);

    // Set by the makers of fixed lists (the date-unit lists); false for every list the
    // operations below derive.
    bool isListStatic() const { return isListStatic_; }
    void setIsListStatic(bool isStatic) { isListStatic_ = isStatic; }

    // ---- Overridden by the kinds; the root answers nothing ----

    // The completion of each display string, in display order.
    virtual const std::vector<ZELString>& completions() const;
    virtual const std::vector<ZELString>& displayStrings() const;
    virtual std::optional<ZELString> completionForDisplayString(const ZELString& displayString) const;
    // A new list of the entries whose completions are in `completions` (see the kinds).
    virtual std::shared_ptr<ZELCompletionList> sublistWithCompletions(
        const CompletionSet& completions) const;
    // This list itself for an empty set; otherwise a new list with the completions added (see
    // the kinds). `fromList` supplies the display strings of the added completions.
    virtual std::shared_ptr<ZELCompletionList> completionListByAddingCompletions(
        const CompletionSet& completions, const ZELCompletionList* fromList) const;

    // ---- Common operations ----

    // The number of display strings.
    uint64_t count() const { return displayStrings().size(); }
    // Calls visitor(completion, displayString, stop) in display order; false when the visitor
    // stopped the walk, else true.
    bool enumerateEntries(EntryVisitor visitor) const;
    // The completions whose display string begins with `prefix`, ignoring case (diacritics
    // count; a prefix never ends inside a character). An empty prefix gives every completion.
    CompletionSet completionsWithDiplayStringPrefix(const ZELString& prefix) const;
    // The first display string, in order, whose completion equals `completion` exactly.
    std::optional<ZELString> displayStringForCompletion(const ZELString& completion) const;
    // "ZELCompletionList_Array<0x...> - 3 completions: a, b, c"; from 31 entries on only the
    // first 30 display strings are joined, followed by "...".
    std::string description() const override;

protected:
    ZELCompletionList() = default;
    // This list as a shared list. Requires: the list is owned by a std::shared_ptr.
    std::shared_ptr<ZELCompletionList> sharedList() const;

private:
    bool isListStatic_ = false;
};

