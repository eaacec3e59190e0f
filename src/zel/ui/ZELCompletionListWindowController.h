#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

#include "zel/platform/ZELString.h"
#include "zel/query/ZELCompletionList.h"
#include "zel/ui/ZELCompletionRows.h"

class QCheckBox;
class QFrame;
class QPushButton;
class ZELAspectTokenField;
class ZELCompletionListModel;
class ZELCompletionListView;
class ZELUserCriteria;

// The floating list of completions under a search field. It shows the completions of the
// term being typed in a pop-up window (Qt::Popup, like QCompleter's), turns the rows the user
// picks into criteria and hands them to its field; it never talks to the database. Typing
// while the list is open is forwarded to the field, which keeps the text caret.
//
// Owned by its field (which it refers to without owning it); GUI thread only.
class ZELCompletionListWindowController : public QObject {
    Q_OBJECT

public:
    using CompletionSet = ZELCompletionList::CompletionSet;

    // How many completions one page of the list holds (and "more" asks at least that many more).
    static constexpr uint64_t pageSize = 100;
    static constexpr int maximumHeight = 300;
    static constexpr int minimumWidth = 150;

    // With a `container`, the list is a frame inside it (several lists sharing one pop-up,
    // which places and shows them) rather than a pop-up window of its own.
    explicit ZELCompletionListWindowController(ZELAspectTokenField* field,
                                               QWidget* container = nullptr);
    ~ZELCompletionListWindowController() override;

    // ---- Rows ----

    const std::shared_ptr<ZELCompletionList>& completionList() const { return rows_.list(); }
    // Inside a display-property change that affects completions; ends a running "more" load.
    void setCompletionList(std::shared_ptr<ZELCompletionList> list);
    bool moreCompletionsAvailable() const { return rows_.isMoreAvailable(); }
    void setMoreCompletionsAvailable(bool flag) { rows_.setMoreAvailable(flag); }
    const ZELString& warningMessage() const { return rows_.warning(); }
    // A warning row (red) or a status row (gray); empty text removes it.
    void setWarningMessage(ZELString message, QColor colour = Qt::red);
    bool hasWarningMessage() const { return !rows_.warning().empty(); }
    const ZELCompletionRows& rows() const { return rows_; }

    // ---- Modes ----

    bool isJoinCompletionsAsAlternatives() const;
    void setJoinCompletionsAsAlternatives(bool flag);
    bool isJoinCompletionsAsAlternativesEnabled() const;
    void setJoinCompletionsAsAlternativesEnabled(bool flag);
    bool isNegateCompletions() const { return isNegateCompletions_; }
    void setNegateCompletions(bool flag);
    bool isNegateCompletionsModifierKeyDown() const { return isNegateKeyDown_; }
    // Criteria made from the selection are negated ("!" typed, or Alt held).
    bool isNegateInsertedRepObjs() const { return isNegateCompletions_ || isNegateKeyDown_; }
    void setWindowPositionSuggestedInset(double inset) { suggestedInset_ = inset; }
    bool autohideAfterSelection() const { return autohideAfterSelection_; }
    void setAutohideAfterSelection(bool flag) { autohideAfterSelection_ = flag; }

    // ---- Showing ----

    void showCompletionList();
    void hideCompletionList();
    bool isWindowShown() const;
    // Forgets the field and hides the list.
    void invalidate();
    // Nested; the rows are rebuilt and the window laid out when the outermost change ends.
    void willChangeCompletionDisplayProperties();
    void didChangeCompletionDisplayProperties(bool completionsAffected);
    void invalidateEnabledCompletions() { isEnabledCompletionsValid_ = false; }

    // ---- Selection ----

    CompletionSet selectedCompletions() const;
    bool hasSelectedCompletion() const;
    // Criteria of the selected completions and the alternatives kept so far; null for none.
    std::shared_ptr<ZELUserCriteria> generateUserCriteria() const;
    // Sends pending selection changes; answers whether criteria were sent.
    bool commitSelectionChanges();
    // Selects the rows of `completions` (added to the selection when additive); answers how
    // many matched. Unless `updateField`, the field is not told.
    uint64_t setSelectedCompletions(const CompletionSet& completions, bool additive, bool updateField);
    void selectPreviousCompletion(bool extend);
    void selectNextCompletion(bool extend);
    // Selects the first row whose display string begins with `prefix`, ignoring case.
    bool selectCompletionWithDisplayPrefix(const ZELString& prefix, bool additive);
    void clearSelection();
    void scrollToFirstRow();
    void loadMoreCompletions();
    void notifySelectedCompletionsChanged();
    // The field's modifier keys changed: Shift or Ctrl collect alternatives, Alt negates.
    void tokenFieldEventFlagsDidChange(Qt::KeyboardModifiers modifiers);
    void copyCompletionList();

    // ---- Parts, for the field and for tests ----

    QFrame* popup() const { return popup_; }
    ZELCompletionListView* listView() const { return listView_; }
    QCheckBox* alternativesButton() const { return alternativesButton_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void listSelectionDidChange();
    void listRowPressed(const QModelIndex& index);
    void alternativeModeToggled(bool on);
    void closeListButtonPressed();
    void listDidScroll();
    void popupDidHide();
    // Sends the criteria of the selection; false when there were none and `ignoreEmpty`.
    bool notifyCompletionsChanged(bool ignoreEmpty);
    void selectRow(int row, bool extend);
    void reloadRows();
    void updateWindowFrames();
    bool visibleRowsReachLastRow() const;
    std::shared_ptr<ZELCompletionList> preservedWithCurrent(const CompletionSet& picked) const;

    QPointer<ZELAspectTokenField> field_;
    ZELCompletionRows rows_;
    QFrame* popup_ = nullptr;  // owned (a pop-up window, or a frame in the container)
    ZELCompletionListView* listView_ = nullptr;
    ZELCompletionListModel* model_ = nullptr;
    QCheckBox* alternativesButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;

    std::shared_ptr<ZELCompletionList> preservedAlternatives_;
    uint64_t changeLevel_ = 0;
    bool changeAffectedCompletions_ = false;
    bool isEnabledCompletionsValid_ = false;
    bool isLoadMoreScheduled_ = false;
    bool isNotifyOnFlagsChanged_ = false;
    bool isAlternativesFromFlags_ = false;
    bool isNegateCompletions_ = false;
    bool isNegateKeyDown_ = false;
    bool hasPendingSelectionChanges_ = false;
    bool hasPendingTransitoryCriteria_ = false;
    bool noInsertOnSelectionChange_ = false;
    bool autohideAfterSelection_ = true;
    bool isHiding_ = false;
    double suggestedInset_ = 0;
    double positionRatio_ = 0;
    double widthRatio_ = 1.0;
};
