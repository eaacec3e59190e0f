#include "zel/ui/ZELCompletionListWindowController.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELCompletionListModel.h"
#include "zel/ui/ZELCompletionListView.h"
#include "zel/userquery/ZELUserCriteria.h"

namespace {

QString qString(const ZELString& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ZELCompletionListWindowController::ZELCompletionListWindowController(ZELAspectTokenField* field,
                                                                     QWidget* container)
    : field_(field) {
    popup_ = container ? new QFrame(container) : new QFrame(nullptr, Qt::Popup);
    popup_->setFrameStyle(QFrame::Box | QFrame::Plain);
    popup_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    listView_ = new ZELCompletionListView(popup_);
    model_ = new ZELCompletionListModel(rows_, this);
    listView_->setModel(model_);
    layout->addWidget(listView_);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 0, 4, 0);
    alternativesButton_ = new QCheckBox(tr("Join as alternatives (OR)"), popup_);
    alternativesButton_->setFocusPolicy(Qt::NoFocus);
    closeButton_ = new QPushButton(tr("Close"), popup_);
    closeButton_->setFocusPolicy(Qt::NoFocus);
    closeButton_->hide();
    bar->addWidget(alternativesButton_);
    bar->addStretch();
    bar->addWidget(closeButton_);
    layout->addLayout(bar);

    popup_->installEventFilter(this);
    connect(listView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { listSelectionDidChange(); });
    connect(listView_, &QAbstractItemView::pressed, this,
            [this](const QModelIndex& index) { listRowPressed(index); });
    connect(listView_, &ZELCompletionListView::enterKeyPressed, this,
            [this] { notifySelectedCompletionsChanged(); });
    connect(listView_, &ZELCompletionListView::contextMenuRequestedAt, this, [this](QPoint at) {
        QMenu menu;
        menu.addAction(tr("Copy Selector List"), this, [this] { copyCompletionList(); });
        menu.exec(at);
    });
    connect(listView_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { listDidScroll(); });
    connect(alternativesButton_, &QCheckBox::clicked, this,
            [this](bool on) { alternativeModeToggled(on); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeListButtonPressed(); });
}

ZELCompletionListWindowController::~ZELCompletionListWindowController() {
    popup_->removeEventFilter(this);
    delete popup_;
}

// ---- Rows ----

void ZELCompletionListWindowController::setCompletionList(std::shared_ptr<ZELCompletionList> list) {
    willChangeCompletionDisplayProperties();
    rows_.setList(std::move(list));
    rows_.setLoadingMore(false);
    didChangeCompletionDisplayProperties(true);
}

void ZELCompletionListWindowController::setWarningMessage(ZELString message, QColor colour) {
    rows_.setWarning(std::move(message));
    model_->setWarningColour(colour);
}

// ---- Modes ----

bool ZELCompletionListWindowController::isJoinCompletionsAsAlternatives() const {
    return alternativesButton_->isChecked();
}

void ZELCompletionListWindowController::setJoinCompletionsAsAlternatives(bool flag) {
    alternativesButton_->setChecked(flag);
    listView_->setAllowsSingleClickSelectionToggle(flag);
}

bool ZELCompletionListWindowController::isJoinCompletionsAsAlternativesEnabled() const {
    return alternativesButton_->isEnabled();
}

void ZELCompletionListWindowController::setJoinCompletionsAsAlternativesEnabled(bool flag) {
    alternativesButton_->setEnabled(flag);
}

void ZELCompletionListWindowController::setNegateCompletions(bool flag) {
    if (flag == isNegateCompletions_) return;
    isNegateCompletions_ = flag;
    rows_.setNegated(isNegateInsertedRepObjs());
    model_->refresh();
}

// ---- Showing ----

void ZELCompletionListWindowController::showCompletionList() {
    if (!field_ || popup_->isVisible()) return;
    noInsertOnSelectionChange_ = false;
    reloadRows();
    updateWindowFrames();
    popup_->show();
    // Alternatives the user may not switch stay on.
    if (isJoinCompletionsAsAlternativesEnabled() && isJoinCompletionsAsAlternatives()) {
        setJoinCompletionsAsAlternatives(false);
    }
}

void ZELCompletionListWindowController::hideCompletionList() {
    if (isJoinCompletionsAsAlternatives()) commitSelectionChanges();
    if (popup_->isVisible()) {
        isHiding_ = true;
        popup_->hide();
        isHiding_ = false;
    }
    popupDidHide();
}

void ZELCompletionListWindowController::popupDidHide() {
    rows_.setLoadingMore(false);
    isNegateCompletions_ = false;
    isNegateKeyDown_ = false;
    rows_.setNegated(false);
    isNotifyOnFlagsChanged_ = false;
    preservedAlternatives_.reset();
    clearSelection();
}

bool ZELCompletionListWindowController::isWindowShown() const {
    return popup_->isVisible();
}

void ZELCompletionListWindowController::invalidate() {
    hideCompletionList();
    field_ = nullptr;
}

void ZELCompletionListWindowController::willChangeCompletionDisplayProperties() {
    ++changeLevel_;
}

void ZELCompletionListWindowController::didChangeCompletionDisplayProperties(bool completionsAffected) {
    if (completionsAffected) changeAffectedCompletions_ = true;
    if (changeLevel_ == 0 || --changeLevel_ > 0) return;
    if (changeAffectedCompletions_) {
        changeAffectedCompletions_ = false;
        CompletionSet preserved;
        if (preservedAlternatives_) {
            preserved.insert(preservedAlternatives_->completions().begin(),
                             preservedAlternatives_->completions().end());
        }
        // Alternatives picked from earlier lists stay shown, and stay picked.
        if (!preserved.empty()) {
            rows_.setList(rows_.list() ? rows_.list()->completionListByAddingCompletions(
                                             preserved, preservedAlternatives_.get())
                                       : preservedAlternatives_);
        }
        invalidateEnabledCompletions();
        reloadRows();
        if (!preserved.empty()) setSelectedCompletions(preserved, false, false);
    }
    if (isWindowShown()) updateWindowFrames();
}

// ---- Selection ----

ZELCompletionListWindowController::CompletionSet ZELCompletionListWindowController::selectedCompletions() const {
    CompletionSet completions;
    for (const QModelIndex& index : listView_->selectionModel()->selectedRows()) {
        if (auto completion = rows_.completionForRow(static_cast<uint64_t>(index.row()))) {
            completions.insert(*completion);
        }
    }
    return completions;
}

bool ZELCompletionListWindowController::hasSelectedCompletion() const {
    return !selectedCompletions().empty();
}

std::shared_ptr<ZELUserCriteria> ZELCompletionListWindowController::generateUserCriteria() const {
    std::vector<ZELString> terms;
    std::vector<ZELString> displays;
    QModelIndexList selected = listView_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : selected) {
        const auto row = static_cast<uint64_t>(index.row());
        if (auto completion = rows_.completionForRow(row)) {
            terms.push_back(*completion);
            displays.push_back(rows_.list()->displayStrings()[row]);
        }
    }
    if (preservedAlternatives_) {
        preservedAlternatives_->enumerateEntries(
            [&](const ZELString& completion, const ZELString& display, bool&) {
                if (std::find(terms.begin(), terms.end(), completion) != terms.end()) return;
                terms.push_back(completion);
                displays.push_back(display);
            });
    }
    if (terms.empty()) return nullptr;
    auto criteria = ZELUserCriteria::criteria();
    criteria->setSearchTerms(std::move(terms), std::move(displays));
    criteria->setIsNegate(isNegateInsertedRepObjs());
    return criteria;
}

