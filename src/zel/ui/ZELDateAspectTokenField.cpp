#include "zel/ui/ZELDateAspectTokenField.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "zel/platform/ZELWorkerPool.h"
#include "zel/ui/ZELCompletionListWindowController.h"
#include "zel/ui/ZELTokenTextForms.h"
#include "zel/userquery/ZELDateUnitCompletionLists.h"
#include "zel/userquery/ZELEnabledCompletions.h"

ZELDateAspectTokenField::ZELDateAspectTokenField(QWidget* parent) : ZELAspectTokenField(parent) {
    for (size_t i = 0; i < dateUnits.size(); ++i) units_[i].code = dateUnits[i];
    setUseDisjunctionBehavior(true);
    setAlwaysShowCompletionListOnBecomeFirstResponder(true);
}

ZELDateAspectTokenField::~ZELDateAspectTokenField() {
    if (popup_) popup_->removeEventFilter(this);
}

void ZELDateAspectTokenField::setYearAspects(const AspectList& years, const AspectList& months,
                                             const AspectList& days, const AspectList& weekdays) {
    const AspectList* lists[] = {&years, &months, &days, &weekdays};
    const char16_t* labels[] = {u"Year", u"Month", u"Day", u"Weekday"};
    for (size_t i = 0; i < units_.size(); ++i) {
        units_[i].aspects = *lists[i];
        addAspectGroup(*lists[i], ZELString(labels[i]));
        units_[i].group = aspectGroups().back();
    }
}

const ZELDateAspectTokenField::Unit& ZELDateAspectTokenField::unitFor(uint32_t unit) const {
    for (const Unit& candidate : units_) {
        if (candidate.code == unit) return candidate;
    }
    return units_[0];
}

ZELDateAspectTokenField::Unit* ZELDateAspectTokenField::unitForList(
    const ZELCompletionListWindowController& list) {
    for (Unit& unit : units_) {
        if (unit.list == &list) return &unit;
    }
    return nullptr;
}

// ---- The pop-up ----

void ZELDateAspectTokenField::makePopup() {
    // One pop-up for the four lists: a window system cannot be relied on to show several
    // sibling pop-ups at once.
    popup_ = std::make_unique<QFrame>(nullptr, Qt::Popup);
    popup_->setFrameStyle(QFrame::Box | QFrame::Plain);
    popup_->setFocusPolicy(Qt::NoFocus);
    popup_->installEventFilter(this);
    auto* column = new QVBoxLayout(popup_.get());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    column->addLayout(row);
    for (size_t i = 0; i < units_.size(); ++i) {
        listControllers_[i] =
            std::make_unique<ZELCompletionListWindowController>(this, popup_.get());
        ZELCompletionListWindowController* list = listControllers_[i].get();
        list->setAutohideAfterSelection(false);
        list->setJoinCompletionsAsAlternatives(true);
        list->setJoinCompletionsAsAlternativesEnabled(false);
        list->alternativesButton()->hide();
        row->addWidget(list->popup(), widthTenths[i]);
        units_[i].list = list;
    }
    auto* close = new QPushButton(tr("Close"), popup_.get());
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QPushButton::clicked, this, [this] { hideCompletionList(); });
    column->addWidget(close, 0, Qt::AlignLeft);
}

void ZELDateAspectTokenField::showCompletionList() {
    if (!popup_) makePopup();
    if (!hasLists_ && !isBuildingLists_) buildListsInBackground();
    if (isCompletionListShown()) return;
    for (auto& list : listControllers_) list->showCompletionList();
    const QPoint origin = mapToGlobal(QPoint(-1, height()));
    popup_->setGeometry(origin.x(), origin.y(), width() + 2, popupHeight);
    popup_->show();
    selectStableCriteria();
}

void ZELDateAspectTokenField::hideCompletionList() {
    if (!popup_) return;
    for (auto& list : listControllers_) list->hideCompletionList();
    popup_->hide();
}

bool ZELDateAspectTokenField::isCompletionListShown() const {
    return popup_ && popup_->isVisible();
}

ZELCompletionListWindowController* ZELDateAspectTokenField::completionListWindowController() {
    if (!popup_) makePopup();
    return listControllers_[0].get();
}

void ZELDateAspectTokenField::forEachCompletionListWindowController(
    const std::function<void(ZELCompletionListWindowController&)>& body) {
    for (auto& list : listControllers_) {
        if (list) body(*list);
    }
}

bool ZELDateAspectTokenField::eventFilter(QObject* watched, QEvent* event) {
    if (watched != popup_.get()) return ZELAspectTokenField::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            // The field keeps the caret: typing goes on there while the lists are open.
            QApplication::sendEvent(this, event);
            return true;
        default:
            return false;
    }
}

// ---- The lists ----

