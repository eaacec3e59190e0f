// The search field's completion: collecting in the background, showing the list, and turning
// the picked or first completion into a token.

#include <QApplication>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>

#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELCompletionList_Array.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELCompletionListWindowController.h"
#include "zel/userquery/ZELTokenCriteriaMaker.h"

namespace {

QString qString(const ZELString& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::shared_ptr<ZELCompletionList> ZELAspectTokenField::completionListForUserInputPrefix(
    const ZELString& input, uint64_t limit, bool* outReachedLimit, AspectList* outAspects) {
    auto narrowed = narrowing_.narrow(input, aspects_);
    if (outAspects) *outAspects = narrowed.aspects;
    return ZELCompletionList_Array::listWithCompletions(
        ZELCompletionCollector::completionsForMatchingPrefix(
            &narrowed.input, narrowed.aspects, activeItemResultSet(), limit, outReachedLimit));
}

std::vector<ZELString> ZELAspectTokenField::completionsForInput(const ZELString& input, uint64_t limit,
                                                                bool* outReachedLimit,
                                                                AspectList* outAspects) {
    return completionListForUserInputPrefix(input, limit, outReachedLimit, outAspects)
        ->completions();
}

void ZELAspectTokenField::updateCompletionListWithMaximumCount(uint64_t maximumCount,
                                                               bool allowInsertOnTerminal) {
    ZELCompletionListWindowController* list = completionListWindowController();
    const ZELCompletionPrefix prefix = completionPrefix();
    list->willChangeCompletionDisplayProperties();
    list->setNegateCompletions(prefix.isNegated);
    QTextCursor start(document());
    start.setPosition(static_cast<int>(prefix.rangeStart));
    list->setWindowPositionSuggestedInset(cursorRect(start).left());

    // A typed space ends the term: the first completion becomes a token, unless some
    // completion goes on with the space itself.
    if (allowInsertOnTerminal && prefix.endsWithTerminal()) {
        cancelBackgroundCollection();
        if (completionsForInput(prefix.prefix, 1, nullptr, nullptr).empty() &&
            insertFirstCompletionForPrefix(prefix.cleanPrefix())) {
            list->didChangeCompletionDisplayProperties(false);
            return;
        }
    }
    bool started = false;
    if (prefix.prefix != lastPrefix_ || lastPrefixLimit_ < maximumCount || !list->completionList()) {
        updateCompletionListInBackground(prefix.prefix, maximumCount, true);
        started = true;
    }
    const bool prefixChanged = started && prefix.prefix != ZELString();
    list->didChangeCompletionDisplayProperties(started);
    if (prefixChanged) list->scrollToFirstRow();
}

void ZELAspectTokenField::updateCompletionListInBackground(const ZELString& prefix, uint64_t limit,
                                                           bool showStatus) {
    cancelBackgroundCollection();
    auto narrowed = narrowing_.narrow(prefix, aspects_);
    auto collector = ZELCompletionCollector::collector();
    collector->setLimitCount(limit);
    collector->setLimitItemResultSet(activeItemResultSet());
    collector->setLimitCompletionPrefix(narrowed.input);
    collector_ = collector;
    lastPrefix_ = prefix;
    lastPrefixLimit_ = limit;
    // The answer arrives on the collector's queue; it hops to the GUI thread, where it is
    // applied only while the field exists and the collection is still the current one.
    QPointer<ZELAspectTokenField> guard(this);
    collector->loadCompletionsInBackgroundForAspects(
        narrowed.aspects, [guard](const std::shared_ptr<ZELCompletionCollector>& done) {
            QMetaObject::invokeMethod(
                qApp,
                [guard, done, completions = done->completionCanonicalStrings(),
                 more = done->limitSurpassed()]() mutable {
                    if (guard) guard->backgroundCollectionDidFinish(done, std::move(completions), more);
                },
                Qt::QueuedConnection);
        });
    if (showStatus) {
        std::weak_ptr<ZELCompletionCollector> weak = collector;
        QTimer::singleShot(loadingStatusDelayMilliseconds, this, [this, weak] {
            const auto running = weak.lock();
            if (!running || running != collector_ || !running->isLoadingInBackground()) return;
            ZELCompletionListWindowController* list = completionListWindowController();
            list->willChangeCompletionDisplayProperties();
            list->setCompletionList(nullptr);
            list->setMoreCompletionsAvailable(false);
            list->setWarningMessage(u"[Loading Completions...]", Qt::gray);
            list->didChangeCompletionDisplayProperties(true);
        });
    }
}

void ZELAspectTokenField::cancelBackgroundCollection() {
    if (!collector_) return;
    collector_->cancelLoadCompletionsInBackground();
    collector_.reset();
}

bool ZELAspectTokenField::isCollectingInBackground() const {
    return collector_ && collector_->isLoadingInBackground();
}

void ZELAspectTokenField::backgroundCollectionDidFinish(
    const std::shared_ptr<ZELCompletionCollector>& collector, std::vector<ZELString> completions,
    bool more) {
    if (collector != collector_) return;  // a newer collection replaced it
    collector_.reset();
    setDisplayedCompletionList(ZELCompletionList_Array::listWithCompletions(std::move(completions)),
                               more, lastPrefix_);
}

void ZELAspectTokenField::setDisplayedCompletionList(std::shared_ptr<ZELCompletionList> list,
                                                     bool more, const ZELString& prefix) {
    ZELCompletionListWindowController* window = completionListWindowController();
    window->willChangeCompletionDisplayProperties();
    const bool empty = list->count() == 0;
    window->setCompletionList(std::move(list));
    window->setMoreCompletionsAvailable(more);
    if (empty && !prefix.empty()) {
        window->setWarningMessage(
            ZELStringFromUTF8(QObject::tr("%1 has no matches").arg(qString(prefix)).toStdString()),
            Qt::red);
    } else {
        window->setWarningMessage({});
    }
    window->didChangeCompletionDisplayProperties(true);
}

void ZELAspectTokenField::loadAdditionalCompletionsUpToCount(uint64_t count) {
    updateCompletionListInBackground(lastPrefix_, count, false);
}

std::optional<ZELCompletionList::CompletionSet>
ZELAspectTokenField::completionListEnabledCompletions(ZELCompletionListWindowController&) {
    return std::nullopt;
}

void ZELAspectTokenField::completionListWillInsertCriteria(ZELCompletionListWindowController&,
                                                           ZELUserCriteria& criteria) {
    const auto narrowed = narrowing_.narrow(completionPrefix().prefix, aspects_);
    ZELTokenCriteriaMaker::prepareCriteria(criteria, narrowed.aspects, groups_);
}

bool ZELAspectTokenField::insertFirstCompletionForPrefix(const ZELString& prefix) {
    AspectList aspects;
    const auto list = completionListForUserInputPrefix(prefix, 1, nullptr, &aspects);
    if (list->count() == 0) return false;
    auto criteria = ZELTokenCriteriaMaker::criteriaForCompletions(
        {list->completions().front()}, std::vector<ZELString>{list->displayStrings().front()},
        aspects, groups_);
    criteria->setIsNegate(completionListWindowController()->isNegateInsertedRepObjs());
    completionListDidChangeRepresentedCriteria(criteria, false);
    return true;
}

void ZELAspectTokenField::completionListDidChangeRepresentedCriteria(
    std::shared_ptr<ZELUserCriteria> criteria, bool clearExisting) {
    // Under disjunction behaviour a pick replaces the criteria of its groups.
    const auto sharesGroup = [&](const ZELUserCriteria& existing) {
        const auto& chosen = criteria->chosenAspectGroups();
        return std::any_of(existing.chosenAspectGroups().begin(), existing.chosenAspectGroups().end(),
                           [&](const auto& group) {
                               return std::find(chosen.begin(), chosen.end(), group) != chosen.end();
                           });
    };
    std::vector<Object> objects;
    for (Object& object : tokenRepresentedObjects(false)) {
        const auto& existing = std::get<std::shared_ptr<ZELUserCriteria>>(object);
        if (clearExisting && criteria && sharesGroup(*existing)) continue;
        objects.push_back(std::move(object));
    }
    if (criteria) objects.emplace_back(std::in_place_index<0>, std::move(criteria));
    setTokenRepresentedObjects(objects, nullptr);
    showOnTyping_ = true;
}

void ZELAspectTokenField::completionListDidChangeTransitoryCriteria(
    std::shared_ptr<ZELUserCriteria> criteria) {
    setTokenRepresentedObjects(tokenRepresentedObjects(true), criteria);
}

bool ZELAspectTokenField::commitCompletion() {
    const ZELCompletionPrefix prefix = completionPrefix();
    ZELCompletionListWindowController* list = completionListWindowController();
    list->setNegateCompletions(prefix.isNegated);
    if (prefix.prefix.empty()) {
        if (!isCompletionListShown() || !list->hasSelectedCompletion()) return false;
    }
    if (list->commitSelectionChanges()) {
        hideCompletionList();
        return true;
    }
    abortUnfinishedTextCompletion();
    return false;
}

bool ZELAspectTokenField::commitSelectedOrFirstCompletion() {
    const ZELCompletionPrefix prefix = completionPrefix();
    ZELCompletionListWindowController* list = completionListWindowController();
    if (isCompletionListShown()) {
        if (collector_) {
            // The background collection holds the database lock: stop it before collecting
            // the first completion here, rather than wait on the GUI thread for it to end.
            cancelBackgroundCollection();
            list->setNegateCompletions(prefix.isNegated);
            const bool inserted = insertFirstCompletionForPrefix(prefix.cleanPrefix());
            if (inserted) hideCompletionList();
            return inserted;
        }
        if (!list->hasSelectedCompletion() && !prefix.prefix.empty()) {
            list->setNegateCompletions(prefix.isNegated);
            list->selectNextCompletion(false);
        }
    }
    return commitCompletion();
}

void ZELAspectTokenField::abortUnfinishedTextCompletion() {
    const ZELCompletionPrefix prefix = completionPrefix();
    if (prefix.prefix.empty()) return;
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(prefix.rangeStart));
    cursor.setPosition(static_cast<int>(prefix.rangeStart + prefix.rangeLength), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}
