#pragma once

#include <QPointer>
#include <array>
#include <memory>

#include "zel/tokenizer/ZELDateComponents.h"
#include "zel/ui/ZELAspectTokenField.h"

class QFrame;

// A search field over dates by their parts: one pop-up holds four lists side by side, the
// years and days its aspects hold and the month and weekday names of the date tokenizers'
// calendar. Each pick becomes criteria of that unit's group and replaces the earlier criteria
// of the group; picks in one list are alternatives (OR). Typing a name followed by a space or
// Return picks it in the first list that has it.
//
// The lists are built on the worker pool when first shown (and again after the database
// changes) and applied on the GUI thread while still current. Owned by its parent widget; it
// owns its pop-up and the four list controllers; GUI thread only.
class ZELDateAspectTokenField : public ZELAspectTokenField {
    Q_OBJECT

public:
    // The units in list order, with the share of the pop-up's width each list takes (tenths).
    static constexpr std::array<ZELCalendarUnit, 4> dateUnits = {
        ZELCalendarUnitYear, ZELCalendarUnitMonth, ZELCalendarUnitDay, ZELCalendarUnitWeekday};
    static constexpr std::array<int, 4> widthTenths = {3, 3, 2, 2};
    static constexpr int popupHeight = 300;

    explicit ZELDateAspectTokenField(QWidget* parent = nullptr);
    ~ZELDateAspectTokenField() override;

    // Sets the aspects of each unit and adds their groups "Year", "Month", "Day" and
    // "Weekday". Call once.
    void setYearAspects(const AspectList& years, const AspectList& months, const AspectList& days,
                        const AspectList& weekdays);
    const AspectList& aspectsForDateUnit(uint32_t unit) const { return unitFor(unit).aspects; }
    ZELCompletionListWindowController* completionListWindowControllerForDateUnit(uint32_t unit) {
        return unitFor(unit).list;
    }
    // Adds the rows of `values` to that unit's selection and sends the criteria.
    uint64_t selectValues(const ZELCompletionList::CompletionSet& values, uint32_t unit);
    QFrame* popup() const { return popup_.get(); }
    // The lists are being built on the worker pool.
    bool isBuildingLists() const { return isBuildingLists_; }

    void showCompletionList() override;
    void hideCompletionList() override;
    bool isCompletionListShown() const override;
    ZELCompletionListWindowController* completionListWindowController() override;
    std::optional<ZELCompletionList::CompletionSet> completionListEnabledCompletions(
        ZELCompletionListWindowController& list) override;
    void completionListWillInsertCriteria(ZELCompletionListWindowController& list,
                                          ZELUserCriteria& criteria) override;
    void databaseDidChange() override;
    // Copy Selector List: the four lists' enabled values as a table, one list a column.
    void copyCompletionList() override;

protected:
    void forEachCompletionListWindowController(
        const std::function<void(ZELCompletionListWindowController&)>& body) override;
    void updateCompletionListWithMaximumCount(uint64_t maximumCount,
                                              bool allowInsertOnTerminal) override;
    bool commitSelectedOrFirstCompletion() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Unit {
        uint32_t code = 0;
        AspectList aspects;
        std::shared_ptr<ZELAspectTokenFieldGroup> group;
        ZELCompletionListWindowController* list = nullptr;  // owned by listControllers_
    };
    using Lists = std::array<std::shared_ptr<ZELCompletionList>, 4>;

    const Unit& unitFor(uint32_t unit) const;
    Unit* unitForList(const ZELCompletionListWindowController& list);
    void makePopup();
    void buildListsInBackground();
    void applyLists(const Lists& lists, uint64_t generation);
    // Selects in each list the terms of the criteria of its group.
    void selectStableCriteria();
    // Picks the first name beginning with `cleanPrefix` in the first list that has one.
    bool commitStaticCompletion(const ZELString& cleanPrefix, bool negated);

    std::array<Unit, 4> units_;
    // Declared before the controllers, which live in it, so that they go first.
    std::unique_ptr<QFrame> popup_;
    std::array<std::unique_ptr<ZELCompletionListWindowController>, 4> listControllers_;
    uint64_t listGeneration_ = 0;  // raised when the lists become stale
    bool hasLists_ = false;
    bool isBuildingLists_ = false;
};
