#pragma once

#include <memory>

#include "zel/ui/ZELAspectTokenField.h"
#include "zel/userquery/ZELSmallListCompletions.h"

// A search field over aspects with few values: every value is read once into a fixed list,
// which the typed text filters locally (no background collection, no limit), and values no
// item of the host's current search carries are shown disabled. How the typed text must occur
// in a value is the field's matching mode.
//
// Owned by its parent widget, like its base; GUI thread only.
class ZELSmallListAspectTokenField : public ZELAspectTokenField {
    Q_OBJECT

public:
    explicit ZELSmallListAspectTokenField(QWidget* parent = nullptr);

    int32_t completionMatchingMode() const { return matchingMode_; }
    void setCompletionMatchingMode(int32_t mode) { matchingMode_ = mode; }
    // What the list shows for each value; the value itself without one. Set before the list
    // is first made.
    void setDisplayStringGenerator(ZELSmallListCompletions::DisplayStringGenerator generator) {
        displayStringGenerator_ = std::move(generator);
    }
    // Every value of the field's aspects, made on first use and kept until the database changes.
    const std::shared_ptr<ZELCompletionList>& precomputedCompletionList();

    void databaseDidChange() override;
    std::optional<ZELCompletionList::CompletionSet> completionListEnabledCompletions(
        ZELCompletionListWindowController& list) override;

protected:
    std::shared_ptr<ZELCompletionList> completionListForUserInputPrefix(
        const ZELString& input, uint64_t limit, bool* outReachedLimit,
        AspectList* outAspects) override;
    void updateCompletionListInBackground(const ZELString& prefix, uint64_t limit,
                                          bool showStatus) override;

private:
    std::shared_ptr<ZELCompletionList> precomputedList_;
    ZELSmallListCompletions::DisplayStringGenerator displayStringGenerator_;
    int32_t matchingMode_ = ZELSmallListCompletions::MatchingModeStart;
};
