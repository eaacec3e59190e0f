#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "zel/platform/ZELString.h"
#include "zel/query/ZELCompletionList.h"

// The rows of the completion list window: one per display string of the list, then either a
// warning row or a "more" row. A plain model with no window, which the window's list model
// reads. Owned by the list window's controller; GUI thread only.
class ZELCompletionRows {
public:
    static constexpr const char16_t* loadingMoreText = u"[Loading More Completions...]";
    static constexpr const char16_t* moreAvailableText = u"[More Completions Available]";
    // Row heights in points: a completion row, and a warning alone.
    static constexpr double rowHeight = 14;
    static constexpr double lonelyWarningRowHeight = 18;

    const std::shared_ptr<ZELCompletionList>& list() const { return list_; }
    void setList(std::shared_ptr<ZELCompletionList> list) { list_ = std::move(list); }
    const ZELString& warning() const { return warning_; }
    void setWarning(ZELString warning) { warning_ = std::move(warning); }
    bool isMoreAvailable() const { return isMoreAvailable_; }
    void setMoreAvailable(bool flag) { isMoreAvailable_ = flag; }
    bool isLoadingMore() const { return isLoadingMore_; }
    void setLoadingMore(bool flag) { isLoadingMore_ = flag; }
    // Completion rows read "! " and the display string.
    bool isNegated() const { return isNegated_; }
    void setNegated(bool flag) { isNegated_ = flag; }
    // The completions that may be picked; none: all.
    void setEnabledCompletions(std::optional<ZELCompletionList::CompletionSet> enabled) {
        enabled_ = std::move(enabled);
    }

    uint64_t completionCount() const { return list_ ? list_->count() : 0; }
    uint64_t rowCount() const;
    // The warning row, when there is a warning.
    std::optional<uint64_t> warningRow() const;
    // The "more" row, when more completions are available and there is no warning.
    std::optional<uint64_t> moreRow() const;
    ZELString textForRow(uint64_t row) const;
    // The completion a row picks; none for the warning and "more" rows.
    std::optional<ZELString> completionForRow(uint64_t row) const;
    // A completion row whose completion is enabled. The warning and "more" rows never are.
    bool isRowSelectable(uint64_t row) const;
    // The height of every row.
    double heightOfRows() const;

    // How many completions to ask for when the user reaches the "more" row: twice what is
    // shown, and at least one page more (twice nothing would be nothing).
    static uint64_t moreCompletionsRequestCount(uint64_t shown, uint64_t pageSize);

private:
    std::shared_ptr<ZELCompletionList> list_;
    ZELString warning_;
    bool isMoreAvailable_ = false;
    bool isLoadingMore_ = false;
    bool isNegated_ = false;
    std::optional<ZELCompletionList::CompletionSet> enabled_;
};
