#include "zel/ui/ZELCompletionRows.h"

#include <algorithm>

uint64_t ZELCompletionRows::rowCount() const {
    return completionCount() + (warningRow() || moreRow() ? 1 : 0);
}

std::optional<uint64_t> ZELCompletionRows::warningRow() const {
    if (warning_.empty()) return std::nullopt;
    return completionCount();
}

std::optional<uint64_t> ZELCompletionRows::moreRow() const {
    if (!warning_.empty() || !isMoreAvailable_) return std::nullopt;
    return completionCount();
}

ZELString ZELCompletionRows::textForRow(uint64_t row) const {
    if (row < completionCount()) {
        const ZELString& display = list_->displayStrings()[row];
        return isNegated_ ? u"! " + display : display;
    }
    if (warningRow() == row) return warning_;
    if (moreRow() == row) return isLoadingMore_ ? loadingMoreText : moreAvailableText;
    return {};
}

std::optional<ZELString> ZELCompletionRows::completionForRow(uint64_t row) const {
    if (row >= completionCount()) return std::nullopt;
    return list_->completionForDisplayString(list_->displayStrings()[row]);
}

bool ZELCompletionRows::isRowSelectable(uint64_t row) const {
    const auto completion = completionForRow(row);
    return completion && (!enabled_ || enabled_->count(*completion));
}

double ZELCompletionRows::heightOfRows() const {
    if (!warning_.empty() && completionCount() == 0) return lonelyWarningRowHeight;
    return rowHeight;
}

uint64_t ZELCompletionRows::moreCompletionsRequestCount(uint64_t shown, uint64_t pageSize) {
    return std::max(shown * 2, shown + pageSize);
}