void ZELDateAspectTokenField::buildListsInBackground() {
    isBuildingLists_ = true;
    const uint64_t generation = listGeneration_;
    std::array<AspectList, 4> aspects;
    for (size_t i = 0; i < units_.size(); ++i) aspects[i] = units_[i].aspects;
    QPointer<ZELDateAspectTokenField> guard(this);
    ZELWorkerPool::global().async([guard, aspects, generation] {
        Lists lists;
        for (size_t i = 0; i < dateUnits.size(); ++i) {
            lists[i] = ZELDateUnitCompletionLists::listOfNamedValues(dateUnits[i]);
            if (!lists[i]) lists[i] = ZELDateUnitCompletionLists::listOfValuesInAspects(aspects[i]);
        }
        QMetaObject::invokeMethod(
            qApp,
            [guard, lists, generation] {
                if (guard) guard->applyLists(lists, generation);
            },
            Qt::QueuedConnection);
    });
}

void ZELDateAspectTokenField::applyLists(const Lists& lists, uint64_t generation) {
    isBuildingLists_ = false;
    if (generation != listGeneration_) {
        // The database changed meanwhile: these lists are stale.
        if (isCompletionListShown()) buildListsInBackground();
        return;
    }
    hasLists_ = true;
    for (size_t i = 0; i < units_.size(); ++i) units_[i].list->setCompletionList(lists[i]);
    if (isCompletionListShown()) selectStableCriteria();
}

void ZELDateAspectTokenField::databaseDidChange() {
    ++listGeneration_;
    hasLists_ = false;
    if (isCompletionListShown() && !isBuildingLists_) buildListsInBackground();
    ZELAspectTokenField::databaseDidChange();
}

void ZELDateAspectTokenField::selectStableCriteria() {
    for (const Unit& unit : units_) {
        ZELCompletionList::CompletionSet terms;
        for (const auto& criteria : stableTokenRepresentedObjects()) {
            const auto& chosen = criteria->chosenAspectGroups();
            if (std::find(chosen.begin(), chosen.end(), unit.group) == chosen.end()) continue;
            terms.insert(criteria->searchTerms().begin(), criteria->searchTerms().end());
        }
        unit.list->setSelectedCompletions(terms, false, false);
    }
}

uint64_t ZELDateAspectTokenField::selectValues(const ZELCompletionList::CompletionSet& values,
                                               uint32_t unit) {
    completionListWindowController();
    return unitFor(unit).list->setSelectedCompletions(values, true, true);
}

std::optional<ZELCompletionList::CompletionSet>
ZELDateAspectTokenField::completionListEnabledCompletions(ZELCompletionListWindowController& list) {
    const Unit* unit = unitForList(list);
    const auto& shown = list.completionList();
    if (!unit || !shown) return std::nullopt;
    // The named lists hold every value of the calendar, whether items carry it or not.
    return ZELEnabledCompletions::enabledCompletions(
        {shown->completions().begin(), shown->completions().end()}, unit->aspects, activeQuery(),
        activeItemResultSet(), shown->isListStatic());
}

void ZELDateAspectTokenField::completionListWillInsertCriteria(
    ZELCompletionListWindowController& list, ZELUserCriteria& criteria) {
    if (const Unit* unit = unitForList(list)) criteria.setAspectGroups({unit->group});
}

void ZELDateAspectTokenField::copyCompletionList() {
    std::vector<std::vector<ZELString>> columns;
    for (const Unit& unit : units_) {
        columns.emplace_back();
        const ZELCompletionRows& rows = unit.list->rows();
        for (uint64_t row = 0; row < rows.completionCount(); ++row) {
            if (rows.isRowSelectable(row))
                columns.back().push_back(rows.list()->displayStrings()[row]);
        }
    }
    const ZELString text = ZELTokenTextForms::selectorTableText(columns);
    QApplication::clipboard()->setText(
        QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
}

// ---- Typing ----

void ZELDateAspectTokenField::updateCompletionListWithMaximumCount(uint64_t,
                                                                   bool allowInsertOnTerminal) {
    const ZELCompletionPrefix prefix = completionPrefix();
    if (allowInsertOnTerminal && prefix.endsWithTerminal()) {
        commitStaticCompletion(prefix.cleanPrefix(), prefix.isNegated);
    }
}

bool ZELDateAspectTokenField::commitSelectedOrFirstCompletion() {
    const ZELCompletionPrefix prefix = completionPrefix();
    // Without typed text, rows picked with Up and Down in the year list are sent.
    if (prefix.prefix.empty())
        return isCompletionListShown() &&
               completionListWindowController()->commitSelectionChanges();
    return commitStaticCompletion(prefix.endsWithTerminal() ? prefix.cleanPrefix() : prefix.prefix,
                                  prefix.isNegated);
}

bool ZELDateAspectTokenField::commitStaticCompletion(const ZELString& cleanPrefix, bool negated) {
    completionListWindowController();
    for (auto& list : listControllers_) list->setNegateCompletions(negated);
    for (auto& list : listControllers_) {
        if (list->selectCompletionWithDisplayPrefix(cleanPrefix, true))
            return list->commitSelectionChanges();
    }
    abortUnfinishedTextCompletion();
    return false;
}