bool ZELCompletionListWindowController::notifyCompletionsChanged(bool ignoreEmpty) {
    if (!field_) return false;
    auto criteria = generateUserCriteria();
    if (criteria) {
        field_->completionListWillInsertCriteria(*this, *criteria);
    } else if (ignoreEmpty) {
        return false;
    }
    hasPendingSelectionChanges_ = false;
    field_->completionListDidChangeRepresentedCriteria(criteria, field_->useDisjunctionBehavior());
    return true;
}

void ZELCompletionListWindowController::notifySelectedCompletionsChanged() {
    isNotifyOnFlagsChanged_ = false;
    notifyCompletionsChanged(false);
    if (autohideAfterSelection_) hideCompletionList();
}

bool ZELCompletionListWindowController::commitSelectionChanges() {
    if (!hasPendingSelectionChanges_) return false;
    const bool sent = notifyCompletionsChanged(true);
    if (!sent && hasPendingTransitoryCriteria_ && field_) {
        field_->completionListDidChangeTransitoryCriteria(nullptr);
    }
    hasPendingTransitoryCriteria_ = false;
    return sent;
}

uint64_t ZELCompletionListWindowController::setSelectedCompletions(const CompletionSet& completions,
                                                                   bool additive, bool updateField) {
    QItemSelection selection;
    uint64_t matched = 0;
    for (uint64_t row = 0; row < rows_.completionCount(); ++row) {
        const auto completion = rows_.completionForRow(row);
        if (!completion || !completions.count(*completion)) continue;
        const QModelIndex index = model_->index(static_cast<int>(row));
        selection.select(index, index);
        ++matched;
    }
    const bool suppressed = noInsertOnSelectionChange_;
    noInsertOnSelectionChange_ = !updateField;
    listView_->selectionModel()->select(
        selection, (additive ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                       QItemSelectionModel::Rows);
    noInsertOnSelectionChange_ = suppressed;
    return matched;
}

void ZELCompletionListWindowController::selectRow(int row, bool extend) {
    const bool suppressed = noInsertOnSelectionChange_;
    noInsertOnSelectionChange_ = true;
    const QModelIndex index = model_->index(row);
    listView_->selectionModel()->setCurrentIndex(
        index, (extend ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                   QItemSelectionModel::Rows);
    noInsertOnSelectionChange_ = suppressed;
    listView_->scrollTo(index);
}

void ZELCompletionListWindowController::selectPreviousCompletion(bool extend) {
    const QModelIndexList selected = listView_->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& index : selected) first = first < 0 ? index.row() : std::min(first, index.row());
    const int target = first - 1;
    if (first < 0 || target < 0 || !rows_.isRowSelectable(static_cast<uint64_t>(target))) return;
    selectRow(target, extend);
    hasPendingSelectionChanges_ = true;
    if (isJoinCompletionsAsAlternatives() && isAlternativesFromFlags_) isNotifyOnFlagsChanged_ = true;
}

void ZELCompletionListWindowController::selectNextCompletion(bool extend) {
    int last = -1;
    for (const QModelIndex& index : listView_->selectionModel()->selectedRows()) {
        last = std::max(last, index.row());
    }
    const int target = last + 1;
    if (static_cast<uint64_t>(target) >= rows_.rowCount() ||
        !rows_.isRowSelectable(static_cast<uint64_t>(target))) {
        return;
    }
    selectRow(target, extend);
    hasPendingSelectionChanges_ = true;
    if (isJoinCompletionsAsAlternatives() && isAlternativesFromFlags_) isNotifyOnFlagsChanged_ = true;
}

bool ZELCompletionListWindowController::selectCompletionWithDisplayPrefix(const ZELString& prefix,
                                                                         bool additive) {
    if (!rows_.list()) return false;
    const CompletionSet matching = rows_.list()->completionsWithDiplayStringPrefix(prefix);
    for (uint64_t row = 0; row < rows_.completionCount(); ++row) {
        const auto completion = rows_.completionForRow(row);
        if (completion && matching.count(*completion)) {
            selectRow(static_cast<int>(row), additive);
            hasPendingSelectionChanges_ = true;
            return true;
        }
    }
    return false;
}

void ZELCompletionListWindowController::clearSelection() {
    const bool suppressed = noInsertOnSelectionChange_;
    noInsertOnSelectionChange_ = true;
    listView_->selectionModel()->clear();
    noInsertOnSelectionChange_ = suppressed;
    hasPendingSelectionChanges_ = false;
}

void ZELCompletionListWindowController::scrollToFirstRow() {
    listView_->scrollToTop();
}

void ZELCompletionListWindowController::listSelectionDidChange() {
    if (noInsertOnSelectionChange_ || !field_) return;
    const QModelIndexList selected = listView_->selectionModel()->selectedRows();
    if (selected.size() == 1 && rows_.warningRow() == static_cast<uint64_t>(selected[0].row())) return;
    if (isJoinCompletionsAsAlternatives() && !field_->useDisjunctionBehavior()) {
        if (!isAlternativesFromFlags_) {
            preservedAlternatives_ = preservedWithCurrent(selectedCompletions());
            auto criteria = generateUserCriteria();
            if (criteria) field_->completionListWillInsertCriteria(*this, *criteria);
            field_->completionListDidChangeTransitoryCriteria(criteria);
            hasPendingTransitoryCriteria_ = criteria != nullptr;
        } else {
            isNotifyOnFlagsChanged_ = true;
        }
        hasPendingSelectionChanges_ = true;
        return;
    }
    notifySelectedCompletionsChanged();
}

std::shared_ptr<ZELCompletionList> ZELCompletionListWindowController::preservedWithCurrent(
    const CompletionSet& picked) const {
    // The picks of this list replace its earlier picks (so a pick can be undone); picks from
    // earlier lists that this one lacks are carried on.
    CompletionSet carried;
    if (preservedAlternatives_) {
        const auto& current = rows_.list() ? rows_.list()->completions() : std::vector<ZELString>{};
        for (const ZELString& completion : preservedAlternatives_->completions()) {
            if (std::find(current.begin(), current.end(), completion) == current.end()) {
                carried.insert(completion);
            }
        }
    }
    std::shared_ptr<ZELCompletionList> list;
    if (!picked.empty() && rows_.list()) list = rows_.list()->sublistWithCompletions(picked);
    if (!carried.empty()) {
        list = list ? list->completionListByAddingCompletions(carried, preservedAlternatives_.get())
                    : preservedAlternatives_->sublistWithCompletions(carried);
    }
    return list;
}

void ZELCompletionListWindowController::listRowPressed(const QModelIndex& index) {
    if (rows_.moreRow() == static_cast<uint64_t>(index.row())) loadMoreCompletions();
}

void ZELCompletionListWindowController::alternativeModeToggled(bool on) {
    setJoinCompletionsAsAlternatives(on);
    if (!on && !isAlternativesFromFlags_ && listView_->selectionModel()->hasSelection()) {
        notifySelectedCompletionsChanged();
    }
}

void ZELCompletionListWindowController::closeListButtonPressed() {
    if (field_) field_->completionListRequestsClose();
}

void ZELCompletionListWindowController::tokenFieldEventFlagsDidChange(Qt::KeyboardModifiers modifiers) {
    if (isJoinCompletionsAsAlternativesEnabled()) {
        const bool collecting = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
        if (!collecting && isAlternativesFromFlags_) {
            setJoinCompletionsAsAlternatives(false);
            isAlternativesFromFlags_ = false;
        } else if (collecting && !isJoinCompletionsAsAlternatives()) {
            setJoinCompletionsAsAlternatives(true);
            isAlternativesFromFlags_ = true;
        }
    }
    if (isNotifyOnFlagsChanged_) notifySelectedCompletionsChanged();
    const bool negate = modifiers & Qt::AltModifier;
    if (negate != isNegateKeyDown_) {
        isNegateKeyDown_ = negate;
        rows_.setNegated(isNegateInsertedRepObjs());
        model_->refresh();
    }
}

void ZELCompletionListWindowController::copyCompletionList() {
    if (field_) field_->copyCompletionList();
}

// ---- Loading more ----

bool ZELCompletionListWindowController::visibleRowsReachLastRow() const {
    if (rows_.rowCount() == 0) return false;
    const QRect last = listView_->visualRect(model_->index(static_cast<int>(rows_.rowCount() - 1)));
    return last.isValid() && last.top() < listView_->viewport()->height();
}

void ZELCompletionListWindowController::listDidScroll() {
    if (!rows_.moreRow() || changeLevel_ > 0 || isLoadMoreScheduled_ || rows_.isLoadingMore()) return;
    if (!visibleRowsReachLastRow()) return;
    // Never inside the scroll notification itself.
    isLoadMoreScheduled_ = true;
    QTimer::singleShot(0, this, [this] { loadMoreCompletions(); });
}

void ZELCompletionListWindowController::loadMoreCompletions() {
    isLoadMoreScheduled_ = false;
    if (!isWindowShown() || !field_ || !visibleRowsReachLastRow() || !rows_.moreRow()) return;
    rows_.setLoadingMore(true);
    model_->refresh();
    listView_->viewport()->repaint();
    field_->loadAdditionalCompletionsUpToCount(
        ZELCompletionRows::moreCompletionsRequestCount(rows_.completionCount(), pageSize));
}

// ---- Layout ----

void ZELCompletionListWindowController::reloadRows() {
    if (!isEnabledCompletionsValid_ && field_) {
        rows_.setEnabledCompletions(field_->completionListEnabledCompletions(*this));
        isEnabledCompletionsValid_ = true;
    }
    rows_.setNegated(isNegateInsertedRepObjs());
    const bool suppressed = noInsertOnSelectionChange_;
    noInsertOnSelectionChange_ = true;
    model_->reload();
    noInsertOnSelectionChange_ = suppressed;
}

void ZELCompletionListWindowController::updateWindowFrames() {
    if (!field_ || !popup_->isWindow()) return;  // a list inside a container is laid out there
    const QFontMetrics metrics(listView_->font());
    const int rowHeight = std::max(metrics.height() + 2, static_cast<int>(rows_.heightOfRows()));
    const QRect fieldRect(field_->mapToGlobal(QPoint(-1, 0)), QSize(field_->width() + 2, field_->height()));
    const int allowedWidth = static_cast<int>(widthRatio_ * fieldRect.width());

    // Width: the widest of the first rows, as the display strings grow.
    int widest = minimumWidth;
    int threshold = 10;
    for (uint64_t row = 0; row < rows_.rowCount() && row < 500 && widest < allowedWidth; ++row) {
        const QString text = qString(rows_.textForRow(row));
        if (text.size() < threshold && row < rows_.completionCount()) continue;
        threshold = static_cast<int>(text.size());
        widest = std::max(widest, metrics.horizontalAdvance(text) + 8);
    }
    const int width = std::min(
        widest + listView_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 5 + 2,
        std::max(allowedWidth, minimumWidth));
    const int listHeight = std::min(static_cast<int>(rows_.rowCount()) * rowHeight + 2, maximumHeight);
    const int height = listHeight + alternativesButton_->sizeHint().height() + 2;

    // Under the field, flipped above it when there is no room below, within the screen's
    // available area.
    int x = fieldRect.left() + static_cast<int>(positionRatio_ * fieldRect.width() + suggestedInset_);
    int y = fieldRect.bottom() + 1;
    int shownHeight = height;
    if (QScreen* screen = field_->screen()) {
        const QRect available = screen->availableGeometry();
        if (y + height > available.bottom() + 1) {
            const int roomAbove = fieldRect.top() - available.top();
            const int roomBelow = available.bottom() + 1 - y;
            if (roomAbove >= height) {
                y = fieldRect.top() - height;
            } else if (roomAbove > roomBelow) {
                shownHeight = roomAbove;
                y = available.top();
            } else {
                shownHeight = roomBelow;
            }
        }
        x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - width));
    }
    const QRect frame(x, y, width, shownHeight);
    if (popup_->geometry() != frame) popup_->setGeometry(frame);
}

bool ZELCompletionListWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != popup_) return false;
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            // The field keeps the caret: typing goes on there while the list is open.
            if (field_) QApplication::sendEvent(field_, event);
            return true;
        case QEvent::Hide:
            if (!isHiding_) {
                if (isJoinCompletionsAsAlternatives()) commitSelectionChanges();
                popupDidHide();
            }
            return false;
        default:
            return false;
    }
}
