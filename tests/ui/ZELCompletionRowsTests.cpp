// The window-free model of the completion list window's rows.

#include <gtest/gtest.h>

#include "zel/query/ZELCompletionList_Array.h"
#include "zel/ui/ZELCompletionRows.h"

namespace {

std::vector<std::u16string> texts(const ZELCompletionRows& rows) {
    std::vector<std::u16string> result;
    for (uint64_t row = 0; row < rows.rowCount(); ++row) result.push_back(rows.textForRow(row));
    return result;
}

TEST(CompletionRows, ShowTheCompletionsThenAWarningOrTheMoreRow) {
    struct Case {
        std::vector<ZELString> completions;
        std::u16string warning;
        bool more, loading, negated;
        std::vector<std::u16string> rows;
        double height;
    } const cases[] = {
        {{u"apple", u"apricot"}, u"", false, false, false, {u"apple", u"apricot"}, 14},
        {{u"apple"}, u"", true, false, false, {u"apple", u"[More Completions Available]"}, 14},
        {{u"apple"}, u"", true, true, true, {u"! apple", u"[Loading More Completions...]"}, 14},
        {{u"apple"}, u"late", true, false, false, {u"apple", u"late"}, 14},
        {{}, u"zz has no matches", false, false, false, {u"zz has no matches"}, 18},
        {{}, u"", true, false, false, {u"[More Completions Available]"}, 14},
    };
    for (const Case& c : cases) {
        ZELCompletionRows rows;
        rows.setList(ZELCompletionList_Array::listWithCompletions(c.completions));
        rows.setWarning(c.warning);
        rows.setMoreAvailable(c.more);
        rows.setLoadingMore(c.loading);
        rows.setNegated(c.negated);
        EXPECT_EQ(texts(rows), c.rows);
        EXPECT_EQ(rows.heightOfRows(), c.height);
        const uint64_t n = c.completions.size();
        EXPECT_EQ(rows.warningRow(), c.warning.empty() ? std::nullopt : std::optional<uint64_t>(n));
        EXPECT_EQ(rows.moreRow(), !c.warning.empty() || !c.more ? std::nullopt : std::optional<uint64_t>(n));
        // Only completion rows are ever picked.
        EXPECT_FALSE(rows.isRowSelectable(n));
        EXPECT_FALSE(rows.completionForRow(n));
    }
}

}  // namespace
